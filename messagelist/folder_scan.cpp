#include "messagelist/folder_scan.h"

#include "messagelist/path_logger.h"
#include "platform/ascii_case.h"
#include "platform/path_split.h"

namespace tarvelin {

bool IsMessageFilePath(std::string_view path) {
    // ".msg" holds no blank, so it can only end where the trailing blanks begin; leading blanks
    // never reach it.
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == ' ') --end;
    return EndsWithIgnoringAsciiCase(path.substr(0, end), ".msg");
}

FolderScanResult ScanFolderIntoList(const std::string &folder, MessageList &list, WorkHooks &hooks,
                                    const DirectoryLister &lister, const LeftOutFolder *leftOut) {
    FolderScanResult result;
    // An empty name is no folder; with a separator added it would name the file system's root.
    if (folder.empty()) return result;
    const std::string start = AddSeparator(folder);

    auto stopRequested = [&] {
        result.stopped = hooks.StopRequested();
        return result.stopped;
    };
    auto yieldAndCheckStop = [&] {
        hooks.Yield();
        return stopRequested();
    };

    std::shared_ptr<pathLogger::TextList> paths;
    {
        pathLogger walker(hooks, lister);
        if (leftOut != nullptr) walker.LeaveOut(*leftOut);
        if (yieldAndCheckStop()) return result;
        walker.PathLogInit();
        if (stopRequested()) return result;
        walker.LogPath(start);
        result.unreadFolders = walker.UnreadFolders();
        result.leftOut = walker.LeftOutMet();
        if (walker.Stopped()) {
            result.stopped = true;
            return result;
        }
        if (yieldAndCheckStop()) return result;
        paths = walker.fullFileNames();
        walker.Terminate();
        if (stopRequested()) return result;
    }

    if (yieldAndCheckStop()) return result;
    // Grown once: the walker's paths and the list are both at their largest here.
    list.Reserve(list.EntryCount() + paths->Count());
    for (std::size_t position = 1; position <= paths->Count(); ++position) {
        // Each path is read once, in order: what is copied goes, so the paths exist about once.
        if (position % 1024 == 0) paths->ReleaseUpTo(position - 1);
        const std::string_view path = paths->Item(position);
        if (yieldAndCheckStop()) return result;
        if (!IsMessageFilePath(path)) continue;
        if (yieldAndCheckStop()) return result;
        list.AddFileToList(path);
        ++result.added;
    }
    return result;
}

}  // namespace tarvelin
