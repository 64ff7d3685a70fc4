// The header reader hands the parser only the fields it reads; the fields it gives must not
// depend on what else the header holds or on where the read fields stand among the others.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "conversion/header/mail_message.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

using testing::TempDir;
using testing::WriteFile;

struct FieldsCase {
    const char *label;
    std::string header;  // up to and including the blank line
    std::string subject;
    std::string from;
    CalendarDate date;
};

void PrintTo(const FieldsCase &c, std::ostream *os) { *os << c.label; }

const std::string kOthers =
    "Received: from relay.example.org by mx.example.org; Sun, 4 Mar 2012 22:00:00 +0000\r\n"
    "DKIM-Signature: v=1; a=rsa-sha256; d=example.org;\r\n\tb=abcdefghijklmnopqrstuvwxyz\r\n"
    "To: \"Lee, Ann\" <ann@example.org>, bo@example.org\r\n"
    "Cc: =?utf-8?Q?J=C3=B6rg?= <j@example.org>\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\nX-Mailer: something\r\n";

class HeaderFieldsTest : public ::testing::TestWithParam<FieldsCase> {};

TEST_P(HeaderFieldsTest, GivesTheFieldsWhateverSurroundsThem) {
    const FieldsCase &c = GetParam();
    TempDir dir;
    const std::string path = dir / "m.msg";
    WriteFile(path, c.header + "body\r\nSubject: not a field of the header\r\n");
    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(path));
    EXPECT_EQ(message.Subject(), c.subject);
    EXPECT_EQ(message.From(), c.from);
    EXPECT_EQ(message.Date().year, c.date.year);
    EXPECT_EQ(message.Date().month, c.date.month);
    EXPECT_EQ(message.Date().day, c.date.day);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderFieldsTest,
    ::testing::Values(
        FieldsCase{"among_many_other_fields",
                   kOthers + "Subject: =?iso-8859-1?Q?f=FCr?= you\r\n" + kOthers +
                       "From: Ann Lee <ann@example.org>\r\n"
                       "Date: Mon, 5 Mar 2012 09:00:00 +0100\r\n" +
                       kOthers + "\r\n",
                   "für you", "Ann Lee <ann@example.org>", {2012, 3, 5}},
        FieldsCase{"folded_fields_between_folded_others",
                   "X-A: one\r\n two\r\nSubject: first\r\n second\r\nX-B: three\r\n\tfour\r\n"
                   "From: \"Bo\r\n Chen\" <bo@example.org>\r\n"
                   "Date: 6 Mar 2012 01:00:00 -0500\r\n\r\n",
                   // The fold inside the quotes stays; cleaning the name drops it later.
                   "first second", "Bo\n Chen <bo@example.org>", {2012, 3, 6}},
        FieldsCase{"the_last_subject_and_date_count_every_from_counts",
                   "Subject: one\r\nFrom: a@example.org\r\n"
                   "Date: 1 Jan 2010 00:00:00 +0000\r\n" +
                       kOthers +
                       "Subject: two\r\nFrom: b@example.org\r\n"
                       "Date: 2 Feb 2011 00:00:00 +0000\r\n\r\n",
                   "two", "a@example.org, b@example.org", {2011, 2, 2}},
        FieldsCase{"no_date_takes_the_topmost_received",
                   "X-Spam: no\r\nReceived: from a by b; Wed, 7 Mar 2012 23:30:00 -0500\r\n"
                   "Received: from c by d; 1 Jan 2001 00:00:00 +0000\r\nSubject: r\r\n\r\n",
                   "r", "", {2012, 3, 7}},
        FieldsCase{"a_line_that_is_no_field_keeps_its_old_treatment",
                   "To: x@example.org\r\nthis line is no field\r\nSubject: after it\r\n"
                   "Date: 8 Mar 2012 00:00:00 +0000\r\n\r\n",
                   "after it", "", {2012, 3, 8}},
        FieldsCase{"names_in_any_case_and_space_before_the_colon",
                   "SUBJECT : loud\r\nfrom:\tquiet@example.org\r\n"
                   "date: 9 Mar 2012 00:00:00 +0000\r\n\r\n",
                   "loud", "quiet@example.org", {2012, 3, 9}},
        FieldsCase{"similar_names_are_other_fields",
                   "Subject-Extra: no\r\nResent-From: no@example.org\r\nX-Date: 1 Jan 1999\r\n"
                   "Subject: yes\r\nFrom: yes@example.org\r\n"
                   "Date: 10 Mar 2012 00:00:00 +0000\r\n\r\n",
                   "yes", "yes@example.org", {2012, 3, 10}}),
    [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
