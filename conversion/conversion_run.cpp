#include "conversion/conversion_run.h"

#include <memory>
#include <optional>
#include <unordered_set>

#include "conversion/header_on_the_way.h"
#include "conversion/naming/output_names.h"
#include "conversion/ordered_workers.h"
#include "conversion/staging_folders.h"
#include "platform/file_ops.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

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

// A complete copy waiting for its name.
struct WaitingCopy {
    std::string source, outputDir;
    std::string folderKey;  // outputDir as the file system compares it
    std::string name;
    std::unique_ptr<StagedFile> copy;
    std::optional<Status> flushed;
    MessageFacts facts;
};

class Run {
public:
    Run(const MessageList &list, const std::string &outputFolder, DuplicateCounter &counter,
        RunObserver &observer, FileService &files, RunOptions options)
        : list_(list), outputRoot_(AddSeparator(outputFolder)), ledger_(observer, list.RowCount()), files_(files),
          names_(counter, files), options_(options), waiting_(options.jobs > 1 ? 1 : options.claimGroup),
          // Workers stage their copies in folders of their own, which go after them and their copies.
          staging_(options.jobs > 1 ? std::make_unique<StagingFolders>(files, outputRoot_, options.jobs) : nullptr),
          jobs_(
              options.jobs,
              [this](MessageJob &job, WorkHooks &hooks) {
                  if (Status kept = WithinMemory([&] { Work(job, hooks); }); !kept) {
                      job.copy.reset();
                      job.staged = kept;
                  }
              },
              ledger_.observer()) {}

    ConversionReport Execute() {
        if (ledger_.StopsNow()) return ledger_.Finish(false);
        const bool complete = jobs_.Run(
            list_.RowCount(), ledger_.observer(), [this](std::size_t row) { return Prepare(row); },
            [](const MessageJob &job) { return !job.blank; },
            [this](MessageJob &job) {
                if (!Name(job)) return false;
                ledger_.Progressed();
                return true;
            });
        // A stop keeps what the finished messages at the front of the list did.
        ClaimWaiting();
        return ledger_.Finish(complete);
    }

private:
    // The calling thread's share before the copy: the row, its folder and the naming option.
    // Nothing when the run must stop.
    std::optional<MessageJob> Prepare(std::size_t row) {
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
        job.stagingDir = staging_ != nullptr && job.folder ? staging_->For(row, job.outputDir) : job.outputDir;
        if (ledger_.StopsNow()) return std::nullopt;
        job.option = ledger_.observer().SelectedNamingOption();
        return job;
    }

    // The slow, independent part, on a worker when there are several: the header, the name, the
    // copy and, with workers, its flush. Touches nothing but the job and the file service.
    void Work(MessageJob &job, WorkHooks &hooks) {
        // The message's time is chosen from the head before the copy is finished.
        HeaderOnTheWay header(options_.fileTime != FileTime::Message ? HeaderOnTheWay::ChooseTime()
                                                                      : [this](const MailMessage &message) {
                                                                            MessageFacts facts = FactsOf(message);
                                                                            return MessageFileTime(options_.fileTime,
                                                                                                   facts);
                                                                        });
        if (job.folder && !options_.skipIdentical) {
            // The file's own name needs nothing from the message, so it is not read at all;
            // otherwise the copy reads the header on its way, so the file is opened once. Only a
            // look for an identical copy needs the name before the copy.
            if (StopsNow(hooks, job)) return;
            job.staged = files_.StageCopy(job.source, job.stagingDir, hooks, job.copy, std::nullopt,
                                          NeedsHeader(job) ? header.Head() : nullptr);
            if (job.staged.kind() == ErrorKind::Stopped) return;
            ComposeName(job, header);
            if (job.staged && jobs_.Parallel()) job.flushed = job.copy->Flush();
            return;
        }
        ComposeName(job, header);
        if (StopsNow(hooks, job) || !job.folder) return;
        // One at a time, what is there is looked at first; a worker looks ahead, and the naming
        // looks again once the copies before this one have their names.
        if (!jobs_.Parallel()) {
            job.copyDeferred = true;
            return;
        }
        if (auto found = OutputNames::LookForIdentical(files_, job.source, job.outputDir, job.name)) {
            job.identical = found->path;
            job.copyDeferred = true;
            return;
        }
        job.staged = files_.StageCopy(job.source, job.stagingDir, hooks, job.copy, job.fileTime);
        if (job.staged) job.flushed = job.copy->Flush();
    }

    bool NeedsHeader(const MessageJob &job) const {
        return UsesMessageFields(job.option) || options_.readEveryHeader || options_.fileTime == FileTime::Message;
    }

    void ComposeName(MessageJob &job, HeaderOnTheWay &header) const {
        const MailMessage unread;
        const bool needed = NeedsHeader(job);
        const MailMessage &message = needed ? header.Message(job.source) : unread;
        if (needed) job.facts = FactsOf(message);
        job.name = CleanOutputName(
            ComposeOutputName(job.option, message.Date(), message.Subject(), message.From(), job.sourcePath));
        job.fileTime = MessageFileTime(options_.fileTime, job.facts);
    }

    static bool StopsNow(WorkHooks &hooks, MessageJob &job) {
        if (!hooks.YieldAndCheckStop()) return false;
        job.staged = Status::Stopped();
        return true;
    }

    // Names one message, in list order. False when the run must stop; failures are recorded and
    // the run goes on.
    bool Name(MessageJob &job) {
        if (job.blank) {
            // Heard after the rows before it, like every other row.
            ClaimWaiting();
            ledger_.Skipped(job.row);
            return true;
        }
        if (job.staged.kind() == ErrorKind::Stopped) return false;
        if (!job.folder) {
            // Named all the same, so that later numbers are the ones they would have been.
            ClaimWaiting();
            names_.NameOnly(job.outputDir, job.name);
            ledger_.Failed(job.source,
                           "cannot create the output folder " + job.outputDir + ": " + job.folder.reason(), job.facts);
            return true;
        }
        if (options_.skipIdentical) {
            // What is there decides, so the copies before this one in its folder get their names first.
            const std::string folderKey = SameFileKey(job.outputDir);
            if (waiting_.Any([&](const WaitingCopy &waiting) { return waiting.folderKey == folderKey; }))
                ClaimWaiting();
            if (auto found = names_.FindIdentical(job.source, job.outputDir, job.name, job.identical)) {
                // The copies waiting in other folders come first in the list, so they take their
                // names before this message moves the counter.
                ClaimWaiting();
                job.copy.reset();
                names_.TakeIdentical(*found);
                ledger_.AlreadyThere(job.source, found->path, job.facts);
                return true;
            }
            if (job.copyDeferred) {
                job.staged = files_.StageCopy(job.source, job.outputDir, ledger_.observer(), job.copy, job.fileTime);
                if (job.staged.kind() == ErrorKind::Stopped) return false;
            }
        }
        if (!job.staged) {
            ClaimWaiting();
            names_.NameOnly(job.outputDir, job.name);
            ledger_.Failed(job.source, job.staged.reason(), job.facts);
            return true;
        }
        NoteTimeKept(*job.copy, job.facts);
        if (waiting_.Add({job.source, job.outputDir, SameFileKey(job.outputDir), job.name, std::move(job.copy),
                          std::move(job.flushed), std::move(job.facts)}))
            ClaimWaiting();
        return true;
    }

    void ClaimWaiting() {
        waiting_.Settle(ledger_.observer(), [this](WaitingCopy &waiting) {
            if (!*waiting.flushed) {
                names_.NameOnly(waiting.outputDir, waiting.name);
                ledger_.Failed(waiting.source, waiting.flushed->reason(), waiting.facts);
                return;
            }
            const OutputNames::Placement placed = names_.Claim(*waiting.copy, waiting.outputDir, waiting.name);
            if (!placed.status) {
                ledger_.Failed(waiting.source, placed.status.reason(), waiting.facts);
                return;
            }
            ledger_.Written(waiting.source, placed.path, 0, waiting.facts);
            // On a share the temporary name's removal is one more round trip: a worker's.
            if (waiting.copy->LeftToRemove())
                jobs_.GiveChore([copy = std::shared_ptr<StagedFile>(std::move(waiting.copy))]() mutable { copy.reset(); });
        });
    }

    Status EnsureFolder(const std::string &folder) {
        if (ensuredFolders_.count(folder)) return Status::Ok();
        Status status = files_.EnsureFolderExists(folder);
        if (status) ensuredFolders_.insert(folder);
        return status;
    }

    const MessageList &list_;
    const std::string outputRoot_;
    RunLedger ledger_;
    FileService &files_;
    OutputNames names_;
    const RunOptions options_;
    std::unordered_set<std::string> ensuredFolders_;
    WaitingClaims<WaitingCopy> waiting_;
    const std::unique_ptr<StagingFolders> staging_;
    // Last, so that the workers end before what they use goes.
    JobsInOrder<MessageJob> jobs_;
};

}  // namespace

ConversionReport RunConversion(const MessageList &list, const std::string &outputFolder,
                               DuplicateCounter &duplicateCounter, RunObserver &observer,
                               FileService &files, RunOptions options) {
    ConversionReport report = Run(list, outputFolder, duplicateCounter, observer, files, options).Execute();
    files.CloseFolders();
    TellLeftBehind(observer, files);
    return report;
}

}  // namespace tarvelin
