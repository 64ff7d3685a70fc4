#include "conversion/naming/utf16_text.h"

namespace tarvelin {

namespace {

// One character as it is read from the text: its length in bytes and in UTF-16 units.
struct CharSpan {
    std::size_t bytes;
    std::size_t units;
};

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the character at pos strictly (no overlong forms, no encoded surrogates, nothing past
// U+10FFFF). A byte that does not start a well-formed sequence is a character of its own.
CharSpan CharAt(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const std::size_t left = text.size() - pos;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    constexpr CharSpan kSingle{1, 1};

    if (lead < 0x80) return kSingle;
    if (lead >= 0xC2 && lead <= 0xDF) {
        return left >= 2 && IsContinuation(at(1)) ? CharSpan{2, 1} : kSingle;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !IsContinuation(at(1)) || !IsContinuation(at(2))) return kSingle;
        if (lead == 0xE0 && at(1) < 0xA0) return kSingle;   // overlong
        if (lead == 0xED && at(1) >= 0xA0) return kSingle;  // surrogate code point
        return {3, 1};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !IsContinuation(at(1)) || !IsContinuation(at(2)) || !IsContinuation(at(3)))
            return kSingle;
        if (lead == 0xF0 && at(1) < 0x90) return kSingle;   // overlong
        if (lead == 0xF4 && at(1) >= 0x90) return kSingle;  // past U+10FFFF
        return {4, 2};
    }
    return kSingle;
}

}  // namespace

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const CharSpan c = CharAt(text, pos);
        pos += c.bytes;
        units += c.units;
    }
    return units;
}

std::string_view Utf16Prefix(std::string_view text, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const CharSpan c = CharAt(text, pos);
        if (units + c.units > maxUnits) break;
        units += c.units;
        pos += c.bytes;
    }
    return text.substr(0, pos);
}

std::string_view Utf16Suffix(std::string_view text, std::size_t units) {
    const std::size_t total = Utf16Length(text);
    if (total <= units) return text;
    const std::size_t toSkip = total - units;
    std::size_t skipped = 0;
    std::size_t pos = 0;
    while (skipped < toSkip) {
        const CharSpan c = CharAt(text, pos);
        if (skipped + c.units > toSkip) break;  // straddles the start: taken whole
        skipped += c.units;
        pos += c.bytes;
    }
    return text.substr(pos);
}

std::string_view Utf8PrefixBytes(std::string_view text, std::size_t maxBytes) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const CharSpan c = CharAt(text, pos);
        if (pos + c.bytes > maxBytes) break;
        pos += c.bytes;
    }
    return text.substr(0, pos);
}

}  // namespace tarvelin
