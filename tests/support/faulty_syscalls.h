// The real POSIX calls, with faults that a test switches on: a full disk or a read error after so
// many bytes, short and interrupted calls, no in-kernel copy, a refused open, folder, name, flush,
// close or rename. The copy faults meet the copy of `victim` (or the mbox file it goes into), or
// every copy when it is empty.
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>

#include "platform/posix/syscalls.h"

namespace tarvelin::testing {

class FaultySysCalls : public SysCalls {
public:
    std::string victim;
    int openError = 0;  // opening the victim fails
    int writeError = 0;  // writing the copy fails after writeLimit bytes
    std::size_t writeLimit = 0;
    int readError = 0;  // reading the source fails after readLimit bytes
    std::size_t readLimit = 0;
    bool readOutOfMemory = false;  // ... or memory runs out there (std::bad_alloc), when readError is 0
    int copyRangeError = 0;  // the in-kernel copy fails
    bool copyRangeStopsEarly = false;
    std::size_t maxChunk = SIZE_MAX;  // short reads and writes
    bool interrupts = false;  // every other read, write or copy is interrupted
    int closeError = 0;  // for descriptors opened for writing
    int flushError = 0;
    int renameError = 0;
    int noReplaceError = 0;  // the file system refuses a no-replace rename
    int linkError = 0;  // ... or hard links
    std::string refusedFolder;  // mkdir of exactly this folder fails with folderError
    int folderError = 0;
    std::string refusedCreate;  // creating or naming a file whose path holds this fails with createError
    int createError = 0;
    std::int64_t refusedTime = -1;  // setting this modification time fails with EINVAL, as on FAT
    // What statfs tells of every file system, when not 0 (0x65735546: FUSE).
    long fileSystemType = 0;
    // As an SMB share through smbnetfs: a file written and closed gets the time of its close,
    // whatever time it was given while open.
    bool timesReplacedAtClose = false;
    mutable int timesSetByPath = 0;
    // So many removals of a temporary file fail first with EBUSY, as a FUSE client of a share
    // gives them right after the close.
    mutable int busyRemovals = 0;
    // Copies given a final name before they were flushed: after a power cut such a name could
    // hold less than the whole message.
    mutable int claimedUnflushed = 0;

    int Open(FileAt file, int flags, mode_t mode) const override {
        const std::string_view path = file.path;
        const std::lock_guard lock(books_);
        if ((flags & O_CREAT) != 0 && Refused(path)) return Fail(createError);
        const bool reading = (flags & O_ACCMODE) == O_RDONLY;
        const bool isVictim = reading && !victim.empty() && path == victim;
        if (isVictim && openError != 0) return Fail(openError);
        const int fd = SysCalls::Open(file, flags, mode);
        if (fd < 0) return fd;
        if (isVictim) {
            victimFd_ = fd;
            read_ = written_ = 0;
        }
        if (!reading) writable_.insert(fd);
        if ((flags & O_CREAT) != 0) {
            copies_[fd] = path;
            if (victimFd_ >= 0) victimCopyFd_ = fd;
        }
        return fd;
    }
    int Close(int fd) const override {
        const std::lock_guard lock(books_);
        if (fd == victimFd_) victimFd_ = -1;
        if (fd == victimCopyFd_) victimCopyFd_ = -1;
        copies_.erase(fd);
        const bool wasWritable = writable_.erase(fd) > 0;
        if (wasWritable && timesReplacedAtClose) {
            const struct timespec now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
            SysCalls::Futimens(fd, now);
        }
        const int result = SysCalls::Close(fd);
        if (result == 0 && wasWritable && closeError != 0) return Fail(closeError);
        return result;
    }
    int Fdatasync(int fd) const override {
        const std::lock_guard lock(books_);
        if (flushError != 0 && (victim.empty() || fd == victimCopyFd_)) return Fail(flushError);
        if (const auto copy = copies_.find(fd); copy != copies_.end()) flushed_.insert(copy->second);
        return SysCalls::Fdatasync(fd);
    }
    ssize_t Read(int fd, void *buffer, std::size_t count) const override {
        if (Interrupted()) return Fail(EINTR);
        if (!victim.empty() && fd != victimFd_) return SysCalls::Read(fd, buffer, count);
        count = std::min(count, maxChunk);
        if (readError != 0 || readOutOfMemory) {
            if (read_ >= readLimit && readError == 0) throw std::bad_alloc();
            if (read_ >= readLimit) return Fail(readError);
            count = std::min(count, readLimit - read_);
        }
        const ssize_t got = SysCalls::Read(fd, buffer, count);
        if (got > 0) read_ += static_cast<std::size_t>(got);
        return got;
    }
    ssize_t Write(int fd, const void *buffer, std::size_t count) const override {
        if (Interrupted()) return Fail(EINTR);
        if (!victim.empty() && victimFd_ < 0) return SysCalls::Write(fd, buffer, count);
        if (!victim.empty()) NoteVictimCopy(fd);
        count = WriteAllowance(count);
        if (count == 0) return Fail(writeError);
        return Written(SysCalls::Write(fd, buffer, count));
    }
    ssize_t CopyFileRange(int inFd, int outFd, std::size_t count) const override {
        if (Interrupted()) return Fail(EINTR);
        if (copyRangeError != 0) return Fail(copyRangeError);
        if (!victim.empty() && inFd != victimFd_) return SysCalls::CopyFileRange(inFd, outFd, count);
        if (readError != 0 || readOutOfMemory) return Fail(EXDEV);  // so that the read loop meets the read fault
        if (copyRangeStopsEarly && written_ > 0) return 0;
        count = WriteAllowance(count);
        if (count == 0) return Fail(writeError);
        return Written(SysCalls::CopyFileRange(inFd, outFd, count));
    }
    int Futimens(int fd, const struct timespec times[2]) const override {
        if (times[1].tv_sec == refusedTime) return Fail(EINVAL);
        return SysCalls::Futimens(fd, times);
    }
    int Utimens(FileAt file, const struct timespec times[2]) const override {
        ++timesSetByPath;
        return SysCalls::Utimens(file, times);
    }
    int Statfs(const char *path, struct statfs *result) const override {
        const int got = SysCalls::Statfs(path, result);
        if (got == 0 && fileSystemType != 0) result->f_type = fileSystemType;
        return got;
    }
    int Unlink(FileAt file) const override {
        {
            const std::lock_guard lock(books_);
            if (busyRemovals > 0 && std::string_view(file.path).find(".tarvelin-") != std::string_view::npos) {
                --busyRemovals;
                return Fail(EBUSY);
            }
        }
        return SysCalls::Unlink(file);
    }
    int Mkdir(const char *path, mode_t mode) const override {
        if (path == refusedFolder) return Fail(folderError);
        return SysCalls::Mkdir(path, mode);
    }
    int Rename(FileAt from, FileAt to) const override {
        return renameError != 0 ? Fail(renameError) : SysCalls::Rename(from, to);
    }
    // The copy gets its final name by a rename (or a link), which creates that name.
    int RenameNoReplace(FileAt from, FileAt to) const override {
        const std::lock_guard lock(books_);
        if (flushed_.count(from.path) == 0) ++claimedUnflushed;
        if (noReplaceError != 0) return Fail(noReplaceError);
        return Refused(to.path) ? Fail(createError) : SysCalls::RenameNoReplace(from, to);
    }
    int Link(FileAt from, FileAt to) const override {
        if (linkError != 0) return Fail(linkError);
        return Refused(to.path) ? Fail(createError) : SysCalls::Link(from, to);
    }

private:
    bool Refused(std::string_view path) const {
        return !refusedCreate.empty() && path.find(refusedCreate) != std::string_view::npos;
    }
    // A file made before the victim was opened (an mbox file) is its copy once its bytes go there.
    void NoteVictimCopy(int fd) const {
        const std::lock_guard lock(books_);
        if (victimFd_ >= 0) victimCopyFd_ = fd;
    }
    static int Fail(int err) {
        errno = err;
        return -1;
    }
    bool Interrupted() const { return interrupts && (interruptToggle_ = !interruptToggle_); }
    std::size_t WriteAllowance(std::size_t count) const {
        count = std::min(count, maxChunk);
        if (writeError != 0) count = written_ >= writeLimit ? 0 : std::min(count, writeLimit - written_);
        return count;
    }
    ssize_t Written(ssize_t result) const {
        if (result > 0) written_ += static_cast<std::size_t>(result);
        return result;
    }

    // The books of open and flushed files, kept from the workers of a parallel run at once.
    mutable std::mutex books_;
    mutable int victimFd_ = -1;
    mutable int victimCopyFd_ = -1;
    mutable std::set<int> writable_;
    mutable std::size_t read_ = 0;
    mutable std::size_t written_ = 0;
    mutable bool interruptToggle_ = false;
    mutable std::map<int, std::string> copies_;  // descriptor of each file created -> its path
    mutable std::set<std::string> flushed_;
};

}  // namespace tarvelin::testing
