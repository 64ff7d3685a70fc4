#include "cli/simulated_file_service.h"

#include "platform/file_ops.h"

namespace tarvelin {

class SimulatedStagedFile : public StagedFile {
public:
    SimulatedStagedFile(SimulatedFileService &files, std::string source)
        : files_(files), source_(std::move(source)) {}

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

Status SimulatedFileService::EnsureFolderExists(const std::string &folder) {
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
    if (status) staged = std::make_unique<SimulatedStagedFile>(*this, source);
    return status;
}

bool SimulatedFileService::SameContent(const std::string &source, const std::string &existing) {
    const auto created = created_.find(SameFileKey(existing));
    return tarvelin::SameContent(source, created != created_.end() ? created->second : existing);
}

}  // namespace tarvelin
