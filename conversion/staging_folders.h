// Hidden folders below the output folder where a parallel run's workers stage their copies.
// Creating and removing a file takes its folder's lock, and on a network share each of those is a
// round trip: with the copies staged beside their final names, the naming, which must go in list
// order, would wait behind the workers' creates in the same folder. A claim moves a copy from its
// staging folder into a folder that only the naming writes to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/file_service.h"

namespace tarvelin {

class StagingFolders {
public:
    // `count` folders, taken in turn, inside one ".tarvelin-<random>.part" folder of `outputRoot`;
    // each is made when first needed.
    StagingFolders(FileService &files, const std::string &outputRoot, std::size_t count);
    // Removes the folders, which are empty once every copy staged there was claimed or dropped.
    ~StagingFolders();
    StagingFolders(const StagingFolders &) = delete;
    StagingFolders &operator=(const StagingFolders &) = delete;

    // Where the copy of the message with this number in the list is staged: a staging folder,
    // or, when that cannot be made, the message's own output folder.
    const std::string &For(std::size_t message, const std::string &outputFolder);

private:
    enum class State { NotMade, Made, Failed };

    FileService &files_;
    const std::string root_;
    std::vector<std::string> folders_;
    std::vector<State> states_;
};

}  // namespace tarvelin
