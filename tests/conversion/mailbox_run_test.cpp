#include "conversion/mailbox_run.h"
#include "conversion/mbox_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
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

class Recorder : public MailboxRunObserver {
public:
    int stopAfterYields = -1;
    int yields = 0;
    std::vector<std::string> written, changed;

    void Yield() override { ++yields; }
    bool StopRequested() const override { return stopAfterYields >= 0 && yields >= stopAfterYields; }
    void MessageWritten(const std::string &, const std::string &output, std::size_t number) override {
        written.push_back(output + (number > 0 ? "#" + std::to_string(number) : ""));
    }
    void NameChanged(const std::string &wanted, const std::string &shown) override {
        changed.push_back(wanted + " -> " + shown);
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
    EXPECT_TRUE(RunMailboxConversion(sources, testing::Utf8(out.path()), first, {}).AllConverted());
    ASSERT_EQ(first.written.size(), 1u);
    EXPECT_EQ(first.changed, std::vector<std::string>{src / "new" + " -> " + out / "new_/"});
    // The received date a server reads: the message's Date, 1 July 2012 10:00 UTC.
    const auto time = fs::last_write_time(testing::SystemPath(first.written[0]));
    EXPECT_EQ(std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(time)), 1341136800);

    WriteFile(out / "new_/tmp/.tarvelin-abc.part", "left by a stopped run");
    WriteFile(out / "new_/tmp/1.other", "not ours");
    Recorder again;
    EXPECT_EQ(RunMailboxConversion(sources, testing::Utf8(out.path()), again, {}).converted, 1);
    Recorder resumed;
    const ConversionReport report = RunMailboxConversion(sources, testing::Utf8(out.path()), resumed,
                                                         {MailboxFormat::Maildir, true, false});
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
    EXPECT_TRUE(RunMailboxConversion(Sources(src, messages), testing::Utf8(out.path()), observer, {}).AllConverted());
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
    const ConversionReport report = RunMailboxConversion(Sources(src, {"a.msg", "a.msg"}), testing::Utf8(out.path()),
                                                         observer, {MailboxFormat::Maildir, true, false});
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
    const ConversionReport report = RunMailboxConversion(Sources(src, {"in.msg", "p/gone.msg", "p/q/deep.msg"}),
                                                         testing::Utf8(out.path()), observer, {MailboxFormat::Mbox});
    EXPECT_EQ(report.converted, 2);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, src / "p/gone.msg");
    EXPECT_EQ(observer.written, (std::vector<std::string>{out / "Inbox (1)#1", out / "p.sbd/q#1"}));
    EXPECT_EQ(observer.changed, std::vector<std::string>{out / "Inbox" + " -> " + out / "Inbox (1)"});
    EXPECT_EQ(FilesBelow(out.path()), (std::vector<std::string>{"Inbox", "Inbox (1)", "p", "p.sbd/q"}));
    EXPECT_EQ(ReadFile(out / "Inbox"), "mine");
    EXPECT_EQ(ReadFile(out / "p"), "");
}

struct StopCase {
    const char *name;
    MailboxFormat format;
};

class StoppedRun : public ::testing::TestWithParam<StopCase> {};

// Stopped at every yield in turn: what is under a final name is always whole.
TEST_P(StoppedRun, LeavesNoPartialFileUnderAFinalName) {
    TempDir src;
    WriteFile(src / "a/1.msg", Message("One"));
    WriteFile(src / "a/2.msg", Message("Two"));
    const auto sources = Sources(src, {"a/1.msg", "a/2.msg"});
    Recorder counting;
    {
        TempDir out;
        (void)RunMailboxConversion(sources, testing::Utf8(out.path()), counting, {GetParam().format});
    }
    for (int stopAt = 0; stopAt <= counting.yields; ++stopAt) {
        TempDir out;
        Recorder observer;
        observer.stopAfterYields = stopAt;
        const ConversionReport report =
            RunMailboxConversion(sources, testing::Utf8(out.path()), observer, {GetParam().format});
        const std::vector<std::string> files = FilesBelow(out.path());
        for (const std::string &file : files) EXPECT_EQ(file.find(".tarvelin-"), std::string::npos) << file;
        if (GetParam().format == MailboxFormat::Maildir) {
            EXPECT_EQ(files.size(), observer.written.size()) << "stopped at yield " << stopAt;
        } else if (!files.empty()) {
            // One mailbox file, named only once both messages are in it.
            EXPECT_FALSE(report.stopped);
            std::string both;
            for (const char *subject : {"One", "Two"}) AppendMboxMessage(both, 1341136800, Message(subject));
            EXPECT_EQ(ReadFile(out / "a"), both);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, StoppedRun,
                         ::testing::Values(StopCase{"Maildir", MailboxFormat::Maildir},
                                           StopCase{"Mbox", MailboxFormat::Mbox}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvelin
