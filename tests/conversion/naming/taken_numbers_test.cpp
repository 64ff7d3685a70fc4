// The memo of taken numbers must only save existence tests: every sequence of names gives the
// same output names with it as without it.
#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "conversion/naming/naming.h"

namespace tarvelin {
namespace {

struct Step {
    std::string name;
    bool written = true;  // false: the copy failed and left no file
};

struct Outcome {
    std::vector<std::string> paths;
    std::vector<DuplicateCounter> counters;
    long tests = 0;
};

// Resolves every step in one folder that starts with `existing` in it.
Outcome Resolve(const std::vector<Step> &steps, const std::set<std::string> &existing, bool memo,
                DuplicateCounter counter = 0) {
    std::set<std::string> files = existing;
    TakenNumbers known;
    Outcome outcome;
    const auto exists = [&](const std::string &path) {
        ++outcome.tests;
        return files.contains(path);
    };
    for (const Step &step : steps) {
        const std::string path =
            ResolveOutputPath("out/", step.name, counter, exists, memo ? &known : nullptr);
        if (step.written) {
            files.insert(path);
            if (path != PlainOutputPath("out/", step.name)) known.Add(PlainOutputPath("out/", step.name), counter - 1);
        }
        outcome.paths.push_back(path);
        outcome.counters.push_back(counter);
    }
    return outcome;
}

struct MemoCase {
    const char *label;
    std::vector<Step> steps;
    std::set<std::string> existing;
    DuplicateCounter counter = 0;
};

void PrintTo(const MemoCase &c, std::ostream *os) { *os << c.label; }

std::vector<Step> Alternating(int count) {
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i)
        steps.push_back({i % 2 == 0 ? "Weekly report" : "unique " + std::to_string(i)});
    return steps;
}

class TakenNumbersTest : public ::testing::TestWithParam<MemoCase> {};

TEST_P(TakenNumbersTest, GivesTheNamesOfAPlainSearch) {
    const MemoCase &c = GetParam();
    const Outcome plain = Resolve(c.steps, c.existing, false, c.counter);
    const Outcome memo = Resolve(c.steps, c.existing, true, c.counter);
    EXPECT_EQ(memo.paths, plain.paths);
    EXPECT_EQ(memo.counters, plain.counters);
    EXPECT_LE(memo.tests, plain.tests);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, TakenNumbersTest,
    ::testing::Values(
        MemoCase{"one_name_mixed_with_unique_ones", Alternating(400), {}},
        MemoCase{"taken_numbers_with_gaps_before_the_run",
                 Alternating(60),
                 {"out/Weekly report.eml", "out/Weekly report (2).eml", "out/Weekly report (3).eml",
                  "out/Weekly report (7).eml"}},
        MemoCase{"failed_copies_leave_their_number_free",
                 {{"a"}, {"a", false}, {"b"}, {"a"}, {"a", false}, {"c"}, {"a"}, {"a"}, {"d"},
                  {"a"}},
                 {}},
        MemoCase{"two_names_sharing_the_counter",
                 {{"a"}, {"b"}, {"a"}, {"b"}, {"a"}, {"b"}, {"x"}, {"a"}, {"b"}, {"a"}, {"x"},
                  {"b"}},
                 {}},
        MemoCase{"counter_carried_over_from_an_earlier_run",
                 Alternating(40), {"out/Weekly report.eml"}, 17},
        MemoCase{"counter_below_zero", {{"a"}, {"a"}, {"a"}, {"b"}, {"a"}}, {}, -5}),
    [](const auto &info) { return std::string(info.param.label); });

TEST(TakenNumbers, RandomSequencesGiveTheNamesOfAPlainSearch) {
    std::mt19937 random(2012);
    for (int round = 0; round < 50; ++round) {
        std::vector<Step> steps;
        std::set<std::string> existing;
        for (int i = 0; i < 200; ++i) {
            const int pick = static_cast<int>(random() % 6);
            const std::string name =
                pick < 3 ? std::string(1, static_cast<char>('a' + pick)) : "u" + std::to_string(i);
            steps.push_back({name, random() % 7 != 0});
        }
        for (int i = 0; i < 10; ++i)
            existing.insert("out/a (" + std::to_string(random() % 40) + ").eml");
        const Outcome plain = Resolve(steps, existing, false);
        const Outcome memo = Resolve(steps, existing, true);
        ASSERT_EQ(memo.paths, plain.paths) << "round " << round;
    }
}

TEST(TakenNumbers, ANameSharedByManyMessagesCostsFewTests) {
    // 500 messages of one name among unique ones: without the memo each tests every earlier number.
    const Outcome memo = Resolve(Alternating(1000), {}, true);
    const Outcome plain = Resolve(Alternating(1000), {}, false);
    EXPECT_LT(memo.tests, 3 * 1000);
    EXPECT_GT(plain.tests, 100 * 1000);
}

}  // namespace
}  // namespace tarvelin
