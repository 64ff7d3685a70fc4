#include "platform/input_file.h"

#include <windows.h>

#include <climits>

#include "platform/windows/status.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {

namespace {

// FILETIME counts 100 ns units from 1601; time_t seconds from 1970.
std::time_t UnixTime(const FILETIME &time) {
    const std::uint64_t units = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t kUnitsTo1970 = 116444736000000000ULL;
    return units < kUnitsTo1970 ? 0 : static_cast<std::time_t>((units - kUnitsTo1970) / 10000000ULL);
}

}  // namespace

InputFile::InputFile(const std::string &path) {
    const std::wstring wide = Win32Path(path);
    // Backup semantics let a folder open, so that it is known as one.
    UniqueFileHandle file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    if (!file.valid()) {
        status_ = StatusFromWin32(::GetLastError(), "cannot open the message");
        // The file may exist and still refuse to open; its date is then still known.
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) != 0) {
            exists_ = true;
            modified_ = UnixTime(data.ftLastWriteTime);
        }
        return;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileInformationByHandle(file.get(), &info) == 0) {
        status_ = StatusFromWin32(::GetLastError(), "cannot read the message");
        return;
    }
    exists_ = true;
    modified_ = UnixTime(info.ftLastWriteTime);
    size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        kind_ = Kind::Folder;
    } else if (::GetFileType(file.get()) == FILE_TYPE_DISK) {
        kind_ = Kind::Regular;
    }
    file_ = reinterpret_cast<std::intptr_t>(file.release());
}

InputFile::~InputFile() {
    if (file_ != -1) CloseFileHandle(reinterpret_cast<void *>(file_));
}

std::ptrdiff_t InputFile::Read(char *buffer, std::size_t count) {
    if (file_ == -1) return -1;
    DWORD got = 0;
    const DWORD want = count > UINT_MAX ? UINT_MAX : static_cast<DWORD>(count);
    if (::ReadFile(reinterpret_cast<HANDLE>(file_), buffer, want, &got, nullptr) == 0) return -1;
    return static_cast<std::ptrdiff_t>(got);
}

}  // namespace tarvelin
