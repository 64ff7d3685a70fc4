// The rules of the file utilities, once for every system, over the primitives that each half of
// the platform layer gives (file_primitives.h).
#include "platform/file_ops.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/file_primitives.h"
#include "platform/path_split.h"
#include "platform/temporary_name.h"

namespace tarvelin {
namespace {

using native::FileRef;
using native::kNoFile;
using native::SourceFacts;

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kTemporaryNameAttempts = 100;

// A string with a NUL inside would reach the system cut short and name another file.
bool UsablePath(const std::string &path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

Status NoValidPath(const char *what) {
    return Status::Failure(ErrorKind::Other, std::string(what) + ": no valid path");
}

// Owns an open file through the seam; the copy closes its file itself, to learn whether that worked.
class OpenFile {
public:
    explicit OpenFile(const SysCalls &sys) : sys_(sys) {}
    OpenFile(const SysCalls &sys, FileRef file) : sys_(sys), file_(file) {}
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile() {
        if (file_ != kNoFile) native::CloseQuietly(sys_, file_);
    }

    FileRef get() const { return file_; }
    FileRef &Slot() { return file_; }
    FileRef Release() { return std::exchange(file_, kNoFile); }

private:
    const SysCalls &sys_;
    FileRef file_ = kNoFile;
};

// Opened as a copy reads it, and refused unless it is a regular file: a device or a pipe has no
// end to copy up to.
FileSpot Locate(FolderHandles *folders, const std::string &path) {
    return folders != nullptr ? folders->Locate(path) : FileSpot{};
}

Status OpenSource(const SysCalls &sys, const std::string &source, OpenFile &in, SourceFacts &facts,
                  const FileSpot &spot = {}) {
    if (!UsablePath(source)) return NoValidPath("cannot open the message");
    if (Status opened = native::OpenForReading(sys, source, in.Slot(), facts, spot); !opened) return opened;
    if (facts.folder) return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    if (!facts.regular) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    }
    return Status::Ok();
}

Status CreateTemporaryIn(const SysCalls &sys, const std::string &folder, unsigned permissions, std::string &path,
                         OpenFile &out, FolderHandles *folders = nullptr, FileSpot *spot = nullptr) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = TemporaryNameIn(folder);
        FileSpot found = Locate(folders, candidate);
        Status made = native::CreateNew(sys, candidate, permissions, out.Slot(), "cannot create the copy", found);
        if (made) {
            path = std::move(candidate);
            if (spot != nullptr) *spot = std::move(found);
            return Status::Ok();
        }
        // The final name is not involved yet, so a taken name must not read as AlreadyExists.
        if (made.kind() != ErrorKind::AlreadyExists) return made;
    }
    return Status::Failure(ErrorKind::Other, "cannot create the copy: no free temporary name");
}

Status WriteAll(const SysCalls &sys, FileRef out, const char *data, std::size_t size) {
    while (size > 0) {
        std::size_t written = 0;
        if (Status wrote = native::WriteSlice(sys, out, data, size, written); !wrote) return wrote;
        if (written == 0) {
            return Status::Failure(ErrorKind::Other, "cannot write the copy: the disk takes no more bytes");
        }
        data += written;
        size -= written;
    }
    return Status::Ok();
}

Status CopyBytes(const SysCalls &sys, FileRef in, FileRef out, const SourceFacts &facts, SliceYield &slices) {
    bool complete = false;
    if (Status copied = native::CopyInSystem(sys, in, out, facts, slices, complete); !copied || complete) {
        return copied;
    }
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        std::size_t got = 0;
        if (Status read = native::ReadSlice(sys, in, buffer.get(), kBufferSize, got); !read) return read;
        if (got == 0) return Status::Ok();
        if (Status written = WriteAll(sys, out, buffer.get(), got); !written) return written;
        if (!slices.Moved(got)) return Status::Stopped();
    }
}

// Fills the buffer from the file; false on a read error or when the file ends first.
bool ReadExactly(const SysCalls &sys, FileRef file, char *buffer, std::size_t count) {
    for (std::size_t filled = 0; filled < count;) {
        std::size_t more = 0;
        if (!native::ReadSlice(sys, file, buffer + filled, count - filled, more) || more == 0) return false;
        filled += more;
    }
    return true;
}

}  // namespace

Status NameTaken() { return Status::Failure(ErrorKind::AlreadyExists, "cannot name the copy: the name is taken"); }

Status EnsureFolder(const std::string &path, const SysCalls &sys, bool *made) {
    bool madeHere = false;
    if (made != nullptr) *made = false;
    if (!UsablePath(path)) return NoValidPath("cannot create the folder");
    Status status = native::MakeFolders(sys, path, madeHere);
    if (made != nullptr) *made = status && madeHere;
    return status;
}

bool FileExist(const std::string &path, const SysCalls &sys) {
    return UsablePath(path) && native::EntryExists(sys, path);
}

Status CheckFolderCreatable(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) return NoValidPath("cannot create the folder");
    return native::CheckFoldersCreatable(sys, path);
}

Status CheckFolderTakesFiles(const std::string &folder, std::string_view what, const SysCalls &sys) {
    return native::CheckTakesNewFiles(sys, folder, what);
}

Status CheckStaging(const std::string &source, const std::string &folder, const SysCalls &sys) {
    OpenFile in(sys);
    SourceFacts facts;
    if (Status usable = OpenSource(sys, source, in, facts); !usable) return usable;
    return native::CheckTakesNewFiles(sys, folder, "cannot create the copy");
}

StagedCopy::StagedCopy(StagedCopy &&other) noexcept
    : sys_(std::exchange(other.sys_, nullptr)),
      folders_(std::exchange(other.folders_, nullptr)),
      temporarySpot_(std::exchange(other.temporarySpot_, {})),
      temporary_(std::exchange(other.temporary_, {})),
      leftLink_(std::exchange(other.leftLink_, {})),
      open_(std::exchange(other.open_, kNoFile)),
      keptSourceTime_(other.keptSourceTime_) {}

StagedCopy &StagedCopy::operator=(StagedCopy &&other) noexcept {
    if (this != &other) {
        Discard();
        sys_ = std::exchange(other.sys_, nullptr);
        folders_ = std::exchange(other.folders_, nullptr);
        temporarySpot_ = std::exchange(other.temporarySpot_, {});
        temporary_ = std::exchange(other.temporary_, {});
        leftLink_ = std::exchange(other.leftLink_, {});
        open_ = std::exchange(other.open_, kNoFile);
        keptSourceTime_ = other.keptSourceTime_;
    }
    return *this;
}

StagedCopy::~StagedCopy() { Discard(); }

void StagedCopy::Discard() noexcept {
    if (sys_ == nullptr) return;
    // A claimed copy's temporary name is its link's.
    if (!leftLink_.empty()) native::RemoveQuietly(*sys_, std::exchange(leftLink_, {}), temporarySpot_);
    if (open_ != kNoFile) native::CloseQuietly(*sys_, std::exchange(open_, kNoFile));
    if (!temporary_.empty()) native::RemoveQuietly(*sys_, temporary_, temporarySpot_);
    sys_ = nullptr;
    folders_ = nullptr;
    temporarySpot_ = {};
    temporary_.clear();
}

Status StagedCopy::Flush() {
    if (!IsStaged()) return Status::Failure(ErrorKind::Other, "cannot finish the copy: there is no copy");
    if (open_ == kNoFile) return Status::Ok();
    // On the disk before it gets its final name, so that after a power cut a final name never
    // holds less than the whole message.
    return native::FlushAndClose(*sys_, std::exchange(open_, kNoFile));
}

void StagedCopy::StartWriteback() {
    if (IsStaged() && open_ != kNoFile) native::StartWriteback(*sys_, open_);
}

Status StagedCopy::ClaimAs(const std::string &destination, ClaimRoute *route) {
    if (!IsStaged()) return Status::Failure(ErrorKind::Other, "cannot name the copy: there is no copy");
    if (Status flushed = Flush(); !flushed) return flushed;
    if (!UsablePath(destination)) return NoValidPath("cannot name the copy");
    ClaimRoute fresh = ClaimRoute::NoReplaceRename;
    ClaimRoute &taken = route != nullptr ? *route : fresh;
    const FileSpot destinationSpot = Locate(folders_, destination);
    Status named = native::MoveWithoutReplace(*sys_, temporary_, destination, taken, temporarySpot_, destinationSpot);
    if (named.kind() == ErrorKind::OtherVolume) {
        // Staged away from its folder (where claims are quicker), on a file system of its own.
        StagedCopy near;
        if (Status copied = StageCopy(temporary_, FolderFromPath(destination), near, *sys_, nullptr, std::nullopt,
                                      nullptr, folders_);
            !copied)
            return copied;
        near.keptSourceTime_ = keptSourceTime_;
        *this = std::move(near);
        if (Status flushed = Flush(); !flushed) return flushed;
        named = native::MoveWithoutReplace(*sys_, temporary_, destination, taken, temporarySpot_, destinationSpot);
    }
    if (named.kind() == ErrorKind::AlreadyExists) return NameTaken();
    if (named) {
        if (taken == ClaimRoute::HardLink) {
            leftLink_ = std::move(temporary_);
        } else {
            sys_ = nullptr;
            temporarySpot_ = {};
        }
        temporary_.clear();
    }
    return named;
}

namespace {

ReadSlice SliceReader(const SysCalls &sys, FileRef in) {
    return [&sys, in](char *buffer, std::size_t count, std::size_t &got) {
        return native::ReadSlice(sys, in, buffer, count, got);
    };
}

// Reads the head of the open source, handing each slice on to `took` when given.
Status ReadOpenHead(const SysCalls &sys, FileRef in, const SourceFacts &facts, SourceHead &head,
                    const std::function<Status(std::string_view)> &took = {}) {
    if (Status read = ReadHead(head, SliceReader(sys, in), took); !read) return read;
    head.modified = native::UnixSeconds(facts.modified);
    head.size = facts.size;
    head.read = true;
    return Status::Ok();
}

// Reads the head up to where it is complete and writes it to the copy, whose bytes then carry on
// from there.
Status CopyHead(const SysCalls &sys, FileRef in, FileRef out, const SourceFacts &facts, SourceHead &head) {
    return ReadOpenHead(sys, in, facts, head,
                        [&](std::string_view slice) { return WriteAll(sys, out, slice.data(), slice.size()); });
}

bool SameFile(const SourceFacts &a, const SourceFacts &b) {
    return a.identified && b.identified && a.device == b.device && a.fileNumber == b.fileNumber;
}

// Size and modification time: what a writer of the message changes, in place or not.
bool SameState(const SourceFacts &a, const SourceFacts &b) {
    return a.size == b.size && a.modified.units == b.modified.units && a.modified.fraction == b.modified.fraction;
}

}  // namespace

Status StageCopy(const std::string &source, const std::string &folder, StagedCopy &staged, const SysCalls &sys,
                 WorkHooks *hooks, std::optional<std::int64_t> modified, SourceHead *head, FolderHandles *folders) {
    staged = StagedCopy();
    const FileSpot sourceSpot = Locate(folders, source);
    // A mail server may deliver to or move the message meanwhile. A copy is kept only when the
    // source's size and time, from the open file and by its path, are those it had when it was
    // opened; otherwise it is dropped and made once more, and a second change fails the message.
    for (int attempt = 1;; ++attempt) {
        OpenFile in(sys);
        SourceFacts facts;
        if (Status opened = OpenSource(sys, source, in, facts, sourceSpot); !opened) return opened;
        if (folder.find('\0') != std::string::npos) return NoValidPath("cannot create the copy");

        StagedCopy copy;
        OpenFile out(sys);
        if (Status made = CreateTemporaryIn(sys, folder, facts.permissions, copy.temporary_, out, folders,
                                            &copy.temporarySpot_);
            !made)
            return made;
        copy.sys_ = &sys;
        copy.folders_ = folders;

        SourceFacts rest = facts;
        bool whole = false;  // the head was the whole message
        if (head != nullptr) {
            head->read = false;
            if (Status copied = CopyHead(sys, in.get(), out.get(), facts, *head); !copied) {
                head->read = false;
                return copied;
            }
            rest.size = facts.size > head->bytes.size() ? facts.size - head->bytes.size() : 0;
            // No read to find the end, which on a share is one more round trip: a source that
            // grows meanwhile fails the check below.
            whole = facts.size > 0 && head->bytes.size() == facts.size;
        }
        SliceYield slices(hooks);
        if (Status copied = whole ? Status::Ok() : CopyBytes(sys, in.get(), out.get(), rest, slices); !copied)
            return copied;
        SourceFacts now, byPath;
        if (Status read = native::ReadFactsByPath(sys, source, byPath, sourceSpot); !read) return read;
        // While the path names the file copied, what it tells is what the open file would: one
        // call less, which on a share is a round trip.
        if (SameFile(facts, byPath)) {
            now = byPath;
        } else if (Status read = native::ReadFacts(sys, in.get(), now); !read) {
            return read;
        }
        if (SameState(facts, now) && SameState(facts, byPath)) {
            // Before the copy has a name, so that a named copy never shows another time.
            std::optional<std::int64_t> time = modified;
            if (!time && head != nullptr && head->read && head->chooseTime) time = head->chooseTime(*head);
            native::ChosenTime chosen;
            if (time) chosen.time = native::SystemTimeFromUnix(*time);
            if (Status finished = native::FinishContent(sys, out.get(), facts, chosen); !finished) return finished;
            copy.keptSourceTime_ = chosen.time && !chosen.taken;
            copy.open_ = out.Release();
            staged = std::move(copy);
            return Status::Ok();
        }
        if (attempt == 2) return Status::Failure(ErrorKind::Other, "the message changed while it was copied");
    }
}

Status ReadSource(const std::string &source, SourceHead &head, const std::function<Status(const SourceHead &)> &headRead,
                  const std::function<Status(std::string_view)> &take, const SysCalls &sys, WorkHooks *hooks,
                  FolderHandles *folders) {
    constexpr std::size_t kPiece = 256 * 1024;
    head.read = false;
    OpenFile in(sys);
    SourceFacts facts;
    if (Status opened = OpenSource(sys, source, in, facts, Locate(folders, source)); !opened) return opened;
    if (Status read = ReadOpenHead(sys, in.get(), facts, head); !read) return read;
    if (Status ready = headRead(head); !ready) return ready;
    std::string piece = std::move(head.bytes);
    const ReadSlice read = SliceReader(sys, in.get());
    while (!piece.empty()) {
        if (Status taken = take(piece); !taken) return taken;
        if (hooks != nullptr && hooks->YieldAndCheckStop()) return Status::Stopped();
        piece.resize(kPiece);
        std::size_t got = 0;
        if (Status more = read(piece.data(), piece.size(), got); !more) return more;
        piece.resize(got);
    }
    return Status::Ok();
}

Status StageNew(const std::string &folder, StagedCopy &staged, const SysCalls &sys) {
    staged = StagedCopy();
    if (folder.find('\0') != std::string::npos) return NoValidPath("cannot create the file");
    StagedCopy file;
    OpenFile out(sys);
    if (Status made = CreateTemporaryIn(sys, folder, 0666, file.temporary_, out); !made) return made;
    file.sys_ = &sys;
    file.open_ = out.Release();
    staged = std::move(file);
    return Status::Ok();
}

Status StagedCopy::Append(std::string_view bytes) {
    if (!IsStaged() || open_ == kNoFile) return Status::Failure(ErrorKind::Other, "cannot write the file: it is not open");
    return WriteAll(*sys_, open_, bytes.data(), bytes.size());
}

Status StagedCopy::TruncateTo(std::uint64_t size) {
    if (!IsStaged() || open_ == kNoFile) return Status::Failure(ErrorKind::Other, "cannot write the file: it is not open");
    return native::TruncateTo(*sys_, open_, size);
}

Status StagedCopy::SetModified(std::int64_t unixSeconds) {
    if (!IsStaged() || open_ == kNoFile) {
        return Status::Failure(ErrorKind::Other, "cannot set the time: the file is not open");
    }
    SourceFacts facts;
    facts.accessed = facts.modified = native::SystemTimeFromUnix(unixSeconds);
    native::ChosenTime chosen;
    chosen.time = facts.modified;
    return native::FinishContent(*sys_, open_, facts, chosen);
}

void RemoveFile(const std::string &path, const SysCalls &sys) {
    if (UsablePath(path)) native::RemoveQuietly(sys, path);
}

void RemoveEmptyFolder(const std::string &path, const SysCalls &sys) {
    if (UsablePath(path)) native::RemoveFolderQuietly(sys, path);
}

bool SameContent(const std::string &a, const std::string &b, const SysCalls &sys) {
    OpenFile first(sys), second(sys);
    SourceFacts firstFacts, secondFacts;
    if (!OpenSource(sys, a, first, firstFacts) || !OpenSource(sys, b, second, secondFacts)) return false;
    if (firstFacts.size != secondFacts.size) return false;
    const auto firstBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    const auto secondBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        std::size_t got = 0;
        if (!native::ReadSlice(sys, first.get(), firstBuffer.get(), kBufferSize, got)) return false;
        if (got == 0) {
            // The second must end here too.
            char extra = 0;
            std::size_t more = 0;
            return native::ReadSlice(sys, second.get(), &extra, 1, more) && more == 0;
        }
        if (!ReadExactly(sys, second.get(), secondBuffer.get(), got)) return false;
        if (std::memcmp(firstBuffer.get(), secondBuffer.get(), got) != 0) return false;
    }
}

}  // namespace tarvelin
