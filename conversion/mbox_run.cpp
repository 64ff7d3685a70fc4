// The mailbox run into mbox files: one file per mailbox, in the order of each mailbox's first
// message (built by a worker when there are several), its messages in list order.
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "conversion/mailbox/mbox_writer.h"
#include "conversion/mailbox_runs.h"
#include "conversion/ordered_workers.h"

namespace tarvelin {

namespace {

constexpr const char *kInboxFile = "Inbox";

// A mailbox file by its tree (the source's account) and the names of the files down to it: INBOX
// is "Inbox", and its children lie in "Inbox.sbd".
using MboxKey = std::pair<std::size_t, std::vector<std::string>>;

std::vector<std::string> FileNames(const std::vector<std::string> &names) {
    if (names.empty()) return {kInboxFile};
    std::vector<std::string> files = names;
    if (files[0] == kInboxName) files[0] = kInboxFile;
    return files;
}

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

class MboxRun {
public:
    explicit MboxRun(MailboxRunState &run) : run_(run) {}

    bool Write() {
        std::vector<std::vector<std::size_t>> groups;
        std::map<MboxKey, std::size_t> groupOf;
        for (std::size_t item = 0; item < run_.sources.size(); ++item) {
            // Those outside every account fail together.
            auto [found, added] = groupOf.try_emplace(KeyOf(item), groups.size());
            if (added) groups.emplace_back();
            groups[found->second].push_back(item);
        }
        JobsInOrder<MboxJob> jobs(
            run_.Jobs(groups.size()),
            [this](MboxJob &job, WorkHooks &hooks) {
                // Out of memory between messages, the file is not named: every message fails.
                if (Status kept = WithinMemory([&] { Build(job, hooks); }); !kept) {
                    job.ready = kept;
                    job.messages.resize(job.items.size());
                }
            },
            run_.ledger.observer());
        if (!jobs.Run(
                groups.size(), run_.ledger.observer(),
                [&](std::size_t group) { return std::optional<MboxJob>(Make(groups[group])); },
                [](const MboxJob &) { return true; }, [this](MboxJob &job) { return Name(job); }))
            return false;
        WriteParents(groupOf);
        return true;
    }

private:
    MboxKey KeyOf(std::size_t item) const {
        if (!run_.Placed(item)) return {kOutsideAccounts, {}};
        return {run_.sources[item].account, FileNames(run_.MailboxOf(item).names)};
    }

    // The tree of a key's account.
    const std::string &TreeOf(const MboxKey &key) const {
        return key.first < run_.trees.size() ? run_.trees[key.first] : run_.root;
    }

    MboxJob Make(std::vector<std::size_t> items) {
        MboxJob job;
        job.items = std::move(items);
        if (!run_.Placed(job.items.front())) {
            job.ready = Status::Failure(ErrorKind::Other, run_.OutsideReason());
            return job;
        }
        const std::vector<std::string> files = FileNames(run_.MailboxOf(job.items.front()).names);
        job.folder = MboxFolderOf(run_.TreeOf(job.items.front()), files, files.size() - 1);
        job.name = files.back();
        job.ready = run_.files.EnsureFolderExists(job.folder);
        return job;
    }

    // The slow part, on a worker when there are several: touches nothing but the job.
    void Build(MboxJob &job, WorkHooks &hooks) const {
        if (job.ready) job.ready = job.file.Start(run_.files, job.folder);
        bool any = false;
        for (const std::size_t item : job.items) {
            if (hooks.YieldAndCheckStop()) {
                job.stopped = true;
                return;
            }
            MboxJob::Message &added = job.messages.emplace_back();
            added.status = job.ready;
            MailMessage message;
            if (added.status) added.status = job.file.Add(run_.files, run_.sources[item].path, hooks, message);
            if (added.status.kind() == ErrorKind::Stopped) {
                job.stopped = true;
                return;
            }
            if (!added.status) continue;
            added.facts = FactsOf(message);
            any = true;
        }
        if (any) job.ready = job.file.Complete();
    }

    // In the order of the files. False at a stop.
    bool Name(MboxJob &job) {
        if (job.stopped) return false;
        for (std::size_t i = 0; i < job.items.size(); ++i) {
            const std::size_t item = job.items[i];
            run_.Place(item, job.messages[i].facts);
            if (!run_.Placed(item)) continue;
            const std::vector<std::string> files = FileNames(run_.MailboxOf(item).names);
            run_.ReportChangedNames(
                item, [&](std::size_t level) { return MboxFolderOf(run_.TreeOf(item), files, level) + files[level]; });
        }
        std::vector<std::size_t> written;
        for (std::size_t i = 0; i < job.items.size(); ++i) {
            if (job.messages[i].status) {
                written.push_back(i);
            } else {
                run_.ledger.Failed(run_.sources[job.items[i]].path, job.messages[i].status.reason(),
                                   job.messages[i].facts);
            }
            run_.ledger.Progressed();
        }
        if (written.empty()) return true;

        std::string path;
        Status named = job.ready;
        if (named) named = job.file.Finish(job.folder, job.name, path);
        if (!named) {
            // Nothing of the file is kept: it may end in part of a message.
            for (const std::size_t i : written)
                run_.ledger.Failed(run_.sources[job.items[i]].path, named.reason(), job.messages[i].facts);
            return true;
        }
        written_.insert(KeyOf(job.items.front()));
        if (path != job.folder + job.name) run_.ledger.NameChanged(job.folder + job.name, path);
        for (std::size_t number = 1; const std::size_t i : written)
            run_.ledger.Written(run_.sources[job.items[i]].path, path, number++, job.messages[i].facts);
        return true;
    }

    // A parent without a file of its own (no message, or none that could be read) still needs
    // one, or its .sbd folder is never read; and every account has an INBOX.
    void WriteParents(const std::map<MboxKey, std::size_t> &groupOf) {
        std::set<MboxKey> parents;
        for (const auto &[key, index] : groupOf)
            for (std::size_t level = 1; level < key.second.size(); ++level)
                parents.emplace(key.first, std::vector<std::string>(key.second.begin(),
                                                                    key.second.begin() + static_cast<std::ptrdiff_t>(level)));
        for (std::size_t account = 0; account < run_.trees.size(); ++account)
            parents.emplace(account, std::vector<std::string>{kInboxFile});
        for (const auto &parent : parents) {
            if (written_.count(parent)) continue;
            const std::vector<std::string> &files = parent.second;
            const std::string folder = MboxFolderOf(TreeOf(parent), files, files.size() - 1);
            const std::string path = folder + files.back();
            if (run_.files.FileExist(path)) continue;
            MboxFile file;
            std::string written;
            Status made = run_.files.EnsureFolderExists(folder);
            if (made) made = file.Start(run_.files, folder);
            if (made) made = file.Finish(folder, files.back(), written);
            if (!made) run_.ledger.Failed(path, made.reason(), {});
        }
    }

    MailboxRunState &run_;
    std::set<MboxKey> written_;  // the mailboxes with a file of their own
};

}  // namespace

bool WriteMboxes(MailboxRunState &run) { return MboxRun(run).Write(); }

}  // namespace tarvelin
