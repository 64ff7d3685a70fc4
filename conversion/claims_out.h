// Claims of final names handed to the workers, so that they overlap as the copies do (on a share
// each is a round trip), while the calling thread decides the next names; it takes each outcome
// back in list order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/file_service.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// One claim. The copy goes with it and comes back with the outcome, unless the claim took the
// name: the worker then drops the copy itself, after telling the outcome (removing a temporary
// name a hard link left is one more round trip on a share).
struct ClaimOut {
    std::unique_ptr<StagedFile> copy;  // the calling thread's again once done
    std::string path;
    Status status;  // once done
    bool done = false;  // under ClaimsOut's lock
};

class ClaimsOut {
public:
    using Hand = std::function<void(std::function<void()>)>;

    // `give` hands a task to a worker, or does it at once.
    explicit ClaimsOut(Hand give) : give_(std::move(give)) {}
    ClaimsOut(const ClaimsOut &) = delete;
    ClaimsOut &operator=(const ClaimsOut &) = delete;

    std::shared_ptr<ClaimOut> Give(std::unique_ptr<StagedFile> copy, std::string path) {
        auto claim = std::make_shared<ClaimOut>();
        claim->copy = std::move(copy);
        claim->path = std::move(path);
        give_([this, claim] { Claim(*claim); });
        return claim;
    }

    bool Done(const ClaimOut &claim) const {
        std::lock_guard lock(mutex_);
        return claim.done;
    }

    // Waits for the outcome, yielding to the hooks between short waits, so that a window stays
    // responsive meanwhile. Claims are not stopped: each ends within a call or two.
    void Await(const ClaimOut &claim, WorkHooks &hooks) {
        constexpr std::chrono::milliseconds kWaitSlice{20};
        std::unique_lock lock(mutex_);
        while (!done_.wait_for(lock, kWaitSlice, [&] { return claim.done; })) {
            lock.unlock();
            hooks.Yield();
            lock.lock();
        }
    }

private:
    void Claim(ClaimOut &claim) {
        Status status = claim.copy->ClaimAs(claim.path);
        std::unique_ptr<StagedFile> named;
        if (status) named = std::move(claim.copy);
        {
            std::lock_guard lock(mutex_);
            claim.status = std::move(status);
            claim.done = true;
        }
        done_.notify_one();
        named.reset();
    }

    const Hand give_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
};

}  // namespace tarvelin
