// The file operations a conversion run needs, behind an interface so that a dry run can simulate
// them and tests can make them fail.
#pragma once

#include <string>

#include "platform/status.h"
#include "platform/work_hooks.h"

namespace tarvelin {

class FileService {
public:
    virtual ~FileService() = default;
    virtual Status EnsureFolderExists(const std::string &folder) = 0;
    virtual bool FileExist(const std::string &path) = 0;
    // Yields to the hooks during a large copy; a stop request ends it with ErrorKind::Stopped.
    virtual Status CopyFileTo(const std::string &source, const std::string &destination,
                              bool failIfExists, WorkHooks &hooks) = 0;
};

// The real file system, through the file utilities.
class NativeFileService : public FileService {
public:
    Status EnsureFolderExists(const std::string &folder) override;
    bool FileExist(const std::string &path) override;
    Status CopyFileTo(const std::string &source, const std::string &destination, bool failIfExists,
                      WorkHooks &hooks) override;
};

}  // namespace tarvelin
