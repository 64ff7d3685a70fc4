#include "conversion/mailbox_run.h"
#include "conversion/mailbox/mbox_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::Message;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

class Recorder : public RunObserver {
public:
    int stopAfterYields = -1;
    int yields = 0;
    std::vector<std::string> written, changed;
    std::vector<std::string> events;  // everything heard, in order

    void Yield() override { ++yields; }
    bool StopRequested() const override { return stopAfterYields >= 0 && yields >= stopAfterYields; }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t number,
                        const MessageFacts &facts) override {
        written.push_back(output + (number > 0 ? "#" + std::to_string(number) : ""));
        events.push_back(source + " -> " + written.back() + " " + facts.subject);
    }
    void MessageAlreadyThere(const std::string &source, const std::string &output, const MessageFacts &) override {
        events.push_back(source + " there " + output);
    }
    void MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &) override {
        events.push_back(source + " failed " + reason);
    }
    void NameChanged(const std::string &wanted, const std::string &shown) override {
        changed.push_back(wanted + " -> " + shown);
        events.push_back(changed.back());
    }
};

// Every file below the folder, relative, with "/" between names.
std::vector<std::string> FilesBelow(const fs::path &folder) {
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

// A run through the real file system.
ConversionReport Convert(const std::vector<MailboxSource> &sources, const fs::path &out, RunObserver &observer,
                         MailboxRunOptions options) {
    NativeFileService files;
    return RunMailboxConversion(sources, testing::Utf8(out), observer, files, options);
}

std::vector<MailboxSource> Sources(const TempDir &src, const std::vector<std::string> &relatives) {
    std::vector<MailboxSource> sources;
    for (const std::string &relative : relatives) sources.push_back({src / relative, testing::Utf8(src.path())});
    return sources;
}

TEST(MaildirRun, RerunNumbersNewCopiesOrFindsTheSameBytesAndClearsOurLeftovers) {
    TempDir src, out;
    WriteFile(src / "new/a.msg", Message("A"));
    const auto sources = Sources(src, {"new/a.msg"});
    Recorder first;
    EXPECT_TRUE(Convert(sources, out.path(), first, {}).AllConverted());
    ASSERT_EQ(first.written.size(), 1u);
    EXPECT_EQ(first.changed, std::vector<std::string>{src / "new" + " -> " + out / "new_/"});
    // The received date a server reads: the message's Date, 1 July 2012 10:00 UTC.
    const auto time = fs::last_write_time(testing::SystemPath(first.written[0]));
    EXPECT_EQ(std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(time)), 1341136800);

    WriteFile(out / "new_/tmp/.tarvelin-abc.part", "left by a stopped run");
    WriteFile(out / "new_/tmp/1.other", "not ours");
    Recorder again;
    EXPECT_EQ(Convert(sources, out.path(), again, {}).converted, 1);
    Recorder resumed;
    const ConversionReport report = Convert(sources, out.path(), resumed, {MailboxFormat::Maildir, true});
    EXPECT_EQ(report.alreadyThere, 1);
    EXPECT_EQ(report.converted, 0);

    const std::string name = fs::path(first.written[0]).filename().string();
    const std::string second = name.substr(0, name.size() - 9) + "-2.tarvelin";
    EXPECT_EQ(FilesBelow(out.path()), (std::vector<std::string>{"new_/cur/" + second, "new_/cur/" + name,
                                                                "new_/tmp/1.other"}));
}

// Fixed names, so that the same tree gives the same Maildir on every system (Windows under Wine too).
TEST(MaildirRun, NamesAreTheSameOnEverySystem) {
    TempDir src, out;
    const std::vector<std::string> messages = {"one.msg", "Sent Items/s.msg", "\xC3\x84rchiv/x.msg", "a/b/d.msg",
                                               "new/n.msg"};
    for (const std::string &message : messages) WriteFile(src / message, Message(message));
    Recorder observer;
    EXPECT_TRUE(Convert(Sources(src, messages), out.path(), observer, {}).AllConverted());
    EXPECT_EQ(FilesBelow(out.path()), (std::vector<std::string>{
                                          "&AMQ-rchiv/cur/1341136800.H2792f3f33502f9e3.tarvelin",
                                          "Sent Items/cur/1341136800.H20fd637021f0942b.tarvelin",
                                          "a/b/cur/1341136800.H6c59a61ba55de87c.tarvelin",
                                          "cur/1341136800.H5206e6a69c71f82a.tarvelin",
                                          "new_/cur/1341136800.Hfed56e52a0d32a12.tarvelin",
                                      }));
    // The parent of a/b holds no message but is a mailbox all the same.
    for (const char *part : {"cur", "new", "tmp"}) EXPECT_TRUE(fs::is_directory(out.path() / "a" / part)) << part;
}

// The first copy still waits for its name when the second row, the same file, looks for it.
TEST(MaildirRun, SameFileListedTwiceIsFoundAlreadyThereBeforeItIsNamed) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    Recorder observer;
    const ConversionReport report =
        Convert(Sources(src, {"a.msg", "a.msg"}), out.path(), observer, {MailboxFormat::Maildir, true});
    EXPECT_EQ(report.converted, 1);
    EXPECT_EQ(report.alreadyThere, 1);
    EXPECT_EQ(FilesBelow(out.path()).size(), 1u);
}

TEST(MboxRun, NeverReplacesAFileAndGivesAParentWithoutMessagesItsFile) {
    TempDir src, out;
    WriteFile(src / "in.msg", Message("In"));
    WriteFile(src / "p/q/deep.msg", Message("Deep"));
    WriteFile(out / "Inbox", "mine");
    Recorder observer;
    // p's only message cannot be read: p still needs its file for q to be found.
    const ConversionReport report =
        Convert(Sources(src, {"in.msg", "p/gone.msg", "p/q/deep.msg"}), out.path(), observer, {MailboxFormat::Mbox});
    EXPECT_EQ(report.converted, 2);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, src / "p/gone.msg");
    EXPECT_EQ(observer.written, (std::vector<std::string>{out / "Inbox (1)#1", out / "p.sbd/q#1"}));
    EXPECT_EQ(observer.changed, std::vector<std::string>{out / "Inbox" + " -> " + out / "Inbox (1)"});
    EXPECT_EQ(FilesBelow(out.path()), (std::vector<std::string>{"Inbox", "Inbox (1)", "p", "p.sbd/q"}));
    EXPECT_EQ(ReadFile(out / "Inbox"), "mine");
    EXPECT_EQ(ReadFile(out / "p"), "");
}

struct FormatCase {
    const char *name;
    MailboxFormat format;
    unsigned jobs;
};

class MergedFolders : public ::testing::TestWithParam<FormatCase> {};

// Folders that end with one name share the mailbox in list order; the merge is said once, for the
// folder that joins, and not again for its subfolders.
TEST_P(MergedFolders, ShareOneMailboxInListOrderAndAreReportedOnce) {
    TempDir src, out;
    const std::vector<std::string> relatives = {"A/1.msg", "A.IMAP/2.msg", "A.imap/3.msg", "A/x/4.msg",
                                                "A.IMAP/x.IMAP/5.msg", "Sent.IMAP/6.msg", "Sent Items.IMAP/7.msg"};
    for (const std::string &relative : relatives) WriteFile(src / relative, Message(relative));
    Recorder observer;
    const bool maildir = GetParam().format == MailboxFormat::Maildir;
    EXPECT_TRUE(Convert(Sources(src, relatives), out.path(), observer, {GetParam().format, false, GetParam().jobs})
                    .AllConverted());
    // A Maildir is a folder, said with the system's separator after it.
    const std::string slash = maildir ? testing::Native("/") : "";
    EXPECT_EQ(observer.changed, (std::vector<std::string>{src / "A.IMAP" + " -> " + out / "A" + slash,
                                                          src / "A.imap" + " -> " + out / "A" + slash,
                                                          src / "Sent Items.IMAP" + " -> " + out / "Sent" + slash}));
    if (maildir) {
        for (const auto &[folder, count] : {std::pair{"A/cur", 3}, {"A/x/cur", 2}, {"Sent/cur", 2}})
            EXPECT_EQ(std::distance(fs::directory_iterator(out.path() / folder), fs::directory_iterator()), count)
                << folder;
        return;
    }
    std::string inOrder;
    for (const char *relative : {"A/1.msg", "A.IMAP/2.msg", "A.imap/3.msg"})
        inOrder += testing::AsInMbox(1341136800, Message(relative));
    EXPECT_EQ(ReadFile(out / "A"), inOrder);
    EXPECT_EQ(FilesBelow(out.path()), (std::vector<std::string>{"A", "A.sbd/x", "Sent"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, MergedFolders,
                         ::testing::Values(FormatCase{"Maildir", MailboxFormat::Maildir, 1},
                                           FormatCase{"MboxThreeJobs", MailboxFormat::Mbox, 3}),
                         [](const auto &info) { return std::string(info.param.name); });

class StoppedRun : public ::testing::TestWithParam<FormatCase> {};

// Stopped at every yield in turn: what is under a final name is always whole, and said.
TEST_P(StoppedRun, LeavesNoPartialFileUnderAFinalName) {
    TempDir src;
    std::vector<std::string> relatives;
    for (const char *folder : {"a", "b", "c"}) {
        for (const char *subject : {"One", "Two"}) {
            relatives.push_back(std::string(folder) + "/" + subject + ".msg");
            WriteFile(src / relatives.back(), Message(subject));
        }
    }
    const auto sources = Sources(src, relatives);
    const MailboxRunOptions options{GetParam().format, false, GetParam().jobs};
    Recorder counting;
    {
        TempDir out;
        (void)Convert(sources, out.path(), counting, options);
    }
    std::string both;
    for (const char *subject : {"One", "Two"}) both += testing::AsInMbox(1341136800, Message(subject));
    for (int stopAt = 0; stopAt <= counting.yields; ++stopAt) {
        TempDir out;
        Recorder observer;
        observer.stopAfterYields = stopAt;
        (void)Convert(sources, out.path(), observer, options);
        const std::vector<std::string> files = FilesBelow(out.path());
        for (const std::string &file : files) EXPECT_EQ(file.find(".tarvelin-"), std::string::npos) << file;
        if (GetParam().format == MailboxFormat::Maildir) {
            EXPECT_EQ(files.size(), observer.written.size()) << "stopped at yield " << stopAt;
        } else {
            // Each mailbox file is named only once both its messages are in it.
            EXPECT_EQ(files.size() * 2, observer.written.size()) << "stopped at yield " << stopAt;
            for (const std::string &file : files) EXPECT_EQ(ReadFile(out / file), both) << file;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, StoppedRun,
                         ::testing::Values(FormatCase{"Maildir", MailboxFormat::Maildir, 1},
                                           FormatCase{"MaildirThreeJobs", MailboxFormat::Maildir, 3},
                                           FormatCase{"Mbox", MailboxFormat::Mbox, 1},
                                           FormatCase{"MboxThreeJobs", MailboxFormat::Mbox, 3}),
                         [](const auto &info) { return std::string(info.param.name); });

// Every file below the folder with its bytes and its modification time (the received date). An
// empty mailbox has the time it was made, which two runs need not share.
std::map<std::string, std::string> TreeWithTimes(const fs::path &folder) {
    std::map<std::string, std::string> tree;
    const std::size_t below = testing::Utf8(folder).size() + 1;
    for (const auto &[path, bytes] : testing::Snapshot(folder)) {
        if (bytes.empty()) {
            tree[path.substr(below)] = "";
            continue;
        }
        const auto time = fs::last_write_time(testing::SystemPath(path));
        tree[path.substr(below)] =
            bytes + "@" + std::to_string(std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(time)));
    }
    return tree;
}

class JobCount : public ::testing::TestWithParam<FormatCase> {};

// Three runs into one folder (for Maildir a rerun that finds every message, then one that numbers
// new copies) give the same files, times and events with one job and with several.
TEST_P(JobCount, GivesTheSameTreeAndEventsInTheSameOrder) {
    TempDir src;
    std::vector<std::string> relatives;
    for (int i = 0; i < 48; ++i) {
        const std::string folder = i % 5 == 0 ? "" : i % 5 == 1 ? "Sent Items/" : i % 5 == 2 ? "new/" : "a/b/";
        relatives.push_back(folder + "m" + std::to_string(i) + ".msg");
        const std::string date = "Sun, " + std::to_string(1 + i % 3) + " Jul 2012 10:00:00 +0000";
        WriteFile(src / relatives.back(), Message(i % 4 == 0 ? "Same" : "S" + std::to_string(i), "Ann <a@x.org>",
                                                  date, "From here\r\n>From there\r\n"));
    }
    relatives.insert(relatives.begin() + 7, "a/gone.msg");
    relatives.insert(relatives.begin() + 20, relatives[3]);  // listed twice
    const bool maildir = GetParam().format == MailboxFormat::Maildir;

    std::vector<std::vector<std::string>> events(2);
    std::vector<std::map<std::string, std::string>> trees(2);
    for (unsigned run = 0; run < 2; ++run) {
        TempDir out;
        const std::string before = out / (maildir ? "cur/1.other" : "Inbox");
        WriteFile(before, "before the run");
        fs::last_write_time(testing::SystemPath(before), fs::file_time_type::clock::from_sys(
                                                             std::chrono::sys_seconds{std::chrono::seconds{1000000000}}));
        for (bool skipIdentical : {false, maildir, false}) {
            Recorder observer;
            const MailboxRunOptions options{GetParam().format, skipIdentical, run == 0 ? 1u : GetParam().jobs};
            (void)Convert(Sources(src, relatives), out.path(), observer, options);
            for (std::string event : observer.events) {
                for (std::size_t at; (at = event.find(testing::Utf8(out.path()))) != std::string::npos;)
                    event.replace(at, testing::Utf8(out.path()).size(), "OUT");
                events[run].push_back(event);
            }
        }
        trees[run] = TreeWithTimes(out.path());
    }
    EXPECT_EQ(events[0], events[1]);
    EXPECT_EQ(trees[0], trees[1]);
    // Maildir: two runs that copy; mbox: three runs of four files, and the empty parent "a" once.
    EXPECT_EQ(trees[0].size(), maildir ? 1u + 49 + 49 : 1u + 4 + 4 + 4 + 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, JobCount,
                         ::testing::Values(FormatCase{"Maildir", MailboxFormat::Maildir, 4},
                                           FormatCase{"Mbox", MailboxFormat::Mbox, 3}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvelin
