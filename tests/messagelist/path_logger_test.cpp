#include "messagelist/path_logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/path_split.h"
#include "tests/support/fake_lister.h"
#include "tests/support/stop_after_yields.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::FakeLister;
using testing::Native;
using testing::TempDir;
using testing::WriteFile;

DirectoryEntry File(std::string name) { return {std::move(name), false}; }
DirectoryEntry Dir(std::string name) { return {std::move(name), true}; }

// Three levels, folders and files mixed in the listing, not in name order.
void ThreeLevels(FakeLister &lister) {
    lister.Folder(Native("/r/"), {File("z.txt"), Dir("b"), File("a.msg"), Dir("a")});
    lister.Folder(Native("/r/b/"), {File("b1"), Dir("deep")});
    lister.Folder(Native("/r/a/"), {File("a1")});
    lister.Folder(Native("/r/b/deep/"), {File("d1")});
}

using Texts = std::vector<std::string>;

// Every text of the list, in its order, as the folder scan reads them.
template <typename List>
Texts Items(const List &list) {
    Texts items;
    for (std::size_t position = 1; position <= list.Count(); ++position) items.emplace_back(list.Item(position));
    return items;
}

using testing::StopAfterYields;

TEST(KeyedList, KeepsOrderAndRefusesKeysAlreadyPresent) {
    KeyedList<std::string> list;
    for (const int number : {0, 2, 3, 10}) ASSERT_TRUE(list.Add("v" + std::to_string(number), number));
    for (const int number : {0, 3, 10}) EXPECT_FALSE(list.Add("again", number)) << number;
    EXPECT_EQ(Items(list), (Texts{"v0", "v2", "v3", "v10"}));
    EXPECT_EQ(list.Item(2), "v2");
}

TEST(NativeDirectoryLister, ListsEntriesAndNamesTheFolderItCannotOpen) {
    TempDir dir;
    WriteFile(dir / "sub/f.msg", "x");
    const DirectoryLister &lister = NativeDirectoryLister();

    const DirectoryListing sub = lister.List(dir / "sub");
    ASSERT_TRUE(sub.status.ok());
    ASSERT_EQ(sub.entries.size(), 1u);  // no "." or ".."
    EXPECT_EQ(sub.entries[0].name, "f.msg");
    EXPECT_FALSE(sub.entries[0].isFolder);
    EXPECT_NE(lister.List(dir.path().string()).identity, sub.identity);

    for (const std::string &bad : {dir / "missing", dir / "sub/f.msg"}) {
        const DirectoryListing listing = lister.List(bad);
        EXPECT_FALSE(listing.status.ok()) << bad;
        EXPECT_NE(listing.status.reason().find("the folder: "), std::string::npos) << listing.status.reason();
        EXPECT_TRUE(listing.entries.empty());
    }
    EXPECT_FALSE(lister.FolderExists(dir / "sub/f.msg"));
    EXPECT_FALSE(lister.FolderExists(dir / "missing"));
#ifndef _WIN32  // std::filesystem cannot make symbolic links on Windows
    fs::create_directory_symlink(dir / "sub", dir / "link");
    EXPECT_EQ(lister.List(dir / "link/").identity, sub.identity);
    EXPECT_TRUE(lister.FolderExists(dir / "link"));
#endif
}

TEST(PathLogger, WalksLevelByLevelWithEachFolderInNameOrder) {
    FakeLister lister;
    ThreeLevels(lister);
    pathLogger walker(NoWorkHooks(), lister);
    walker.PathLogInit();
    walker.LogPath(Native("/r"));

    EXPECT_EQ(Items(*walker.fullFileNames()), (Texts{Native("/r/a.msg"), Native("/r/z.txt"), Native("/r/a/a1"),
                                                      Native("/r/b/b1"), Native("/r/b/deep/d1")}));
    EXPECT_EQ(walker.Count(), 6);
    // One listing per folder.
    EXPECT_EQ(lister.listed, (std::vector<std::string>{Native("/r/"), Native("/r/a/"), Native("/r/b/"),
                                                       Native("/r/b/deep/")}));
    EXPECT_EQ(walker.FoldersNotRead(), 0);
    EXPECT_FALSE(walker.Stopped());
}

TEST(PathLogger, RealTreeIsWalkedBreadthFirstInNameOrder) {
    TempDir dir;
    WriteFile(dir / "top.msg", "1");
    WriteFile(dir / "one/mid.msg", "2");
    WriteFile(dir / "two/mid.eml", "3");
    WriteFile(dir / "one/inner/low.msg", "4");
    WriteFile(dir / "two/inner/low.txt", "5");
    fs::create_directories(dir / "empty");

    pathLogger walker;
    walker.PathLogInit();
    walker.LogPath(dir.path().string());

    const auto files = Items(*walker.fullFileNames());
    EXPECT_EQ(walker.Count(), 6);
    EXPECT_EQ(files, (std::vector<std::string>{dir / "top.msg", dir / "one/mid.msg", dir / "two/mid.eml",
                                               dir / "one/inner/low.msg", dir / "two/inner/low.txt"}));
}

TEST(PathLogger, MissingStartFolderKeepsTheCounter) {
    TempDir dir;
    WriteFile(dir / "a", "1");
    WriteFile(dir / "sub/b", "2");

    pathLogger fresh;
    fresh.PathLogInit();
    fresh.LogPath(dir / "missing");
    EXPECT_EQ(fresh.Count(), 0);
    EXPECT_EQ(fresh.fullFileNames()->Count(), 0u);

    pathLogger used;
    used.PathLogInit();
    used.LogPath(dir.path().string());
    EXPECT_EQ(used.Count(), 3);
    used.PathLogInit();
    used.LogPath(dir / "missing");
    EXPECT_EQ(used.Count(), 3);
    EXPECT_EQ(used.fullFileNames()->Count(), 0u);
    EXPECT_EQ(used.FoldersNotRead(), 0);

    // A file is not a folder to start from.
    used.PathLogInit();
    used.LogPath(dir / "a");
    EXPECT_EQ(used.Count(), 3);
}

TEST(PathLogger, ListsHandedOutOutliveTheWalkersHold) {
    FakeLister lister;
    ThreeLevels(lister);
    pathLogger walker(NoWorkHooks(), lister);
    walker.PathLogInit();
    auto early = walker.fullFileNames();  // taken before the walk: the walker fills this one
    walker.LogPath(Native("/r"));
    walker.Terminate();

    EXPECT_EQ(early->Count(), 5u);
    EXPECT_EQ(walker.Count(), 6);
    EXPECT_EQ(walker.fullFileNames()->Count(), 0u);  // a fresh, empty list
    EXPECT_NE(walker.fullFileNames(), early);
    EXPECT_EQ(early->Item(5), Native("/r/b/deep/d1"));
}

TEST(PathLogger, UnreadableFolderIsSkippedAndCounted) {
    FakeLister lister;
    ThreeLevels(lister);
    lister.Unreadable(Native("/r/b/"));  // its subfolder "deep" is never seen
    pathLogger walker(NoWorkHooks(), lister);
    walker.PathLogInit();
    walker.LogPath(Native("/r"));

    EXPECT_EQ(walker.FoldersNotRead(), 1);
    EXPECT_EQ(Items(*walker.fullFileNames()), (Texts{Native("/r/a.msg"), Native("/r/z.txt"), Native("/r/a/a1")}));
    EXPECT_EQ(walker.Count(), 4);
    EXPECT_FALSE(walker.Stopped());
}

TEST(PathLogger, FolderRemovedDuringTheWalkIsSkippedAndCounted) {
    FakeLister lister;
    lister.Folder(Native("/r/"), {Dir("gone"), Dir("kept"), File("f")});
    lister.Folder(Native("/r/kept/"), {File("g")});
    pathLogger walker(NoWorkHooks(), lister);
    walker.PathLogInit();
    walker.LogPath(Native("/r/"));

    EXPECT_EQ(walker.FoldersNotRead(), 1);
    EXPECT_EQ(Items(*walker.fullFileNames()), (std::vector<std::string>{Native("/r/f"), Native("/r/kept/g")}));
}

TEST(PathLogger, LinksBackIntoTheTreeEndAndAFolderOutsideIsWalkedOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "std::filesystem cannot make symbolic links on Windows";
#endif
    TempDir dir;
    const std::string root = dir / "root";
    WriteFile(root + "/top.msg", "1");
    WriteFile(root + "/a/inner.msg", "2");
    WriteFile(dir / "outside/far.msg", "3");
    fs::create_directory_symlink(root, root + "/a/loop");           // to an ancestor
    fs::create_directory_symlink(root + "/a", root + "/a/self");    // to its own folder
    fs::create_directory_symlink(dir / "outside", root + "/out1");  // two links, one folder
    fs::create_directory_symlink(dir / "outside", root + "/a/out2");

    pathLogger walker;
    walker.PathLogInit();
    walker.LogPath(root);

    auto files = Items(*walker.fullFileNames());
    std::sort(files.begin(), files.end());
    // The link reached first, breadth-first, is the one walked.
    EXPECT_EQ(files, (std::vector<std::string>{root + "/a/inner.msg", root + "/out1/far.msg",
                                               root + "/top.msg"}));
    EXPECT_EQ(walker.FoldersNotRead(), 0);
}

TEST(PathLogger, BrokenLinksAndOtherNonFoldersAreFiles) {
#ifdef _WIN32
    GTEST_SKIP() << "std::filesystem cannot make symbolic links on Windows";
#endif
    TempDir dir;
    fs::create_directories(dir / "sub");
    fs::create_symlink(dir / "nowhere", dir / "x.msg");
    fs::create_symlink(dir / "sub", dir / "dirlink");
    WriteFile(dir / "real.msg", "1");
    fs::create_symlink(dir / "real.msg", dir / "filelink.msg");

    pathLogger walker;
    walker.PathLogInit();
    walker.LogPath(dir.path().string());

    auto files = Items(*walker.fullFileNames());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{dir / "filelink.msg", dir / "real.msg", dir / "x.msg"}));
}

TEST(PathLogger, StopRequestEndsTheWalkAtOnce) {
    FakeLister lister;
    ThreeLevels(lister);
    // Count the yields of a whole walk, then stop after each of them in turn.
    StopAfterYields counting(StopAfterYields::kNever);
    {
        pathLogger walker(counting, lister);
        walker.LogPath(Native("/r"));
    }
    const int total = counting.yields;
    ASSERT_GT(total, 5 + 4);  // at least one per file and per folder

    for (int limit = 1; limit <= total; ++limit) {
        SCOPED_TRACE(limit);
        StopAfterYields hooks(limit);
        lister.listed.clear();
        pathLogger walker(hooks, lister);
        walker.LogPath(Native("/r"));
        EXPECT_TRUE(walker.Stopped());
        EXPECT_EQ(hooks.yields, limit);  // nothing ran past the yield that saw the request
    }

    StopAfterYields first(1);
    pathLogger walker(first, lister);
    lister.listed.clear();
    walker.LogPath(Native("/r"));
    EXPECT_TRUE(lister.listed.empty());
    EXPECT_EQ(walker.fullFileNames()->Count(), 0u);
}

}  // namespace
}  // namespace tarvelin
