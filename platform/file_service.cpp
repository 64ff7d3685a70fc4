#include "platform/file_service.h"

#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

// A staged copy or new file of the real file system, claimed by the way its folder takes. A flush
// may come from the service, ahead of the owner's, when room for open files is needed: what it
// gave is what the owner's flush gives.
template <typename Interface>
class NativeStaged : public Interface {
public:
    NativeStaged(NativeFileService &files, StagedCopy copy) : files_(files), copy_(std::move(copy)) {}
    Status Flush() override {
        std::lock_guard lock(mutex_);
        return FlushHeld();
    }
    void StartWriteback() override {
        std::lock_guard lock(mutex_);
        copy_.StartWriteback();
    }
    Status ClaimAs(const std::string &destination) override {
        std::lock_guard lock(mutex_);
        if (Status flushed = FlushHeld(); !flushed) return flushed;
        const std::string folder = FolderFromPath(destination);
        bool first = false;
        const ClaimRoute known = files_.RouteIn(folder, first);
        ClaimRoute route = known;
        // A claim that failed for want of a descriptor left the copy staged, so it may try again.
        Status claimed = files_.WithRoom([&] { return copy_.ClaimAs(destination, &route); });
        if (first || route != known) files_.KeepRoute(folder, route);
        return claimed;
    }
    bool KeptSourceTime() const override {
        std::lock_guard lock(mutex_);
        return copy_.KeptSourceTime();
    }
    bool LeftToRemove() const override {
        std::lock_guard lock(mutex_);
        return copy_.LeftToRemove();
    }

protected:
    Status FlushHeld() {
        if (!flushed_) flushed_ = copy_.Flush();
        return *flushed_;
    }

    NativeFileService &files_;
    mutable std::mutex mutex_;
    StagedCopy copy_;                // under mutex_
    std::optional<Status> flushed_;  // under mutex_
};

// A complete copy, which the service may flush ahead of its turn, and make give up its open
// folder, while it waits for its name.
class NativeStagedCopy : public NativeStaged<StagedFile> {
public:
    NativeStagedCopy(NativeFileService &files, StagedCopy copy) : NativeStaged(files, std::move(copy)) {
        files_.Waiting(this, true);
    }
    ~NativeStagedCopy() override { files_.Waiting(this, false); }
    // Out of the waiting ones first: a need of room during the claim must not look at it.
    Status ClaimAs(const std::string &destination) override {
        files_.Waiting(this, false);
        return NativeStaged::ClaimAs(destination);
    }
    // False when its owner is busy with it or it holds nothing open any more.
    bool LetGoIfIdle() {
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock) return false;
        bool closed = false;
        if (!flushed_) {
            flushed_ = copy_.Flush();
            closed = true;
        }
        return copy_.LetGoOfFolder() || closed;
    }

private:
    friend class NativeFileService;
    // Its place among the waiting copies; under the service's waitingMutex_.
    bool waits_ = false;
    NativeStagedCopy *previousWaiting_ = nullptr;
    NativeStagedCopy *nextWaiting_ = nullptr;
};

class NativeStagedNewFile : public NativeStaged<StagedNewFile> {
public:
    using NativeStaged::NativeStaged;
    Status Append(std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        return copy_.Append(bytes);
    }
    Status TruncateTo(std::uint64_t size) override {
        std::lock_guard lock(mutex_);
        return copy_.TruncateTo(size);
    }
    Status SetModified(std::int64_t unixSeconds) override {
        std::lock_guard lock(mutex_);
        return copy_.SetModified(unixSeconds);
    }
};

template <typename Operation>
Status NativeFileService::WithRoom(Operation operation) {
    OpenFileRoom::Place place(room_);
    bool foldersLetGo = false;
    int alone = 0;
    for (;;) {
        Status status = operation();
        if (status.kind() != ErrorKind::TooManyOpenFiles || !MakeRoom(foldersLetGo, alone)) return status;
    }
}

// UBSan's check of a pointer's dynamic type probes memory through a pipe; with no descriptor
// left, which is when this runs, the probe fails and every live copy would read as invalid.
#if defined(__GNUC__)
__attribute__((no_sanitize("vptr")))
#endif
bool NativeFileService::MakeRoom(bool &foldersLetGo, int &alone) {
    // Once per operation: the retry opens a folder again, and letting it go each time would spin.
    if (!foldersLetGo) {
        foldersLetGo = true;
        if (folders_.LetGo() > 0) return true;
    }
    std::size_t closed = 0;
    {
        std::lock_guard lock(waitingMutex_);
        for (NativeStagedCopy *copy = firstWaiting_; copy != nullptr; copy = copy->nextWaiting_)
            if (copy->LetGoIfIdle()) ++closed;
    }
    return closed > 0 || room_.AwaitAnotherEnd(alone);
}

void NativeFileService::Waiting(NativeStagedCopy *copy, bool waits) {
    std::lock_guard lock(waitingMutex_);
    if (waits == copy->waits_) return;
    copy->waits_ = waits;
    if (waits) {
        copy->nextWaiting_ = firstWaiting_;
        if (firstWaiting_ != nullptr) firstWaiting_->previousWaiting_ = copy;
        firstWaiting_ = copy;
        return;
    }
    (copy->previousWaiting_ != nullptr ? copy->previousWaiting_->nextWaiting_ : firstWaiting_) = copy->nextWaiting_;
    if (copy->nextWaiting_ != nullptr) copy->nextWaiting_->previousWaiting_ = copy->previousWaiting_;
    copy->previousWaiting_ = copy->nextWaiting_ = nullptr;
}

ClaimRoute NativeFileService::RouteIn(const std::string &folder, bool &first) {
    std::unique_lock lock(routesMutex_);
    const auto [known, added] = routes_.try_emplace(folder);
    first = added;
    // The first claim learns; KeepRoute tells the others.
    if (!first) routeLearnt_.wait(lock, [&] { return known->second.learnt; });
    return known->second.route;
}

void NativeFileService::KeepRoute(const std::string &folder, ClaimRoute route) {
    {
        std::lock_guard lock(routesMutex_);
        routes_[folder] = {route, true};
    }
    routeLearnt_.notify_all();
}

Status NativeFileService::EnsureFolderExists(const std::string &folder, bool *made) {
    return EnsureFolder(folder, sys_, made);
}

bool NativeFileService::FileExist(const std::string &path) { return tarvelin::FileExist(path, sys_); }

Status NativeFileService::StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                                    std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified,
                                    SourceHead *head) {
    staged.reset();
    StagedCopy copy;
    Status status = WithRoom([&] {
        return tarvelin::StageCopy(source, folder, copy, sys_, &hooks, modified, head, &folders_, &record_);
    });
    if (status) staged = std::make_unique<NativeStagedCopy>(*this, std::move(copy));
    return status;
}

Status NativeFileService::StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) {
    file.reset();
    StagedCopy copy;
    Status status = WithRoom([&] { return tarvelin::StageNew(folder, copy, sys_, &record_); });
    if (status) file = std::make_unique<NativeStagedNewFile>(*this, std::move(copy));
    return status;
}

Status NativeFileService::ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                                     const std::function<Status(const SourceHead &)> &headRead,
                                     const std::function<Status(std::string_view)> &take) {
    return WithRoom([&] { return tarvelin::ReadSource(source, head, headRead, take, sys_, &hooks, &folders_); });
}

DirectoryListing NativeFileService::ListFolder(const std::string &folder) {
    DirectoryListing listing;
    (void)WithRoom([&] {
        listing = NativeDirectoryLister().List(folder);
        return listing.status;
    });
    return listing;
}

void NativeFileService::RemoveFile(const std::string &path) { tarvelin::RemoveFile(path, sys_); }

void NativeFileService::RemoveEmptyFolder(const std::string &folder) { tarvelin::RemoveEmptyFolder(folder, sys_); }

bool NativeFileService::SameContent(const std::string &source, const std::string &existing) {
    bool same = false;
    (void)WithRoom([&] {
        Status compared;
        same = tarvelin::SameContent(source, existing, sys_, &compared);
        return compared;
    });
    return same;
}

}  // namespace tarvelin
