// The output folder of a run, for the window and the command line alike: whether it can take the
// run's files at all, and the hold a run keeps on it while it writes there.
#pragma once

#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/status.h"

namespace tarvelin {

// Ok when a run could put files below the folder, found without creating anything; otherwise
// the one failure that every message would meet ("cannot ...: reason").
Status CheckOutputFolder(const std::string &folder);

// Held while a run writes below an output folder, through the lock file ".tarvelin.lock" there: a
// second run into the same folder is refused instead of racing the first for the same names, and
// staging folders that no live run holds are known to be leftovers.
class OutputFolderHold {
public:
    OutputFolderHold() = default;
    OutputFolderHold(const OutputFolderHold &) = delete;
    OutputFolderHold &operator=(const OutputFolderHold &) = delete;
    // Lets go of the folder, and removes the folders Take made when they are still empty.
    ~OutputFolderHold();

    // Makes the folder when missing, takes its lock and removes the staging folders that killed
    // runs left there. Fails when the folder cannot be made or written, or another run holds it.
    // Where the file system keeps no locks the run may go on, but nothing keeps another run out:
    // Unguarded says why.
    Status Take(const std::string &folder);

    // What Take would meet from another run, found without making or holding anything (a dry run).
    static Status Check(const std::string &folder);

    // Empty while the hold keeps other runs out.
    const std::string &Unguarded() const { return unguarded_; }

private:
    FileLock lock_;
    std::vector<std::string> made_;  // deepest first
    std::string unguarded_;
};

}  // namespace tarvelin
