// Adds every file whose name ends in ".msg" below a folder to the message list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "messagelist/message_list.h"
#include "messagelist/path_logger.h"
#include "platform/directory_lister.h"
#include "platform/work_hooks.h"

namespace tarvelin {

struct FolderScanResult {
    std::int64_t added = 0;           // rows appended to the list
    std::vector<UnreadFolder> unreadFolders;  // skipped because they could not be listed
    std::vector<std::string> leftOut;         // the left-out folder, where the walk met it
    bool stopped = false;             // the hooks asked to stop; the list holds what was added

    std::int64_t FoldersNotRead() const { return static_cast<std::int64_t>(unreadFolders.size()); }
};

// The filter: lower-cased, blanks trimmed, ends in ".msg".
bool IsMessageFilePath(std::string_view path);

// Walks `folder` (a separator is added when missing) and appends each matching path exactly as
// listed. Appends to the list; never resets it. A folder below it that is `leftOut` is not walked.
FolderScanResult ScanFolderIntoList(const std::string &folder, MessageList &list,
                                    WorkHooks &hooks = NoWorkHooks(),
                                    const DirectoryLister &lister = NativeDirectoryLister(),
                                    const LeftOutFolder *leftOut = nullptr);

}  // namespace tarvelin
