#include "cli/escaped_text.h"

#include "platform/utf8_character.h"

namespace tarvelin {

namespace {

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
        std::size_t length = Utf8CharacterAt(text, point);
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
