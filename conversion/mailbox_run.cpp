#include "conversion/mailbox_run.h"

#include <algorithm>

#include "conversion/mailbox_runs.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

std::vector<MailboxPath> MailboxesOf(const std::vector<MailboxSource> &sources, MailboxFormat format) {
    std::vector<MailboxPath> mailboxes;
    mailboxes.reserve(sources.size());
    for (const MailboxSource &source : sources)
        mailboxes.push_back(MailboxFor(format, source.root, source.path, kNativeSeparator));
    return mailboxes;
}

}  // namespace

MailboxRunState::MailboxRunState(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                 RunObserver &observer, FileService &files, const MailboxRunOptions &options)
    : sources(sources), root(AddSeparator(outputFolder)), ledger(observer, sources.size()), files(files),
      options(options), mailboxes(MailboxesOf(sources, options.format)) {}

std::size_t MailboxRunState::Jobs(std::size_t count) const { return std::min<std::size_t>(options.jobs, count); }

void MailboxRunState::ReportChangedNames(std::size_t item, const std::function<std::string(std::size_t)> &writtenAs,
                                         const std::function<void()> &before) {
    const MailboxPath &mailbox = mailboxes[item];
    if (mailbox.changedFrom.empty()) return;
    std::string sourceFolder = AddSeparator(sources[item].root);
    sourceFolder.pop_back();
    for (std::size_t i = 0; i < mailbox.names.size(); ++i) {
        sourceFolder += kNativeSeparator + mailbox.changedFrom[i];
        if (mailbox.names[i] == mailbox.changedFrom[i] || !reportedFolders_.insert(sourceFolder).second) continue;
        if (before) before();
        ledger.NameChanged(sourceFolder, writtenAs(i));
    }
}

ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      RunObserver &observer, FileService &files, MailboxRunOptions options) {
    MailboxRunState run(sources, outputFolder, observer, files, options);
    if (run.ledger.StopsNow()) return run.ledger.Finish(false);
    const bool complete = options.format == MailboxFormat::Maildir ? WriteMaildirs(run) : WriteMboxes(run);
    files.CloseFolders();
    TellLeftBehind(observer, files);
    return run.ledger.Finish(complete);
}

}  // namespace tarvelin
