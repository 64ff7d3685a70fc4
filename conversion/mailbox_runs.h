// What the Maildir run and the mbox run share, and the two: private to the runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/mailbox_run.h"
#include "conversion/run_ledger.h"

namespace tarvelin {

struct MailboxRunState {
    MailboxRunState(const std::vector<MailboxSource> &sources, const std::vector<MailboxAccount> &accounts,
                    const std::string &outputFolder, RunObserver &observer, FileService &files,
                    const MailboxRunOptions &options);

    // No more workers than jobs.
    std::size_t Jobs(std::size_t count) const;

    const MailboxPath &MailboxOf(std::size_t item) const { return mailboxes_[mailboxOf_[item]].path; }
    // False for a message outside every account's folder, which fails with OutsideReason().
    bool Placed(std::size_t item) const { return sources[item].account != kOutsideAccounts; }
    const std::string &OutsideReason() const { return outsideReason_; }
    // The folder of the item's mailbox tree (the output folder, or its account's there), with its
    // separator.
    const std::string &TreeOf(std::size_t item) const;
    // The item's account and mailbox, in the facts the observer hears.
    void Place(std::size_t item, MessageFacts &facts) const;

    // Once for each source folder of the item's path that is written under another name than it
    // wants, at the level where it is: because the target refused its name, or because another
    // folder (listed before) ends with the same name and the two merge. `writtenAs(level)` names
    // what the target holds for the first level + 1 names, and `before` runs first, so that the
    // report comes after every message before this one.
    void ReportChangedNames(std::size_t item, const std::function<std::string(std::size_t level)> &writtenAs,
                            const std::function<void()> &before = {});

    const std::vector<MailboxSource> &sources;
    const std::vector<MailboxAccount> &accounts;
    const std::string root;  // the output folder, with its separator
    RunLedger ledger;
    FileService &files;
    const MailboxRunOptions options;
    const std::vector<std::string> trees;  // each account's folder, with its separator

private:
    // The mailbox of each source folder, made once for all of its messages.
    struct Mailbox {
        MailboxPath path;
        std::string name;  // as clients list it
        bool reported = false;
    };
    std::vector<Mailbox> mailboxes_;
    std::vector<std::uint32_t> mailboxOf_;  // of each source
    const std::string outsideReason_;
    // Of each mailbox (by its tree and names), the first source folder below its root that went there.
    std::map<std::string, std::string> firstFolder_;
    std::set<std::string> reportedFolders_;
};

// Each writes the run's messages in its format; false at a stop.
bool WriteMaildirs(MailboxRunState &run);
bool WriteMboxes(MailboxRunState &run);

}  // namespace tarvelin
