// Work hooks that ask to stop once a number of yields has passed, to stop a loop at every point.
#pragma once

#include "platform/work_hooks.h"

namespace tarvelin::testing {

class StopAfterYields : public WorkHooks {
public:
    // Only counts: no run yields this often.
    static constexpr int kNever = 1 << 30;

    explicit StopAfterYields(int limit) : limit_(limit) {}
    void Yield() override { ++yields; }
    bool StopRequested() const override { return yields >= limit_; }
    int yields = 0;

private:
    int limit_;
};

}  // namespace tarvelin::testing
