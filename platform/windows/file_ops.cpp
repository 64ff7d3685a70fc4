// The file utilities over the wide Win32 calls. Paths arrive as UTF-8 and reach the system in the
// \\?\ form (see wide_text.h).
#include "platform/file_ops.h"

#include <windows.h>
// The header defines macros named like our CopyFile and WorkHooks::Yield.
#undef CopyFile
#undef Yield

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/path_split.h"
#include "platform/slice_yield.h"
#include "platform/temporary_name.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {
namespace {

constexpr std::size_t kBufferSize = 256 * 1024;
constexpr int kTemporaryNameAttempts = 100;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A string with a NUL inside would reach the system cut short and name another file.
bool UsablePath(const std::string &path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

Status LastError(const std::string &what) { return Status::FromWin32(::GetLastError(), what); }

// A failure whose "exists" or "not found" says nothing about the final name.
Status OtherFailure(DWORD err, const std::string &what) {
    return Status::Failure(ErrorKind::Other, Status::FromWin32(err, what).reason());
}

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
        return Status::Failure(ErrorKind::Other, "cannot create the folder " + ShownPath(level) +
                                                     ": a file of that name is in the way");
    }
    return OtherFailure(err, "cannot create the folder " + ShownPath(level));
}

// Owns a handle through the seam; the copy closes its file itself, to learn whether that worked.
class Handle {
public:
    explicit Handle(const SysCalls &sys, void *handle = nullptr) : sys_(sys), handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() {
        if (handle_ == nullptr) return;
        const DWORD saved = ::GetLastError();
        sys_.Close(std::exchange(handle_, nullptr));
        ::SetLastError(saved);
    }
    void reset(void *handle) { handle_ = handle; }
    bool valid() const { return handle_ != nullptr; }
    void *get() const { return handle_; }
    bool Close() { return sys_.Close(std::exchange(handle_, nullptr)); }
    void *Release() { return std::exchange(handle_, nullptr); }

private:
    const SysCalls &sys_;
    void *handle_;
};


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
        if (!slices.Moved(got)) return CopyStopped();
    }
}

// Created hidden and exclusively; made visible once complete.
Status CreateTemporaryIn(const SysCalls &sys, const std::string &folder, std::string &path, Handle &out) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        std::string candidate = TemporaryNameIn(folder);
        void *const handle =
            sys.Open(Win32Path(candidate).c_str(), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN);
        if (handle != nullptr) {
            path = std::move(candidate);
            out.reset(handle);
            return Status::Ok();
        }
        // The final name is not at stake, so "exists" must not read as AlreadyExists.
        if (const DWORD err = ::GetLastError(); err != ERROR_FILE_EXISTS) return OtherFailure(err, "cannot create the copy");
    }
    return Status::Failure(ErrorKind::Other, "cannot create the copy: no free temporary name");
}

// Opens the source as a copy reads it, refusing what has no end to copy up to. Backup semantics
// let a folder open, so that it can be named as what it is.
Status OpenSource(const SysCalls &sys, const std::string &source, Handle &in, FileFacts &facts) {
    if (!UsablePath(source)) return Status::Failure(ErrorKind::Other, "cannot open the message: no valid path");
    in.reset(sys.Open(Win32Path(source).c_str(), GENERIC_READ, kShareAll, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS));
    if (!in.valid()) return LastError("cannot open the message");
    if (!sys.Facts(in.get(), &facts)) return OtherFailure(::GetLastError(), "cannot read the message");
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    }
    if (facts.type != FILE_TYPE_DISK) {
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    }
    return Status::Ok();
}

Status Taken() { return Status::Failure(ErrorKind::AlreadyExists, "cannot name the copy: the name is taken"); }

bool NotFound(DWORD err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
           err == ERROR_BAD_NETPATH || err == ERROR_BAD_NET_NAME || err == ERROR_INVALID_DRIVE;
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
    for (std::size_t end = root + 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != L'\\') continue;
        if (Status made = MakeFolderLevel(sys, folder.substr(0, end)); !made) return made;
    }
    return Status::Ok();
}

bool FileExist(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) return false;
    if (sys.Attributes(Win32Path(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    // Something that cannot be looked at (a file another program holds locked) is still there.
    return !NotFound(::GetLastError());
}

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

Status CheckFolderCreatable(const std::string &path, const SysCalls &sys) {
    if (!UsablePath(path)) {
        return Status::Failure(ErrorKind::Other, "cannot create the folder: no valid path");
    }
    std::wstring folder = Win32Path(path);
    while (folder.size() > RootLength(folder) && folder.back() == L'\\') folder.pop_back();
    const std::size_t root = RootLength(folder);
    for (std::size_t end = root + 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != L'\\') continue;
        const std::wstring level = folder.substr(0, end);
        const DWORD attributes = sys.Attributes(level.c_str());
        if (IsFolder(attributes)) continue;
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return Status::Failure(ErrorKind::Other, "cannot create the folder " + ShownPath(level) +
                                                         ": a file of that name is in the way");
        }
        const DWORD err = ::GetLastError();
        // Windows tells whether a folder takes new entries only by trying, so a missing level counts
        // as creatable.
        if (NotFound(err)) return Status::Ok();
        return OtherFailure(err, "cannot create the folder " + ShownPath(level));
    }
    return Status::Ok();
}

Status CheckStaging(const std::string &source, const std::string &folder, const SysCalls &sys) {
    (void)folder;  // whether it takes new files shows only by trying, as above
    Handle in(sys);
    FileFacts facts;
    return OpenSource(sys, source, in, facts);
}

void StagedCopy::CloseUnflushed() noexcept {
    if (open_ == -1) return;
    Handle closing(*sys_, reinterpret_cast<void *>(std::exchange(open_, -1)));
}

void StagedCopy::Discard() noexcept {
    if (!staged()) return;
    const DWORD saved = ::GetLastError();
    CloseUnflushed();
    sys_->Remove(Win32Path(temporary_).c_str());
    ::SetLastError(saved);
    sys_ = nullptr;
    temporary_.clear();
}

Status StagedCopy::Flush() {
    if (!staged()) return Status::Failure(ErrorKind::Other, "cannot finish the copy: there is no copy");
    if (open_ == -1) return Status::Ok();
    Handle out(*sys_, reinterpret_cast<void *>(std::exchange(open_, -1)));
    // On the disk before it gets its final name, so that after a power cut a final name never
    // holds less than the whole message.
    if (!sys_->Flush(out.get())) return OtherFailure(::GetLastError(), "cannot finish the copy");
    if (!out.Close()) return OtherFailure(::GetLastError(), "cannot finish the copy");
    return Status::Ok();
}

Status StagedCopy::MoveToName(const std::string &destination, Replace replace) const {
    // Without MOVEFILE_REPLACE_EXISTING the rename never replaces a file.
    const DWORD flags = replace == Replace::Yes ? MOVEFILE_REPLACE_EXISTING : 0;
    if (!sys_->Move(Win32Path(temporary_).c_str(), Win32Path(destination).c_str(), flags)) {
        const DWORD err = ::GetLastError();
        if (replace == Replace::No && (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)) return Taken();
        return OtherFailure(err, "cannot put the copy in place");
    }
    return Status::Ok();
}

Status StageCopy(const std::string &source, const std::string &folder, StagedCopy &staged, const SysCalls &sys,
                 WorkHooks *hooks) {
    staged = StagedCopy();
    Handle in(sys);
    FileFacts facts;
    if (Status opened = OpenSource(sys, source, in, facts); !opened) return opened;
    if (folder.find('\0') != std::string::npos) {
        return Status::Failure(ErrorKind::Other, "cannot create the copy: no valid path");
    }

    StagedCopy copy;
    Handle out(sys);
    if (Status made = CreateTemporaryIn(sys, folder, copy.temporary_, out); !made) return made;
    copy.sys_ = &sys;

    SliceYield slices(hooks);
    if (Status copied = CopyBytes(sys, in.get(), out.get(), slices); !copied) return copied;

    // Visible from here on, with the message's times; the times are worth keeping but not worth
    // losing the copy over. Read-only is not taken over: a read-only temporary could not be removed.
    const FileTimes times{0, facts.times.lastAccess, facts.times.lastWrite};
    if (!sys.SetBasics(out.get(), times, FILE_ATTRIBUTE_NORMAL) &&
        !sys.SetBasics(out.get(), FileTimes{}, FILE_ATTRIBUTE_NORMAL)) {
        return OtherFailure(::GetLastError(), "cannot finish the copy");
    }
    copy.open_ = reinterpret_cast<std::intptr_t>(out.Release());
    staged = std::move(copy);
    return Status::Ok();
}

bool SameContent(const std::string &a, const std::string &b, const SysCalls &sys) {
    Handle first(sys), second(sys);
    FileFacts firstFacts, secondFacts;
    if (!OpenSource(sys, a, first, firstFacts) || !OpenSource(sys, b, second, secondFacts)) return false;
    if (firstFacts.size != secondFacts.size) return false;
    const auto firstBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    const auto secondBuffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (;;) {
        DWORD got = 0;
        if (!sys.Read(first.get(), firstBuffer.get(), kBufferSize, &got)) return false;
        // Read the same count from the second file; a short read there means it ended early.
        DWORD filled = 0;
        while (filled < got) {
            DWORD more = 0;
            if (!sys.Read(second.get(), secondBuffer.get() + filled, got - filled, &more) || more == 0) return false;
            filled += more;
        }
        if (got == 0) {
            char extra = 0;
            DWORD more = 0;
            return sys.Read(second.get(), &extra, 1, &more) && more == 0;
        }
        if (std::memcmp(firstBuffer.get(), secondBuffer.get(), filled) != 0) return false;
    }
}

}  // namespace tarvelin
