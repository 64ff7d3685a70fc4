// A file service for dry runs: it answers from the real file system plus what the run would have
// created, and writes nothing, so the names it hands out are the ones a real run would give.
#pragma once

#include <string>
#include <unordered_set>

#include "platform/file_service.h"

namespace tarvelin {

class SimulatedFileService : public FileService {
public:
    explicit SimulatedFileService(FileService &real) : real_(real) {}

    Status EnsureFolderExists(const std::string &folder) override;
    bool FileExist(const std::string &path) override;
    Status CopyFileTo(const std::string &source, const std::string &destination, bool failIfExists,
                      WorkHooks &hooks) override;

private:
    FileService &real_;
    std::unordered_set<std::string> created_;
};

}  // namespace tarvelin
