#include "conversion/mailbox/imap_utf7.h"

#include <cstdint>
#include <vector>

namespace tarvelin {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

// The code point starting at `i`, advancing `i` past it.
char32_t NextCodePoint(std::string_view text, std::size_t &i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length > 1 && i + length <= text.size()) {
        char32_t value = lead & (0x7F >> length);
        bool valid = true;
        for (std::size_t k = 1; k < length && valid; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            value = (value << 6) | (next & 0x3F);
        }
        constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && value >= kSmallest[length] && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
            i += length;
            return value;
        }
    }
    ++i;
    return lead;
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
