// Paths and reasons as the command line writes them on stderr and into the index: one line of
// valid UTF-8, from which the exact bytes can be told again.
#pragma once

#include <string>
#include <string_view>

namespace tarvelin {

// Each byte that is no part of a valid UTF-8 character, each byte of a control character (U+0000
// to U+001F, U+007F to U+009F) or of a line or paragraph separator (U+2028, U+2029), and "%"
// itself become "%" and two upper-case hex digits, as in a URL; everything else is kept. So "a\nb"
// reads "a%0Ab", a lone byte 0xFF "%FF" and "50%" "50%25", and percent-decoding the text gives
// back the bytes.
std::string EscapedText(std::string_view text);

}  // namespace tarvelin
