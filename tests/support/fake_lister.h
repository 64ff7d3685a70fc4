// A directory lister over folders a test describes: fixed listing order, folders that cannot be
// read, and a record of what was listed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/directory_lister.h"
#include "platform/path_split.h"

namespace tarvelin::testing {

class FakeLister : public DirectoryLister {
public:
    void Folder(const std::string &path, std::vector<DirectoryEntry> entries) {
        DirectoryListing listing;
        listing.identity = {1, ++lastInode_};
        listing.entries = std::move(entries);
        folders_[path] = std::move(listing);
    }
    void Unreadable(const std::string &path) {
        folders_[path].status = Status::Failure(ErrorKind::Other, "cannot open folder " + path);
    }

    bool FolderExists(const std::string &path) const override {
        return folders_.count(path) != 0 || folders_.count(path + kNativeSeparator) != 0;
    }
    DirectoryListing List(const std::string &folder) const override {
        listed.push_back(folder);
        auto it = folders_.find(folder);
        if (it == folders_.end()) {
            DirectoryListing missing;
            missing.status = Status::Failure(ErrorKind::NotFound, "no folder " + folder);
            return missing;
        }
        return it->second;
    }

    mutable std::vector<std::string> listed;

private:
    std::map<std::string, DirectoryListing> folders_;
    std::uint64_t lastInode_ = 0;
};

// The real file system, except the folders the predicate names, which cannot be read.
template <typename Locked>
class LockedFolderLister : public DirectoryLister {
public:
    LockedFolderLister(Locked locked, Status refusal) : locked_(std::move(locked)), refusal_(std::move(refusal)) {}
    DirectoryListing List(const std::string &folder) const override {
        if (!locked_(folder)) return DirectoryLister::List(folder);
        DirectoryListing listing;
        listing.status = refusal_;
        return listing;
    }

private:
    Locked locked_;
    Status refusal_;
};

}  // namespace tarvelin::testing
