// The conversion run: every row of the list, in order, copied byte for byte to its named .eml file
// below the output folder.
#pragma once

#include <cstddef>
#include <string>

#include "conversion/naming/naming.h"
#include "conversion/run_ledger.h"
#include "conversion/run_observer.h"
#include "messagelist/message_list.h"
#include "platform/file_service.h"

namespace tarvelin {

struct RunOptions {
    // A message whose plain name, or a numbered name of its chain, holds the same bytes already
    // is not copied again: a rerun of an interrupted run adds only what is missing.
    bool skipIdentical = false;
    // Complete copies wait for their names in groups of up to this many (one job only); the
    // names do not depend on it.
    std::size_t claimGroup = kClaimGroup;
    // Messages read and copied at once, on as many worker threads; with 1 the calling thread does
    // all of it. Names, numbers, failures and the observer's calls are the same whatever the
    // count, and come in list order on the calling thread. With more than 1, `files` takes calls
    // from several threads, each copy is flushed by its worker, and the naming option is read
    // when a message is handed out, at most kAheadPerJob * jobs messages before it is named.
    unsigned jobs = 1;
    FileTime fileTime = FileTime::Source;
    // Reads the header of every message even where the naming needs none of it, so that the
    // observer hears each message's facts.
    bool readEveryHeader = false;
};

inline constexpr unsigned kMaxJobs = 64;
// What the window and the command line run with. Thirty-two copies at once hide the round trips of
// a network share; on a local disk only as many work as keep waiting on it, so they cost nothing
// against one (bench/README.md).
inline constexpr unsigned kDefaultJobs = 32;

// Runs the list from its first row to its last (the bound fixed at the start). outputFolder gets
// a separator when missing. duplicateCounter belongs to the caller and carries over between runs.
ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files, RunOptions options = {});

}  // namespace tarvelin
