#include "messagelist/name_order.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvelin {
namespace {

struct OrderCase {
    const char *label;
    std::string first;
    std::string second;  // strictly after first
};

class NtfsNameOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(NtfsNameOrder, PutsTheFirstNameBeforeTheSecond) {
    const OrderCase &c = GetParam();
    EXPECT_TRUE(NtfsNameLess(c.first, c.second));
    EXPECT_FALSE(NtfsNameLess(c.second, c.first));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NtfsNameOrder,
    ::testing::Values(
        OrderCase{"case_ignored", "a.msg", "B.msg"}, OrderCase{"case_ignored_upper_first", "A.msg", "b.msg"},
        OrderCase{"digits_one_by_one", "10.msg", "9.msg"}, OrderCase{"prefix_first", "a", "a.msg"},
        OrderCase{"underscore_after_letters", "zz", "_a"}, OrderCase{"underscore_after_upper", "Z", "_"},
        OrderCase{"dot_before_digits", "a.msg", "a1.msg"},
        OrderCase{"latin1_upper_cased", "\xC3\xA9", "\xC3\x8A"},           // é is É, before Ê
        OrderCase{"y_diaeresis_beyond_latin1", "\xC4\x80", "\xC3\xBF"},    // ÿ is Ÿ (U+0178), after Ā
        OrderCase{"sharp_s_not_made_ss", "T", "\xC3\x9F"},                  // ß stays U+00DF
        OrderCase{"dotless_i_kept", "J", "\xC4\xB1"},                      // ı stays U+0131
        OrderCase{"greek_upper_cased", "\xCE\x91", "\xCE\xB2"},            // Α before β = Β
        OrderCase{"cyrillic_upper_cased", "\xD0\xB0", "\xD0\x91"},         // а = А before Б
        OrderCase{"fullwidth_after_surrogates", "\xF0\x9F\x98\x80", "\xEF\xBC\xA1"},  // 😀 before Ａ
        OrderCase{"not_utf8_after_bmp_letters", "\xE4\xB8\x80", "\xFF"},   // 一 before the lone U+DCFF
        OrderCase{"same_but_case_by_bytes", "A", "a"},
        OrderCase{"ascii_then_upper_cased", "ab\xC3\xA9", "AB\xC3\x8A"},  // abé = ABÉ, before ABÊ
        OrderCase{"ascii_before_the_rest", "a~", "A\xC3\xA0"}),                // ~ before à
    [](const ::testing::TestParamInfo<OrderCase> &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
