// The file primitives and the folder utilities over the POSIX calls.
#include "platform/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/file_primitives.h"
#include "platform/path_split.h"
#include "platform/posix/open_folder.h"
#include "platform/posix/syscalls.h"

namespace tarvelin {
namespace {

constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
// Large enough that one call usually moves a whole message, small enough to stay within ssize_t.
constexpr std::size_t kCopyChunk = std::size_t{1} << 30;

template <typename Call>
auto RetryOnEintr(Call call) {
    for (;;) {
        const auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

// Only a lack of descriptors keeps its kind, for the caller that waits for others to close.
Status OtherFailure(int err, std::string_view what) {
    const bool tooMany = err == EMFILE || err == ENFILE;
    return Status::Failure(tooMany ? ErrorKind::TooManyOpenFiles : ErrorKind::Other,
                           std::string(what) + ": " + std::strerror(err));
}

int Fd(native::FileRef file) { return static_cast<int>(file); }

native::SystemTime FromTimespec(const struct timespec &time) {
    return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::int64_t>(time.tv_nsec)};
}

struct timespec ToTimespec(const native::SystemTime &time) {
    struct timespec result {};
    result.tv_sec = static_cast<time_t>(time.units);
    result.tv_nsec = static_cast<long>(time.fraction);
    return result;
}

// A symbolic link whose target is missing: mkdir refuses its name, and nothing can be made through it.
Status LeadsNowhere(const std::string &level) {
    return Status::Failure(ErrorKind::Other,
                           "cannot create the folder " + level + ": a symbolic link that leads nowhere is in the way");
}

Status MakeFolderDeepestFirst(const SysCalls &sys, const std::string &level, bool &made) {
    if (sys.Mkdir(level.c_str(), 0777) == 0) {
        made = true;
        return Status::Ok();
    }
    int err = errno;
    // A missing parent, or one that is no folder: the level above decides.
    if (err == ENOENT || err == ENOTDIR) {
        std::size_t cut = level.find_last_of(kNativeSeparator);
        while (cut != std::string::npos && cut > 0 && level[cut - 1] == kNativeSeparator) --cut;
        if (cut != std::string::npos && cut > 0) {
            bool parentMade = false;
            if (Status parent = MakeFolderDeepestFirst(sys, level.substr(0, cut), parentMade); !parent) return parent;
            if (sys.Mkdir(level.c_str(), 0777) == 0) {
                made = true;
                return Status::Ok();
            }
            err = errno;
        }
    }
    // EEXIST also covers another process making the folder meanwhile; some file systems refuse
    // an existing folder with another error, so what is there decides.
    struct stat info {};
    if (sys.Stat(level.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return Status::Ok();
        return Status::Failure(ErrorKind::Other,
                               "cannot create the folder " + level + ": a file of that name is in the way");
    }
    if (err == EEXIST && sys.Lstat(level.c_str(), &info) == 0) return LeadsNowhere(level);
    return OtherFailure(err, "cannot create the folder " + level);
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

// The file system does not offer a no-replace rename.
bool NoReplaceRenameUnavailable(int err) {
    return err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}

// The file system has no hard links (FAT, many network shares).
bool HardLinksUnavailable(int err) {
    return err == EPERM || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP || err == EINVAL;
}

Status Taken() { return Status::Failure(ErrorKind::AlreadyExists, "the name is taken"); }

Status OnOtherVolume() {
    return Status::Failure(ErrorKind::OtherVolume, "cannot name the copy: its folder is on another file system");
}

}  // namespace

namespace native {

namespace {

void FillFacts(const struct stat &info, SourceFacts &facts) {
    facts.folder = S_ISDIR(info.st_mode);
    facts.regular = S_ISREG(info.st_mode);
    facts.size = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    facts.permissions = info.st_mode & 0777;
    facts.accessed = FromTimespec(info.st_atim);
    facts.modified = FromTimespec(info.st_mtim);
    facts.changed = FromTimespec(info.st_ctim);
    facts.identified = true;
    facts.device = static_cast<std::uint64_t>(info.st_dev);
    facts.fileNumber = static_cast<std::uint64_t>(info.st_ino);
}

}  // namespace

Status OpenForReading(const SysCalls &sys, const std::string &path, FileRef &file, SourceFacts &facts,
                      const FileSpot &spot) {
    // Without blocking: a FIFO named like a message must not hang the run.
    const int fd =
        RetryOnEintr([&] { return sys.Open(At(path, spot), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0); });
    if (fd < 0) return Status::FromErrno(errno, "cannot open the message");
    file = fd;
    return ReadFacts(sys, file, facts);
}

Status ReadFacts(const SysCalls &sys, FileRef file, SourceFacts &facts) {
    struct stat info {};
    if (sys.Fstat(Fd(file), &info) != 0) return OtherFailure(errno, "cannot read the message");
    FillFacts(info, facts);
    return Status::Ok();
}

Status ReadFactsByPath(const SysCalls &sys, const std::string &path, SourceFacts &facts, const FileSpot &spot) {
    struct stat info {};
    if (sys.StatChanges(At(path, spot), &info) != 0) return Status::FromErrno(errno, "cannot read the message");
    FillFacts(info, facts);
    return Status::Ok();
}

Status CreateNew(const SysCalls &sys, const std::string &path, unsigned permissions, FileRef &file,
                 std::string_view what, const FileSpot &spot, bool mayCutBack) {
    const int flags = mayCutBack ? (kCreateFlags & ~O_WRONLY) | O_RDWR : kCreateFlags;
    const int fd = RetryOnEintr([&] { return sys.Open(At(path, spot), flags, static_cast<mode_t>(permissions)); });
    if (fd >= 0) {
        file = fd;
        return Status::Ok();
    }
    return errno == EEXIST ? Taken() : OtherFailure(errno, what);
}

Status ReadSlice(const SysCalls &sys, FileRef file, char *buffer, std::size_t count, std::size_t &got) {
    const ssize_t read = RetryOnEintr([&] { return sys.Read(Fd(file), buffer, count); });
    if (read < 0) return Status::FromErrno(errno, "cannot read the message");
    got = static_cast<std::size_t>(read);
    return Status::Ok();
}

Status WriteSlice(const SysCalls &sys, FileRef file, const char *data, std::size_t count, std::size_t &written) {
    const ssize_t wrote = RetryOnEintr([&] { return sys.Write(Fd(file), data, count); });
    if (wrote < 0) return Status::FromErrno(errno, "cannot write the copy");
    written = static_cast<std::size_t>(wrote);
    return Status::Ok();
}

Status CopyInSystem(const SysCalls &sys, FileRef in, FileRef out, const SourceFacts &facts, SliceYield &slices,
                    bool &complete) {
    complete = false;
    // A size of 0 may also be a file whose length the system does not know beforehand; only
    // reading tells, so such a source goes straight to reading and writing.
    if (facts.size == 0) return Status::Ok();
    // Advice only, and no call to the file system: the system reads ahead twice as far, so on a
    // share a large message takes half as many round trips. A rest within the default read-ahead
    // comes in one request anyway.
    constexpr std::uint64_t kDefaultReadAhead = 128 * 1024;
    if (facts.size > kDefaultReadAhead) (void)sys.AdviseSequential(Fd(in));
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t moved = RetryOnEintr([&] { return sys.CopyFileRange(Fd(in), Fd(out), slices.Chunk(kCopyChunk)); });
        if (moved > 0) {
            copied += static_cast<std::uint64_t>(moved);
            if (!slices.Moved(static_cast<std::size_t>(moved))) return Status::Stopped();
            continue;
        }
        // Short of the size: reading decides where the file ends. Both offsets stand where the
        // in-kernel copy stopped, so reading carries on from there.
        if (moved == 0) {
            complete = copied >= facts.size;
            return Status::Ok();
        }
        if (!InKernelCopyUnavailable(errno)) return InKernelCopyFailure(errno);
        return Status::Ok();
    }
}

SystemTime SystemTimeFromUnix(std::int64_t seconds) { return {seconds, 0}; }

Status FinishContent(const SysCalls &sys, FileRef out, const SourceFacts &facts, ChosenTime &chosen) {
    // The times are worth keeping but not worth losing the copied message over, so a file system
    // that refuses them does not fail the copy.
    if (chosen.time) {
        const struct timespec chosenTimes[2] = {ToTimespec(facts.accessed), ToTimespec(*chosen.time)};
        chosen.taken = RetryOnEintr([&] { return sys.Futimens(Fd(out), chosenTimes); }) == 0;
        if (chosen.taken) chosen.given = chosen.time;
    }
    const struct timespec times[2] = {ToTimespec(facts.accessed), ToTimespec(facts.modified)};
    if (!chosen.taken && RetryOnEintr([&] { return sys.Futimens(Fd(out), times); }) == 0) chosen.given = facts.modified;
    return Status::Ok();
}

Status ReadFreshFacts(const SysCalls &sys, const std::string &path, SourceFacts &facts, const FileSpot &spot) {
    struct stat info {};
    if (sys.StatFresh(At(path, spot), &info) != 0) return Status::FromErrno(errno, "cannot read the copy");
    FillFacts(info, facts);
    return Status::Ok();
}

Status SetTimesByPath(const SysCalls &sys, const std::string &path, const SystemTime &accessed,
                      const SystemTime &modified, const FileSpot &spot) {
    const struct timespec times[2] = {ToTimespec(accessed), ToTimespec(modified)};
    if (RetryOnEintr([&] { return sys.Utimens(At(path, spot), times); }) != 0)
        return OtherFailure(errno, "cannot set the copy's time");
    return Status::Ok();
}

bool MaySetTimesApart(const SysCalls &sys, const std::string &path) {
    // FUSE, and the kernel's SMB clients (old, CIFS, SMB2), as linux/magic.h names them.
    constexpr std::uint32_t kApart[] = {0x65735546, 0x517B, 0xFF534D42, 0xFE534D42};
    struct statfs info {};
    if (sys.Statfs(path.c_str(), &info) != 0) return false;
    const auto type = static_cast<std::uint32_t>(info.f_type);
    return std::find(std::begin(kApart), std::end(kApart), type) != std::end(kApart);
}

void StartWriteback(const SysCalls &sys, FileRef file) noexcept {
    const int saved = errno;
    sys.StartWriteback(Fd(file));
    errno = saved;
}

Status TruncateTo(const SysCalls &sys, FileRef file, std::uint64_t size) {
    if (sys.TruncateAndSeek(Fd(file), static_cast<off_t>(size)) != 0) return OtherFailure(errno, "cannot write the file");
    return Status::Ok();
}

Status FlushAndClose(const SysCalls &sys, FileRef file) {
    // File systems without the call (EINVAL) keep no cache.
    if (RetryOnEintr([&] { return sys.Fdatasync(Fd(file)); }) != 0 && errno != EINVAL) {
        const Status failed = OtherFailure(errno, "cannot finish the copy");
        CloseQuietly(sys, file);
        return failed;
    }
    // For a file just written the result of close tells whether the data really arrived; a retry
    // after EINTR would be wrong because the descriptor is gone.
    if (sys.Close(Fd(file)) != 0) return OtherFailure(errno, "cannot finish the copy");
    return Status::Ok();
}

void CloseQuietly(const SysCalls &sys, FileRef file) noexcept {
    const int saved = errno;
    sys.Close(Fd(file));
    errno = saved;
}

void RemoveQuietly(const SysCalls &sys, const std::string &path, const FileSpot &spot) noexcept {
    const int saved = errno;
    sys.Unlink(At(path, spot));
    errno = saved;
}

Status Remove(const SysCalls &sys, const std::string &path, bool &busy, const FileSpot &spot) {
    busy = false;
    if (sys.Unlink(At(path, spot)) == 0 || errno == ENOENT) return Status::Ok();
    busy = errno == EBUSY;
    return OtherFailure(errno, "cannot remove the temporary file");
}

void RemoveFolderQuietly(const SysCalls &sys, const std::string &path) noexcept {
    const int saved = errno;
    sys.Rmdir(path.c_str());
    errno = saved;
}

Status MoveWithoutReplace(const SysCalls &sys, const std::string &from, const std::string &to, ClaimRoute &route,
                          const FileSpot &fromSpot, const FileSpot &toSpot) {
    const FileAt source = At(from, fromSpot), target = At(to, toSpot);
    int err = 0;
    if (route == ClaimRoute::NoReplaceRename) {
        if (sys.RenameNoReplace(source, target) == 0) return Status::Ok();
        err = errno;
        if (err == EEXIST) return Taken();
        if (err == EXDEV) return OnOtherVolume();
        if (!NoReplaceRenameUnavailable(err)) return OtherFailure(err, "cannot name the copy");
        route = ClaimRoute::HardLink;
    }
    if (route == ClaimRoute::HardLink) {
        if (sys.Link(source, target) == 0) return Status::Ok();
        err = errno;
        if (err == EEXIST) return Taken();
        if (err == EXDEV) return OnOtherVolume();
        if (!HardLinksUnavailable(err)) return OtherFailure(err, "cannot name the copy");
        route = ClaimRoute::ExclusiveCreate;
    }

    // The exclusive create claims the name, so the rename can only replace our own empty claim.
    FileRef claim = kNoFile;
    if (Status claimed = CreateNew(sys, to, 0600, claim, "cannot name the copy", toSpot); !claimed) return claimed;
    sys.Close(Fd(claim));
    if (sys.Rename(source, target) != 0) {
        err = errno;
        sys.Unlink(target);
        return OtherFailure(err, "cannot name the copy");
    }
    return Status::Ok();
}

std::time_t UnixSeconds(const SystemTime &time) { return static_cast<std::time_t>(time.units); }

bool EntryExists(const SysCalls &sys, const std::string &path) {
    struct stat info {};
    return sys.Lstat(path.c_str(), &info) == 0;
}

// The deepest level first, and its parent only when it is missing: a run makes each new output
// folder with one call, where making every level from the root costs one per level.
Status MakeFolders(const SysCalls &sys, const std::string &path, bool &made) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == kNativeSeparator) folder.pop_back();
    return MakeFolderDeepestFirst(sys, folder, made);
}

Status CheckFoldersCreatable(const SysCalls &sys, const std::string &path) {
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
        if (sys.Lstat(level.c_str(), &info) == 0) return LeadsNowhere(level);
        // The first missing level: making it needs a folder that takes new entries.
        if (sys.Access(deepestExisting.c_str(), W_OK | X_OK) != 0) {
            return OtherFailure(errno, "cannot create the folder " + level);
        }
        return Status::Ok();
    }
    return Status::Ok();
}

Status CheckTakesNewFiles(const SysCalls &sys, const std::string &folder, std::string_view what) {
    struct stat info {};
    if (sys.Stat(folder.c_str(), &info) == 0 && sys.Access(folder.c_str(), W_OK | X_OK) != 0) {
        return OtherFailure(errno, what);
    }
    return Status::Ok();
}

}  // namespace native

std::string SameFileKey(const std::string &path) { return path; }

}  // namespace tarvelin
