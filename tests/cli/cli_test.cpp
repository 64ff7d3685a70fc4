#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct CliResult {
    int status;
    std::string out;
    std::string err;
};

CliResult RunTool(const std::vector<std::string> &args) {
    std::ostringstream out, err;
    const int status = RunCli(args, {out, err, false});
    return {status, out.str(), err.str()};
}

std::string Message(const std::string &subject) {
    return "From: Ann <ann@x.org>\nSubject: " + subject + "\nDate: 1 Jul 2012 10:00 +0000\n\nbody\n";
}

// Every regular file below `folder`, relative to it.
std::vector<std::string> FilesBelow(const fs::path &folder) {
    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    std::sort(files.begin(), files.end());
    return files;
}

struct UsageCase {
    const char *name;
    std::vector<std::string> args;
};

class CliUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsage, BadUsageExitsWithTwoAndAHint) {
    const CliResult result = RunTool(GetParam().args);
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("see --help"), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliUsage,
    ::testing::Values(UsageCase{"NoOutput", {"a.msg"}},
                      UsageCase{"NoPath", {"--output", "/tmp/x"}},
                      UsageCase{"UnknownOption", {"--frobnicate", "-o", "/tmp/x", "a.msg"}},
                      UsageCase{"UnknownNaming", {"-o", "/tmp/x", "--naming", "OptXYZ", "a.msg"}},
                      UsageCase{"OutputWithoutValue", {"a.msg", "--output"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Cli, HelpDocumentsTheOptions) {
    const CliResult result = RunTool({"--help"});
    EXPECT_EQ(result.status, 0);
    for (const char *text : {"--output", "--naming", "--dry-run", "--quiet", "OptDFS_MYD", "Exit status"})
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

TEST(Cli, ConvertsFoldersAndFilesAndSummarises) {
    TempDir src, out;
    WriteFile(src / "tree/a.msg", Message("A"));
    WriteFile(src / "tree/sub/b.MSG", Message("B"));
    WriteFile(src / "tree/notes.txt", "not a message");
    WriteFile(src / "loose.msg", Message("Loose"));
    const CliResult result =
        RunTool({"--output", out.path().string(), "--naming", "optsd", src / "tree", src / "loose.msg"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("3 converted, 0 failed, 0 skipped"), std::string::npos) << result.err;
    const std::string mirrored = src.path().relative_path().string();
    EXPECT_EQ(FilesBelow(out.path()),
              (std::vector<std::string>{mirrored + "/Loose 01-07-2012.eml",
                                        mirrored + "/tree/A 01-07-2012.eml",
                                        mirrored + "/tree/sub/B 01-07-2012.eml"}));
}

TEST(Cli, DryRunPrintsExactlyWhatARealRunWrites) {
    TempDir src, out;
    for (const char *name : {"x/1.msg", "x/2.msg", "x/3.msg"}) WriteFile(src / name, Message("Same"));
    WriteFile(src / "x/4.msg", Message("Other"));
    const std::vector<std::string> args = {"-o", out.path().string(), "-n", "OptSD", src / "x"};

    std::vector<std::string> dryArgs = args;
    dryArgs.push_back("--dry-run");
    const CliResult dry = RunTool(dryArgs);
    EXPECT_EQ(dry.status, 0);
    EXPECT_TRUE(fs::is_empty(out.path()));  // nothing written

    const CliResult real = RunTool(args);
    EXPECT_EQ(real.status, 0);
    std::vector<std::string> printed;
    std::istringstream lines(dry.out);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos);
        EXPECT_EQ(ReadFile(line.substr(tab + 1)), ReadFile(line.substr(0, tab)));
        printed.push_back(fs::relative(line.substr(tab + 1), out.path()).string());
    }
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(printed, FilesBelow(out.path()));
    EXPECT_EQ(printed.size(), 4u);
}

TEST(Cli, AnyFailureExitsWithOneAndNamesThePath) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    const std::string missing = src / "missing.msg";
    const CliResult result = RunTool({"-o", out.path().string(), src / "a.msg", missing, "--quiet"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(missing + ": "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("converted"), std::string::npos);  // --quiet: no summary
    EXPECT_EQ(FilesBelow(out.path()).size(), 1u);
}

TEST(Cli, DrawsAProgressBarOnlyOnATerminalAndNotWhenQuiet) {
    TempDir src, out;
    WriteFile(src / "a.msg", Message("A"));
    for (const bool quiet : {false, true}) {
        std::ostringstream output, err;
        std::vector<std::string> args = {"-o", out.path().string(), src / "a.msg"};
        if (quiet) args.push_back("--quiet");
        RunCli(args, {output, err, true});
        EXPECT_EQ(err.str().find("msg/s") != std::string::npos, !quiet) << err.str();
        EXPECT_EQ(err.str().find("1/1") != std::string::npos, !quiet) << err.str();
    }
}

TEST(Cli, RelativeParentPartsStayBelowTheOutputFolder) {
    TempDir src, out;
    WriteFile(src / "a/a.msg", Message("A"));
    const std::string roundabout = (src.path() / "a" / ".." / "a" / "a.msg").string();
    const CliResult result = RunTool({"-o", out.path().string(), roundabout});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(FilesBelow(out.path()),
              std::vector<std::string>{src.path().relative_path().string() + "/a/a.eml.eml"});
}

}  // namespace
}  // namespace tarvelin
