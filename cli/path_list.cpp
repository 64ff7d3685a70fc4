#include "cli/path_list.h"

#include <algorithm>
#include <ostream>
#include <set>
#include <utility>

#include "cli/cli_observer.h"
#include "messagelist/folder_scan.h"
#include "messagelist/name_order.h"
#include "platform/directory_lister.h"
#include "platform/file_ops.h"
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

// The rows of the list, each with the PATH it was found below (or its account's folder), for the
// mailbox run; the list then lets them go, so that a scan of many PATHs holds its paths once.
void MoveToSources(MessageList &list, const std::string &root, std::vector<MailboxSource> &sources,
                   std::size_t account = kNoAccount) {
    if (list.IsEmpty()) return;
    for (std::size_t row = 0; row < list.RowCount(); ++row)
        sources.push_back({std::string(list.RowText(row)), root, account});
    list.ResetFileList();
}

// A folder's entries in the order the scan takes them.
DirectoryListing SortedListing(const DirectoryLister &lister, const std::string &folder) {
    DirectoryListing listing = lister.List(folder);
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const DirectoryEntry &a, const DirectoryEntry &b) { return NtfsNameLess(a.name, b.name); });
    return listing;
}

class PathLister {
public:
    PathLister(PathList &listed, bool mailboxes, CliStreams streams, ProgressMeter *meter,
               const std::string &outputFolder, bool nulEnded)
        : listed_(listed), mailboxes_(mailboxes), streams_(streams), meter_(meter), nulEnded_(nulEnded),
          leftOut_{AddSeparator(outputFolder), IdentityOfFolder(outputFolder)}, lister_(leftOut_.identity),
          hooks_(streams.stopSignal, meter, lister_) {}

    void Add(const std::string &path, bool accounts) {
        const std::string absolute = AbsolutePath(path);
        if (accounts) {
            if (lister_.FolderExists(absolute)) {
                AddStore(absolute);
            } else {
                Unread(absolute, "not a folder: with --accounts each PATH is the Users folder of a store");
            }
        } else if (lister_.FolderExists(absolute)) {
            Scan(absolute, kNoAccount);
        } else {
            listed_.list.AddFileToList(absolute);
            ++hooks_.filesGiven;
            // A file given by itself goes to INBOX.
            if (mailboxes_) MoveToSources(listed_.list, std::string(), listed_.sources);
        }
    }

    bool StopRequested() const { return hooks_.StopRequested(); }

private:
    void Scan(const std::string &folder, std::size_t account) {
        lister_.NewWalk(folder);
        const FolderScanResult scan = ScanFolderIntoList(folder, listed_.list, hooks_, lister_, &leftOut_);
        for (const UnreadFolder &unread : scan.unreadFolders) Unread(unread.path, unread.reason);
        if (listed_.leftOut.empty() && !scan.leftOut.empty()) listed_.leftOut = scan.leftOut.front();
        if (mailboxes_) MoveToSources(listed_.list, folder, listed_.sources, account);
    }

    // MDaemon keeps each account in Users/<domain>/<account>/. A message lying outside these is
    // listed all the same, so that its failure is said.
    void AddStore(const std::string &users) {
        const DirectoryListing domains = ListFolder(AddSeparator(users));
        for (const DirectoryEntry &domain : domains.entries) {
            if (!domain.isFolder || StopRequested()) continue;
            const std::string domainFolder = AddSeparator(users) + domain.name;
            if (IsLeftOut(domainFolder)) continue;
            const DirectoryListing accounts = ListFolder(AddSeparator(domainFolder));
            for (const DirectoryEntry &account : accounts.entries) {
                if (!account.isFolder || StopRequested() || IsLeftOut(AddSeparator(domainFolder) + account.name))
                    continue;
                listed_.accounts.push_back({domain.name, account.name});
                Scan(AddSeparator(domainFolder) + account.name, listed_.accounts.size() - 1);
            }
        }
    }

    // The folder's entries, its messages listed as outside every account.
    DirectoryListing ListFolder(const std::string &folder) {
        const DirectoryListing listing = SortedListing(lister_, folder);
        if (!listing.status) {
            Unread(folder.substr(0, folder.size() - 1), listing.status.reason());
            return {};
        }
        for (const DirectoryEntry &entry : listing.entries)
            if (!entry.isFolder && IsMessageFilePath(entry.name))
                listed_.sources.push_back({folder + entry.name, folder, kOutsideAccounts});
        hooks_.Yield();
        return listing;
    }

    void Unread(const std::string &path, const std::string &reason) {
        if (meter_) meter_->Interrupt();
        PrintNote(streams_.err, path, reason, nulEnded_);
        ++listed_.foldersNotRead;
    }

    // The output folder met at a store's level is left out as the scan leaves it out below.
    bool IsLeftOut(const std::string &folder) {
        if (SameFileKey(AddSeparator(folder)) != SameFileKey(leftOut_.path)) return false;
        if (listed_.leftOut.empty()) listed_.leftOut = leftOut_.path;
        return true;
    }

    PathList &listed_;
    const bool mailboxes_;
    CliStreams streams_;
    ProgressMeter *const meter_;
    const bool nulEnded_;
    const LeftOutFolder leftOut_;
    CountingLister lister_;
    ScanHooks hooks_;
};

}  // namespace

PathList ListPaths(const std::vector<std::string> &paths, bool mailboxes, bool accounts, CliStreams streams,
                   ProgressMeter *meter, const std::string &outputFolder, bool nulEnded) {
    PathList listed;
    PathLister lister(listed, mailboxes, streams, meter, outputFolder, nulEnded);
    for (const std::string &path : paths) {
        lister.Add(path, accounts);
        if (lister.StopRequested()) {
            listed.stopped = true;
            break;
        }
    }
    return listed;
}

}  // namespace tarvelin
