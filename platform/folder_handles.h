// Folders kept open while a run works in them, so that a call can name a file by its folder's
// handle and its own name, as cp does: the system then looks up one name instead of walking every
// folder of a long path on each open, stat and rename. On Windows, whose calls take whole paths,
// nothing is kept. Safe from several threads at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/syscalls.h"

namespace tarvelin {

// An open folder, closed once nobody holds it (defined by the half that opens folders).
class OpenFolder;

// Where one call finds a file: in an open folder, under the part of the path from `nameAt` on;
// without a folder, by the whole path. Holds the folder open until it is dropped, so a folder let
// go by the cache meanwhile is never closed under a call.
struct FileSpot {
    std::shared_ptr<const OpenFolder> folder;
    std::size_t nameAt = 0;
};

class FolderHandles {
public:
    explicit FolderHandles(const SysCalls &sys, std::size_t most = 64);
    ~FolderHandles();
    FolderHandles(const FolderHandles &) = delete;
    FolderHandles &operator=(const FolderHandles &) = delete;

    // The file's folder, opened the first time; no folder when it cannot be opened (the call
    // then takes the whole path and meets the failure itself).
    FileSpot Locate(const std::string &path);
    // Lets every folder go, so that none stays busy (a drive that will not eject) after a run.
    void CloseAll();
    // Lets every folder go, and keeps half as many from then on, where the process needs room
    // for open files; how many were kept.
    std::size_t LetGo();

private:
    struct Kept {
        std::shared_ptr<const OpenFolder> folder;
        std::atomic<std::uint64_t> lastUsed{0};  // written under a shared lock
    };

    // Looked up by a part of a path, without making a string of it.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
    };

    const SysCalls &sys_;
    std::size_t most_;  // under mutex_
    // Every call of every worker looks here: finding a folder takes the lock shared.
    std::shared_mutex mutex_;
    std::unordered_map<std::string, Kept, PathHash, std::equal_to<>> kept_;  // by the folder's path; under mutex_
    std::atomic<std::uint64_t> uses_{0};
};

}  // namespace tarvelin
