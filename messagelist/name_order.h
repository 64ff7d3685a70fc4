// The order in which NTFS keeps the names of a folder, so that a tree is listed alike on every
// system and on every rerun, whatever order the file system hands out.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// The upper case NTFS compares a UTF-16 code unit by: the $UpCase table of a new volume.
char16_t NtfsUpperCase(char16_t unit);

// Names compared as NTFS does: as UTF-16 code units, each upper-cased, then as numbers. Names that
// compare equal so (possible on Linux only: "a" and "A") fall back to their bytes, so the order is
// total. Bytes that are not UTF-8 count as the lone code units U+DC80 to U+DCFF.
bool NtfsNameLess(std::string_view a, std::string_view b);

// The text as UTF-16 code units, each upper-cased as above: two names NTFS takes for one give
// the same result.
std::u16string NtfsUpperCased(std::string_view text);

}  // namespace tarvelin
