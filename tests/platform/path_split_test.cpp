#include "platform/path_split.h"

#include <gtest/gtest.h>

namespace tarvelin {
namespace {

struct SplitCase {
    const char *path;
    char separator;
    const char *fileName;
    const char *folder;
};

class PathSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PathSplit, SplitsAtTheLastSeparatorAndConcatenatesBack) {
    const SplitCase &c = GetParam();
    EXPECT_EQ(FileNameFromPath(c.path, c.separator), c.fileName);
    EXPECT_EQ(FolderFromPath(c.path, c.separator), c.folder);
    EXPECT_EQ(FolderFromPath(c.path, c.separator) + FileNameFromPath(c.path, c.separator), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    BothConventions, PathSplit,
    ::testing::Values(
        // Windows
        SplitCase{R"(C:\Mail\In\a1.msg)", '\\', "a1.msg", R"(C:\Mail\In\)"},
        SplitCase{"a1.msg", '\\', "a1.msg", ""},
        SplitCase{R"(C:\Mail\In\)", '\\', "", R"(C:\Mail\In\)"},
        SplitCase{"C:/Mail/In/a1.msg", '\\', "C:/Mail/In/a1.msg", ""},
        SplitCase{R"(\\srv\share\x\a.msg)", '\\', "a.msg", R"(\\srv\share\x\)"},
        SplitCase{"", '\\', "", ""},
        // POSIX: a backslash is an ordinary character
        SplitCase{"/home/u/Mail/a1.msg", '/', "a1.msg", "/home/u/Mail/"},
        SplitCase{"a1.msg", '/', "a1.msg", ""},
        SplitCase{"/home/u/Mail/", '/', "", "/home/u/Mail/"},
        SplitCase{R"(/home/u/a\b.msg)", '/', R"(a\b.msg)", "/home/u/"},
        SplitCase{"/", '/', "", "/"},
        SplitCase{"", '/', "", ""}));

TEST(AddSeparator, AddsOnlyWhenMissing) {
    EXPECT_EQ(AddSeparator(R"(D:\out)", '\\'), R"(D:\out\)");
    EXPECT_EQ(AddSeparator(R"(D:\)", '\\'), R"(D:\)");
    EXPECT_EQ(AddSeparator("/srv/out", '/'), "/srv/out/");
    EXPECT_EQ(AddSeparator("/", '/'), "/");
    EXPECT_EQ(AddSeparator("", '/'), "/");
}

}  // namespace
}  // namespace tarvelin
