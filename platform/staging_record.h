// What a file service learns and keeps of the copies it stages, across calls: how the copies in a
// folder keep the times they are given, and the temporary files that would not go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarvelin {

// How the copies written into a folder keep the times they are given, learned from the first copy
// there, as ClaimRoute is learned from the first claim. A FUSE client of an SMB share (smbnetfs)
// sets a time given to the open copy through a handle of its own, and the server replaces it with
// the time of the close; only a time set again once the copy is closed sticks there.
enum class TimeRoute {
    Unknown,
    OnOpenFile,       // what the open copy was given stays: nothing more to do
    AgainAfterClose,  // the time is set once more by the copy's path after its close
};

// A temporary file that could not be removed, and why.
struct LeftFile {
    std::string path;
    std::string reason;
};

// Safe from several threads at once.
class StagingRecord {
public:
    // The routes learned so far: by folder, and by file system for what learning there costs (a
    // wait for the server).
    TimeRoute InFolder(const std::string &folder) const { return Find(folders_, folder); }
    void KeepInFolder(const std::string &folder, TimeRoute route) { Keep(folders_, folder, route); }
    // The route on the file system; where none is known yet, the first caller is told to learn
    // it (`learn`), and the callers after it wait for its answer rather than each wait for the
    // server too. A learner that never answers is given up on after a while.
    TimeRoute OnDevice(std::uint64_t device, bool &learn) {
        constexpr std::chrono::seconds kPatience{2};
        std::unique_lock lock(mutex_);
        learnt_.wait_for(lock, kPatience, [&] { return !learning_.contains(device); });
        const auto found = devices_.find(device);
        learn = found == devices_.end();
        if (learn) learning_.insert(device);
        return learn ? TimeRoute::Unknown : found->second;
    }
    void KeepOnDevice(std::uint64_t device, TimeRoute route) {
        {
            std::lock_guard lock(mutex_);
            devices_[device] = route;
            learning_.erase(device);
        }
        learnt_.notify_all();
    }

    void LeftBehind(LeftFile file) {
        std::lock_guard lock(mutex_);
        left_.push_back(std::move(file));
    }
    // What was left behind since the last call.
    std::vector<LeftFile> TakeLeftBehind() {
        std::lock_guard lock(mutex_);
        return std::exchange(left_, {});
    }

private:
    template <typename Map, typename Key>
    TimeRoute Find(const Map &map, const Key &key) const {
        std::lock_guard lock(mutex_);
        const auto found = map.find(key);
        return found != map.end() ? found->second : TimeRoute::Unknown;
    }
    template <typename Map, typename Key>
    void Keep(Map &map, const Key &key, TimeRoute route) {
        std::lock_guard lock(mutex_);
        map[key] = route;
    }

    mutable std::mutex mutex_;
    std::unordered_map<std::string, TimeRoute> folders_;
    std::unordered_map<std::uint64_t, TimeRoute> devices_;
    std::unordered_set<std::uint64_t> learning_;  // devices whose route a copy is learning
    std::condition_variable learnt_;
    std::vector<LeftFile> left_;
};

}  // namespace tarvelin
