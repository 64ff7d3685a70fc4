// What the Maildir run and the mbox run share, and the two: private to the runs.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/mailbox_run.h"
#include "conversion/run_ledger.h"

namespace tarvelin {

struct MailboxRunState {
    MailboxRunState(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                    RunObserver &observer, FileService &files, const MailboxRunOptions &options);

    // No more workers than jobs.
    std::size_t Jobs(std::size_t count) const;

    // Once for each source folder of the item's path whose name had to change, at the level where
    // it changed: `writtenAs(level)` names what the target holds for the first level + 1 names,
    // and `before` runs first, so that the report comes after every message before this one.
    void ReportChangedNames(std::size_t item, const std::function<std::string(std::size_t level)> &writtenAs,
                            const std::function<void()> &before = {});

    const std::vector<MailboxSource> &sources;
    const std::string root;  // the output folder, with its separator
    RunLedger ledger;
    FileService &files;
    const MailboxRunOptions options;
    const std::vector<MailboxPath> mailboxes;  // of each source

private:
    std::set<std::string> reportedFolders_;
};

// Each writes the run's messages in its format; false at a stop.
bool WriteMaildirs(MailboxRunState &run);
bool WriteMboxes(MailboxRunState &run);

}  // namespace tarvelin
