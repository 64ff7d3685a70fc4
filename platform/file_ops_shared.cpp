// The parts of the file utilities that read the same on every system; the calls to the system
// are in file_ops.cpp (POSIX) and windows/file_ops.cpp.
#include <utility>

#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

StagedCopy::StagedCopy(StagedCopy &&other) noexcept
    : sys_(std::exchange(other.sys_, nullptr)),
      temporary_(std::exchange(other.temporary_, {})),
      open_(std::exchange(other.open_, -1)) {}

StagedCopy &StagedCopy::operator=(StagedCopy &&other) noexcept {
    if (this != &other) {
        Discard();
        sys_ = std::exchange(other.sys_, nullptr);
        temporary_ = std::exchange(other.temporary_, {});
        open_ = std::exchange(other.open_, -1);
    }
    return *this;
}

StagedCopy::~StagedCopy() { Discard(); }

Status StagedCopy::Name(const std::string &destination, Replace replace) {
    if (!staged()) return Status::Failure(ErrorKind::Other, "cannot name the copy: there is no copy");
    if (Status flushed = Flush(); !flushed) return flushed;
    Status named = MoveToName(destination, replace);
    if (named) {
        sys_ = nullptr;
        temporary_.clear();
    }
    return named;
}

Status StagedCopy::ClaimAs(const std::string &destination) { return Name(destination, Replace::No); }

Status StagedCopy::ReplaceAs(const std::string &destination) { return Name(destination, Replace::Yes); }

Status CopyFile(const std::string &source, const std::string &destination, bool failIfExists,
                const SysCalls &sys, WorkHooks *hooks) {
    if (destination.empty() || destination.find('\0') != std::string::npos) {
        return Status::Failure(ErrorKind::Other, "cannot create the copy: no valid path");
    }
    // A taken destination is refused before a byte is copied; the claim below still never
    // replaces what appears meanwhile.
    if (failIfExists && FileExist(destination, sys)) {
        return Status::Failure(ErrorKind::AlreadyExists, "cannot name the copy: the name is taken");
    }
    StagedCopy staged;
    if (Status copied = StageCopy(source, FolderFromPath(destination), staged, sys, hooks); !copied) {
        return copied;
    }
    return failIfExists ? staged.ClaimAs(destination) : staged.ReplaceAs(destination);
}

}  // namespace tarvelin
