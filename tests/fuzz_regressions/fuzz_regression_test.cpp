// Every file of the fuzz seed corpus and of fuzz/regressions/ goes through the same checks as
// under the fuzzer: header reading that neither crashes nor contradicts itself, and names that
// keep every naming invariant.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;

struct Target {
    const char *name;
    std::string (*check)(std::string_view bytes);
};

const Target kTargets[] = {
    {"mail_message", fuzz::CheckMessageBytes},
    {"naming", fuzz::CheckNamingInput},
};

void PrintTo(const Target &target, std::ostream *os) { *os << target.name; }

std::vector<fs::path> FilesIn(const fs::path &folder) {
    std::vector<fs::path> files;
    if (!fs::is_directory(folder)) return files;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzInputs : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzInputs, SeedsAndFoundCrashesKeepEveryInvariant) {
    const fs::path root = TARVELIN_FUZZ_DIR;
    const std::vector<fs::path> seeds = FilesIn(root / "corpus" / GetParam().name);
    ASSERT_FALSE(seeds.empty()) << "no seed corpus in " << (root / "corpus" / GetParam().name);
    std::vector<fs::path> inputs = seeds;
    for (const fs::path &found : FilesIn(root / "regressions" / GetParam().name)) inputs.push_back(found);

    for (const fs::path &input : inputs) {
        SCOPED_TRACE(input.string());
        EXPECT_EQ(GetParam().check(testing::ReadFile(input)), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, ::testing::ValuesIn(kTargets),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvelin
