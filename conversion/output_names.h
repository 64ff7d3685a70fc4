// Where each message lands, and the claim of that name: the plain name when it is free, else
// the next free " (n)" from the duplicate counter on. The copy itself claims the name with a
// rename that never replaces, so an existing file is never overwritten, and the names given
// are the ones the existence tests alone would give.
#pragma once

#include <optional>
#include <string>

#include "conversion/naming.h"
#include "platform/file_service.h"
#include "platform/status.h"
#include "platform/work_hooks.h"

namespace tarvelin {

class OutputNames {
public:
    // The counter belongs to the caller and carries over between runs.
    OutputNames(DuplicateCounter &duplicateCounter, FileService &files)
        : counter_(duplicateCounter), files_(files) {}

    struct Placement {
        Status status;            // ErrorKind::Stopped when the hooks stopped the copy
        std::string path;         // the file written, or found identical
        bool alreadyThere = false;
    };

    // Copies the source to its free name in outputDir (which exists). With skipIdentical, a
    // message whose plain name, or a numbered name of its chain, holds the same bytes already is
    // not copied again. A failure still moves the counter as naming the message would.
    Placement Place(const std::string &source, const std::string &outputDir, const std::string &cleanedName,
                    WorkHooks &hooks, bool skipIdentical = false);

    // For a message that fails before its copy: the counter moves as if it had been named.
    void NameOnly(const std::string &outputDir, const std::string &cleanedName);

private:
    Placement Claim(StagedFile &copy, const std::string &outputDir, const std::string &cleanedName);
    // The plain name or the numbered name of the chain that holds a copy of the source; the
    // counter then moves as naming it would.
    std::optional<std::string> FindIdentical(const std::string &source, const std::string &outputDir,
                                             const std::string &cleanedName);

    DuplicateCounter &counter_;
    FileService &files_;
    TakenNumbers taken_;
};

}  // namespace tarvelin
