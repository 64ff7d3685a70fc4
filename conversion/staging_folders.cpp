#include "conversion/staging_folders.h"

#include "platform/path_split.h"
#include "platform/temporary_name.h"

namespace tarvelin {

StagingFolders::StagingFolders(FileService &files, const std::string &outputRoot, std::size_t count)
    : files_(files), root_(AddSeparator(TemporaryNameIn(outputRoot))), states_(count, State::NotMade) {
    folders_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) folders_.push_back(AddSeparator(root_ + std::to_string(i)));
}

StagingFolders::~StagingFolders() {
    bool any = false;
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        if (states_[i] != State::Made) continue;
        files_.RemoveEmptyFolder(folders_[i]);
        any = true;
    }
    if (any) files_.RemoveEmptyFolder(root_);
}

const std::string &StagingFolders::For(std::size_t message, const std::string &outputFolder) {
    if (folders_.empty()) return outputFolder;
    const std::size_t i = message % folders_.size();
    if (states_[i] == State::NotMade) states_[i] = files_.EnsureFolderExists(folders_[i]) ? State::Made : State::Failed;
    return states_[i] == State::Made ? folders_[i] : outputFolder;
}

}  // namespace tarvelin
