// A lock on a file that lasts as long as this process keeps the file open, and so ends with the
// process however it ends: a lock file left by a run that was killed never blocks the next one.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace tarvelin {

enum class LockState {
    Held,           // this process holds it
    HeldElsewhere,  // another live process holds it
    Free,           // nobody holds it, or there is no such file (Probe, or Take without create)
    NotKept,        // the file system keeps no such locks, or this file cannot be locked
    Failed,         // the file could not be made or opened
};

class FileLock {
public:
    FileLock() = default;
    FileLock(FileLock &&other) noexcept { *this = std::move(other); }
    FileLock &operator=(FileLock &&other) noexcept {
        if (this != &other) {
            Release();
            path_ = std::move(other.path_);
            handle_ = std::exchange(other.handle_, -1);
            removedOnClose_ = other.removedOnClose_;
        }
        return *this;
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock() { Release(); }

    // Locks the file without waiting, making it first when `create` and it is missing. `reason`
    // says why for NotKept and Failed.
    LockState Take(const std::string &path, bool create, std::string &reason);

    // Removes the file, then lets go of the lock: a process that opened the old file meanwhile
    // finds it gone once it holds the lock.
    void Release() noexcept;

    bool Held() const { return handle_ != -1; }

private:
    std::string path_;
    std::intptr_t handle_ = -1;  // a descriptor (POSIX) or a handle (Windows)
    bool removedOnClose_ = false;
};

// Whether another process holds the lock, found without taking it: Free when there is no file.
LockState ProbeLock(const std::string &path);

}  // namespace tarvelin
