// When the Convert button is enabled, after each event of the list.
#include "app/convert_rules.h"

#include <gtest/gtest.h>

#include <ostream>

namespace tarvelin {
namespace {

struct RuleCase {
    const char *label;
    ListEvent event;
    bool before;
    bool after;
};

void PrintTo(const RuleCase &c, std::ostream *os) { *os << c.label; }

class ConvertRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(ConvertRules, EnableStateFollowsTheEvent) {
    EXPECT_EQ(ConvertEnabledAfter(GetParam().event, GetParam().before), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertRules,
    ::testing::Values(RuleCase{"start_up_disables", ListEvent::StartUp, true, false},
                      RuleCase{"clear_disables", ListEvent::ClearClicked, true, false},
                      RuleCase{"clear_keeps_disabled", ListEvent::ClearClicked, false, false},
                      RuleCase{"picked_files_enable", ListEvent::FileDialogReturnedSelection, false, true},
                      RuleCase{"cancelled_pick_keeps_enabled", ListEvent::FileDialogCancelled, true, true},
                      RuleCase{"cancelled_pick_keeps_disabled", ListEvent::FileDialogCancelled, false, false},
                      RuleCase{"scan_with_files_enables", ListEvent::FolderScanAddedFiles, false, true},
                      RuleCase{"scan_without_files_disables", ListEvent::FolderScanAddedNone, true, false},
                      RuleCase{"cancelled_browse_keeps_enabled", ListEvent::FolderBrowserCancelled, true, true},
                      RuleCase{"cancelled_browse_keeps_disabled", ListEvent::FolderBrowserCancelled, false, false},
                      RuleCase{"run_keeps_enabled", ListEvent::ConversionRun, true, true},
                      RuleCase{"run_keeps_disabled", ListEvent::ConversionRun, false, false}),
    [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
