#include "conversion/run_ledger.h"

namespace tarvelin {

MessageFacts FactsOf(const MailMessage &message) {
    return {message.FileSize(), message.Instant(), message.From(), message.Subject(), message.MessageId(), {}};
}

void NoteTimeKept(const StagedFile &copy, MessageFacts &facts) {
    if (copy.KeptSourceTime()) facts.timeNote = "keeps the source's time: the file system refused the message's date";
}

void RunLedger::Written(const std::string &source, const std::string &output, std::size_t numberInFile,
                        const MessageFacts &facts) {
    ++report_.converted;
    observer_.MessageWritten(source, output, numberInFile, facts);
}

void RunLedger::AlreadyThere(const std::string &source, const std::string &output, MessageFacts facts) {
    ++report_.alreadyThere;
    facts.timeNote.clear();  // nothing was written
    observer_.MessageAlreadyThere(source, output, facts);
}

void RunLedger::Failed(const std::string &source, std::string reason, const MessageFacts &facts) {
    observer_.MessageFailed(source, reason, facts);
    report_.failures.push_back({source, std::move(reason)});
}

void RunLedger::Skipped(const std::string &row) {
    ++report_.skipped;
    observer_.RowSkipped(row);
}

void RunLedger::Progressed() {
    ++done_;
    const double share = static_cast<double>(done_) / static_cast<double>(rows_) * 100.0;
    observer_.ShowProgress(static_cast<float>(share), ProgressCaption(done_, rows_));
}

ConversionReport RunLedger::Finish(bool complete) {
    report_.stopped = !complete;
    return std::move(report_);
}

void TellLeftBehind(RunObserver &observer, FileService &files) {
    for (const LeftFile &left : files.TakeLeftBehind()) observer.Notice(left.path + ": " + left.reason);
}

}  // namespace tarvelin
