#include "cli/path_list.h"

#include <ostream>
#include <set>
#include <utility>

#include "cli/cli_observer.h"
#include "messagelist/folder_scan.h"
#include "platform/directory_lister.h"
#include "platform/path_split.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

// The real file system, counting the messages in each folder as it is listed, so that a long scan
// can say how far it got before the walk hands over its paths.
class CountingLister : public DirectoryLister {
public:
    explicit CountingLister(FolderIdentity leftOut) : leftOut_(leftOut) {}

    bool FolderExists(const std::string &path) const override { return NativeDirectoryLister().FolderExists(path); }

    DirectoryListing List(const std::string &folder) const override {
        DirectoryListing listing = NativeDirectoryLister().List(folder);
        // The walk lists a folder that links lead to twice but walks it once.
        const FolderIdentity &id = listing.identity;
        const bool known = id.device != 0 || id.inode != 0;
        // The left-out folder is listed, found to be it, and not walked, unless the walk starts there.
        if (known && id == leftOut_ && folder != start_) return listing;
        if (!listing.status.ok() || (known && !seen_.emplace(id.device, id.inode).second)) return listing;
        for (const DirectoryEntry &entry : listing.entries)
            if (!entry.isFolder && IsMessageFilePath(entry.name)) ++found_;
        return listing;
    }

    std::size_t found() const { return found_; }
    // A new walk: the walker forgets the folders it has seen too.
    void NewWalk(const std::string &start) {
        seen_.clear();
        start_ = AddSeparator(start);
    }

private:
    const FolderIdentity leftOut_;
    std::string start_;
    mutable std::size_t found_ = 0;
    mutable std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
};

// Stops the folder scan on the same signals as the run, and shows how many messages it found.
class ScanHooks : public WorkHooks {
public:
    ScanHooks(const volatile std::sig_atomic_t *stopSignal, ProgressMeter *meter, const CountingLister &lister)
        : stopSignal_(stopSignal), meter_(meter), lister_(lister) {}
    void Yield() override {
        if (meter_) meter_->Scanning(filesGiven + lister_.found());
    }
    bool StopRequested() const override { return stopSignal_ != nullptr && *stopSignal_ != 0; }

    std::size_t filesGiven = 0;  // files named on the command line rather than found

private:
    const volatile std::sig_atomic_t *stopSignal_;
    ProgressMeter *const meter_;
    const CountingLister &lister_;
};

// The rows of the list, each with the PATH it was found below, for the mailbox run; the list then
// lets them go, so that a scan of many PATHs holds its paths once.
void MoveToSources(MessageList &list, const std::string &root, std::vector<MailboxSource> &sources) {
    if (list.IsEmpty()) return;
    for (std::size_t row = 0; row < list.RowCount(); ++row) sources.push_back({std::string(list.RowText(row)), root});
    list.ResetFileList();
}

}  // namespace

PathList ListPaths(const std::vector<std::string> &paths, bool mailboxes, CliStreams streams, ProgressMeter *meter,
                   const std::string &outputFolder, bool nulEnded) {
    PathList listed;
    const LeftOutFolder leftOut{AddSeparator(outputFolder), IdentityOfFolder(outputFolder)};
    CountingLister lister(leftOut.identity);
    ScanHooks scanHooks(streams.stopSignal, meter, lister);
    for (const std::string &path : paths) {
        const std::string absolute = AbsolutePath(path);
        if (lister.FolderExists(absolute)) {
            lister.NewWalk(absolute);
            const FolderScanResult scan = ScanFolderIntoList(absolute, listed.list, scanHooks, lister, &leftOut);
            if (meter && !scan.unreadFolders.empty()) meter->Interrupt();
            for (const UnreadFolder &folder : scan.unreadFolders)
                PrintNote(streams.err, folder.path, folder.reason, nulEnded);
            if (listed.leftOut.empty() && !scan.leftOut.empty()) listed.leftOut = scan.leftOut.front();
            listed.foldersNotRead += scan.FoldersNotRead();
            if (mailboxes) MoveToSources(listed.list, absolute, listed.sources);
        } else {
            listed.list.AddFileToList(absolute);
            ++scanHooks.filesGiven;
            // A file given by itself goes to INBOX.
            if (mailboxes) MoveToSources(listed.list, std::string(), listed.sources);
        }
        if (scanHooks.StopRequested()) {
            listed.stopped = true;
            break;
        }
    }
    return listed;
}

}  // namespace tarvelin
