// What the command line prints and records as a run goes: the lines on stdout and stderr, the
// progress meter and the index.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "cli/options.h"
#include "cli/progress_meter.h"
#include "cli/run_index.h"
#include "conversion/run_observer.h"

namespace tarvelin {

// One line on stderr after the program's name: what stops the program or a part of its work.
void PrintFault(std::ostream &err, std::string_view message);

// One line on stderr about a message or a folder, "path: text", both escaped (EscapedText) so
// that the line stays one; ended by a newline, or with -z by a NUL.
void PrintNote(std::ostream &err, std::string_view path, std::string_view text, bool nulEnded);

// "N converted, K failed, S skipped" (and what else the run counted, and in how many accounts),
// after "stopped after ..." when it was stopped.
void PrintSummary(const Options &options, const ConversionReport &report, std::size_t done, std::size_t rows,
                  std::size_t accounts, std::ostream &err);

class CliObserver : public RunObserver {
public:
    CliObserver(CliStreams streams, const Options &options, ProgressMeter *meter, RunIndex *index)
        : streams_(streams), options_(options), meter_(meter), index_(index) {}

    NamingOption SelectedNamingOption() override { return options_.naming; }
    bool StopRequested() const override { return StopSignal() != 0; }
    void ShowProgress(float, const std::string &) override;
    void MessageWritten(const std::string &source, const std::string &output, std::size_t numberInFile,
                        const MessageFacts &facts) override;
    void MessageAlreadyThere(const std::string &source, const std::string &output, const MessageFacts &facts) override;
    void MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &facts) override;
    void RowSkipped(const std::string &) override;
    void NameChanged(const std::string &wanted, const std::string &written) override;
    void Notice(const std::string &text) override;

    int StopSignal() const { return streams_.stopSignal != nullptr ? *streams_.stopSignal : 0; }
    std::size_t done() const { return done_; }
    // Whether every row reached the index (when there is one).
    bool IndexWritten() const { return indexFailure_.ok(); }

private:
    // A row is built only where it is written: a run without an index would copy every
    // message's texts for nothing.
    bool Indexing() const { return index_ != nullptr && indexFailure_.ok(); }
    void AddRow(const IndexRow &row);
    // Stderr, with the progress line out of the way.
    std::ostream &Err();
    void Note(std::string_view path, std::string_view text);

    CliStreams streams_;
    const Options &options_;
    ProgressMeter *const meter_;
    RunIndex *const index_;
    Status indexFailure_;
    std::size_t done_ = 0;
};

}  // namespace tarvelin
