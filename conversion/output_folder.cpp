#include "conversion/output_folder.h"

#include "conversion/staging_folders.h"
#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

constexpr const char *kLockName = ".tarvelin.lock";

std::string WithoutSeparator(std::string path) {
    while (path.size() > 1 && path.back() == kNativeSeparator) path.pop_back();
    return path;
}

// The folder and those of its parents that are missing, deepest first.
std::vector<std::string> MissingLevels(const std::string &folder) {
    std::vector<std::string> missing;
    for (std::string level = WithoutSeparator(folder); !NativeDirectoryLister().FolderExists(level);) {
        missing.push_back(level);
        std::string parent = WithoutSeparator(FolderFromPath(level));
        if (parent.empty() || parent.size() >= level.size()) break;
        level = std::move(parent);
    }
    return missing;
}

Status AnotherRunWrites(const std::string &folder) {
    return Status::Failure(ErrorKind::Other,
                           "cannot write to the folder " + folder + ": another run of Tarvelin is writing to it");
}

}  // namespace

Status CheckOutputFolder(const std::string &folder) {
    if (Status creatable = CheckFolderCreatable(folder); !creatable) return creatable;
    return CheckFolderTakesFiles(folder, "cannot write to the folder " + folder);
}

OutputFolderHold::~OutputFolderHold() {
    lock_.Release();
    for (const std::string &level : made_) RemoveEmptyFolder(level);
}

Status OutputFolderHold::Take(const std::string &folder) {
    made_ = MissingLevels(folder);
    if (Status made = EnsureFolder(folder); !made) return made;
    const std::string lockFile = AddSeparator(folder) + kLockName;
    std::string reason;
    switch (lock_.Take(lockFile, true, reason)) {
    case LockState::Held:
        RemoveDeadStagingFolders(folder);
        return Status::Ok();
    case LockState::HeldElsewhere:
        return AnotherRunWrites(folder);
    case LockState::Failed:
        // Where no new file can be made, no copy can be made either (Windows tells only so).
        if (!FileExist(lockFile)) return Status::Failure(ErrorKind::Other, "cannot write to the folder " + folder + ": " + reason);
        break;
    case LockState::NotKept:
    case LockState::Free:
        break;
    }
    unguarded_ = "cannot lock " + lockFile + " (" + reason + "): another run writing there meanwhile would not be noticed";
    return Status::Ok();
}

Status OutputFolderHold::Check(const std::string &folder) {
    if (ProbeLock(AddSeparator(folder) + kLockName) == LockState::HeldElsewhere) return AnotherRunWrites(folder);
    return Status::Ok();
}

}  // namespace tarvelin
