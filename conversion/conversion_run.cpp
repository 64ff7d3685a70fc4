#include "conversion/conversion_run.h"

#include <deque>
#include <memory>
#include <optional>
#include <unordered_set>

#include "conversion/claims_out.h"
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
    // The option the name is composed by: the one last read when the message is handed out, and
    // again the one read when it is named.
    NamingOption option = NamingOption::OptOriginal;
    bool headerRead = false;
    CalendarDate date;       // from the header, for a name composed again
    std::string name;        // cleaned
    MessageFacts facts;
    std::optional<std::int64_t> fileTime;  // in place of the source's
    std::shared_ptr<const FolderNames> listing;  // the output folder's first listing, for a look ahead
    bool lookedAhead = false;  // a worker looked in that listing for a copy of the same bytes
    std::string identical;     // and found it there
    bool copyDeferred = false;  // to be copied at naming, once what is there has been looked at
    Status staged;
    std::unique_ptr<StagedFile> copy;
    std::optional<Status> flushed;  // when the worker flushed the copy
};

// A complete copy waiting for its name (one job).
struct WaitingCopy {
    std::string source, outputDir;
    std::string folderKey;  // outputDir as the file system compares it
    std::string name;
    std::unique_ptr<StagedFile> copy;
    std::optional<Status> flushed;
    MessageFacts facts;
};

// A name claimed by a worker, not yet heard of (several jobs).
struct ClaimHeard {
    std::string source, outputDir, name;
    MessageFacts facts;
    std::u16string foldedPlain;  // its plain path as a folding file system compares it
    OutputNames::Choice choice;
    std::shared_ptr<ClaimOut> claim;
};

class Run {
public:
    Run(const MessageList &list, const std::string &outputFolder, DuplicateCounter &counter,
        RunObserver &observer, FileService &files, RunOptions options)
        : list_(list), outputRoot_(AddSeparator(outputFolder)), outputFolders_(outputRoot_),
          ledger_(observer, list.RowCount()), files_(files),
          names_(counter, files), options_(options), waiting_(options.jobs > 1 ? 1 : options.claimGroup),
          // Workers stage their copies in folders of their own, which go after them and their copies.
          staging_(options.jobs > 1 ? std::make_unique<StagingFolders>(files, outputRoot_, options.jobs) : nullptr),
          claims_([this](std::function<void()> claim) { jobs_.GiveChore(std::move(claim)); }, kClaimsPerFolder),
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
        // Read when each message is named; what was read last tells the workers whether the
        // header is needed.
        lastOption_ = ledger_.observer().SelectedNamingOption();
        const bool complete = jobs_.Run(
            list_.RowCount(), ledger_.observer(), [this](std::size_t row) { return Prepare(row); },
            [](const MessageJob &job) { return !job.blank; }, [this](MessageJob &job) { return Name(job); });
        // A stop keeps what the finished messages at the front of the list did.
        HearAll();
        return ledger_.Finish(complete);
    }

private:
    // The calling thread's share before the copy: the row and its folder. Nothing when the run
    // must stop.
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
        job.outputDir = outputFolders_.For(job.sourcePath);
        job.folder = EnsureFolder(job.outputDir);
        job.stagingDir = staging_ != nullptr && job.folder ? staging_->For(row, jobs_.Working(), job.outputDir) : job.outputDir;
        if (options_.skipIdentical && job.folder && jobs_.Parallel()) job.listing = names_.FirstListing(job.outputDir);
        if (ledger_.StopsNow()) return std::nullopt;
        job.option = lastOption_;
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
        // One at a time, what is there is looked at first; a worker looks ahead in what the folder
        // held, and the naming looks again at what the run added since.
        if (!jobs_.Parallel()) {
            job.copyDeferred = true;
            return;
        }
        job.lookedAhead = true;
        if (auto found = OutputNames::LookForIdentical(files_, *job.listing, job.source, job.outputDir, job.name)) {
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
        job.headerRead = NeedsHeader(job);
        const MailMessage &message = job.headerRead ? header.Message(job.source) : unread;
        if (job.headerRead) {
            job.facts = FactsOf(message);
            job.date = message.Date();
        }
        job.name = CleanOutputName(
            ComposeOutputName(job.option, message.Date(), message.Subject(), message.From(), job.sourcePath));
        job.fileTime = MessageFileTime(options_.fileTime, job.facts);
    }

    // The option as it is when the message is named: a change during the run applies from the
    // next message named, whatever was handed out before.
    void TakeNamingOption(MessageJob &job) {
        const NamingOption now = ledger_.observer().SelectedNamingOption();
        lastOption_ = now;
        if (now == job.option) return;
        job.option = now;
        if (!job.headerRead && UsesMessageFields(now)) {
            MailMessage message;
            (void)message.LoadFromFile(job.source);
            job.headerRead = true;
            job.facts = FactsOf(message);
            job.date = message.Date();
        }
        job.name = CleanOutputName(
            ComposeOutputName(now, job.date, job.facts.subject, job.facts.from, job.sourcePath));
        job.fileTime = MessageFileTime(options_.fileTime, job.facts);
        // What a worker looked for had another name.
        job.lookedAhead = false;
        if (!job.identical.empty()) {
            job.identical.clear();
            job.copyDeferred = true;
        }
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
            HearAll();
            ledger_.Skipped(job.row);
            ledger_.Progressed();
            return true;
        }
        if (job.staged.kind() == ErrorKind::Stopped) return false;
        TakeNamingOption(job);
        if (!job.folder) {
            FailBeforeClaim(job, "cannot create the output folder " + job.outputDir + ": " + job.folder.reason());
            return true;
        }
        if (options_.skipIdentical) {
            // What is there decides, so the messages before this one get their names first.
            if (jobs_.Parallel()) {
                HearAll();
            } else if (const std::string key = SameFileKey(job.outputDir);
                       waiting_.Any([&](const WaitingCopy &waiting) { return waiting.folderKey == key; })) {
                ClaimWaiting();
            }
            const OutputNames::LookedAhead ahead{job.listing, job.identical};
            if (auto found = names_.FindIdentical(job.source, job.outputDir, job.name,
                                                  job.lookedAhead ? &ahead : nullptr)) {
                // The copies waiting in other folders come first in the list, so they take their
                // names before this message moves the counter.
                HearAll();
                job.copy.reset();
                names_.TakeIdentical(*found);
                ledger_.AlreadyThere(job.source, found->path, job.facts);
                ledger_.Progressed();
                return true;
            }
            if (job.copyDeferred) {
                job.staged = files_.StageCopy(job.source, job.outputDir, ledger_.observer(), job.copy, job.fileTime);
                if (job.staged.kind() == ErrorKind::Stopped) return false;
            }
        }
        if (!job.staged) {
            FailBeforeClaim(job, job.staged.reason());
            return true;
        }
        if (job.flushed && !*job.flushed) {
            FailBeforeClaim(job, job.flushed->reason());
            return true;
        }
        NoteTimeKept(*job.copy, job.facts);
        if (!jobs_.Parallel()) {
            // One at a time the copy waits with others for its name, to share the disk's commit.
            const bool full = waiting_.Add({job.source, job.outputDir, SameFileKey(job.outputDir), job.name,
                                            std::move(job.copy), std::move(job.flushed), std::move(job.facts)});
            ledger_.Progressed();
            if (full) ClaimWaiting();
            return true;
        }
        ClaimOutOfTurn(job);
        return true;
    }

    // Named all the same, so that later numbers are the ones they would have been.
    void FailBeforeClaim(MessageJob &job, std::string reason) {
        HearAll();
        names_.NameOnly(job.outputDir, job.name);
        ledger_.Failed(job.source, std::move(reason), job.facts);
        ledger_.Progressed();
    }

    // Several jobs: the name is decided now and claimed by a worker, as soon as no claim still
    // out can change what the name must be; its outcome is heard in list order.
    void ClaimOutOfTurn(MessageJob &job) {
        const std::string plain = PlainOutputPath(job.outputDir, job.name);
        std::u16string folded = FoldedPath(plain);
        // A claim still out that could end on this name decides it: the same name in the same
        // folder, as a file system that folds names compares them, or one of its numbered names.
        const bool numberedLike = plain.ends_with(").eml");
        for (std::size_t i = claimsOut_.size(); i > 0; --i) {
            const ClaimHeard &out = claimsOut_[i - 1];
            if (out.foldedPlain == folded ||
                (numberedLike && OutputNames::MayEndOn(out.outputDir, out.name, plain, folded))) {
                HearFirst(i);
                break;
            }
        }
        // A taken name is numbered from the counter, which the claims still out move.
        if (!claimsOut_.empty() && names_.PlainTaken(job.outputDir, job.name)) HearAll();
        OutputNames::Choice choice = names_.Choose(job.outputDir, job.name);
        std::shared_ptr<ClaimOut> claim = claims_.Give(std::move(job.copy), choice.path, job.outputDir);
        claimsOut_.push_back(
            {job.source, job.outputDir, job.name, std::move(job.facts), std::move(folded), std::move(choice), claim});
        // Bounded like the copies, so that the temporary files a kill can leave stay few, and
        // wide enough that the claims reach the next folders while one folder's go one by one.
        if (claimsOut_.size() > kAheadPerJob * options_.jobs) HearFirst(1);
        while (!claimsOut_.empty() && claims_.Done(*claimsOut_.front().claim)) HearFirst(1);
    }

    // The outcomes of the first `count` claims still out, in list order.
    void HearFirst(std::size_t count) {
        for (; count > 0; --count) {
            ClaimHeard out = std::move(claimsOut_.front());
            claimsOut_.pop_front();
            claims_.Await(*out.claim, ledger_.observer());
            const OutputNames::Placement placed =
                names_.Settle(out.outputDir, out.name, std::move(out.choice), std::move(out.claim->status),
                              [&](const std::string &path) { return out.claim->copy->ClaimAs(path); });
            Heard(out.source, placed, out.facts, out.claim->copy);
            ledger_.Progressed();
        }
    }

    // Every message before the next one named is heard of.
    void HearAll() {
        if (jobs_.Parallel()) {
            HearFirst(claimsOut_.size());
        } else {
            ClaimWaiting();
        }
    }

    void Heard(const std::string &source, const OutputNames::Placement &placed, const MessageFacts &facts,
               std::unique_ptr<StagedFile> &copy) {
        if (!placed.status) {
            ledger_.Failed(source, placed.status.reason(), facts);
            return;
        }
        ledger_.Written(source, placed.path, 0, facts);
        // On a share the temporary name's removal is one more round trip: a worker's.
        if (copy && copy->LeftToRemove())
            jobs_.GiveChore([copy = std::shared_ptr<StagedFile>(std::move(copy))]() mutable { copy.reset(); });
    }

    // One job: the waiting copies, flushed together, then each named in turn.
    void ClaimWaiting() {
        waiting_.Settle(ledger_.observer(), [this](WaitingCopy &waiting) {
            if (!*waiting.flushed) {
                names_.NameOnly(waiting.outputDir, waiting.name);
                ledger_.Failed(waiting.source, waiting.flushed->reason(), waiting.facts);
                return;
            }
            OutputNames::Choice choice = names_.Choose(waiting.outputDir, waiting.name);
            Status claimed = waiting.copy->ClaimAs(choice.path);
            const OutputNames::Placement placed =
                names_.Settle(waiting.outputDir, waiting.name, std::move(choice), std::move(claimed),
                              [&](const std::string &path) { return waiting.copy->ClaimAs(path); });
            Heard(waiting.source, placed, waiting.facts, waiting.copy);
        });
    }

    Status EnsureFolder(const std::string &folder) {
        if (ensuredFolders_.count(folder)) return Status::Ok();
        bool made = false;
        Status status = files_.EnsureFolderExists(folder, &made);
        if (!status) return status;
        ensuredFolders_.insert(folder);
        names_.FolderReady(folder, made);
        return status;
    }

    const MessageList &list_;
    const std::string outputRoot_;
    OutputFolderOfRows outputFolders_;
    RunLedger ledger_;
    FileService &files_;
    OutputNames names_;
    const RunOptions options_;
    NamingOption lastOption_ = NamingOption::OptOriginal;
    std::unordered_set<std::string> ensuredFolders_;
    WaitingClaims<WaitingCopy> waiting_;
    const std::unique_ptr<StagingFolders> staging_;
    std::deque<ClaimHeard> claimsOut_;
    ClaimsOut claims_;
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
