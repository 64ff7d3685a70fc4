// The folder listing over FindFirstFileExW.
#include "platform/directory_lister.h"

#include <windows.h>

#include <cerrno>

#include "platform/windows/status.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"

namespace tarvelin {

namespace {

bool IsDot(const wchar_t *name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Opens the folder itself (through any link to it): the handle names it for FolderIdentity.
UniqueFileHandle OpenFolder(const std::wstring &path) {
    return UniqueFileHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Through a link or junction: one to a folder is walked as a folder; a broken one is a file.
bool LeadsToFolder(const std::wstring &path) {
    const UniqueFileHandle target = OpenFolder(path);
    BY_HANDLE_FILE_INFORMATION info;
    return target.valid() && ::GetFileInformationByHandle(target.get(), &info) != 0 &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool DirectoryLister::FolderExists(const std::string &path) const {
    return LeadsToFolder(Win32Path(path));
}

FolderIdentity IdentityOfFolder(const std::string &path) {
    std::wstring wide = Win32Path(path);
    while (wide.size() > 7 && wide.back() == L'\\') wide.pop_back();
    const UniqueFileHandle self = OpenFolder(wide);
    BY_HANDLE_FILE_INFORMATION info;
    if (!self.valid() || ::GetFileInformationByHandle(self.get(), &info) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return {};
    return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

DirectoryListing DirectoryLister::List(const std::string &folder) const {
    DirectoryListing listing;
    std::wstring path = Win32Path(folder);
    while (path.size() > 7 && path.back() == L'\\') path.pop_back();

    const UniqueFileHandle self = OpenFolder(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!self.valid()) {
        listing.status = StatusFromWin32(::GetLastError(), "cannot open the folder");
        return listing;
    }
    if (::GetFileInformationByHandle(self.get(), &info) == 0) {
        listing.status = StatusFromWin32(::GetLastError(), "cannot read the folder");
        return listing;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        listing.status = Status::FromErrno(ENOTDIR, "cannot open the folder");
        return listing;
    }
    listing.identity = {info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};

    // Basic information skips the short 8.3 names; the large fetch asks for many entries a call.
    WIN32_FIND_DATAW entry;
    const UniqueFindHandle find(::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &entry,
                                                   FindExSearchNameMatch, nullptr,
                                                   FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND && err != ERROR_NO_MORE_FILES)
            listing.status = StatusFromWin32(err, "cannot read the folder");
        return listing;
    }
    listing.entries.reserve(256);  // spares the many small regrowths of a large folder
    do {
        if (IsDot(entry.cFileName)) continue;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            isFolder = LeadsToFolder(path + L"\\" + entry.cFileName);
        listing.entries.push_back(DirectoryEntry{Utf8FromWide(entry.cFileName), isFolder});
    } while (::FindNextFileW(find.get(), &entry) != 0);
    if (const DWORD err = ::GetLastError(); err != ERROR_NO_MORE_FILES) {
        listing.status = StatusFromWin32(err, "cannot read the folder");
        listing.entries.clear();
    }
    return listing;
}

}  // namespace tarvelin
