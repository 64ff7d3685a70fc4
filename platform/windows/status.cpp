#include "platform/windows/status.h"

#include <windows.h>

#include <cerrno>

#include "platform/windows/wide_text.h"

namespace tarvelin {

namespace {

// The errors a user meets, as the POSIX errors that mean the same, so both builds say it alike.
int ErrnoFor(DWORD err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
        return EIO;
    default:
        return 0;
    }
}

// Windows' own text, without its closing period and line break.
std::string SystemText(DWORD err) {
    wchar_t *buffer = nullptr;
    const DWORD size = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text = size > 0 ? Utf8FromWide({buffer, size}) : std::string();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.'))
        text.pop_back();
    if (text.empty()) text = "Windows error " + std::to_string(err);
    return text;
}

}  // namespace

Status StatusFromWin32(unsigned long err, std::string_view what) {
    if (const int posix = ErrnoFor(err); posix != 0) return Status::FromErrno(posix, what);
    std::string reason(what);
    reason += ": ";
    reason += err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION
                  ? "the file is in use by another program"
                  : SystemText(err);
    return Status::Failure(ErrorKind::Other, std::move(reason));
}

}  // namespace tarvelin
