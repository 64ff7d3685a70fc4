#include "messagelist/name_order.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace tarvelin {

namespace {

// Runs of code units whose upper case lies the same distance away; step 2 for the alternating
// lower and upper case pairs. Printed by scripts/upcase-table. It holds the pairs of Unicode's
// simple upper-case mapping that map both ways, as of Unicode 5 (not µ, ı, ſ, ς or titlecase
// letters): Windows writes this table on its NTFS volumes, so letters paired since compare as
// they are.
struct UpperCaseRun {
    char16_t first;
    char16_t last;
    std::uint8_t step;
    std::int32_t offset;
};

constexpr UpperCaseRun kUpperCaseRuns[] = {
    {0x0061, 0x007A, 1, -32},
    {0x00E0, 0x00F6, 1, -32},
    {0x00F8, 0x00FE, 1, -32},
    {0x00FF, 0x00FF, 1, 121},
    {0x0101, 0x012F, 2, -1},
    {0x0133, 0x0137, 2, -1},
    {0x013A, 0x0148, 2, -1},
    {0x014B, 0x0177, 2, -1},
    {0x017A, 0x017E, 2, -1},
    {0x0180, 0x0180, 1, 195},
    {0x0183, 0x0185, 2, -1},
    {0x0188, 0x0188, 1, -1},
    {0x018C, 0x018C, 1, -1},
    {0x0192, 0x0192, 1, -1},
    {0x0195, 0x0195, 1, 97},
    {0x0199, 0x0199, 1, -1},
    {0x019A, 0x019A, 1, 163},
    {0x019E, 0x019E, 1, 130},
    {0x01A1, 0x01A5, 2, -1},
    {0x01A8, 0x01A8, 1, -1},
    {0x01AD, 0x01AD, 1, -1},
    {0x01B0, 0x01B0, 1, -1},
    {0x01B4, 0x01B6, 2, -1},
    {0x01B9, 0x01B9, 1, -1},
    {0x01BD, 0x01BD, 1, -1},
    {0x01BF, 0x01BF, 1, 56},
    {0x01C6, 0x01C6, 1, -2},
    {0x01C9, 0x01C9, 1, -2},
    {0x01CC, 0x01CC, 1, -2},
    {0x01CE, 0x01DC, 2, -1},
    {0x01DD, 0x01DD, 1, -79},
    {0x01DF, 0x01EF, 2, -1},
    {0x01F3, 0x01F3, 1, -2},
    {0x01F5, 0x01F5, 1, -1},
    {0x01F9, 0x021F, 2, -1},
    {0x0223, 0x0233, 2, -1},
    {0x023C, 0x023C, 1, -1},
    {0x0242, 0x0242, 1, -1},
    {0x0247, 0x024F, 2, -1},
    {0x0250, 0x0250, 1, 10783},
    {0x0251, 0x0251, 1, 10780},
    {0x0253, 0x0253, 1, -210},
    {0x0254, 0x0254, 1, -206},
    {0x0256, 0x0257, 1, -205},
    {0x0259, 0x0259, 1, -202},
    {0x025B, 0x025B, 1, -203},
    {0x0260, 0x0260, 1, -205},
    {0x0263, 0x0263, 1, -207},
    {0x0268, 0x0268, 1, -209},
    {0x0269, 0x0269, 1, -211},
    {0x026B, 0x026B, 1, 10743},
    {0x026F, 0x026F, 1, -211},
    {0x0271, 0x0271, 1, 10749},
    {0x0272, 0x0272, 1, -213},
    {0x0275, 0x0275, 1, -214},
    {0x027D, 0x027D, 1, 10727},
    {0x0280, 0x0280, 1, -218},
    {0x0283, 0x0283, 1, -218},
    {0x0288, 0x0288, 1, -218},
    {0x0289, 0x0289, 1, -69},
    {0x028A, 0x028B, 1, -217},
    {0x028C, 0x028C, 1, -71},
    {0x0292, 0x0292, 1, -219},
    {0x0371, 0x0373, 2, -1},
    {0x0377, 0x0377, 1, -1},
    {0x037B, 0x037D, 1, 130},
    {0x03AC, 0x03AC, 1, -38},
    {0x03AD, 0x03AF, 1, -37},
    {0x03B1, 0x03C1, 1, -32},
    {0x03C3, 0x03CB, 1, -32},
    {0x03CC, 0x03CC, 1, -64},
    {0x03CD, 0x03CE, 1, -63},
    {0x03D7, 0x03D7, 1, -8},
    {0x03D9, 0x03EF, 2, -1},
    {0x03F2, 0x03F2, 1, 7},
    {0x03F8, 0x03F8, 1, -1},
    {0x03FB, 0x03FB, 1, -1},
    {0x0430, 0x044F, 1, -32},
    {0x0450, 0x045F, 1, -80},
    {0x0461, 0x0481, 2, -1},
    {0x048B, 0x04BF, 2, -1},
    {0x04C2, 0x04CE, 2, -1},
    {0x04CF, 0x04CF, 1, -15},
    {0x04D1, 0x0523, 2, -1},
    {0x0561, 0x0586, 1, -48},
    {0x1D79, 0x1D79, 1, 35332},
    {0x1D7D, 0x1D7D, 1, 3814},
    {0x1E01, 0x1E95, 2, -1},
    {0x1EA1, 0x1EFF, 2, -1},
    {0x1F00, 0x1F07, 1, 8},
    {0x1F10, 0x1F15, 1, 8},
    {0x1F20, 0x1F27, 1, 8},
    {0x1F30, 0x1F37, 1, 8},
    {0x1F40, 0x1F45, 1, 8},
    {0x1F51, 0x1F57, 2, 8},
    {0x1F60, 0x1F67, 1, 8},
    {0x1F70, 0x1F71, 1, 74},
    {0x1F72, 0x1F75, 1, 86},
    {0x1F76, 0x1F77, 1, 100},
    {0x1F78, 0x1F79, 1, 128},
    {0x1F7A, 0x1F7B, 1, 112},
    {0x1F7C, 0x1F7D, 1, 126},
    {0x1F80, 0x1F87, 1, 8},
    {0x1F90, 0x1F97, 1, 8},
    {0x1FA0, 0x1FA7, 1, 8},
    {0x1FB0, 0x1FB1, 1, 8},
    {0x1FB3, 0x1FB3, 1, 9},
    {0x1FC3, 0x1FC3, 1, 9},
    {0x1FD0, 0x1FD1, 1, 8},
    {0x1FE0, 0x1FE1, 1, 8},
    {0x1FE5, 0x1FE5, 1, 7},
    {0x1FF3, 0x1FF3, 1, 9},
    {0x214E, 0x214E, 1, -28},
    {0x2170, 0x217F, 1, -16},
    {0x2184, 0x2184, 1, -1},
    {0x24D0, 0x24E9, 1, -26},
    {0x2C30, 0x2C5E, 1, -48},
    {0x2C61, 0x2C61, 1, -1},
    {0x2C65, 0x2C65, 1, -10795},
    {0x2C66, 0x2C66, 1, -10792},
    {0x2C68, 0x2C6C, 2, -1},
    {0x2C73, 0x2C73, 1, -1},
    {0x2C76, 0x2C76, 1, -1},
    {0x2C81, 0x2CE3, 2, -1},
    {0x2D00, 0x2D25, 1, -7264},
    {0xA641, 0xA65F, 2, -1},
    {0xA663, 0xA66D, 2, -1},
    {0xA681, 0xA697, 2, -1},
    {0xA723, 0xA72F, 2, -1},
    {0xA733, 0xA76F, 2, -1},
    {0xA77A, 0xA77C, 2, -1},
    {0xA77F, 0xA787, 2, -1},
    {0xA78C, 0xA78C, 1, -1},
    {0xFF41, 0xFF5A, 1, -32},
};

// Reads UTF-8 as UTF-16 code units, one at a time.
class CodeUnits {
public:
    explicit CodeUnits(std::string_view text) : text_(text) {}

    bool Done() const { return pending_ == 0 && pos_ >= text_.size(); }

    char16_t Next() {
        if (pending_ != 0) return std::exchange(pending_, char16_t{0});
        const auto byte = [&](std::size_t at) -> std::uint32_t {
            return pos_ + at < text_.size() ? static_cast<unsigned char>(text_[pos_ + at]) : 0;
        };
        const std::uint32_t lead = byte(0);
        const auto continuation = [&](std::size_t at, std::uint32_t low = 0x80, std::uint32_t high = 0xBF) {
            return byte(at) >= low && byte(at) <= high;
        };
        if (lead < 0x80) {
            ++pos_;
            return static_cast<char16_t>(lead);
        }
        if (lead >= 0xC2 && lead <= 0xDF && continuation(1)) {
            const std::uint32_t unit = (lead & 0x1F) << 6 | (byte(1) & 0x3F);
            pos_ += 2;
            return static_cast<char16_t>(unit);
        }
        if (lead >= 0xE0 && lead <= 0xEF &&
            continuation(1, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF) && continuation(2)) {
            const std::uint32_t unit = (lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
            pos_ += 3;
            return static_cast<char16_t>(unit);
        }
        if (lead >= 0xF0 && lead <= 0xF4 &&
            continuation(1, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF) && continuation(2) &&
            continuation(3)) {
            const std::uint32_t point =
                (lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
            pos_ += 4;
            pending_ = static_cast<char16_t>(0xDC00 | ((point - 0x10000) & 0x3FF));
            return static_cast<char16_t>(0xD800 | ((point - 0x10000) >> 10));
        }
        ++pos_;
        return static_cast<char16_t>(0xDC00 | lead);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    char16_t pending_ = 0;  // the low surrogate of a character beyond the BMP
};

}  // namespace

char16_t NtfsUpperCase(char16_t unit) {
    // The last run that starts at or before the unit is the only one that can hold it.
    const auto after = std::upper_bound(std::begin(kUpperCaseRuns), std::end(kUpperCaseRuns), unit,
                                        [](char16_t u, const UpperCaseRun &run) { return u < run.first; });
    if (after == std::begin(kUpperCaseRuns)) return unit;
    const UpperCaseRun &run = *std::prev(after);
    if (unit > run.last || (unit - run.first) % run.step != 0) return unit;
    return static_cast<char16_t>(unit + run.offset);
}

std::u16string NtfsUpperCased(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (CodeUnits read(text); !read.Done();) units.push_back(NtfsUpperCase(read.Next()));
    return units;
}

bool NtfsNameLess(std::string_view a, std::string_view b) {
    // Most names are ASCII, whose only upper-casing is a to z: compared byte by byte up to the first
    // other character (a scan sorts every folder, so this is most of its time), and from there
    // code unit by code unit.
    std::size_t same = 0;
    for (const std::size_t shorter = std::min(a.size(), b.size()); same < shorter; ++same) {
        const auto l = static_cast<unsigned char>(a[same]), r = static_cast<unsigned char>(b[same]);
        if (l >= 0x80 || r >= 0x80) break;
        const auto upper = [](unsigned char c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; };
        if (upper(l) != upper(r)) return upper(l) < upper(r);
    }
    CodeUnits left(a.substr(same)), right(b.substr(same));
    while (!left.Done() && !right.Done()) {
        const char16_t l = NtfsUpperCase(left.Next());
        const char16_t r = NtfsUpperCase(right.Next());
        if (l != r) return l < r;
    }
    if (left.Done() != right.Done()) return left.Done();
    return a < b;
}

}  // namespace tarvelin
