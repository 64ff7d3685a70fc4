#include "conversion/mailbox_run.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "conversion/mailbox/imap_utf7.h"
#include "conversion/header/mail_message.h"
#include "conversion/mailbox/maildir_writer.h"
#include "conversion/mailbox/mbox_writer.h"
#include "conversion/ordered_workers.h"
#include "platform/file_ops.h"
#include "platform/input_file.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

constexpr const char *kInboxFile = "Inbox";
constexpr std::size_t kReadChunk = 256 * 1024;
// Complete Maildir copies waiting to be flushed together when one job does all the work: the
// disk then commits once for the group instead of once per message.
constexpr std::size_t kClaimGroup = 32;

MessageFacts FactsOf(const MailMessage &message) {
    return {message.FileSize(), message.Instant(), message.From(), message.Subject(), message.MessageId(), {}};
}

bool StopsNow(WorkHooks &hooks) {
    hooks.Yield();
    return hooks.StopRequested();
}

// Reads the message once, for the header reader and (unless `into` is null: a dry run, which
// only reads) into the mbox file, a piece at a time: a message of any size costs a piece of
// memory. One that cannot be read to its end is taken back out of the file.
Status AddToMbox(const std::string &source, MboxFile *into, MailMessage &message, WorkHooks &hooks) {
    InputFile file(source);
    if (!file.status()) return file.status();
    if (file.kind() == InputFile::Kind::Folder)
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is a folder");
    if (file.kind() != InputFile::Kind::Regular)
        return Status::Failure(ErrorKind::Other, "cannot copy the message: it is not a regular file");
    const auto read = [&file](std::string &bytes) {
        const std::size_t before = bytes.size();
        bytes.resize(before + kReadChunk);
        const std::ptrdiff_t got = file.Read(bytes.data() + before, kReadChunk);
        bytes.resize(before + static_cast<std::size_t>(std::max<std::ptrdiff_t>(got, 0)));
        return got;
    };
    const Status unreadable = Status::Failure(ErrorKind::Other, "cannot read the message");
    // The separator line needs the message's date, so the header comes first.
    std::string piece;
    std::ptrdiff_t got = 1;
    while (got > 0 && piece.size() < MailMessage::kMaxHeaderBytes && !MailMessage::HeaderComplete(piece)) {
        if ((got = read(piece)) < 0) return unreadable;
    }
    (void)message.LoadFromHead(piece, file.modified(), file.size());
    if (into != nullptr) {
        if (Status begun = into->Begin(message.Instant().unixSeconds); !begun) return begun;
    }
    const auto giveBack = [into](Status why) {
        if (into != nullptr) (void)into->Abandon();
        return why;
    };
    while (!piece.empty()) {
        if (into != nullptr) {
            if (Status fed = into->Feed(piece); !fed) return fed;
        }
        piece.clear();
        if (got == 0) break;
        if (StopsNow(hooks)) return giveBack(Status::Stopped());
        if ((got = read(piece)) < 0) return giveBack(unreadable);
    }
    return into != nullptr ? into->End() : Status::Ok();
}

// Runs `count` jobs: each is made on the calling thread in order, worked on by up to `jobs`
// worker threads (by the calling thread itself when 1), and finished on the calling thread in
// order. At a stop the jobs finished at the front are finished still, up to the first one under
// way. False when the run stopped: at a stop, or when `finish` says so.
template <typename Job, typename Make, typename Finish>
bool RunInOrder(std::size_t count, std::size_t jobs, WorkHooks &hooks, Make make,
                const typename OrderedWorkers<Job>::Work &work, Finish finish) {
    if (jobs <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            if (StopsNow(hooks)) return false;
            Job job = make(i);
            work(job, hooks);
            if (!finish(job)) return false;
        }
        return true;
    }
    OrderedWorkers<Job> workers(jobs, kAheadPerJob * jobs, work);
    return GiveAndTakeInOrder(
        workers, count, hooks, [&](std::size_t i) { return std::optional<Job>(make(i)); },
        [](const Job &) { return true; }, finish);
}

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
    StagedCopy copy;
    bool flushed = false;
};

// One mbox file and its messages, in list order.
struct MboxJob {
    std::vector<std::size_t> items;
    std::string folder;  // where the file goes, with its separator
    std::string name;    // the name it wants there
    Status ready;        // the folder, then the file
    struct Message {
        Status status;
        MessageFacts facts;
    };
    std::vector<Message> messages;
    MboxFile file;
    bool stopped = false;
};

class MailboxRun {
public:
    MailboxRun(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
               MailboxRunObserver &observer, MailboxRunOptions options)
        : sources_(sources), root_(AddSeparator(outputFolder)), observer_(observer), options_(options),
          maildirs_(options.dryRun) {}

    ConversionReport Execute() {
        mailboxes_.reserve(sources_.size());
        for (const MailboxSource &source : sources_)
            mailboxes_.push_back(MailboxFor(options_.format, source.root, source.path, kNativeSeparator));
        if (StopsNow(observer_)) return Stopped();
        const bool complete = options_.format == MailboxFormat::Maildir ? WriteMaildir() : WriteMboxes();
        if (!complete) return Stopped();
        return std::move(report_);
    }

private:
    // A dry run writes nothing, so there is nothing to overlap.
    std::size_t Jobs(std::size_t count) const {
        return options_.dryRun ? 1 : std::min<std::size_t>(options_.jobs, count);
    }

    bool WriteMaildir() {
        const std::size_t count = sources_.size();
        parallel_ = Jobs(count) > 1;
        const bool complete = RunInOrder<MaildirJob>(
            count, Jobs(count), observer_, [this](std::size_t item) { return MakeMaildirJob(item); },
            [this](MaildirJob &job, WorkHooks &hooks) { CopyIntoTmp(job, hooks); },
            [this](MaildirJob &job) { return NameMaildirJob(job); });
        // What is complete is kept, also at a stop.
        SettlePending();
        return complete;
    }

    MaildirJob MakeMaildirJob(std::size_t item) {
        const MailboxPath &mailbox = mailboxes_[item];
        for (std::size_t level = 0; level < mailbox.names.size(); ++level)
            (void)maildirs_.Open(MaildirFolder(mailbox, level));  // its own message tells a failure
        MaildirJob job;
        job.item = item;
        job.folder = MaildirFolder(mailbox, mailbox.names.size());
        job.status = maildirs_.Open(job.folder);
        const MailboxSource &source = sources_[item];
        job.base = MaildirToken(RelativeSourcePath(source.root, source.path, kNativeSeparator));
        if (job.status && options_.skipIdentical) job.earlier = maildirs_.FilesOf(job.folder, job.base);
        return job;
    }

    // The slow part, on a worker when there are several: touches nothing but the job.
    void CopyIntoTmp(MaildirJob &job, WorkHooks &hooks) const {
        if (!job.status) return;
        if (StopsNow(hooks)) {
            job.status = Status::Stopped();
            return;
        }
        const std::string &source = sources_[job.item].path;
        const auto learn = [&](const MailMessage &message) {
            job.facts = FactsOf(message);
            job.instant = message.Instant().unixSeconds;
            // The file's time is the server's received date.
            return MessageFileTime(options_.fileTime, job.facts);
        };
        // Unless what is there must be compared first (or a dry run only looks), the header is read
        // on the copy's way, so that the file is opened once.
        const bool headOnTheWay = !options_.skipIdentical && !options_.dryRun;
        SourceHead head;
        bool learnt = false;
        std::optional<std::int64_t> time;
        if (headOnTheWay) {
            head.complete = MailMessage::HeaderComplete;
            head.limit = MailMessage::kMaxHeaderBytes;
            head.chooseTime = [&](const SourceHead &read) {
                MailMessage message;
                (void)message.LoadFromHead(read.bytes, read.modified, read.size);
                learnt = true;
                return learn(message);
            };
        } else {
            MailMessage message;
            (void)message.LoadFromFile(source);
            time = learn(message);
            learnt = true;
            for (const std::string &existing : job.earlier) {
                if (!SameContent(source, existing)) continue;
                job.identical = existing;
                return;
            }
            if (options_.dryRun) {
                job.status = CheckStaging(source, job.folder);
                return;
            }
        }
        job.status = StageCopy(source, job.folder + "tmp" + kNativeSeparator, job.copy, RealSysCalls(), &hooks, time,
                               headOnTheWay ? &head : nullptr);
        if (!learnt) {
            // The copy ended before its head was read: the facts of the failure come from the file.
            MailMessage message;
            (void)message.LoadFromFile(source);
            (void)learn(message);
        }
        if (!job.status) return;
        if (job.copy.KeptSourceTime())
            job.facts.timeNote = "keeps the source's time: the file system refused the message's date";
        if (parallel_) {
            job.status = job.copy.Flush();
            job.flushed = true;
        }
    }

    // In list order. False at a stop.
    bool NameMaildirJob(MaildirJob &job) {
        if (job.status.kind() == ErrorKind::Stopped) return false;
        ReportChangedNames(job.item);
        const std::string &source = sources_[job.item].path;
        if (job.status && options_.skipIdentical && job.identical.empty()) {
            // The copies of this run: those before this one take their names first.
            if (PendingWith(job.folder, job.base)) SettlePending();
            const std::vector<std::string> &files = maildirs_.FilesOf(job.folder, job.base);
            for (std::size_t i = job.earlier.size(); i < files.size() && job.identical.empty(); ++i)
                if (SameContent(source, files[i])) job.identical = files[i];
        }
        if (!job.status || !job.identical.empty()) {
            SettlePending();
            if (!job.status) {
                Fail(source, job.status.reason(), job.facts);
            } else {
                ++report_.alreadyThere;
                job.facts.timeNote.clear();  // nothing was written
                observer_.MessageAlreadyThere(source, job.identical, job.facts);
            }
        } else {
            pending_.push_back(std::move(job));
            if (parallel_ || options_.dryRun || pending_.size() >= kClaimGroup) SettlePending();
        }
        ShowProgress();
        return true;
    }

    bool PendingWith(const std::string &folder, const std::string &base) const {
        return std::any_of(pending_.begin(), pending_.end(),
                           [&](const MaildirJob &job) { return job.base == base && job.folder == folder; });
    }

    // Names the waiting copies in their order: all flushed first, then each renamed into cur/.
    void SettlePending() {
        for (MaildirJob &job : pending_) {
            if (job.flushed || options_.dryRun) continue;
            job.status = job.copy.Flush();
            observer_.Yield();
        }
        for (MaildirJob &job : pending_) {
            const std::string &source = sources_[job.item].path;
            std::string path;
            Status named = job.status;
            if (named) named = maildirs_.Name(job.folder, job.base, job.instant, options_.dryRun ? nullptr : &job.copy, path);
            if (!named) {
                Fail(source, named.reason(), job.facts);
                continue;
            }
            ++report_.converted;
            observer_.MessageWritten(source, path, 0, job.facts);
        }
        pending_.clear();
    }

    // One file per mailbox, in the order of each mailbox's first message; inside a file, list order.
    bool WriteMboxes() {
        std::vector<std::vector<std::size_t>> groups;
        std::map<std::vector<std::string>, std::size_t> groupOf;
        for (std::size_t item = 0; item < mailboxes_.size(); ++item) {
            auto [found, added] = groupOf.try_emplace(mailboxes_[item].names, groups.size());
            if (added) groups.emplace_back();
            groups[found->second].push_back(item);
        }
        const std::size_t count = groups.size();
        if (!RunInOrder<MboxJob>(
                count, Jobs(count), observer_, [&](std::size_t group) { return MakeMboxJob(groups[group]); },
                [this](MboxJob &job, WorkHooks &hooks) { BuildMbox(job, hooks); },
                [this](MboxJob &job) { return NameMbox(job); }))
            return false;
        // A parent without a file of its own (no message, or none that could be read) still needs
        // one, or its .sbd folder is never read.
        std::set<std::vector<std::string>> parents;
        for (const auto &[names, index] : groupOf)
            for (std::size_t level = 1; level < names.size(); ++level)
                parents.emplace(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(level));
        for (const auto &parent : parents) {
            if (mboxesWritten_.count(parent) || options_.dryRun) continue;
            const std::string folder = MboxFolder(parent, parent.size() - 1);
            const std::string path = folder + parent.back();
            if (FileExist(path)) continue;
            MboxFile file;
            std::string written;
            Status made = EnsureFolder(folder);
            if (made) made = file.Start(folder);
            if (made) made = file.Finish(folder, parent.back(), written);
            if (!made) Fail(path, made.reason(), {});
        }
        return true;
    }

    MboxJob MakeMboxJob(std::vector<std::size_t> items) {
        const MailboxPath &mailbox = mailboxes_[items.front()];
        MboxJob job;
        job.items = std::move(items);
        job.folder = MboxFolder(mailbox.names, mailbox.names.size() - (mailbox.names.empty() ? 0 : 1));
        job.name = mailbox.names.empty() ? kInboxFile : mailbox.names.back();
        job.ready = options_.dryRun ? CheckFolderCreatable(job.folder) : EnsureFolder(job.folder);
        return job;
    }

    // The slow part, on a worker when there are several: touches nothing but the job.
    void BuildMbox(MboxJob &job, WorkHooks &hooks) const {
        if (job.ready && !options_.dryRun) job.ready = job.file.Start(job.folder);
        bool any = false;
        for (const std::size_t item : job.items) {
            if (StopsNow(hooks)) {
                job.stopped = true;
                return;
            }
            MboxJob::Message &added = job.messages.emplace_back();
            added.status = job.ready;
            MailMessage message;
            if (added.status)
                added.status = AddToMbox(sources_[item].path, options_.dryRun ? nullptr : &job.file, message, hooks);
            if (added.status.kind() == ErrorKind::Stopped) {
                job.stopped = true;
                return;
            }
            if (!added.status) continue;
            added.facts = FactsOf(message);
            any = true;
        }
        if (any && !options_.dryRun) job.ready = job.file.Complete();
    }

    // In the order of the files. False at a stop.
    bool NameMbox(MboxJob &job) {
        if (job.stopped) return false;
        for (const std::size_t item : job.items) ReportChangedNames(item);
        std::vector<std::size_t> written;
        for (std::size_t i = 0; i < job.items.size(); ++i) {
            if (job.messages[i].status) {
                written.push_back(i);
            } else {
                Fail(sources_[job.items[i]].path, job.messages[i].status.reason(), job.messages[i].facts);
            }
            ShowProgress();
        }
        if (written.empty()) return true;

        std::string path;
        Status named = job.ready;
        if (named && options_.dryRun) {
            path = FreeMboxPath(job.folder, job.name);
        } else if (named) {
            named = job.file.Finish(job.folder, job.name, path);
        }
        if (!named) {
            // Nothing of the file is kept: it may end in part of a message.
            for (const std::size_t i : written) Fail(sources_[job.items[i]].path, named.reason(), job.messages[i].facts);
            return true;
        }
        mboxesWritten_.insert(mailboxes_[job.items.front()].names);
        if (path != job.folder + job.name) observer_.NameChanged(job.folder + job.name, path);
        for (std::size_t number = 1; const std::size_t i : written) {
            ++report_.converted;
            observer_.MessageWritten(sources_[job.items[i]].path, path, number++, job.messages[i].facts);
        }
        return true;
    }

    // The folder of the mailbox made of the first `levels` names.
    std::string MaildirFolder(const MailboxPath &mailbox, std::size_t levels) const {
        std::string folder = root_;
        for (std::size_t i = 0; i < levels; ++i) folder += ImapUtf7FromUtf8(mailbox.names[i]) + kNativeSeparator;
        return folder;
    }

    // The folder that holds the file of the mailbox whose parents are the first `parents` names.
    std::string MboxFolder(const std::vector<std::string> &names, std::size_t parents) const {
        std::string folder = root_;
        for (std::size_t i = 0; i < parents; ++i) folder += names[i] + ".sbd" + kNativeSeparator;
        return folder;
    }

    // Once for each source folder whose name had to change, at the level where it changed.
    void ReportChangedNames(std::size_t item) {
        const MailboxPath &mailbox = mailboxes_[item];
        if (mailbox.changedFrom.empty()) return;
        std::string sourceFolder = AddSeparator(sources_[item].root);
        sourceFolder.pop_back();
        for (std::size_t i = 0; i < mailbox.names.size(); ++i) {
            sourceFolder += kNativeSeparator + mailbox.changedFrom[i];
            if (mailbox.names[i] == mailbox.changedFrom[i] || !reportedFolders_.insert(sourceFolder).second) continue;
            // Heard after every message before this one, however many copies are waiting.
            SettlePending();
            std::string written;
            if (options_.format == MailboxFormat::Maildir) {
                written = MaildirFolder(mailbox, i + 1);
            } else {
                written = MboxFolder(mailbox.names, i) + mailbox.names[i];
            }
            observer_.NameChanged(sourceFolder, written);
        }
    }

    void Fail(const std::string &source, std::string reason, const MessageFacts &facts) {
        observer_.MessageFailed(source, reason, facts);
        report_.failures.push_back({source, std::move(reason)});
    }

    void ShowProgress() {
        ++done_;
        const std::size_t rows = sources_.size();
        const double share = static_cast<double>(done_) / static_cast<double>(rows) * 100.0;
        observer_.ShowProgress(static_cast<float>(share), ProgressCaption(done_, rows));
    }

    ConversionReport Stopped() {
        report_.stopped = true;
        return std::move(report_);
    }

    const std::vector<MailboxSource> &sources_;
    const std::string root_;
    MailboxRunObserver &observer_;
    const MailboxRunOptions options_;
    std::vector<MailboxPath> mailboxes_;  // of each source
    MaildirMailboxes maildirs_;
    bool parallel_ = false;
    std::vector<MaildirJob> pending_;
    std::set<std::string> reportedFolders_;
    std::set<std::vector<std::string>> mboxesWritten_;
    std::size_t done_ = 0;
    ConversionReport report_;
};

}  // namespace

ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      MailboxRunObserver &observer, MailboxRunOptions options) {
    return MailboxRun(sources, outputFolder, observer, options).Execute();
}

}  // namespace tarvelin
