#include "messagelist/folder_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

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

std::vector<std::string> Rows(const MessageList &list) {
    std::vector<std::string> rows;
    for (std::size_t row = 0; row < list.EntryCount(); ++row) rows.emplace_back(list.RowText(row));
    return rows;
}

std::vector<std::string> Sorted(std::vector<std::string> rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

using testing::StopAfterYields;

struct FilterCase {
    const char *label;
    std::string path;
    bool taken;
};

class MessageFileFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(MessageFileFilter, TakesNamesEndingInMsgWhateverTheCase) {
    EXPECT_EQ(IsMessageFilePath(GetParam().path), GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MessageFileFilter,
    ::testing::Values(FilterCase{"lower", "/m/a.msg", true}, FilterCase{"upper", "/m/A.MSG", true},
                      FilterCase{"mixed", "/m/a.Msg", true},
                      FilterCase{"trailing_blanks", "/m/a.msg  ", true},
                      FilterCase{"only_the_extension", "/m/.msg", true},
                      FilterCase{"backup", "/m/a.msg.bak", false}, FilterCase{"eml", "/m/a.eml", false},
                      FilterCase{"longer_extension", "/m/x.msgx", false},
                      FilterCase{"no_dot", "/m/amsg", false},
                      FilterCase{"trailing_tab", "/m/a.msg\t", false},
                      FilterCase{"short", "msg", false}, FilterCase{"blank", "   ", false},
                      FilterCase{"empty", "", false}),
    [](const ::testing::TestParamInfo<FilterCase> &info) { return std::string(info.param.label); });

TEST(FolderScan, AddsMatchingPathsExactlyAsListed) {
    TempDir dir;
    for (const char *name : {"a.msg", "B.MSG", "c.Msg", "d.msg ", "e.msg.bak", "f.eml", "x.msgx"})
        WriteFile(dir / name, "x");
    WriteFile(dir / "sub/g.msg", "x");

    MessageList list;
    const FolderScanResult result = ScanFolderIntoList(dir.path().string(), list);

    EXPECT_EQ(result.added, 5);
    EXPECT_EQ(result.FoldersNotRead(), 0);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(Sorted(Rows(list)), (std::vector<std::string>{dir / "B.MSG", dir / "a.msg", dir / "c.Msg",
                                                            dir / "d.msg ", dir / "sub/g.msg"}));
    EXPECT_EQ(list.RowText(4), dir / "sub/g.msg");  // deeper files after the folder's own
}

TEST(FolderScan, ListsEachFolderInNameOrderLevelByLevel) {
    FakeLister lister;
    lister.Folder(Native("/r/"), {{"2.msg", false}, {"b", true}, {"1.msg", false}, {"a", true}});
    lister.Folder(Native("/r/b/"), {{"inner", true}, {"b.msg", false}, {"skip.txt", false}});
    lister.Folder(Native("/r/a/"), {{"a.msg", false}});
    lister.Folder(Native("/r/b/inner/"), {{"deep.msg", false}});

    MessageList list;
    ScanFolderIntoList(Native("/r"), list, NoWorkHooks(), lister);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{Native("/r/1.msg"), Native("/r/2.msg"), Native("/r/a/a.msg"),
                                                    Native("/r/b/b.msg"), Native("/r/b/inner/deep.msg")}));
}

TEST(FolderScan, StartWithOrWithoutSeparatorGivesTheSamePaths) {
    TempDir dir;
    WriteFile(dir / "a.msg", "x");
    WriteFile(dir / "sub/b.msg", "x");
    const std::string root = dir.path().string();

    for (const std::string &start : {root, dir / ""}) {
        SCOPED_TRACE(start);
        MessageList list;
        ScanFolderIntoList(start, list);
        EXPECT_EQ(Sorted(Rows(list)), (std::vector<std::string>{dir / "a.msg", dir / "sub/b.msg"}));
    }
}

TEST(FolderScan, ScanningTwiceAppendsTwice) {
    TempDir dir;
    WriteFile(dir / "a.msg", "x");
    WriteFile(dir / "b.msg", "x");

    MessageList list;
    list.AddFileToList("/earlier/z.msg");
    EXPECT_EQ(ScanFolderIntoList(dir.path().string(), list).added, 2);
    EXPECT_EQ(ScanFolderIntoList(dir.path().string(), list).added, 2);

    const auto rows = Rows(list);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], "/earlier/z.msg");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), dir / "a.msg"), 2);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), dir / "b.msg"), 2);
}

TEST(FolderScan, UnreadableFolderIsSkippedAndTheRestAdded) {
    FakeLister lister;
    lister.Folder(Native("/r/"), {{"locked", true}, {"open", true}, {"top.msg", false}});
    lister.Unreadable(Native("/r/locked/"));
    lister.Folder(Native("/r/open/"), {{"in.msg", false}});

    MessageList list;
    const FolderScanResult result = ScanFolderIntoList(Native("/r/"), list, NoWorkHooks(), lister);
    EXPECT_EQ(result.added, 2);
    ASSERT_EQ(result.FoldersNotRead(), 1);
    EXPECT_EQ(result.unreadFolders[0].path, Native("/r/locked/"));
    EXPECT_EQ(result.unreadFolders[0].reason, "cannot open folder " + Native("/r/locked/"));
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(Rows(list), (std::vector<std::string>{Native("/r/top.msg"), Native("/r/open/in.msg")}));
}

TEST(FolderScan, MissingOrEmptyFolderAddsNothing) {
    TempDir dir;
    WriteFile(dir / "a.msg", "x");
    MessageList list;
    list.AddFileToList("/kept.msg");

    for (const std::string &folder : {dir / "missing", std::string()}) {
        SCOPED_TRACE(folder);
        const FolderScanResult result = ScanFolderIntoList(folder, list);
        EXPECT_EQ(result.added, 0);
        EXPECT_EQ(result.FoldersNotRead(), 0);
        EXPECT_EQ(Rows(list), std::vector<std::string>{"/kept.msg"});
    }
}

TEST(FolderScan, BrokenLinkNamedLikeAMessageIsListed) {
#ifdef _WIN32
    GTEST_SKIP() << "std::filesystem cannot make symbolic links on Windows";
#endif
    TempDir dir;
    fs::create_symlink(dir / "nowhere", dir / "x.msg");

    MessageList list;
    EXPECT_EQ(ScanFolderIntoList(dir.path().string(), list).added, 1);
    EXPECT_EQ(Rows(list), std::vector<std::string>{dir / "x.msg"});
}

TEST(FolderScan, SymlinkLoopEnds) {
#ifdef _WIN32
    GTEST_SKIP() << "std::filesystem cannot make symbolic links on Windows";
#endif
    TempDir dir;
    WriteFile(dir / "a/b/deep.msg", "x");
    fs::create_directory_symlink(dir.path(), dir / "a/b/up");

    MessageList list;
    const FolderScanResult result = ScanFolderIntoList(dir.path().string(), list);
    EXPECT_EQ(result.added, 1);
    EXPECT_EQ(Rows(list), std::vector<std::string>{dir / "a/b/deep.msg"});
}

// By its path or through a link, the left-out folder is not walked; as the start it is.
TEST(FolderScan, LeftOutFolderIsNotWalkedWhicheverPathLeadsThere) {
    TempDir dir;
    WriteFile(dir / "src/a.msg", "x");
    WriteFile(dir / "src/out/x.msg/b.msg", "x");
    WriteFile(dir / "src/out/c.msg", "x");
    const LeftOutFolder out{dir / "src/out", IdentityOfFolder(dir / "src/out")};
#ifndef _WIN32
    fs::create_directory_symlink(dir.path() / "src/out", dir.path() / "src/link");
#endif
    MessageList list;
    const FolderScanResult result = ScanFolderIntoList(dir / "src", list, NoWorkHooks(), NativeDirectoryLister(), &out);
    EXPECT_EQ(Rows(list), std::vector<std::string>{dir / "src/a.msg"});
#ifndef _WIN32
    EXPECT_EQ(result.leftOut, (std::vector<std::string>{dir / "src/link/", dir / "src/out/"}));
#endif
    MessageList start;
    EXPECT_EQ(ScanFolderIntoList(dir / "src/out", start, NoWorkHooks(), NativeDirectoryLister(), &out).added, 2);
}

TEST(FolderScan, StopRequestEndsTheScan) {
    FakeLister lister;
    lister.Folder(Native("/r/"), {{"a.msg", false}, {"b.msg", false}, {"sub", true}});
    lister.Folder(Native("/r/sub/"), {{"c.msg", false}});

    StopAfterYields counting(StopAfterYields::kNever);
    MessageList full;
    ScanFolderIntoList(Native("/r"), full, counting, lister);
    const int total = counting.yields;
    ASSERT_EQ(full.EntryCount(), 3u);

    bool sawPartialList = false;
    for (int limit = 1; limit <= total; ++limit) {
        SCOPED_TRACE(limit);
        StopAfterYields hooks(limit);
        MessageList list;
        const FolderScanResult result = ScanFolderIntoList(Native("/r"), list, hooks, lister);
        EXPECT_TRUE(result.stopped);
        EXPECT_EQ(hooks.yields, limit);
        EXPECT_EQ(static_cast<std::int64_t>(list.EntryCount()), result.added);
        EXPECT_LE(list.EntryCount(), 3u);
        sawPartialList |= list.EntryCount() > 0 && list.EntryCount() < 3;
    }
    EXPECT_TRUE(sawPartialList);
}

}  // namespace
}  // namespace tarvelin
