#include "platform/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/path_split.h"
#include "platform/slice_yield.h"
#include "platform/temporary_name.h"

namespace tarvelin {
namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
// Large enough that one call usually moves a whole message, small enough to stay within ssize_t.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;
constexpr std::size_t kBufferSize = 256 * 1024;
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
    int Release() { return std::exchange(fd_, -1); }

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


Status ReadAndWrite(const SysCalls &sys, int in, int out, SliceYield &slices) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        const ssize_t got = RetryOnEintr([&] { return sys.Read(in, buffer.get(), kBufferSize); });
        if (got < 0) return Status::FromErrno(errno, "cannot read the message");
        if (got == 0) return Status::Ok();
        if (Status written = WriteAll(sys, out, buffer.get(), static_cast<std::size_t>(got)); !written) {
            return written;
        }
        if (!slices.Moved(static_cast<std::size_t>(got))) return CopyStopped();
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
                RetryOnEintr([&] { return sys.CopyFileRange(in, out, slices.Chunk(kCopyChunk)); });
            if (moved > 0) {
                copied += moved;
                if (!slices.Moved(static_cast<std::size_t>(moved))) return CopyStopped();
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

Status CreateTemporaryIn(const SysCalls &sys, const std::string &folder, mode_t mode, std::string &path,
                         FileDescriptor &out) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = TemporaryNameIn(folder);
        const int fd = RetryOnEintr([&] { return sys.Open(candidate.c_str(), kCreateFlags, mode); });
        if (fd >= 0) {
            path = std::move(candidate);
            out = FileDescriptor(sys, fd);
            return Status::Ok();
        }
        // The final name is not involved yet, so EEXIST must not read as AlreadyExists.
        if (errno != EEXIST) return OtherFailure(errno, "cannot create the copy");
    }
    return Status::Failure(ErrorKind::Other, "cannot create the copy: no free temporary name");
}

// Opened read-only without blocking (a FIFO named like a message must not hang the run), and
// refused unless it is a regular file: a device or a pipe has no end to copy up to.
Status OpenSource(const SysCalls &sys, const std::string &source, FileDescriptor &in, struct stat &info) {
    if (!UsablePath(source)) {
        return Status::Failure(ErrorKind::Other, "cannot open the message: no valid path");
    }
    in = FileDescriptor(sys, RetryOnEintr([&] {
        return sys.Open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0);
    }));
    if (!in.valid()) return Status::FromErrno(errno, "cannot open the message");
    if (sys.Fstat(in.get(), &info) != 0) return OtherFailure(errno, "cannot read the message");
    if (S_ISDIR(info.st_mode)) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    }
    if (!S_ISREG(info.st_mode)) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    }
    return Status::Ok();
}

Status Taken() { return Status::Failure(ErrorKind::AlreadyExists, "cannot name the copy: the name is taken"); }

// The file system does not offer a no-replace rename.
bool NoReplaceRenameUnavailable(int err) {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

// The file system has no hard links (FAT, many network shares).
bool HardLinksUnavailable(int err) {
    return err == EPERM || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP || err == EINVAL;
}

// Gives a complete temporary file its final name without replacing anything.
Status PutInPlace(const SysCalls &sys, const std::string &temporary, const std::string &destination) {
    if (!UsablePath(destination)) return Status::Failure(ErrorKind::Other, "cannot name the copy: no valid path");
    if (sys.RenameNoReplace(temporary.c_str(), destination.c_str()) == 0) return Status::Ok();
    int err = errno;
    if (err == EEXIST) return Taken();
    if (!NoReplaceRenameUnavailable(err)) return OtherFailure(err, "cannot name the copy");

    if (sys.Link(temporary.c_str(), destination.c_str()) == 0) {
        sys.Unlink(temporary.c_str());
        return Status::Ok();
    }
    err = errno;
    if (err == EEXIST) return Taken();
    if (!HardLinksUnavailable(err)) return OtherFailure(err, "cannot name the copy");

    // The exclusive create claims the name, so the rename can only replace our own empty claim.
    FileDescriptor claim(sys, RetryOnEintr([&] { return sys.Open(destination.c_str(), kCreateFlags, 0600); }));
    if (!claim.valid()) {
        err = errno;
        return err == EEXIST ? Taken() : OtherFailure(err, "cannot name the copy");
    }
    claim.Close();
    if (sys.Rename(temporary.c_str(), destination.c_str()) != 0) {
        err = errno;
        sys.Unlink(destination.c_str());
        return OtherFailure(err, "cannot name the copy");
    }
    return Status::Ok();
}

}  // namespace

Status EnsureFolder(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder: no valid path");
    }
    const std::string folder = AddSeparator(path);

    // The usual case: the folder is there from an earlier message.
    struct stat info {};
    if (sys.Stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return Status::Ok();

    for (std::size_t end = 1; end < folder.size(); ++end) {
        if (folder[end] != kNativeSeparator || folder[end - 1] == kNativeSeparator) continue;
        if (Status made = MakeFolderLevel(sys, folder.substr(0, end)); !made) return made;
    }
    return Status::Ok();
}

bool FileExist(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) return false;
    struct stat info {};
    return sys.Lstat(path.c_str(), &info) == 0;
}

std::string SameFileKey(const std::string &path) { return path; }

Status CheckFolderCreatable(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder: no valid path");
    }
    const std::string folder = AddSeparator(path);
    std::string deepestExisting = folder.front() == kNativeSeparator ? "/" : ".";
    for (std::size_t end = 1; end < folder.size(); ++end) {
        if (folder[end] != kNativeSeparator || folder[end - 1] == kNativeSeparator) continue;
        const std::string level = folder.substr(0, end);
        struct stat info {};
        if (sys.Stat(level.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                return Status::Failure(ErrorKind::Other,
                                       "cannot create the folder " + level + ": a file of that name is in the way");
            }
            deepestExisting = level;
            continue;
        }
        if (errno != ENOENT) return OtherFailure(errno, "cannot create the folder " + level);
        // The first missing level: making it needs a folder that takes new entries.
        if (sys.Access(deepestExisting.c_str(), W_OK | X_OK) != 0) {
            return OtherFailure(errno, "cannot create the folder " + level);
        }
        return Status::Ok();
    }
    return Status::Ok();
}

Status CheckStaging(const std::string &source, const std::string &folder, const SysCalls &sys) {
    FileDescriptor in(sys, -1);
    struct stat sourceInfo {};
    if (Status usable = OpenSource(sys, source, in, sourceInfo); !usable) return usable;
    struct stat info {};
    if (sys.Stat(folder.c_str(), &info) == 0 && sys.Access(folder.c_str(), W_OK | X_OK) != 0) {
        return OtherFailure(errno, "cannot create the copy");
    }
    return Status::Ok();
}

void StagedCopy::CloseUnflushed() noexcept {
    if (open_ < 0) return;
    const int saved = errno;
    sys_->Close(static_cast<int>(std::exchange(open_, -1)));
    errno = saved;
}

void StagedCopy::Discard() noexcept {
    if (!staged()) return;
    CloseUnflushed();
    const int saved = errno;
    sys_->Unlink(temporary_.c_str());
    errno = saved;
    sys_ = nullptr;
    temporary_.clear();
}

Status StagedCopy::Flush() {
    if (!staged()) return Status::Failure(ErrorKind::Other, "cannot finish the copy: there is no copy");
    if (open_ < 0) return Status::Ok();
    FileDescriptor out(*sys_, static_cast<int>(std::exchange(open_, -1)));
    // On the disk before it gets its final name, so that after a power cut a final name never
    // holds less than the whole message. File systems without the call (EINVAL) keep no cache.
    if (RetryOnEintr([&] { return sys_->Fdatasync(out.get()); }) != 0 && errno != EINVAL) {
        return OtherFailure(errno, "cannot finish the copy");
    }
    if (out.Close() != 0) return OtherFailure(errno, "cannot finish the copy");
    return Status::Ok();
}

Status StagedCopy::MoveToName(const std::string &destination, Replace replace) const {
    if (replace == Replace::No) return PutInPlace(*sys_, temporary_, destination);
    if (sys_->Rename(temporary_.c_str(), destination.c_str()) != 0) {
        return OtherFailure(errno, "cannot put the copy in place");
    }
    return Status::Ok();
}

Status StageCopy(const std::string &source, const std::string &folder, StagedCopy &staged, const SysCalls &sys,
                 WorkHooks *hooks) {
    staged = StagedCopy();
    FileDescriptor in(sys, -1);
    struct stat sourceInfo {};
    if (Status opened = OpenSource(sys, source, in, sourceInfo); !opened) return opened;
    if (folder.find('\0') != std::string::npos) {
        return Status::Failure(ErrorKind::Other, "cannot create the copy: no valid path");
    }

    StagedCopy copy;
    FileDescriptor out(sys, -1);
    if (Status made = CreateTemporaryIn(sys, folder, sourceInfo.st_mode & 0777, copy.temporary_, out); !made) {
        return made;
    }
    copy.sys_ = &sys;

    SliceYield slices(hooks);
    if (Status copied = CopyBytes(sys, in.get(), out.get(), sourceInfo.st_size, slices); !copied) return copied;

    // The times are worth keeping but not worth losing the copied message over, so a file system
    // that refuses them does not fail the copy.
    const struct timespec times[2] = {sourceInfo.st_atim, sourceInfo.st_mtim};
    RetryOnEintr([&] { return sys.Futimens(out.get(), times); });
    // Advice only: the disk starts on it now, while the next messages are read.
    sys.StartWriteback(out.get());
    copy.open_ = out.Release();
    staged = std::move(copy);
    return Status::Ok();
}

bool SameContent(const std::string &a, const std::string &b, const SysCalls &sys) {
    FileDescriptor first(sys, -1), second(sys, -1);
    struct stat firstInfo {}, secondInfo {};
    if (!OpenSource(sys, a, first, firstInfo) || !OpenSource(sys, b, second, secondInfo)) return false;
    if (firstInfo.st_size != secondInfo.st_size) return false;
    const auto firstBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    const auto secondBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        const ssize_t got = RetryOnEintr([&] { return sys.Read(first.get(), firstBuffer.get(), kBufferSize); });
        if (got < 0) return false;
        // Read the same count from the second file; a short read there means it ended early.
        std::size_t filled = 0;
        while (filled < static_cast<std::size_t>(got)) {
            const ssize_t more = RetryOnEintr([&] {
                return sys.Read(second.get(), secondBuffer.get() + filled, static_cast<std::size_t>(got) - filled);
            });
            if (more <= 0) return false;
            filled += static_cast<std::size_t>(more);
        }
        if (got == 0) {
            char extra = 0;
            return RetryOnEintr([&] { return sys.Read(second.get(), &extra, 1); }) == 0;
        }
        if (std::memcmp(firstBuffer.get(), secondBuffer.get(), filled) != 0) return false;
    }
}

}  // namespace tarvelin
