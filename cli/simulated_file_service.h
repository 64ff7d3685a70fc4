// A file service for dry runs: it answers from the real file system plus what the run would have
// created, and writes nothing. It makes the real service's checks, so the names, the failures and
// the exit status are the ones a real run into the same output folder would give.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/file_service.h"

namespace tarvelin {

class SimulatedFileService : public FileService {
public:
    Status EnsureFolderExists(const std::string &folder) override;
    bool FileExist(const std::string &path) override;
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified = std::nullopt,
                     SourceHead *head = nullptr) override;
    bool SameContent(const std::string &source, const std::string &existing) override;
    void RemoveEmptyFolder(const std::string &) override {}  // a dry run makes none

private:
    friend class SimulatedStagedFile;
    // Each file the run would have written (by SameFileKey), with the source it would hold.
    std::unordered_map<std::string, std::string> created_;
};

}  // namespace tarvelin
