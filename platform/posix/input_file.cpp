#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

namespace tarvelin {

InputFile::InputFile(const std::string &path) {
    // O_NONBLOCK keeps a FIFO or device from blocking the open; regular files ignore it.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!file.valid()) {
        status_ = Status::FromErrno(errno, "cannot open the message");
        // The file may exist and still refuse to open; its date is then still known.
        if (::stat(path.c_str(), &info) == 0) {
            exists_ = true;
            modified_ = info.st_mtime;
        }
        return;
    }
    if (::fstat(file.get(), &info) != 0) {
        status_ = Status::FromErrno(errno, "cannot read the message");
        return;
    }
    file_ = file.release();
    exists_ = true;
    modified_ = info.st_mtime;
    size_ = static_cast<std::uint64_t>(info.st_size);
    kind_ = S_ISREG(info.st_mode) ? Kind::Regular : S_ISDIR(info.st_mode) ? Kind::Folder : Kind::Other;
}

InputFile::~InputFile() { UniqueFd closing(static_cast<int>(file_)); }

std::ptrdiff_t InputFile::Read(char *buffer, std::size_t count) {
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(file_), buffer, count);
        if (got >= 0 || errno != EINTR) return got;
    }
}

}  // namespace tarvelin
