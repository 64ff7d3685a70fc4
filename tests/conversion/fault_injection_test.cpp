// Whole runs in which one message meets a fault: a full disk or a read error in the middle of its
// copy, a source gone or unreadable, an output folder or name refused, a path over the limit.
// Faults come through the system-call seam or from real file systems (a small tmpfs, mounted where
// the machine allows it). Each time the message is reported with its path and reason, every other
// message is converted, and no file that was there before is changed.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "platform/file_ops.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::Snapshot;
using testing::TempDir;
using testing::WriteFile;

constexpr std::size_t kMiB = 1024 * 1024;

// A message of about bodyBytes bytes more than its header.
std::string Message(const std::string &subject, std::size_t bodyBytes = 100) {
    std::string body;
    for (std::size_t i = 0; body.size() < bodyBytes; ++i) body += static_cast<char>('a' + i % 26);
    return testing::Message(subject, "Ann <ann@x.org>", "Sun, 1 Jul 2012 10:00:00 +0000", body);
}

// The real calls, except that the copy of one source, or the creation of chosen folders and
// files, fails as a test sets up.
class FaultySysCalls : public SysCalls {
public:
    std::string victim;        // the source whose copy meets the faults below
    int openError = 0;         // opening it fails
    int writeError = 0;        // writing its copy fails after writeLimit bytes
    std::size_t writeLimit = 0;
    int readError = 0;         // reading it fails after readLimit bytes
    std::size_t readLimit = 0;
    std::string refusedFolder;  // mkdir of exactly this folder fails with folderError
    int folderError = 0;
    std::string refusedCreate;  // creating a file whose path holds this fails with createError
    int createError = 0;
    int flushError = 0;         // flushing its copy to the disk fails
    // Copies given a final name before they were flushed: after a power cut such a name could
    // hold less than the whole message.
    mutable int claimedUnflushed = 0;

    int Open(const char *path, int flags, mode_t mode) const override {
        if ((flags & O_CREAT) != 0 && !refusedCreate.empty() &&
            std::string_view(path).find(refusedCreate) != std::string_view::npos) {
            return Fail(createError);
        }
        const bool isVictim = path == victim && (flags & O_ACCMODE) == O_RDONLY;
        if (isVictim && openError != 0) return Fail(openError);
        const int fd = SysCalls::Open(path, flags, mode);
        if (isVictim && fd >= 0) {
            victimFd_ = fd;
            moved_ = 0;
        }
        if ((flags & O_CREAT) != 0 && fd >= 0) {
            copies_[fd] = path;
            if (victimFd_ >= 0) victimCopyFd_ = fd;
        }
        return fd;
    }
    int Close(int fd) const override {
        if (fd == victimFd_) victimFd_ = -1;
        if (fd == victimCopyFd_) victimCopyFd_ = -1;
        copies_.erase(fd);
        return SysCalls::Close(fd);
    }
    int Fdatasync(int fd) const override {
        if (fd == victimCopyFd_ && flushError != 0) return Fail(flushError);
        if (const auto copy = copies_.find(fd); copy != copies_.end()) flushed_.insert(copy->second);
        return SysCalls::Fdatasync(fd);
    }
    ssize_t Read(int fd, void *buffer, std::size_t count) const override {
        if (fd != victimFd_ || readError == 0) return SysCalls::Read(fd, buffer, count);
        if (moved_ >= readLimit) return Fail(readError);
        return Moved(SysCalls::Read(fd, buffer, std::min(count, readLimit - moved_)));
    }
    ssize_t Write(int fd, const void *buffer, std::size_t count) const override {
        if (victimFd_ < 0 || writeError == 0) return SysCalls::Write(fd, buffer, count);
        if (moved_ >= writeLimit) return Fail(writeError);
        return Moved(SysCalls::Write(fd, buffer, std::min(count, writeLimit - moved_)));
    }
    ssize_t CopyFileRange(int inFd, int outFd, std::size_t count) const override {
        if (inFd != victimFd_) return SysCalls::CopyFileRange(inFd, outFd, count);
        if (readError != 0) return Fail(EXDEV);  // so that the read loop meets the read fault
        if (writeError == 0) return SysCalls::CopyFileRange(inFd, outFd, count);
        if (moved_ >= writeLimit) return Fail(writeError);
        return Moved(SysCalls::CopyFileRange(inFd, outFd, std::min(count, writeLimit - moved_)));
    }
    int Mkdir(const char *path, mode_t mode) const override {
        if (path == refusedFolder) return Fail(folderError);
        return SysCalls::Mkdir(path, mode);
    }
    // The copy gets its final name by a rename (or a link), which creates that name.
    int RenameNoReplace(const char *from, const char *to) const override {
        if (flushed_.count(from) == 0) ++claimedUnflushed;
        return Refused(to) ? Fail(createError) : SysCalls::RenameNoReplace(from, to);
    }
    int Link(const char *from, const char *to) const override {
        return Refused(to) ? Fail(createError) : SysCalls::Link(from, to);
    }

private:
    bool Refused(std::string_view path) const {
        return !refusedCreate.empty() && path.find(refusedCreate) != std::string_view::npos;
    }
    static int Fail(int err) {
        errno = err;
        return -1;
    }
    ssize_t Moved(ssize_t result) const {
        if (result > 0) moved_ += static_cast<std::size_t>(result);
        return result;
    }

    mutable int victimFd_ = -1;
    mutable int victimCopyFd_ = -1;
    mutable std::size_t moved_ = 0;
    mutable std::map<int, std::string> copies_;  // descriptor of each file created -> its path
    mutable std::set<std::string> flushed_;
};

// The run's file service over the real file utilities, with the seam above.
class SeamFileService : public FileService {
public:
    explicit SeamFileService(const SysCalls &sys) : sys_(sys) {}
    Status EnsureFolderExists(const std::string &folder) override { return EnsureFolder(folder, sys_); }
    bool FileExist(const std::string &path) override { return tarvelin::FileExist(path, sys_); }
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged) override {
        staged.reset();
        StagedCopy copy;
        Status status = tarvelin::StageCopy(source, folder, copy, sys_, &hooks);
        if (status) staged = std::make_unique<Staged>(std::move(copy));
        return status;
    }
    bool SameContent(const std::string &a, const std::string &b) override { return tarvelin::SameContent(a, b, sys_); }

private:
    struct Staged : StagedFile {
        explicit Staged(StagedCopy copy) : copy(std::move(copy)) {}
        Status Flush() override { return copy.Flush(); }
        Status ClaimAs(const std::string &destination) override { return copy.ClaimAs(destination); }
        StagedCopy copy;
    };
    const SysCalls &sys_;
};

class RecordingObserver : public RunObserver {
public:
    NamingOption SelectedNamingOption() override { return NamingOption::OptSD; }
    void MessageConverted(const std::string &source, const std::string &output) override {
        outputs[source].push_back(output);
    }
    std::map<std::string, std::vector<std::string>> outputs;
};

// Sources in three folders, the victim alone in its own, and an output folder that already holds
// a file with the name the first message will want.
struct Archive {
    TempDir src, out;
    std::string victim = src / "v/deep/2.msg";
    std::vector<std::string> others = {src / "a/1.msg", src / "a/4.msg", src / "b/3.msg"};
    MessageList list;

    explicit Archive(std::size_t victimBytes = 3 * kMiB) {
        WriteFile(others[0], Message("Same"));
        WriteFile(others[1], Message("Same", 5000));
        WriteFile(others[2], Message("Other"));
        WriteFile(victim, Message("Victim", victimBytes));
        for (const std::string &path : {others[0], victim, others[1], others[2]}) list.AddFileToList(path);
        WriteFile(testing::Mirrored(out, src, "a") + "Same 01-07-2012.eml", "an older file of that name");
    }
    std::string VictimFolder() const { return testing::Mirrored(out, src, "v/deep"); }
};

// What every faulty run must give: the victim reported with its path and the reason, the others
// converted to one byte-identical file each, and every file that was there before unchanged.
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
    for (const std::string &source : archive.others) {
        const auto found = observer.outputs.find(source);
        ASSERT_NE(found, observer.outputs.end()) << source;
        ASSERT_EQ(found->second.size(), 1u) << source;
        EXPECT_EQ(ReadFile(found->second[0]), sourcesBefore.at(source)) << source;
        expectedOutput[found->second[0]] = sourcesBefore.at(source);
    }
    EXPECT_EQ(observer.outputs.count(archive.victim), 0u);
    // Nothing else in the output: no partial copy, no temporary file, nothing overwritten.
    EXPECT_TRUE(Snapshot(archive.out.path()) == expectedOutput);
    EXPECT_TRUE(Snapshot(archive.src.path()) == sourcesBefore);
}

struct FaultCase {
    const char *name;
    void (*arrange)(Archive &archive, FaultySysCalls &sys);
    const char *reason;
};

void PrintTo(const FaultCase &c, std::ostream *os) { *os << c.name; }

class FaultInRun : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultInRun, OnlyTheFaultyMessageIsLostAndReportedWithItsReason) {
    Archive archive;
    FaultySysCalls sys;
    sys.victim = archive.victim;
    GetParam().arrange(archive, sys);
    const auto sourcesBefore = Snapshot(archive.src.path());
    const auto outputBefore = Snapshot(archive.out.path());
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    SeamFileService files(sys);

    const ConversionReport report = RunConversion(archive.list, archive.out.path().string(), counter, observer, files);

    ExpectOnlyTheVictimLost(archive, report, observer, sourcesBefore, outputBefore, GetParam().reason);
    EXPECT_EQ(sys.claimedUnflushed, 0);
}

// The victim's plain name is taken, so its copy goes to a numbered name; the old file must stay.
void TakeTheVictimsName(Archive &archive) {
    WriteFile(archive.VictimFolder() + "Victim 01-07-2012.eml", "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultInRun,
    ::testing::Values(
        FaultCase{"DiskFullMidCopy",
                  [](Archive &a, FaultySysCalls &s) {
                      TakeTheVictimsName(a);
                      s.writeError = ENOSPC;
                      s.writeLimit = kMiB + 3;
                  },
                  "No space left on device"},
        FaultCase{"ReadFailsMidCopy",
                  [](Archive &a, FaultySysCalls &s) {
                      TakeTheVictimsName(a);
                      s.readError = EIO;
                      s.readLimit = kMiB + 3;
                  },
                  "cannot read the message: Input/output error"},
        FaultCase{"FlushToTheDiskFails",
                  [](Archive &a, FaultySysCalls &s) {
                      TakeTheVictimsName(a);
                      s.flushError = EIO;
                  },
                  "cannot finish the copy: Input/output error"},
        FaultCase{"SourceRemovedAfterListing", [](Archive &a, FaultySysCalls &) { fs::remove(a.victim); },
                  "No such file or directory"},
        FaultCase{"SourceUnreadable", [](Archive &, FaultySysCalls &s) { s.openError = EACCES; },
                  "cannot open the message: Permission denied"},
        FaultCase{"OutputFolderRefused",
                  [](Archive &a, FaultySysCalls &s) {
                      s.refusedFolder = a.VictimFolder();
                      s.refusedFolder.pop_back();
                      s.folderError = EACCES;
                  },
                  "Permission denied"},
        FaultCase{"FileInTheWayOfTheOutputFolder",
                  [](Archive &a, FaultySysCalls &) {
                      std::string folder = a.VictimFolder();
                      folder.pop_back();
                      WriteFile(folder, "a file, not a folder");
                  },
                  "in the way"},
        FaultCase{"OutputFolderReadOnly",
                  [](Archive &a, FaultySysCalls &s) {
                      TakeTheVictimsName(a);
                      s.refusedCreate = a.VictimFolder();
                      s.createError = EROFS;
                  },
                  "Read-only file system"},
        FaultCase{"NameRefusedByTheFileSystem",
                  [](Archive &, FaultySysCalls &s) {
                      s.refusedCreate = "Victim 01-07-2012";
                      s.createError = EINVAL;
                  },
                  "Invalid argument"},
        FaultCase{"OutputPathTooLong",
                  [](Archive &a, FaultySysCalls &s) {
                      s.refusedCreate = a.VictimFolder();
                      s.createError = ENAMETOOLONG;
                  },
                  "File name too long"}),
    [](const ::testing::TestParamInfo<FaultCase> &row) { return std::string(row.param.name); });

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

TEST(RealFaultInRun, DiskThatFillsLosesOnlyTheMessageThatDoesNotFit) {
    Archive archive(2 * kMiB);
    SmallFileSystem disk(archive.out.path().string(), "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    WriteFile(testing::Mirrored(archive.out, archive.src, "a") + "Same 01-07-2012.eml", "an older file of that name");
    const auto sourcesBefore = Snapshot(archive.src.path());
    const auto outputBefore = Snapshot(archive.out.path());
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;

    const ConversionReport report = RunConversion(archive.list, archive.out.path().string(), counter, observer, files);

    ExpectOnlyTheVictimLost(archive, report, observer, sourcesBefore, outputBefore, "No space left on device");
}

TEST(RealFaultInRun, ReadOnlyOutputFolderLosesOnlyTheMessagesBoundForIt) {
    Archive archive;
    const std::string folder = archive.VictimFolder();
    SmallFileSystem disk(folder, "size=1m");
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    TakeTheVictimsName(archive);
    ASSERT_TRUE(disk.MakeReadOnly()) << std::strerror(errno);
    const auto sourcesBefore = Snapshot(archive.src.path());
    const auto outputBefore = Snapshot(archive.out.path());
    RecordingObserver observer;
    DuplicateCounter counter = 0;
    NativeFileService files;

    const ConversionReport report = RunConversion(archive.list, archive.out.path().string(), counter, observer, files);

    ExpectOnlyTheVictimLost(archive, report, observer, sourcesBefore, outputBefore, "Read-only file system");
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
        ASSERT_EQ(observer.outputs[source].size(), 1u);
        const std::string output = observer.outputs[source][0];
        EXPECT_EQ(ReadFile(output), Message(longSubject));
        const std::string name = fs::path(output).filename().string();
        EXPECT_LE(name.size(), 255u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 2u);
}

}  // namespace
}  // namespace tarvelin
