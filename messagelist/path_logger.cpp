#include "messagelist/path_logger.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <unordered_set>
#include <string_view>
#include <utility>

#include "messagelist/name_order.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

std::string Join(const std::string &folder, const std::string &name, std::string_view suffix = {}) {
    std::string path;
    path.reserve(folder.size() + name.size() + suffix.size());
    path += folder;
    path += name;
    path += suffix;
    return path;
}

struct IdentityHash {
    std::size_t operator()(const FolderIdentity &id) const noexcept {
        return std::hash<std::uint64_t>{}(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// A lister that cannot tell folders apart reports device and inode 0; such folders are all walked.
bool Known(const FolderIdentity &id) { return id.device != 0 || id.inode != 0; }

}  // namespace

pathLogger::pathLogger(WorkHooks &hooks, const DirectoryLister &lister)
    : hooks_(hooks), lister_(lister) {}

void pathLogger::LeaveOut(LeftOutFolder folder) {
    leftOutKey_ = SameFileKey(AddSeparator(folder.path));
    leftOut_ = std::move(folder);
}

void pathLogger::PathLogInit() {
    hooks_.Yield();
    DropLists();
}

void pathLogger::Terminate() {
    hooks_.Yield();
    DropLists();
}

void pathLogger::DropLists() {
    pathNames_ = TextList();
    fullFileNames_.reset();
}

std::shared_ptr<pathLogger::TextList> pathLogger::fullFileNames() {
    if (!fullFileNames_) fullFileNames_ = std::make_shared<TextList>();
    return fullFileNames_;
}

bool pathLogger::YieldAndCheckStop() {
    if (hooks_.YieldAndCheckStop()) stopped_ = true;
    return stopped_;
}

void pathLogger::LogPath(const std::string &startFolder) {
    unreadFolders_.clear();
    leftOutMet_.clear();
    stopped_ = false;
    if (!lister_.FolderExists(startFolder)) return;

    counter_ = 1;
    std::int64_t queued = 1;
    std::int64_t current = 1;
    if (YieldAndCheckStop()) return;

    TextList &folders = pathNames_;
    TextList &fullNames = *fullFileNames();
    folders.Add(AddSeparator(startFolder), 0);

    // Links can lead back into the tree or twice to one folder outside it; each folder is walked once.
    std::unordered_set<FolderIdentity, IdentityHash> walked;

    while (current <= queued) {
        // A copy: appending subfolders below may move the list's storage.
        const std::string folder(folders.Item(static_cast<std::size_t>(current)));
        // The start folder is walked whatever it is: it is what was asked for.
        const bool below = current > 1 && leftOut_.has_value();
        if (below && SameFileKey(folder) == leftOutKey_) {
            leftOutMet_.push_back(folder);
            ++current;
            continue;
        }
        DirectoryListing listing = lister_.List(folder);
        if (YieldAndCheckStop()) return;
        if (below && listing.status.ok() && Known(leftOut_->identity) && listing.identity == leftOut_->identity) {
            leftOutMet_.push_back(folder);
            ++current;
            continue;
        }

        const bool walkIt = listing.status.ok() &&
                            (!Known(listing.identity) || walked.insert(listing.identity).second);
        // A folder that cannot be listed (no access, removed meanwhile) costs its own files only.
        if (!listing.status.ok()) unreadFolders_.push_back({folder, listing.status.reason()});

        if (walkIt) {
            // The system's own order differs between systems and between copies of one tree, and it
            // decides which of two messages of one name gets the number.
            std::ranges::sort(listing.entries, NtfsNameLess, &DirectoryEntry::name);
            for (const DirectoryEntry &entry : listing.entries) {
                if (!entry.isFolder) continue;
                ++queued;
                folders.Add(Join(folder, entry.name, {&kNativeSeparator, 1}), queued);
                if (YieldAndCheckStop()) return;
            }
            if (YieldAndCheckStop()) return;

            for (const DirectoryEntry &entry : listing.entries) {
                if (entry.isFolder) continue;
                fullNames.Add(Join(folder, entry.name), counter_);
                ++counter_;
                if (YieldAndCheckStop()) return;
            }
        }

        if (YieldAndCheckStop()) return;
        ++current;
    }
}

}  // namespace tarvelin
