// pathLogger: collects the full path of every file below a folder, breadth-first, with the folder
// list as its queue and each folder's names in NTFS order. It knows nothing of message files; the
// folder scan filters its result.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "messagelist/keyed_list.h"
#include "platform/directory_lister.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// A folder that a walk does not go into, whichever path leads there (the run's own output).
struct LeftOutFolder {
    std::string path;          // with its separator
    FolderIdentity identity;   // device and inode 0 when not known: then the path alone tells
};

class pathLogger {
public:
    using TextList = KeyedList<std::string>;

    explicit pathLogger(WorkHooks &hooks = NoWorkHooks(),
                        const DirectoryLister &lister = NativeDirectoryLister());

    // Drops the lists; the counter is kept.
    void PathLogInit();
    // Walks the tree below startFolder. A missing start folder changes nothing.
    void LogPath(const std::string &startFolder);
    // Files logged plus one after a walk; 0 in a new walker.
    std::int64_t Count() const { return counter_; }
    // Lets go of the lists; lists handed out before stay valid.
    void Terminate();

    // The full path of every file, in walking order; created empty on first use, and the caller
    // shares the walker's own list.
    std::shared_ptr<TextList> fullFileNames();

    // Folders that could not be opened or listed during the last walk; they were skipped.
    const std::vector<UnreadFolder> &UnreadFolders() const { return unreadFolders_; }
    std::int64_t FoldersNotRead() const { return static_cast<std::int64_t>(unreadFolders_.size()); }
    // True when the walk ended early because the hooks asked to stop.
    bool Stopped() const { return stopped_; }

    // A folder below the start folder that later walks leave out, with everything below it.
    void LeaveOut(LeftOutFolder folder);
    // The paths by which the last walk met it.
    const std::vector<std::string> &LeftOutMet() const { return leftOutMet_; }

private:
    void DropLists();
    bool YieldAndCheckStop();

    WorkHooks &hooks_;
    const DirectoryLister &lister_;
    std::int64_t counter_ = 0;
    std::vector<UnreadFolder> unreadFolders_;
    bool stopped_ = false;
    std::optional<LeftOutFolder> leftOut_;
    std::string leftOutKey_;  // its path as the file system compares paths
    std::vector<std::string> leftOutMet_;
    // The walk's queue: every folder met, each ending in a separator, the start folder first.
    TextList pathNames_;
    std::shared_ptr<TextList> fullFileNames_;
};

}  // namespace tarvelin
