#include "conversion/conversion_run.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <unordered_set>
#include <vector>

#include "conversion/header/mail_message.h"
#include "conversion/ordered_workers.h"
#include "conversion/naming/output_names.h"
#include "conversion/staging_folders.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"
#include "platform/slice_yield.h"

namespace tarvelin {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}


// 1970-01-01 and 2107-01-01 (UTC): the years a file time holds on every file system we write to.
constexpr std::int64_t kFirstFileTime = 0;
constexpr std::int64_t kPastLastFileTime = 4323283200;

MessageFacts FactsOf(const MailMessage &message) {
    return {message.FileSize(), message.Instant(), message.From(), message.Subject(), message.MessageId(), {}};
}

}  // namespace

std::optional<std::int64_t> MessageFileTime(RunOptions::FileTime choice, MessageFacts &facts) {
    if (choice != RunOptions::FileTime::Message || facts.date.source == DateSource::File) return std::nullopt;
    if (!facts.date.known()) return std::nullopt;
    if (facts.date.unixSeconds < kFirstFileTime || facts.date.unixSeconds >= kPastLastFileTime) {
        facts.timeNote = "keeps the source's time: the message's date is not within 1970 to 2106";
        return std::nullopt;
    }
    return facts.date.unixSeconds;
}

namespace {

// One message's work: handed out in list order, read and copied (by a worker when there are
// several), then named in list order. What the copy learns for the naming travels here.
struct MessageJob {
    bool blank = false;      // an empty row: nothing to do
    std::string row;         // the row as listed, for a blank one
    std::string source;      // the file read
    std::string sourcePath;  // the trimmed row, which names the output
    std::string outputDir;
    Status folder;           // making outputDir
    std::string stagingDir;  // where a worker stages the copy: outputDir, or a folder near it
    NamingOption option = NamingOption::OptOriginal;
    std::string name;        // cleaned
    MessageFacts facts;
    std::optional<std::int64_t> fileTime;  // in place of the source's
    std::string identical;   // a copy of the same bytes seen in the name's chain before any copy
    bool copyDeferred = false;  // to be copied at naming, once what is there has been looked at
    Status staged;
    std::unique_ptr<StagedFile> copy;
    std::optional<Status> flushed;  // when the worker flushed the copy
};


class Run {
public:
    Run(const MessageList &list, const std::string &outputFolder, DuplicateCounter &counter,
        RunObserver &observer, FileService &files, RunOptions options)
        : list_(list), outputRoot_(AddSeparator(outputFolder)), observer_(observer), files_(files),
          names_(counter, files), options_(options),
          parallel_(options.jobs > 1) {}

    ConversionReport Execute() {
        if (YieldStops()) return Stopped();
        const std::size_t rows = list_.RowCount();
        return parallel_ ? ExecuteParallel(rows) : ExecuteInline(rows);
    }

private:
    ConversionReport ExecuteInline(std::size_t rows) {
        for (std::size_t i = 0; i < rows; ++i) {
            if (YieldStops()) return Stopped();
            std::optional<MessageJob> job = Prepare(i, nullptr);
            if (!job) return Stopped();
            if (!job->blank) Work(*job, observer_);
            if (!Name(*job)) return Stopped();
            ShowProgress(i);
        }
        ClaimPending();
        return std::move(report_);
    }

    ConversionReport ExecuteParallel(std::size_t rows) {
        // Made before the workers, so it goes after them and their copies.
        StagingFolders staging(files_, outputRoot_, options_.jobs);
        OrderedWorkers<MessageJob> workers(options_.jobs, kAheadPerJob * options_.jobs,
                                           [this](MessageJob &job, WorkHooks &hooks) { Work(job, hooks); });
        workers_ = &workers;
        std::size_t named = 0;
        const bool complete = GiveAndTakeInOrder(
            workers, rows, observer_, [&](std::size_t row) { return Prepare(row, &staging); },
            [](const MessageJob &job) { return !job.blank; },
            [&](MessageJob &job) {
                if (!Name(job)) return false;
                ShowProgress(named++);
                return true;
            });
        // A stop keeps what the finished messages at the front of the list did.
        if (!complete) return Stopped();
        ClaimPending();
        return std::move(report_);
    }

    // The calling thread's share before the copy: the row, its folder and the naming option.
    // Nothing when the run must stop.
    std::optional<MessageJob> Prepare(std::size_t row, StagingFolders *staging) {
        MessageJob job;
        const std::string_view text = list_.RowText(row);
        // The trimmed row names the output; the file read is the one the row names exactly,
        // when there is one (a blank can end a file name on POSIX).
        job.sourcePath = std::string(TrimSpaces(text));
        if (job.sourcePath.empty()) {
            job.blank = true;
            job.row = std::string(text);
            return job;
        }
        job.source = job.sourcePath.size() != text.size() && files_.FileExist(std::string(text))
                         ? std::string(text)
                         : job.sourcePath;
        job.outputDir = OutputFolderFor(outputRoot_, FolderFromPath(MakeEmlPath(job.sourcePath)));
        job.folder = EnsureFolder(job.outputDir);
        job.stagingDir = staging != nullptr && job.folder ? staging->For(row, job.outputDir) : job.outputDir;
        if (YieldStops()) return std::nullopt;
        job.option = observer_.SelectedNamingOption();
        return job;
    }

    // The slow, independent part, on a worker when there are several: the header, the name, the
    // copy and, with workers, its flush. Touches nothing but the job and the file service.
    void Work(MessageJob &job, WorkHooks &hooks) {
        // The file's own name needs nothing from the message, so it is not read at all; otherwise
        // the copy reads the header on its way, so the file is opened once. Only a look for an
        // identical copy needs the name before the copy.
        const bool fields = UsesMessageFields(job.option) || options_.readEveryHeader;
        // The message's time is chosen from the head before the copy is finished.
        const bool timeFromMessage = options_.fileTime == RunOptions::FileTime::Message;
        if (job.folder && !options_.skipIdentical) {
            if (StopsNow(hooks, job)) return;
            SourceHead head;
            if (fields || timeFromMessage) {
                head.complete = MailMessage::HeaderComplete;
                head.limit = MailMessage::kMaxHeaderBytes;
            }
            bool named = false;
            if (timeFromMessage) {
                head.chooseTime = [this, &job, &named](const SourceHead &read) {
                    ComposeName(job, &read);
                    named = true;
                    job.fileTime = MessageFileTime(options_.fileTime, job.facts);
                    return job.fileTime;
                };
            }
            job.staged = files_.StageCopy(job.source, job.stagingDir, hooks, job.copy, std::nullopt,
                                          head.limit > 0 ? &head : nullptr);
            if (job.staged.kind() == ErrorKind::Stopped) return;
            // Named when the time was chosen, unless the copy ended before (or a dry run made none).
            if (!named) {
                ComposeName(job, head.read ? &head : nullptr);
                if (timeFromMessage) job.fileTime = MessageFileTime(options_.fileTime, job.facts);
            }
            if (job.staged && parallel_) job.flushed = job.copy->Flush();
            return;
        }
        ComposeName(job, nullptr);
        job.fileTime = MessageFileTime(options_.fileTime, job.facts);
        if (StopsNow(hooks, job) || !job.folder) return;
        if (options_.skipIdentical) {
            // One at a time, what is there is looked at first; a worker looks ahead, and the
            // naming looks again once the copies before this one have their names.
            if (!parallel_) {
                job.copyDeferred = true;
                return;
            }
            if (auto found = OutputNames::LookForIdentical(files_, job.source, job.outputDir, job.name)) {
                job.identical = found->path;
                job.copyDeferred = true;
                return;
            }
        }
        job.staged = files_.StageCopy(job.source, job.stagingDir, hooks, job.copy, job.fileTime);
        if (job.staged && parallel_) job.flushed = job.copy->Flush();
    }

    // A message that cannot be read is named from what the reader gives for it: empty fields and
    // the file's date.
    void ComposeName(MessageJob &job, const SourceHead *head) const {
        MailMessage message;
        if (head != nullptr) {
            (void)message.LoadFromHead(head->bytes, head->modified, head->size);
            job.facts = FactsOf(message);
        } else if (UsesMessageFields(job.option) || options_.readEveryHeader ||
                   options_.fileTime == RunOptions::FileTime::Message) {
            (void)message.LoadFromFile(job.source);
            job.facts = FactsOf(message);
        }
        job.name = CleanOutputName(
            ComposeOutputName(job.option, message.Date(), message.Subject(), message.From(), job.sourcePath));
    }

    static bool StopsNow(WorkHooks &hooks, MessageJob &job) {
        hooks.Yield();
        if (!hooks.StopRequested()) return false;
        job.staged = Status::Stopped();
        return true;
    }

    // Names one message, in list order. False when the run must stop; failures are recorded and
    // the run goes on.
    bool Name(MessageJob &job) {
        if (job.blank) {
            // Heard after the rows before it, like every other row.
            ClaimPending();
            ++report_.skipped;
            observer_.RowSkipped(job.row);
            return true;
        }
        if (job.staged.kind() == ErrorKind::Stopped) return false;
        if (!job.folder) {
            // Named all the same, so that later numbers are the ones they would have been.
            ClaimPending();
            names_.NameOnly(job.outputDir, job.name);
            Fail(job.source, "cannot create the output folder " + job.outputDir + ": " + job.folder.reason(),
                 job.facts);
            return true;
        }
        if (options_.skipIdentical) {
            // What is there decides, so the copies before this one in its folder get their names first.
            if (PendingIn(job.outputDir)) ClaimPending();
            if (auto found = names_.FindIdentical(job.source, job.outputDir, job.name, job.identical)) {
                // The copies waiting in other folders come first in the list, so they take their
                // names before this message moves the counter.
                ClaimPending();
                job.copy.reset();
                names_.TakeIdentical(*found);
                ++report_.alreadyThere;
                job.facts.timeNote.clear();  // nothing was written
                observer_.MessageAlreadyThere(job.source, found->path, job.facts);
                return true;
            }
            if (job.copyDeferred) {
                job.staged = files_.StageCopy(job.source, job.outputDir, observer_, job.copy, job.fileTime);
                if (job.staged.kind() == ErrorKind::Stopped) return false;
            }
        }
        if (!job.staged) {
            ClaimPending();
            names_.NameOnly(job.outputDir, job.name);
            Fail(job.source, job.staged.reason(), job.facts);
            return true;
        }
        if (job.copy->KeptSourceTime())
            job.facts.timeNote = "keeps the source's time: the file system refused the message's date";
        pending_.push_back({job.source, job.outputDir, SameFileKey(job.outputDir), job.name, std::move(job.copy),
                            std::move(job.flushed), std::move(job.facts)});
        // Copies flushed by their workers have nothing to share a disk commit with.
        if (parallel_ || pending_.size() >= options_.claimGroup) ClaimPending();
        return true;
    }

    // Names the staged copies in their order: all flushed first, then each claimed.
    void ClaimPending() {
        for (PendingCopy &pending : pending_) {
            if (pending.flushed) continue;
            pending.flushed = pending.copy->Flush();
            observer_.Yield();
        }
        for (PendingCopy &pending : pending_) {
            if (!*pending.flushed) {
                names_.NameOnly(pending.outputDir, pending.name);
                Fail(pending.source, pending.flushed->reason(), pending.facts);
                continue;
            }
            const OutputNames::Placement placed = names_.Claim(*pending.copy, pending.outputDir, pending.name);
            if (!placed.status) {
                Fail(pending.source, placed.status.reason(), pending.facts);
            } else {
                ++report_.converted;
                observer_.MessageConverted(pending.source, placed.path, pending.facts);
                // On a share the temporary name's removal is one more round trip: a worker's.
                if (workers_ != nullptr && pending.copy->LeftToRemove())
                    workers_->GiveChore([copy = std::shared_ptr<StagedFile>(std::move(pending.copy))]() mutable {
                        copy.reset();
                    });
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
    const bool parallel_;
    OrderedWorkers<MessageJob> *workers_ = nullptr;  // while a parallel run has them
    std::unordered_set<std::string> ensuredFolders_;
    struct PendingCopy {
        std::string source, outputDir;
        std::string folderKey;  // outputDir as the file system compares it
        std::string name;
        std::unique_ptr<StagedFile> copy;
        std::optional<Status> flushed;
        MessageFacts facts;
    };
    std::vector<PendingCopy> pending_;
    ConversionReport report_;
};

}  // namespace

std::string ProgressCaption(std::size_t done, std::size_t rows) {
    return "Message " + std::to_string(done) + " (of " + std::to_string(rows) + ")";
}

ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files, RunOptions options) {
    ConversionReport report = Run(list, outputFolder, duplicateCounter, observer, files, options).Execute();
    files.CloseFolders();
    return report;
}

}  // namespace tarvelin
