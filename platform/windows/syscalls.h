// The Windows form of the seam in platform/syscalls.h: the wide Win32 calls the file utilities
// make, so that tests can make any of them fail. Free of windows.h (see unique_handle.h); the
// types are those of the calls (DWORD is unsigned long, a HANDLE a void *).
#pragma once

#include <cstdint>

#include "platform/syscalls.h"

namespace tarvelin {

// Times in the system's form: 100 ns units since 1601 (UTC); 0 leaves a time as it is.
struct FileTimes {
    std::uint64_t creation = 0;
    std::uint64_t lastAccess = 0;
    std::uint64_t lastWrite = 0;
    std::uint64_t change = 0;  // read only: SetBasics leaves it as it is
};

struct FileFacts {
    unsigned long attributes = 0;  // FILE_ATTRIBUTE_*
    unsigned long type = 0;        // FILE_TYPE_*: only FILE_TYPE_DISK has an end to copy up to
    std::uint64_t size = 0;
    FileTimes times;
};

class SysCalls {
public:
    virtual ~SysCalls() = default;

    // Each is the wide call named beside it, on a path from Win32Path. A failure returns false
    // (Open: null, Attributes: INVALID_FILE_ATTRIBUTES) with the reason in GetLastError().
    virtual void *Open(const wchar_t *path, unsigned long access, unsigned long share,
                       unsigned long disposition, unsigned long flags) const;  // CreateFileW
    virtual bool Close(void *handle) const;                                   // CloseHandle
    virtual bool Read(void *handle, void *buffer, unsigned long count, unsigned long *got) const;
    virtual bool Write(void *handle, const void *buffer, unsigned long count,
                       unsigned long *written) const;
    // GetFileInformationByHandleEx for the basic (times, attributes) and the standard (size)
    // information, and GetFileType.
    virtual bool Facts(void *handle, FileFacts *facts) const;
    virtual bool Flush(void *handle) const;  // FlushFileBuffers
    // SetFilePointerEx to `size`, then SetEndOfFile.
    virtual bool TruncateAndSeek(void *handle, unsigned long long size) const;
    // SetFileInformationByHandle(FileBasicInfo): the times, and the attributes unless 0.
    virtual bool SetBasics(void *handle, const FileTimes &times, unsigned long attributes) const;
    virtual unsigned long Attributes(const wchar_t *path) const;                 // GetFileAttributesW
    virtual bool MakeFolder(const wchar_t *path) const;                          // CreateDirectoryW
    virtual bool Remove(const wchar_t *path) const;                              // DeleteFileW
    virtual bool RemoveFolder(const wchar_t *path) const;                        // RemoveDirectoryW
    virtual bool Move(const wchar_t *from, const wchar_t *to, unsigned long flags) const;  // MoveFileExW
};

}  // namespace tarvelin
