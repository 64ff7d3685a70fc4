// The rules of the file utilities, once for every system, over the primitives that each half of
// the platform layer gives (file_primitives.h).
#include "platform/file_ops.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
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
                         OpenFile &out, FolderHandles *folders = nullptr, FileSpot *spot = nullptr,
                         bool mayCutBack = false) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = TemporaryNameIn(folder);
        FileSpot found = Locate(folders, candidate);
        Status made =
            native::CreateNew(sys, candidate, permissions, out.Slot(), "cannot create the copy", found, mayCutBack);
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

bool SameTime(const native::SystemTime &a, const native::SystemTime &b) {
    return a.units == b.units && a.fraction == b.fraction;
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
      keptSourceTime_(other.keptSourceTime_),
      record_(std::exchange(other.record_, nullptr)),
      given_(std::exchange(other.given_, std::nullopt)) {}

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
        record_ = std::exchange(other.record_, nullptr);
        given_ = std::exchange(other.given_, std::nullopt);
    }
    return *this;
}

StagedCopy::~StagedCopy() { Discard(); }

void StagedCopy::Discard() noexcept {
    if (sys_ == nullptr) return;
    // A claimed copy's temporary name is its link's.
    if (!leftLink_.empty()) RemoveTemporary(std::exchange(leftLink_, {}));
    if (open_ != kNoFile) native::CloseQuietly(*sys_, std::exchange(open_, kNoFile));
    if (!temporary_.empty()) RemoveTemporary(temporary_);
    sys_ = nullptr;
    folders_ = nullptr;
    record_ = nullptr;
    temporarySpot_ = {};
    temporary_.clear();
}

// Closed a moment ago, the file may still be held by a file system that lets go of it later (a
// FUSE client of a share closes files after the call returns): such a removal is tried a few times
// more. What still cannot go is put on the record, so that it is said rather than left unseen.
void StagedCopy::RemoveTemporary(const std::string &path) noexcept {
    constexpr int kTries = 6;
    Status removed;
    bool busy = false;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        removed = native::Remove(*sys_, path, busy, temporarySpot_);
        if (removed || !busy || attempt == kTries) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10 << attempt));
    }
    if (removed || record_ == nullptr) return;
    try {
        record_->LeftBehind({path, removed.reason()});
    } catch (...) {
        // Out of memory: the file stays unsaid, as it would have without a record.
    }
}

Status StagedCopy::Flush() {
    if (!IsStaged()) return Status::Failure(ErrorKind::Other, "cannot finish the copy: there is no copy");
    if (open_ == kNoFile) return Status::Ok();
    // On the disk before it gets its final name, so that after a power cut a final name never
    // holds less than the whole message.
    if (Status flushed = native::FlushAndClose(*sys_, std::exchange(open_, kNoFile)); !flushed) return flushed;
    if (record_ != nullptr && given_) KeepGivenTimes();
    return Status::Ok();
}

namespace {

// Whether a time the file system shows is the one given, to the precision it keeps (a share may
// keep whole seconds or microseconds): the server's own time of a close comes later.
bool ShowsTime(const native::SystemTime &shown, const native::SystemTime &given) {
    return shown.units == given.units && shown.fraction <= given.fraction;
}

native::SystemTime Accessed(const auto &given) { return {given.accessed, given.accessedFraction}; }
native::SystemTime Modified(const auto &given) { return {given.modified, given.modifiedFraction}; }

// Waits, at most `most`, until the file at the path no longer shows the time it was given: its
// server has then closed the handle that wrote it, and replaced the time. False when it still
// shows it.
bool AwaitReplacedTime(const SysCalls &sys, const std::string &path, const FileSpot &spot,
                       const native::SystemTime &given, std::chrono::milliseconds most, native::SourceFacts &facts) {
    std::chrono::milliseconds pause{1}, waited{0};
    for (;;) {
        if (!native::ReadFreshFacts(sys, path, facts, spot)) return false;
        if (!ShowsTime(facts.modified, given)) return true;
        if (waited >= most) return false;
        std::this_thread::sleep_for(pause);
        waited += pause;
        pause = std::min({pause * 2, std::chrono::milliseconds(64), std::max(most - waited, std::chrono::milliseconds(1))});
    }
}

}  // namespace

// Where a time given to the open copy may be applied apart from its handle, the first copy on a
// file system shows whether the server replaces it at the close, and from then on each copy there
// waits for that and sets its time once more. Times are worth keeping but not worth losing the
// copy over: nothing here fails it.
void StagedCopy::KeepGivenTimes() {
    // The server replaces the time soon after the close, within a round trip or two; this long it
    // is waited for where it may do so.
    constexpr std::chrono::milliseconds kLearning{100};
    constexpr std::chrono::milliseconds kClosing{1000};
    const std::string folder = FolderFromPath(temporary_);
    TimeRoute route = record_->InFolder(folder);
    if (route == TimeRoute::OnOpenFile) return;
    const native::SystemTime accessed = Accessed(*given_), given = Modified(*given_);
    SourceFacts facts;
    bool read = false;  // facts holds the file as it is now
    if (route == TimeRoute::Unknown) {
        route = TimeRoute::OnOpenFile;
        if (native::MaySetTimesApart(*sys_, temporary_) && native::ReadFreshFacts(*sys_, temporary_, facts, temporarySpot_)) {
            read = true;
            bool learn = false;
            route = record_->OnDevice(facts.device, learn);
            if (learn) {
                route = TimeRoute::OnOpenFile;
                if (!ShowsTime(facts.modified, given) ||
                    AwaitReplacedTime(*sys_, temporary_, temporarySpot_, given, kLearning, facts)) {
                    // Set once more, it must stay, or nothing helps (a file system that rounds times).
                    SourceFacts again;
                    if (native::SetTimesByPath(*sys_, temporary_, accessed, given, temporarySpot_) &&
                        native::ReadFreshFacts(*sys_, temporary_, again, temporarySpot_) &&
                        ShowsTime(again.modified, given))
                        route = TimeRoute::AgainAfterClose;
                }
                record_->KeepOnDevice(facts.device, route);
                record_->KeepInFolder(folder, route);
                return;
            }
        }
        record_->KeepInFolder(folder, route);
        if (route == TimeRoute::OnOpenFile) return;
    }
    if (!read || ShowsTime(facts.modified, given))
        (void)AwaitReplacedTime(*sys_, temporary_, temporarySpot_, given, kClosing, facts);
    (void)native::SetTimesByPath(*sys_, temporary_, accessed, given, temporarySpot_);
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
                                      nullptr, folders_, record_);
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

// Size, modification and change time: what a writer of the message changes, in place or not. The
// change time also tells a rewrite whose writer set the modification time back, or whose clock is
// too coarse to show it.
bool SameState(const SourceFacts &a, const SourceFacts &b) {
    return a.size == b.size && SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

Status ChangedWhileCopied() { return Status::Failure(ErrorKind::Other, "the message changed while it was copied"); }

// Whether the source read from `in` is still as it was when it was opened (`facts`), by its path
// and, where that may name another file, from the open file: a mail server may deliver to or move
// the message meanwhile.
Status StillAsOpened(const SysCalls &sys, const std::string &source, const FileSpot &spot, FileRef in,
                     const SourceFacts &facts, bool &same) {
    SourceFacts byPath;
    if (Status read = native::ReadFactsByPath(sys, source, byPath, spot); !read) return read;
    same = SameState(facts, byPath);
    // The open file is asked too only where the path may name another file in the same state:
    // while it names the file copied, what it tells is what the open file would. Where files
    // cannot be told apart (Windows), another file in exactly that state (size and both times)
    // is not worth two more calls per message, which on a share are round trips.
    if (!same || SameFile(facts, byPath) || !facts.identified) return Status::Ok();
    SourceFacts now;
    if (Status read = native::ReadFacts(sys, in, now); !read) return read;
    same = SameState(facts, now);
    return Status::Ok();
}

}  // namespace

Status StageCopy(const std::string &source, const std::string &folder, StagedCopy &staged, const SysCalls &sys,
                 WorkHooks *hooks, std::optional<std::int64_t> modified, SourceHead *head, FolderHandles *folders,
                 StagingRecord *record) {
    staged = StagedCopy();
    const FileSpot sourceSpot = Locate(folders, source);
    // A copy is kept only when the source is still as it was opened; otherwise it is dropped and
    // made once more, and a second change fails the message.
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
        copy.record_ = record;

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
        bool same = false;
        if (Status checked = StillAsOpened(sys, source, sourceSpot, in.get(), facts, same); !checked) return checked;
        if (same) {
            // Before the copy has a name, so that a named copy never shows another time.
            std::optional<std::int64_t> time = modified;
            if (!time && head != nullptr && head->read && head->chooseTime) time = head->chooseTime(*head);
            native::ChosenTime chosen;
            if (time) chosen.time = native::SystemTimeFromUnix(*time);
            if (Status finished = native::FinishContent(sys, out.get(), facts, chosen); !finished) return finished;
            copy.keptSourceTime_ = chosen.time && !chosen.taken;
            if (chosen.given)
                copy.given_ = StagedCopy::GivenTimes{facts.accessed.units, facts.accessed.fraction, chosen.given->units,
                                         chosen.given->fraction};
            copy.open_ = out.Release();
            staged = std::move(copy);
            return Status::Ok();
        }
        if (attempt == 2) return ChangedWhileCopied();
    }
}

Status ReadSource(const std::string &source, SourceHead &head, const std::function<Status(const SourceHead &)> &headRead,
                  const std::function<Status(std::string_view)> &take, const SysCalls &sys, WorkHooks *hooks,
                  FolderHandles *folders) {
    constexpr std::size_t kPiece = 256 * 1024;
    const FileSpot spot = Locate(folders, source);
    // Checked as a copy is: read once more when it changed meanwhile, failed when it changed again.
    for (int attempt = 1;; ++attempt) {
        head.read = false;
        OpenFile in(sys);
        SourceFacts facts;
        if (Status opened = OpenSource(sys, source, in, facts, spot); !opened) return opened;
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
        bool same = false;
        if (Status checked = StillAsOpened(sys, source, spot, in.get(), facts, same); !checked) return checked;
        if (same) return Status::Ok();
        if (attempt == 2) return ChangedWhileCopied();
    }
}

Status StageNew(const std::string &folder, StagedCopy &staged, const SysCalls &sys, StagingRecord *record) {
    staged = StagedCopy();
    if (folder.find('\0') != std::string::npos) return NoValidPath("cannot create the file");
    StagedCopy file;
    OpenFile out(sys);
    if (Status made = CreateTemporaryIn(sys, folder, 0666, file.temporary_, out, nullptr, nullptr, true); !made)
        return made;
    file.sys_ = &sys;
    file.open_ = out.Release();
    file.record_ = record;
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
    Status finished = native::FinishContent(*sys_, open_, facts, chosen);
    if (chosen.given)
        given_ = GivenTimes{facts.accessed.units, facts.accessed.fraction, chosen.given->units, chosen.given->fraction};
    return finished;
}

void RemoveFile(const std::string &path, const SysCalls &sys) {
    if (UsablePath(path)) native::RemoveQuietly(sys, path);
}

void RemoveEmptyFolder(const std::string &path, const SysCalls &sys) {
    if (UsablePath(path)) native::RemoveFolderQuietly(sys, path);
}

bool SameContent(const std::string &a, const std::string &b, const SysCalls &sys, Status *failure) {
    OpenFile first(sys), second(sys);
    SourceFacts firstFacts, secondFacts;
    Status opened = OpenSource(sys, a, first, firstFacts);
    if (opened) opened = OpenSource(sys, b, second, secondFacts);
    if (failure != nullptr) *failure = opened;
    if (!opened) return false;
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
