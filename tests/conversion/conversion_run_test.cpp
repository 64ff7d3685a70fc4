#include "conversion/conversion_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/path_split.h"
#include "tests/support/messages.h"
#include "tests/support/recording_observer.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::Message;
using testing::Mirrored;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::TempDir;
using testing::WriteFile;

TEST(ConversionRun, MirrorsFoldersAndCopiesByteForByte) {
    TempDir src, out;
    const std::string a = src / "2012/a.msg", b = src / "2012/deep/b.msg";
    WriteFile(a, Message("First"));
    WriteFile(b, std::string("\0\xff binary \r\n", 13) + Message("Second"));
    MessageList list;
    list.AddFileToList(a);
    list.AddFileToList(b);
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;

    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);

    EXPECT_TRUE(report.AllConverted());
    EXPECT_EQ(report.converted, 2);
    const std::string outA = Mirrored(out, src, "2012") + "a.eml.eml";
    const std::string outB = Mirrored(out, src, "2012/deep") + "b.eml.eml";
    EXPECT_EQ(observer.outputs[a], outA);
    EXPECT_EQ(ReadFile(outA), Message("First"));
    EXPECT_EQ(ReadFile(outB), ReadFile(b));
    EXPECT_EQ(ReadFile(a), Message("First"));  // the source is untouched
}

TEST(ConversionRun, NamesEachMessageByTheSelectedScheme) {
    TempDir src, out;
    const std::string path = src / "m.msg";
    WriteFile(path, Message("Re: Meeting?", "\"Ann Lee\" <ann@x.org>"));
    const std::map<NamingOption, std::string> expected = {
        {NamingOption::OptOriginal, "m.eml.eml"},
        {NamingOption::OptSD, "Re Meeting 01-07-2012.eml"},
        {NamingOption::OptFSD, "Ann Lee ann@x.org Re Meeting 01-07-2012.eml"},
        {NamingOption::OptFSD_YMD, "Ann Lee ann@x.org Re Meeting 2012-07-01.eml"},
        {NamingOption::OptDFS, "01-07-2012 Ann Lee ann@x.org Re Meeting.eml"},
        {NamingOption::OptDFS_YMD, "2012-07-01 Re Meeting Ann Lee ann@x.org.eml"},
        {NamingOption::OptDFS_YMD2, "2012-07-01 Ann Lee ann@x.orgRe Meeting .eml"},
        {NamingOption::OptDFS_MYD, "07-01-2012 Re Meeting Ann Lee ann@x.org.eml"},
    };
    for (const auto &[option, name] : expected) {
        SCOPED_TRACE(std::string(kNamingSchemes[static_cast<std::size_t>(option)].name));
        MessageList list;
        list.AddFileToList(path);
        RecordingObserver observer;
        observer.option = option;
        DuplicateCounter counter = 0;
        NativeFileService files;
        RunConversion(list, out.path().string(), counter, observer, files);
        EXPECT_EQ(fs::path(observer.outputs[path]).filename().string(), name);
    }
}

TEST(ConversionRun, NumbersTakenNamesWithinAndAcrossRunsAndNeverOverwrites) {
    TempDir src, out;
    MessageList list;
    for (const char *name : {"1.msg", "2.msg", "3.msg"}) {
        WriteFile(src / name, Message("Same"));
        list.AddFileToList(src / name);
    }
    const std::string folder = Mirrored(out, src);
    WriteFile(folder + "Same 01-07-2012 (1).eml", "precious");
    RecordingObserver observer;
    observer.option = NamingOption::OptSD;
    DuplicateCounter counter = 0;
    NativeFileService files;

    RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_EQ(observer.outputs[src / "1.msg"], folder + "Same 01-07-2012.eml");
    EXPECT_EQ(observer.outputs[src / "2.msg"], folder + "Same 01-07-2012 (2).eml");
    EXPECT_EQ(observer.outputs[src / "3.msg"], folder + "Same 01-07-2012 (3).eml");
    EXPECT_EQ(ReadFile(folder + "Same 01-07-2012 (1).eml"), "precious");
    EXPECT_EQ(counter, 4);

    // A second run keeps counting from where the first ended.
    RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_EQ(observer.outputs[src / "1.msg"], folder + "Same 01-07-2012 (4).eml");
    EXPECT_EQ(counter, 7);
}

struct ProgressCase {
    int rows;
    std::vector<float> bar;
};

class ConversionProgress : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ConversionProgress, MovesTheBarAndCaptionAfterEachRow) {
    TempDir src, out;
    MessageList list;
    for (int i = 0; i < GetParam().rows; ++i) {
        WriteFile(src / (std::to_string(i) + ".msg"), Message("S"));
        list.AddFileToList(src / (std::to_string(i) + ".msg"));
    }
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_EQ(observer.bar, GetParam().bar);
    ASSERT_EQ(observer.captions.size(), GetParam().bar.size());
    const auto rows = std::to_string(GetParam().rows);
    EXPECT_EQ(observer.captions.front(), "Message 1 (of " + rows + ")");
    EXPECT_EQ(observer.captions.back(), "Message " + rows + " (of " + rows + ")");
}

INSTANTIATE_TEST_SUITE_P(Rows, ConversionProgress,
                         ::testing::Values(ProgressCase{1, {100.0f}},
                                           ProgressCase{3, {33.333332f, 66.666664f, 100.0f}},
                                           ProgressCase{4, {25.0f, 50.0f, 75.0f, 100.0f}}),
                         [](const auto &info) { return std::to_string(info.param.rows) + "Rows"; });

TEST(ConversionRun, ReadsTheOptionAnewForEveryMessage) {
    TempDir src, out;
    MessageList list;
    for (const char *name : {"1.msg", "2.msg"}) {
        WriteFile(src / name, Message(name));
        list.AddFileToList(src / name);
    }
    RecordingObserver observer;
    observer.optionFromMessage[1] = NamingOption::OptSD;
    DuplicateCounter counter = 0;
    NativeFileService files;
    RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_EQ(fs::path(observer.outputs[src / "1.msg"]).filename(), "1.eml.eml");
    EXPECT_EQ(fs::path(observer.outputs[src / "2.msg"]).filename(), "2.msg 01-07-2012.eml");
}

// Fails the operations a test names and passes everything else to the real file system. A copy
// told to stop stands for the real one when the window closes during a large message.
class FailingFileService : public NativeFileService {
public:
    std::string failCopyOf;
    std::string stopCopyOf;
    std::string failFolder;
    Status EnsureFolderExists(const std::string &folder, bool *made = nullptr) override {
        if (folder == failFolder) return Status::Failure(ErrorKind::Other, "Permission denied");
        return NativeFileService::EnsureFolderExists(folder, made);
    }
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        if (source == failCopyOf) return Status::Failure(ErrorKind::Other, "No space left on device");
        if (source == stopCopyOf) return Status::Failure(ErrorKind::Stopped, "the copy was stopped");
        return NativeFileService::StageCopy(source, folder, hooks, staged, modified, head);
    }
};

TEST(ConversionRun, RecordsEveryFailureAndGoesOn) {
    TempDir src, out;
    const std::string ok = src / "ok.msg", full = src / "full.msg", missing = src / "gone.msg",
                      locked = src / "locked/x.msg";
    WriteFile(ok, Message("ok"));
    WriteFile(full, Message("full"));
    WriteFile(locked, Message("locked"));
    MessageList list;
    for (const auto &path : {missing, full, locked, ok}) list.AddFileToList(path);
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    FailingFileService files;
    files.failCopyOf = full;
    files.failFolder = Mirrored(out, src, "locked");

    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);

    EXPECT_EQ(report.converted, 1);
    ASSERT_EQ(report.failures.size(), 3u);
    EXPECT_EQ(report.failures[0].path, missing);
    EXPECT_EQ(report.failures[1].path, full);
    EXPECT_NE(report.failures[1].reason.find("No space"), std::string::npos);
    EXPECT_EQ(report.failures[2].path, locked);
    EXPECT_NE(report.failures[2].reason.find("output folder"), std::string::npos);
    EXPECT_EQ(observer.bar.size(), 4u);  // failed rows still move the bar
    EXPECT_TRUE(fs::exists(Mirrored(out, src) + "ok.eml.eml"));
    EXPECT_FALSE(fs::exists(Mirrored(out, src) + "full.eml.eml"));
}

// An existence test that never sees a file, as on a share that answers it and the exclusive
// create differently: the refused create alone must move the run on to a free number.
class BlindFileService : public NativeFileService {
public:
    bool FileExist(const std::string &) override { return false; }
};

TEST(ConversionRun, NameRefusedByTheCreateIsTakenEvenWhenTheTestMissesIt) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("a"));
    const std::string folder = Mirrored(out, src);
    WriteFile(folder + "a.eml.eml", "precious");
    WriteFile(folder + "a.eml (0).eml", "precious too");
    MessageList list;
    list.AddFileToList(src / "a.msg");
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    BlindFileService files;
    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_TRUE(report.AllConverted());
    EXPECT_EQ(observer.outputs[src / "a.msg"], folder + "a.eml (1).eml");
    EXPECT_EQ(ReadFile(folder + "a.eml.eml"), "precious");
    EXPECT_EQ(ReadFile(folder + "a.eml (0).eml"), "precious too");
}

// A message found already there moves the shared counter; the copies still waiting for their
// names in another folder come before it in the list and must be numbered before it does.
TEST(ConversionRun, ResumedRunNamesAsOneCopyAtATimeWhateverTheGrouping) {
    TempDir src;
    MessageList list;
    const std::string second = Message("Y");
    WriteFile(src / "a/1.msg", Message("X", "Ann <ann@x.org>", "Sun, 1 Jul 2012 10:00:00 +0000", "first"));
    WriteFile(src / "b/2.msg", second);
    WriteFile(src / "a/3.msg", Message("X", "Ann <ann@x.org>", "Sun, 1 Jul 2012 10:00:00 +0000", "third"));
    for (const char *path : {"a/1.msg", "b/2.msg", "a/3.msg"}) list.AddFileToList(src / path);
    std::map<std::string, std::string> named[2];
    const std::size_t groups[2] = {1, 32};
    for (int g = 0; g < 2; ++g) {
        TempDir out;
        // Both plain names taken by other messages; the second message is there already, numbered.
        WriteFile(Mirrored(out, src, "a") + "X 01-07-2012.eml", "another message");
        WriteFile(Mirrored(out, src, "b") + "Y 01-07-2012.eml", "another message");
        WriteFile(Mirrored(out, src, "b") + "Y 01-07-2012 (5).eml", second);
        RecordingObserver observer;
        observer.option = NamingOption::OptSD;
        DuplicateCounter counter = 0;
        NativeFileService files;
        RunOptions options;
        options.skipIdentical = true;
        options.claimGroup = groups[g];
        const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
        EXPECT_EQ(report.converted, 2);
        EXPECT_EQ(report.alreadyThere, 1);
        for (const auto &[source, output] : observer.outputs) named[g][source] = fs::path(output).filename().string();
    }
    EXPECT_EQ(named[1], named[0]);
}

#ifdef _WIN32
// Windows takes "A" and "a" as one folder: a message listed under both spellings is one message.
TEST(ConversionRun, ResumedRunFindsAWaitingCopyUnderAnotherSpellingOfItsFolder) {
    TempDir src, out;
    WriteFile(src / "A/x.msg", Message("X"));
    MessageList list;
    list.AddFileToList(src / "A/x.msg");
    list.AddFileToList(src / "a/x.msg");
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    RunOptions options;
    options.skipIdentical = true;
    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
    EXPECT_EQ(report.converted, 1);
    EXPECT_EQ(report.alreadyThere, 1);
}
#endif

// Asked for after the first message, or met by the second one's copy under way: the run ends
// there, keeps what it named before, and counts no failure.
struct StopCase {
    const char *name;
    void (*arrange)(const TempDir &src, RecordingObserver &observer, FailingFileService &files);
};

void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class StopInRun : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopInRun, EndsTheRunKeepingWhatWasWrittenWithoutAFailure) {
    TempDir src, out;
    MessageList list;
    for (const char *name : {"1.msg", "2.msg", "3.msg"}) {
        WriteFile(src / name, Message(name));
        list.AddFileToList(src / name);
    }
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    FailingFileService files;
    GetParam().arrange(src, observer, files);

    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);

    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(report.AllConverted());
    EXPECT_EQ(report.converted, 1);
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(observer.bar.size(), 1u);
    // The first message's copy and nothing else: no later copy, no temporary file.
    EXPECT_EQ(testing::Snapshot(out.path()),
              (std::map<std::string, std::string>{{Mirrored(out, src) + "1.eml.eml", Message("1.msg")}}));
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StopInRun,
    ::testing::Values(StopCase{"BetweenMessages",
                               [](const TempDir &, RecordingObserver &observer, FailingFileService &) {
                                   observer.stopAfterMessages = 1;
                               }},
                      StopCase{"DuringACopy",
                               [](const TempDir &src, RecordingObserver &, FailingFileService &files) {
                                   files.stopCopyOf = src / "2.msg";
                               }}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(ConversionRun, SkipsEmptyRowsAndTrimsBlanks) {
    TempDir src, out;
    const std::string path = src / "a.msg";
    WriteFile(path, Message("a"));
    WriteFile(src / "b.msg ", Message("b"));  // a blank that belongs to the file name
    MessageList empty;
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    ConversionReport report = RunConversion(empty, out.path().string(), counter, observer, files);
    EXPECT_EQ(report.skipped, 1);
    EXPECT_TRUE(report.AllConverted());
    EXPECT_EQ(observer.captions, std::vector<std::string>{"Message 1 (of 1)"});

    MessageList list;
    list.AddFileToList("   ");
    list.AddFileToList("  " + path + "  ");
    list.AddFileToList(src / "b.msg ");
    report = RunConversion(list, out.path().string(), counter, observer, files);
    EXPECT_EQ(report.skipped, 1);
    EXPECT_EQ(report.converted, 2);
    EXPECT_EQ(observer.outputs[path], Mirrored(out, src) + "a.eml.eml");
    EXPECT_EQ(ReadFile(observer.outputs[src / "b.msg "]), Message("b"));
}

TEST(ConversionRun, RowWithTrailingBlankReadsExactlyTheFileItNames) {
    TempDir src, out;
    WriteFile(src / "t.msg", Message("plain"));
    WriteFile(src / "t.msg ", Message("blank"));
    MessageList list;
    list.AddFileToList(src / "t.msg");
    list.AddFileToList(src / "t.msg ");
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    EXPECT_TRUE(RunConversion(list, out.path().string(), counter, observer, files).AllConverted());
    // The name comes from the trimmed row, so the second is numbered.
    const std::string folder = Mirrored(out, src);
    EXPECT_EQ(ReadFile(folder + "t.eml.eml"), Message("plain"));
    EXPECT_EQ(ReadFile(folder + "t.eml (1).eml"), Message("blank"));
}

TEST(ConversionRun, MessageWhoseFolderFailsStillMovesTheCounter) {
    TempDir src, out;
    WriteFile(src / "x/1.msg", Message("S"));
    WriteFile(src / "y/2.msg", Message("S"));
    WriteFile(Mirrored(out, src) + "x", "a file where the folder x should be");
    WriteFile(Mirrored(out, src, "y") + "S 01-07-2012.eml", "older");
    MessageList list;
    list.AddFileToList(src / "x/1.msg");
    list.AddFileToList(src / "y/2.msg");
    RecordingObserver observer;
    observer.option = NamingOption::OptSD;
    DuplicateCounter counter = 0;
    NativeFileService files;
    const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files);
    ASSERT_EQ(report.failures.size(), 1u);
    // The first message was named (plain, the counter at 1) though its folder failed.
    EXPECT_EQ(observer.outputs[src / "y/2.msg"], Mirrored(out, src, "y") + "S 01-07-2012 (1).eml");
}

// Another program takes the plain name while the copy is being made.
class RacedFileService : public NativeFileService {
public:
    std::string intruder;
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                     SourceHead *head) override {
        Status status = NativeFileService::StageCopy(source, folder, hooks, staged, modified, head);
        WriteFile(intruder, "written by someone else");
        return status;
    }
};

TEST(ConversionRun, NameTakenDuringTheCopyIsNeverOverwritten) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("a"));
    MessageList list;
    list.AddFileToList(src / "a.msg");
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    RacedFileService files;
    files.intruder = Mirrored(out, src) + "a.eml.eml";
    EXPECT_TRUE(RunConversion(list, out.path().string(), counter, observer, files).AllConverted());
    EXPECT_EQ(ReadFile(files.intruder), "written by someone else");
    EXPECT_EQ(ReadFile(observer.outputs[src / "a.msg"]), Message("a"));
    EXPECT_EQ(observer.outputs[src / "a.msg"], Mirrored(out, src) + "a.eml (0).eml");
}

// Stops at yield k of a run whose middle message is copied in several slices: whatever k, the
// output holds only whole copies under final names, and no temporary file.
TEST(ConversionRun, StopAtAnyYieldLeavesOnlyCompleteCopies) {
    TempDir src;
    const std::string big = Message("big") + std::string(9 * 1024 * 1024, 'x');
    WriteFile(src / "1.msg", Message("one"));
    WriteFile(src / "2.msg", big);
    WriteFile(src / "3.msg", Message("three"));
    MessageList list;
    for (const char *name : {"1.msg", "2.msg", "3.msg"}) list.AddFileToList(src / name);
    class StopAtYield : public RecordingObserver {
    public:
        explicit StopAtYield(int limit) : limit_(limit) {}
        void Yield() override { ++yields_; }
        bool StopRequested() const override { return yields_ >= limit_; }
    private:
        int limit_;
        int yields_ = 0;
    };
    for (int limit = 1; limit < 16; ++limit) {
        TempDir out;
        StopAtYield observer(limit);
        DuplicateCounter counter = 0;
        NativeFileService files;
        RunConversion(list, out.path().string(), counter, observer, files);
        for (const auto &entry : fs::recursive_directory_iterator(out.path())) {
            if (!entry.is_regular_file()) continue;
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".tarvelin-"), std::string::npos) << "stop at " << limit;
            const std::string source = src / (name.substr(0, 1) + ".msg");
            EXPECT_EQ(ReadFile(entry.path()), ReadFile(source)) << name << ", stop at " << limit;
        }
    }
}

// Copies wait in groups for their names; a message that fails meanwhile must still move the
// numbers where its row is, as when every copy is named at once.
TEST(ConversionRun, FailuresAmongWaitingCopiesMoveTheNumbersInRowOrder) {
    TempDir src;
    MessageList list;
    std::vector<std::string> sources;
    for (int i = 0; i < 7; ++i) {
        sources.push_back(src / ("m" + std::to_string(i) + ".msg"));
        if (i != 4) WriteFile(sources.back(), Message("Same"));  // m4 is missing
        list.AddFileToList(sources.back());
    }
    // One at a time in groups of 1 and 32, and four at once: the failure comes from a worker then.
    std::vector<std::string> names[3];
    const std::size_t groups[3] = {1, 32, 32};
    const unsigned jobs[3] = {1, 1, 4};
    for (int g = 0; g < 3; ++g) {
        TempDir out;
        RecordingObserver observer;
        observer.option = NamingOption::OptFSD;
        DuplicateCounter counter = 0;
        FailingFileService files;
        files.failCopyOf = sources[2];
        RunOptions options;
        options.claimGroup = groups[g];
        options.jobs = jobs[g];
        const ConversionReport report = RunConversion(list, out.path().string(), counter, observer, files, options);
        EXPECT_EQ(report.converted, 5);
        ASSERT_EQ(report.failures.size(), 2u);
        EXPECT_EQ(report.failures[0].path, sources[2]);
        for (const std::string &source : sources) {
            const std::string &output = observer.outputs[source];
            names[g].push_back(output.empty() ? "" : output.substr(out.path().string().size()));
        }
    }
    EXPECT_EQ(names[1], names[0]);
    EXPECT_EQ(names[2], names[0]);
}

// A record of the run (the CLI's index) needs every row once, in list order, with its facts,
// though copies wait in groups and failures and blank rows come between them.
TEST(ConversionRun, EveryRowIsHeardOnceInListOrderWithItsFacts) {
    struct Heard : RunObserver {
        std::vector<std::string> rows;
        NamingOption SelectedNamingOption() override { return NamingOption::OptOriginal; }
        void MessageWritten(const std::string &source, const std::string &, std::size_t, const MessageFacts &facts) override {
            rows.push_back("converted " + fs::path(source).filename().string() + " " + facts.subject);
        }
        void MessageAlreadyThere(const std::string &source, const std::string &, const MessageFacts &facts) override {
            rows.push_back("already-there " + fs::path(source).filename().string() + " " + facts.subject);
        }
        void MessageFailed(const std::string &source, const std::string &, const MessageFacts &facts) override {
            rows.push_back("failed " + fs::path(source).filename().string() + " " + facts.subject);
        }
        void RowSkipped(const std::string &) override { rows.push_back("skipped"); }
    };
    TempDir src, out;
    MessageList list;
    for (const char *name : {"a.msg", "", "b.msg", "gone.msg", "c.msg"}) {
        if (*name != '\0' && std::string(name) != "gone.msg") WriteFile(src / name, Message(name));
        list.AddFileToList(*name != '\0' ? src / name : "  ");
    }
    WriteFile(Mirrored(out, src) + "b.eml.eml", Message("b.msg"));
    Heard observer;
    DuplicateCounter counter = 0;
    NativeFileService files;
    RunOptions options;
    options.skipIdentical = true;
    options.readEveryHeader = true;
    (void)RunConversion(list, out.path().string(), counter, observer, files, options);
    EXPECT_EQ(observer.rows, (std::vector<std::string>{"converted a.msg a.msg", "skipped",
                                                       "already-there b.msg b.msg", "failed gone.msg ",
                                                       "converted c.msg c.msg"}));
}

}  // namespace
}  // namespace tarvelin
