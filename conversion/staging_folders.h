// Hidden folders below the output folder where a parallel run's workers stage their copies.
// Creating and removing a file takes its folder's lock, and on a network share each of those is a
// round trip: with the copies staged beside their final names, the naming, which must go in list
// order, would wait behind the workers' creates in the same folder. A claim moves a copy from its
// staging folder into a folder that only the naming writes to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_service.h"

namespace tarvelin {

class StagingFolders {
public:
    // `count` folders, taken in turn, inside one ".tarvelin-<random>.part" folder of `outputRoot`;
    // each is made when first needed. The run holds a lock in that folder while it is there, so
    // that a later run tells it from the leftover of a run that was killed.
    StagingFolders(FileService &files, const std::string &outputRoot, std::size_t count);
    // Removes the folders, which are empty once every copy staged there was claimed or dropped.
    ~StagingFolders();
    StagingFolders(const StagingFolders &) = delete;
    StagingFolders &operator=(const StagingFolders &) = delete;

    // Where the copy of the message with this number in the list is staged: one of the first
    // `spread` staging folders (as many as workers take jobs: each folder is a round trip to
    // make), or, when that cannot be made, the message's own output folder.
    const std::string &For(std::size_t message, std::size_t spread, const std::string &outputFolder);

private:
    enum class State { NotMade, Made, Failed };

    FileService &files_;
    const std::string root_;
    std::vector<std::string> folders_;
    std::vector<State> states_;
    State rootState_ = State::NotMade;
    FileLock lock_;
};

// Removes from the output folder the staging folders that no live run holds, with the copies a
// killed run left in them; anything but our temporary files stays, and so does its folder. For a
// run that holds the output folder, so that no run of ours is starting one meanwhile.
void RemoveDeadStagingFolders(const std::string &outputRoot);

}  // namespace tarvelin
