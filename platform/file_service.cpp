#include "platform/file_service.h"

#include "platform/file_ops.h"

namespace tarvelin {

namespace {

class NativeStagedFile : public StagedFile {
public:
    explicit NativeStagedFile(StagedCopy copy) : copy_(std::move(copy)) {}
    Status Flush() override { return copy_.Flush(); }
    Status ClaimAs(const std::string &destination) override { return copy_.ClaimAs(destination); }
    bool KeptSourceTime() const override { return copy_.KeptSourceTime(); }

private:
    StagedCopy copy_;
};

}  // namespace

Status NativeFileService::EnsureFolderExists(const std::string &folder) {
    return EnsureFolder(folder, sys_);
}

bool NativeFileService::FileExist(const std::string &path) { return tarvelin::FileExist(path, sys_); }

Status NativeFileService::StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                                    std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified) {
    staged.reset();
    StagedCopy copy;
    Status status = tarvelin::StageCopy(source, folder, copy, sys_, &hooks, modified);
    if (status) staged = std::make_unique<NativeStagedFile>(std::move(copy));
    return status;
}

bool NativeFileService::SameContent(const std::string &source, const std::string &existing) {
    return tarvelin::SameContent(source, existing, sys_);
}

}  // namespace tarvelin
