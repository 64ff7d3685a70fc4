// A message that changes while it is copied (a mail server still delivering into the store): the
// staged copy is made once more, and a second change fails the message without leaving a file.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>

#include "platform/slice_yield.h"
#include "tests/support/temp_dir.h"

namespace tarvelin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// Size: cut short and grown again, its time kept. Time: bytes already copied rewritten in place, the size kept.
// Both: rewritten and appended to. Hidden: rewritten in place and its modification time set back, which
// only the change time tells.
enum class Change { Size, Time, Both, Hidden };

// Changes the source at the copy's yields, which come between two slices of a large copy: in the
// first so many copies of it (a read that yields after every piece says when it starts again).
// Each change leaves bytes the copy has already passed differing.
class ChangingSource : public WorkHooks {
public:
    ChangingSource(fs::path source, Change change, int copies, bool oncePerStart)
        : source_(std::move(source)), change_(change), copies_(copies), oncePerStart_(oncePerStart) {}
    void Started() { started_ = true; }
    void Yield() override {
        if (changed_ >= copies_ || !started_) return;
        ++changed_;
        started_ = !oncePerStart_;
        const auto before = fs::last_write_time(source_);
        if (change_ == Change::Size) {
            // Cut below what was copied, then grown past a slice again, so that the next copy yields too.
            fs::resize_file(source_, kYieldSlice / 4);
            std::ofstream(source_, std::ios::binary | std::ios::app) << std::string(kYieldSlice + changed_, 'y');
            fs::last_write_time(source_, before);
            return;
        }
        // Past a tick of the clock that stamps the change time, so that it shows this change.
        if (change_ == Change::Hidden) std::this_thread::sleep_for(std::chrono::milliseconds(30));
        {
            std::fstream file(source_, std::ios::binary | std::ios::in | std::ios::out);
            file << "Subject: edit " << changed_;
            if (change_ == Change::Both) file.seekp(0, std::ios::end) << "one more line\r\n";
        }
        // Later than a clock tick of the file system, so that a coarse one cannot hide the change;
        // or, hidden, exactly as it was.
        fs::last_write_time(source_, change_ == Change::Hidden ? before : before + std::chrono::seconds(2 * changed_));
    }
    bool StopRequested() const override { return false; }

private:
    fs::path source_;
    Change change_;
    int copies_;
    bool oncePerStart_;
    bool started_ = true;
    int changed_ = 0;
};

// What reads the source: its copy, or the read for an mbox file, which hands on pieces and starts
// again when told to.
enum class Reader { Copy, Read };

using ChangeCase = std::tuple<Change, int /* copies changed: 1, the second is clean; 2, it changes again */, Reader>;

class ChangingMessage : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangingMessage, IsReadOnceMoreAndFailsWhenItChangesAgain) {
    const auto [change, copies, reader] = GetParam();
    TempDir dir;
    const std::string source = dir / "m.msg";
    // Larger than one slice, so that the copy yields half way.
    WriteFile(source, "Subject: big\r\n\r\n" + std::string(kYieldSlice + kYieldSlice / 2, 'x'));
    ChangingSource hooks(testing::SystemPath(source), change, copies, reader == Reader::Read);

    Status status;
    std::string got;  // what the reader kept
    if (reader == Reader::Copy) {
        StagedCopy copy;
        status = StageCopy(source, dir.path().string(), copy, RealSysCalls(), &hooks);
        if (status) {
            ASSERT_TRUE(copy.ClaimAs(dir / "m.eml").ok());
            got = ReadFile(dir / "m.eml");
        }
    } else {
        SourceHead head;
        head.complete = [](std::string_view, std::size_t) { return true; };
        head.limit = 1024;
        status = ReadSource(
            source, head,
            [&](const SourceHead &) {
                hooks.Started();
                got.clear();
                return Status::Ok();
            },
            [&](std::string_view piece) {
                got += piece;
                return Status::Ok();
            },
            RealSysCalls(), &hooks);
    }
    if (copies == 1) {
        ASSERT_TRUE(status.ok()) << status.reason();
        EXPECT_EQ(got, ReadFile(source));  // the message as it is now
    } else {
        EXPECT_EQ(status.reason(), "the message changed while it was copied");
    }
    // Nothing but the source and a whole copy is left.
    EXPECT_EQ(testing::Snapshot(dir.path()).size(), reader == Reader::Copy && copies == 1 ? 2u : 1u);
}

std::string RowName(const ::testing::TestParamInfo<ChangeCase> &info) {
    static const char *const kChanges[] = {"size", "time", "both", "hidden"};
    const auto [change, copies, reader] = info.param;
    return std::string(kChanges[static_cast<int>(change)]) + (copies == 1 ? "_once" : "_twice") +
           (reader == Reader::Copy ? "_copied" : "_read");
}

INSTANTIATE_TEST_SUITE_P(Rows, ChangingMessage,
                         ::testing::Combine(::testing::Values(Change::Size, Change::Time, Change::Both, Change::Hidden),
                                            ::testing::Values(1, 2), ::testing::Values(Reader::Copy, Reader::Read)),
                         RowName);

}  // namespace
}  // namespace tarvelin
