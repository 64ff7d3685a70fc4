// An open folder for calls relative to it (openat, renameat and the like).
#pragma once

#include "platform/folder_handles.h"
#include "platform/posix/syscalls.h"

namespace tarvelin {

class OpenFolder {
public:
    OpenFolder(const SysCalls &sys, int fd) : sys_(sys), fd_(fd) {}
    ~OpenFolder() { sys_.Close(fd_); }
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;
    int fd() const { return fd_; }

private:
    const SysCalls &sys_;
    const int fd_;
};

// The spot as the calls take it: the folder's descriptor and the name in it, or the whole path.
inline FileAt At(const std::string &path, const FileSpot &spot) {
    return spot.folder ? FileAt(path.c_str(), spot.folder->fd(), spot.nameAt) : FileAt(path.c_str());
}

}  // namespace tarvelin
