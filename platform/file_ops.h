// File utilities of the conversion: folder creation, the existence test and the copy.
// Paths are UTF-8 byte strings, passed to the system unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/claim_route.h"
#include "platform/folder_handles.h"
#include "platform/source_head.h"
#include "platform/status.h"
#include "platform/syscalls.h"
#include "platform/staging_record.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// Creates every missing folder along the path (a separator is added when missing, so the path
// always names a folder). Ok when the folder exists afterwards, also when it existed before; with
// `made`, whether this call made the folder itself (so that it holds nothing yet).
Status EnsureFolder(const std::string &path, const SysCalls &sys = RealSysCalls(), bool *made = nullptr);

// True for any existing entry at the path: a file, a folder, a link (even a broken one).
[[nodiscard]] bool FileExist(const std::string &path, const SysCalls &sys = RealSysCalls());

// The path in a form in which two paths of one file compare equal: unchanged on POSIX; in upper
// case on Windows, whose file systems take names alike whatever their case.
std::string SameFileKey(const std::string &path);

// What EnsureFolder would meet, found without creating anything (for a dry run): Ok when the
// folder exists or every missing level could be made; otherwise the failure EnsureFolder would give.
Status CheckFolderCreatable(const std::string &path, const SysCalls &sys = RealSysCalls());

// Ok unless the folder exists and is known to take no new files ("what: reason"). Windows tells
// that only by trying, so there it is always Ok.
Status CheckFolderTakesFiles(const std::string &folder, std::string_view what,
                             const SysCalls &sys = RealSysCalls());

// Whether a copy of the source could be staged in the folder (for a dry run): the source opens as
// a copy would open it and is no folder, device or pipe, and the folder, where it exists, takes
// new files.
Status CheckStaging(const std::string &source, const std::string &folder, const SysCalls &sys = RealSysCalls());

// A complete copy of a message under a hidden temporary name (".tarvelin-<random>.part") in its
// output folder, waiting for its final name. Unless claimed, it is removed when dropped, so a
// failed or stopped copy leaves nothing behind and a final name only ever holds a whole message.
class StagedCopy {
public:
    StagedCopy() = default;
    StagedCopy(StagedCopy &&other) noexcept;
    StagedCopy &operator=(StagedCopy &&other) noexcept;
    StagedCopy(const StagedCopy &) = delete;
    StagedCopy &operator=(const StagedCopy &) = delete;
    ~StagedCopy();

    bool IsStaged() const { return sys_ != nullptr && !temporary_.empty(); }

    // Waits until the copy is on the disk and closes it. Claims do it first when it was not
    // done; doing it for several copies in a row before claiming them costs the disk one
    // journal commit for all of them instead of one each. With the routes the copy was staged
    // with, a time that did not stay on the open copy is set once more.
    Status Flush();
    // Lets the disk start on a copy that waits before its flush; one flushed at once needs it not.
    void StartWriteback();

    // Gives the copy its final name without ever replacing what is there: AlreadyExists when the
    // name is taken (the copy then stays staged for another name). Where the file system refuses
    // a no-replace rename, a hard link does the same, and the temporary name goes when the copy is
    // dropped (LeftToRemove); where it has no hard links, an exclusive create claims the name and
    // the copy is renamed over that claim. With a route, the claim starts with it and leaves the
    // one that worked there. A copy staged on another file system than its name is copied there
    // first.
    Status ClaimAs(const std::string &destination, ClaimRoute *route = nullptr);

    // Gives up the open folder the copy was made in, where the process needs room for open files:
    // its claim then names the temporary file by its whole path. False when it held none.
    bool LetGoOfFolder() { return std::exchange(temporarySpot_, {}).folder != nullptr; }

    // Claimed by a hard link, the temporary name is still there until the copy is dropped: one
    // more call, which a caller in a hurry can leave to another thread.
    bool LeftToRemove() const { return !leftLink_.empty(); }

    // A time was chosen for the copy, and the file system refused it: the copy has the source's.
    bool KeptSourceTime() const { return keptSourceTime_; }

    // Adds bytes at the end of a file still open (one from StageNew, before Flush).
    Status Append(std::string_view bytes);
    // Cuts a file still open back to its first `size` bytes, and Append goes on from there: what
    // was added since is taken back.
    Status TruncateTo(std::uint64_t size);
    // Gives the complete file this modification (and access) time in seconds since 1970, before
    // Flush: a file system that keeps no times is no failure. A file from StageNew is visible on
    // Windows only from here on, like a copy once complete.
    Status SetModified(std::int64_t unixSeconds);

private:
    friend Status StageCopy(const std::string &, const std::string &, StagedCopy &, const SysCalls &,
                            WorkHooks *, std::optional<std::int64_t>, SourceHead *, FolderHandles *, StagingRecord *);
    friend Status StageNew(const std::string &, StagedCopy &, const SysCalls &, StagingRecord *);
    void Discard() noexcept;
    void RemoveTemporary(const std::string &path) noexcept;
    void KeepGivenTimes();

    // The times the open copy was given, as the system keeps them (file_primitives.h).
    struct GivenTimes {
        std::int64_t accessed = 0, accessedFraction = 0;
        std::int64_t modified = 0, modifiedFraction = 0;
    };

    const SysCalls *sys_ = nullptr;
    FolderHandles *folders_ = nullptr;  // the caller's, when it keeps folders open
    FileSpot temporarySpot_;            // where the temporary name was made
    std::string temporary_;
    std::string leftLink_;  // the temporary name of a copy claimed by a hard link
    // The copy's descriptor (POSIX) or handle (Windows) until it is flushed; -1 when closed.
    std::intptr_t open_ = -1;
    bool keptSourceTime_ = false;
    StagingRecord *record_ = nullptr;  // the caller's, for how folders keep times and what stays
    std::optional<GivenTimes> given_;
};

// Copies the source byte for byte into a new temporary file in `folder` (which must exist), with
// the source's times and permissions, and hands it to `staged`, still open: Flush or the claim
// puts it on the disk (StartWriteback lets the disk start meanwhile). With hooks, a large file is copied in slices with a yield after each; a stop request ends the copy with
// ErrorKind::Stopped and no file. With `modified` (seconds since 1970, UTC) the copy gets that
// modification time, on Windows as its creation time too, in place of the source's, unless the
// file system refuses it (KeptSourceTime). With a head, the copy reads the source's first bytes
// into it on the way. With folder handles, the copy and its claim find their files from the open
// folders kept there; with a record, its flush makes sure of its time where the folder needs it,
// and a temporary file that cannot be removed is put there; both must outlive the copy.
Status StageCopy(const std::string &source, const std::string &folder, StagedCopy &staged,
                 const SysCalls &sys = RealSysCalls(), WorkHooks *hooks = nullptr,
                 std::optional<std::int64_t> modified = std::nullopt, SourceHead *head = nullptr,
                 FolderHandles *folders = nullptr, StagingRecord *record = nullptr);

// Reads the source from its start to its end for output that holds its bytes in another form (an
// mbox file): its first bytes into the head (which says when it is complete), handed to `headRead`
// once read, and then all of it, the head first, a piece at a time to `take`; the hooks yield after
// each piece, and a stop ends the read with ErrorKind::Stopped. Refused as StageCopy refuses them:
// a source that is no regular file. Checked as StageCopy checks its source: when the source changed
// meanwhile, it is read once more from its start, and `headRead` is called again (what `take` got
// before is to be dropped); a second change fails it as StageCopy fails.
Status ReadSource(const std::string &source, SourceHead &head, const std::function<Status(const SourceHead &)> &headRead,
                  const std::function<Status(std::string_view piece)> &take, const SysCalls &sys = RealSysCalls(),
                  WorkHooks *hooks = nullptr, FolderHandles *folders = nullptr);

// An empty file under a hidden temporary name in `folder` (which must exist), open for Append:
// for output that is written rather than copied; SetModified completes it, ClaimAs names it.
Status StageNew(const std::string &folder, StagedCopy &staged, const SysCalls &sys = RealSysCalls(),
                StagingRecord *record = nullptr);

// Removes a file where it can: for leftovers, which may be gone already.
void RemoveFile(const std::string &path, const SysCalls &sys = RealSysCalls());
// Removes a folder when it is empty; otherwise, or when it cannot, leaves it.
void RemoveEmptyFolder(const std::string &path, const SysCalls &sys = RealSysCalls());

// True when both are regular files with the same bytes: sizes first, contents only when they
// match, stopping at the first difference. Any failure to read counts as different; `failure`
// gets an open that failed.
[[nodiscard]] bool SameContent(const std::string &a, const std::string &b, const SysCalls &sys = RealSysCalls(),
                               Status *failure = nullptr);

// What every claim of a taken name gives, whoever decides that the name is taken.
Status NameTaken();

}  // namespace tarvelin
