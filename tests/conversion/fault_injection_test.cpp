// Whole runs in which one message meets a fault: a full disk or a read error in the middle of its
// copy, a source gone or unreadable, an output folder or name refused, a path over the limit.
// Faults come through the system-call seam or from real file systems (a small tmpfs, mounted where
// the machine allows it). Each time, into .eml files, Maildir and mbox alike, the message is
// reported with its path and reason, every other message is converted, and no file that was there
// before is changed.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/mailbox/maildir_writer.h"
#include "conversion/mailbox_run.h"
#include "platform/file_service.h"
#include "tests/support/faulty_syscalls.h"
#include "tests/support/messages.h"
#include "tests/support/recording_observer.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::FaultySysCalls;
using testing::ReadFile;
using testing::RecordingObserver;
using testing::Snapshot;
using testing::TempDir;
using testing::WriteFile;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::int64_t kDate = 1341136800;  // the messages' Date

// A message of about bodyBytes bytes more than its header, in lines as mail has them (an mbox
// file takes a message line by line).
std::string Message(const std::string &subject, std::size_t bodyBytes = 100) {
    std::string body;
    for (std::size_t i = 0; body.size() < bodyBytes; ++i)
        body += std::string(76, static_cast<char>('a' + i % 26)) + "\r\n";
    return testing::Message(subject, "Ann <ann@x.org>", "Sun, 1 Jul 2012 10:00:00 +0000", body);
}

enum class Output { Eml, Maildir, Mbox };

std::string OutputName(Output output) {
    return output == Output::Eml ? "Eml" : output == Output::Maildir ? "Maildir" : "Mbox";
}
void PrintTo(Output output, std::ostream *os) { *os << OutputName(output); }

// Sources in three folders, the victim alone in its own (so in a mailbox of its own), and an
// output folder that already holds a file where the first message's output would go.
struct Archive {
    TempDir src, out;
    const Output output;
    std::string victim = src / "v/deep/2.msg";
    std::vector<std::string> others = {src / "a/1.msg", src / "a/4.msg", src / "b/3.msg"};

    // Per format: a file where the first message's output would go; the folder the victim's
    // output goes to, with its separator; a part of the victim's final path that no temporary
    // file's holds; and the file the victim would be written as.
    std::string olderFile, victimFolder, victimName, victimsFile;

    explicit Archive(Output output, std::size_t victimBytes = 3 * kMiB) : output(output) {
        WriteFile(others[0], Message("Same"));
        WriteFile(others[1], Message("Same", 5000));
        WriteFile(others[2], Message("Other"));
        WriteFile(victim, Message("Victim", victimBytes));
        switch (output) {
        case Output::Eml:
            olderFile = testing::Mirrored(out, src, "a") + "Same 01-07-2012.eml";
            victimFolder = testing::Mirrored(out, src, "v/deep");
            victimName = "Victim 01-07-2012";
            victimsFile = victimFolder + victimName + ".eml";
            break;
        case Output::Maildir:
            olderFile = out / "a/cur/" + MaildirFileName(kDate, MaildirToken("a/1.msg"));
            victimFolder = out / "v/deep/";
            victimName = MaildirToken("v/deep/2.msg");
            victimsFile = victimFolder + "cur/" + MaildirFileName(kDate, victimName);
            break;
        case Output::Mbox:
            olderFile = out / "a";
            victimFolder = out / "v.sbd/";
            victimName = victimsFile = victimFolder + "deep";
            break;
        }
        LeaveAnOlderFile();
    }
    std::vector<std::string> Listed() const { return {others[0], victim, others[1], others[2]}; }
    void LeaveAnOlderFile() const { WriteFile(olderFile, "an older file of that name"); }
    // The victim's name is taken, so its output goes to another one; the old file must stay.
    void TakeTheVictimsName() const { WriteFile(victimsFile, "kept"); }

    ConversionReport Run(RecordingObserver &observer, FileService &files) const {
        if (output == Output::Eml) {
            MessageList list;
            for (const std::string &path : Listed()) list.AddFileToList(path);
            observer.option = NamingOption::OptSD;
            DuplicateCounter counter = 0;
            return RunConversion(list, out.path().string(), counter, observer, files);
        }
        std::vector<MailboxSource> sources;
        for (const std::string &path : Listed()) sources.push_back({path, src.path().string()});
        return RunMailboxConversion(sources, out.path().string(), observer, files,
                                    {output == Output::Maildir ? MailboxFormat::Maildir : MailboxFormat::Mbox});
    }
};

// What every faulty run must give: the victim reported with its path and the reason, the others
// converted (a file of the same bytes each, or in an mbox file each in its mbox form), and every
// file that was there before unchanged.
void ExpectOnlyTheVictimLost(const Archive &archive, const ConversionReport &report,
                             const RecordingObserver &observer,
                             const std::map<std::string, std::string> &sourcesBefore,
                             const std::map<std::string, std::string> &outputBefore,
                             const std::string &reasonPart) {
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, archive.victim);
    EXPECT_NE(report.failures[0].reason.find(reasonPart), std::string::npos) << report.failures[0].reason;
    EXPECT_EQ(report.converted, static_cast<std::int64_t>(archive.others.size()));
    EXPECT_FALSE(report.stopped);

    std::map<std::string, std::string> expectedOutput = outputBefore;
    // The victim's parent mailbox holds no message but gets its (empty) mbox file all the same.
    if (archive.output == Output::Mbox) expectedOutput[archive.out / "v"] = "";
    for (const std::string &source : archive.others) {  // in list order
        const auto found = observer.outputs.find(source);
        ASSERT_NE(found, observer.outputs.end()) << source;
        ASSERT_EQ(observer.timesConverted.at(source), 1) << source;
        const std::string &bytes = sourcesBefore.at(source);
        if (archive.output == Output::Mbox) {
            expectedOutput[found->second] += testing::AsInMbox(kDate, bytes);
            continue;
        }
        if (archive.output == Output::Maildir) {
            EXPECT_EQ(fs::path(found->second).parent_path().filename(), "cur");
        }
        EXPECT_EQ(ReadFile(found->second), bytes) << source;
        expectedOutput[found->second] = bytes;
    }
    EXPECT_EQ(observer.outputs.count(archive.victim), 0u);
    // Nothing else in the output: no partial copy, no temporary file, nothing overwritten.
    EXPECT_TRUE(Snapshot(archive.out.path()) == expectedOutput);
    EXPECT_TRUE(Snapshot(archive.src.path()) == sourcesBefore);
}

struct FaultCase {
    const char *name;
    void (*arrange)(const Archive &archive, FaultySysCalls &sys);
    const char *reason;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class FaultInRun : public ::testing::TestWithParam<std::tuple<FaultCase, Output>> {};

TEST_P(FaultInRun, OnlyTheFaultyMessageIsLostAndReportedWithItsReason) {
    const auto &[fault, output] = GetParam();
    Archive archive(output);
    FaultySysCalls sys;
    sys.victim = archive.victim;
    fault.arrange(archive, sys);
    const auto sourcesBefore = Snapshot(archive.src.path());
    const auto outputBefore = Snapshot(archive.out.path());
    RecordingObserver observer;
    NativeFileService files(sys);

    const ConversionReport report = archive.Run(observer, files);

    ExpectOnlyTheVictimLost(archive, report, observer, sourcesBefore, outputBefore, fault.reason);
    EXPECT_EQ(sys.claimedUnflushed, 0);
}

// The victim's output folder without its separator.
std::string VictimFolderItself(const Archive &a) {
    std::string folder = a.victimFolder;
    folder.pop_back();
    return folder;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInRun,
    ::testing::Combine(
        ::testing::Values(
            FaultCase{"DiskFullMidCopy",
                      [](const Archive &a, FaultySysCalls &s) {
                          a.TakeTheVictimsName();
                          s.writeError = ENOSPC;
                          s.writeLimit = kMiB + 3;
                      },
                      "No space left on device"},
            FaultCase{"ReadFailsMidCopy",
                      [](const Archive &a, FaultySysCalls &s) {
                          a.TakeTheVictimsName();
                          s.readError = EIO;
                          s.readLimit = kMiB + 3;
                      },
                      "cannot read the message: Input/output error"},
            FaultCase{"MemoryRunsOutMidCopy",
                      [](const Archive &a, FaultySysCalls &s) {
                          a.TakeTheVictimsName();
                          s.readOutOfMemory = true;
                          s.readLimit = kMiB + 3;
                      },
                      "not enough memory for the message"},
            FaultCase{"FlushToTheDiskFails",
                      [](const Archive &a, FaultySysCalls &s) {
                          a.TakeTheVictimsName();
                          s.flushError = EIO;
                      },
                      "cannot finish the copy: Input/output error"},
            FaultCase{"SourceRemovedAfterListing", [](const Archive &a, FaultySysCalls &) { fs::remove(a.victim); },
                      "No such file or directory"},
            FaultCase{"SourceUnreadable", [](const Archive &, FaultySysCalls &s) { s.openError = EACCES; },
                      "cannot open the message: Permission denied"},
            FaultCase{"OutputFolderRefused",
                      [](const Archive &a, FaultySysCalls &s) {
                          s.refusedFolder = VictimFolderItself(a);
                          s.folderError = EACCES;
                      },
                      "Permission denied"},
            FaultCase{"FileInTheWayOfTheOutputFolder",
                      [](const Archive &a, FaultySysCalls &) {
                          WriteFile(VictimFolderItself(a), "a file, not a folder");
                      },
                      "in the way"},
            FaultCase{"OutputFolderReadOnly",
                      [](const Archive &a, FaultySysCalls &s) {
                          a.TakeTheVictimsName();
                          s.refusedCreate = a.victimFolder;
                          s.createError = EROFS;
                      },
                      "Read-only file system"},
            FaultCase{"NameRefusedByTheFileSystem",
                      [](const Archive &a, FaultySysCalls &s) {
                          s.refusedCreate = a.victimName;
                          s.createError = EINVAL;
                      },
                      "Invalid argument"},
            FaultCase{"OutputPathTooLong",
                      [](const Archive &a, FaultySysCalls &s) {
                          s.refusedCreate = a.victimFolder;
                          s.createError = ENAMETOOLONG;
                      },
                      "File name too long"}),
        ::testing::Values(Output::Eml, Output::Maildir, Output::Mbox)),
    [](const auto &row) { return std::string(std::get<0>(row.param).name) + OutputName(std::get<1>(row.param)); });

// A tmpfs of the given size mounted on a folder for the test's lifetime.
class SmallFileSystem {
public:
    SmallFileSystem(const std::string &folder, const std::string &options) : folder_(folder), options_(options) {
        fs::create_directories(folder);
        if (::mount("tarvelin-test", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) error_ = errno;
    }
    ~SmallFileSystem() {
        if (error_ == 0) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool mounted() const { return error_ == 0; }
    std::string why() const { return "cannot mount a tmpfs here: " + std::string(std::strerror(error_)); }
    bool MakeReadOnly() const {
        return ::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, options_.c_str()) == 0;
    }

private:
    std::string folder_;
    std::string options_;
    int error_ = 0;
};

struct RealFaultCase {
    const char *name;
    std::size_t victimBytes;
    // A read-only file system on the victim's output folder; else a full one on the whole output.
    bool victimFolderReadOnly;
    const char *reason;
};

void PrintTo(const RealFaultCase &c, std::ostream *os) { *os << c.name; }

class RealFaultInRun : public ::testing::TestWithParam<std::tuple<RealFaultCase, Output>> {};

TEST_P(RealFaultInRun, OnlyTheMessageBoundForTheFaultIsLost) {
    const auto &[fault, output] = GetParam();
    Archive archive(output, fault.victimBytes);
    SmallFileSystem disk(fault.victimFolderReadOnly ? archive.victimFolder : archive.out.path().string(), "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    if (fault.victimFolderReadOnly) {
        archive.TakeTheVictimsName();
        ASSERT_TRUE(disk.MakeReadOnly()) << std::strerror(errno);
    } else {
        archive.LeaveAnOlderFile();  // the mount hides the one made before
    }
    const auto sourcesBefore = Snapshot(archive.src.path());
    const auto outputBefore = Snapshot(archive.out.path());
    RecordingObserver observer;
    NativeFileService files;

    const ConversionReport report = archive.Run(observer, files);

    ExpectOnlyTheVictimLost(archive, report, observer, sourcesBefore, outputBefore, fault.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RealFaultInRun,
    ::testing::Combine(
        ::testing::Values(RealFaultCase{"DiskThatFills", 2 * kMiB, false, "No space left on device"},
                          RealFaultCase{"ReadOnlyOutputFolder", 3 * kMiB, true, "Read-only file system"}),
        ::testing::Values(Output::Eml, Output::Maildir, Output::Mbox)),
    [](const auto &row) { return std::string(std::get<0>(row.param).name) + OutputName(std::get<1>(row.param)); });

// A mailbox file whose write failed may end in part of a message: it is never named, and every
// message bound for it is reported.
TEST(RealFaultInRun, MboxFileThatDoesNotFitIsNeverNamed) {
    TempDir src, out;
    SmallFileSystem disk(out.path().string(), "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    std::vector<MailboxSource> sources;
    for (const char *name : {"a", "big", "c"}) {
        sources.push_back({src / (std::string(name) + ".msg"), src.path().string()});
        const std::string body = name == std::string("big") ? std::string(2 * kMiB, 'x') : "";
        WriteFile(sources.back().path, testing::Message(name, "Ann <ann@x.org>", "Sun, 1 Jul 2012 10:00:00 +0000", body));
    }
    RunObserver observer;
    NativeFileService files;
    const ConversionReport report =
        RunMailboxConversion(sources, out.path().string(), observer, files, {MailboxFormat::Mbox});
    EXPECT_EQ(report.converted, 0);
    ASSERT_EQ(report.failures.size(), 3u);
    EXPECT_NE(report.failures[0].reason.find("No space left on device"), std::string::npos) << report.failures[0].reason;
    EXPECT_TRUE(fs::is_empty(out.path()));
}

// Real paths: a mirrored folder past the platform's path limit fails alone, while a subject that
// makes a name of far more than 255 bytes is shortened to fit and converted.
TEST(RealFaultInRun, PathOverTheLimitFailsAndOverlongNameIsShortened) {
    TempDir src, outBase;
    std::string deepFolder = src.path().string();
    while (deepFolder.size() < 3600) deepFolder += "/" + std::string(250, 'd');
    const std::string deep = deepFolder + "/deep.msg";
    std::string outRoot = outBase.path().string();
    while (outRoot.size() < 700) outRoot += "/" + std::string(250, 'o');
    fs::create_directories(outRoot);
    std::string longSubject;
    for (int i = 0; i < 200; ++i) longSubject += "\xE6\xBC\xA2";  // 600 bytes, 200 units
    const std::string wide = src / "wide.msg", twin = src / "twin.msg";
    WriteFile(deep, Message("Deep"));
    WriteFile(wide, Message(longSubject));
    WriteFile(twin, Message(longSubject));
    MessageList list;
    for (const std::string &path : {wide, deep, twin}) list.AddFileToList(path);
    RecordingObserver observer;
    observer.option = NamingOption::OptSD;
    DuplicateCounter counter = 0;
    NativeFileService files;
    ASSERT_GT(OutputFolderFor(outRoot + "/", deepFolder + "/").size(), 4096u);

    const ConversionReport report = RunConversion(list, outRoot, counter, observer, files);

    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, deep);
    EXPECT_NE(report.failures[0].reason.find("File name too long"), std::string::npos) << report.failures[0].reason;
    EXPECT_EQ(report.converted, 2);
    std::set<std::string> names;
    for (const std::string &source : {wide, twin}) {
        ASSERT_EQ(observer.timesConverted[source], 1);
        const std::string output = observer.outputs[source];
        EXPECT_EQ(ReadFile(output), Message(longSubject));
        const std::string name = fs::path(output).filename().string();
        EXPECT_LE(name.size(), 255u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 2u);
}

// A failed copy's temporary file that the file system still holds a moment after its close goes
// all the same; one that cannot go is said, with its path and the reason.
TEST(FaultInRun, TemporaryFileHeldAfterItsCloseGoesOrIsSaid) {
    for (const int busy : {3, 1000}) {
        SCOPED_TRACE(busy);
        Archive archive(Output::Eml);
        FaultySysCalls sys;
        sys.victim = archive.victim;
        sys.writeError = ENOSPC;
        sys.writeLimit = kMiB;
        sys.busyRemovals = busy;
        RecordingObserver observer;
        NativeFileService files(sys);
        EXPECT_EQ(archive.Run(observer, files).failures.size(), 1u);
        std::vector<std::string> left;
        for (const auto &[path, bytes] : Snapshot(archive.out.path()))
            if (fs::path(path).filename().string().starts_with(".tarvelin-")) left.push_back(path);
        if (busy < 5) {
            EXPECT_TRUE(left.empty());
            EXPECT_TRUE(observer.notices.empty());
            continue;
        }
        ASSERT_EQ(left.size(), 1u);
        ASSERT_EQ(observer.notices.size(), 1u);
        EXPECT_EQ(observer.notices[0], left[0] + ": cannot remove the temporary file: Device or resource busy");
    }
}

// A FUSE client may apply a time given to an open copy apart from it, and its server replace it
// at the close (smbnetfs over Samba): there every copy gets its time once more after the close;
// where the time stays, nothing more is set than what the first copy costs to tell.
class TimesOnFuse : public ::testing::TestWithParam<std::tuple<bool, Output>> {};

TEST_P(TimesOnFuse, EveryOutputKeepsTheTimeTheRunGivesIt) {
    const auto &[replaced, output] = GetParam();
    Archive archive(output);
    // Sources older than the run, whose time an .eml copy keeps, unlike the time of its close.
    for (const std::string &source : archive.Listed())
        fs::last_write_time(source, fs::last_write_time(source) - std::chrono::hours(24));
    FaultySysCalls sys;
    sys.fileSystemType = 0x65735546;
    sys.timesReplacedAtClose = replaced;
    RecordingObserver observer;
    NativeFileService files(sys);
    ASSERT_TRUE(archive.Run(observer, files).AllConverted());
    ASSERT_EQ(observer.outputs.size(), archive.Listed().size());
    const auto seconds = [](const std::string &path) {
        return std::chrono::system_clock::to_time_t(fs::file_time_type::clock::to_sys(fs::last_write_time(path)));
    };
    for (const auto &[source, written] : observer.outputs)
        EXPECT_EQ(seconds(written), output == Output::Eml ? seconds(source) : kDate) << written;
    if (!replaced) {
        EXPECT_EQ(sys.timesSetByPath, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Shares, TimesOnFuse,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Output::Eml, Output::Maildir, Output::Mbox)),
                         [](const auto &row) {
                             return std::string(std::get<0>(row.param) ? "Replaced" : "Kept") +
                                    OutputName(std::get<1>(row.param));
                         });

// Every call costs a round trip on a network share. A run opens each source once (the header is
// read on the way of the copy), makes each output folder with about one call, and, where the file
// system refuses the no-replace rename and hard links, tries them once per folder, not per message.
TEST(RunCalls, OneOpenPerSourceOneMkdirPerFolderAndRefusedClaimsNotRetried) {
    struct Counting : FaultySysCalls {
        int Open(FileAt file, int flags, mode_t mode) const override {
            ++((flags & O_DIRECTORY) != 0 ? folderOpens : (flags & O_ACCMODE) == O_RDONLY ? readOpens : otherOpens);
            return FaultySysCalls::Open(file, flags, mode);
        }
        int Mkdir(const char *path, mode_t mode) const override {
            ++mkdirs;
            return FaultySysCalls::Mkdir(path, mode);
        }
        int RenameNoReplace(FileAt from, FileAt to) const override {
            ++noReplaceRenames;
            return FaultySysCalls::RenameNoReplace(from, to);
        }
        int Link(FileAt from, FileAt to) const override {
            ++links;
            return FaultySysCalls::Link(from, to);
        }
        mutable int readOpens = 0, otherOpens = 0, folderOpens = 0, mkdirs = 0, noReplaceRenames = 0, links = 0;
    };
    TempDir src, out;
    MessageList list;
    const std::vector<std::string> folders = {"a/b/c", "a/b/d", "e"};
    for (int i = 0; i < 12; ++i) {
        const std::string path = src / (folders[i % 3] + "/m" + std::to_string(i) + ".msg");
        WriteFile(path, testing::Message("Message " + std::to_string(i)));
        list.AddFileToList(path);
    }
    // The copy's time from the message is chosen from the head the copy reads: no second open.
    for (const auto &[jobs, fileTime] : {std::pair{1u, FileTime::Source},
                                         std::pair{4u, FileTime::Source},
                                         std::pair{4u, FileTime::Message}}) {
        SCOPED_TRACE("jobs " + std::to_string(jobs) + (fileTime == FileTime::Message ? ", time" : ""));
        fs::remove_all(out.path());
        fs::create_directory(out.path());
        Counting sys;
        sys.noReplaceError = EINVAL;
        sys.linkError = EPERM;
        NativeFileService files(sys);
        RecordingObserver observer;
        observer.option = NamingOption::OptSD;
        DuplicateCounter counter = 0;
        RunOptions options;
        options.jobs = jobs;
        options.fileTime = fileTime;
        const auto openDescriptors = [] {
            return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
        };
        const auto descriptorsBefore = openDescriptors();
        ASSERT_TRUE(RunConversion(list, out.path().string(), counter, observer, files, options).AllConverted());
        // No folder stays open (busy) once the run is over.
        EXPECT_EQ(openDescriptors(), descriptorsBefore);
        EXPECT_EQ(sys.readOpens, 12);
        // Each level made costs at most a call that finds its parent missing and one that makes it;
        // a level that is there costs nothing once the run has made or found it. Workers stage
        // in folders of their own, one each and one around them, gone at the end.
        const int foldersMade = static_cast<int>(std::distance(fs::recursive_directory_iterator(out.path()),
                                                               fs::recursive_directory_iterator()) - 12);
        for (const auto &entry : fs::recursive_directory_iterator(out.path()))
            EXPECT_FALSE(entry.path().filename().string().starts_with(".tarvelin-")) << entry.path();
        EXPECT_LE(sys.mkdirs, 2 * foldersMade + (jobs > 1 ? static_cast<int>(jobs) + 2 : 0));
        EXPECT_EQ(sys.noReplaceRenames, 3);
        EXPECT_EQ(sys.links, 3);
        // A copy and its exclusive claim of the name.
        EXPECT_EQ(sys.otherOpens, 24);
        // Files are found from their open folders, each opened once (3 sources', 3 outputs' and
        // the staging folders), or twice where two workers met a folder at once; not per call.
        EXPECT_LE(sys.folderOpens, 2 * (6 + (jobs > 1 ? static_cast<int>(jobs) : 0)));
        for (const auto &[source, output] : observer.outputs) {
            EXPECT_EQ(ReadFile(output), ReadFile(source));
            if (fileTime != FileTime::Message) continue;
            const auto written = fs::file_time_type::clock::to_sys(fs::last_write_time(output));
            EXPECT_EQ(std::chrono::system_clock::to_time_t(written), 1341136800);  // the messages' Date
        }
    }
}

}  // namespace
}  // namespace tarvelin
