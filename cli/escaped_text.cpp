#include "cli/escaped_text.h"

namespace tarvelin {

namespace {

// The length of the valid UTF-8 character at the front of `text` (RFC 3629: no overlong forms,
// no surrogates, nothing above U+10FFFF), and its code point; 0 when there is none.
std::size_t CharacterAt(std::string_view text, char32_t &point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    // The lead byte tells the length and carries the top bits; each length has a least code point.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4 || text.size() < length) return 0;
    point = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        point = (point << 6) | (byte(i) & 0x3F);
    }
    if (point < kLeast[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

bool Escaped(char32_t point) {
    return point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 || point == 0x2029 || point == '%';
}

void AppendHex(std::string &out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

}  // namespace

std::string EscapedText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t point = 0;
        std::size_t length = CharacterAt(text, point);
        const bool escaped = length == 0 || Escaped(point);
        if (length == 0) length = 1;
        for (std::size_t i = 0; i < length; ++i) {
            if (escaped) {
                AppendHex(out, static_cast<unsigned char>(text[i]));
            } else {
                out += text[i];
            }
        }
        text.remove_prefix(length);
    }
    return out;
}

}  // namespace tarvelin
