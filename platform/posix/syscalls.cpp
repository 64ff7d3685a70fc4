#include "platform/posix/syscalls.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tarvelin {
namespace {

int Folder(const FileAt &file) { return file.folder >= 0 ? file.folder : AT_FDCWD; }
const char *Name(const FileAt &file) { return file.folder >= 0 ? file.path + file.nameAt : file.path; }

}  // namespace

int SysCalls::Open(FileAt file, int flags, mode_t mode) const { return ::openat(Folder(file), Name(file), flags, mode); }

int SysCalls::Close(int fd) const { return ::close(fd); }

ssize_t SysCalls::Read(int fd, void *buffer, std::size_t count) const { return ::read(fd, buffer, count); }

ssize_t SysCalls::Write(int fd, const void *buffer, std::size_t count) const {
    return ::write(fd, buffer, count);
}

ssize_t SysCalls::CopyFileRange(int inFd, int outFd, std::size_t count) const {
#ifdef __linux__
    return ::copy_file_range(inFd, nullptr, outFd, nullptr, count, 0);
#else
    // Elsewhere the caller falls back to reading and writing.
    (void)inFd;
    (void)outFd;
    (void)count;
    errno = ENOSYS;
    return -1;
#endif
}

int SysCalls::AdviseSequential(int fd) const { return ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

int SysCalls::Fstat(int fd, struct stat *result) const { return ::fstat(fd, result); }

int SysCalls::Lstat(const char *path, struct stat *result) const { return ::lstat(path, result); }

int SysCalls::Stat(FileAt file, struct stat *result) const { return ::fstatat(Folder(file), Name(file), result, 0); }

int SysCalls::Futimens(int fd, const struct timespec times[2]) const { return ::futimens(fd, times); }

int SysCalls::Utimens(FileAt file, const struct timespec times[2]) const {
    return ::utimensat(Folder(file), Name(file), times, AT_SYMLINK_NOFOLLOW);
}

namespace {

#if defined(__linux__) && defined(STATX_BASIC_STATS)
// statx(2) into the fields of a stat that the callers read: 0, -1 with errno, or 1 where the
// kernel or the file system has no statx and fstatat(2) must answer.
int StatxInto(const FileAt &file, int flags, unsigned int mask, struct stat *result) {
    struct statx facts {};
    if (::statx(Folder(file), Name(file), flags, mask, &facts) != 0)
        return errno == ENOSYS || errno == EINVAL ? 1 : -1;
    *result = {};
    result->st_mode = facts.stx_mode;
    result->st_size = static_cast<off_t>(facts.stx_size);
    result->st_dev = makedev(facts.stx_dev_major, facts.stx_dev_minor);
    result->st_ino = static_cast<ino_t>(facts.stx_ino);
    const auto time = [](const struct statx_timestamp &at) {
        return timespec{static_cast<time_t>(at.tv_sec), static_cast<long>(at.tv_nsec)};
    };
    result->st_atim = time(facts.stx_atime);
    result->st_mtim = time(facts.stx_mtime);
    result->st_ctim = time(facts.stx_ctime);
    return 0;
}
#endif

}  // namespace

int SysCalls::StatFresh(FileAt file, struct stat *result) const {
#if defined(__linux__) && defined(STATX_BASIC_STATS)
    if (const int got = StatxInto(file, AT_STATX_FORCE_SYNC, STATX_BASIC_STATS, result); got <= 0) return got;
#endif
    return Stat(file, result);
}

int SysCalls::StatChanges(FileAt file, struct stat *result) const {
#if defined(__linux__) && defined(STATX_BASIC_STATS)
    constexpr unsigned int kChanges = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    if (const int got = StatxInto(file, AT_STATX_SYNC_AS_STAT, kChanges, result); got <= 0) return got;
#endif
    return Stat(file, result);
}

int SysCalls::Statfs(const char *path, struct statfs *result) const { return ::statfs(path, result); }

int SysCalls::Mkdir(const char *path, mode_t mode) const { return ::mkdir(path, mode); }

int SysCalls::Unlink(FileAt file) const { return ::unlinkat(Folder(file), Name(file), 0); }

int SysCalls::Rmdir(const char *path) const { return ::rmdir(path); }

int SysCalls::Rename(FileAt from, FileAt to) const {
    return ::renameat(Folder(from), Name(from), Folder(to), Name(to));
}

int SysCalls::RenameNoReplace(FileAt from, FileAt to) const {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    return ::renameat2(Folder(from), Name(from), Folder(to), Name(to), RENAME_NOREPLACE);
#else
    // Elsewhere the caller falls back to a hard link, which never replaces either.
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

int SysCalls::Link(FileAt from, FileAt to) const { return ::linkat(Folder(from), Name(from), Folder(to), Name(to), 0); }

int SysCalls::TruncateAndSeek(int fd, off_t size) const {
    if (::ftruncate(fd, size) != 0) return -1;
    return ::lseek(fd, size, SEEK_SET) == size ? 0 : -1;
}

int SysCalls::Fdatasync(int fd) const { return ::fdatasync(fd); }

int SysCalls::StartWriteback(int fd) const {
#ifdef __linux__
    return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    return 0;
#endif
}

int SysCalls::Access(const char *path, int mode) const { return ::access(path, mode); }

const SysCalls &RealSysCalls() {
    static const SysCalls real;
    return real;
}

}  // namespace tarvelin
