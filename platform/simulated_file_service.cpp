#include "platform/simulated_file_service.h"

#include "platform/file_ops.h"

namespace tarvelin {

template <typename Interface>
class SimulatedStaged : public Interface {
public:
    SimulatedStaged(SimulatedFileService &files, std::string source) : files_(files), source_(std::move(source)) {}

    Status Flush() override { return Status::Ok(); }
    Status ClaimAs(const std::string &destination) override {
        if (files_.FileExist(destination)) return NameTaken();
        files_.created_.emplace(SameFileKey(destination), source_);
        return Status::Ok();
    }

private:
    SimulatedFileService &files_;
    std::string source_;
};

class SimulatedNewFile : public SimulatedStaged<StagedNewFile> {
public:
    using SimulatedStaged::SimulatedStaged;
    Status Append(std::string_view) override { return Status::Ok(); }
    Status TruncateTo(std::uint64_t) override { return Status::Ok(); }
    Status SetModified(std::int64_t) override { return Status::Ok(); }
};

Status SimulatedFileService::EnsureFolderExists(const std::string &folder, bool *made) {
    if (made != nullptr) *made = false;
    return CheckFolderCreatable(folder);
}

bool SimulatedFileService::FileExist(const std::string &path) {
    return created_.count(SameFileKey(path)) > 0 || tarvelin::FileExist(path);
}

Status SimulatedFileService::StageCopy(const std::string &source, const std::string &folder, WorkHooks &,
                                       std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t>,
                                       SourceHead *) {
    staged.reset();
    Status status = CheckStaging(source, folder);
    if (status) staged = std::make_unique<SimulatedStaged<StagedFile>>(*this, source);
    return status;
}

Status SimulatedFileService::StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) {
    file.reset();
    Status status = CheckFolderTakesFiles(folder, "cannot create the copy");
    if (status) file = std::make_unique<SimulatedNewFile>(*this, std::string());
    return status;
}

Status SimulatedFileService::ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                                        const std::function<Status(const SourceHead &)> &headRead,
                                        const std::function<Status(std::string_view)> &take) {
    return tarvelin::ReadSource(source, head, headRead, take, RealSysCalls(), &hooks);
}

bool SimulatedFileService::SameContent(const std::string &source, const std::string &existing) {
    const auto created = created_.find(SameFileKey(existing));
    return tarvelin::SameContent(source, created != created_.end() ? created->second : existing);
}

DirectoryListing SimulatedFileService::ListFolder(const std::string &folder) {
    return NativeDirectoryLister().List(folder);
}

}  // namespace tarvelin
