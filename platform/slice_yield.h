// How a long copy hands control back: a yield after every slice of bytes, so a window stays
// responsive on a slow disk and a stop request ends the copy between two slices.
#pragma once

#include <cstddef>

#include "platform/status.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// Between two yields: about 40 ms on a disk that writes 100 MB/s.
inline constexpr std::size_t kYieldSlice = std::size_t{4} << 20;

class SliceYield {
public:
    explicit SliceYield(WorkHooks *hooks) : hooks_(hooks) {}
    // False when the hooks ask to stop.
    bool Moved(std::size_t bytes) {
        if (hooks_ == nullptr) return true;
        sinceYield_ += bytes;
        if (sinceYield_ < kYieldSlice) return true;
        sinceYield_ = 0;
        return !hooks_->YieldAndCheckStop();
    }
    // The most to move in one call, so that yields come at least once per slice.
    std::size_t Chunk(std::size_t unhooked) const { return hooks_ == nullptr ? unhooked : kYieldSlice; }

private:
    WorkHooks *hooks_;
    std::size_t sinceYield_ = 0;
};

}  // namespace tarvelin
