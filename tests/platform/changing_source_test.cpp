// A message that changes while it is copied (a mail server still delivering into the store): the
// staged copy is made once more, and a second change fails the message without leaving a file.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/slice_yield.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Size: cut short and grown again, its time kept. Time: bytes already copied rewritten in place, the size kept.
// Both: rewritten and appended to.
enum class Change { Size, Time, Both };

// Changes the source at the copy's yields, which come between two slices of a large copy: in the
// first so many copies of it. Each change leaves bytes the copy has already passed differing.
class ChangingSource : public WorkHooks {
public:
    ChangingSource(fs::path source, Change change, int copies)
        : source_(std::move(source)), change_(change), copies_(copies) {}
    void Yield() override {
        if (changed_ >= copies_) return;
        ++changed_;
        const auto before = fs::last_write_time(source_);
        if (change_ == Change::Size) {
            // Cut below what was copied, then grown past a slice again, so that the next copy yields too.
            fs::resize_file(source_, kYieldSlice / 4);
            std::ofstream(source_, std::ios::binary | std::ios::app) << std::string(kYieldSlice + changed_, 'y');
            fs::last_write_time(source_, before);
            return;
        }
        {
            std::fstream file(source_, std::ios::binary | std::ios::in | std::ios::out);
            file << "Subject: edit " << changed_;
            if (change_ == Change::Both) file.seekp(0, std::ios::end) << "one more line\r\n";
        }
        // Later than a clock tick of the file system, so that a coarse one cannot hide the change.
        fs::last_write_time(source_, before + std::chrono::seconds(2 * changed_));
    }
    bool StopRequested() const override { return false; }

private:
    fs::path source_;
    Change change_;
    int copies_;
    int changed_ = 0;
};

struct ChangeCase {
    const char *label;
    Change change;
    int copies;  // 1: the second copy is clean; 2: it changes again
};

class ChangingMessage : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangingMessage, IsCopiedOnceMoreAndFailsWhenItChangesAgain) {
    TempDir dir;
    const std::string source = dir / "m.msg";
    // Larger than one slice, so that the copy yields half way.
    WriteFile(source, "Subject: big\r\n\r\n" + std::string(kYieldSlice + kYieldSlice / 2, 'x'));
    ChangingSource hooks(testing::SystemPath(source), GetParam().change, GetParam().copies);

    StagedCopy copy;
    const Status staged = StageCopy(source, dir.path().string(), copy, RealSysCalls(), &hooks);
    if (GetParam().copies == 1) {
        ASSERT_TRUE(staged.ok()) << staged.reason();
        ASSERT_TRUE(copy.ClaimAs(dir / "m.eml").ok());
        EXPECT_EQ(ReadFile(dir / "m.eml"), ReadFile(source));  // the message as it is now
        EXPECT_EQ(testing::Snapshot(dir.path()).size(), 2u);
    } else {
        EXPECT_FALSE(staged.ok());
        EXPECT_EQ(staged.reason(), "the message changed while it was copied");
        EXPECT_EQ(testing::Snapshot(dir.path()).size(), 1u);  // the source alone: no copy is left
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, ChangingMessage,
                         ::testing::Values(ChangeCase{"size_once", Change::Size, 1},
                                           ChangeCase{"time_once", Change::Time, 1},
                                           ChangeCase{"both_once", Change::Both, 1},
                                           ChangeCase{"size_twice", Change::Size, 2},
                                           ChangeCase{"time_twice", Change::Time, 2},
                                           ChangeCase{"both_twice", Change::Both, 2}),
                         [](const auto &info) { return std::string(info.param.label); });

}  // namespace
}  // namespace tarvelin
