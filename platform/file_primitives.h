// The small system calls under the file utilities: file_ops.cpp writes each rule once over these,
// and each half of the platform layer (posix/, windows/) defines them over its SysCalls. Only
// the platform layer includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/claim_route.h"
#include "platform/folder_handles.h"
#include "platform/slice_yield.h"
#include "platform/status.h"
#include "platform/syscalls.h"

namespace tarvelin::native {

// An open file: a descriptor (POSIX) or a handle (Windows); kNoFile when none.
using FileRef = std::intptr_t;
inline constexpr FileRef kNoFile = -1;

// A time as the system keeps it: seconds and nanoseconds since 1970 on POSIX; 100 ns units since
// 1601 on Windows, with no fraction.
struct SystemTime {
    std::int64_t units = 0;
    std::int64_t fraction = 0;
};

// What a copy takes over from its source.
struct SourceFacts {
    bool folder = false;
    bool regular = false;  // has an end to copy up to: no device, pipe or socket
    std::uint64_t size = 0;
    unsigned permissions = 0;  // the mode's permission bits on POSIX
    SystemTime accessed;
    SystemTime modified;
    // When the file's bytes or facts last changed (POSIX st_ctime, Windows ChangeTime), which no
    // program can set back as it can the modification time; 0 where the file system keeps none.
    SystemTime changed;
    // Which file it is (device and inode on POSIX), where the system tells it along.
    bool identified = false;
    std::uint64_t device = 0, fileNumber = 0;
};

// The calls that name a file take where the caller found it (FolderHandles::Locate), to find it
// from its open folder rather than by its whole path; an empty spot means the whole path.

// Opens an existing file read-only, without waiting on a pipe, and reads its facts.
Status OpenForReading(const SysCalls &sys, const std::string &path, FileRef &file, SourceFacts &facts,
                      const FileSpot &spot = {});
// The facts of an open file, read again; and those of the file a path names now.
Status ReadFacts(const SysCalls &sys, FileRef file, SourceFacts &facts);
Status ReadFactsByPath(const SysCalls &sys, const std::string &path, SourceFacts &facts,
                       const FileSpot &spot = {});

// Creates a file that did not exist (hidden on Windows until FinishContent). An existing name gives
// AlreadyExists; every other failure is ErrorKind::Other, reported as "what: reason". A file that
// may be cut back (TruncateTo) is opened for reading too: a FUSE client of an SMB share
// (smbnetfs) cuts a file open for writing only after a time-out of seconds, with an I/O error.
Status CreateNew(const SysCalls &sys, const std::string &path, unsigned permissions, FileRef &file,
                 std::string_view what, const FileSpot &spot = {}, bool mayCutBack = false);

// Up to count bytes into the buffer; got is 0 at the end.
Status ReadSlice(const SysCalls &sys, FileRef file, char *buffer, std::size_t count, std::size_t &got);
// Up to count bytes from data; written is 0 when the disk takes no more.
Status WriteSlice(const SysCalls &sys, FileRef file, const char *data, std::size_t count, std::size_t &written);

// Copies inside the system where it can (POSIX copy_file_range), from both files' offsets.
// complete tells whether the whole source went; otherwise reading and writing carry on from where
// it stopped.
Status CopyInSystem(const SysCalls &sys, FileRef in, FileRef out, const SourceFacts &facts, SliceYield &slices,
                    bool &complete);

// A modification time chosen for a copy in place of its source's; on Windows its creation time too.
struct ChosenTime {
    std::optional<SystemTime> time;
    bool taken = false;  // set by FinishContent when the file system took it
    // Set by FinishContent: the modification time the open file was given (the chosen one or the
    // source's), when the file system took one.
    std::optional<SystemTime> given;
};

SystemTime SystemTimeFromUnix(std::int64_t seconds);

// Gives a complete copy the chosen time, or where there is none or the file system refuses it the
// source's times (and makes it visible on Windows).
Status FinishContent(const SysCalls &sys, FileRef out, const SourceFacts &facts, ChosenTime &chosen);

// The facts of the file a path names, as the file system holds them now: past a cache of its
// client, which may still show what it was told a moment ago.
Status ReadFreshFacts(const SysCalls &sys, const std::string &path, SourceFacts &facts, const FileSpot &spot = {});
// Gives the closed file at the path these times.
Status SetTimesByPath(const SysCalls &sys, const std::string &path, const SystemTime &accessed,
                      const SystemTime &modified, const FileSpot &spot = {});
// Whether the file system may apply a time given to an open file apart from that file's own
// handle, so that the time can be replaced when the file closes (a FUSE or an SMB client).
bool MaySetTimesApart(const SysCalls &sys, const std::string &path);
// Advice only: the disk starts on the file's bytes now, for a file that waits before its flush
// (POSIX sync_file_range; nothing on Windows).
void StartWriteback(const SysCalls &sys, FileRef file) noexcept;

// Cuts an open file back to `size` bytes; writing goes on from there.
Status TruncateTo(const SysCalls &sys, FileRef file, std::uint64_t size);

// Waits until the file is on the disk, then closes it.
Status FlushAndClose(const SysCalls &sys, FileRef file);

// Cleaning up after a failure, which keeps the failure's own error code.
void CloseQuietly(const SysCalls &sys, FileRef file) noexcept;
void RemoveQuietly(const SysCalls &sys, const std::string &path, const FileSpot &spot = {}) noexcept;
// Removes a file; Ok too when it is gone already. `busy` tells a failure that may pass once the
// file system lets go of the file.
Status Remove(const SysCalls &sys, const std::string &path, bool &busy, const FileSpot &spot = {});
// Removes a folder if it is empty; anything else is left as it is.
void RemoveFolderQuietly(const SysCalls &sys, const std::string &path) noexcept;

// Renames a closed file without ever replacing what is there: AlreadyExists when the name is
// taken, and the file stays where it was; OtherVolume when `to` is on another file system. Starts
// with the route given and leaves there the one the file system took (Windows has one). A hard
// link leaves `from` in place too: the caller removes it when it likes.
Status MoveWithoutReplace(const SysCalls &sys, const std::string &from, const std::string &to, ClaimRoute &route,
                          const FileSpot &fromSpot = {}, const FileSpot &toSpot = {});

// Seconds since 1970, as time_t counts them.
std::time_t UnixSeconds(const SystemTime &time);

// Any entry at the path: a file, a folder, a link (even a broken one), something locked.
bool EntryExists(const SysCalls &sys, const std::string &path);
// `made` tells whether the folder itself was made by this call (so it holds nothing yet).
Status MakeFolders(const SysCalls &sys, const std::string &path, bool &made);
Status CheckFoldersCreatable(const SysCalls &sys, const std::string &path);
// Ok unless an existing folder is known to take no new files ("what: reason").
Status CheckTakesNewFiles(const SysCalls &sys, const std::string &folder, std::string_view what);

}  // namespace tarvelin::native
