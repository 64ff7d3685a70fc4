// The file utilities over the wide Win32 calls. Paths arrive as UTF-8 and reach the system in the
// \\?\ form (see wide_text.h).
#include "platform/file_ops.h"

#include <windows.h>
// The header defines macros named like our CopyFile and WorkHooks::Yield.
#undef CopyFile
#undef Yield

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>

#include "platform/path_split.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {
namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
// Between two yields: about 40 ms on a disk that writes 100 MB/s.
constexpr std::size_t kYieldSlice = std::size_t{4} << 20;
constexpr int kTemporaryNameAttempts = 100;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The attributes a copy takes over from its message; the rest belong to where a file lives.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;

// A string with a NUL inside would reach the system cut short and name another file.
bool UsablePath(const std::string &path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// A path for messages: the form the user knows, without the \\?\ that only the system needs.
std::string Shown(const std::wstring &path) {
    if (path.starts_with(LR"(\\?\UNC\)")) return "\\" + Utf8FromWide(std::wstring_view(path).substr(7));
    if (path.starts_with(LR"(\\?\)")) return Utf8FromWide(std::wstring_view(path).substr(4));
    return Utf8FromWide(path);
}

Status LastError(const std::string &what) { return Status::FromWin32(::GetLastError(), what); }

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The length of the part no folder can be made in: \\?\C:\ or \\?\UNC\server\share\.
std::size_t RootLength(const std::wstring &path) {
    if (!path.starts_with(LR"(\\?\UNC\)")) return std::min<std::size_t>(path.size(), 7);
    std::size_t end = 8;
    for (int part = 0; part < 2 && end != std::wstring::npos; ++part) {
        end = path.find(L'\\', end);
        if (end != std::wstring::npos) ++end;
    }
    return end == std::wstring::npos ? path.size() : end;
}

Status MakeFolderLevel(const SysCalls &sys, const std::wstring &level) {
    if (sys.MakeFolder(level.c_str())) return Status::Ok();
    const DWORD err = ::GetLastError();
    // Already there covers another process making the folder meanwhile; what is there decides.
    const DWORD attributes = sys.Attributes(level.c_str());
    if (IsFolder(attributes)) return Status::Ok();
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder " + Shown(level) +
                                                     ": a file of that name is in the way");
    }
    Status failed = Status::FromWin32(err, "cannot create the folder " + Shown(level));
    return Status::Failure(ErrorKind::Other, failed.reason());
}

// Closes the handle once; the copy closes its destination itself, to learn whether that worked.
class Handle {
public:
    Handle(const SysCalls &sys, void *handle) : sys_(sys), handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() {
        if (handle_ == nullptr) return;
        const DWORD saved = ::GetLastError();
        sys_.Close(std::exchange(handle_, nullptr));
        ::SetLastError(saved);
    }
    bool valid() const { return handle_ != nullptr; }
    void *get() const { return handle_; }
    bool Close() { return sys_.Close(std::exchange(handle_, nullptr)); }

private:
    const SysCalls &sys_;
    void *handle_;
};

// Removes a file the copy created unless the copy completed: a truncated message must never be
// left where it looks like a good one. Declared before the file's handle, so it runs after the
// handle is closed (Windows keeps an open file).
class CreatedFile {
public:
    explicit CreatedFile(const SysCalls &sys) : sys_(sys) {}
    CreatedFile(const CreatedFile &) = delete;
    CreatedFile &operator=(const CreatedFile &) = delete;
    ~CreatedFile() {
        if (path_.empty()) return;
        const DWORD saved = ::GetLastError();
        sys_.Remove(path_.c_str());
        ::SetLastError(saved);
    }
    void Created(std::wstring path) { path_ = std::move(path); }
    void Keep() { path_.clear(); }

private:
    const SysCalls &sys_;
    std::wstring path_;
};

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

private:
    WorkHooks *hooks_;
    std::size_t sinceYield_ = 0;
};

Status Stopped() { return Status::Failure(ErrorKind::Stopped, "the copy was stopped"); }

Status CopyBytes(const SysCalls &sys, void *in, void *out, SliceYield &slices) {
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        DWORD got = 0;
        if (!sys.Read(in, buffer.get(), kBufferSize, &got)) return LastError("cannot read the message");
        if (got == 0) return Status::Ok();
        for (DWORD done = 0; done < got;) {
            DWORD written = 0;
            if (!sys.Write(out, buffer.get() + done, got - done, &written))
                return LastError("cannot write the copy");
            if (written == 0) {
                return Status::Failure(ErrorKind::Other, "cannot write the copy: the disk takes no more bytes");
            }
            done += written;
        }
        if (!slices.Moved(got)) return Stopped();
    }
}

std::wstring TemporaryNameNextTo(const std::wstring &destination) {
    static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 engine(
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32));
    std::uniform_int_distribution<std::size_t> pick(0, std::size(kLetters) - 2);
    // Short and independent of the destination's name, which may already be near the name limit.
    std::wstring name = destination.substr(0, destination.rfind(L'\\') + 1) + L".tarvelin-";
    for (int i = 0; i < 12; ++i) name += kLetters[pick(engine)];
    return name + L".part";
}

// The copy is written hidden; SetBasics makes it visible once complete.
void *CreateExclusive(const SysCalls &sys, const std::wstring &path, DWORD attributes) {
    return sys.Open(path.c_str(), GENERIC_WRITE, 0, CREATE_NEW, attributes);
}

}  // namespace

Status EnsureFolder(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder: no valid path");
    }
    std::wstring folder = Win32Path(path);
    while (folder.size() > RootLength(folder) && folder.back() == L'\\') folder.pop_back();

    // The usual case: the folder is there from an earlier message.
    if (IsFolder(sys.Attributes(folder.c_str()))) return Status::Ok();

    const std::size_t root = RootLength(folder);
    for (std::size_t end = root; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != L'\\') continue;
        if (end == root) continue;
        if (Status made = MakeFolderLevel(sys, folder.substr(0, end)); !made) return made;
    }
    return Status::Ok();
}

bool EnsureFolderExists(const std::string &path) { return EnsureFolder(path).ok(); }

bool FileExist(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) return false;
    if (sys.Attributes(Win32Path(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // Something that cannot be looked at (a file another program holds locked) is still there.
    const DWORD err = ::GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND && err != ERROR_INVALID_NAME &&
           err != ERROR_BAD_NETPATH && err != ERROR_BAD_NET_NAME && err != ERROR_INVALID_DRIVE;
}

Status CopyFile(const std::string &source, const std::string &destination, bool failIfExists,
                const SysCalls &sys, WorkHooks *hooks) {
    if (!UsablePath(source)) {
        return Status::Failure(ErrorKind::Other, "cannot open the message: no valid path");
    }
    if (!UsablePath(destination)) {
        return Status::Failure(ErrorKind::Other, "cannot create the copy: no valid path");
    }
    const std::wstring to = Win32Path(destination);

    // Backup semantics let a folder open, so that it can be named as what it is.
    Handle in(sys, sys.Open(Win32Path(source).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS));
    if (!in.valid()) return LastError("cannot open the message");
    FileFacts facts;
    if (!sys.Facts(in.get(), &facts)) {
        Status failed = LastError("cannot read the message");
        return Status::Failure(ErrorKind::Other, failed.reason());
    }
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    }
    if (facts.type != FILE_TYPE_DISK) {
        // A device or a pipe has no end to copy up to.
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    }

    // With failIfExists the exclusive create is the existence test, so nothing can slip in between.
    // Otherwise the copy is made under a temporary name and only a complete copy replaces the old file.
    CreatedFile created(sys);
    std::wstring written;
    void *out = nullptr;
    if (failIfExists) {
        out = CreateExclusive(sys, to, FILE_ATTRIBUTE_HIDDEN);
        if (out == nullptr) return LastError("cannot create the copy");
        written = to;
    } else {
        for (int attempt = 0; attempt < kTemporaryNameAttempts && out == nullptr; ++attempt) {
            std::wstring candidate = TemporaryNameNextTo(to);
            out = CreateExclusive(sys, candidate, FILE_ATTRIBUTE_HIDDEN);
            if (out != nullptr) {
                written = std::move(candidate);
            } else if (const DWORD err = ::GetLastError(); err != ERROR_FILE_EXISTS) {
                // The destination itself is not taken, so "exists" must not read as AlreadyExists.
                Status failed = Status::FromWin32(err, "cannot create the copy");
                return Status::Failure(ErrorKind::Other, failed.reason());
            }
        }
        if (out == nullptr) return Status::Failure(ErrorKind::Other, "cannot create the copy: no free temporary name");
    }
    created.Created(written);
    Handle output(sys, out);

    SliceYield slices(hooks);
    if (Status copied = CopyBytes(sys, in.get(), output.get(), slices); !copied) return copied;

    // The times are worth keeping but not worth losing the copied message over; the attributes
    // make the complete copy visible, so a refusal there fails the copy.
    const FileTimes times{0, facts.times.lastAccess, facts.times.lastWrite};
    DWORD attributes = facts.attributes & kKeptAttributes;
    if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
    if (!sys.SetBasics(output.get(), times, attributes) &&
        !sys.SetBasics(output.get(), FileTimes{}, attributes)) {
        return LastError("cannot finish the copy");
    }

    if (!output.Close()) return LastError("cannot finish the copy");
    if (!failIfExists && !sys.Move(written.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        Status failed = LastError("cannot put the copy in place");
        return Status::Failure(ErrorKind::Other, failed.reason());
    }
    created.Keep();
    return Status::Ok();
}

bool CopyFileTo(const std::string &source, const std::string &destination, bool failIfExists) {
    return CopyFile(source, destination, failIfExists).ok();
}

}  // namespace tarvelin
