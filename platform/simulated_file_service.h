// A file service for dry runs: it answers from the real file system plus what the run would have
// created, and writes nothing. It makes the real service's checks, so the names, the failures and
// the exit status are the ones a real run into the same output folder would give. One thread only.
#pragma once

#include <string>
#include <unordered_map>

#include "platform/file_service.h"

namespace tarvelin {

class SimulatedFileService : public FileService {
public:
    // Never says it made a folder: the run then lists the folder, which a missing one shows empty.
    Status EnsureFolderExists(const std::string &folder, bool *made = nullptr) override;
    bool FileExist(const std::string &path) override;
    Status StageCopy(const std::string &source, const std::string &folder, WorkHooks &hooks,
                     std::unique_ptr<StagedFile> &staged, std::optional<std::int64_t> modified = std::nullopt,
                     SourceHead *head = nullptr) override;
    Status StageNew(const std::string &folder, std::unique_ptr<StagedNewFile> &file) override;
    // Reads for real: what the run learns of each message it reads.
    Status ReadSource(const std::string &source, WorkHooks &hooks, SourceHead &head,
                      const std::function<Status(const SourceHead &)> &headRead,
                      const std::function<Status(std::string_view)> &take) override;
    bool SameContent(const std::string &source, const std::string &existing) override;
    DirectoryListing ListFolder(const std::string &folder) override;
    void RemoveFile(const std::string &) override {}         // a dry run removes nothing
    void RemoveEmptyFolder(const std::string &) override {}  // and makes no folder

private:
    template <typename Interface>
    friend class SimulatedStaged;
    // Each file the run would have written (by SameFileKey), with the source it would hold (empty
    // for a file written rather than copied).
    std::unordered_map<std::string, std::string> created_;
};

}  // namespace tarvelin
