#include "conversion/conversion_run.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "conversion/mail_message.h"
#include "conversion/output_names.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string ProgressCaption(std::size_t done, std::size_t rows) {
    return "Message " + std::to_string(done) + " (of " + std::to_string(rows) + ")";
}

// 1970-01-01 and 2107-01-01 (UTC): the years a file time holds on every file system we write to.
constexpr std::int64_t kFirstFileTime = 0;
constexpr std::int64_t kPastLastFileTime = 4323283200;

MessageFacts FactsOf(const MailMessage &message) {
    return {message.FileSize(), message.Instant(), message.From(), message.Subject(), message.MessageId(), {}};
}

// The time the copy is to get instead of the source's, or nothing (the note then says why, when
// the message's date was asked for).
std::optional<std::int64_t> MessageFileTime(RunOptions::FileTime choice, MessageFacts &facts) {
    if (choice != RunOptions::FileTime::Message || facts.date.source == DateSource::File) return std::nullopt;
    if (!facts.date.known()) return std::nullopt;
    if (facts.date.unixSeconds < kFirstFileTime || facts.date.unixSeconds >= kPastLastFileTime) {
        facts.timeNote = "keeps the source's time: the message's date is not within 1970 to 2106";
        return std::nullopt;
    }
    return facts.date.unixSeconds;
}

class Run {
public:
    Run(const MessageList &list, const std::string &outputFolder, DuplicateCounter &counter,
        RunObserver &observer, FileService &files, RunOptions options)
        : list_(list), outputRoot_(AddSeparator(outputFolder)), observer_(observer), files_(files),
          names_(counter, files), options_(options) {}

    ConversionReport Execute() {
        if (YieldStops()) return Stopped();
        const std::size_t rows = list_.RowCount();
        for (std::size_t i = 0; i < rows; ++i) {
            if (YieldStops()) return Stopped();
            if (!ConvertRow(list_.RowText(i))) return Stopped();
            ShowProgress(i);
        }
        ClaimPending();
        return std::move(report_);
    }

private:
    // False when the run must stop; failures are recorded and the run goes on.
    bool ConvertRow(std::string_view row) {
        // The trimmed row names the output; the file read is the one the row names exactly,
        // when there is one (a blank can end a file name on POSIX).
        const std::string sourcePath(TrimSpaces(row));
        if (sourcePath.empty()) {
            // Heard after the rows before it, like every other row.
            ClaimPending();
            ++report_.skipped;
            observer_.RowSkipped(std::string(row));
            return true;
        }
        const std::string source = sourcePath.size() != row.size() && files_.FileExist(std::string(row))
                                       ? std::string(row)
                                       : sourcePath;
        const std::string emlPath = MakeEmlPath(sourcePath);
        const std::string outputDir = OutputFolderFor(outputRoot_, FolderFromPath(emlPath));
        const Status folder = EnsureFolder(outputDir);
        if (YieldStops()) return false;

        const NamingOption option = observer_.SelectedNamingOption();
        std::string rawName;
        MessageFacts facts;
        {
            MailMessage message;
            // The file's own name needs nothing from the message, so unless more is asked of the
            // run it is not read at all. A message that cannot be read is named from what the
            // reader gives for it: empty fields and the file's date.
            if (UsesMessageFields(option) || options_.readEveryHeader ||
                options_.fileTime == RunOptions::FileTime::Message) {
                (void)message.LoadFromFile(source);
                facts = FactsOf(message);
            }
            rawName = ComposeOutputName(option, message.Date(), message.Subject(), message.From(),
                                        sourcePath);
        }
        if (YieldStops()) return false;
        const std::string name = CleanOutputName(rawName);
        const std::optional<std::int64_t> fileTime = MessageFileTime(options_.fileTime, facts);

        if (!folder) {
            // Named all the same, so that later numbers are the ones they would have been.
            ClaimPending();
            names_.NameOnly(outputDir, name);
            Fail(source, "cannot create the output folder " + outputDir + ": " + folder.reason(), facts);
            return true;
        }
        if (options_.skipIdentical) {
            // What is there decides, so the copies before this one in its folder get their names first.
            if (PendingIn(outputDir)) ClaimPending();
            if (auto found = names_.FindIdentical(source, outputDir, name)) {
                // The copies waiting in other folders come first in the list, so they take their
                // names before this message moves the counter.
                ClaimPending();
                names_.TakeIdentical(*found);
                ++report_.alreadyThere;
                facts.timeNote.clear();  // nothing was written
                observer_.MessageAlreadyThere(source, found->path, facts);
                return true;
            }
        }
        std::unique_ptr<StagedFile> copy;
        const Status staged = files_.StageCopy(source, outputDir, observer_, copy, fileTime);
        if (staged.kind() == ErrorKind::Stopped) return false;
        if (!staged) {
            ClaimPending();
            names_.NameOnly(outputDir, name);
            Fail(source, staged.reason(), facts);
            return true;
        }
        if (copy->KeptSourceTime())
            facts.timeNote = "keeps the source's time: the file system refused the message's date";
        pending_.push_back({source, outputDir, SameFileKey(outputDir), name, std::move(copy), std::move(facts)});
        if (pending_.size() >= options_.claimGroup) ClaimPending();
        return true;
    }

    // Names the staged copies in their order: all flushed first, then each claimed.
    void ClaimPending() {
        std::vector<Status> flushed;
        flushed.reserve(pending_.size());
        for (PendingCopy &pending : pending_) {
            flushed.push_back(pending.copy->Flush());
            observer_.Yield();
        }
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            PendingCopy &pending = pending_[i];
            if (!flushed[i]) {
                names_.NameOnly(pending.outputDir, pending.name);
                Fail(pending.source, flushed[i].reason(), pending.facts);
                continue;
            }
            const OutputNames::Placement placed = names_.Claim(*pending.copy, pending.outputDir, pending.name);
            if (!placed.status) {
                Fail(pending.source, placed.status.reason(), pending.facts);
            } else {
                ++report_.converted;
                observer_.MessageConverted(pending.source, placed.path, pending.facts);
            }
        }
        pending_.clear();
    }

    // Compared as the file system compares names: on Windows "A" and "a" are one folder.
    bool PendingIn(const std::string &outputDir) const {
        const std::string folder = SameFileKey(outputDir);
        return std::any_of(pending_.begin(), pending_.end(),
                           [&](const PendingCopy &pending) { return pending.folderKey == folder; });
    }

    Status EnsureFolder(const std::string &folder) {
        if (ensuredFolders_.count(folder)) return Status::Ok();
        Status status = files_.EnsureFolderExists(folder);
        if (status) ensuredFolders_.insert(folder);
        return status;
    }

    void Fail(const std::string &source, std::string reason, const MessageFacts &facts) {
        observer_.MessageFailed(source, reason, facts);
        report_.failures.push_back({source, std::move(reason)});
    }

    void ShowProgress(std::size_t row) {
        const std::size_t rows = list_.RowCount();
        const double share = static_cast<double>(row + 1) / static_cast<double>(rows) * 100.0;
        observer_.ShowProgress(static_cast<float>(share), ProgressCaption(row + 1, rows));
    }

    bool YieldStops() {
        observer_.Yield();
        return observer_.StopRequested();
    }

    // The copies already complete keep what was done: they get their names.
    ConversionReport Stopped() {
        ClaimPending();
        report_.stopped = true;
        return std::move(report_);
    }

    const MessageList &list_;
    const std::string outputRoot_;
    RunObserver &observer_;
    FileService &files_;
    OutputNames names_;
    const RunOptions options_;
    std::unordered_set<std::string> ensuredFolders_;
    struct PendingCopy {
        std::string source, outputDir;
        std::string folderKey;  // outputDir as the file system compares it
        std::string name;
        std::unique_ptr<StagedFile> copy;
        MessageFacts facts;
    };
    std::vector<PendingCopy> pending_;
    ConversionReport report_;
};

}  // namespace

ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files, RunOptions options) {
    return Run(list, outputFolder, duplicateCounter, observer, files, options).Execute();
}

}  // namespace tarvelin
