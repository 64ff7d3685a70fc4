// What a run tells whoever drives it (the window, the command line, a test) while it goes, and the
// report it gives back at its end: the same for the .eml run and the mailbox run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conversion/message_facts.h"
#include "conversion/naming/naming_schemes.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// The time the copies get: the source file's (as a copy keeps it), or the message's date.
enum class FileTime { Source, Message };

class RunObserver : public WorkHooks {
public:
    // Read anew for every message, so a change during the run applies from the next one.
    virtual NamingOption SelectedNamingOption() { return NamingOption::OptOriginal; }
    // After each message: the bar value in per cent and "Message k (of M)".
    virtual void ShowProgress(float barValue, const std::string &caption) {
        (void)barValue;
        (void)caption;
    }
    // The events below come once per row, in list order.
    // Each message written (or, in a dry run, that would be written): its file, and for a message
    // in an mbox file its number there (from 1; 0 for a file of its own).
    virtual void MessageWritten(const std::string &source, const std::string &output, std::size_t numberInFile,
                                const MessageFacts &facts) {
        (void)source;
        (void)output;
        (void)numberInFile;
        (void)facts;
    }
    // A message whose copy was found in place already (skipping identical copies).
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
    // Said once: what the user should know of the run that concerns no one message (fewer workers
    // than asked for, a temporary file that could not be removed).
    virtual void Notice(const std::string &text) { (void)text; }
    // Said once for each name that had to change, before the first message written under it: a
    // source folder whose name the mailbox target would refuse or hide (`written` is the
    // mailbox's folder or file), or an mbox file whose name was taken already.
    virtual void NameChanged(const std::string &wanted, const std::string &written) {
        (void)wanted;
        (void)written;
    }
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

// The time a copy is to get in place of its source's, or nothing: the source's is kept, and
// when the message's date was asked for and cannot be given, facts.timeNote says why.
std::optional<std::int64_t> MessageFileTime(FileTime choice, MessageFacts &facts);

// The progress caption after the `done`-th of `rows` messages: "Message k (of M)".
std::string ProgressCaption(std::size_t done, std::size_t rows);

}  // namespace tarvelin
