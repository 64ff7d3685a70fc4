// The whole conversion on Windows, through the CLI: a tree with non-ASCII folder and file names is
// scanned, mirrored with "\" and named as on Linux, and copied byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

fs::path PathOf(const std::string &utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8(const fs::path &path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// Every file below `folder`: its path relative to it, and its bytes.
std::vector<std::pair<std::string, std::string>> FilesBelow(const std::string &folder) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto &entry : fs::recursive_directory_iterator(PathOf(folder)))
        if (entry.is_regular_file())
            files.emplace_back(Utf8(fs::relative(entry.path(), PathOf(folder))), testing::ReadFile(entry.path()));
    std::sort(files.begin(), files.end());
    return files;
}

// A device name can only be made through the \\?\ form.
void WriteVerbatim(const std::string &utf8Path, const std::string &bytes) {
    const UniqueHandle file(::CreateFileW(Win32Path(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(file.valid() &&
                ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

int RunTool(const std::vector<std::string> &args, std::string &out, std::string &err) {
    std::ostringstream outStream, errStream;
    const int status = RunCli(args, {outStream, errStream, false});
    out = outStream.str();
    err = errStream.str();
    return status;
}

TEST(CliOnWindows, ConvertsANonAsciiTreeAsOnLinux) {
    TempDir src, out;
    const std::string cyrillic = "From: =?UTF-8?B?0JDQvdC90LA=?= <anna@example.org>\r\n"
                                 "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\nDate: Tue, 3 Jul 2012 10:00:00 +0200\r\n\r\nbody 1\r\n";
    const std::string chinese = "From: Li <li@example.cn>\nSubject: =?GB2312?B?xOO6ww==?=\n"
                                "Date: 4 Jul 2012 08:00 +0800\n\nbody 2\n";
    const std::string greek = "From: Nikos <n@example.gr>\nSubject: =?ISO-8859-7?Q?=C3=E5=E9=DC?=\n"
                              "Date: 5 Jul 2012 09:00 +0300\n\nbody 3\n";
    testing::WriteFile(PathOf(src / "Пошта/письмо.msg"), cyrillic);
    testing::WriteFile(PathOf(src / "Пошта/邮件/信.msg"), chinese);
    testing::WriteFile(PathOf(src / "Ελληνικά/a.msg"), greek);
    testing::WriteFile(PathOf(src / "Ελληνικά/b.msg"), greek);
    const std::string device = "Subject: x\nDate: 6 Jul 2012 10:00 +0000\n\nnot a device\n";
    WriteVerbatim(src / "Ελληνικά/con.msg", device);

    const std::string output = out / "";
    std::string stdOut, stdErr;
    // Dry run first: the names the real run will give, and nothing written.
    ASSERT_EQ(RunTool({"--output", output, "--naming", "optsd", "--dry-run", src / ""}, stdOut, stdErr), 0) << stdErr;
    EXPECT_TRUE(FilesBelow(output).empty());
    EXPECT_NE(stdOut.find("\\Ελληνικά\\Γειά 05-07-2012 (1).eml"), std::string::npos) << stdOut;

    ASSERT_EQ(RunTool({"--output", output, "--naming", "optsd", src / ""}, stdOut, stdErr), 0) << stdErr;
    EXPECT_NE(stdErr.find("5 converted, 0 failed, 0 skipped"), std::string::npos) << stdErr;
    // The source's path below its drive is mirrored; the drive letter is not.
    const std::string mirrored = Utf8(PathOf(src / "").relative_path());
    std::vector<std::pair<std::string, std::string>> expected{
        {mirrored + "Ελληνικά\\Γειά 05-07-2012 (1).eml", greek},
        {mirrored + "Ελληνικά\\Γειά 05-07-2012.eml", greek},
        {mirrored + "Ελληνικά\\x 06-07-2012.eml", device},
        {mirrored + "Пошта\\Привет 03-07-2012.eml", cyrillic},
        {mirrored + "Пошта\\邮件\\你好 04-07-2012.eml", chinese},
    };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesBelow(output), expected);

    // The original scheme keeps the file's own name; a device name gets a leading "_".
    ASSERT_EQ(RunTool({"--output", output, "--naming", "original", src / "Ελληνικά\\con.msg"}, stdOut, stdErr), 0)
        << stdErr;
    EXPECT_TRUE(fs::exists(PathOf(output + mirrored + "Ελληνικά\\_con.eml.eml")));
    // TempDir cannot remove what it cannot name.
    ::DeleteFileW(Win32Path(src / "Ελληνικά/con.msg").c_str());
}

// MinGW's getopt_long is another implementation than glibc's: the same words give the same lines,
// and each call parses afresh.
TEST(CliOnWindows, OptionsReadAsOnLinux) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--version"}, "tarvelin-cli " TARVELIN_VERSION "\n"},
        {{"-V"}, "tarvelin-cli " TARVELIN_VERSION "\n"},
        {{"--ver", "-o", "x", "a.msg"}, "tarvelin-cli: option '--ver' is ambiguous: --verbose, --version\n"},
        {{"--frobnicate", "-o", "x", "a.msg"}, "tarvelin-cli: unknown option '--frobnicate'\n"},
        {{"-qxo", "x", "a.msg"}, "tarvelin-cli: unknown option '-x'\n"},
        {{"a.msg", "-qo"}, "tarvelin-cli: -o, --output needs a folder\n"},
        {{"--quiet=yes", "-o", "x", "a.msg"}, "tarvelin-cli: --quiet takes no value\n"},
        {{"-o", "x", "a.msg", "--nam"}, "tarvelin-cli: -n, --naming needs an option name\n"},
    };
    for (const auto &[args, expected] : cases) {
        std::string out, err;
        const int status = RunTool(args, out, err);
        const bool usageError = expected.rfind("tarvelin-cli: ", 0) == 0;
        EXPECT_EQ(status, usageError ? 2 : 0) << args.front();
        EXPECT_EQ(usageError ? err.substr(0, err.find('\n') + 1) : out, expected) << args.front();
    }
}

}  // namespace
}  // namespace tarvelin
