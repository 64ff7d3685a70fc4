#include "platform/status.h"

#include <cerrno>
#include <cstring>

namespace tarvelin {

Status Status::FromErrno(int err, std::string_view what) {
    ErrorKind kind = ErrorKind::Other;
    if (err == EEXIST) kind = ErrorKind::AlreadyExists;
    if (err == ENOENT) kind = ErrorKind::NotFound;
    if (err == EMFILE || err == ENFILE) kind = ErrorKind::TooManyOpenFiles;
    std::string reason(what);
    reason += ": ";
    reason += std::strerror(err);
    return Failure(kind, std::move(reason));
}

}  // namespace tarvelin
