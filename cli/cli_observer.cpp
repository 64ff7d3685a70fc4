#include "cli/cli_observer.h"

#include <ostream>

#include "cli/escaped_text.h"

namespace tarvelin {

namespace {

// Prints "source<TAB>output" lines, or with -z the two fields each ended by a NUL; a message in
// an mbox file has its number there as a third field.
void PrintPair(std::ostream &out, const std::string &source, const std::string &output, std::size_t numberInFile,
               bool nullSeparated) {
    const char separator = nullSeparated ? '\0' : '\t';
    out << source << separator << output;
    if (numberInFile > 0) out << separator << numberInFile;
    out << (nullSeparated ? '\0' : '\n');
}

}  // namespace

void PrintFault(std::ostream &err, std::string_view message) {
    err << "tarvelin-cli: " << EscapedText(message) << '\n';
}

void PrintNote(std::ostream &err, std::string_view path, std::string_view text, bool nulEnded) {
    err << EscapedText(path) << ": " << EscapedText(text) << (nulEnded ? '\0' : '\n');
}

void PrintSummary(const Options &options, const ConversionReport &report, std::size_t done, std::size_t rows,
                  std::size_t accounts, std::ostream &err) {
    if (report.stopped) err << "stopped after " << done << " of " << rows << " messages\n";
    err << report.converted << (options.dryRun ? " would convert, " : " converted, ");
    if (options.skipIdentical) err << report.alreadyThere << " already there, ";
    err << report.failures.size() << " failed, " << report.skipped << " skipped";
    if (options.accounts) err << " in " << accounts << (accounts == 1 ? " account" : " accounts");
    err << '\n';
}

std::ostream &CliObserver::Err() {
    if (meter_) meter_->Interrupt();
    return streams_.err;
}

void CliObserver::Note(std::string_view path, std::string_view text) {
    PrintNote(Err(), path, text, options_.nullSeparated);
}

void CliObserver::ShowProgress(float, const std::string &) {
    ++done_;
    if (meter_) meter_->Update(done_);
}

void CliObserver::MessageWritten(const std::string &source, const std::string &output, std::size_t numberInFile,
                                 const MessageFacts &facts) {
    if (options_.dryRun || options_.verbose)
        PrintPair(streams_.out, source, output, numberInFile, options_.nullSeparated);
    if (options_.verbose && !facts.timeNote.empty()) Note(source, facts.timeNote);
    if (Indexing())
        AddRow({options_.dryRun ? IndexStatus::WouldConvert : IndexStatus::Converted, source, output, facts, {},
                numberInFile});
}

// On stderr, so that stdout keeps listing only the messages written.
void CliObserver::MessageAlreadyThere(const std::string &source, const std::string &output,
                                      const MessageFacts &facts) {
    if (Indexing()) AddRow({IndexStatus::AlreadyThere, source, output, facts, {}});
    if (options_.verbose) Note(source, "already there as " + output);
}

void CliObserver::MessageFailed(const std::string &source, const std::string &reason, const MessageFacts &facts) {
    Note(source, reason);
    if (Indexing()) AddRow({IndexStatus::Failed, source, {}, facts, reason});
}

void CliObserver::RowSkipped(const std::string &) {
    if (Indexing()) AddRow({IndexStatus::Skipped, {}, {}, {}, {}});
}

void CliObserver::NameChanged(const std::string &wanted, const std::string &written) {
    Note(wanted, "written as " + written);
    if (Indexing()) AddRow({IndexStatus::Renamed, wanted, written, {}, {}});
}

void CliObserver::Notice(const std::string &text) { PrintFault(Err(), text); }

// A failed write is said once; the run goes on, but does not count as a success.
void CliObserver::AddRow(const IndexRow &row) {
    indexFailure_ = index_->Add(row);
    if (!indexFailure_.ok()) PrintFault(Err(), options_.index + ": " + indexFailure_.reason());
}

}  // namespace tarvelin
