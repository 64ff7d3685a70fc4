#include "cli/cli.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/progress_meter.h"
#include "conversion/mailbox/maildir_writer.h"
#include "conversion/output_folder.h"
#include "platform/path_split.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::Message;
using testing::Native;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct CliResult {
    int status;
    std::string out;
    std::string err;
};

CliResult RunTool(const std::vector<std::string> &args) {
    std::ostringstream out, err;
    const int status = RunCli(args, {out, err, false});
    return {status, out.str(), err.str()};
}

// A relative path in UTF-8 with "/" between its parts, whatever the system's separator.
std::string Generic(const fs::path &path) {
    const std::u8string text = path.generic_u8string();
    return {text.begin(), text.end()};
}

// Every regular file below `folder`, relative to it.
std::vector<std::string> FilesBelow(const fs::path &folder) {
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(Generic(fs::relative(entry.path(), folder)));
    std::sort(files.begin(), files.end());
    return files;
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
    const char *says;  // the one line before the usage line
};

class CliUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsage, BadUsageExitsWithTwoAndAHint) {
    const CliResult result = RunTool(GetParam().args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("see --help"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.substr(0, result.err.find('\n')), "tarvelin-cli: " + std::string(GetParam().says));
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliUsage,
    ::testing::Values(UsageCase{"NoOutput", {"a.msg"}, "-o, --output DIR is required"},
                      UsageCase{"NoPath", {"--output", "/tmp/x"}, "no PATH given"},
                      UsageCase{"UnknownOption", {"--frobnicate", "-o", "/tmp/x", "a.msg"},
                                "unknown option '--frobnicate'"},
                      UsageCase{"UnknownNaming", {"-o", "/tmp/x", "--naming", "OptXYZ", "a.msg"},
                                "unknown naming option 'OptXYZ'"},
                      UsageCase{"OutputWithoutValue", {"a.msg", "--output"}, "-o, --output needs a folder"},
                      UsageCase{"EmptyPath", {"-o", "/tmp/x", ""}, "an empty PATH names nothing"},
                      UsageCase{"UnknownShortInABundle", {"-qxo", "/tmp/x", "a.msg"}, "unknown option '-x'"},
                      UsageCase{"Ambiguous", {"--ver", "-o", "/tmp/x", "a.msg"},
                                "option '--ver' is ambiguous: --verbose, --version"},
                      UsageCase{"AmbiguousWithValue", {"--n=OptSD", "-o", "/tmp/x", "a.msg"},
                                "option '--n' is ambiguous: --naming, --null"},
                      UsageCase{"ValueForAFlag", {"--quiet=yes", "-o", "/tmp/x", "a.msg"}, "--quiet takes no value"},
                      UsageCase{"BundledOutputWithoutValue", {"a.msg", "-qo"}, "-o, --output needs a folder"},
                      UsageCase{"AbbreviatedNamingWithoutValue", {"-o", "/tmp/x", "a.msg", "--nam"},
                                "-n, --naming needs an option name"},
                      UsageCase{"EmptyOutput", {"--output=", "a.msg"}, "-o, --output needs a folder"},
                      UsageCase{"NoJobs", {"-j0", "-o", "/tmp/x", "a.msg"}, "-j, --jobs takes a number from 1 to 64, not '0'"},
                      UsageCase{"TooManyJobs", {"--jobs=65", "-o", "/tmp/x", "a.msg"},
                                "-j, --jobs takes a number from 1 to 64, not '65'"},
                      UsageCase{"JobsNotANumber", {"-j", "+4", "-o", "/tmp/x", "a.msg"},
                                "-j, --jobs takes a number from 1 to 64, not '+4'"},
                      UsageCase{"JobsWithoutValue", {"-o", "/tmp/x", "a.msg", "--jobs"}, "-j, --jobs needs a number"},
                      UsageCase{"UnknownFormat", {"-o", "/tmp/x", "--format=pst", "a.msg"},
                                "unknown format 'pst' (eml, maildir or mbox)"},
                      UsageCase{"NamingWithMaildir", {"-o", "/tmp/x", "-nOptSD", "--format=maildir", "a.msg"},
                                "-n, --naming applies to .eml files only, not to --format=maildir or mbox"},
                      UsageCase{"NamingWithMbox", {"-o", "/tmp/x", "--format=mbox", "-nOptOriginal", "a.msg"},
                                "-n, --naming applies to .eml files only, not to --format=maildir or mbox"},
                      UsageCase{"FileTimeWithMbox", {"-o", "/tmp/x", "--format=mbox", "--file-time=source", "a.msg"},
                                "--file-time does not apply to --format=mbox, whose messages carry their dates inside"},
                      UsageCase{"SkipIdenticalWithMbox", {"-o", "/tmp/x", "--format=mbox", "--skip", "a.msg"},
                                "--skip-identical does not apply to --format=mbox, which never adds to a file"},
                      UsageCase{"AccountsWithEml", {"-o", "/tmp/x", "--accounts", "Users"},
                                "--accounts applies to --format=maildir or mbox, not to .eml files"},
                      UsageCase{"MailboxNameWithEml", {"-o", "/tmp/x", "--mailbox-name=A=B", "a.msg"},
                                "--mailbox-name applies to --format=maildir or mbox, not to .eml files"},
                      UsageCase{"MailboxNameWithoutTo", {"-o", "/tmp/x", "--format=mbox", "--mailbox-name=Sent=", "a"},
                                "--mailbox-name takes FROM=TO, a folder's name and its mailbox's, not 'Sent='"},
                      UsageCase{"MailboxNameWithoutFrom", {"-o", "x", "--format=maildir", "--mailbox-name==Trash", "a"},
                                "--mailbox-name takes FROM=TO, a folder's name and its mailbox's, not '=Trash'"},
                      UsageCase{"MailboxNameOfTwoLevels", {"--format=mbox", "--mailbox-name", "Old=A/B", "-o", "x", "a"},
                                "--mailbox-name: 'A/B' is not one mailbox name (it holds a '/')"},
                      UsageCase{"SeenWithEml", {"-o", "/tmp/x", "--seen", "a.msg"}, "--seen applies to --format=maildir only"},
                      UsageCase{"SeenWithMbox", {"-o", "/tmp/x", "--format=mbox", "--seen", "a.msg"},
                                "--seen does not apply to --format=mbox: the read mark would be a header added to each "
                                "message"}),
    [](const auto &info) { return std::string(info.param.name); });

#ifdef _WIN32
INSTANTIATE_TEST_SUITE_P(
    Windows, CliUsage,
    ::testing::Values(UsageCase{"Seen", {"-o", "x", "--format=maildir", "--seen", "a.msg"},
                                "--seen does not work on Windows: the read mark is \":2,S\" in the file's name, and "
                                "Windows file names cannot hold \":\""}),
    [](const auto &info) { return std::string(info.param.name); });
#endif

// Spellings a user of cp or rsync would try; each converts the one message, quietly. "{out}" and
// "{src}" stand for the output folder and the message file.
class CliSpelling : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CliSpelling, IsUnderstood) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    std::vector<std::string> args = GetParam();
    for (std::string &arg : args) {
        for (const auto &[slot, value] : {std::pair<std::string, std::string>{"{out}", out.path().string()},
                                          {"{src}", src / "a.msg"}})
            if (const auto at = arg.find(slot); at != std::string::npos) arg.replace(at, slot.size(), value);
    }
    const CliResult result = RunTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(FilesBelow(out.path()), std::vector<std::string>{Generic(src.path().relative_path()) + "/A 01-07-2012.eml"});
}

constexpr const char *kSpellingNames[] = {"bundled", "attached", "long_with_values", "abbreviated",
                                         "double_dash", "jobs"};

INSTANTIATE_TEST_SUITE_P(Cases, CliSpelling,
                         ::testing::Values(std::vector<std::string>{"-qo", "{out}", "-nOptSD", "{src}"},
                                           std::vector<std::string>{"-q", "-o{out}", "-n", "optsd", "{src}"},
                                           std::vector<std::string>{"{src}", "--output={out}", "--naming=OptSD", "-q"},
                                           std::vector<std::string>{"--out", "{out}", "--nam", "subject-date", "--qu", "{src}"},
                                           std::vector<std::string>{"--out={out}", "--quiet", "-n", "optsd", "--", "{src}"},
                                           std::vector<std::string>{"-qj3", "--out={out}", "--jo", "1", "-nOptSD", "{src}"}),
                         [](const auto &info) { return std::string(kSpellingNames[info.index]); });

TEST(Cli, DoubleDashMakesTheRestPaths) {
    TempDir out;
    const CliResult result = RunTool({"-o", out.path().string(), "--", "--quiet"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(kNativeSeparator + std::string("--quiet: ")), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("0 converted, 1 failed"), std::string::npos) << result.err;
}

TEST(Cli, VersionIsTheProjectVersion) {
    for (const char *spelling : {"--version", "-V", "--vers"}) {
        const CliResult result = RunTool({spelling});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "tarvelin-cli " TARVELIN_VERSION "\n") << spelling;
    }
}

TEST(Cli, HelpDocumentsTheOptions) {
    const CliResult result = RunTool({"--help"});
    EXPECT_EQ(result.status, 0);
    for (const char *text : {"--output", "--naming", "--jobs", "--dry-run", "--quiet", "--format", "doveadm import",
                             "OptDFS_MYD", "Exit status"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

TEST(Cli, ConvertsFoldersAndFilesAndSummarises) {
    TempDir src, out;
    WriteFile(src / "tree/a.msg", Message("A"));
    WriteFile(src / "tree/sub/b.MSG", Message("B"));
    WriteFile(src / "tree/notes.txt", "not a message");
    WriteFile(src / "loose.msg", Message("Loose"));
    const CliResult result =
        RunTool({"--output", out.path().string(), "--naming", "optsd", src / "tree", src / "loose.msg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("3 converted, 0 failed, 0 skipped"), std::string::npos) << result.err;
    const std::string mirrored = Generic(src.path().relative_path());
    EXPECT_EQ(FilesBelow(out.path()),
              (std::vector<std::string>{mirrored + "/Loose 01-07-2012.eml",
                                        mirrored + "/tree/A 01-07-2012.eml",
                                        mirrored + "/tree/sub/B 01-07-2012.eml"}));
}

// Non-ASCII folder and file names and headers in three charsets: the same names and bytes on every
// system, the dry run's names first.
TEST(Cli, ConvertsANonAsciiTreeWithTheSameNamesEverywhere) {
    TempDir src, out;
    const std::string cyrillic = "From: =?UTF-8?B?0JDQvdC90LA=?= <anna@example.org>\r\n"
                                 "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\n"
                                 "Date: Tue, 3 Jul 2012 10:00:00 +0200\r\n\r\nbody 1\r\n";
    const std::string chinese = "From: Li <li@example.cn>\nSubject: =?GB2312?B?xOO6ww==?=\n"
                                "Date: 4 Jul 2012 08:00 +0800\n\nbody 2\n";
    const std::string greek = "From: Nikos <n@example.gr>\nSubject: =?ISO-8859-7?Q?=C3=E5=E9=DC?=\n"
                              "Date: 5 Jul 2012 09:00 +0300\n\nbody 3\n";
    const std::string device = "Subject: x\nDate: 6 Jul 2012 10:00 +0000\n\nnot a device\n";
    WriteFile(src / "Пошта/письмо.msg", cyrillic);
    WriteFile(src / "Пошта/邮件/信.msg", chinese);
    WriteFile(src / "Ελληνικά/a.msg", greek);
    WriteFile(src / "Ελληνικά/b.msg", greek);
    WriteFile(src / "Ελληνικά/con.msg", device);

    const CliResult dry = RunTool({"--output", out / "", "--naming", "optsd", "--dry-run", src / ""});
    ASSERT_EQ(dry.status, 0) << dry.err;
    EXPECT_TRUE(fs::is_empty(out.path()));
    EXPECT_NE(dry.out.find(Native("/Ελληνικά/Γειά 05-07-2012 (1).eml")), std::string::npos) << dry.out;

    const CliResult real = RunTool({"--output", out / "", "--naming", "optsd", src / ""});
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_NE(real.err.find("5 converted, 0 failed, 0 skipped"), std::string::npos) << real.err;
    const std::string mirrored = Generic(src.path().relative_path());
    const std::map<std::string, std::string> expected = {
        {mirrored + "/Ελληνικά/Γειά 05-07-2012 (1).eml", greek},
        {mirrored + "/Ελληνικά/Γειά 05-07-2012.eml", greek},
        {mirrored + "/Ελληνικά/x 06-07-2012.eml", device},
        {mirrored + "/Пошта/Привет 03-07-2012.eml", cyrillic},
        {mirrored + "/Пошта/邮件/你好 04-07-2012.eml", chinese},
    };
    std::vector<std::string> names;
    for (const auto &[name, bytes] : expected) {
        names.push_back(name);
        EXPECT_EQ(ReadFile(out / name), bytes) << name;
    }
    EXPECT_EQ(FilesBelow(out.path()), names);

    // The original scheme keeps the file's own name; on Windows a device name gets a leading "_".
    ASSERT_EQ(RunTool({"--output", out / "", "--naming", "original", src / "Ελληνικά/con.msg"}).status, 0);
#ifdef _WIN32
    const std::string deviceCopy = "_con.eml.eml";
#else
    const std::string deviceCopy = "con.eml.eml";
#endif
    EXPECT_TRUE(fs::exists(testing::SystemPath(out / (mirrored + "/Ελληνικά/" + deviceCopy))));
}

struct PrintCase {
    const char *name;
    std::vector<std::pair<std::string, std::string>> messages;  // path below the source, subject
};

void PrintTo(const PrintCase &c, std::ostream *os) { *os << c.name; }

class DryRunPrints : public ::testing::TestWithParam<PrintCase> {};

TEST_P(DryRunPrints, ExactlyWhatARealRunWrites) {
    TempDir src, out;
    for (const auto &[path, subject] : GetParam().messages) WriteFile(src / path, Message(subject));
    const std::vector<std::string> args = {"-o", out.path().string(), "-n", "OptSD", src / "x"};

    std::vector<std::string> dryArgs = args;
    dryArgs.push_back("--dry-run");
    const CliResult dry = RunTool(dryArgs);
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(fs::is_empty(out.path()));  // nothing written

    const CliResult real = RunTool(args);
    EXPECT_EQ(real.status, 0);
    std::vector<std::string> printed;
    std::istringstream lines(dry.out);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos);
        EXPECT_EQ(ReadFile(line.substr(tab + 1)), ReadFile(line.substr(0, tab)));
        printed.push_back(Generic(fs::relative(line.substr(tab + 1), out.path())));
    }
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(printed, FilesBelow(out.path()));
    EXPECT_EQ(printed.size(), GetParam().messages.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DryRunPrints,
    ::testing::Values(PrintCase{"PlainAndNumbered",
                                {{"x/1.msg", "Same"}, {"x/2.msg", "Same"}, {"x/3.msg", "Same"}, {"x/4.msg", "Other"}}},
                      // Windows takes the two names for one, so there the second is numbered.
                      PrintCase{"NamesAlikeButForCase", {{"x/1.msg", "Re: Meeting"}, {"x/2.msg", "RE: Meeting"}}}),
    [](const auto &info) { return std::string(info.param.name); });

// The dry run makes the real run's checks: for each of these the two print the same failures,
// name the same files and end with the same status.
struct DryCase {
    const char *name;
    // Arranges the trees and returns the PATH arguments.
    std::vector<std::string> (*arrange)(const TempDir &src, const TempDir &out);
};

void PrintTo(const DryCase &c, std::ostream *os) { *os << c.name; }

class DryRun : public ::testing::TestWithParam<DryCase> {};

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

TEST_P(DryRun, FailsAndNamesAsTheRealRunDoes) {
    TempDir src, out;
    WriteFile(src / "ok/a.msg", Message("A"));
    std::vector<std::string> args = {"-o", out.path().string(), "-n", "OptSD", src / "ok"};
    for (const std::string &path : GetParam().arrange(src, out)) args.push_back(path);
    const auto before = testing::Snapshot(out.path());

    std::vector<std::string> dryArgs = args;
    dryArgs.push_back("--dry-run");
    const CliResult dry = RunTool(dryArgs);
    EXPECT_TRUE(testing::Snapshot(out.path()) == before);  // nothing written
    const CliResult real = RunTool(args);

    EXPECT_EQ(dry.status, real.status);
    std::string dryErr = dry.err;
    const auto would = dryErr.rfind(" would convert, ");
    ASSERT_NE(would, std::string::npos) << dryErr;
    EXPECT_EQ(dryErr.replace(would, 15, " converted,"), real.err);
    std::vector<std::string> written;
    for (const std::string &line : Lines(dry.out)) written.push_back(line.substr(line.find('\t') + 1));
    for (const std::string &path : written) EXPECT_TRUE(fs::is_regular_file(testing::SystemPath(path))) << path;
    EXPECT_EQ(written.size(), testing::Snapshot(out.path()).size() - before.size());
}

const DryCase kDryCases[] = {
#ifndef _WIN32
    DryCase{"Fifo",
            [](const TempDir &src, const TempDir &) -> std::vector<std::string> {
                fs::create_directories(src.path() / "p");
                EXPECT_EQ(::mkfifo((src / "p/p.msg").c_str(), 0644), 0);
                return {src / "p"};
            }},
    DryCase{"Device", [](const TempDir &, const TempDir &) -> std::vector<std::string> { return {"/dev/null"}; }},
#else
    DryCase{"Device", [](const TempDir &, const TempDir &) -> std::vector<std::string> { return {R"(\\.\NUL)"}; }},
#endif
    DryCase{"OutputFolderBlockedByAFile",
            [](const TempDir &src, const TempDir &out) -> std::vector<std::string> {
                WriteFile(src / "blocked/b.msg", Message("B"));
                WriteFile(out / (src.path().relative_path() / "blocked").string(), "a file");
                return {src / "blocked"};
            }},
    DryCase{"NamesTaken",
            [](const TempDir &src, const TempDir &out) -> std::vector<std::string> {
                WriteFile(src / "t/1.msg", Message("T"));
                WriteFile(src / "t/2.msg", Message("T"));
                WriteFile(out / (src.path().relative_path() / "t/T 01-07-2012.eml").string(), "older");
                return {src / "t"};
            }},
    // Names Windows takes as written only in the \\?\ form, and a read-only message.
    DryCase{"DeviceName",
            [](const TempDir &src, const TempDir &) -> std::vector<std::string> {
                WriteFile(src / "dev/1.msg", "Subject: COM1\n\n");  // no date: "COM1 "
                return {src / "dev"};
            }},
    DryCase{"FoldersWithTrailingDotsAndBlanks",
            [](const TempDir &src, const TempDir &) -> std::vector<std::string> {
                for (const std::string folder : {"d/d", "d/d.", "d/d "})
                    WriteFile(src / (folder + "/1.msg"), Message("D"));
                return {src / "d"};
            }},
    DryCase{"ReadOnlyMessage",
            [](const TempDir &src, const TempDir &) -> std::vector<std::string> {
                WriteFile(src / "ro/1.msg", Message("R"));
                fs::permissions(testing::SystemPath(src / "ro/1.msg"), fs::perms::owner_read);
                return {src / "ro"};
            }},
};

INSTANTIATE_TEST_SUITE_P(Cases, DryRun, ::testing::ValuesIn(kDryCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Cli, FolderWithoutMessagesReportsNothingSkipped) {
    TempDir src, out;
    WriteFile(src / "notes.txt", "not a message");
    const CliResult result = RunTool({"-o", out.path().string(), src.path().string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("0 converted, 0 failed, 0 skipped"), std::string::npos) << result.err;
}

// A rerun with --skip-identical adds exactly what is missing; a message of the same name but other
// bytes is still numbered; without the flag every message is copied again.
TEST(Cli, SkipIdenticalResumesWithoutSecondCopies) {
    TempDir src, out;
    for (const char *name : {"1.msg", "2.msg", "3.msg"}) WriteFile(src / ("x/" + std::string(name)), Message("Same") + name);
    WriteFile(src / "x/4.msg", Message("Other"));
    const std::vector<std::string> args = {"-o", out.path().string(), "-n", "OptSD", src / "x", "--skip-identical"};
    ASSERT_EQ(RunTool(args).status, 0);
    const auto complete = testing::Snapshot(out.path());
    ASSERT_EQ(complete.size(), 4u);

    // As if the first run had stopped before its last two messages.
    const std::string folder = (out.path() / src.path().relative_path() / "x").string();
    fs::remove(folder + "/Same 01-07-2012 (2).eml");
    fs::remove(folder + "/Other 01-07-2012.eml");
    const CliResult resumed = RunTool(args);
    EXPECT_EQ(resumed.status, 0);
    EXPECT_NE(resumed.err.find("2 converted, 2 already there, 0 failed"), std::string::npos) << resumed.err;
    EXPECT_TRUE(testing::Snapshot(out.path()) == complete);

    std::vector<std::string> verbose = args;
    verbose.push_back("-v");
    WriteFile(src / "x/2.msg", Message("Same") + "changed");
    const CliResult changed = RunTool(verbose);
    EXPECT_NE(changed.err.find("1 converted, 3 already there"), std::string::npos);
    const std::string alreadyThere = (fs::path(src / "x") / "4.msg").string() + ": already there as " +
                                     (fs::path(folder) / "Other 01-07-2012.eml").string() + "\n";
    EXPECT_NE(changed.err.find(alreadyThere), std::string::npos) << changed.err;
    EXPECT_EQ(changed.out.find("4.msg"), std::string::npos) << changed.out;
    EXPECT_EQ(ReadFile(folder + "/Same 01-07-2012 (3).eml"), Message("Same") + "changed");

    std::vector<std::string> again = args;
    again.pop_back();
    EXPECT_NE(RunTool(again).err.find("4 converted"), std::string::npos);
    EXPECT_EQ(FilesBelow(out.path()).size(), 9u);
}

// The real program, stopped by a signal while it copies a large message: it ends with 128 +
// the signal, says how far it got, and leaves only complete copies and no temporary file.
TEST(Cli, SignalStopsTheRunLeavingOnlyCompleteCopies) {
#ifdef _WIN32
    GTEST_SKIP() << "sends POSIX signals to a child process (fork, kill, waitpid)";
#else
    TempDir src, out;
    WriteFile(src / "x/0.msg", Message("first"));
    WriteFile(src / "x/1.msg", Message("big") + std::string(256 * 1024 * 1024, 'b'));
    for (int i = 2; i < 200; ++i) WriteFile(src / ("x/" + std::to_string(i) + ".msg"), Message("m"));
    for (const int signal : {SIGINT, SIGTERM}) {
        fs::remove_all(out.path());
        fs::create_directories(out.path());
        const std::string errFile = (out.path() / "err.txt").string();
        const std::string outFolder = (out.path() / "o").string();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::freopen(errFile.c_str(), "w", stderr);
            ::execl(TARVELIN_CLI_BINARY, "tarvelin-cli", "-o", outFolder.c_str(), (src / "x").c_str(), nullptr);
            ::_exit(127);
        }
        // Signal once the first message is in place: the large one is being copied then.
        const std::string first = (fs::path(outFolder) / src.path().relative_path() / "x/0.eml.eml").string();
        for (int wait = 0; wait < 10000 && !fs::exists(first); ++wait) ::usleep(1000);
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_NE(ReadFile(errFile).find("stopped after"), std::string::npos) << ReadFile(errFile);
        for (const auto &entry : fs::recursive_directory_iterator(outFolder)) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            ASSERT_EQ(name.find(".tarvelin-"), std::string::npos);
            EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(src / ("x/" + name.substr(0, name.find('.')) + ".msg")))
                << name;
        }
    }
#endif
}

TEST(Cli, AnyFailureExitsWithOneAndNamesThePath) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    const std::string missing = src / "missing.msg";
    const CliResult result = RunTool({"-o", out.path().string(), src / "a.msg", missing, "--quiet"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(missing + ": "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("converted"), std::string::npos);  // --quiet: no summary
    EXPECT_EQ(FilesBelow(out.path()).size(), 1u);
}

TEST(Cli, DrawsAProgressBarOnlyOnATerminalAndNotWhenQuiet) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    for (const bool quiet : {false, true}) {
        std::ostringstream output, err;
        std::vector<std::string> args = {"-o", out.path().string(), src / "a.msg"};
        if (quiet) args.push_back("--quiet");
        RunCli(args, {output, err, true});
        EXPECT_EQ(err.str().find("msg/s") != std::string::npos, !quiet) << err.str();
        EXPECT_EQ(err.str().find("1/1") != std::string::npos, !quiet) << err.str();
    }
}

// An output folder that would fail every message alike is reported once, before anything is read
// or created, by the dry run as by the real one.
struct OutputCase {
    const char *name;
    // Arranges `out` and returns the output folder to give, or "" when the case cannot be made here.
    std::string (*arrange)(const TempDir &out);
    const char *says;
    bool heldByAnotherRun = false;
};

void PrintTo(const OutputCase &c, std::ostream *os) { *os << c.name; }

class UnusableOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(UnusableOutput, IsReportedOnceAndExitsWithTwo) {
    TempDir src, out;
    for (const char *name : {"a.msg", "b.msg", "c.msg"}) WriteFile(src / name, Message(name));
    const std::string folder = GetParam().arrange(out);
    if (folder.empty()) GTEST_SKIP() << "no folder that refuses new files can be made here";
    OutputFolderHold other;
    if (GetParam().heldByAnotherRun) {
        ASSERT_TRUE(other.Take(folder));
    }
    const auto before = testing::Snapshot(out.path());
    for (const bool dryRun : {true, false}) {
        std::vector<std::string> args = {"-o", folder, src.path().string()};
        if (dryRun) args.push_back("--dry-run");
        const CliResult result = RunTool(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.err.rfind("tarvelin-cli: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(GetParam().says), std::string::npos) << result.err;
        EXPECT_TRUE(testing::Snapshot(out.path()) == before);
    }
#ifndef _WIN32
    ::umount2(folder.c_str(), MNT_DETACH);
#endif
}

const OutputCase kUnusableOutputs[] = {
    OutputCase{"IsAFile",
               [](const TempDir &out) {
                   WriteFile(out.path() / "file", "a file");
                   return out / "file";
               },
               "a file of that name is in the way"},
    OutputCase{"BelowAFile",
               [](const TempDir &out) {
                   WriteFile(out.path() / "file", "a file");
                   return out / "file/sub";
               },
               "a file of that name is in the way"},
    OutputCase{"AnotherRunWrites", [](const TempDir &out) { return out / "busy"; },
               "another run of Tarvelin is writing to it", true},
#ifndef _WIN32
    OutputCase{"DanglingLink",
               [](const TempDir &out) {
                   fs::create_symlink(out.path() / "nowhere", out.path() / "link");
                   return out / "link";
               },
               "a symbolic link that leads nowhere is in the way"},
    OutputCase{"BelowADanglingLink",
               [](const TempDir &out) {
                   fs::create_symlink(out.path() / "nowhere", out.path() / "link");
                   return out / "link/sub";
               },
               "a symbolic link that leads nowhere is in the way"},
    // Windows tells that a folder refuses new files only by trying.
    OutputCase{"RefusesNewFiles",
               [](const TempDir &out) -> std::string {
                   // Root writes through any mode bits; a read-only file system stops it too.
                   const std::string folder = out / "locked";
                   fs::create_directories(folder);
                   if (::geteuid() != 0) return ::chmod(folder.c_str(), 0555) == 0 ? folder : "";
                   const bool mounted = ::mount("tarvelin-test", folder.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
                   return mounted ? folder : "";
               },
               "cannot write to the folder"},
#endif
};

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusableOutput, ::testing::ValuesIn(kUnusableOutputs),
    [](const auto &info) { return std::string(info.param.name); });

// -v prints what a real run wrote as --dry-run prints what it would write; with -z the fields end
// in NUL, so a name holding a TAB or a newline reads back whole.
struct ListingCase {
    const char *name;
    std::vector<std::string> flags;
    const char *folder;  // the source folder below the temporary one; mirrored into the output
};

void PrintTo(const ListingCase &c, std::ostream *os) { *os << c.name; }

class Listing : public ::testing::TestWithParam<ListingCase> {};

TEST_P(Listing, NamesEachMessageAndItsOutput) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows names hold no TAB or newline, and the expected paths are written the POSIX way";
#endif
    TempDir src, out;
    const std::string source = src / (GetParam().folder + std::string("/a.msg"));
    WriteFile(source, Message("A"));
    std::vector<std::string> args = {"-q", "-o", out.path().string(), source};
    args.insert(args.end(), GetParam().flags.begin(), GetParam().flags.end());
    const bool dryRun = std::find(args.begin(), args.end(), "--dry-run") != args.end();
    const bool nul = std::find(args.begin(), args.end(), "-z") != args.end();

    const CliResult result = RunTool(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string output = out.path().string() + source.substr(0, source.size() - 4) + ".eml.eml";
    EXPECT_EQ(result.out, nul ? source + '\0' + output + '\0' : source + '\t' + output + '\n');
    EXPECT_EQ(fs::exists(output), !dryRun);
}

INSTANTIATE_TEST_SUITE_P(Cases, Listing,
                         ::testing::Values(ListingCase{"Verbose", {"-v"}, "plain"},
                                           ListingCase{"DryRun", {"--dry-run"}, "plain"},
                                           ListingCase{"VerboseNul", {"-v", "-z"}, "tab\there\nnewline"},
                                           ListingCase{"DryRunNul", {"--dry-run", "-z"}, "tab\there\nnewline"}),
                         [](const auto &info) { return std::string(info.param.name); });

struct Placed {
    std::string file;     // below frank's folder
    std::string mailbox;  // in the index
    std::string written;  // below frank's tree: the Maildir's folder, or the mbox file
};

struct AccountsCase {
    const char *name;
    std::string format;
    std::vector<std::string> options;
    bool seen;
    std::vector<Placed> messages;
};

class AccountsRun : public ::testing::TestWithParam<AccountsCase> {};

// Each account of a store gets its own tree, an empty account an INBOX, and a message outside
// the accounts fails; the dry run prints what the real run writes, the index names each message's
// account and mailbox, and a rerun with --skip-identical finds every message in place.
TEST_P(AccountsRun, GivesEachAccountItsTree) {
    const AccountsCase &c = GetParam();
#ifdef _WIN32
    if (c.seen) GTEST_SKIP() << "--seen is a usage error on Windows";
#endif
    const bool maildir = c.format == "maildir";
    TempDir src, out;
    for (const std::string path : {"Users/stray.msg", "Users/example.com/loose.msg"}) WriteFile(src / path, Message(path));
    // The index of the messages' flags, and the account's outputs and index rows.
    WriteFile(src / "Users/example.com/frank/imap.mrk", "\x01 an index, not a message");
    std::vector<std::string> written = {maildir ? "example.org/bob/cur" : "example.org/bob/Inbox"};
    std::vector<std::string> indexed = {",,", ",,"};
    for (const Placed &m : c.messages) {
        WriteFile(src / ("Users/example.com/frank/" + m.file), Message(m.file));
        const std::string folder = m.written.empty() ? "" : m.written + "/";
        written.push_back("example.com/frank/" +
                          (maildir ? folder + "cur/" + MaildirFileName(1341136800, MaildirToken(m.file), c.seen)
                                   : m.written));
        indexed.push_back("example.com,frank," + m.mailbox);
    }
    fs::create_directories(src.path() / "Users/example.org/bob");
    std::vector<std::string> args = {"--format=" + c.format, "--accounts", "-o", testing::Utf8(out.path()),
                                     src / "Users"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::vector<std::string> dryArgs = args, realArgs = args;
    dryArgs.push_back("--dry-run");
    realArgs.insert(realArgs.end(), {"-v", "--index", src / "index.csv"});
    const CliResult dry = RunTool(dryArgs);
    EXPECT_TRUE(fs::is_empty(out.path()));
    const CliResult real = RunTool(realArgs);

    const std::string reason = ": not in an account's folder (" + Native("Users/<domain>/<account>/") +
                               "), so it belongs to no mailbox\n";
    const std::string failures = src / "Users/stray.msg" + reason + src / "Users/example.com/loose.msg" + reason;
    const std::string count = std::to_string(c.messages.size());
    EXPECT_EQ(real.status, 1);
    EXPECT_EQ(real.err, failures + count + " converted, 2 failed, 0 skipped in 2 accounts\n");
    EXPECT_EQ(dry.status, 1);
    EXPECT_EQ(dry.err, failures + count + " would convert, 2 failed, 0 skipped in 2 accounts\n");
    EXPECT_EQ(dry.out, real.out);

    // An empty Maildir is its folders, with no file in them.
    std::vector<std::string> found = FilesBelow(out.path());
    if (maildir && fs::is_directory(out.path() / "example.org/bob/cur")) found.push_back("example.org/bob/cur");
    std::sort(found.begin(), found.end());
    std::sort(written.begin(), written.end());
    written.erase(std::unique(written.begin(), written.end()), written.end());
    EXPECT_EQ(found, written);
    // INBOX's children lie in a folder that is no mailbox.
    if (maildir) {
        EXPECT_FALSE(fs::exists(out.path() / "example.com/frank/INBOX/cur"));
    }

    // The index's last three cells; none of them holds a comma here.
    std::vector<std::string> rows;
    std::istringstream index(ReadFile(src / "index.csv"));
    for (std::string line; std::getline(index, line);) {
        std::size_t cut = line.size() - 1;  // before the CR of CR LF
        for (int cell = 0; cell < 3; ++cell) cut = line.rfind(',', cut - 1);
        rows.push_back(line.substr(cut + 1, line.size() - cut - 2));
    }
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), "domain,account,mailbox");
    rows.erase(rows.begin());
    std::sort(rows.begin(), rows.end());
    std::sort(indexed.begin(), indexed.end());
    EXPECT_EQ(rows, indexed);

    if (!maildir) return;
    args.push_back("--skip-identical");
    const CliResult rerun = RunTool(args);
    EXPECT_EQ(rerun.status, 1);
    EXPECT_EQ(rerun.err, failures + "0 converted, " + count + " already there, 2 failed, 0 skipped in 2 accounts\n");
    EXPECT_EQ(FilesBelow(out.path()).size(), c.messages.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccountsRun,
    ::testing::Values(
        AccountsCase{"Maildir",
                     "maildir",
                     {},
                     false,
                     {{"md1.msg", "INBOX", ""},
                      {"Inbox.IMAP/md2.msg", "INBOX", ""},
                      {"Inbox.IMAP/Projects.IMAP/md3.msg", "INBOX/Projects", "INBOX/Projects"},
                      {"Sent Items.IMAP/md4.msg", "Sent", "Sent"},
                      // Maildir's folders hold IMAP's modified UTF-7, as Dovecot reads them.
                      {"Ärchiv 2019.IMAP/md5.msg", "Ärchiv 2019", "&AMQ-rchiv 2019"}}},
        AccountsCase{"MaildirSeenAndNamesMapped",
                     "maildir",
                     {"--seen", "--mailbox-name=Sent Items=Sent Items", "--mailbox-name", "Ärchiv 2019=Archive"},
                     true,
                     {{"md1.msg", "INBOX", ""},
                      {"Sent Items.IMAP/md2.msg", "Sent Items", "Sent Items"},
                      {"Deleted Items.IMAP/md3.msg", "Trash", "Trash"},
                      {"Ärchiv 2019.IMAP/md4.msg", "Archive", "Archive"}}},
        AccountsCase{"MboxThreeJobs",
                     "mbox",
                     {"-j3", "--mailbox-name=Deleted Items=Papierkorb"},
                     false,
                     {{"md1.msg", "INBOX", "Inbox"},
                      {"Inbox.IMAP/Projects.IMAP/md2.msg", "INBOX/Projects", "Inbox.sbd/Projects"},
                      {"Sent Items.IMAP/md3.msg", "Sent", "Sent"},
                      {"Deleted Items.IMAP/md4.msg", "Papierkorb", "Papierkorb"},
                      {"Ärchiv 2019.IMAP/md5.msg", "Ärchiv 2019", "Ärchiv 2019"}}}),
    [](const auto &info) { return std::string(info.param.name); });

// Every line the meter draws, as the terminal would show it.
std::vector<std::string> DrawnLines(const std::string &err) {
    std::vector<std::string> lines;
    std::string line;
    for (std::istringstream stream(err); std::getline(stream, line, '\r');) {
        for (const std::string erase : {"\x1b[K", "\n"})
            for (auto at = line.find(erase); at != std::string::npos; at = line.find(erase)) line.erase(at, erase.size());
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

TEST(ProgressLine, FitsTheTerminalAndSaysWhatTheScanFound) {
    const std::vector<int> widths = {8, 20, 50, 200};
    std::vector<std::ostringstream> errs(widths.size());
    std::vector<std::unique_ptr<ProgressMeter>> meters;
    for (std::size_t i = 0; i < widths.size(); ++i)
        meters.push_back(std::make_unique<ProgressMeter>(errs[i], [columns = widths[i]] { return columns; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // a quick scan shows nothing
    for (std::size_t i = 0; i < widths.size(); ++i) {
        meters[i]->Scanning(1234567);
        meters[i]->Start(123456789);
        meters[i]->Update(61728394);
        meters[i]->Finish();
        const std::vector<std::string> lines = DrawnLines(errs[i].str());
        ASSERT_EQ(lines.size(), 2u) << errs[i].str();
        for (const std::string &line : lines) EXPECT_LT(line.size(), static_cast<std::size_t>(widths[i])) << line;
        if (widths[i] >= 50) {
            EXPECT_EQ(lines[0], "Scanning: 1,234,567 messages found");
            EXPECT_NE(lines[1].find(" 61,728,394/123,456,789"), std::string::npos) << lines[1];
        }
    }
    // The whole program on a 50-column terminal.
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    std::ostringstream output, err;
    CliStreams streams{output, err, true};
    streams.columns = [] { return 50; };
    ASSERT_EQ(RunCli({"-o", out.path().string(), src / "a.msg"}, streams), 0);
    for (const std::string &line : DrawnLines(err.str())) EXPECT_LT(line.size(), 50u) << line;
}

// An output folder inside a PATH is not read back, in any format: run twice, the second run finds
// the same two messages (an mbox file "arch.msg" of the folder "arch.msg/" is none), and -v says
// once that the folder was left out.
TEST(Cli, OutputFolderBelowAPathIsLeftOutOfItsScan) {
    for (const std::string format : {"eml", "maildir", "mbox"}) {
        SCOPED_TRACE(format);
        TempDir src;
        WriteFile(src / "a.msg", Message("A"));
        WriteFile(src / "arch.msg/b.msg", Message("B"));
        const std::vector<std::string> args = {"-v", "--format=" + format, "-o", src / "out", src.path().string()};
        ASSERT_EQ(RunTool(args).status, 0);
        const CliResult again = RunTool(args);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.err.find("2 converted, 0 failed"), std::string::npos) << again.err;
        const std::string leftOut =
            src / "out" + kNativeSeparator + ": left out of the scan: it is the output folder\n";
        EXPECT_EQ(again.err.find(leftOut), again.err.rfind(leftOut)) << again.err;
        EXPECT_NE(again.err.find(leftOut), std::string::npos) << again.err;
    }
}

// A failure is one line whatever its path holds: control characters and bytes that are not UTF-8
// are escaped; with -z the line ends in NUL.
TEST(Cli, FailureIsOneLineWhateverThePathHolds) {
    TempDir src, out;
    const std::string missing = src / "new\nline\xFF.msg";
    for (const bool nul : {false, true}) {
        std::vector<std::string> args = {"-q", "-o", out.path().string(), missing};
        if (nul) args.push_back("-z");
        const CliResult result = RunTool(args);
        EXPECT_EQ(result.status, 1);
        ASSERT_FALSE(result.err.empty());
        EXPECT_EQ(result.err.rfind(src / "new%0Aline", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(".msg: cannot open the message: "), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), nul ? 0 : 1) << result.err;
        EXPECT_EQ(result.err.back(), nul ? '\0' : '\n');
#ifndef _WIN32
        // Windows holds paths in UTF-16, where such a byte is U+FFFD already.
        EXPECT_NE(result.err.find("new%0Aline%FF.msg: "), std::string::npos) << result.err;
#endif
    }
}

// Relative parent parts stay below the output folder; on Windows the \\?\ form of a PATH or of
// the output folder mirrors as the plain one.
TEST(Cli, OtherFormsOfAPathMirrorAsThePlainOne) {
    TempDir src;
    WriteFile(src / "a/a.msg", Message("A"));
    const struct {
        std::string outputPrefix, source;
    } forms[] = {
        {"", (src.path() / "a" / ".." / "a" / "a.msg").string()},
#ifdef _WIN32
        {"", R"(\\?\)" + src / "a"},
        {R"(\\?\)", src / "a/a.msg"},
#endif
    };
    for (const auto &form : forms) {
        SCOPED_TRACE(form.outputPrefix + " " + form.source);
        TempDir out;
        const CliResult result = RunTool({"-o", form.outputPrefix + out.path().string(), form.source});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(FilesBelow(out.path()),
                  std::vector<std::string>{Generic(src.path().relative_path()) + "/a/a.eml.eml"});
    }
}

}  // namespace
}  // namespace tarvelin
