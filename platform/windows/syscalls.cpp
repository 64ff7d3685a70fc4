#include "platform/windows/syscalls.h"

#include <windows.h>

#include "platform/windows/unique_handle.h"

namespace tarvelin {

namespace {

LARGE_INTEGER ToLargeInteger(std::uint64_t value) {
    LARGE_INTEGER result;
    result.QuadPart = static_cast<LONGLONG>(value);
    return result;
}

}  // namespace

void *SysCalls::Open(const wchar_t *path, unsigned long access, unsigned long share,
                     unsigned long disposition, unsigned long flags) const {
    HANDLE handle = ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

bool SysCalls::Close(void *handle) const { return ::CloseHandle(handle) != 0; }

bool SysCalls::Read(void *handle, void *buffer, unsigned long count, unsigned long *got) const {
    return ::ReadFile(handle, buffer, count, got, nullptr) != 0;
}

bool SysCalls::Write(void *handle, const void *buffer, unsigned long count,
                     unsigned long *written) const {
    return ::WriteFile(handle, buffer, count, written, nullptr) != 0;
}

// Two queries, as GetFileInformationByHandle makes (the file's and its volume's), but these carry
// the change time too.
bool SysCalls::Facts(void *handle, FileFacts *facts) const {
    FILE_BASIC_INFO basics{};
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basics, sizeof basics) == 0 ||
        ::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) == 0)
        return false;
    const auto units = [](const LARGE_INTEGER &time) { return static_cast<std::uint64_t>(time.QuadPart); };
    facts->attributes = basics.FileAttributes;
    facts->size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    facts->times = {units(basics.CreationTime), units(basics.LastAccessTime), units(basics.LastWriteTime),
                    units(basics.ChangeTime)};
    facts->type = ::GetFileType(handle);
    return true;
}

bool SysCalls::Flush(void *handle) const { return ::FlushFileBuffers(handle) != 0; }

bool SysCalls::SetBasics(void *handle, const FileTimes &times, unsigned long attributes) const {
    FILE_BASIC_INFO basics{};
    basics.CreationTime = ToLargeInteger(times.creation);
    basics.LastAccessTime = ToLargeInteger(times.lastAccess);
    basics.LastWriteTime = ToLargeInteger(times.lastWrite);
    basics.FileAttributes = attributes;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basics, sizeof basics) != 0;
}

unsigned long SysCalls::Attributes(const wchar_t *path) const { return ::GetFileAttributesW(path); }

bool SysCalls::MakeFolder(const wchar_t *path) const { return ::CreateDirectoryW(path, nullptr) != 0; }

bool SysCalls::TruncateAndSeek(void *handle, unsigned long long size) const {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) != 0 && ::SetEndOfFile(handle) != 0;
}

bool SysCalls::Remove(const wchar_t *path) const { return ::DeleteFileW(path) != 0; }

bool SysCalls::RemoveFolder(const wchar_t *path) const { return ::RemoveDirectoryW(path) != 0; }

bool SysCalls::Move(const wchar_t *from, const wchar_t *to, unsigned long flags) const {
    return ::MoveFileExW(from, to, flags) != 0;
}

const SysCalls &RealSysCalls() {
    static const SysCalls real;
    return real;
}

void CloseFileHandle(void *handle) noexcept { ::CloseHandle(handle); }

void CloseFindHandle(void *handle) noexcept { ::FindClose(handle); }

}  // namespace tarvelin
