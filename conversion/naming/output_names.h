// Where each message lands, and the claim of that name: the plain name when it is free, else
// the next free " (n)" from the duplicate counter on. The copy itself claims the name with a
// rename that never replaces, so an existing file is never overwritten, and the names given
// are the ones the existence tests alone would give.
#pragma once

#include <optional>
#include <string>

#include "conversion/naming/naming.h"
#include "platform/file_service.h"
#include "platform/status.h"

namespace tarvelin {

class OutputNames {
public:
    // The counter belongs to the caller and carries over between runs.
    OutputNames(DuplicateCounter &duplicateCounter, FileService &files)
        : counter_(duplicateCounter), files_(files) {}

    struct Placement {
        Status status;
        std::string path;  // the name the copy took
    };

    // Where a message's bytes are already: the name, and the counter as naming it there leaves it.
    struct Identical {
        std::string path;
        DuplicateCounter counterAfter;
    };

    // Messages are named in the order of these calls, one call per message: Claim for a staged
    // copy, TakeIdentical for one found already there, NameOnly for one that failed.

    // Gives the staged copy its free name in outputDir. A failure still moves the counter as
    // naming the message would.
    Placement Claim(StagedFile &copy, const std::string &outputDir, const std::string &cleanedName);

    // The plain name, or the numbered name of its chain, that holds the source's bytes already
    // (for a rerun that skips what is there). Only looks: the counter moves when the message is
    // named so, by TakeIdentical, which may come after copies still waiting for their names.
    // A path known to hold the source's bytes (from an earlier look) is not read again.
    std::optional<Identical> FindIdentical(const std::string &source, const std::string &outputDir,
                                           const std::string &cleanedName, const std::string &knownIdentical = {}) {
        return LookForIdentical(files_, source, outputDir, cleanedName, knownIdentical);
    }
    // The same look without a counter, for any thread: files are only ever added to the chain
    // while a run names, so what it finds is still there when the message's turn comes.
    static std::optional<Identical> LookForIdentical(FileService &files, const std::string &source,
                                                     const std::string &outputDir, const std::string &cleanedName,
                                                     const std::string &knownIdentical = {});
    void TakeIdentical(const Identical &found) { counter_ = found.counterAfter; }

    // For a message that fails before its copy: the counter moves as if it had been named.
    void NameOnly(const std::string &outputDir, const std::string &cleanedName);

private:
    DuplicateCounter &counter_;
    FileService &files_;
    TakenNumbers taken_;
};

}  // namespace tarvelin
