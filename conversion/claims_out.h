// Claims of final names handed to the workers, so that they overlap as the copies do (on a share
// each is a round trip), while the calling thread decides the next names; it takes each outcome
// back in list order.
//
// A claim holds its folder's lock for its round trips (a network file system's client locks the
// folder while it creates a name there), so claims in one folder go one after another however
// many workers take them. A few at a time go out per folder, and the others wait in their folder's
// lane: the workers meanwhile claim in the next folders, or copy, rather than queue on one lock.
// Where claims are quick (a local disk), the calling thread makes them itself.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "platform/file_service.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// Claims out at once in one folder: the second is ready when the first lets go of the folder.
inline constexpr std::size_t kClaimsPerFolder = 2;

// One claim. The copy goes with it and comes back with the outcome, unless the claim took the
// name: whoever made the claim then drops the copy, after telling the outcome (removing a
// temporary name a hard link left is one more round trip on a share).
struct ClaimOut {
    std::unique_ptr<StagedFile> copy;  // the calling thread's again once done
    std::string path;
    std::string lane;  // the folder it is claimed in
    Status status;  // once done
    bool done = false;  // under ClaimsOut's lock
};

class ClaimsOut {
public:
    using Hand = std::function<void(std::function<void()>)>;

    // `give` hands a task to a worker, or does it at once; at most `perFolder` claims in one
    // folder are handed at a time.
    ClaimsOut(Hand give, std::size_t perFolder) : give_(std::move(give)), perFolder_(perFolder) {}
    ClaimsOut(const ClaimsOut &) = delete;
    ClaimsOut &operator=(const ClaimsOut &) = delete;

    // Claims in one folder go out in the order given.
    std::shared_ptr<ClaimOut> Give(std::unique_ptr<StagedFile> copy, std::string path, std::string folder) {
        auto claim = std::make_shared<ClaimOut>();
        claim->copy = std::move(copy);
        claim->path = std::move(path);
        claim->lane = std::move(folder);
        bool here = false;
        {
            std::lock_guard lock(mutex_);
            Lane &lane = lanes_[claim->lane];
            if (lane.out >= perFolder_) {
                lane.waiting.push_back(claim);
                return claim;
            }
            here = lane.out == 0 && quick_.load(std::memory_order_relaxed);
            ++lane.out;
        }
        if (here) {
            Claim(*claim);
        } else {
            Send(claim);
        }
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
    struct Lane {
        std::size_t out = 0;  // being made, and not done
        std::deque<std::shared_ptr<ClaimOut>> waiting;
    };

    void Send(const std::shared_ptr<ClaimOut> &claim) {
        give_([this, claim] { Claim(*claim); });
    }

    void Claim(ClaimOut &claim) {
        const auto started = std::chrono::steady_clock::now();
        Status status = claim.copy->ClaimAs(claim.path);
        quick_.store(std::chrono::steady_clock::now() - started < kQuick, std::memory_order_relaxed);
        std::unique_ptr<StagedFile> named;
        if (status) named = std::move(claim.copy);
        std::shared_ptr<ClaimOut> next;
        {
            std::lock_guard lock(mutex_);
            claim.status = std::move(status);
            claim.done = true;
            const auto lane = lanes_.find(claim.lane);
            if (lane->second.waiting.empty()) {
                if (--lane->second.out == 0) lanes_.erase(lane);
            } else {
                next = std::move(lane->second.waiting.front());
                lane->second.waiting.pop_front();
            }
        }
        done_.notify_one();
        if (next) Send(next);
        named.reset();
    }

    // A claim quicker than this (a local disk's rename) costs less than waking a worker for it:
    // the calling thread makes it itself, as long as the last claim was that quick.
    static constexpr std::chrono::microseconds kQuick{50};

    const Hand give_;
    const std::size_t perFolder_;
    std::atomic<bool> quick_ = false;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::map<std::string, Lane> lanes_;  // under mutex_
};

}  // namespace tarvelin
