#include "conversion/header/encoded_words.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

struct EncodedWord {
    std::size_t begin = 0;  // at "=?"
    std::size_t end = 0;    // just past "?="
    std::string_view charset;
    std::string bytes;      // the payload, decoded
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string DecodeQ(std::string_view payload) {
    std::string bytes;
    bytes.reserve(payload.size());
    for (std::size_t i = 0; i < payload.size(); ++i) {
        const char c = payload[i];
        if (c == '_') {
            bytes += ' ';
        } else if (c == '=' && i + 2 < payload.size() && HexValue(payload[i + 1]) >= 0 &&
                   HexValue(payload[i + 2]) >= 0) {
            bytes += static_cast<char>(HexValue(payload[i + 1]) * 16 + HexValue(payload[i + 2]));
            i += 2;
        } else {
            bytes += c;  // a stray "=" stays, as lenient decoders keep it
        }
    }
    return bytes;
}

// Lenient: characters outside the alphabet are passed over, and "=" ends a quantum, so that a
// word padded in the middle still gives all its bytes.
std::string DecodeB(std::string_view payload) {
    std::string bytes;
    bytes.reserve(payload.size() * 3 / 4);
    unsigned bits = 0;
    int count = 0;
    for (const char c : payload) {
        if (c == '=') {
            bits = 0;
            count = 0;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0) continue;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xff);
        }
    }
    return bytes;
}

std::string EncodeB(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3f] : '=';
    }
    return text;
}

// The encoded word "=?charset?B|Q?payload?=" that starts at `at`, if one does.
std::optional<EncodedWord> WordAt(std::string_view text, std::size_t at) {
    if (text.compare(at, 2, "=?") != 0) return std::nullopt;
    const std::size_t charsetBegin = at + 2;
    std::size_t i = charsetBegin;
    while (i < text.size() && text[i] != '?' && !IsBlank(text[i])) ++i;
    if (i == charsetBegin || i + 2 >= text.size() || text[i] != '?' || text[i + 2] != '?')
        return std::nullopt;
    const char encoding = text[i + 1];
    const bool isB = encoding == 'B' || encoding == 'b';
    if (!isB && encoding != 'Q' && encoding != 'q') return std::nullopt;
    const std::size_t payloadBegin = i + 3;
    std::size_t j = payloadBegin;
    while (j < text.size() && text[j] != '?' && !IsBlank(text[j])) ++j;
    if (j + 1 >= text.size() || text[j] != '?' || text[j + 1] != '=') return std::nullopt;

    const std::string_view payload = text.substr(payloadBegin, j - payloadBegin);
    return EncodedWord{at, j + 2, text.substr(charsetBegin, i - charsetBegin),
                       isB ? DecodeB(payload) : DecodeQ(payload)};
}

std::vector<EncodedWord> EncodedWordsIn(std::string_view text) {
    std::vector<EncodedWord> words;
    for (std::size_t at = text.find("=?"); at != std::string_view::npos; at = text.find("=?", at)) {
        if (auto word = WordAt(text, at)) {
            at = word->end;
            words.push_back(std::move(*word));
        } else {
            ++at;
        }
    }
    return words;
}

bool OnlyBlanks(std::string_view text) {
    for (const char c : text)
        if (!IsBlank(c)) return false;
    return true;
}

}  // namespace

std::string JoinAdjacentEncodedWords(std::string_view text) {
    const std::vector<EncodedWord> words = EncodedWordsIn(text);
    std::string result;
    std::size_t copied = 0;  // text before this offset is in `result` already
    for (std::size_t first = 0; first < words.size();) {
        std::size_t last = first;
        std::string joined = words[first].bytes;
        while (last + 1 < words.size() && EqualsIgnoringAsciiCase(words[last + 1].charset, words[first].charset) &&
               OnlyBlanks(text.substr(words[last].end, words[last + 1].begin - words[last].end))) {
            ++last;
            joined += words[last].bytes;
        }
        if (last > first) {
            result.append(text.substr(copied, words[first].begin - copied));
            result += "=?";
            result += words[first].charset;
            result += "?B?";
            result += EncodeB(joined);
            result += "?=";
            copied = words[last].end;
        }
        first = last + 1;
    }
    if (copied == 0) return std::string(text);
    result.append(text.substr(copied));
    return result;
}

}  // namespace tarvelin
