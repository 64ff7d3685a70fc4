// The mailbox run into Maildir folders: each message copied into its mailbox's tmp/ (by a worker
// when there are several) and renamed into cur/ in list order.
#include <memory>
#include <optional>

#include "conversion/header_on_the_way.h"
#include "conversion/mailbox/maildir_writer.h"
#include "conversion/mailbox_runs.h"
#include "conversion/ordered_workers.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

// One message on its way into a Maildir mailbox.
struct MaildirJob {
    std::size_t item = 0;
    std::string folder;                // the mailbox's, with its separator
    std::string base;                  // the token's base, from the path below the root
    std::vector<std::string> earlier;  // files of the base named when the job was made
    Status status;                     // the mailbox's, then the copy's
    MessageFacts facts;
    std::int64_t instant = 0;          // the name's leading number
    std::string identical;             // an earlier file of the same bytes
    std::unique_ptr<StagedFile> copy;
    std::optional<Status> flushed;
};

class MaildirRun {
public:
    explicit MaildirRun(MailboxRunState &run)
        : run_(run), maildirs_(run.files, run.options.seen), waiting_(run.Jobs(run.sources.size()) > 1 ? 1 : kClaimGroup),
          jobs_(
              run.Jobs(run.sources.size()),
              [this](MaildirJob &job, WorkHooks &hooks) {
                  if (Status kept = WithinMemory([&] { CopyIntoTmp(job, hooks); }); !kept) {
                      job.copy.reset();
                      job.status = kept;
                  }
              },
              run.ledger.observer()) {}

    bool Write() {
        const bool complete = jobs_.Run(
            run_.sources.size(), run_.ledger.observer(),
            [this](std::size_t item) { return std::optional<MaildirJob>(Make(item)); },
            [](const MaildirJob &) { return true; }, [this](MaildirJob &job) { return Name(job); });
        // What is complete is kept, also at a stop.
        Settle();
        if (complete) OpenEveryInbox();
        return complete;
    }

private:
    MaildirJob Make(std::size_t item) {
        MaildirJob job;
        job.item = item;
        if (!run_.Placed(item)) {
            job.status = Status::Failure(ErrorKind::Other, run_.OutsideReason());
            return job;
        }
        const MailboxPath &mailbox = run_.MailboxOf(item);
        const std::string &tree = run_.TreeOf(item);
        if (run_.sources[item].account < accountsUsed_.size()) accountsUsed_[run_.sources[item].account] = true;
        for (std::size_t level = 0; level < mailbox.names.size(); ++level) {
            // INBOX's children lie in a folder "INBOX" that is no mailbox: INBOX is the tree's own.
            if (level == 1 && mailbox.names[0] == kInboxName) continue;
            (void)maildirs_.Open(MaildirFolderOf(tree, mailbox.names, level));  // its own message tells a failure
        }
        job.folder = MaildirFolderOf(tree, mailbox.names, mailbox.names.size());
        job.status = maildirs_.Open(job.folder);
        const MailboxSource &source = run_.sources[item];
        job.base = MaildirToken(RelativeSourcePath(source.root, source.path, kNativeSeparator));
        if (job.status && run_.options.skipIdentical) job.earlier = maildirs_.FilesOf(job.folder, job.base);
        return job;
    }

    // The slow part, on a worker when there are several: touches nothing but the job.
    void CopyIntoTmp(MaildirJob &job, WorkHooks &hooks) const {
        if (!job.status) return;
        if (hooks.YieldAndCheckStop()) {
            job.status = Status::Stopped();
            return;
        }
        const std::string &source = run_.sources[job.item].path;
        // The file's time is the server's received date.
        const FileTime fileTime = run_.options.fileTime;
        HeaderOnTheWay header([fileTime](const MailMessage &message) {
            MessageFacts facts = FactsOf(message);
            return MessageFileTime(fileTime, facts);
        });
        // Unless what is there must be compared first, the header is read on the copy's way, so
        // that the file is opened once.
        const bool compareFirst = run_.options.skipIdentical;
        std::optional<std::int64_t> time;
        if (compareFirst) {
            time = Learn(job, header.Message(source));
            for (const std::string &existing : job.earlier) {
                if (!run_.files.SameContent(source, existing)) continue;
                job.identical = existing;
                return;
            }
        }
        job.status = run_.files.StageCopy(source, job.folder + "tmp" + kNativeSeparator, hooks, job.copy, time,
                                          compareFirst ? nullptr : header.Head());
        // Read on the way, or, where the copy ended before its head, from the file.
        (void)Learn(job, header.Message(source));
        if (!job.status) return;
        NoteTimeKept(*job.copy, job.facts);
        if (jobs_.Parallel()) job.flushed = job.copy->Flush();
    }

    // The facts, the name's number and the copy's time.
    std::optional<std::int64_t> Learn(MaildirJob &job, const MailMessage &message) const {
        job.facts = FactsOf(message);
        job.instant = message.Instant().unixSeconds;
        return MessageFileTime(run_.options.fileTime, job.facts);
    }

    // In list order. False at a stop.
    bool Name(MaildirJob &job) {
        if (job.status.kind() == ErrorKind::Stopped) return false;
        run_.Place(job.item, job.facts);
        run_.ReportChangedNames(
            job.item,
            [&](std::size_t level) {
                return MaildirFolderOf(run_.TreeOf(job.item), run_.MailboxOf(job.item).names, level + 1);
            },
            [this] { Settle(); });
        const std::string &source = run_.sources[job.item].path;
        if (job.status && run_.options.skipIdentical && job.identical.empty()) {
            // The copies of this run: those before this one take their names first.
            if (waiting_.Any([&](const MaildirJob &waiting) {
                    return waiting.base == job.base && waiting.folder == job.folder;
                }))
                Settle();
            const std::vector<std::string> &files = maildirs_.FilesOf(job.folder, job.base);
            for (std::size_t i = job.earlier.size(); i < files.size() && job.identical.empty(); ++i)
                if (run_.files.SameContent(source, files[i])) job.identical = files[i];
        }
        if (!job.status || !job.identical.empty()) {
            Settle();
            if (!job.status) {
                run_.ledger.Failed(source, job.status.reason(), job.facts);
            } else {
                run_.ledger.AlreadyThere(source, job.identical, job.facts);
            }
        } else if (waiting_.Add(std::move(job))) {
            Settle();
        }
        run_.ledger.Progressed();
        return true;
    }

    // Names the waiting copies in their order: all flushed first, then each renamed into cur/.
    void Settle() {
        waiting_.Settle(run_.ledger.observer(), [this](MaildirJob &job) {
            const std::string &source = run_.sources[job.item].path;
            std::string path;
            Status named = *job.flushed;
            if (named) named = maildirs_.Name(job.folder, job.base, job.instant, *job.copy, path);
            if (!named) {
                run_.ledger.Failed(source, named.reason(), job.facts);
                return;
            }
            run_.ledger.Written(source, path, 0, job.facts);
            // On a share the temporary name's removal is one more round trip: a worker's.
            if (job.copy->LeftToRemove())
                jobs_.GiveChore([copy = std::shared_ptr<StagedFile>(std::move(job.copy))]() mutable { copy.reset(); });
        });
    }

    // Every account has an INBOX, also one without a message (those with one opened it).
    void OpenEveryInbox() {
        for (std::size_t account = 0; account < run_.trees.size(); ++account) {
            if (accountsUsed_[account]) continue;
            if (const Status opened = maildirs_.Open(run_.trees[account]); !opened)
                run_.ledger.Failed(run_.trees[account], opened.reason(), {});
        }
    }

    MailboxRunState &run_;
    MaildirMailboxes maildirs_;
    std::vector<bool> accountsUsed_ = std::vector<bool>(run_.trees.size());
    WaitingClaims<MaildirJob> waiting_;
    // Last, so that the workers end before what they use goes.
    JobsInOrder<MaildirJob> jobs_;
};

}  // namespace

bool WriteMaildirs(MailboxRunState &run) { return MaildirRun(run).Write(); }

}  // namespace tarvelin
