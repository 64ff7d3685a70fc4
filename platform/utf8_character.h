// One UTF-8 character at a time, strictly (RFC 3629: no overlong forms, no surrogates, nothing
// above U+10FFFF), for the writers that must tell valid text from other bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarvelin {

// The length of the valid UTF-8 character at the front of `text`, and its code point; 0 when
// there is none.
constexpr std::size_t Utf8CharacterAt(std::string_view text, char32_t &point) {
    if (text.empty()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    // The lead byte tells the length and carries the top bits; each length has a least code point.
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (lead < 0xC2 || lead > 0xF4 || text.size() < length) return 0;
    char32_t value = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    point = value;
    return length;
}

}  // namespace tarvelin
