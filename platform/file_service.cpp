#include "platform/file_service.h"

#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

// A staged copy or new file of the real file system, claimed by the way its folder takes.
template <typename Interface>
class NativeStaged : public Interface {
public:
    NativeStaged(NativeFileService &files, StagedCopy copy) : files_(files), copy_(std::move(copy)) {}
    Status Flush() override { return copy_.Flush(); }
    void StartWriteback() override { copy_.StartWriteback(); }
    Status ClaimAs(const std::string &destination) override {
        const std::string folder = FolderFromPath(destination);
        ClaimRoute route = files_.RouteIn(folder);
        Status claimed = copy_.ClaimAs(destination, &route);
        files_.KeepRoute(folder, route);
        return claimed;
    }
    bool KeptSourceTime() const override { return copy_.KeptSourceTime(); }
    bool LeftToRemove() const override { return copy_.LeftToRemove(); }

protected:
    NativeFileService &files_;
    StagedCopy copy_;
};

class NativeStagedNewFile : public NativeStaged<StagedNewFile> {
public:
    using NativeStaged::NativeStaged;
    Status Append(std::string_view bytes) override { return copy_.Append(bytes); }
    Status TruncateTo(std::uint64_t size) override { return copy_.TruncateTo(size); }
    Status SetModified(std::int64_t unixSeconds) override { return copy_.SetModified(unixSeconds); }
};

ClaimRoute NativeFileService::RouteIn(const std::string &folder) {
    std::unique_lock lock(routesMutex_);
    const auto [known, first] = routes_.try_emplace(folder);
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
    Status status = tarvelin::StageCopy(source, folder, copy, sys_, &hooks, modified, head, &folders_);
    if (status) staged = std::make_unique<NativeStaged<StagedFile>>(*this, std::move(copy));
    return status;
}

Status NativeFileService::StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) {
    file.reset();
    StagedCopy copy;
    Status status = tarvelin::StageNew(folder, copy, sys_);
    if (status) file = std::make_unique<NativeStagedNewFile>(*this, std::move(copy));
    return status;
}

Status NativeFileService::ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                                     const std::function<Status(const SourceHead &)> &headRead,
                                     const std::function<Status(std::string_view)> &take) {
    return tarvelin::ReadSource(source, head, headRead, take, sys_, &hooks, &folders_);
}

DirectoryListing NativeFileService::ListFolder(const std::string &folder) {
    return NativeDirectoryLister().List(folder);
}

void NativeFileService::RemoveFile(const std::string &path) { tarvelin::RemoveFile(path, sys_); }

void NativeFileService::RemoveEmptyFolder(const std::string &folder) { tarvelin::RemoveEmptyFolder(folder, sys_); }

bool NativeFileService::SameContent(const std::string &source, const std::string &existing) {
    return tarvelin::SameContent(source, existing, sys_);
}

}  // namespace tarvelin
