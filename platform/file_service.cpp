#include "platform/file_service.h"

#include "platform/file_ops.h"

namespace tarvelin {

Status NativeFileService::EnsureFolderExists(const std::string &folder) {
    return EnsureFolder(folder);
}

bool NativeFileService::FileExist(const std::string &path) { return tarvelin::FileExist(path); }

Status NativeFileService::CopyFileTo(const std::string &source, const std::string &destination,
                                     bool failIfExists, WorkHooks &hooks) {
    return CopyFile(source, destination, failIfExists, RealSysCalls(), &hooks);
}

}  // namespace tarvelin
