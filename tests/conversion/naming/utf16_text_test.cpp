#include "conversion/naming/utf16_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvelin {
namespace {

const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two units
const std::string kZhong = "\xE4\xB8\xAD";      // U+4E2D, one unit, three bytes
const std::string kWen = "\xE6\x96\x87";        // U+6587

TEST(Utf16Text, LengthCountsUnitsAndEachInvalidByteAsOne) {
    const struct {
        const char *label;
        std::string text;
        std::size_t units;
    } cases[] = {
        {"empty", "", 0},
        {"ascii", "abc", 3},
        {"two-byte", "\xC3\xA9", 1},
        {"cjk", kZhong + kWen, 2},
        {"outside the BMP", kEmoji, 2},
        {"stray byte", "\xFF", 1},
        {"lone continuation", "a\x80" "b", 3},
        {"truncated three-byte sequence", "\xE4\xB8", 2},
        {"overlong NUL", "\xC0\x80", 2},
        {"encoded surrogate", "\xED\xA0\x80", 3},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf16Length(c.text), c.units);
    }
}

TEST(Utf16Text, PrefixNeverSplitsACharacter) {
    const struct {
        const char *label;
        std::string text;
        std::size_t maxUnits;
        std::string expected;
    } cases[] = {
        {"ascii cut", "abc", 2, "ab"},
        {"shorter than the limit", "abc", 5, "abc"},
        {"zero", "abc", 0, ""},
        {"pair straddling the cut is dropped", "a" + kEmoji + "b", 2, "a"},
        {"pair ending on the cut is kept", "a" + kEmoji + "b", 3, "a" + kEmoji},
        {"cjk", kZhong + kWen + kZhong, 2, kZhong + kWen},
        {"invalid bytes kept", "\xFF\xFE" "ab", 3, "\xFF\xFE" "a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf16Prefix(c.text, c.maxUnits), c.expected);
    }
}

TEST(Utf16Text, SuffixTakesAStraddlingPairWhole) {
    const struct {
        const char *label;
        std::string text;
        std::size_t units;
        std::string expected;
    } cases[] = {
        {"extension", "C:\\Mail\\a.msg", 4, ".msg"},
        {"shorter than asked", "ab", 4, "ab"},
        {"empty", "", 4, ""},
        {"pair at the start of the cut", "x" + kEmoji + "abc", 4, kEmoji + "abc"},
        {"pair straddling the cut", kEmoji + "abc", 4, kEmoji + "abc"},
        {"cjk", "a." + kZhong + kWen + kZhong, 4, "." + kZhong + kWen + kZhong},
        {"invalid bytes", "ab\xFF\xFE", 2, "\xFF\xFE"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf16Suffix(c.text, c.units), c.expected);
    }
}

TEST(Utf16Text, BytePrefixEndsOnACharacterBoundary) {
    const struct {
        const char *label;
        std::string text;
        std::size_t maxBytes;
        std::string expected;
    } cases[] = {
        {"inside the second cjk char", kZhong + kWen, 5, kZhong},
        {"exact fit", kZhong + kWen, 6, kZhong + kWen},
        {"inside the first char", kZhong + kWen, 2, ""},
        {"inside a pair", "a" + kEmoji, 4, "a"},
        {"invalid bytes are single characters", "a\xFF\xFE", 2, "a\xFF"},
        {"truncated sequence is bytes", "\xE4\xB8", 1, "\xE4"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Utf8PrefixBytes(c.text, c.maxBytes), c.expected);
    }
}

}  // namespace
}  // namespace tarvelin
