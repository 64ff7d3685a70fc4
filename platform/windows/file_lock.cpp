// The lock over a file opened without sharing and removed when closed: Windows closes the handles
// of a process that ends in any way, so the file goes with it, and a file server enforces the
// sharing for the clients of every machine.
#include "platform/file_lock.h"

#include <windows.h>

#include "platform/windows/status.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {

namespace {

// A scanner or an indexer may have the new file open for a moment, and a file whose holder
// just closed it is refused until it is gone: a few short waits before either counts.
constexpr int kAttempts = 6;
constexpr DWORD kWaitMs = 50;
constexpr int kRemoveWaits = 20;

void *Handle(std::intptr_t handle) { return reinterpret_cast<void *>(handle); }

bool Usable(HANDLE handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }

}  // namespace

LockState FileLock::Take(const std::string &path, bool create, std::string &reason) {
    Release();
    const std::wstring wide = Win32Path(path);
    const DWORD disposition = create ? OPEN_ALWAYS : OPEN_EXISTING;
    bool removeOnClose = true;
    DWORD err = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const DWORD flags = FILE_ATTRIBUTE_HIDDEN | (removeOnClose ? FILE_FLAG_DELETE_ON_CLOSE : 0);
        const HANDLE handle =
            ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, disposition, flags, nullptr);
        if (Usable(handle)) {
            path_ = path;
            handle_ = reinterpret_cast<std::intptr_t>(handle);
            removedOnClose_ = removeOnClose;
            return LockState::Held;
        }
        err = ::GetLastError();
        if (!create && (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)) return LockState::Free;
        if (removeOnClose && (err == ERROR_INVALID_PARAMETER || err == ERROR_NOT_SUPPORTED)) {
            // A file system that cannot remove a file at its close: removed by Release instead.
            removeOnClose = false;
            continue;
        }
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) break;
        ::Sleep(kWaitMs);
    }
    if (err == ERROR_SHARING_VIOLATION) return LockState::HeldElsewhere;
    reason = StatusFromWin32(err, "").reason();
    if (reason.starts_with(": ")) reason.erase(0, 2);
    return LockState::Failed;
}

void FileLock::Release() noexcept {
    if (handle_ == -1) return;
    const DWORD saved = ::GetLastError();
    if (!removedOnClose_) {
        FILE_DISPOSITION_INFO remove{TRUE};
        ::SetFileInformationByHandle(Handle(handle_), FileDispositionInfo, &remove, sizeof remove);
    }
    ::CloseHandle(Handle(handle_));
    // Wine on a FUSE share removes the file only once the share has closed it, a moment later. A
    // file that another process holds now is refused, so this never takes another run's.
    const std::wstring wide = Win32Path(path_);
    for (int wait = 0; wait < kRemoveWaits && ::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait) {
        if (::DeleteFileW(wide.c_str())) break;
        ::Sleep(kWaitMs);
    }
    handle_ = -1;
    path_.clear();
    ::SetLastError(saved);
}

LockState ProbeLock(const std::string &path) {
    const HANDLE handle = ::CreateFileW(Win32Path(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Usable(handle)) {
        ::CloseHandle(handle);
        return LockState::Free;
    }
    const DWORD err = ::GetLastError();
    if (err == ERROR_SHARING_VIOLATION) return LockState::HeldElsewhere;
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? LockState::Free : LockState::NotKept;
}

}  // namespace tarvelin
