#include "conversion/mailbox/imap_utf7.h"

#include <cstdint>
#include <vector>

#include "platform/utf8_character.h"

namespace tarvelin {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The code point starting at `i`, advancing `i` past it; a byte that starts no valid character
// stands for itself.
char32_t NextCodePoint(std::string_view text, std::size_t &i) {
    char32_t point = 0;
    const std::size_t length = Utf8CharacterAt(text.substr(i), point);
    if (length == 0) point = static_cast<unsigned char>(text[i]);
    i += length == 0 ? 1 : length;
    return point;
}

void AppendShifted(std::string &out, const std::vector<std::uint16_t> &units) {
    out += '&';
    std::uint32_t bits = 0;
    int count = 0;
    for (const std::uint16_t unit : units) {
        bits = (bits << 16) | unit;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kBase64[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) out += kBase64[(bits << (6 - count)) & 0x3F];
    out += '-';
}

}  // namespace

std::string ImapUtf7FromUtf8(std::string_view text) {
    std::string out;
    std::vector<std::uint16_t> shifted;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = NextCodePoint(text, i);
        if (c >= 0x20 && c <= 0x7E) {
            if (!shifted.empty()) {
                AppendShifted(out, shifted);
                shifted.clear();
            }
            out += c == U'&' ? std::string("&-") : std::string(1, static_cast<char>(c));
        } else if (c >= 0x10000) {
            shifted.push_back(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
            shifted.push_back(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            shifted.push_back(static_cast<std::uint16_t>(c));
        }
    }
    if (!shifted.empty()) AppendShifted(out, shifted);
    return out;
}

}  // namespace tarvelin
