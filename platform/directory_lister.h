// One listing of one folder: its direct entries, in the order the system lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace tarvelin {

struct DirectoryEntry {
    std::string name;    // the bare name
    bool isFolder;       // a folder, or a link to one; everything else (broken links too) is a file
};

// Identifies a folder whatever path reached it, so links that lead back can be noticed.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const FolderIdentity &, const FolderIdentity &) = default;
};

struct DirectoryListing {
    Status status;                      // not ok: the folder could not be opened or read
    FolderIdentity identity;
    std::vector<DirectoryEntry> entries;
};

class DirectoryLister {
public:
    virtual ~DirectoryLister() = default;
    [[nodiscard]] virtual bool FolderExists(const std::string &path) const;
    [[nodiscard]] virtual DirectoryListing List(const std::string &folder) const;
};

// A folder a walk had to skip, and why.
struct UnreadFolder {
    std::string path;
    std::string reason;
};

// The real file system.
const DirectoryLister &NativeDirectoryLister();

// Which folder the path leads to on the real file system, as its listing would tell; device and
// inode 0 when it is no folder or cannot be opened.
FolderIdentity IdentityOfFolder(const std::string &path);

}  // namespace tarvelin
