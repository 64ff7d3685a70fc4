#include "platform/path_split.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tarvelin {
namespace {

struct SplitCase {
    const char *label;
    const char *path;
    char separator;
    const char *fileName;
    const char *folder;
};

void PrintTo(const SplitCase &c, std::ostream *os) { *os << c.label; }

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
        SplitCase{"windows_file", R"(C:\Mail\In\a1.msg)", '\\', "a1.msg", R"(C:\Mail\In\)"},
        SplitCase{"windows_bare_name", "a1.msg", '\\', "a1.msg", ""},
        SplitCase{"windows_folder", R"(C:\Mail\In\)", '\\', "", R"(C:\Mail\In\)"},
        SplitCase{"windows_forward_slashes_are_characters", "C:/Mail/In/a1.msg", '\\', "C:/Mail/In/a1.msg", ""},
        SplitCase{"windows_unc", R"(\\srv\share\x\a.msg)", '\\', "a.msg", R"(\\srv\share\x\)"},
        SplitCase{"windows_empty", "", '\\', "", ""},
        // POSIX: a backslash is an ordinary character
        SplitCase{"posix_file", "/home/u/Mail/a1.msg", '/', "a1.msg", "/home/u/Mail/"},
        SplitCase{"posix_bare_name", "a1.msg", '/', "a1.msg", ""},
        SplitCase{"posix_folder", "/home/u/Mail/", '/', "", "/home/u/Mail/"},
        SplitCase{"posix_backslash_is_a_character", R"(/home/u/a\b.msg)", '/', R"(a\b.msg)", "/home/u/"},
        SplitCase{"posix_root", "/", '/', "", "/"},
        SplitCase{"posix_empty", "", '/', "", ""}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(AddSeparator, AddsOnlyWhenMissing) {
    EXPECT_EQ(AddSeparator(R"(D:\out)", '\\'), R"(D:\out\)");
    EXPECT_EQ(AddSeparator(R"(D:\)", '\\'), R"(D:\)");
    EXPECT_EQ(AddSeparator("/srv/out", '/'), "/srv/out/");
    EXPECT_EQ(AddSeparator("/", '/'), "/");
    EXPECT_EQ(AddSeparator("", '/'), "/");
}

}  // namespace
}  // namespace tarvelin
