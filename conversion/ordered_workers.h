// Jobs done on worker threads and handed back strictly in the order they were given: out-of-order
// work, in-order retirement. Bounded: at most `window` jobs are given and not yet taken back, so a
// slow first job holds up the workers, never the memory.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/run_observer.h"
#include "platform/system.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// Jobs handed out and not yet taken back, per worker: enough that fast ones go on while one is
// slow, few enough that memory does not follow the list.
inline constexpr std::size_t kAheadPerJob = 8;

// The address space a worker takes (its stack, a message's header and the copy's buffers), and what
// the calling thread keeps for naming and the observer: where the process is held to less, fewer
// workers start, rather than a library aborting the run when one of them cannot get memory.
inline constexpr std::uint64_t kWorkerAddressSpace = std::uint64_t{16} << 20;
inline constexpr std::uint64_t kCallerAddressSpace = std::uint64_t{16} << 20;

template <typename Job>
class OrderedWorkers {
public:
    // Runs on the worker threads, one job at a time each. Its hooks never yield and ask to stop
    // once Stop() is called, so a long copy ends at its next slice.
    using Work = std::function<void(Job &, WorkHooks &)>;

    // Up to `threads` workers. Only as many as the processor has cores take jobs at first; more
    // join in while the jobs mostly wait (on a disk's flush, on a network's round trips), and
    // leave again when the jobs mostly compute, where more threads would only take turns. Where
    // the system starts fewer threads (a container's limit of processes, little memory for their
    // stacks), there are fewer workers, maybe none: Threads() tells, StartFailure() why.
    OrderedWorkers(std::size_t threads, std::size_t window, Work work)
        : window_(window), work_(std::move(work)), cores_(Cores()), fewest_(std::min(threads, cores_)),
          active_(fewest_), most_(threads) {
        threads_.reserve(threads);
        try {
            for (std::size_t i = 0; i < threads; ++i) {
                if (!RoomForAnotherWorker()) {
                    startFailure_ = "not enough memory for more workers";
                    break;
                }
                threads_.emplace_back([this, i](std::stop_token stop) { Serve(i, stop); });
            }
        } catch (const std::system_error &refused) {
            startFailure_ = refused.code().message();
        }
        if (threads_.size() < threads) {
            std::lock_guard lock(mutex_);
            most_ = threads_.size();
            fewest_ = std::min(fewest_, most_);
            active_ = std::min(active_, most_);
        }
    }
    ~OrderedWorkers() { Stop(); }
    OrderedWorkers(const OrderedWorkers &) = delete;
    OrderedWorkers &operator=(const OrderedWorkers &) = delete;

    // The calling thread alone gives and takes, so the slots' count needs no lock.
    std::size_t Room() const { return window_ - slots_.size(); }

    // Jobs in their order, each with whether it needs work (one that failed before any still
    // waits for its turn); under one lock and with one wake-up: waking a worker per job lets each
    // woken worker take the core from the calling thread in turn.
    void GiveAll(std::vector<std::pair<Job, bool>> &jobs) {
        std::size_t work = 0;
        {
            std::lock_guard lock(mutex_);
            for (auto &[job, needsWork] : jobs) {
                Slot &slot = slots_.emplace_back(std::move(job), !needsWork);
                if (!needsWork) continue;
                todo_.push_back(&slot);
                ++work;
            }
        }
        jobs.clear();
        if (work == 1) workGiven_.notify_one();
        if (work > 1) workGiven_.notify_all();
    }

    // Small work for the next idle worker, ahead of the jobs: what the calling thread would
    // otherwise wait for after taking a job back. What is left when the workers stop, Stop does;
    // what comes after, is done at once.
    void GiveChore(std::function<void()> chore) {
        {
            std::lock_guard lock(mutex_);
            if (!stopping_) {
                chores_.push_back(std::move(chore));
                workGiven_.notify_one();
                return;
            }
        }
        chore();
    }

    // The oldest job, once it is finished; nothing when it is not finished within `wait`.
    std::optional<Job> TakeFinished(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        if (slots_.empty()) return std::nullopt;
        if (!slots_.front().finished) {
            // Woken once for a run of finished jobs rather than once for each: a wake-up costs more
            // than naming a tiny message. Not for long, so that a large copy in the run does not
            // hold up the ones before it.
            awaited_ = std::min(kRun, slots_.size());
            finished_.wait_for(lock, kGathering, [this] { return FrontFinished(awaited_); });
            awaited_ = 1;
            const bool ready = finished_.wait_for(lock, wait, [this] { return slots_.front().finished; });
            awaited_ = 0;
            if (!ready) {
                JoinWhileFirstJobsWait();
                return std::nullopt;
            }
        }
        Job job = std::move(slots_.front().job);
        slots_.pop_front();
        return job;
    }

    // How many workers there are, and how many of them take jobs now.
    std::size_t Threads() const { return most_; }
    std::size_t Working() const {
        std::lock_guard lock(mutex_);
        return active_;
    }
    // Why fewer threads started than were asked for; empty when all did.
    const std::string &StartFailure() const { return startFailure_; }

    // Asks the workers to stop and waits for them. Jobs not started stay unfinished.
    void Stop() {
        {
            // A flag under the lock, not a wait on the stop token: a stop that comes while a
            // worker is about to sleep must still wake it.
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workGiven_.notify_all();
        needed_.notify_all();
        for (std::jthread &thread : threads_) thread.request_stop();
        for (std::jthread &thread : threads_)
            if (thread.joinable()) thread.join();
        // No worker is left to race for them.
        while (!chores_.empty()) {
            const std::function<void()> chore = std::move(chores_.front());
            chores_.pop_front();
            chore();
        }
    }

private:
    struct Slot {
        Slot(Job j, bool done) : job(std::move(j)), finished(done) {}
        Job job;
        bool finished;  // under mutex_; once true the job is the calling thread's again
    };

    class StopHooks : public WorkHooks {
    public:
        explicit StopHooks(std::stop_token stop) : stop_(std::move(stop)) {}
        bool StopRequested() const override { return stop_.stop_requested(); }

    private:
        std::stop_token stop_;
    };

    static constexpr std::size_t kSampleEvery = 4;
    static constexpr std::int64_t kSlowJob = 1'000'000;  // nanoseconds
    static constexpr std::size_t kRun = 8;
    static constexpr std::chrono::milliseconds kGathering{2};
    // Two ticks of Windows' processor time and more.
    static constexpr std::chrono::milliseconds kBusyStretch{32};

    // The first `count` jobs (or all there are) are finished. Under mutex_.
    bool FrontFinished(std::size_t count) const {
        const auto end = slots_.begin() + static_cast<std::ptrdiff_t>(std::min(count, slots_.size()));
        return std::all_of(slots_.begin(), end, [](const Slot &slot) { return slot.finished; });
    }

    // The C library reads a file of the system for it each time.
    static std::size_t Cores() { return std::max(1u, std::thread::hardware_concurrency()); }

    void Serve(std::size_t index, std::stop_token stop) {
        StopHooks hooks(stop);
        std::size_t jobsDone = 0;
        bool slow = false;
        for (;;) {
            Slot *slot = nullptr;
            std::function<void()> chore;
            {
                std::unique_lock lock(mutex_);
                // A worker not needed waits apart, so that a notice of new work always wakes
                // one that takes it.
                needed_.wait(lock, [&] { return stopping_ || index < active_; });
                workGiven_.wait(lock, [&] {
                    return stopping_ || !chores_.empty() || !todo_.empty() || index >= active_;
                });
                if (stopping_) return;
                if (index >= active_) {
                    // Told to go while a notice may have been meant for it: pass it on.
                    if (!chores_.empty() || !todo_.empty()) workGiven_.notify_one();
                    continue;
                }
                if (!chores_.empty()) {
                    chore = std::move(chores_.front());
                    chores_.pop_front();
                } else {
                    slot = todo_.front();
                    todo_.pop_front();
                }
            }
            if (chore) {
                chore();
                continue;
            }
            // Reading the thread's processor time is a system call, which a tiny message's copy
            // would feel: after a quick job only one in kSampleEvery is weighed. The first is, and
            // after a slow one (a share's round trips) every one is, so that workers join without
            // delay.
            const bool timed = slow || jobsDone++ % kSampleEvery == 0;
            const auto started = std::chrono::steady_clock::now();
            const std::int64_t computingBefore = timed ? ThreadCpuNanoseconds() : 0;
            work_(slot->job, hooks);
            const std::int64_t took =
                std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started)
                    .count();
            const std::int64_t computed = timed ? ThreadCpuNanoseconds() - computingBefore : 0;
            slow = took > kSlowJob;
            bool awaited = false;
            {
                std::lock_guard lock(mutex_);
                slot->finished = true;
                awaited = awaited_ > 0 && FrontFinished(awaited_);
                if (timed) Weigh(took, computed);
            }
            // Only what the calling thread waits for lets it go on; waking it for others costs a
            // switch per message.
            if (awaited) finished_.notify_one();
        }
    }

    // After every few timed jobs, under mutex_: more workers while the jobs spent most of their time
    // waiting, fewer when they spent it computing. A busy processor also makes jobs wait (for a
    // turn on a core), so only a large share of waiting adds workers, and none while the process
    // keeps the cores busy: there every worker more makes the others wait longer for their turn,
    // which would read as waiting and call for more still.
    // The times are summed before they are compared: a processor time counted in the scheduler's
    // ticks (Windows) is right only over many jobs.
    void Weigh(std::int64_t took, std::int64_t computed) {
        took_ += took;
        computed_ += computed;
        ++weighed_;
        // The first time after a job per worker where those were slow (a share's round trips):
        // four each would spend a share run's first few hundred milliseconds on a few workers.
        const bool early = firstWeighing_ && took_ >= static_cast<std::int64_t>(weighed_) * kSlowJob;
        if (weighed_ < (early ? fewest_ : 4 * fewest_)) return;
        firstWeighing_ = false;
        const std::size_t before = active_;
        const std::int64_t waited = std::max<std::int64_t>(took_ - computed_, 0);
        // Workers join only after a stretch that showed the cores not busy, so at most once a
        // stretch.
        const std::optional<bool> busy = ProcessorBusy();
        if (busy.value_or(false)) {
            active_ = std::max(fewest_, active_ / 2);
        } else if (busy && waited * 10 > took_ * 9) {
            // Almost all waiting (a share's round trips): the jobs would take four times as many.
            active_ = std::min(most_, active_ * 4);
        } else if (busy && waited * 4 > took_ * 3) {
            active_ = std::min(most_, active_ * 2);
        } else if (waited * 5 < took_ * 2) {
            active_ = std::max(fewest_, active_ / 2);
        }
        took_ = computed_ = 0;
        weighed_ = 0;
        if (active_ > before) needed_.notify_all();
        if (active_ < before) workGiven_.notify_all();
    }

    // The first jobs are still under way after a whole wait while the cores are not busy: they wait
    // (on a share's round trips, on the first copy learning how its file system keeps times),
    // which the weighing would find only once they end, a few hundred milliseconds into a share's
    // run. Under mutex_.
    void JoinWhileFirstJobsWait() {
        if (stopping_ || !firstWeighing_ || weighed_ > 0 || active_ >= most_) return;
        if (ProcessorBusy().value_or(true)) return;
        active_ = std::min(most_, active_ * 4);
        needed_.notify_all();
    }

    // Whether the whole process used three quarters of the cores or more since the last answer;
    // nothing until kBusyStretch has passed: a processor time counted in ticks (Windows) would
    // read a short quiet stretch with a tick in it as busy.
    std::optional<bool> ProcessorBusy() {
        const auto now = std::chrono::steady_clock::now();
        if (now - stretchStart_ < kBusyStretch) return std::nullopt;
        const std::int64_t computing = ProcessCpuNanoseconds();
        const std::int64_t wall = std::chrono::duration_cast<std::chrono::nanoseconds>(now - stretchStart_).count();
        const bool busy = (computing - computingAtStretchStart_) * 4 >= wall * 3 * static_cast<std::int64_t>(cores_);
        stretchStart_ = now;
        computingAtStretchStart_ = computing;
        return busy;
    }

    static bool RoomForAnotherWorker() {
        const std::optional<std::uint64_t> left = AddressSpaceLeft();
        return !left || *left >= kWorkerAddressSpace + kCallerAddressSpace;
    }

    const std::size_t window_;
    const Work work_;
    mutable std::mutex mutex_;
    std::condition_variable workGiven_;
    std::condition_variable needed_;  // workers not taking jobs wait here for more to be needed
    bool stopping_ = false;  // under mutex_
    std::condition_variable finished_;
    // How many finished jobs at the front the calling thread waits for; 0 while it does not wait.
    std::size_t awaited_ = 0;  // under mutex_
    // A deque keeps each slot where it is while others are added and taken.
    std::deque<Slot> slots_;
    std::deque<Slot *> todo_;
    std::deque<std::function<void()>> chores_;  // under mutex_ while the workers run
    const std::size_t cores_;
    // Workers numbered below active_ take jobs; the rest wait for more to be needed. Fixed once
    // the threads are started.
    std::size_t fewest_;
    std::size_t active_;  // under mutex_
    std::size_t most_;
    std::string startFailure_;
    std::int64_t took_ = 0, computed_ = 0;  // nanoseconds, since the last weighing; under mutex_
    std::size_t weighed_ = 0;             // jobs since the last weighing; under mutex_
    bool firstWeighing_ = true;           // under mutex_
    std::chrono::steady_clock::time_point stretchStart_ = std::chrono::steady_clock::now();  // under mutex_
    std::int64_t computingAtStretchStart_ = ProcessCpuNanoseconds();                         // under mutex_
    // Last, so the threads end before what they use goes.
    std::vector<std::jthread> threads_;
};

// Gives `count` jobs to the workers in order and hands each finished one to `finish` in the same
// order, on the calling thread. `make(i)` gives the i-th job, or nothing when the run must stop;
// `needsWork` tells whether a job goes to a worker at all. Between jobs the hooks yield and are
// asked whether to stop; `finish` says false to stop. At a stop the jobs finished at the front of
// the list are still finished, up to the first one under way. False when the run stopped.
template <typename Job, typename Make, typename NeedsWork, typename Finish>
bool GiveAndTakeInOrder(OrderedWorkers<Job> &workers, std::size_t count, WorkHooks &hooks, Make make,
                        NeedsWork needsWork, Finish finish) {
    // How long the calling thread waits for the next job before it yields and looks for a stop.
    constexpr std::chrono::milliseconds kWaitSlice{20};
    const auto stopped = [&] {
        workers.Stop();
        while (std::optional<Job> job = workers.TakeFinished(std::chrono::milliseconds(0)))
            if (!finish(*job)) break;
        return false;
    };
    std::size_t given = 0, finished = 0;
    std::vector<std::pair<Job, bool>> batch;
    while (finished < count) {
        // Refilled in batches, so that idle workers are woken together rather than one per job
        // finished; a worker's share at a time, since a window filled at once would first make
        // the folders of all its messages, one round trip after another, while the workers wait.
        const std::size_t size = std::min(workers.Threads(), count - given);
        if (workers.Room() >= size) {
            for (; given < count && batch.size() < size; ++given) {
                if (hooks.YieldAndCheckStop()) return stopped();
                std::optional<Job> job = make(given);
                if (!job) return stopped();
                const bool work = needsWork(*job);
                batch.emplace_back(std::move(*job), work);
            }
            workers.GiveAll(batch);
        }
        std::optional<Job> job = workers.TakeFinished(kWaitSlice);
        if (!job) {
            if (hooks.YieldAndCheckStop()) return stopped();
            continue;
        }
        if (!finish(*job)) return stopped();
        ++finished;
        // Also once every job is given: the finished ones at the end of a large window are
        // named one after the other, long enough for a window to need its events.
        if (finished < count && hooks.YieldAndCheckStop()) return stopped();
    }
    return true;
}

// The one skeleton of a run: `count` jobs, each made on the calling thread in list order, worked on
// by up to `jobs` workers (by the calling thread itself when 1) where it needs work, and finished
// on the calling thread in list order. The window of jobs under way is kAheadPerJob per worker.
// Where fewer workers can start, the run goes on with those (or on the calling thread), and the
// observer hears it once.
template <typename Job>
class JobsInOrder {
public:
    using Work = typename OrderedWorkers<Job>::Work;

    JobsInOrder(std::size_t jobs, Work work, RunObserver &observer) : work_(std::move(work)) {
        if (jobs <= 1) return;
        workers_.emplace(jobs, kAheadPerJob * jobs, work_);
        const std::size_t started = workers_->Threads();
        if (started == jobs) return;
        const std::string why = " (" + workers_->StartFailure() + ")";
        observer.Notice(started == 0 ? "no worker could start" + why + ": the run goes on one message at a time"
                                     : "only " + std::to_string(started) + " of " + std::to_string(jobs) +
                                           " workers could start" + why + ": the run goes on with them");
        if (started == 0) workers_.reset();
    }

    bool Parallel() const { return workers_.has_value(); }
    // How many workers take jobs now: 1 without workers.
    std::size_t Working() const { return workers_ ? workers_->Working() : 1; }

    // Small work that may wait: an idle worker's, or done at once where there are no workers.
    void GiveChore(std::function<void()> chore) {
        if (workers_) {
            workers_->GiveChore(std::move(chore));
        } else {
            chore();
        }
    }

    // As GiveAndTakeInOrder: `make(i)` gives the i-th job or nothing at a stop, `needsWork` tells
    // whether it goes to the work at all, `finish` says false to stop. False when the run stopped.
    template <typename Make, typename NeedsWork, typename Finish>
    bool Run(std::size_t count, WorkHooks &hooks, Make make, NeedsWork needsWork, Finish finish) {
        if (workers_) return GiveAndTakeInOrder(*workers_, count, hooks, make, needsWork, finish);
        for (std::size_t i = 0; i < count; ++i) {
            if (hooks.YieldAndCheckStop()) return false;
            std::optional<Job> job = make(i);
            if (!job) return false;
            if (needsWork(*job)) work_(*job, hooks);
            if (!finish(*job)) return false;
        }
        return true;
    }

private:
    const Work work_;
    std::optional<OrderedWorkers<Job>> workers_;  // last: its threads use work_
};

}  // namespace tarvelin
