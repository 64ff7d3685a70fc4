// The box texts, line by line: counts, singular and plural, and the cut after ten problems.
#include "app/report_texts.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarvelin {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string &line : lines) text += (text.empty() ? "" : kLineBreak) + line;
    return text;
}

std::vector<UnreadFolder> UnreadFolders(int count) {
    std::vector<UnreadFolder> folders;
    for (int i = 1; i <= count; ++i) folders.push_back({"/m/" + std::to_string(i) + "/", "denied"});
    return folders;
}

ConversionReport Report(std::int64_t converted, int failed) {
    ConversionReport report;
    report.converted = converted;
    for (int i = 1; i <= failed; ++i) {
        report.failures.push_back({"/m/" + std::to_string(i) + ".msg", "full"});
    }
    return report;
}

struct TextCase {
    const char *behaviour;
    std::string shown;
    std::string expected;
};

void PrintTo(const TextCase &c, std::ostream *os) { *os << c.behaviour; }

class ReportTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReportTextTest, ReadsAsTheUserSeesIt) {
    EXPECT_EQ(GetParam().shown, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, ReportTextTest,
    ::testing::Values(
        TextCase{"clear question", ClearQuestionText(),
                 Lines({"Do you want to clear all the files in the list", " Proceed?"})},
        TextCase{"scan that read every folder", ScanCountText(3, {}), "3 Files Added to List."},
        TextCase{"scan with one unread folder", ScanCountText(0, UnreadFolders(1)),
                 Lines({"0 Files Added to List.", "1 folder could not be read.", "/m/1/: denied"})},
        TextCase{"scan with twelve unread folders lists ten",
                 ScanCountText(5, UnreadFolders(12)),
                 Lines({"5 Files Added to List.", "12 folders could not be read.", "/m/1/: denied",
                        "/m/2/: denied", "/m/3/: denied", "/m/4/: denied", "/m/5/: denied",
                        "/m/6/: denied", "/m/7/: denied", "/m/8/: denied", "/m/9/: denied",
                        "/m/10/: denied", "... and 2 more"})},
        TextCase{"the one message failed", RunFailureText(Report(0, 1)),
                 Lines({"Completed !", "1 of 1 message could not be converted:",
                        "/m/1.msg: full"})},
        TextCase{"eleven of fifteen failed lists ten", RunFailureText(Report(4, 11)),
                 Lines({"Completed !", "11 of 15 messages could not be converted:",
                        "/m/1.msg: full", "/m/2.msg: full", "/m/3.msg: full", "/m/4.msg: full",
                        "/m/5.msg: full", "/m/6.msg: full", "/m/7.msg: full", "/m/8.msg: full",
                        "/m/9.msg: full", "/m/10.msg: full", "... and 1 more"})}),
    [](const ::testing::TestParamInfo<TextCase> &info) {
        std::string name = info.param.behaviour;
        for (char &c : name) {
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        return name;
    });

}  // namespace
}  // namespace tarvelin
