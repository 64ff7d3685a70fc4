// The lock over open-file-description locks, which the kernel drops when the last descriptor of
// the open file closes (also at a crash or kill -9), which NFS and SMB clients pass on to the
// server, and which two opens in one process hold apart as two processes.
#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/unique_fd.h"

namespace tarvelin {

namespace {

// Its holder may have removed the file (and another process made it anew) between our open and
// our lock; so a few attempts.
constexpr int kAttempts = 8;
constexpr int kRemoveWaits = 50;
constexpr useconds_t kRemoveWaitUs = 20000;

enum class Locked { Yes, Elsewhere, NotKept };

Locked LockWithoutWaiting(int fd, int &err) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &whole) == 0) return Locked::Yes;
    err = errno;
    if (err == EAGAIN || err == EACCES) return Locked::Elsewhere;
    if (err != EINVAL) return Locked::NotKept;
    // Kernels before 3.15 know no open-file-description locks; flock locks behave alike locally.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Locked::Yes;
    err = errno;
    return err == EWOULDBLOCK ? Locked::Elsewhere : Locked::NotKept;
}

bool SameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

LockState FileLock::Take(const std::string &path, bool create, std::string &reason) {
    Release();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Not through a link: the file is made where it is named, never at a link's target.
        const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | (create ? O_CREAT : 0);
        UniqueFd fd(::open(path.c_str(), flags, 0666));
        if (fd.get() < 0) {
            if (errno == ENOENT && !create) return LockState::Free;
            reason = std::strerror(errno);
            return LockState::Failed;
        }
        int err = 0;
        switch (LockWithoutWaiting(fd.get(), err)) {
        case Locked::Elsewhere: return LockState::HeldElsewhere;
        case Locked::NotKept: reason = std::strerror(err); return LockState::NotKept;
        case Locked::Yes: break;
        }
        struct stat opened {}, named {};
        if (::fstat(fd.get(), &opened) != 0) {
            reason = std::strerror(errno);
            return LockState::NotKept;
        }
        const bool stillNamed = ::stat(path.c_str(), &named) == 0;
        if (stillNamed && SameFile(opened, named)) {
            path_ = path;
            handle_ = fd.release();
            return LockState::Held;
        }
        if (!stillNamed && !create) return LockState::Free;
    }
    reason = "the lock file keeps being replaced";
    return LockState::NotKept;
}

void FileLock::Release() noexcept {
    if (handle_ == -1) return;
    const int saved = errno;
    // A share that refuses to remove a file still open refuses it for another process's lock
    // file too, so removing it once closed cannot take another run's. A FUSE client closes on the
    // server a moment after close returns, hence a few short waits.
    bool removed = ::unlink(path_.c_str()) == 0;
    ::close(static_cast<int>(handle_));
    for (int wait = 0; !removed && wait < kRemoveWaits; ++wait) {
        removed = ::unlink(path_.c_str()) == 0 || errno == ENOENT;
        if (!removed) ::usleep(kRemoveWaitUs);
    }
    handle_ = -1;
    path_.clear();
    errno = saved;
}

LockState ProbeLock(const std::string &path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY));
    if (fd.get() < 0) return errno == ENOENT ? LockState::Free : LockState::NotKept;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_GETLK, &whole) == 0) return whole.l_type == F_UNLCK ? LockState::Free : LockState::HeldElsewhere;
    if (errno != EINVAL) return LockState::NotKept;
    // Without the test call, a shared lock taken and let go at once tells the same.
    if (::flock(fd.get(), LOCK_SH | LOCK_NB) == 0) return LockState::Free;
    return errno == EWOULDBLOCK ? LockState::HeldElsewhere : LockState::NotKept;
}

}  // namespace tarvelin
