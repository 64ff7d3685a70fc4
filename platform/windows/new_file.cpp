#include "platform/new_file.h"

#include <windows.h>

#include <climits>

#include "platform/windows/status.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {

NewFile::~NewFile() {
    if (file_ != -1) CloseFileHandle(reinterpret_cast<void *>(file_));
}

Status NewFile::Create(const std::string &path) {
    // CREATE_NEW never opens what is there; readers may look while it is written.
    UniqueFileHandle file(::CreateFileW(Win32Path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return StatusFromWin32(::GetLastError(), "cannot create the file");
    if (file_ != -1) CloseFileHandle(reinterpret_cast<void *>(file_));
    file_ = reinterpret_cast<std::intptr_t>(file.release());
    return Status::Ok();
}

Status NewFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD want = bytes.size() > UINT_MAX ? UINT_MAX : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (::WriteFile(reinterpret_cast<HANDLE>(file_), bytes.data(), want, &written, nullptr) == 0)
            return StatusFromWin32(::GetLastError(), "cannot write the file");
        if (written == 0) return StatusFromWin32(ERROR_DISK_FULL, "cannot write the file");
        bytes.remove_prefix(written);
    }
    return Status::Ok();
}

}  // namespace tarvelin
