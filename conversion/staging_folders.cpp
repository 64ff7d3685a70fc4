#include "conversion/staging_folders.h"

#include <algorithm>

#include "platform/directory_lister.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"
#include "platform/temporary_name.h"

namespace tarvelin {

namespace {

// Inside the staging folder, beside its numbered folders.
constexpr const char *kLockName = "lock";

}  // namespace

StagingFolders::StagingFolders(FileService &files, const std::string &outputRoot, std::size_t count)
    : files_(files), root_(AddSeparator(TemporaryNameIn(outputRoot))), states_(count, State::NotMade) {
    folders_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) folders_.push_back(AddSeparator(root_ + std::to_string(i)));
}

StagingFolders::~StagingFolders() {
    for (std::size_t i = 0; i < folders_.size(); ++i)
        if (states_[i] == State::Made) files_.RemoveEmptyFolder(folders_[i]);
    lock_.Release();
    if (rootState_ == State::Made) files_.RemoveEmptyFolder(root_);
}

const std::string &StagingFolders::For(std::size_t message, std::size_t spread, const std::string &outputFolder) {
    if (folders_.empty()) return outputFolder;
    if (rootState_ == State::NotMade) {
        rootState_ = files_.EnsureFolderExists(root_) ? State::Made : State::Failed;
        // Without the lock (a file system that keeps none) the folder works all the same; a
        // later run then leaves it, as it cannot tell it from a live one.
        std::string reason;
        if (rootState_ == State::Made) (void)lock_.Take(root_ + kLockName, true, reason);
    }
    const std::size_t i = message % std::clamp<std::size_t>(spread, 1, folders_.size());
    if (states_[i] == State::NotMade)
        states_[i] = rootState_ == State::Made && files_.EnsureFolderExists(folders_[i]) ? State::Made : State::Failed;
    return states_[i] == State::Made ? folders_[i] : outputFolder;
}

void RemoveDeadStagingFolders(const std::string &outputRoot) {
    const std::string root = AddSeparator(outputRoot);
    const DirectoryListing listing = NativeDirectoryLister().List(root);
    for (const DirectoryEntry &entry : listing.entries) {
        if (!entry.isFolder || !IsTemporaryName(entry.name)) continue;
        const std::string staging = AddSeparator(root + entry.name);
        FileLock lock;
        std::string reason;
        // A folder without a lock file was left by a run killed before it took one, or by an
        // older release; one whose lock cannot be tested is left alone.
        const LockState state = lock.Take(staging + kLockName, false, reason);
        if (state != LockState::Held && state != LockState::Free) continue;
        for (const DirectoryEntry &inner : NativeDirectoryLister().List(staging).entries) {
            if (!inner.isFolder) continue;
            const std::string folder = AddSeparator(staging + inner.name);
            for (const DirectoryEntry &file : NativeDirectoryLister().List(folder).entries)
                if (!file.isFolder && IsTemporaryName(file.name)) RemoveFile(folder + file.name);
            RemoveEmptyFolder(folder);
        }
        lock.Release();
        RemoveEmptyFolder(staging);
    }
}

}  // namespace tarvelin
