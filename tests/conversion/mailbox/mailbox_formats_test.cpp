#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "conversion/mailbox/imap_utf7.h"
#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/mailbox/maildir_writer.h"
#include "conversion/mailbox/mbox_writer.h"
#include "conversion/mailbox/sha256.h"
#include "platform/file_service.h"
#include "tests/support/messages.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

struct TextCase {
    const char *name;
    std::string input;
    std::string expected;
};

std::string CaseName(const ::testing::TestParamInfo<TextCase> &info) { return info.param.name; }

class ImapUtf7 : public ::testing::TestWithParam<TextCase> {};

TEST_P(ImapUtf7, EncodesAsServersReadIt) { EXPECT_EQ(ImapUtf7FromUtf8(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ImapUtf7,
    ::testing::Values(TextCase{"Ascii", "Sent Items", "Sent Items"},
                      TextCase{"Ampersand", "R&D", "R&-D"},
                      TextCase{"Umlaut", "\xC3\x84rchiv", "&AMQ-rchiv"},
                      TextCase{"RunOfThree", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "&ZeVnLIqe-"},
                      TextCase{"SlashBecomesComma", "\xE5\x8F\xB0\xE5\x8C\x97", "&U,BTFw-"},
                      TextCase{"OutsideTheBmp", "\xF0\x9F\x98\x80", "&2D3eAA-"},
                      TextCase{"ControlCharacter", "a\tb", "a&AAk-b"},
                      TextCase{"InvalidByteAsLatin1", "a\xFF", "a&AP8-"}),
    CaseName);

class Sha256 : public ::testing::TestWithParam<TextCase> {};

TEST_P(Sha256, MatchesTheStandardVectors) { EXPECT_EQ(Sha256Hex(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Sha256,
    ::testing::Values(
        TextCase{"Empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        TextCase{"Abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        TextCase{"TwoPaddingBlocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                 "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        TextCase{"ManyBlocks", std::string(1000, 'a'),
                 "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"}),
    CaseName);

struct NameCase {
    const char *name;
    MailboxFormat format;
    std::string folder;
    bool topLevel;
    std::string shown;
};

class TargetName : public ::testing::TestWithParam<NameCase> {};

TEST_P(TargetName, IsOneTheTargetShows) {
    const NameCase &c = GetParam();
    EXPECT_EQ(TargetMailboxName(c.format, c.folder, c.topLevel), c.shown);
}

constexpr MailboxFormat kMaildir = MailboxFormat::Maildir;
constexpr MailboxFormat kMbox = MailboxFormat::Mbox;

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetName,
    ::testing::Values(NameCase{"MaildirPlain", kMaildir, "Sent Items", true, "Sent Items"},
                      NameCase{"MaildirNew", kMaildir, "new", false, "new_"},
                      NameCase{"MaildirCur", kMaildir, "cur", true, "cur_"},
                      NameCase{"MaildirTildeBefore", kMaildir, "~old", false, "_~old"},
                      NameCase{"MaildirTopInbox", kMaildir, "INBOX", true, "INBOX_"},
                      NameCase{"MaildirDeeperInbox", kMaildir, "Inbox", false, "Inbox"},
                      NameCase{"MaildirDotIsFine", kMaildir, ".x", false, ".x"},
                      NameCase{"MboxTopInbox", kMbox, "inbox", true, "inbox_"},
                      NameCase{"MboxLeadingDot", kMbox, ".hidden", false, "_.hidden"},
                      NameCase{"MboxLeadingHash", kMbox, "#1", false, "_#1"},
                      NameCase{"MboxTrailingTilde", kMbox, "old~", false, "old~_"},
                      NameCase{"MboxIndexEnding", kMbox, "a.MSF", false, "a.MSF_"},
                      NameCase{"MboxFolderEnding", kMbox, "x.sbd", false, "x.sbd_"},
                      NameCase{"MboxNewIsFine", kMbox, "new", false, "new"}),
    [](const auto &info) { return std::string(info.param.name); });

struct PathCase {
    const char *name;
    MailboxFormat format;
    std::string source;  // below the root "/s"
    std::vector<std::pair<std::string, std::string>> mapped;  // --mailbox-name
    std::string mailbox;  // as clients list it, "/" between the names
    std::vector<bool> refused;
};

class MailboxOfFolder : public ::testing::TestWithParam<PathCase> {};

TEST_P(MailboxOfFolder, IsTheOneItsUsersSee) {
    const PathCase &c = GetParam();
    MailboxNaming naming;
    for (const auto &[from, to] : c.mapped) naming.Map(from, to);
    const MailboxPath path = MailboxFor(c.format, "/s", "/s/" + c.source, '/', naming);
    EXPECT_EQ(ImapMailboxName(path.names), c.mailbox);
    EXPECT_EQ(path.refused, c.refused);
    EXPECT_EQ(path.folders.size(), static_cast<std::size_t>(std::count(c.source.begin(), c.source.end(), '/')));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailboxOfFolder,
    ::testing::Values(
        PathCase{"PlainTreeKeepsItsNames", kMaildir, "Sent Items/Deleted Items/x.msg", {}, "Sent Items/Deleted Items",
                 {false, false}},
        PathCase{"PlainInboxIsChanged", kMbox, "Inbox/x.msg", {}, "Inbox_", {true}},
        PathCase{"RefusedDeeperName", kMaildir, "new/b/x.msg", {}, "new_/b", {true, false}},
        PathCase{"RootMessage", kMaildir, "x.msg", {}, "INBOX", {}},
        PathCase{"ImapEndingInAnyCaseAtAnyDepth", kMaildir, "Projects.IMAP/2019.imap/x.msg", {}, "Projects/2019",
                 {false, false}},
        PathCase{"InboxFolderHoldsInboxsChildren", kMaildir, "INBOX.imap/Projects.IMAP/2019.IMAP/x.msg", {},
                 "INBOX/Projects/2019", {false, false, false}},
        PathCase{"LooseInInboxFolderIsInbox", kMbox, "Inbox.IMAP/x.msg", {}, "INBOX", {}},
        PathCase{"InboxBelowInbox", kMbox, "Inbox.IMAP/Inbox.IMAP/x.msg", {}, "INBOX/Inbox", {false, false}},
        PathCase{"SentItemsIsSent", kMaildir, "Sent Items.IMAP/x.msg", {}, "Sent", {false}},
        PathCase{"DeletedItemsInAnyCaseIsTrash", kMbox, "DELETED ITEMS.imap/x.msg", {}, "Trash", {false}},
        PathCase{"DraftsGetsTheMarkedCase", kMaildir, "drafts.IMAP/x.msg", {}, "Drafts", {false}},
        PathCase{"StandardNamesOnlyAtTheTop", kMaildir, "A.IMAP/Sent Items.IMAP/x.msg", {}, "A/Sent Items",
                 {false, false}},
        PathCase{"TranslatedFolderMapped", kMaildir, "Elementos eliminados.IMAP/x.msg",
                 {{"elementos eliminados", "Trash"}}, "Trash", {false}},
        PathCase{"UserMappingAppliesToAPlainFolder", kMaildir, "Elementos eliminados/x.msg",
                 {{"Elementos eliminados.IMAP", "Trash"}}, "Trash", {false}},
        PathCase{"BuiltInNameKept", kMaildir, "Sent Items.IMAP/x.msg", {{"sent items", "Sent Items"}}, "Sent Items",
                 {false}},
        PathCase{"MappedToInbox", kMbox, "Posteingang.IMAP/A.IMAP/x.msg", {{"Posteingang", "inbox"}}, "INBOX/A",
                 {false, false}},
        PathCase{"RefusedOnceTheEndingIsOff", kMaildir, "cur.IMAP/x.msg", {}, "cur_", {true}},
        PathCase{"RefusedMappedName", kMbox, "Junk.IMAP/x.msg", {{"Junk", ".junk"}}, "_.junk", {true}},
        PathCase{"NothingButTheEnding", kMaildir, ".IMAP/x.msg", {}, ".IMAP", {false}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MailboxFor, FoldersBelowTheRootNameTheMailboxAndGivenFilesGoToInbox) {
    EXPECT_EQ(MailboxFor(kMbox, "C:\\m\\", "C:\\m\\a.IMAP\\x.msg", '\\').names, std::vector<std::string>{"a"});
    EXPECT_TRUE(MailboxFor(kMaildir, "", "/m/root/a/x.msg", '/').names.empty());
    EXPECT_TRUE(MailboxFor(kMaildir, "/m/root", "/m/rootless/a/x.msg", '/').names.empty());
    EXPECT_EQ(RelativeSourcePath("C:\\m", "C:\\m\\a\\x.msg", '\\'), "a/x.msg");
    EXPECT_EQ(RelativeSourcePath("", "/m/a/x.msg", '/'), "x.msg");
}

TEST(MaildirName, CarriesTheTokenThatARerunFindsWhateverTheServerAdded) {
    const std::string token = MaildirToken("a/x.msg");
    ASSERT_EQ(token.size(), 17u);
    EXPECT_EQ(token, "H" + Sha256Hex("a/x.msg").substr(0, 16));
    const std::string name = MaildirFileName(1341136800, token);
    EXPECT_EQ(name, "1341136800." + token + ".tarvelin");
    EXPECT_EQ(name.find(':'), std::string::npos);
    EXPECT_EQ(MaildirFileName(1341136800, token, true), name + ":2,S");
    for (const std::string &written : {name, name + ":2,S", name + ",S=120:2,RS"})
        EXPECT_EQ(TokenOfMaildirName(written), token) << written;
    EXPECT_EQ(TokenOfMaildirName(MaildirFileName(5, token + "-12") + ":2,"), token + "-12");
    // Servers read a leading "-" as 0; the names of earlier runs are still ours.
    EXPECT_EQ(MaildirFileName(-1, token), "0." + token + ".tarvelin");
    EXPECT_EQ(TokenOfMaildirName("-1." + token + ".tarvelin"), token);
    for (const std::string &foreign : {std::string("1341136800.M1P2.host:2,S"), "x." + token + ".tarvelin",
                                       "1." + token + ".other", "1." + token + "-.tarvelin"})
        EXPECT_EQ(TokenOfMaildirName(foreign), "") << foreign;
}

struct SeparatorCase {
    const char *name;
    std::int64_t seconds;
    std::string line;
};

class MboxSeparator : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(MboxSeparator, IsTheUtcAsctime) { EXPECT_EQ(MboxSeparatorLine(GetParam().seconds), GetParam().line); }

INSTANTIATE_TEST_SUITE_P(
    Cases, MboxSeparator,
    ::testing::Values(SeparatorCase{"Epoch", 0, "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n"},
                      SeparatorCase{"PaddedDay", 1341136800, "From MAILER-DAEMON Sun Jul  1 10:00:00 2012\n"},
                      SeparatorCase{"TwoDigitDay", 1342173600, "From MAILER-DAEMON Fri Jul 13 10:00:00 2012\n"},
                      SeparatorCase{"LeapDay", 951868799, "From MAILER-DAEMON Tue Feb 29 23:59:59 2000\n"},
                      SeparatorCase{"BeforeTheEpoch", -1, "From MAILER-DAEMON Wed Dec 31 23:59:59 1969\n"},
                      // Readers take four digits for the year.
                      SeparatorCase{"AfterYear9999", 253402300800, "From MAILER-DAEMON Fri Dec 31 23:59:59 9999\n"},
                      SeparatorCase{"BeforeYear1000", -30610224001, "From MAILER-DAEMON Wed Jan  1 00:00:00 1000\n"}),
    [](const auto &info) { return std::string(info.param.name); });

class MboxMessage : public ::testing::TestWithParam<TextCase> {};

TEST_P(MboxMessage, IsWrittenInMboxrdForm) {
    EXPECT_EQ(testing::AsInMbox(0, GetParam().input), "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n" + GetParam().expected);
    // Fed in pieces of every size, which cut lines, CR LF pairs and "From " anywhere.
    const std::string &input = GetParam().input;
    for (std::size_t size = 1; size <= input.size(); ++size) {
        MboxBody body;
        std::string pieces;
        for (std::size_t at = 0; at < input.size(); at += size) body.Feed(input.substr(at, size), pieces);
        body.End(pieces);
        EXPECT_EQ(pieces, GetParam().expected) << "pieces of " << size;
    }
}

// A line that never ends (a file of zeros) is written on as it comes, never held: what a piece
// leaves waiting is at most a few bytes.
TEST(MboxMessage, LineWithoutEndIsNotHeld) {
    MboxBody body;
    std::string out;
    const std::string piece(1 << 16, '\0');
    for (int i = 0; i < 64; ++i) {
        body.Feed(piece, out);
        ASSERT_EQ(out.size(), piece.size() * (i + 1));
    }
    body.End(out);
    EXPECT_EQ(out, std::string(64 * piece.size(), '\0') + "\n\n");
}

// A message that could not be read to its end is taken back out of the file; the messages
// around it stay whole.
TEST(MboxFile, AbandonedMessageLeavesNoTrace) {
    testing::TempDir dir;
    NativeFileService files;
    MboxFile file;
    ASSERT_TRUE(file.Start(files, dir.path().string()).ok());
    const auto add = [&file](std::int64_t time, std::string_view message) {
        return file.Begin(time).ok() && file.Feed(message).ok() && file.End().ok();
    };
    ASSERT_TRUE(add(0, "S: one\r\n\r\nbody\r\n"));
    ASSERT_TRUE(file.Begin(60).ok());
    ASSERT_TRUE(file.Feed("S: two\r\n\r\nFrom a part that").ok());
    ASSERT_TRUE(file.Abandon().ok());
    ASSERT_TRUE(add(120, "S: three\n\nend"));
    std::string written;
    ASSERT_TRUE(file.Finish(dir.path().string() + "/", "Inbox", written).ok());
    EXPECT_EQ(testing::ReadFile(written),
              testing::AsInMbox(0, "S: one\r\n\r\nbody\r\n") + testing::AsInMbox(120, "S: three\n\nend"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MboxMessage,
    ::testing::Values(TextCase{"CrLfBecomesLf", "S: a\r\n\r\nb\r\n", "S: a\n\nb\n\n"},
                      TextCase{"FinalLineEndAdded", "S: a\n\nb", "S: a\n\nb\n\n"},
                      TextCase{"FromLinesQuoted", "S: a\n\nFrom here\n>From there\n>>From x\n",
                               "S: a\n\n>From here\n>>From there\n>>>From x\n\n"},
                      TextCase{"OtherLinesKept", "S: a\n\nFromage\n From x\n>From\nx From y\n",
                               "S: a\n\nFromage\n From x\n>From\nx From y\n\n"},
                      TextCase{"LoneCrKept", "S: a\r\n\r\nb\rc\r", "S: a\n\nb\rc\r\n\n"},
                      TextCase{"OneCrBeforeLfGoes", "S: a\r\n\r\nb\r\r\n\r", "S: a\n\nb\r\n\r\n\n"},
                      TextCase{"FromCutByTheEnd", "S: a\n\n>>Fro\nFrom ", "S: a\n\n>>Fro\n>From \n\n"}),
    CaseName);

}  // namespace
}  // namespace tarvelin
