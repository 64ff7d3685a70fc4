// The POSIX form of the seam in platform/syscalls.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>

#include <cstddef>
#include <ctime>

#include "platform/syscalls.h"

namespace tarvelin {

// A file for one call: its whole path, and where the system finds it sooner when a folder on the
// way is open: that folder's descriptor and where the name inside it starts in the path. Fakes in
// tests read the whole path.
struct FileAt {
    FileAt(const char *whole) : path(whole) {}  // NOLINT(google-explicit-constructor): a path is a spot
    FileAt(const char *whole, int openFolder, std::size_t nameStart)
        : path(whole), folder(openFolder), nameAt(nameStart) {}

    const char *path;
    int folder = -1;
    std::size_t nameAt = 0;
};

class SysCalls {
public:
    virtual ~SysCalls() = default;

    // Each mirrors the POSIX call of the same name (the *at form where a FileAt is taken): -1 and
    // errno on failure.
    virtual int Open(FileAt file, int flags, mode_t mode) const;
    virtual int Close(int fd) const;
    virtual ssize_t Read(int fd, void *buffer, std::size_t count) const;
    virtual ssize_t Write(int fd, const void *buffer, std::size_t count) const;
    // copy_file_range(2) from the current offsets of both descriptors.
    virtual ssize_t CopyFileRange(int inFd, int outFd, std::size_t count) const;
    // posix_fadvise(2) POSIX_FADV_SEQUENTIAL over the whole file: the system reads ahead further.
    virtual int AdviseSequential(int fd) const;
    virtual int Fstat(int fd, struct stat *result) const;
    virtual int Lstat(const char *path, struct stat *result) const;
    virtual int Stat(FileAt file, struct stat *result) const;
    // Stat, asking only for what a change to the file shows (its identity, type, size,
    // modification and change time) and so leaving out the access time: a FUSE client asks its
    // server again after every read only for that time, one round trip more on a share.
    virtual int StatChanges(FileAt file, struct stat *result) const;
    virtual int Futimens(int fd, const struct timespec times[2]) const;
    // utimensat(2), following no link.
    virtual int Utimens(FileAt file, const struct timespec times[2]) const;
    // The facts as the file system holds them now, not as a client's cache keeps them
    // (statx(2) with AT_STATX_FORCE_SYNC; fstatat(2) where there is no statx).
    virtual int StatFresh(FileAt file, struct stat *result) const;
    // statfs(2): the file system's type in f_type.
    virtual int Statfs(const char *path, struct statfs *result) const;
    virtual int Mkdir(const char *path, mode_t mode) const;
    virtual int Unlink(FileAt file) const;
    virtual int Rmdir(const char *path) const;
    virtual int Rename(FileAt from, FileAt to) const;
    // renameat2(2) with RENAME_NOREPLACE: EEXIST when `to` is taken; EINVAL, ENOSYS or ENOTSUP
    // where the file system or the kernel does not offer it.
    virtual int RenameNoReplace(FileAt from, FileAt to) const;
    virtual int Link(FileAt from, FileAt to) const;
    virtual int Fdatasync(int fd) const;
    // ftruncate(2), then lseek(2) to the new end.
    virtual int TruncateAndSeek(int fd, off_t size) const;
    // Starts writing the file's data to the disk without waiting (sync_file_range(2) on Linux;
    // nothing elsewhere), so that a later Fdatasync mostly finds it done.
    virtual int StartWriteback(int fd) const;
    virtual int Access(const char *path, int mode) const;
};

}  // namespace tarvelin
