// Lengths and cuts of UTF-8 text counted in UTF-16 code units, the unit in which names are
// measured. Bytes that are not valid UTF-8 count as one unit each and are kept as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvelin {

std::size_t Utf16Length(std::string_view text);

// The longest prefix of at most maxUnits UTF-16 units that does not split a character (a
// character outside the BMP that would straddle the cut is dropped whole).
std::string_view Utf16Prefix(std::string_view text, std::size_t maxUnits);

// The last `units` UTF-16 units, or the whole text when it is shorter. A character of two units
// that straddles the start is taken whole.
std::string_view Utf16Suffix(std::string_view text, std::size_t units);

// The longest prefix of at most maxBytes bytes that ends on a character boundary.
std::string_view Utf8PrefixBytes(std::string_view text, std::size_t maxBytes);

}  // namespace tarvelin
