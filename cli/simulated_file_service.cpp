#include "cli/simulated_file_service.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tarvelin {

Status SimulatedFileService::EnsureFolderExists(const std::string &) { return Status::Ok(); }

bool SimulatedFileService::FileExist(const std::string &path) {
    return created_.count(path) > 0 || real_.FileExist(path);
}

Status SimulatedFileService::CopyFileTo(const std::string &source, const std::string &destination,
                                        bool failIfExists, WorkHooks &) {
    // The source must be readable, as the real copy would need it to be.
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno, "cannot open the message");
    struct stat info {};
    const bool isFolder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    ::close(fd);
    if (isFolder) return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    if (failIfExists && FileExist(destination))
        return Status::Failure(ErrorKind::AlreadyExists, "the output file exists");
    created_.insert(destination);
    return Status::Ok();
}

}  // namespace tarvelin
