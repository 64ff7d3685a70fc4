#include "cli/run_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "cli/escaped_text.h"
#include "conversion/mailbox/maildir_writer.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using Table = std::vector<std::vector<std::string>>;

// RFC 4180 read strictly, as a check of the writer: CRLF ends a record; a quote inside an unquoted
// cell, a lone CR or LF, or an unclosed quote fails the test.
Table ParseCsv(std::string_view text) {
    Table rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                cell += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else {
                quoted = false;
                EXPECT_TRUE(i + 1 == text.size() || text[i + 1] == ',' || text[i + 1] == '\r') << text.substr(i);
            }
        } else if (c == '"') {
            EXPECT_TRUE(cell.empty()) << "quote inside an unquoted cell: " << cell;
            quoted = true;
        } else if (c == ',') {
            row.push_back(std::move(cell));
            cell.clear();
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR";
            ++i;
            row.push_back(std::move(cell));
            cell.clear();
            rows.push_back(std::move(row));
            row.clear();
        } else {
            EXPECT_NE(c, '\n') << "lone LF";
            cell += c;
        }
    }
    EXPECT_FALSE(quoted) << "unclosed quote";
    EXPECT_TRUE(row.empty() && cell.empty()) << "last record without CRLF";
    return rows;
}

struct CellCase {
    const char *name;
    std::string value;
    std::string cell;
};

class IndexCell : public ::testing::TestWithParam<CellCase> {};

TEST_P(IndexCell, ReadsBackAsTextOnOneLine) { EXPECT_EQ(CsvCell(GetParam().value), GetParam().cell); }

INSTANTIATE_TEST_SUITE_P(
    Cases, IndexCell,
    ::testing::Values(CellCase{"Plain", "Re budget", "Re budget"}, CellCase{"Empty", "", ""},
                      CellCase{"Comma", "Lee, Ann", "\"Lee, Ann\""},
                      CellCase{"QuotesDoubled", "say \"hi\"", "\"say \"\"hi\"\"\""},
                      CellCase{"LineBreaksBecomeSpaces", "a\r\nb\nc\rd", "a  b c d"},
                      CellCase{"Formula", "=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
                      CellCase{"Plus", "+1", "'+1"}, CellCase{"Minus", "-2", "'-2"}, CellCase{"At", "@a", "'@a"},
                      CellCase{"Tab", "\tx", "'\tx"}, CellCase{"CarriageReturn", "\rx", "' x"},
                      CellCase{"FormulaSignLaterIsText", "a=b", "a=b"}),
    [](const ::testing::TestParamInfo<CellCase> &info) { return std::string(info.param.name); });

// Paths as one line of valid UTF-8 that percent-decoding turns back into the exact bytes.
class EscapedPath : public ::testing::TestWithParam<CellCase> {};

TEST_P(EscapedPath, IsOneLineOfUtf8) { EXPECT_EQ(EscapedText(GetParam().value), GetParam().cell); }

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapedPath,
    ::testing::Values(CellCase{"Plain", R"(C:\Mail\Ärger 邮件 😀.msg)", R"(C:\Mail\Ärger 邮件 😀.msg)"},
                      CellCase{"Controls", "a\nb\rc\td\x7F" "e\u0085f", "a%0Ab%0Dc%09d%7Fe%C2%85f"},
                      CellCase{"LineSeparators", "a\u2028b\u2029c", "a%E2%80%A8b%E2%80%A9c"},
                      CellCase{"PercentItself", "50% %41", "50%25 %2541"},
                      CellCase{"NotUtf8", "\xFF\xC3(\xE2\x82", "%FF%C3(%E2%82"},
                      CellCase{"OverlongAndSurrogate", "\xC0\xAF\xED\xA0\x80", "%C0%AF%ED%A0%80"},
                      CellCase{"BeyondUnicode", "\xF4\x90\x80\x80", "%F4%90%80%80"}),
    [](const ::testing::TestParamInfo<CellCase> &info) { return std::string(info.param.name); });

TEST(IndexRow, EscapesThePathsAndTheReasonThatNamesThem) {
    IndexRow row;
    row.status = IndexStatus::Failed;
    row.source = "/m/new\nline\xFF.msg";
    row.error = "cannot open " + row.source;
    EXPECT_EQ(IndexLine(row), "failed,/m/new%0Aline%FF.msg,,,,,,,,cannot open /m/new%0Aline%FF.msg,,,,\r\n");
}

struct DateCase {
    const char *name;
    MessageInstant date;
    std::string iso;
};

class IndexDate : public ::testing::TestWithParam<DateCase> {};

TEST_P(IndexDate, IsTheWrittenTimeWithItsOffset) { EXPECT_EQ(IsoDate(GetParam().date), GetParam().iso); }

INSTANTIATE_TEST_SUITE_P(
    Cases, IndexDate,
    ::testing::Values(DateCase{"EastOfUtc", {DateSource::Header, 1425371400, 3600}, "2015-03-03T09:30:00+01:00"},
                      DateCase{"WestAcrossMidnight", {DateSource::Received, 1341295800, -7 * 3600},
                               "2012-07-02T23:10:00-07:00"},
                      DateCase{"HalfHourZone", {DateSource::Header, 0, -(3 * 3600 + 1800)},
                               "1969-12-31T20:30:00-03:30"},
                      DateCase{"UtcHeader", {DateSource::Header, 1000000000, 0}, "2001-09-09T01:46:40+00:00"},
                      DateCase{"FileTimeInUtc", {DateSource::File, 1000000000, 0}, "2001-09-09T01:46:40Z"},
                      DateCase{"BeforeTheEpoch", {DateSource::Header, -86401, 0}, "1969-12-30T23:59:59+00:00"},
                      DateCase{"Unknown", {}, ""}),
    [](const ::testing::TestParamInfo<DateCase> &info) { return std::string(info.param.name); });

// --- A whole run with --file-time=message and --index -------------------------------------------

constexpr std::int64_t kSourceTime = 1000000000;  // 2001-09-09T01:46:40Z

struct Listed {
    std::string name;
    std::string bytes;  // empty: no such file
    std::string date, dateSource, subject;
    std::int64_t fileTime;  // what the copy's modification time must be
};

const std::vector<Listed> kListed = {
    {"dated", "Date: Tue, 3 Mar 2015 09:30:00 +0100\r\nSubject: dated\r\nMessage-ID: <1@x>\r\n\r\nb\r\n",
     "2015-03-03T09:30:00+01:00", "header", "dated", 1425371400},
    {"received", "Received: from a by b; Mon, 2 Jul 2012 23:10:00 -0700\nSubject: r\n\nb\n",
     "2012-07-02T23:10:00-07:00", "received", "r", 1341295800},
    {"undated", "Subject: u\n\nb\n", "2001-09-09T01:46:40Z", "file", "u", kSourceTime},
    {"broken", "Date: sometime last week\nSubject: b\n\nb\n", "2001-09-09T01:46:40Z", "file", "b", kSourceTime},
    {"encoded", "Subject: =?UTF-8?Q?caf=C3=A9=2C_=22menu=22?=\r\n folded\r\nDate: 1 Jul 2012 10:00 +0000\r\n\r\nb\r\n",
     "2012-07-01T10:00:00+00:00", "header", "café, \"menu\" folded", 1341136800},
    {"formula", "Subject: =SUM(A1)\nDate: 1 Jul 2012 10:00 +0000\n\nb\n", "2012-07-01T10:00:00+00:00", "header",
     "'=SUM(A1)", 1341136800},
    {"far", "Subject: f\nDate: 1 Jan 2107 00:00 +0000\n\nb\n", "2107-01-01T00:00:00+00:00", "header", "f",
     kSourceTime},
    {"missing", "", "", "", "", 0},
};

std::int64_t ModifiedSeconds(const fs::path &path) {
    using namespace std::chrono;
    const auto time = fs::file_time_type::clock::to_sys(fs::last_write_time(path));
    return duration_cast<seconds>(time.time_since_epoch()).count();
}

struct IndexedRun {
    int status;
    std::string err;
    Table rows;
};

IndexedRun Index(const TempDir &src, const TempDir &out, const fs::path &index, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"-o", out.path().string(), "--file-time=message", "--index=" + index.string(),
                                     "-q"};
    args.insert(args.end(), more.begin(), more.end());
    for (const Listed &message : kListed) args.push_back(src / (message.name + ".msg"));
    std::ostringstream outText, errText;
    const int status = RunCli(args, {outText, errText, false});
    const std::string text = ReadFile(index);
    EXPECT_TRUE(text.starts_with("\xEF\xBB\xBF")) << "no byte-order mark";
    return {status, errText.str(), ParseCsv(std::string_view(text).substr(std::min<std::size_t>(3, text.size())))};
}

TEST(RunIndexFile, OneRowPerMessageAndTheMessagesDatesOnTheCopies) {
    TempDir src, out, work;
    for (const Listed &message : kListed) {
        if (message.bytes.empty()) continue;
        WriteFile(src / (message.name + ".msg"), message.bytes);
        const std::chrono::sys_seconds sourceTime{std::chrono::seconds{kSourceTime}};
        fs::last_write_time(testing::SystemPath(src / (message.name + ".msg")),
                            fs::file_time_type::clock::from_sys(sourceTime));
    }
    const fs::path index = work.path() / "index.csv";
    const IndexedRun run = Index(src, out, index);
    EXPECT_EQ(run.status, 1) << run.err;
    ASSERT_EQ(run.rows.size(), kListed.size() + 1);
    EXPECT_EQ(run.rows[0], (std::vector<std::string>{"status", "source", "output", "bytes", "date", "date_source",
                                                      "from", "subject", "message_id", "error", "number_in_file", "domain",
                                                      "account", "mailbox"}));
    for (std::size_t i = 0; i < kListed.size(); ++i) {
        const Listed &message = kListed[i];
        const std::vector<std::string> &row = run.rows[i + 1];
        SCOPED_TRACE(message.name);
        ASSERT_EQ(row.size(), 14u);
        EXPECT_EQ(row[10], "");
        EXPECT_EQ(row[1], src / (message.name + ".msg"));
        EXPECT_EQ(row[4], message.date);
        EXPECT_EQ(row[5], message.dateSource);
        EXPECT_EQ(row[7], message.subject);
        if (message.bytes.empty()) {
            EXPECT_EQ(row[0], "failed");
            EXPECT_EQ(row[2], "");
            EXPECT_NE(run.err.find(row[1] + ": " + row[9] + "\n"), std::string::npos) << row[9];
            continue;
        }
        const std::string output = testing::Mirrored(out, src) + message.name + ".eml.eml";
        EXPECT_EQ(row[0], "converted");
        EXPECT_EQ(row[2], output);
        EXPECT_EQ(row[3], std::to_string(message.bytes.size()));
        EXPECT_EQ(row[9], "");
        EXPECT_EQ(ModifiedSeconds(testing::SystemPath(output)), message.fileTime);
    }
    EXPECT_EQ(run.rows[1][8], "<1@x>");

    const IndexedRun resumed = Index(src, out, work.path() / "resumed.csv", {"--skip-identical"});
    for (std::size_t i = 0; i + 1 < kListed.size(); ++i) EXPECT_EQ(resumed.rows.at(i + 1).at(0), "already-there");

    TempDir dryOut;
    const IndexedRun dry = Index(src, dryOut, work.path() / "dry.csv", {"--dry-run"});
    for (std::size_t i = 0; i + 1 < kListed.size(); ++i) EXPECT_EQ(dry.rows.at(i + 1).at(0), "would-convert");
    EXPECT_TRUE(fs::is_empty(dryOut.path()));

    // An index already there is left as it is, and nothing is converted.
    const std::string before = ReadFile(index);
    std::ostringstream outText, errText;
    EXPECT_EQ(RunCli({"-o", dryOut.path().string(), "--index", index.string(), src / "dated.msg"},
                     {outText, errText, false}),
              2);
    const std::string err = errText.str();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(ReadFile(index), before);
    EXPECT_TRUE(fs::is_empty(dryOut.path()));
}

// --- The mailbox formats: the file, its number in an mbox file and the renamed mailboxes --------

struct MailboxIndexCase {
    const char *name;
    std::vector<std::string> args;
    // status, source, output, number_in_file, mailbox; "S:" and "O:" stand for the source and output
    // folders.
    std::vector<std::vector<std::string>> rows;
    std::int64_t fileTime;  // of every file written
};

std::string InCur(const std::string &relative) {
    return "cur/" + MaildirFileName(1341136800, MaildirToken(relative));
}

class MailboxIndex : public ::testing::TestWithParam<MailboxIndexCase> {};

TEST_P(MailboxIndex, RowsAndVerboseLinesNameTheFileAndTheMessagesNumberInIt) {
    TempDir src, out, work;
    for (const char *name : {"b.msg", "c.msg", "Inbox/a.msg"}) {
        WriteFile(src / name, testing::Message(name));
        fs::last_write_time(testing::SystemPath(src / name),
                            fs::file_time_type::clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{kSourceTime}}));
    }
    WriteFile(out / "Inbox", "mine");
    const fs::path index = work.path() / "index.csv";
    std::vector<std::string> args = {"-v", "-q", "-o", testing::Utf8(out.path()), "--index=" + index.string()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    args.push_back(testing::Utf8(src.path()));
    std::ostringstream outText, errText;
    ASSERT_EQ(RunCli(args, {outText, errText, false}), 0) << errText.str();

    const auto resolve = [&](const std::string &cell) {
        if (cell.starts_with("S:")) return src / cell.substr(2);
        return cell.starts_with("O:") ? out / cell.substr(2) : cell;
    };
    const std::string text = ReadFile(index);
    const Table rows = ParseCsv(std::string_view(text).substr(3));
    ASSERT_EQ(rows.size(), GetParam().rows.size() + 1);
    std::string verbose;
    for (std::size_t i = 0; i < GetParam().rows.size(); ++i) {
        const std::vector<std::string> &expected = GetParam().rows[i];
        const std::vector<std::string> &row = rows[i + 1];
        SCOPED_TRACE(expected[1]);
        ASSERT_EQ(row.size(), 14u);
        EXPECT_EQ(row[0], expected[0]);
        EXPECT_EQ(row[1], resolve(expected[1]));
        EXPECT_EQ(row[2], resolve(expected[2]));
        EXPECT_EQ(row[10], expected[3]);
        EXPECT_EQ(row[13], expected[4]);
        if (row[0] != "converted") continue;
        EXPECT_EQ(row[3], std::to_string(fs::file_size(testing::SystemPath(row[1]))));
        EXPECT_EQ(row[4], "2012-07-01T10:00:00+00:00");
        EXPECT_EQ(ModifiedSeconds(testing::SystemPath(row[2])), GetParam().fileTime);
        verbose += row[1] + "\t" + row[2] + (row[10].empty() ? "" : "\t" + row[10]) + "\n";
    }
    EXPECT_EQ(outText.str(), verbose);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, MailboxIndex,
    ::testing::Values(MailboxIndexCase{"MaildirWithTheSourcesTime",
                                       {"--format=maildir", "--file-time=source", "-j3"},
                                       {{"converted", "S:b.msg", "O:" + InCur("b.msg"), "", "INBOX"},
                                        {"converted", "S:c.msg", "O:" + InCur("c.msg"), "", "INBOX"},
                                        {"renamed", "S:Inbox", "O:Inbox_/", "", ""},
                                        {"converted", "S:Inbox/a.msg", "O:Inbox_/" + InCur("Inbox/a.msg"), "",
                                         "Inbox_"}},
                                       kSourceTime},
                      MailboxIndexCase{"Mbox",
                                       {"--format=mbox", "-j3"},
                                       {{"renamed", "O:Inbox", "O:Inbox (1)", "", ""},
                                        {"converted", "S:b.msg", "O:Inbox (1)", "1", "INBOX"},
                                        {"converted", "S:c.msg", "O:Inbox (1)", "2", "INBOX"},
                                        {"renamed", "S:Inbox", "O:Inbox_", "", ""},
                                        {"converted", "S:Inbox/a.msg", "O:Inbox_", "1", "Inbox_"}},
                                       1341136800}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvelin
