// The file operations a run needs, behind an interface so that a dry run can simulate them and
// tests can make them fail.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/folder_handles.h"
#include "platform/open_file_room.h"
#include "platform/source_head.h"
#include "platform/staging_record.h"
#include "platform/status.h"
#include "platform/syscalls.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// A complete copy of one message waiting for its final name. Dropped unclaimed, it leaves nothing.
class StagedFile {
public:
    virtual ~StagedFile() = default;
    // Waits until the copy is on the disk. The claim does it first when it was not done; done for
    // several copies before they are claimed, it costs the disk one commit for all of them.
    virtual Status Flush() = 0;
    // Lets the disk start on a copy that waits before its flush (advice; nothing by default).
    virtual void StartWriteback() {}
    // Gives the copy this name without ever replacing what is there: AlreadyExists when taken,
    // and the copy stays staged for another name.
    virtual Status ClaimAs(const std::string &destination) = 0;
    // A modification time was asked for and the file system refused it: the copy has the source's.
    virtual bool KeptSourceTime() const { return false; }
    // Claimed, dropping the copy still removes its temporary name (a call that a hurried caller
    // may leave to another thread).
    virtual bool LeftToRemove() const { return false; }
};

// A file written rather than copied (an mbox file), staged like a copy until it is complete.
class StagedNewFile : public StagedFile {
public:
    // Adds bytes at the end, before Flush.
    virtual Status Append(std::string_view bytes) = 0;
    // Cuts the file back to its first `size` bytes: what was added since is taken back.
    virtual Status TruncateTo(std::uint64_t size) = 0;
    // Gives the complete file this modification time (seconds since 1970), before Flush.
    virtual Status SetModified(std::int64_t unixSeconds) = 0;
};

class FileService {
public:
    virtual ~FileService() = default;
    // With `made`, whether the folder itself was made now (so that it holds nothing yet).
    virtual Status EnsureFolderExists(const std::string &folder, bool *made = nullptr) = 0;
    [[nodiscard]] virtual bool FileExist(const std::string &path) = 0;
    // Copies the source into `folder` under a hidden temporary name. Yields to the hooks during a
    // large copy; a stop request ends it with ErrorKind::Stopped and no file. With `modified`
    // (seconds since 1970, UTC) the copy gets that time in place of the source's. With a head,
    // the copy may read the source's first bytes into it (head->read says whether it did).
    virtual Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                             std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified = std::nullopt,
                             SourceHead *head = nullptr) = 0;
    // An empty file under a hidden temporary name in `folder` (which must exist), to be written.
    virtual Status StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) = 0;
    // Reads the source whole for output that holds its bytes in another form: the ReadSource of
    // the file utilities. A source that changed meanwhile is read once more: `headRead` is called
    // again, and what `take` got before is to be dropped.
    virtual Status ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                              const std::function<Status(const SourceHead &)> &headRead,
                              const std::function<Status(std::string_view)> &take) = 0;
    // Whether the two files hold the same bytes; any failure to read counts as different.
    [[nodiscard]] virtual bool SameContent(const std::string &source, const std::string &existing) = 0;
    // The folder's entries, as the directory lister gives them.
    virtual DirectoryListing ListFolder(const std::string &folder) = 0;
    // Removes a file this program left (a temporary one), where it can.
    virtual void RemoveFile(const std::string &path) = 0;
    // Removes a folder if it is empty (one this run made for its own use).
    virtual void RemoveEmptyFolder(const std::string &folder) = 0;
    // Lets go of the folders kept open for quicker calls, so that none stays busy (a drive that
    // will not eject) once a run is over.
    virtual void CloseFolders() {}
    // The temporary files that could not be removed since the last call.
    virtual std::vector<LeftFile> TakeLeftBehind() { return {}; }
};

class NativeStagedCopy;

// The real file system, through the file utilities and the system calls given (tests fake them).
// Takes calls from several threads at once. Where the process may open no more files, a call
// that needs one makes room (the folders kept open go, complete copies waiting for their names
// are flushed and closed and give up their folders) or waits for another call to end, and tries again; it fails only when
// nothing else is under way.
class NativeFileService : public FileService {
public:
    explicit NativeFileService(const SysCalls &sys = RealSysCalls()) : sys_(sys), folders_(sys) {}
    Status EnsureFolderExists(const std::string &folder, bool *made = nullptr) override;
    bool FileExist(const std::string &path) override;
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified = std::nullopt,
                     SourceHead *head = nullptr) override;
    Status StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) override;
    Status ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                      const std::function<Status(const SourceHead &)> &headRead,
                      const std::function<Status(std::string_view)> &take) override;
    bool SameContent(const std::string &source, const std::string &existing) override;
    DirectoryListing ListFolder(const std::string &folder) override;
    void RemoveFile(const std::string &path) override;
    void RemoveEmptyFolder(const std::string &folder) override;
    void CloseFolders() override { folders_.CloseAll(); }
    std::vector<LeftFile> TakeLeftBehind() override { return record_.TakeLeftBehind(); }

private:
    template <typename Interface>
    friend class NativeStaged;
    friend class NativeStagedCopy;
    // Runs an operation that opens files in a place of the room, and once more after each time
    // room was made for it.
    template <typename Operation>
    Status WithRoom(Operation operation);
    bool MakeRoom(bool &foldersLetGo, int &alone);
    // Copies staged and not yet claimed, which a need of room may flush ahead of their turn and
    // make give up their folders.
    void Waiting(NativeStagedCopy *copy, bool waits);
    // How copies got their names in each folder so far (ClaimRoute). The first claim in a folder
    // learns it; claims meanwhile in the same folder (on other threads) wait for that, rather than
    // each trying the calls the file system may refuse.
    // `first` tells the claim that learns it, which must keep what it learnt.
    ClaimRoute RouteIn(const std::string &folder, bool &first);
    void KeepRoute(const std::string &folder, ClaimRoute route);

    struct Route {
        ClaimRoute route = ClaimRoute::NoReplaceRename;
        bool learnt = false;
    };

    const SysCalls &sys_;
    FolderHandles folders_;
    std::mutex routesMutex_;
    std::condition_variable routeLearnt_;
    std::unordered_map<std::string, Route> routes_;
    // How copies keep their times in each folder, and what they left behind.
    StagingRecord record_;
    OpenFileRoom room_;
    std::mutex waitingMutex_;
    // A list through the copies themselves: joining and leaving it takes no memory.
    NativeStagedCopy *firstWaiting_ = nullptr;  // under waitingMutex_
};

}  // namespace tarvelin
