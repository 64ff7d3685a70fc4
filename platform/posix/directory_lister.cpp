#include "platform/directory_lister.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/posix/unique_fd.h"

namespace tarvelin {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsDot(const char *name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

bool DirectoryLister::FolderExists(const std::string &path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

FolderIdentity IdentityOfFolder(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

DirectoryListing DirectoryLister::List(const std::string &folder) const {
    DirectoryListing listing;
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        listing.status = Status::FromErrno(errno, "cannot open the folder");
        return listing;
    }
    struct stat self {};
    if (::fstat(fd.get(), &self) != 0) {
        listing.status = Status::FromErrno(errno, "cannot read the folder");
        return listing;
    }
    listing.identity = {static_cast<std::uint64_t>(self.st_dev), static_cast<std::uint64_t>(self.st_ino)};

    DirHandle dir(::fdopendir(fd.get()));
    if (!dir) {
        listing.status = Status::FromErrno(errno, "cannot open the folder");
        return listing;
    }
    const int dirFd = fd.release();  // closed with dir from here on

    listing.entries.reserve(256);  // spares the many small regrowths of a large folder

    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) {
                listing.status = Status::FromErrno(errno, "cannot read the folder");
                listing.entries.clear();
            }
            break;
        }
        if (IsDot(entry->d_name)) continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // Through the link: a link to a folder is walked as a folder; a broken one is a file.
            struct stat target {};
            isFolder = ::fstatat(dirFd, entry->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
        }
        listing.entries.push_back(DirectoryEntry{entry->d_name, isFolder});
    }
    return listing;
}

}  // namespace tarvelin
