#include "platform/file_ops.h"
#include "platform/staging_record.h"
#include "platform/temporary_name.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/syscalls.h"
#include "tests/support/copy_as.h"
#include "tests/support/faulty_syscalls.h"
#include "tests/support/stop_after_yields.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::CopyAs;
using testing::FaultySysCalls;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Every byte value, NULs and CR LF pairs included.
std::string Bytes(std::size_t size) {
    std::mt19937 engine(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char &c : bytes) c = static_cast<char>(engine() & 0xff);
    return bytes;
}

std::set<std::string> Entries(const fs::path &folder) {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// What a user would find at the path: its kind and content or target.
std::string Describe(const fs::path &path) {
    const auto status = fs::symlink_status(path);
    if (fs::is_symlink(status)) return "link to " + fs::read_symlink(path).string();
    if (fs::is_directory(status)) return "folder of " + std::to_string(Entries(path).size());
    if (fs::exists(status)) return "file " + ReadFile(path);
    return "nothing";
}

constexpr std::size_t kMiB = 1024 * 1024;

struct CopyCase {
    const char *name;
    std::size_t size;
    void (*faults)(FaultySysCalls &);
};

void PrintTo(const CopyCase &c, std::ostream *os) { *os << c.name; }

class CopiesExactly : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopiesExactly, IntoANewFile) {
    const CopyCase &c = GetParam();
    const std::string content = Bytes(c.size);
    TempDir dir;
    WriteFile(dir / "in.msg", content);
    FaultySysCalls sys;
    if (c.faults != nullptr) c.faults(sys);

    const Status status = CopyAs(dir / "in.msg", dir / "out.eml", sys);

    ASSERT_TRUE(status.ok()) << status.reason();
    EXPECT_TRUE(ReadFile(dir / "out.eml") == content);
    EXPECT_TRUE(ReadFile(dir / "in.msg") == content);
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"in.msg", "out.eml"}));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, CopiesExactly,
    ::testing::Values(
        CopyCase{"EmptyFile", 0, nullptr}, CopyCase{"SmallFile", 300, nullptr},
        CopyCase{"SeveralMebibytes", 5 * kMiB + 123, nullptr},
        CopyCase{"ShortWrites", 3 * kMiB + 7, [](FaultySysCalls &s) { s.maxChunk = 100003; }},
        CopyCase{"InterruptedCalls", 3 * kMiB + 7, [](FaultySysCalls &s) { s.interrupts = true; }},
        CopyCase{"NoInKernelCopyENOSYS", 5 * kMiB + 123,
                 [](FaultySysCalls &s) { s.copyRangeError = ENOSYS; }},
        CopyCase{"NoInKernelCopyEXDEV", 5 * kMiB + 123, [](FaultySysCalls &s) { s.copyRangeError = EXDEV; }},
        CopyCase{"InKernelCopyStopsShortOfTheSize", 5 * kMiB + 123,
                 [](FaultySysCalls &s) {
                     s.maxChunk = kMiB;
                     s.copyRangeStopsEarly = true;
                 }},
        CopyCase{"ShortWritesInTheReadWriteLoop", 2 * kMiB + 1,
                 [](FaultySysCalls &s) {
                     s.copyRangeError = EXDEV;
                     s.maxChunk = 4097;
                     s.interrupts = true;
                 }}),
    [](const ::testing::TestParamInfo<CopyCase> &row) { return std::string(row.param.name); });

TEST(StagedCopy, KeepsTheTimesAndPermissionsOfTheSource) {
    TempDir dir;
    WriteFile(dir / "in.msg", "Subject: old\r\n\r\nbody\r\n");
    const struct timespec times[2] = {{1'000'000'000, 5}, {1'100'000'000, 123'456'789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "in.msg").c_str(), times, 0), 0);
    ASSERT_EQ(::chmod((dir / "in.msg").c_str(), 0640), 0);

    ASSERT_TRUE(CopyAs(dir / "in.msg", dir / "out.eml").ok());

    struct stat copy {};
    ASSERT_EQ(::stat((dir / "out.eml").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1'100'000'000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 123'456'789);
    EXPECT_EQ(copy.st_atim.tv_sec, 1'000'000'000);
    EXPECT_EQ(copy.st_mode & 07777, 0640u);
}

// A chosen modification time is set before the name, with the source's access time; refused, it
// leaves the source's times and says so, and the copy is kept.
TEST(StagedCopy, TakesAChosenTimeOrKeepsTheSourcesWhenRefused) {
    for (const bool refused : {false, true}) {
        TempDir dir;
        WriteFile(dir / "in.msg", "Subject: old\r\n\r\nbody\r\n");
        const struct timespec times[2] = {{1'000'000'000, 5}, {1'100'000'000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "in.msg").c_str(), times, 0), 0);
        FaultySysCalls sys;
        if (refused) sys.refusedTime = 1'425'371'400;
        StagedCopy copy;
        ASSERT_TRUE(StageCopy(dir / "in.msg", dir.path().string(), copy, sys, nullptr, 1'425'371'400).ok());
        EXPECT_EQ(copy.KeptSourceTime(), refused);
        ASSERT_TRUE(copy.ClaimAs(dir / "out.eml").ok());
        struct stat out {};
        ASSERT_EQ(::stat((dir / "out.eml").c_str(), &out), 0);
        EXPECT_EQ(out.st_mtim.tv_sec, refused ? 1'100'000'000 : 1'425'371'400);
        EXPECT_EQ(out.st_atim.tv_sec, 1'000'000'000);
    }
}

TEST(StagedCopy, LargeCopyYieldsBetweenSlicesAndStopsWithoutLeavingAFile) {
    const std::string large(20 << 20, 'x');
    TempDir dir;
    WriteFile(dir / "big.msg", large);

    testing::StopAfterYields counting(testing::StopAfterYields::kNever);
    ASSERT_TRUE(CopyAs(dir / "big.msg", dir / "whole.eml", RealSysCalls(), &counting));
    EXPECT_GE(counting.yields, 4);  // at least one per 4 MiB slice
    EXPECT_EQ(ReadFile(dir / "whole.eml"), large);

    testing::StopAfterYields stopping(1);
    const Status stopped = CopyAs(dir / "big.msg", dir / "new.eml", RealSysCalls(), &stopping);
    EXPECT_EQ(stopped.kind(), ErrorKind::Stopped);
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"big.msg", "whole.eml"}));
}

TEST(StagedCopy, TakenDestinationIsLeftAlone) {
    struct Taken {
        const char *what;
        void (*make)(const TempDir &dir);
    };
    const Taken cases[] = {
        {"file", [](const TempDir &d) { WriteFile(d / "out.eml", "older message"); }},
        {"empty file", [](const TempDir &d) { WriteFile(d / "out.eml", ""); }},
        {"folder", [](const TempDir &d) { WriteFile(d / "out.eml/inside.eml", "kept"); }},
        {"broken link", [](const TempDir &d) { fs::create_symlink(d / "nowhere", d / "out.eml"); }},
        {"link to a file",
         [](const TempDir &d) {
             WriteFile(d / "target", "target bytes");
             fs::create_symlink(d / "target", d / "out.eml");
         }},
    };
    for (const Taken &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "in.msg", "new message");
        c.make(dir);
        const std::string before = Describe(dir / "out.eml");

        const Status status = CopyAs(dir / "in.msg", dir / "out.eml");

        EXPECT_EQ(status.kind(), ErrorKind::AlreadyExists) << status.reason();
        EXPECT_EQ(Describe(dir / "out.eml"), before);
        EXPECT_FALSE(fs::exists(dir / "nowhere"));
        if (fs::exists(dir / "target")) {
            EXPECT_EQ(ReadFile(dir / "target"), "target bytes");
        }
    }
}

struct FailureCase {
    const char *name;
    void (*faults)(FaultySysCalls &);
    const char *reason;
};

void PrintTo(const FailureCase &c, std::ostream *os) { *os << c.name; }

class FailedCopy : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailedCopy, LeavesNoPartialFile) {
    const FailureCase &c = GetParam();
    const std::string content = Bytes(3 * kMiB);
    TempDir dir;
    WriteFile(dir / "in.msg", content);
    FaultySysCalls sys;
    c.faults(sys);

    const Status status = CopyAs(dir / "in.msg", dir / "out.eml", sys);

    EXPECT_FALSE(status.ok());
    EXPECT_EQ(status.reason(), c.reason);
    EXPECT_TRUE(ReadFile(dir / "in.msg") == content);
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"in.msg"});
}

INSTANTIATE_TEST_SUITE_P(
    InjectedFaults, FailedCopy,
    ::testing::Values(
        FailureCase{"DiskFullDuringInKernelCopy",
                    [](FaultySysCalls &s) {
                        s.writeError = ENOSPC;
                        s.writeLimit = kMiB + 5;
                    },
                    "cannot write the copy: No space left on device"},
        FailureCase{"DiskFullDuringWriteLoop",
                    [](FaultySysCalls &s) {
                        s.copyRangeError = ENOSYS;
                        s.writeError = ENOSPC;
                        s.writeLimit = kMiB + 5;
                    },
                    "cannot write the copy: No space left on device"},
        FailureCase{"ReadErrorMidway",
                    [](FaultySysCalls &s) {
                        s.copyRangeError = EXDEV;
                        s.readError = EIO;
                        s.readLimit = 300000;
                    },
                    "cannot read the message: Input/output error"},
        FailureCase{"InKernelCopyError", [](FaultySysCalls &s) { s.copyRangeError = EIO; },
                    "cannot copy the message: Input/output error"},
        FailureCase{"CloseReportsLostData", [](FaultySysCalls &s) { s.closeError = EIO; },
                    "cannot finish the copy: Input/output error"}),
    [](const ::testing::TestParamInfo<FailureCase> &row) { return std::string(row.param.name); });

TEST(StagedCopy, UnusableSourceMakesNoCopy) {
    TempDir dir;
    fs::create_directory(dir / "folder.msg");
    ASSERT_EQ(::mkfifo((dir / "pipe.msg").c_str(), 0600), 0);

    const Status pipe = CopyAs(dir / "pipe.msg", dir / "d.eml");
    const Status missing = CopyAs(dir / "missing.msg", dir / "a.eml");
    const Status folder = CopyAs(dir / "folder.msg", dir / "b.eml");
    const Status empty = CopyAs("", dir / "c.eml");

    EXPECT_EQ(missing.kind(), ErrorKind::NotFound);
    EXPECT_EQ(missing.reason(), "cannot open the message: No such file or directory");
    EXPECT_EQ(folder.reason(), "cannot copy the message: it is a folder");
    EXPECT_EQ(empty.reason(), "cannot open the message: no valid path");
    EXPECT_EQ(pipe.reason(), "cannot copy the message: it is not a regular file");
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"folder.msg", "pipe.msg"}));
    EXPECT_TRUE(fs::is_empty(dir / "folder.msg"));
}

// However the file system gives a copy its final name, a taken name is never replaced and the
// staged copy waits for another one; a free name gets the whole copy and no temporary remains.
struct ClaimCase {
    const char *name;
    int noReplaceError;
    int linkError;
};

void PrintTo(const ClaimCase &c, std::ostream *os) { *os << c.name; }

class ClaimsWithoutReplacing : public ::testing::TestWithParam<ClaimCase> {};

TEST_P(ClaimsWithoutReplacing, OnEveryFileSystem) {
    TempDir dir;
    WriteFile(dir / "m.msg", Bytes(5000));
    WriteFile(dir / "taken.eml", "old");
    FaultySysCalls sys;
    sys.noReplaceError = GetParam().noReplaceError;
    sys.linkError = GetParam().linkError;
    StagedCopy copy;
    ASSERT_TRUE(StageCopy(dir / "m.msg", dir.path().string(), copy, sys).ok());

    EXPECT_EQ(copy.ClaimAs(dir / "taken.eml").kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(ReadFile(dir / "taken.eml"), "old");
    ASSERT_TRUE(copy.ClaimAs(dir / "free.eml").ok());
    EXPECT_EQ(ReadFile(dir / "free.eml"), Bytes(5000));
    // A hard link leaves the temporary name until the copy is dropped.
    EXPECT_EQ(copy.LeftToRemove(), GetParam().noReplaceError != 0 && GetParam().linkError == 0);
    copy = StagedCopy();
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"m.msg", "taken.eml", "free.eml"}));
}

INSTANTIATE_TEST_SUITE_P(
    FileSystems, ClaimsWithoutReplacing,
    ::testing::Values(ClaimCase{"NoReplaceRename", 0, 0}, ClaimCase{"LinkWhereTheFlagIsRefused", EINVAL, 0},
                      ClaimCase{"ExclusiveCreateWithoutLinks", ENOSYS, EPERM}),
    [](const auto &info) { return std::string(info.param.name); });

// A copy staged in a folder of another file system than its name's is copied beside the name
// first, whichever way the file system names copies; nothing stays behind in either folder.
class TwoFileSystems : public FaultySysCalls {
public:
    int RenameNoReplace(FileAt from, FileAt to) const override {
        return Apart(from, to) ? Fail(EXDEV) : FaultySysCalls::RenameNoReplace(from, to);
    }
    int Link(FileAt from, FileAt to) const override {
        return Apart(from, to) ? Fail(EXDEV) : FaultySysCalls::Link(from, to);
    }

private:
    static bool Apart(FileAt from, FileAt to) {
        return fs::path(from.path).parent_path() != fs::path(to.path).parent_path();
    }
    static int Fail(int err) {
        errno = err;
        return -1;
    }
};

TEST(StagedCopy, ClaimedAcrossFileSystemsIsCopiedBesideItsName) {
    for (const int noReplaceError : {0, EINVAL}) {
        SCOPED_TRACE(noReplaceError);
        TempDir dir;
        fs::create_directory(dir / "staging");
        fs::create_directory(dir / "out");
        WriteFile(dir / "m.msg", Bytes(70000));
        TwoFileSystems sys;
        sys.noReplaceError = noReplaceError;
        StagedCopy copy;
        ASSERT_TRUE(StageCopy(dir / "m.msg", dir / "staging", copy, sys).ok());
        ASSERT_TRUE(copy.ClaimAs(dir / "out/m.eml").ok());
        copy = StagedCopy();
        EXPECT_EQ(ReadFile(dir / "out/m.eml"), Bytes(70000));
        EXPECT_TRUE(Entries(dir / "staging").empty());
        EXPECT_EQ(Entries(dir / "out"), std::set<std::string>{"m.eml"});
    }
}

// Copies found from open folders, with room for one folder only: every lookup lets the last one
// go, and a folder still in use by a call or a staged copy must stay open until it is done. Nothing
// stays open after CloseAll.
TEST(FolderHandles, FoldersLetGoInUseStayOpenUntilDone) {
    const auto openDescriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = openDescriptors();
    TempDir dir;
    for (const char *folder : {"a", "b", "staging", "out"}) fs::create_directory(dir / folder);
    {
        FolderHandles folders(RealSysCalls(), 1);
        for (int i = 0; i < 6; ++i) {
            const std::string name = "m" + std::to_string(i);
            const std::string source = dir / ((i % 2 == 0 ? "a/" : "b/") + name + ".msg");
            WriteFile(source, Bytes(100 + i));
            StagedCopy copy, dropped;
            ASSERT_TRUE(StageCopy(source, dir / "staging", copy, RealSysCalls(), nullptr, std::nullopt, nullptr,
                                  &folders).ok());
            ASSERT_TRUE(StageCopy(source, dir / "staging", dropped, RealSysCalls(), nullptr, std::nullopt, nullptr,
                                  &folders).ok());
            ASSERT_TRUE(copy.ClaimAs(dir / ("out/" + name + ".eml")).ok());
            EXPECT_EQ(ReadFile(dir / ("out/" + name + ".eml")), Bytes(100 + i));
        }
        EXPECT_TRUE(Entries(dir / "staging").empty());
        folders.CloseAll();
        EXPECT_EQ(openDescriptors(), before);
    }
}

TEST(StagedCopy, DroppedUnclaimedLeavesNothing) {
    TempDir dir;
    WriteFile(dir / "m.msg", "message");
    {
        StagedCopy copy;
        ASSERT_TRUE(StageCopy(dir / "m.msg", dir.path().string(), copy).ok());
        const std::set<std::string> entries = Entries(dir.path());
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_TRUE(IsTemporaryName(*entries.begin())) << *entries.begin();
    }
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"m.msg"});
}

TEST(SameContent, ComparesSizesThenBytes) {
    TempDir dir;
    WriteFile(dir / "a", Bytes(300000));
    WriteFile(dir / "same", Bytes(300000));
    std::string late = Bytes(300000);
    late.back() ^= 1;
    WriteFile(dir / "late", late);
    WriteFile(dir / "short", Bytes(299999));
    EXPECT_TRUE(SameContent(dir / "a", dir / "same"));
    for (const char *other : {"late", "short", "missing"}) EXPECT_FALSE(SameContent(dir / "a", dir / other)) << other;
}

TEST(EnsureFolder, CreatesEveryMissingLevelOrAcceptsWhatExists) {
    TempDir dir;
    for (const std::string relative : {"a/b/c", "d/e/f/", "a/b/c", "a/b/c/", "a", "a/", "g//h"}) {
        SCOPED_TRACE(relative);
        const Status status = EnsureFolder(dir / relative);
        EXPECT_TRUE(status.ok()) << status.reason();
        EXPECT_TRUE(fs::is_directory(dir / relative));
        EXPECT_TRUE(EnsureFolder(dir / relative).ok());
    }
    EXPECT_TRUE(EnsureFolder("/").ok());
}

TEST(EnsureFolder, FailsWhereAFileStandsInTheWay) {
    for (const std::string relative : {"file", "file/", "file/sub", "file/sub/deeper/"}) {
        SCOPED_TRACE(relative);
        TempDir dir;
        WriteFile(dir / "file", "a message");

        const Status status = EnsureFolder(dir / relative);

        EXPECT_FALSE(status.ok());
        EXPECT_EQ(status.reason(),
                  "cannot create the folder " + (dir / "file") + ": a file of that name is in the way");
        EXPECT_EQ(ReadFile(dir / "file"), "a message");
        EXPECT_FALSE(EnsureFolder(dir / relative).ok());
    }
}

TEST(EnsureFolder, FolderMadeMeanwhileByAnotherProcessIsFine) {
    // Each folder this run makes, another process makes first.
    struct Racing : SysCalls {
        int Mkdir(const char *path, mode_t mode) const override {
            if (SysCalls::Mkdir(path, mode) != 0) return -1;
            errno = EEXIST;
            return -1;
        }
    } racing;
    TempDir dir;
    EXPECT_TRUE(EnsureFolder(dir / "x/y/z", racing).ok());
    EXPECT_TRUE(fs::is_directory(dir / "x/y/z"));
}

TEST(EnsureFolder, RefusedCreationIsReported) {
    // A folder that takes no new entries: what is missing below it is missing, the rest refused.
    struct Refusing : SysCalls {
        int Mkdir(const char *path, mode_t) const override {
            struct stat info {};
            errno = ::stat(std::string(path).substr(0, std::string(path).rfind('/')).c_str(), &info) == 0 ? EACCES
                                                                                                          : ENOENT;
            return -1;
        }
    } refusing;
    TempDir dir;
    const Status status = EnsureFolder(dir / "x/y", refusing);
    EXPECT_EQ(status.reason(), "cannot create the folder " + (dir / "x") + ": Permission denied");
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST(FileExist, TrueForAnyEntryFalseForMissingOrMalformedPaths) {
    TempDir dir;
    WriteFile(dir / "empty.eml", "");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "nowhere", dir / "broken.eml");
    const struct {
        std::string path;
        bool exists;
    } cases[] = {
        {dir / "empty.eml", true},
        {dir / "folder", true},
        {dir / "folder/", true},
        {dir / "broken.eml", true},
        {dir / "missing.eml", false},
        {dir / "empty.eml/", false},
        {"", false},
        // Cut at the NUL the path would name the existing file.
        {dir / "empty.eml" + std::string(1, '\0') + "x", false},
    };
    for (const auto &c : cases) EXPECT_EQ(FileExist(c.path), c.exists) << c.path;
}

// Learning how a file system keeps times costs a wait for its server: the copies that come while
// one learns wait for its answer instead of each waiting for the server too.
TEST(StagingRecord, OneCopyLearnsAFileSystemsTimeRouteTheOthersWaitForIt) {
    StagingRecord record;
    bool learn = false;
    EXPECT_EQ(record.OnDevice(7, learn), TimeRoute::Unknown);
    ASSERT_TRUE(learn);
    bool otherLearns = true;
    TimeRoute otherRoute = TimeRoute::Unknown;
    std::thread other([&] { otherRoute = record.OnDevice(7, otherLearns); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    record.KeepOnDevice(7, TimeRoute::AgainAfterClose);
    other.join();
    EXPECT_FALSE(otherLearns);
    EXPECT_EQ(otherRoute, TimeRoute::AgainAfterClose);
    EXPECT_EQ(record.OnDevice(8, learn), TimeRoute::Unknown);
    EXPECT_TRUE(learn);
}

}  // namespace
}  // namespace tarvelin
