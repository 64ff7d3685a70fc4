// The conversion run: every row of the list, in order, copied byte for byte to its named .eml file
// below the output folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/message_facts.h"
#include "conversion/naming/naming.h"
#include "messagelist/message_list.h"
#include "platform/file_service.h"
#include "platform/work_hooks.h"

namespace tarvelin {

class RunObserver : public WorkHooks {
public:
    // Read anew for every message, so a change during the run applies from the next one.
    virtual NamingOption SelectedNamingOption() = 0;
    // After each message: the bar value in per cent and "Message k (of M)".
    virtual void ShowProgress(float barValue, const std::string &caption) {
        (void)barValue;
        (void)caption;
    }
    // The events below come once per row, in list order.
    // After each message written (or, in a dry run, that would be written).
    virtual void MessageConverted(const std::string &source, const std::string &output,
                                  const MessageFacts &facts) {
        (void)source;
        (void)output;
        (void)facts;
    }
    // A message whose copy was found in place already (RunOptions::skipIdentical).
    virtual void MessageAlreadyThere(const std::string &source, const std::string &output,
                                     const MessageFacts &facts) {
        (void)source;
        (void)output;
        (void)facts;
    }
    // As soon as a message fails (after the events of the rows before it); the run goes on.
    virtual void MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &facts) {
        (void)source;
        (void)reason;
        (void)facts;
    }
    // A row that names no file (blank), passed over.
    virtual void RowSkipped(const std::string &row) { (void)row; }
};

struct ConversionFailure {
    std::string path;
    std::string reason;
};

struct ConversionReport {
    std::int64_t converted = 0;
    std::int64_t alreadyThere = 0;  // identical copies found in place
    std::int64_t skipped = 0;  // empty rows
    std::vector<ConversionFailure> failures;
    bool stopped = false;      // ended at a stop request; later rows untouched

    bool AllConverted() const { return failures.empty() && !stopped; }
};

struct RunOptions {
    // A message whose plain name, or a numbered name of its chain, holds the same bytes already
    // is not copied again: a rerun of an interrupted run adds only what is missing.
    bool skipIdentical = false;
    // Complete copies wait for their names in groups of up to this many: flushed one after the
    // other, a group costs the disk about one journal commit instead of one per message, and a
    // power cut loses at most the group (as hidden temporary files). The names do not depend on it.
    std::size_t claimGroup = 32;
    // Messages read and copied at once, on as many worker threads; with 1 the calling thread does
    // all of it. Names, numbers, failures and the observer's calls are the same whatever the
    // count, and come in list order on the calling thread. With more than 1, `files` takes calls
    // from several threads, each copy is flushed by its worker, and the naming option is read
    // when a message is handed out, at most kAheadPerJob * jobs messages before it is named.
    unsigned jobs = 1;
    // The time the copies get: the source file's (as a copy keeps it), or the message's date.
    enum class FileTime { Source, Message };
    FileTime fileTime = FileTime::Source;
    // Reads the header of every message even where the naming needs none of it, so that the
    // observer hears each message's facts.
    bool readEveryHeader = false;
};

inline constexpr unsigned kMaxJobs = 64;
// Messages handed out and not yet named, per job: enough that fast ones go on while one is slow,
// few enough that memory does not follow the list.
inline constexpr std::size_t kAheadPerJob = 4;

// The time a copy is to get in place of its source's, or nothing: the source's is kept, and
// when the message's date was asked for and cannot be given, facts.timeNote says why.
std::optional<std::int64_t> MessageFileTime(RunOptions::FileTime choice, MessageFacts &facts);

// The progress caption after the `done`-th of `rows` messages: "Message k (of M)".
std::string ProgressCaption(std::size_t done, std::size_t rows);

// Runs the list from its first row to its last (the bound fixed at the start). outputFolder gets
// a separator when missing. duplicateCounter belongs to the caller and carries over between runs.
ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files, RunOptions options = {});

}  // namespace tarvelin
