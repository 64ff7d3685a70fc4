#include "platform/new_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

namespace tarvelin {

NewFile::~NewFile() { UniqueFd closing(static_cast<int>(file_)); }

Status NewFile::Create(const std::string &path) {
    if (path.find('\0') != std::string::npos)
        return Status::Failure(ErrorKind::Other, "cannot create the file: no valid path");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) return Status::FromErrno(errno, "cannot create the file");
    UniqueFd closing(static_cast<int>(file_));
    file_ = fd;
    return Status::Ok();
}

Status NewFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(static_cast<int>(file_), bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return Status::FromErrno(written < 0 ? errno : ENOSPC, "cannot write the file");
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return Status::Ok();
}

}  // namespace tarvelin
