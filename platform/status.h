// The result of a file-system operation: success, or a kind and a plain reason for the user.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace tarvelin {

enum class ErrorKind {
    None,
    AlreadyExists,  // the destination is taken; callers that number names count on
    NotFound,
    Stopped,  // the caller's hooks asked to stop; nothing was left behind
    OtherVolume,  // a move between two file systems, which only a copy can do
    TooManyOpenFiles,  // the process or the system may open no more files now; later it may
    Other,
};

// Every failure must reach someone, so a Status is never dropped unread.
class [[nodiscard]] Status {
public:
    Status() = default;

    static Status Ok() { return {}; }
    static Status Failure(ErrorKind kind, std::string reason) { return Status(kind, std::move(reason)); }
    // "what: strerror(err)", with the kind taken from err (EEXIST, ENOENT, ...).
    static Status FromErrno(int err, std::string_view what);
    // What every piece of work gives that ended because the hooks asked it to stop.
    static Status Stopped() { return Status(ErrorKind::Stopped, "the copy was stopped"); }
    // What a message's work gives when memory ran out for it.
    static Status OutOfMemory() { return Status(ErrorKind::Other, "not enough memory for the message"); }

    bool ok() const { return kind_ == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return kind_; }
    const std::string &reason() const { return reason_; }

private:
    Status(ErrorKind kind, std::string reason) : kind_(kind), reason_(std::move(reason)) {}

    ErrorKind kind_ = ErrorKind::None;
    std::string reason_;
};

}  // namespace tarvelin
