// The hold a run keeps on its output folder: one run at a time, the leftovers of killed runs
// removed, and nothing left of the hold itself.
#include "conversion/output_folder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "platform/file_lock.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::SystemPath;
using testing::TempDir;
using testing::WriteFile;

bool Exists(const std::string &path) { return fs::exists(SystemPath(path)); }

TEST(OutputFolderHold, KeepsASecondRunOutUntilItEnds) {
    TempDir temp;
    const std::string folder = temp / "out";
    {
        OutputFolderHold first;
        ASSERT_TRUE(first.Take(folder)) << "the first run";
        EXPECT_EQ(first.Unguarded(), "");
        OutputFolderHold second;
        const Status refused = second.Take(folder + "/");
        EXPECT_EQ(refused.reason(),
                  "cannot write to the folder " + folder + "/: another run of Tarvelin is writing to it");
        EXPECT_FALSE(OutputFolderHold::Check(folder)) << "a dry run sees it too";
    }
    EXPECT_TRUE(OutputFolderHold::Check(folder));
    OutputFolderHold after;
    EXPECT_TRUE(after.Take(folder));
}

// A run that wrote nothing leaves no folder it made; one that wrote keeps it; the lock file goes.
TEST(OutputFolderHold, LeavesOnlyWhatTheRunWrote) {
    TempDir temp;
    for (const bool writes : {false, true}) {
        const std::string folder = temp / "a/b/c";
        {
            OutputFolderHold hold;
            ASSERT_TRUE(hold.Take(folder));
            EXPECT_TRUE(Exists(folder));
            if (writes) WriteFile(folder + "/x.eml", "x");
        }
        EXPECT_EQ(Exists(temp / "a"), writes);
        EXPECT_EQ(testing::Snapshot(SystemPath(temp / "a")).size(), writes ? 1u : 0u);
    }
}

// The staging folders of killed runs go with the copies they left; a live run's stays, and so does
// anything that is not ours.
TEST(OutputFolderHold, RemovesTheStagingFoldersNoLiveRunHolds) {
    TempDir temp;
    const std::string out = temp / "out";
    WriteFile(out + "/.tarvelin-dead0000000.part/lock", "");
    WriteFile(out + "/.tarvelin-dead0000000.part/0/.tarvelin-copy0000000.part", "partial");
    WriteFile(out + "/.tarvelin-dead0000000.part/3/.tarvelin-copy0000001.part", "partial");
    WriteFile(out + "/.tarvelin-nolock00000.part/1/.tarvelin-copy0000002.part", "from an older release");
    WriteFile(out + "/.tarvelin-foreign0000.part/0/notes.txt", "not ours");
    WriteFile(out + "/.tarvelin-live0000000.part/0/.tarvelin-copy0000003.part", "being written");
    FileLock live;
    std::string reason;
    ASSERT_EQ(live.Take(out + "/.tarvelin-live0000000.part/lock", true, reason), LockState::Held) << reason;

    OutputFolderHold hold;
    ASSERT_TRUE(hold.Take(out));
    EXPECT_FALSE(Exists(out + "/.tarvelin-dead0000000.part"));
    EXPECT_FALSE(Exists(out + "/.tarvelin-nolock00000.part"));
    EXPECT_TRUE(Exists(out + "/.tarvelin-foreign0000.part/0/notes.txt"));
    EXPECT_TRUE(Exists(out + "/.tarvelin-live0000000.part/0/.tarvelin-copy0000003.part"));
}

// The lock ends with the process that held it, however it ends.
TEST(OutputFolderHold, EndsWithAKilledRun) {
#ifdef _WIN32
    GTEST_SKIP() << "kills a child process made by fork";
#else
    TempDir temp;
    const std::string folder = temp / "out";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputFolderHold hold;
        const char held = hold.Take(folder) ? 'y' : 'n';
        (void)::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    EXPECT_EQ(held, 'y');
    EXPECT_FALSE(OutputFolderHold::Check(folder));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(Exists(folder + "/.tarvelin.lock")) << "left, as after kill -9";
    OutputFolderHold next;
    EXPECT_TRUE(next.Take(folder));
#endif
}

}  // namespace
}  // namespace tarvelin
