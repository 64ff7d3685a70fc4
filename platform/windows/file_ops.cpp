// The file primitives and the folder utilities over the wide Win32 calls. Paths arrive as UTF-8
// and reach the system in the \\?\ form (see wide_text.h).
#include "platform/file_ops.h"

#include <windows.h>
// The header defines a macro named like WorkHooks::Yield.
#undef Yield

#include <climits>
#include <cstdint>
#include <utility>

#include "platform/file_primitives.h"
#include "platform/windows/status.h"
#include "platform/windows/syscalls.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Status LastError(std::string_view what) { return StatusFromWin32(::GetLastError(), what); }

// A failure whose "exists" or "not found" says nothing about the final name; only a lack of
// handles keeps its kind, for the caller that waits for others to close.
Status OtherFailure(DWORD err, std::string_view what) {
    const bool tooMany = err == ERROR_TOO_MANY_OPEN_FILES;
    return Status::Failure(tooMany ? ErrorKind::TooManyOpenFiles : ErrorKind::Other,
                           StatusFromWin32(err, what).reason());
}

Status Taken() { return Status::Failure(ErrorKind::AlreadyExists, "the name is taken"); }

void *Handle(native::FileRef file) { return reinterpret_cast<void *>(file); }

DWORD Units(std::size_t count) { return count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count); }

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool NotFound(DWORD err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
           err == ERROR_BAD_NETPATH || err == ERROR_BAD_NET_NAME || err == ERROR_INVALID_DRIVE;
}

// The length of the part no folder can be made in: \\?\C:\ or \\?\UNC\server\share\.
std::size_t VolumeRootLength(const std::wstring &path) {
    if (!path.starts_with(LR"(\\?\UNC\)")) return std::min<std::size_t>(path.size(), 7);
    std::size_t end = 8;
    for (int part = 0; part < 2 && end != std::wstring::npos; ++part) {
        end = path.find(L'\\', end);
        if (end != std::wstring::npos) ++end;
    }
    return end == std::wstring::npos ? path.size() : end;
}

// The folder in the \\?\ form without trailing separators.
std::wstring FolderPath(const std::string &path) {
    std::wstring folder = Win32Path(path);
    while (folder.size() > VolumeRootLength(folder) && folder.back() == L'\\') folder.pop_back();
    return folder;
}

// The deepest level first, and its parent only when it is missing: a run makes each new output
// folder with one call, where making every level from the root costs one per level.
Status MakeFolderDeepestFirst(const SysCalls &sys, const std::wstring &level, std::size_t root, bool &made) {
    if (sys.MakeFolder(level.c_str())) {
        made = true;
        return Status::Ok();
    }
    DWORD err = ::GetLastError();
    if (err == ERROR_PATH_NOT_FOUND) {
        const std::size_t cut = level.find_last_of(L'\\');
        if (cut != std::wstring::npos && cut > root) {
            bool parentMade = false;
            if (Status parent = MakeFolderDeepestFirst(sys, level.substr(0, cut), root, parentMade); !parent)
                return parent;
            if (sys.MakeFolder(level.c_str())) {
                made = true;
                return Status::Ok();
            }
            err = ::GetLastError();
        }
    }
    // Already there covers another process making the folder meanwhile; what is there decides.
    const DWORD attributes = sys.Attributes(level.c_str());
    if (IsFolder(attributes)) return Status::Ok();
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder " + Utf8FromWin32Path(level) +
                                                     ": a file of that name is in the way");
    }
    return OtherFailure(err, "cannot create the folder " + Utf8FromWin32Path(level));
}

}  // namespace

namespace native {

// Backup semantics let a folder open, so that it can be named as what it is.
Status OpenForReading(const SysCalls &sys, const std::string &path, FileRef &file, SourceFacts &facts,
                      const FileSpot &) {
    void *const handle = sys.Open(Win32Path(path).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == nullptr) return LastError("cannot open the message");
    file = reinterpret_cast<FileRef>(handle);
    return ReadFacts(sys, file, facts);
}

// What the file's basic and standard information give.
Status ReadFacts(const SysCalls &sys, FileRef file, SourceFacts &facts) {
    FileFacts read;
    if (!sys.Facts(Handle(file), &read)) return OtherFailure(::GetLastError(), "cannot read the message");
    facts.folder = (read.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.regular = read.type == FILE_TYPE_DISK;
    facts.size = read.size;
    facts.accessed = {static_cast<std::int64_t>(read.times.lastAccess), 0};
    facts.modified = {static_cast<std::int64_t>(read.times.lastWrite), 0};
    facts.changed = {static_cast<std::int64_t>(read.times.change), 0};
    return Status::Ok();
}

// Through a handle that reads attributes only, which a server holding the message without
// sharing still grants.
Status ReadFactsByPath(const SysCalls &sys, const std::string &path, SourceFacts &facts, const FileSpot &) {
    void *const handle =
        sys.Open(Win32Path(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == nullptr) return LastError("cannot read the message");
    const Status read = ReadFacts(sys, reinterpret_cast<FileRef>(handle), facts);
    sys.Close(handle);
    return read;
}

// Created hidden; FinishContent makes it visible once complete.
Status CreateNew(const SysCalls &sys, const std::string &path, unsigned, FileRef &file, std::string_view what,
                 const FileSpot &, bool) {
    void *const handle = sys.Open(Win32Path(path).c_str(), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
    if (handle != nullptr) {
        file = reinterpret_cast<FileRef>(handle);
        return Status::Ok();
    }
    const DWORD err = ::GetLastError();
    return err == ERROR_FILE_EXISTS ? Taken() : OtherFailure(err, what);
}

Status ReadSlice(const SysCalls &sys, FileRef file, char *buffer, std::size_t count, std::size_t &got) {
    DWORD read = 0;
    if (!sys.Read(Handle(file), buffer, Units(count), &read)) return LastError("cannot read the message");
    got = read;
    return Status::Ok();
}

Status WriteSlice(const SysCalls &sys, FileRef file, const char *data, std::size_t count, std::size_t &written) {
    DWORD wrote = 0;
    if (!sys.Write(Handle(file), data, Units(count), &wrote)) return LastError("cannot write the copy");
    written = wrote;
    return Status::Ok();
}

Status CopyInSystem(const SysCalls &, FileRef, FileRef, const SourceFacts &, SliceYield &, bool &complete) {
    complete = false;
    return Status::Ok();
}

// Visible from here on, with the message's times; the times are worth keeping but not worth
// losing the copy over. Read-only is not taken over: a read-only temporary could not be removed.
SystemTime SystemTimeFromUnix(std::int64_t seconds) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    return {(seconds + kSecondsFrom1601To1970) * 10000000, 0};
}

// A chosen time is the creation time too: Explorer and backup tools show and compare that one.
Status FinishContent(const SysCalls &sys, FileRef out, const SourceFacts &facts, ChosenTime &chosen) {
    const auto accessed = static_cast<std::uint64_t>(facts.accessed.units);
    if (chosen.time) {
        const auto units = static_cast<std::uint64_t>(chosen.time->units);
        chosen.taken = sys.SetBasics(Handle(out), FileTimes{units, accessed, units}, FILE_ATTRIBUTE_NORMAL);
        if (chosen.taken) chosen.given = chosen.time;
    }
    if (chosen.taken) return Status::Ok();
    const FileTimes times{0, accessed, static_cast<std::uint64_t>(facts.modified.units)};
    if (sys.SetBasics(Handle(out), times, FILE_ATTRIBUTE_NORMAL)) {
        chosen.given = facts.modified;
    } else if (!sys.SetBasics(Handle(out), FileTimes{}, FILE_ATTRIBUTE_NORMAL)) {
        return OtherFailure(::GetLastError(), "cannot finish the copy");
    }
    return Status::Ok();
}

Status ReadFreshFacts(const SysCalls &sys, const std::string &path, SourceFacts &facts, const FileSpot &spot) {
    return ReadFactsByPath(sys, path, facts, spot);
}

Status SetTimesByPath(const SysCalls &sys, const std::string &path, const SystemTime &accessed,
                      const SystemTime &modified, const FileSpot &) {
    void *const handle =
        sys.Open(Win32Path(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == nullptr) return OtherFailure(::GetLastError(), "cannot set the copy's time");
    const FileTimes times{0, static_cast<std::uint64_t>(accessed.units), static_cast<std::uint64_t>(modified.units)};
    const bool set = sys.SetBasics(handle, times, 0);
    const DWORD err = ::GetLastError();
    sys.Close(handle);
    return set ? Status::Ok() : OtherFailure(err, "cannot set the copy's time");
}

// Windows' own clients set a time on the handle that wrote the file, which keeps it.
bool MaySetTimesApart(const SysCalls &, const std::string &) { return false; }

// Windows writes a closed file's bytes on its own; there is nothing to start.
void StartWriteback(const SysCalls &, FileRef) noexcept {}

Status TruncateTo(const SysCalls &sys, FileRef file, std::uint64_t size) {
    if (!sys.TruncateAndSeek(Handle(file), size)) return OtherFailure(::GetLastError(), "cannot write the file");
    return Status::Ok();
}

Status FlushAndClose(const SysCalls &sys, FileRef file) {
    if (!sys.Flush(Handle(file))) {
        const Status failed = OtherFailure(::GetLastError(), "cannot finish the copy");
        CloseQuietly(sys, file);
        return failed;
    }
    if (!sys.Close(Handle(file))) return OtherFailure(::GetLastError(), "cannot finish the copy");
    return Status::Ok();
}

void CloseQuietly(const SysCalls &sys, FileRef file) noexcept {
    const DWORD saved = ::GetLastError();
    sys.Close(Handle(file));
    ::SetLastError(saved);
}

void RemoveQuietly(const SysCalls &sys, const std::string &path, const FileSpot &) noexcept {
    const DWORD saved = ::GetLastError();
    sys.Remove(Win32Path(path).c_str());
    ::SetLastError(saved);
}

// A share may take the delete and keep the file while something still holds it (Wine over a FUSE
// client, which unlinks at the close and hears nothing of a refusal): only a file that is gone is
// removed.
Status Remove(const SysCalls &sys, const std::string &path, bool &busy, const FileSpot &) {
    busy = false;
    const std::wstring wide = Win32Path(path);
    if (!sys.Remove(wide.c_str())) {
        const DWORD err = ::GetLastError();
        if (NotFound(err)) return Status::Ok();
        busy = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION || err == ERROR_ACCESS_DENIED;
        return OtherFailure(err, "cannot remove the temporary file");
    }
    if (sys.Attributes(wide.c_str()) == INVALID_FILE_ATTRIBUTES && NotFound(::GetLastError())) return Status::Ok();
    busy = true;
    return Status::Failure(ErrorKind::Other, "cannot remove the temporary file: the file is in use by another program");
}

void RemoveFolderQuietly(const SysCalls &sys, const std::string &path) noexcept {
    const DWORD saved = ::GetLastError();
    sys.RemoveFolder(Win32Path(path).c_str());
    ::SetLastError(saved);
}

// Without MOVEFILE_REPLACE_EXISTING the rename never replaces a file.
Status MoveWithoutReplace(const SysCalls &sys, const std::string &from, const std::string &to, ClaimRoute &,
                          const FileSpot &, const FileSpot &) {
    if (sys.Move(Win32Path(from).c_str(), Win32Path(to).c_str(), 0)) return Status::Ok();
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return Taken();
    if (err == ERROR_NOT_SAME_DEVICE) {
        return Status::Failure(ErrorKind::OtherVolume, "cannot put the copy in place: its folder is on another volume");
    }
    return OtherFailure(err, "cannot put the copy in place");
}

// FILETIME counts 100 ns units from 1601; time_t seconds from 1970.
std::time_t UnixSeconds(const SystemTime &time) {
    constexpr std::int64_t kUnitsTo1970 = 116444736000000000LL;
    return time.units < kUnitsTo1970 ? 0 : static_cast<std::time_t>((time.units - kUnitsTo1970) / 10000000LL);
}

bool EntryExists(const SysCalls &sys, const std::string &path) {
    if (sys.Attributes(Win32Path(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // Something that cannot be looked at (a file another program holds locked) is still there.
    return !NotFound(::GetLastError());
}

Status MakeFolders(const SysCalls &sys, const std::string &path, bool &made) {
    const std::wstring folder = FolderPath(path);
    const std::size_t root = VolumeRootLength(folder);
    // A drive or a share root cannot be made; it is there or the path is of no use.
    if (folder.size() <= root) {
        if (IsFolder(sys.Attributes(folder.c_str()))) return Status::Ok();
        return OtherFailure(::GetLastError(), "cannot create the folder " + Utf8FromWin32Path(folder));
    }
    return MakeFolderDeepestFirst(sys, folder, root, made);
}

Status CheckFoldersCreatable(const SysCalls &sys, const std::string &path) {
    const std::wstring folder = FolderPath(path);
    const std::size_t root = VolumeRootLength(folder);
    for (std::size_t end = root + 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != L'\\') continue;
        const std::wstring level = folder.substr(0, end);
        const DWORD attributes = sys.Attributes(level.c_str());
        if (IsFolder(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // The attributes are the link's own; only opening it follows it to its target.
            void *const target =
                sys.Open(level.c_str(), FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
            if (target == nullptr && NotFound(::GetLastError())) {
                return Status::Failure(ErrorKind::Other, "cannot create the folder " + Utf8FromWin32Path(level) +
                                                             ": a symbolic link that leads nowhere is in the way");
            }
            if (target != nullptr) sys.Close(target);
            continue;
        }
        if (IsFolder(attributes)) continue;
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return Status::Failure(ErrorKind::Other, "cannot create the folder " + Utf8FromWin32Path(level) +
                                                         ": a file of that name is in the way");
        }
        const DWORD err = ::GetLastError();
        // Windows tells whether a folder takes new entries only by trying, so a missing level counts
        // as creatable.
        if (NotFound(err)) return Status::Ok();
        return OtherFailure(err, "cannot create the folder " + Utf8FromWin32Path(level));
    }
    return Status::Ok();
}

// Whether a folder takes new files shows only by trying.
Status CheckTakesNewFiles(const SysCalls &, const std::string &, std::string_view) { return Status::Ok(); }

}  // namespace native

std::string SameFileKey(const std::string &path) {
    const std::wstring wide = WideFromUtf8(path);
    if (wide.empty() || wide.size() > INT_MAX) return path;
    // The invariant upper case, which does not depend on the user's language (no Turkish i).
    std::wstring upper(wide.size(), L'\0');
    const int size = static_cast<int>(wide.size());
    const int units = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), size, upper.data(), size,
                                      nullptr, nullptr, 0);
    if (units <= 0) return path;
    upper.resize(static_cast<std::size_t>(units));
    return Utf8FromWide(upper);
}

}  // namespace tarvelin
