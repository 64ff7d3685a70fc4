#include "conversion/naming/naming.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "conversion/naming/utf16_text.h"
#include "platform/path_split.h"

namespace tarvelin {
namespace {

constexpr CalendarDate kJuly1st2012{2012, 7, 1};
const std::string kEmoji = "\xF0\x9F\x98\x80";  // U+1F600, two units
const std::string kZhong = "\xE4\xB8\xAD";      // U+4E2D, one unit, three bytes

std::string Repeat(const std::string &text, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) result += text;
    return result;
}

// An output folder whose files exist only as a set of paths; Write resolves and "writes".
struct FakeFolder {
    std::string dir = "out/";
    std::set<std::string> taken;

    std::string Write(const std::string &name, DuplicateCounter &counter) {
        const std::string path = ResolveOutputPath(
            dir, name, counter, [this](const std::string &p) { return taken.contains(p); });
        taken.insert(path);
        return path.substr(dir.size());
    }
};

struct ComposeCase {
    NamingOption option;
    std::string expected;
};

void PrintTo(const ComposeCase &c, std::ostream *os) {
    *os << kNamingSchemes[static_cast<std::size_t>(c.option)].name;
}

class ComposeOneMessage : public testing::TestWithParam<ComposeCase> {};

TEST_P(ComposeOneMessage, JoinsFieldsInTheSchemesOrder) {
    EXPECT_EQ(ComposeOutputName(GetParam().option, kJuly1st2012, "Hi", "Ann",
                                "C:\\Mail\\abc.msg", '\\'),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllSchemes, ComposeOneMessage,
    testing::Values(ComposeCase{NamingOption::OptOriginal, "abc.eml"},
                    ComposeCase{NamingOption::OptSD, "Hi 01-07-2012"},
                    ComposeCase{NamingOption::OptFSD, "Ann Hi 01-07-2012"},
                    ComposeCase{NamingOption::OptFSD_YMD, "Ann Hi 2012-07-01"},
                    ComposeCase{NamingOption::OptDFS, "01-07-2012 Ann Hi"},
                    ComposeCase{NamingOption::OptDFS_YMD, "2012-07-01 Hi Ann"},
                    ComposeCase{NamingOption::OptDFS_YMD2, "2012-07-01 AnnHi "},
                    ComposeCase{NamingOption::OptDFS_MYD, "07-01-2012 Hi Ann"}),
    [](const testing::TestParamInfo<ComposeCase> &row) {
        return std::string(kNamingSchemes[static_cast<std::size_t>(row.param.option)].name);
    });

TEST(Naming, WorkedExamplesGiveTheseFiles) {
    const struct {
        const char *label;
        NamingOption option;
        std::string subject;
        std::string from;
        std::string sourcePath;
        char separator;
        std::string file;
    } cases[] = {
        {"punctuation goes", NamingOption::OptSD, "Re: Meeting?", "", "", '\\',
         "Re Meeting 01-07-2012.eml"},
        {"empty subject keeps its space", NamingOption::OptSD, "", "", "", '\\',
         " 01-07-2012.eml"},
        {"ymd2 spacing", NamingOption::OptDFS_YMD2, "Hi", "Ann", "", '\\', "2012-07-01 AnnHi .eml"},
        {"quoted sender", NamingOption::OptFSD, "Hi", "\"Ann Lee\" <ann>", "", '\\',
         "Ann Lee ann Hi 01-07-2012.eml"},
        {"original keeps inner eml", NamingOption::OptOriginal, "", "", "C:\\Mail\\abc.msg", '\\',
         "abc.eml.eml"},
        {"original on a posix path", NamingOption::OptOriginal, "", "", "/home/ann/mail/abc.msg",
         '/', "abc.eml.eml"},
        {"original upper case", NamingOption::OptOriginal, "", "", "C:\\Mail\\ABC.MSG", '\\',
         "ABC.eml.eml"},
        {"original folder with the same ending", NamingOption::OptOriginal, "", "",
         "C:\\in.msg\\a.msg", '\\', "a.eml.eml"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        FakeFolder folder;
        DuplicateCounter counter = 0;
        const std::string raw =
            ComposeOutputName(c.option, kJuly1st2012, c.subject, c.from, c.sourcePath, c.separator);
        EXPECT_EQ(folder.Write(CleanOutputName(raw), counter), c.file);
    }
}

TEST(Naming, UnknownDateLeavesItsSpaces) {
    EXPECT_EQ(ComposeOutputName(NamingOption::OptSD, {}, "Hi", "Ann", ""), "Hi ");
    EXPECT_EQ(ComposeOutputName(NamingOption::OptDFS, {}, "Hi", "Ann", ""), " Ann Hi");
    EXPECT_EQ(FormatDate({987, 12, 31}, "yyyy-mm-dd"), "0987-12-31");
}

TEST(Naming, YmdSchemeCutsSubjectAndSenderBeforeCleaning) {
    const std::string subject(300, 'x');
    const std::string raw =
        ComposeOutputName(NamingOption::OptDFS_YMD, kJuly1st2012, subject, "Ann", "");
    EXPECT_EQ(raw, "2012-07-01 " + std::string(235, 'x'));
    EXPECT_EQ(CleanOutputName(raw), "2012-07-01 " + std::string(209, 'x'));

    // 235 units counted before the colons are deleted, and an emoji straddling the cut goes.
    const std::string withColons = std::string(10, ':') + std::string(224, 'y') + kEmoji;
    EXPECT_EQ(ComposeOutputName(NamingOption::OptDFS_YMD, kJuly1st2012, withColons, "Ann", ""),
              "2012-07-01 " + std::string(10, ':') + std::string(224, 'y'));
}

TEST(Naming, MakeEmlPathReplacesTheLastFourCharactersEverywhere) {
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {"C:\\Mail\\abc.msg", "C:\\Mail\\abc.eml"},
        {"C:\\in.msg\\a.msg", "C:\\in.eml\\a.eml"},
        {"C:\\x.msg\\a.MSG", "C:\\x.msg\\a.eml"},
        {"abc", ".eml"},
        {"", ""},
        {"a.b" + kEmoji, "a.eml"},
        // The ending "zab" + lone 0xC3 also appears at the start, but there 0xC3 begins a
        // two-byte character: only whole characters match.
        {"zab\xC3\x80-zab\xC3", "zab\xC3\x80-.eml"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(MakeEmlPath(c.path), c.expected);
    }
}

// Rows one after another give the folder the whole path's replacement gives, also where the
// folder stays and the ending (and so what is replaced in it) changes, or the ending holds a
// separator.
TEST(Naming, OutputFolderOfRowsIsTheFolderOfEachRowsEmlPath) {
    const std::string s(1, kNativeSeparator);
    const std::string rows[] = {
        s + "in.msg" + s + "a.msg", s + "in.msg" + s + "b.msg", s + "in.msg" + s + "c.MSG",
        s + "in.msg" + s + "d.msg", s + "in.msg" + s + "e",     s + "in.msg" + s + "f",
        s + "x" + s + "y",          s + "x" + s + "y",          "plain.msg",
        "zab\xC3\x80" + s + "zab\xC3", "zab\xC3\x80" + s + "zab\xC3",
    };
    OutputFolderOfRows folders("out" + s);
    for (const std::string &row : rows) {
        SCOPED_TRACE(row);
        EXPECT_EQ(folders.For(row), OutputFolderFor("out" + s, FolderFromPath(MakeEmlPath(row))));
    }
}

TEST(Naming, CleaningDeletesOnlyForbiddenControlAndBidiCharacters) {
    const struct {
        const char *label;
        std::string raw;
        std::string expected;
    } cases[] = {
        {"forbidden set", "a:b?c\\d/e*f|g\"h<i>j", "abcdefghij"},
        {"tab", "Hello\tWorld", "HelloWorld"},
        {"folded line", "Re: long\r\n line", "Re long line"},
        {"outer spaces and dots stay", "  a. b.  ", "  a. b.  "},
        {"NUL goes", std::string("a\0b", 3), "ab"},
        {"DEL stays", "a\x7F", "a\x7F"},
        {"non-ascii stays", "\xC3\x9C" "ber " + kZhong + kEmoji, "\xC3\x9C" "ber " + kZhong + kEmoji},
        {"invalid bytes stay", "\xFF:x", "\xFFx"},
        // U+202E would show "Invoice<RLO>fdp.eml" as "Invoicelme.pdf".
        {"bidi override goes", "Invoice\u202Efdp", "Invoicefdp"},
        {"every bidi control goes", "a\u061Cb\u200Ec\u200Fd\u202Ae\u202Bf\u202Cg\u202Dh\u2066i\u2067j\u2068k\u2069l",
         "abcdefghijkl"},
        {"their neighbours stay", "\u200D\u2029\u202F\u2065\u206A", "\u200D\u2029\u202F\u2065\u206A"},
        {"a bidi control's bytes inside invalid UTF-8", "\xE2\xE2\x80\xAE\x80", "\xE2\x80"},
        {"nor one that a deleted byte held apart", "x\xE2\x80:\xAEy", "xy"},
        {"cut counts after bidi removal", Repeat("\u202E", 10) + std::string(220, 'a'), std::string(220, 'a')},
        {"cut to 220", std::string(221, 'a'), std::string(220, 'a')},
        {"cut counts after deletion", std::string(10, ':') + std::string(220, 'a'),
         std::string(220, 'a')},
        {"pair straddling 220 goes", std::string(219, 'a') + kEmoji, std::string(219, 'a')},
        {"pair ending at 220 stays", std::string(218, 'a') + kEmoji,
         std::string(218, 'a') + kEmoji},
        {"cjk cut by units", Repeat(kZhong, 300), Repeat(kZhong, 220)},
#ifdef _WIN32
        {"device name guarded", "con.txt", "_con.txt"},
#else
        {"device names are fine here", "con.txt", "con.txt"},
#endif
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(CleanOutputName(c.raw), c.expected);
    }
}

TEST(Naming, ReservedDeviceNames) {
    const struct {
        std::string name;
        bool reserved;
    } cases[] = {
        {"CON", true},       {"con", true},       {"Con.txt", true},  {"CON .txt", true},
        {"NUL  ", true},     {"nul.tar.gz", true}, {"AUX", true},     {"PRN", true},
        {"COM1", true},      {"com9.eml", true},  {"LPT5", true},     {"COM0", false},
        {"COM10", false},    {"LPT", false},      {"CONSOLE", false}, {"xCON", false},
        {" CON", false},     {"", false},         {".CON", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsReservedDeviceName(c.name), c.reserved);
    }
}

TEST(Naming, OptionsByNameAndAlias) {
    for (const NamingScheme &scheme : kNamingSchemes)
        EXPECT_EQ(NamingOptionFromName(scheme.name), scheme.option);
    const struct {
        std::string name;
        std::optional<NamingOption> option;
    } cases[] = {
        {"optsd", NamingOption::OptSD},
        {"OPTDFS_YMD2", NamingOption::OptDFS_YMD2},
        {"Original", NamingOption::OptOriginal},
        {"subject-date", NamingOption::OptSD},
        {"from-subject-date", NamingOption::OptFSD},
        {"from-subject-ymd", NamingOption::OptFSD_YMD},
        {"date-from-subject", NamingOption::OptDFS},
        {"ymd-subject-from", NamingOption::OptDFS_YMD},
        {"ymd-from-subject", NamingOption::OptDFS_YMD2},
        {"MDY-subject-from", NamingOption::OptDFS_MYD},
        {"", std::nullopt},
        {"OptSD ", std::nullopt},
        {"subject date", std::nullopt},
        {"OptDFS_YMD3", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NamingOptionFromName(c.name), c.option);
    }
}

TEST(Naming, TakenNamesAreNumberedAcrossRuns) {
    FakeFolder folder;
    DuplicateCounter counter = 0;
    EXPECT_EQ(folder.Write("A", counter), "A.eml");
    EXPECT_EQ(folder.Write("A", counter), "A (1).eml");
    EXPECT_EQ(folder.Write("A", counter), "A (2).eml");
    EXPECT_EQ(counter, 3);

    // The next run writes elsewhere but keeps the counter.
    FakeFolder nextRun;
    nextRun.taken.insert("out/A.eml");
    EXPECT_EQ(nextRun.Write("A", counter), "A (3).eml");
    EXPECT_EQ(counter, 4);
}

TEST(Naming, FirstTakenNameAfterStartUpGetsZero) {
    FakeFolder folder;
    folder.taken.insert("out/A.eml");
    DuplicateCounter counter = 0;
    EXPECT_EQ(folder.Write("A", counter), "A (0).eml");
    EXPECT_EQ(counter, 1);
}

TEST(Naming, NumberedNameThatIsTakenCountsOn) {
    FakeFolder folder;
    DuplicateCounter counter = 0;
    EXPECT_EQ(folder.Write("A", counter), "A.eml");
    EXPECT_EQ(folder.Write("A", counter), "A (1).eml");
    EXPECT_EQ(folder.Write("B", counter), "B.eml");
    EXPECT_EQ(counter, 1);
    EXPECT_EQ(folder.Write("A", counter), "A (2).eml");
    EXPECT_EQ(counter, 3);
    EXPECT_EQ(folder.taken.size(), 4u);
}

TEST(Naming, CounterGrowsPast32767) {
    FakeFolder folder;
    folder.taken = {"out/A.eml", "out/A (32767).eml"};
    DuplicateCounter counter = 32767;
    EXPECT_EQ(folder.Write("A", counter), "A (32768).eml");
    EXPECT_EQ(counter, 32769);
}

#ifndef _WIN32
TEST(Naming, LongNamesFitTheFileNameByteLimit) {
    const std::string cjk = CleanOutputName(Repeat(kZhong, 300));  // 220 chars, 660 bytes
    FakeFolder folder;
    DuplicateCounter counter = 0;
    // 251 bytes left for the name: 83 whole characters.
    EXPECT_EQ(folder.Write(cjk, counter), Repeat(kZhong, 83) + ".eml");
    // " (1).eml" leaves 247: 82 characters.
    EXPECT_EQ(folder.Write(cjk, counter), Repeat(kZhong, 82) + " (1).eml");

    // Two names that differ only past the limit must not overwrite each other.
    const std::string other = Repeat(kZhong, 100) + "x";
    EXPECT_EQ(folder.Write(other, counter), Repeat(kZhong, 82) + " (2).eml");

    // Exactly 255 bytes passes unchanged; one more byte is cut.
    EXPECT_EQ(folder.Write(std::string(251, 'a'), counter), std::string(251, 'a') + ".eml");
    EXPECT_EQ(folder.Write(std::string(252, 'b'), counter), std::string(251, 'b') + ".eml");
}
#endif

struct FolderCase {
    const char *label;
    const char *root;
    const char *sourceFolder;
    char separator;
    const char *expected;
};

void PrintTo(const FolderCase &c, std::ostream *os) { *os << c.label; }

class OutputFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(OutputFolder, DropsTheSourceRoot) {
    const FolderCase &c = GetParam();
    EXPECT_EQ(OutputFolderFor(c.root, c.sourceFolder, c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    BothConventions, OutputFolder,
    ::testing::Values(FolderCase{"windows_drive", R"(D:\out\)", R"(C:\Mail\2012\)", '\\', R"(D:\out\Mail\2012\)"},
                      FolderCase{"windows_drive_root", R"(D:\out\)", R"(C:\)", '\\', R"(D:\out\)"},
                      FolderCase{"output_at_a_drive_root", R"(D:\)", R"(C:\in.eml\)", '\\', R"(D:\in.eml\)"},
                      FolderCase{"windows_unc", R"(D:\out\)", R"(\\srv\share\x\)", '\\', R"(D:\out\srv\share\x\)"},
                      FolderCase{"windows_empty", R"(D:\out\)", "", '\\', R"(D:\out\)"},
                      // The forms a Windows path can also take: verbatim, verbatim UNC, drive-relative.
                      FolderCase{"windows_verbatim", R"(D:\out\)", R"(\\?\C:\Mail\)", '\\', R"(D:\out\Mail\)"},
                      FolderCase{"windows_verbatim_unc", R"(D:\out\)", R"(\\?\UNC\srv\share\x\)", '\\', R"(D:\out\srv\share\x\)"},
                      FolderCase{"windows_drive_relative", R"(D:\out\)", R"(C:Mail\)", '\\', R"(D:\out\Mail\)"},
                      FolderCase{"posix_folder", "/out/", "/home/u/Mail/", '/', "/out/home/u/Mail/"},
                      FolderCase{"posix_root", "/out/", "/", '/', "/out/"},
                      FolderCase{"posix_double_slash", "/out/", "//srv/x/", '/', "/out/srv/x/"},
                      FolderCase{"posix_empty", "/out/", "", '/', "/out/"}),
    [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
