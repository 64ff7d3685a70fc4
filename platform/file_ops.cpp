#include "platform/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include "platform/path_split.h"

namespace tarvelin {
namespace {

constexpr char kSeparator = '/';
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
// Large enough that one call usually moves a whole message, small enough to stay within ssize_t.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;
constexpr std::size_t kBufferSize = 256 * 1024;
// Between two yields: about 40 ms on a disk that writes 100 MB/s.
constexpr std::size_t kYieldSlice = std::size_t{4} << 20;
constexpr int kTemporaryNameAttempts = 100;

template <typename Call>
auto RetryOnEintr(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

// A string with a NUL inside would reach the system cut short and name another file.
bool UsablePath(const std::string &path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

Status OtherFailure(int err, const std::string &what) {
    return Status::Failure(ErrorKind::Other, what + ": " + std::strerror(err));
}

class FileDescriptor {
public:
    FileDescriptor(const SysCalls &sys, int fd) : sys_(&sys), fd_(fd) {}
    FileDescriptor(FileDescriptor &&other) noexcept : sys_(other.sys_), fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept {
        if (this != &other) {
            Discard();
            sys_ = other.sys_;
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor() { Discard(); }

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }

    // For a file just written the result of close tells whether the data really arrived, so the
    // copy closes explicitly; a retry after EINTR would be wrong because the descriptor is gone.
    int Close() { return sys_->Close(std::exchange(fd_, -1)); }

private:
    void Discard() noexcept {
        if (fd_ < 0) return;
        const int saved = errno;
        sys_->Close(std::exchange(fd_, -1));
        errno = saved;
    }

    const SysCalls *sys_;
    int fd_;
};

// Removes a file the copy created unless the copy completed: a truncated message must never be
// left where it looks like a good one.
class CreatedFile {
public:
    CreatedFile(const SysCalls &sys, std::string path) : sys_(sys), path_(std::move(path)) {}
    CreatedFile(const CreatedFile &) = delete;
    CreatedFile &operator=(const CreatedFile &) = delete;
    ~CreatedFile() {
        if (kept_) return;
        const int saved = errno;
        sys_.Unlink(path_.c_str());
        errno = saved;
    }
    void Keep() { kept_ = true; }

private:
    const SysCalls &sys_;
    std::string path_;
    bool kept_ = false;
};

Status MakeFolderLevel(const SysCalls &sys, const std::string &level) {
    if (sys.Mkdir(level.c_str(), 0777) == 0) return Status::Ok();
    const int err = errno;
    // EEXIST also covers another process making the folder meanwhile; some file systems refuse
    // an existing folder with another error, so what is there decides.
    struct stat info {};
    if (sys.Stat(level.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Status::Ok();
        return Status::Failure(ErrorKind::Other,
                               "cannot create the folder " + level + ": a file of that name is in the way");
    }
    return OtherFailure(err, "cannot create the folder " + level);
}

Status WriteAll(const SysCalls &sys, int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = RetryOnEintr([&] { return sys.Write(fd, data, size); });
        if (written < 0) return Status::FromErrno(errno, "cannot write the copy");
        if (written == 0) {
            return Status::Failure(ErrorKind::Other, "cannot write the copy: the disk takes no more bytes");
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return Status::Ok();
}

// Yields to the hooks once per slice of bytes moved; false when they ask to stop.
class SliceYield {
public:
    explicit SliceYield(WorkHooks *hooks) : hooks_(hooks) {}
    bool Moved(std::size_t bytes) {
        if (hooks_ == nullptr) return true;
        sinceYield_ += bytes;
        if (sinceYield_ < kYieldSlice) return true;
        sinceYield_ = 0;
        hooks_->Yield();
        return !hooks_->StopRequested();
    }
    // The most to move in one call, so that yields come at least once per slice.
    std::size_t Chunk() const { return hooks_ == nullptr ? kCopyChunk : kYieldSlice; }

private:
    WorkHooks *hooks_;
    std::size_t sinceYield_ = 0;
};

Status Stopped() { return Status::Failure(ErrorKind::Stopped, "the copy was stopped"); }

Status ReadAndWrite(const SysCalls &sys, int in, int out, SliceYield &slices) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        const ssize_t got = RetryOnEintr([&] { return sys.Read(in, buffer.get(), kBufferSize); });
        if (got < 0) return Status::FromErrno(errno, "cannot read the message");
        if (got == 0) return Status::Ok();
        if (Status written = WriteAll(sys, out, buffer.get(), static_cast<std::size_t>(got)); !written) {
            return written;
        }
        if (!slices.Moved(static_cast<std::size_t>(got))) return Stopped();
    }
}

// Errors after which reading and writing may still work: no in-kernel copy between these two
// files (other file systems, old kernels, special files).
bool InKernelCopyUnavailable(int err) {
    return err == EXDEV || err == ENOSYS || err == EOPNOTSUPP || err == ENOTSUP || err == EINVAL ||
           err == EBADF;
}

Status InKernelCopyFailure(int err) {
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) {
        return Status::FromErrno(err, "cannot write the copy");
    }
    return Status::FromErrno(err, "cannot copy the message");
}

Status CopyBytes(const SysCalls &sys, int in, int out, off_t sourceSize, SliceYield &slices) {
    // A size of 0 may also be a file whose length the system does not know beforehand; only
    // reading tells, so such a source goes straight to the read/write loop.
    if (sourceSize > 0) {
        off_t copied = 0;
        for (;;) {
            const ssize_t moved =
                RetryOnEintr([&] { return sys.CopyFileRange(in, out, slices.Chunk()); });
            if (moved > 0) {
                copied += moved;
                if (!slices.Moved(static_cast<std::size_t>(moved))) return Stopped();
                continue;
            }
            if (moved == 0) {
                if (copied >= sourceSize) return Status::Ok();
                break;  // short of the size: let reading decide where the file ends
            }
            if (!InKernelCopyUnavailable(errno)) return InKernelCopyFailure(errno);
            break;
        }
    }
    // Both offsets stand where the in-kernel copy stopped, so this carries on from there.
    return ReadAndWrite(sys, in, out, slices);
}

std::string TemporaryNameNextTo(const std::string &destination) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::getpid()) << 32));
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kLetters) - 2);
    // Short and independent of the destination's name, which may already be near the name limit.
    std::string name = FolderFromPath(destination, kSeparator) + ".tarvelin-";
    for (int i = 0; i < 12; ++i) name += kLetters[pick(engine)];
    return name + ".part";
}

Status CreateTemporaryNextTo(const SysCalls &sys, const std::string &destination, mode_t mode,
                             std::string &path, FileDescriptor &out) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = TemporaryNameNextTo(destination);
        const int fd = RetryOnEintr([&] { return sys.Open(candidate.c_str(), kCreateFlags, mode); });
        if (fd >= 0) {
            path = std::move(candidate);
            out = FileDescriptor(sys, fd);
            return Status::Ok();
        }
        // The destination itself is not taken, so EEXIST must not read as AlreadyExists.
        if (errno != EEXIST) return OtherFailure(errno, "cannot create the copy");
    }
    return Status::Failure(ErrorKind::Other, "cannot create the copy: no free temporary name");
}

}  // namespace

Status EnsureFolder(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder: no valid path");
    }
    const std::string folder = AddSeparator(path, kSeparator);

    // The usual case: the folder is there from an earlier message.
    struct stat info {};
    if (sys.Stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Status::Ok();

    for (std::size_t end = 1; end < folder.size(); ++end) {
        if (folder[end] != kSeparator || folder[end - 1] == kSeparator) continue;
        if (Status made = MakeFolderLevel(sys, folder.substr(0, end)); !made) return made;
    }
    return Status::Ok();
}

bool EnsureFolderExists(const std::string &path) { return EnsureFolder(path).ok(); }

bool FileExist(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) return false;
    struct stat info {};
    return sys.Lstat(path.c_str(), &info) == 0;
}

Status CopyFile(const std::string &source, const std::string &destination, bool failIfExists,
                const SysCalls &sys, WorkHooks *hooks) {
    if (!UsablePath(source)) {
        return Status::Failure(ErrorKind::Other, "cannot open the message: no valid path");
    }
    if (!UsablePath(destination)) {
        return Status::Failure(ErrorKind::Other, "cannot create the copy: no valid path");
    }

    // O_NONBLOCK: a FIFO named like a message must not block the run; it is refused below.
    FileDescriptor in(sys, RetryOnEintr([&] {
        return sys.Open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0);
    }));
    if (!in.valid()) return Status::FromErrno(errno, "cannot open the message");
    struct stat sourceInfo {};
    if (sys.Fstat(in.get(), &sourceInfo) != 0) return OtherFailure(errno, "cannot read the message");
    if (S_ISDIR(sourceInfo.st_mode)) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    }
    if (!S_ISREG(sourceInfo.st_mode)) {
        // A device or a pipe has no end to copy up to.
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    }
    const mode_t mode = sourceInfo.st_mode & 0777;

    // With failIfExists the exclusive create is the existence test, so nothing can slip in between.
    // Otherwise the copy is made under a temporary name and only a complete copy replaces the old file.
    std::string written;
    FileDescriptor out(sys, -1);
    if (failIfExists) {
        const int fd = RetryOnEintr([&] { return sys.Open(destination.c_str(), kCreateFlags, mode); });
        if (fd < 0) return Status::FromErrno(errno, "cannot create the copy");
        written = destination;
        out = FileDescriptor(sys, fd);
    } else if (Status made = CreateTemporaryNextTo(sys, destination, mode, written, out); !made) {
        return made;
    }
    CreatedFile created(sys, written);

    SliceYield slices(hooks);
    if (Status copied = CopyBytes(sys, in.get(), out.get(), sourceInfo.st_size, slices); !copied) {
        return copied;
    }

    // The times are worth keeping but not worth losing the copied message over, so a file system
    // that refuses them does not fail the copy.
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    RetryOnEintr([&] { return sys.Futimens(out.get(), times); });

    if (out.Close() != 0) return OtherFailure(errno, "cannot finish the copy");
    if (!failIfExists && sys.Rename(written.c_str(), destination.c_str()) != 0) {
        return OtherFailure(errno, "cannot put the copy in place");
    }
    created.Keep();
    return Status::Ok();
}

bool CopyFileTo(const std::string &source, const std::string &destination, bool failIfExists) {
    return CopyFile(source, destination, failIfExists).ok();
}

}  // namespace tarvelin
