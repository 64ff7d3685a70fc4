// Room for open files when the process may open no more (its limit of descriptors, a container's
// or the system's): the file service's operations that hold files open each take a place here, and
// one that meets the limit waits for another to end and tries again, while fewer are let in at
// once from then on. Safe from several threads at once.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>

namespace tarvelin {

class OpenFileRoom {
public:
    // A place held while an operation has files open: entering waits while the room is full.
    class Place {
    public:
        explicit Place(OpenFileRoom &room) : room_(room) { room_.Enter(); }
        ~Place() { room_.Leave(); }
        Place(const Place &) = delete;
        Place &operator=(const Place &) = delete;

    private:
        OpenFileRoom &room_;
    };

    // For the holder of a place that could open nothing more: lets in no more operations at once
    // than there are now, and waits until another of them ends. Where no other is under way (or
    // all others wait too), what holds the files is work between operations (a flush), so it
    // waits a moment and says true; false once it has done so kAloneTries times for this
    // operation (`alone` counts them): nothing closes, and the operation fails.
    bool AwaitAnotherEnd(int &alone) {
        std::unique_lock lock(mutex_);
        const bool others = active_ > waiting_ + 1;
        if (!others && ++alone > kAloneTries) return false;
        if (others) most_ = std::max<std::size_t>(1, active_ - 1);
        ++waiting_;
        const std::uint64_t seen = ended_;
        ended_changed_.wait_for(lock, kMoment, [&] { return ended_ != seen; });
        --waiting_;
        return true;
    }

private:
    static constexpr int kAloneTries = 100;
    static constexpr std::chrono::milliseconds kMoment{10};

    void Enter() {
        std::unique_lock lock(mutex_);
        ended_changed_.wait(lock, [&] { return active_ < most_; });
        ++active_;
    }
    void Leave() {
        {
            std::lock_guard lock(mutex_);
            --active_;
            ++ended_;
        }
        ended_changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable ended_changed_;
    std::size_t active_ = 0;   // places held
    std::size_t waiting_ = 0;  // of them, waiting in AwaitAnotherEnd
    std::size_t most_ = std::numeric_limits<std::size_t>::max();
    std::uint64_t ended_ = 0;  // places left so far
};

}  // namespace tarvelin
