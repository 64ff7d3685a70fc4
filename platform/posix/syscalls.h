// The POSIX form of the seam in platform/syscalls.h.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

#include "platform/syscalls.h"

namespace tarvelin {

class SysCalls {
public:
    virtual ~SysCalls() = default;

    // Each mirrors the POSIX call of the same name: -1 and errno on failure.
    virtual int Open(const char *path, int flags, mode_t mode) const;
    virtual int Close(int fd) const;
    virtual ssize_t Read(int fd, void *buffer, std::size_t count) const;
    virtual ssize_t Write(int fd, const void *buffer, std::size_t count) const;
    // copy_file_range(2) from the current offsets of both descriptors.
    virtual ssize_t CopyFileRange(int inFd, int outFd, std::size_t count) const;
    virtual int Fstat(int fd, struct stat *result) const;
    virtual int Lstat(const char *path, struct stat *result) const;
    virtual int Stat(const char *path, struct stat *result) const;
    virtual int Futimens(int fd, const struct timespec times[2]) const;
    virtual int Mkdir(const char *path, mode_t mode) const;
    virtual int Unlink(const char *path) const;
    virtual int Rmdir(const char *path) const;
    virtual int Rename(const char *from, const char *to) const;
    // renameat2(2) with RENAME_NOREPLACE: EEXIST when `to` is taken; EINVAL, ENOSYS or ENOTSUP
    // where the file system or the kernel does not offer it.
    virtual int RenameNoReplace(const char *from, const char *to) const;
    virtual int Link(const char *from, const char *to) const;
    virtual int Fdatasync(int fd) const;
    // ftruncate(2), then lseek(2) to the new end.
    virtual int TruncateAndSeek(int fd, off_t size) const;
    // Starts writing the file's data to the disk without waiting (sync_file_range(2) on Linux;
    // nothing elsewhere), so that a later Fdatasync mostly finds it done.
    virtual int StartWriteback(int fd) const;
    virtual int Access(const char *path, int mode) const;
};

}  // namespace tarvelin
