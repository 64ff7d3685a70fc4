#include "conversion/header/mail_message.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ctime>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tarvelin {

void PrintTo(const CalendarDate &date, std::ostream *out) {
    *out << date.year << "-" << date.month << "-" << date.day;
}

namespace {

using testing::TempDir;
using testing::WriteFile;

void SetZone(const char *zone) {
#ifdef _WIN32
    ::_putenv_s("TZ", zone != nullptr ? zone : "");
    ::_tzset();
#else
    if (zone != nullptr) {
        ::setenv("TZ", zone, 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
#endif
}

// Runs every test in a zone far from the messages' own, so that a date converted to local time
// shows up as the wrong day. (Tokyo's zone written the way both C libraries read it.)
class MessageFile : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char *zone = std::getenv("TZ")) savedZone_ = zone;
        SetZone("JST-9");
    }
    void TearDown() override { SetZone(savedZone_ ? savedZone_->c_str() : nullptr); }

private:
    std::optional<std::string> savedZone_;
};

// 3 February 2001, noon local time: the date a file's modification time gives.
constexpr CalendarDate kFileDate{2001, 2, 3};

void SetFileDate(const std::string &path) {
    struct tm local {};
    local.tm_year = kFileDate.year - 1900;
    local.tm_mon = kFileDate.month - 1;
    local.tm_mday = kFileDate.day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const auto time = std::chrono::system_clock::from_time_t(std::mktime(&local));
    std::error_code error;
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::from_sys(time), error);
    ASSERT_FALSE(error) << error.message();
}

// --- Subject and From ------------------------------------------------------------------------

struct FieldCase {
    const char *name;
    std::string header;  // the blank line and a body are added
    std::string subject;
    std::string from;
};

void PrintTo(const FieldCase &field, std::ostream *out) { *out << field.name; }

class MailFields : public MessageFile, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(MailFields, DecodesSubjectAndSender) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    WriteFile(path, GetParam().header + "\nBody line\nSubject: not a header\n");
    MailMessage message;
    EXPECT_TRUE(message.LoadFromFile(path));
    EXPECT_EQ(message.Subject(), GetParam().subject);
    EXPECT_EQ(message.From(), GetParam().from);
}

std::string ManyAddresses(bool quoted) {
    std::string text;
    for (int i = 0; i < 30; ++i) {
        if (i > 0) text += ", ";
        text += quoted ? "\"Person " + std::to_string(i) + "\" <p" + std::to_string(i) + "@example.org>"
                       : "Person " + std::to_string(i) + " <p" + std::to_string(i) + "@example.org>";
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MailFields,
    ::testing::Values(
        FieldCase{"Utf8Base64", "Subject: =?UTF-8?B?w4lsw6h2ZSDDoCBs4oCZw6ljb2xl?=\n", "Élève à l’école", ""},
        FieldCase{"Latin1QuotedPrintable", "Subject: =?ISO-8859-1?Q?Caf=E9_cr=E8me?=\n", "Café crème", ""},
        FieldCase{"Windows1252Quotes", "Subject: =?windows-1252?Q?=93hi=94_=80_5?=\n", "“hi” € 5", ""},
        FieldCase{"Koi8r", "Subject: =?koi8-r?B?8NLJ18XU?=\n", "Привет", ""},
        FieldCase{"Iso2022jp", "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsJE4lYSE8JWsbKEI=?=\n", "日本語のメール", ""},
        FieldCase{"AdjacentWordsJoined",
                  "Subject: =?UTF-8?B?R3LDvMOfZQ==?= =?ISO-8859-1?Q?_caf=E9?=\n =?UTF-8?Q?!?= plain\n",
                  "Grüße café! plain", ""},
        FieldCase{"BrokenWordsTolerated",
                  "Subject: =?iso-8859-1?q?two words?= =?x-unknown?q?abc?= end =?utf-8?q?open\n",
                  "two wordsabc end =?utf-8?q?open", ""},
        FieldCase{"FoldedLines", "Subject: a long\n subject\n\tline\n", "a long subject\tline", ""},
        FieldCase{"RawUtf8", "Subject: Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln\n", "Grüße aus Köln", ""},
        FieldCase{"RawLatin1", "Subject: caf\xe9 \x93q\x94\n", "café “q”", ""},
        FieldCase{"DisplayNameAndAddress", "From: \"Ann Lee\" <ann@x.org>\n", "", "Ann Lee <ann@x.org>"},
        FieldCase{"EncodedDisplayName", "From: =?utf-8?q?J=C3=B6rg_M=C3=BCller?= <j@x.de>\n", "",
                  "Jörg Müller <j@x.de>"},
        FieldCase{"RawLatin1DisplayName", "From: J\xf6rg <j@x.de>\n", "", "Jörg <j@x.de>"},
        FieldCase{"CommaInDisplayNameStaysQuoted", "From: \"Lee, Ann\" <ann@x.org>\n", "",
                  "\"Lee, Ann\" <ann@x.org>"},
        FieldCase{"SeveralAddresses", "From: \"Ann Lee\" <ann@x.org>, bob@y.org\n", "",
                  "Ann Lee <ann@x.org>, bob@y.org"},
        FieldCase{"ManyAddressesNotFolded", "From: " + ManyAddresses(true) + "\n", "", ManyAddresses(false)},
        FieldCase{"SenderThatIsNoAddress", "From: Ann Lee\n", "", "Ann Lee"},
        FieldCase{"MissingFields", "X-Mailer: test\nTo: someone@x.org\n", "", ""},
        FieldCase{"EmptyFields", "Subject:\nFrom:\n", "", ""},
        FieldCase{"CrlfLineEnds", "Subject: first\r\n second\r\nFrom: Ann <a@x.org>\r\nX-End: 1\r\n",
                  "first second", "Ann <a@x.org>"},
        FieldCase{"MboxSeparatorFirst",
                  "From ann@x.org Sat Jan  3 01:05:34 1996\nSubject: kept\nFrom: a@x.org\n", "kept", "a@x.org"},
        FieldCase{"JunkLineInHeader", "Subject: one\nnot a field\nFrom: a@x.org\n", "one", "a@x.org"},
        FieldCase{"ByteOrderMarkBeforeHeader", "\xEF\xBB\xBFSubject: bom\nFrom: a@x.org\n", "bom", "a@x.org"},
        FieldCase{"FirstLineStartsWithBlank", " stray\n\tmore\nSubject: kept\nFrom: a@x.org\n", "kept",
                  "a@x.org"},
        // Runs of encoded words in one charset: each payload decodes on its own.
        FieldCase{"PaddedWordsOneLine", "Subject: =?UTF-8?B?R3LDvMOfZSA=?= =?UTF-8?B?YXVzIEvDtmxu?=\n",
                  "Grüße aus Köln", ""},
        FieldCase{"UnpaddedWordsOneLine", "Subject: =?utf-8?b?R3LDvMOf?= =?UTF-8?B?ZSBhdXM=?= K\n",
                  "Grüße aus K", ""},
        FieldCase{"PaddedWordsFolded",
                  "Subject: =?UTF-8?B?0JfQtNGA0LDQstGB0YLQstGD0LnRgtC1LCA=?=\r\n"
                  " =?UTF-8?B?0YPQstCw0LbQsNC10LzRi9C1IA==?=\r\n\t=?UTF-8?B?0LrQvtC70LvQtdCz0Lg=?=\r\n",
                  "Здравствуйте, уважаемые коллеги", ""},
        FieldCase{"WordsTouching", "Subject: =?UTF-8?B?zprOsc67zrfOvM6tz4HOsSA=?==?UTF-8?B?zrrPjM+DzrzOtQ==?=\n",
                  "Καλημέρα κόσμε", ""},
        FieldCase{"CharacterSplitAcrossWords", "Subject: =?UTF-8?B?R3LD?=\n =?UTF-8?B?vMOfZQ==?=\n", "Grüße", ""},
        FieldCase{"QAndBMixed", "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe_?= =?UTF-8?B?YXVzIEvDtmxu?=\n",
                  "Grüße aus Köln", ""},
        FieldCase{"MixedCharsetsPadded",
                  "Subject: =?ISO-8859-1?B?S/Zsbg==?= =?UTF-8?B?IEvDtmxu?= =?ISO-8859-1?B?S/Zsbg==?=\n",
                  "Köln KölnKöln", ""},
        FieldCase{"PaddedDisplayName", "From: =?UTF-8?B?QW5uYQ==?= =?UTF-8?B?IExlZQ==?= <anna@x.org>\n", "",
                  "Anna Lee <anna@x.org>"},
        FieldCase{"PaddedDisplayNameFolded",
                  "From: =?UTF-8?B?QW5uYQ==?=\r\n =?UTF-8?B?IExlZQ==?=\r\n <anna@x.org>\r\n", "",
                  "Anna Lee <anna@x.org>"},
        FieldCase{"PaddedWordsInOddHeader",
                  "Subject: =?UTF-8?B?R3LDvMOfZSA=?= =?UTF-8?B?YXVzIEvDtmxu?=\nnot a field\n"
                  "From: =?UTF-8?B?QW5uYQ==?= =?UTF-8?B?IExlZQ==?= <anna@x.org>\n",
                  "Grüße aus Köln", "Anna Lee <anna@x.org>"}),
    [](const ::testing::TestParamInfo<FieldCase> &info) { return std::string(info.param.name); });

// --- Date ----------------------------------------------------------------------------------

struct DateCase {
    const char *name;
    std::string header;
    CalendarDate date;
};

void PrintTo(const DateCase &date, std::ostream *out) { *out << date.name; }

class MailDate : public MessageFile, public ::testing::WithParamInterface<DateCase> {};

TEST_P(MailDate, IsTheWrittenCalendarDate) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    WriteFile(path, "Subject: s\n" + GetParam().header + "\nbody\n");
    SetFileDate(path);
    MailMessage message;
    EXPECT_TRUE(message.LoadFromFile(path));
    EXPECT_EQ(message.Date(), GetParam().date);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MailDate,
    ::testing::Values(
        // In Tokyo these two are 2 July and 30 June.
        DateCase{"LateEveningWestOfUtc", "Date: Sun, 1 Jul 2012 23:30 -0700\n", {2012, 7, 1}},
        DateCase{"EarlyMorningFarEast", "Date: Sun, 1 Jul 2012 00:30 +1400\n", {2012, 7, 1}},
        DateCase{"ZoneNameAndComment", "Date: Sun, 01 Jul 2012 23:30:00 EDT (Eastern)\n", {2012, 7, 1}},
        DateCase{"TwoDigitYear", "Date: 1 Jul 12 10:00 +0000\n", {2012, 7, 1}},
        // Four digits are a year as written: 0000 is no year 2000, nor 0012 2012.
        DateCase{"FourDigitYearBelow100IsNone", "Date: Sat, 1 Jan 0000 10:00:00 +0000\n", kFileDate},
        DateCase{"FourDigitYearBelow100FallsToReceived",
                 "Received: from a by b; Mon, 2 Jul 2012 10:00 +0000\nDate: 1 Jul 0012 10:00 +0000\n", {2012, 7, 2}},
        DateCase{"FourDigitZoneStillReads", "Date: 1 Jul 2012 10:00:00 0000\n", {2012, 7, 1}},
        DateCase{"CrlfFoldedDate", "Date: Sun, 1 Jul 2012\r\n 23:30:00 -0700\r\n", {2012, 7, 1}},
        DateCase{"DateBeatsReceived",
                 "Received: from a by b; Mon, 9 Jul 2012 10:00 +0000\nDate: 1 Jul 2012 10:00 +0000\n",
                 {2012, 7, 1}},
        DateCase{"BadDateUsesTopmostReceived",
                 "Received: from a by b with SMTP id 1;\n Mon, 2 Jul 2012 23:10:00 -0700\n"
                 "Received: from c by d; Sat, 30 Jun 2012 10:00 +0000\nDate: sometime last week\n",
                 {2012, 7, 2}},
        DateCase{"NoDateUsesReceivedAfterLastSemicolon",
                 "Received: from a (x; y) by b; id 7; Tue, 3 Jul 2012 01:00 +0200\n", {2012, 7, 3}},
        DateCase{"ImpossibleDayIsNotInvented", "Date: 31 Feb 2012 10:00 +0000\n", kFileDate},
        DateCase{"TimeOnlyIsNotInvented", "Date: 12:00\n", kFileDate},
        DateCase{"ReceivedWithoutDateFallsToFile", "Received: from a by b\nDate: x\n", kFileDate},
        DateCase{"NoDateNoReceivedUsesFileDate", "X-Other: 1\n", kFileDate}),
    [](const ::testing::TestParamInfo<DateCase> &info) { return std::string(info.param.name); });

// The same dates as instants, for the file times and the index: where each came from, and the
// offset it was written with.
struct InstantCase {
    const char *name;
    std::string header;
    MessageInstant instant;  // for DateSource::File the seconds are the file's own
    std::string messageId;
};

void PrintTo(const InstantCase &date, std::ostream *out) { *out << date.name; }

class MailInstant : public MessageFile, public ::testing::WithParamInterface<InstantCase> {};

TEST_P(MailInstant, KeepsTheSourceAndOffsetOfTheDate) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    WriteFile(path, GetParam().header + "\nbody\n");
    SetFileDate(path);
    MailMessage message;
    EXPECT_TRUE(message.LoadFromFile(path));
    MessageInstant expected = GetParam().instant;
    if (expected.source == DateSource::File) {
        const auto time = std::filesystem::file_time_type::clock::to_sys(std::filesystem::last_write_time(path));
        expected.unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
    }
    EXPECT_EQ(message.Instant(), expected);
    EXPECT_EQ(message.MessageId(), GetParam().messageId);
    EXPECT_EQ(message.FileSize(), GetParam().header.size() + 6);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, MailInstant,
    ::testing::Values(
        InstantCase{"HeaderWestOfUtc", "Date: Sun, 1 Jul 2012 23:30 -0700\nMessage-ID: <a@x>\n",
                    {DateSource::Header, 1341210600, -7 * 3600}, "<a@x>"},
        InstantCase{"ReceivedWhenDateIsBroken",
                    "Date: x\nReceived: from a by b; Tue, 3 Jul 2012 01:00 +0200\nMessage-ID:\n <b@x> \n",
                    {DateSource::Received, 1341270000, 2 * 3600}, "<b@x>"},
        InstantCase{"FileTimeInUtc", "Subject: s\n", {DateSource::File, 0, 0}, ""},
        InstantCase{"FirstMessageIdInAnOddHeader", "Message-ID: <c@x>\nnot a field\nMessage-ID: <d@x>\n",
                    {DateSource::File, 0, 0}, "<c@x>"}),
    [](const ::testing::TestParamInfo<InstantCase> &info) { return std::string(info.param.name); });

// --- Files that are not messages -------------------------------------------------------------

struct NotMessageCase {
    const char *name;
    std::optional<std::string> bytes;  // nullopt: no file; "\x01dir": a folder
};

void PrintTo(const NotMessageCase &file, std::ostream *out) { *out << file.name; }

class NotAMessage : public MessageFile, public ::testing::WithParamInterface<NotMessageCase> {};

TEST_P(NotAMessage, LoadsEmptyFieldsAndFails) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    const auto &bytes = GetParam().bytes;
    if (bytes == "\x01" "dir") {
#ifdef _WIN32
        GTEST_SKIP() << "the C++ library cannot set a folder's date on Windows";
#endif
        std::filesystem::create_directory(path);
    } else if (bytes) {
        WriteFile(path, *bytes);
    }
    if (bytes) SetFileDate(path);

    MailMessage message;
    EXPECT_FALSE(message.LoadFromFile(path));
    EXPECT_EQ(message.Subject(), "");
    EXPECT_EQ(message.From(), "");
    EXPECT_EQ(message.Date(), bytes ? kFileDate : CalendarDate{});
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotAMessage,
    ::testing::Values(NotMessageCase{"MissingFile", std::nullopt}, NotMessageCase{"EmptyFile", ""},
                      NotMessageCase{"Folder", "\x01" "dir"},
                      NotMessageCase{"BinaryFile", std::string("\x7f" "ELF\x02\x01\x01", 7) +
                                                       std::string(2, '\0') + "Subject: x\n\n"},
                      NotMessageCase{"PlainText", "Hello Ann,\nSubject: lunch\n\nsee you\n"},
                      NotMessageCase{"LeadingEmptyLine", "\nSubject: x\nFrom: a@x.org\n\nbody\n"},
                      NotMessageCase{"LeadingEmptyCrlfLine", "\r\nSubject: x\r\n\r\nbody\r\n"},
                      NotMessageCase{"StartsWithContinuation", " Subject: x\n\nbody\n"}),
    [](const ::testing::TestParamInfo<NotMessageCase> &info) { return std::string(info.param.name); });

// Bytes this process has read so far, as the kernel counts them; nullopt where it does not tell.
std::optional<long long> BytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return std::nullopt;
}

// Loads the file and tells how many bytes that read; nullopt where the kernel does not say.
std::optional<long long> LoadCountingReads(MailMessage &message, const std::string &path) {
    const std::optional<long long> before = BytesReadSoFar();
    (void)message.LoadFromFile(path);
    const std::optional<long long> after = BytesReadSoFar();
    if (!before || !after) return std::nullopt;
    return *after - *before;
}

// --- Where the header ends ---------------------------------------------------------------------

TEST_F(MessageFile, HeaderWithoutBlankLineIsReadToTheEnd) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    for (const std::string ending : {"", "\n", "\r\n", "\r\n\r"}) {
        WriteFile(path, "From: a@x.org\nDate: 1 Jul 2012 10:00 +0000\nSubject: last" + ending);
        MailMessage message;
        EXPECT_TRUE(message.LoadFromFile(path)) << ending.size();
        EXPECT_EQ(message.Subject(), "last") << ending.size();
        EXPECT_EQ(message.From(), "a@x.org");
        EXPECT_EQ(message.Date(), (CalendarDate{2012, 7, 1}));
    }
}

// The blank line may fall anywhere relative to the reads; the header must end exactly there.
TEST_F(MessageFile, BlankLineAcrossReadBoundariesEndsTheHeader) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    const std::string body(2 * MailMessage::kMaxHeaderBytes, 'b');
    for (const std::string eol : {"\n", "\r\n"}) {
        for (std::size_t target = 65536 - 6; target <= 65536 + 6; ++target) {
            const std::string last = "Subject: real" + eol;
            std::string header = "X-Pad: ";
            header.append(target - header.size() - eol.size() - last.size(), 'p');
            header += eol + last;  // the header's last line ends at `target`
            ASSERT_EQ(header.size(), target);
            WriteFile(path, header + eol + "Subject: body" + eol + "From: body@x.org" + eol + body);
            MailMessage message;
            const std::optional<long long> bytesRead = LoadCountingReads(message, path);
            if (bytesRead) {
                EXPECT_LE(*bytesRead, 192 * 1024) << eol.size() << " " << target;
            }
            EXPECT_EQ(message.Subject(), "real") << eol.size() << " " << target;
            EXPECT_EQ(message.From(), "") << eol.size() << " " << target;
        }
    }
}

TEST_F(MessageFile, HeaderOverTheLimitIsReadUpToIt) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    std::string header = "Subject: first\nFrom: a@x.org\n";
    while (header.size() < 2 * MailMessage::kMaxHeaderBytes) {
        header += "X-Filler: " + std::string(60, 'f') + "\n";
    }
    // Lies beyond the limit, so it must not be seen, blank line or not.
    WriteFile(path, header + "Subject: too far\n\nbody\n");
    MailMessage message;
    const std::optional<long long> bytesRead = LoadCountingReads(message, path);
    if (bytesRead) {
        EXPECT_LE(*bytesRead, static_cast<long long>(MailMessage::kMaxHeaderBytes) + 4096);
    }
    EXPECT_EQ(message.Subject(), "first");
    EXPECT_EQ(message.From(), "a@x.org");
}

TEST_F(MessageFile, ReusedObjectKeepsNothingFromEarlierLoad) {
    TempDir dir;
    WriteFile(dir / "full.msg", "Subject: s\nFrom: a@x.org\nDate: 1 Jul 2012 10:00 +0000\n\nbody\n");
    WriteFile(dir / "bare.msg", "X-Other: 1\n\nbody\n");
    SetFileDate(dir / "bare.msg");

    MailMessage message;
    ASSERT_TRUE(message.LoadFromFile(dir / "full.msg"));
    EXPECT_TRUE(message.LoadFromFile(dir / "bare.msg"));
    EXPECT_EQ(message.Subject(), "");
    EXPECT_EQ(message.From(), "");
    EXPECT_EQ(message.Date(), kFileDate);

    ASSERT_TRUE(message.LoadFromFile(dir / "full.msg"));
    EXPECT_FALSE(message.LoadFromFile(dir / "missing.msg"));
    EXPECT_EQ(message.Subject(), "");
    EXPECT_EQ(message.From(), "");
    EXPECT_EQ(message.Date(), CalendarDate{});
}

// Garbage after a valid first field must never crash or hang the parser.
TEST_F(MessageFile, ArbitraryBytesAfterAFieldAreSurvived) {
    TempDir dir;
    const std::string path = dir / "m.msg";
    const std::string pieces[] = {"=?", "?=", "?Q?", "?B?", "=?utf-8?b?", "\n", "\r\n", " ", "\t", ":", ";", "<",
                                  ">", "\"", ",", "@", "(", ")", "\\", "Date: ", "From: ", "Subject: ",
                                  "Received: x;", std::string(1, '\0'), "\xff", "\xc3", "Jul", "2012", "+0000"};
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = "Subject: x\n";
        const int count = static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) {
            if (random() % 4 == 0) {
                bytes.push_back(static_cast<char>(random() % 256));
            } else {
                bytes += pieces[random() % std::size(pieces)];
            }
        }
        WriteFile(path, bytes);
        MailMessage message;
        EXPECT_TRUE(message.LoadFromFile(path)) << round;
        EXPECT_TRUE(!message.Date().known() || message.Date().year > 1000) << round;
    }
}

// A 30 MB body costs what a 5 KB message does: nothing past the read that holds the blank line.
TEST_F(MessageFile, LargeBodyIsNotRead) {
    TempDir dir;
    const std::string header =
        "From: \"Ann Lee\" <ann@x.org>\r\nSubject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
        "Date: Sun, 1 Jul 2012 23:30 -0700\r\nContent-Type: text/plain\r\n\r\n";
    std::string line(76, 'b');
    line += "\r\n";
    std::string small = header;
    while (small.size() < 5 * 1024) small += line;
    std::string large = header;
    large.reserve(30 * 1024 * 1024 + 100);
    while (large.size() < 30 * 1024 * 1024) large += line;
    WriteFile(dir / "small.msg", small);
    WriteFile(dir / "large.msg", large);

    MailMessage warmUp;  // the first load also reads the library's own set-up files
    ASSERT_TRUE(warmUp.LoadFromFile(dir / "small.msg"));
    MailMessage message;
    const std::optional<long long> bytesRead = LoadCountingReads(message, dir / "large.msg");
    if (bytesRead) {
        EXPECT_LE(*bytesRead, 128 * 1024);
    }

    const auto timeLoads = [&](const std::string &path) {
        constexpr int kLoads = 200;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kLoads; ++i) {
            MailMessage loaded;
            EXPECT_TRUE(loaded.LoadFromFile(path));
            EXPECT_EQ(loaded.Subject(), "Grüße");
            EXPECT_EQ(loaded.From(), "Ann Lee <ann@x.org>");
            EXPECT_EQ(loaded.Date(), (CalendarDate{2012, 7, 1}));
        }
        const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
        return spent.count() / kLoads;
    };
    const double smallMicros = timeLoads(dir / "small.msg");
    const double largeMicros = timeLoads(dir / "large.msg");
    std::cout << "[ timing   ] 5 KB message: " << smallMicros << " us per load, 30 MB message: " << largeMicros
              << " us per load\n";
    RecordProperty("small_us", std::to_string(smallMicros));
    RecordProperty("large_us", std::to_string(largeMicros));
}

}  // namespace
}  // namespace tarvelin

namespace tarvelin {
namespace {

// The copy reads a message's first bytes in chunks until the header is complete and hands them to
// the reader: whatever the chunk size, the fields are those read from the file itself, also for a
// header cut across two chunks and for files that hold no header.
TEST(MailMessageHead, FirstBytesGiveTheFieldsOfTheFile) {
    std::vector<std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::path(TARVELIN_FUZZ_DIR) / "corpus/mail_message"))
        files.push_back(testing::Utf8(entry.path()));
    TempDir dir;
    files.push_back(dir / "long_header.msg");
    WriteFile(files.back(), "Subject: " + std::string(40000, 's') + "\r\nFrom: a@b.org\r\n\r\nbody");
    files.push_back(dir / "empty.msg");
    WriteFile(files.back(), "");
    for (const std::string &path : files) {
        MailMessage fromFile;
        const bool loaded = fromFile.LoadFromFile(path);
        const std::string bytes = testing::ReadFile(path);
        const std::time_t modified = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(
            std::filesystem::last_write_time(testing::SystemPath(path))));
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{16384}}) {
            SCOPED_TRACE(path + ", chunks of " + std::to_string(chunk));
            std::size_t read = 0;
            while (read < bytes.size() && !MailMessage::HeaderComplete(std::string_view(bytes).substr(0, read)))
                read = std::min(bytes.size(), read + chunk);
            MailMessage fromHead;
            EXPECT_EQ(fromHead.LoadFromHead(std::string_view(bytes).substr(0, read), modified), loaded);
            EXPECT_EQ(fromHead.Subject(), fromFile.Subject());
            EXPECT_EQ(fromHead.From(), fromFile.From());
            EXPECT_EQ(fromHead.Date(), fromFile.Date());
        }
    }
}

}  // namespace
}  // namespace tarvelin
