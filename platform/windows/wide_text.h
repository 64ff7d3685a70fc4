// The one place where the core's UTF-8 meets Windows' UTF-16: text, and paths in the form the
// wide calls take them.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// Invalid sequences become U+FFFD, as Windows' own converter does.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

// The path as a wide call takes it. A drive or UNC path gets the \\?\ form, with "/" made "\" and
// "." and ".." resolved here; a relative one is first made absolute. The form is used for every
// path, not only long ones: it lifts the 260-character limit, and Windows then takes each name
// exactly as given instead of dropping trailing dots and spaces, so "a." and "a" stay two folders
// and a source is never read from, or a copy written to, a neighbour's name.
std::wstring Win32Path(std::string_view utf8Path);

// A path from Win32Path in the form the user knows, for messages: UTF-8, without the \\?\ that
// only the system needs (\\?\UNC\srv\x is \\srv\x).
std::string Utf8FromWin32Path(std::wstring_view win32Path);

}  // namespace tarvelin
