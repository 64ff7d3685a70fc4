// The From and Date fields of the usual forms are read without GMime's parsers; what is read so
// must be what GMime gives, byte for byte, and the usual forms must keep taking that way.
#include <gmime/gmime.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "conversion/header/plain_date.h"
#include "conversion/header/plain_sender.h"

namespace tarvelin {
namespace {

struct PlainCase {
    const char *label;
    std::string value;
    bool plain;  // read without GMime
};

void PrintTo(const PlainCase &c, std::ostream *os) { *os << c.label; }

struct GFree {
    void operator()(char *text) const { g_free(text); }
};

class HeaderFieldsWithoutTheParser : public ::testing::TestWithParam<PlainCase> {
protected:
    static void SetUpTestSuite() { g_mime_init(); }
};

std::string GMimeSender(const std::string &raw) {
    std::unique_ptr<GMimeParserOptions, decltype(&g_mime_parser_options_free)> options(
        g_mime_parser_options_new(), &g_mime_parser_options_free);
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    InternetAddressList *list = internet_address_list_parse(options.get(), raw.c_str());
    if (list == nullptr) return "(none)";
    const std::unique_ptr<char, GFree> text(internet_address_list_to_string(list, nullptr, FALSE));
    g_object_unref(list);
    return text ? text.get() : "(none)";
}

using SenderWithoutTheParser = HeaderFieldsWithoutTheParser;

TEST_P(SenderWithoutTheParser, IsWhatGMimeWrites) {
    const std::optional<std::string> plain = PlainSenderText(GetParam().value);
    EXPECT_EQ(plain.has_value(), GetParam().plain);
    if (plain) {
        EXPECT_EQ(*plain, GMimeSender(GetParam().value));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, SenderWithoutTheParser,
    ::testing::Values(PlainCase{"bare_address", " ann.lee+x@mx-1.Example.ORG\n", true},
                      PlainCase{"words_and_address", " Ann  O'Neil\t<ann@example.org> \n", true},
                      PlainCase{"quoted_name_without_specials", " \" Ann Lee \"<ann@example.org>\n", true},
                      PlainCase{"quoted_name_with_specials", " \"Lee, Ann (HR)\" <ann@example.org>\n", true},
                      PlainCase{"idn_label", " Ann <ann@xn--bcher-kva.example>\n", false},
                      PlainCase{"idn_label_in_capitals", " ann@mail.XN--BCHER-KVA.example\n", false},
                      PlainCase{"unicode_domain", " ann@b\xc3\xbc" "cher.example\n", false},
                      PlainCase{"domain_literal", " Ann <ann@[192.0.2.1]>\n", false},
                      PlainCase{"trailing_dot", " ann@example.org.\n", false},
                      PlainCase{"escaped_quote", " \"a\\\"b\" <ann@example.org>\n", false},
                      PlainCase{"empty_quotes", " \" \" <ann@example.org>\n", false},
                      PlainCase{"unquoted_dot", " J. Lee <ann@example.org>\n", false},
                      PlainCase{"encoded_name", " =?utf-8?q?Ann?= <ann@example.org>\n", false},
                      PlainCase{"comment", " ann@example.org (Ann)\n", false},
                      PlainCase{"folded_name", " Ann\n Lee <ann@example.org>\n", false},
                      PlainCase{"two_addresses", " a@example.org, b@example.org\n", false}),
    [](const auto &info) { return std::string(info.param.label); });

using DateWithoutTheParser = HeaderFieldsWithoutTheParser;

TEST_P(DateWithoutTheParser, IsWhatGMimeReads) {
    const std::optional<WrittenTime> plain = ReadPlainDate(GetParam().value);
    EXPECT_EQ(plain.has_value(), GetParam().plain);
    if (!plain) return;
    GDateTime *date = g_mime_utils_header_decode_date(GetParam().value.c_str());
    ASSERT_NE(date, nullptr);
    int year = 0, month = 0, day = 0;
    g_date_time_get_ymd(date, &year, &month, &day);
    EXPECT_EQ(plain->date, (CalendarDate{year, month, day}));
    EXPECT_EQ(plain->unixSeconds, g_date_time_to_unix(date));
    EXPECT_EQ(plain->utcOffsetSeconds, g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND);
    g_date_time_unref(date);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DateWithoutTheParser,
    ::testing::Values(PlainCase{"usual", "Mon, 5 Mar 2012 09:04:00 +0000", true},
                      PlainCase{"west_of_utc_across_midnight", "Thu, 31 Dec 2099 23:30 -0930 (XYZ)", true},
                      PlainCase{"east_of_utc_leap_day", " 29 Feb 2016 00:00:59 +1345", true},
                      PlainCase{"no_such_day", "29 Feb 2015 00:00:00 +0000", false},
                      PlainCase{"leap_second", "30 Jun 2015 23:59:60 +0000", false},
                      PlainCase{"two_digit_year", "5 Mar 12 09:04:00 +0000", false},
                      PlainCase{"named_zone", "5 Mar 2012 09:04:00 GMT", false},
                      PlainCase{"zone_out_of_range", "5 Mar 2012 09:04:00 +2400", false},
                      PlainCase{"zone_run_on", "5 Mar 2012 09:04:00 +0100(CET)", false}),
    [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
