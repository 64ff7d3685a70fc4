#include "conversion/mailbox_run.h"

#include <algorithm>
#include <string_view>

#include "conversion/mailbox_runs.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

std::vector<std::string> TreesOf(const std::string &root, const std::vector<MailboxAccount> &accounts) {
    std::vector<std::string> trees;
    trees.reserve(accounts.size());
    for (const MailboxAccount &account : accounts)
        trees.push_back(root + account.domain + kNativeSeparator + account.name + kNativeSeparator);
    return trees;
}

// The folder part of a path, up to its last separator.
std::string_view FolderPart(std::string_view path) {
    const std::size_t last = path.rfind(kNativeSeparator);
    return last == std::string_view::npos ? std::string_view() : path.substr(0, last);
}

}  // namespace

MailboxRunState::MailboxRunState(const std::vector<MailboxSource> &sources,
                                 const std::vector<MailboxAccount> &accounts, const std::string &outputFolder,
                                 RunObserver &observer, FileService &files, const MailboxRunOptions &options)
    : sources(sources), accounts(accounts), root(AddSeparator(outputFolder)), ledger(observer, sources.size()),
      files(files), options(options), trees(TreesOf(root, accounts)),
      outsideReason_(std::string("not in an account's folder (Users") + kNativeSeparator + "<domain>" +
                     kNativeSeparator + "<account>" + kNativeSeparator + "), so it belongs to no mailbox") {
    // A scan lists a folder's messages together: they share one mailbox.
    mailboxOf_.reserve(sources.size());
    for (std::size_t item = 0; item < sources.size(); ++item) {
        const MailboxSource &source = sources[item];
        if (item > 0) {
            const MailboxSource &before = sources[item - 1];
            if (before.account == source.account && before.root == source.root &&
                FolderPart(before.path) == FolderPart(source.path)) {
                mailboxOf_.push_back(mailboxOf_.back());
                continue;
            }
        }
        Mailbox mailbox;
        if (Placed(item))
            mailbox.path = MailboxFor(options.format, source.root, source.path, kNativeSeparator, options.naming);
        mailbox.name = ImapMailboxName(mailbox.path.names);
        mailboxOf_.push_back(static_cast<std::uint32_t>(mailboxes_.size()));
        mailboxes_.push_back(std::move(mailbox));
    }
}

std::size_t MailboxRunState::Jobs(std::size_t count) const { return std::min<std::size_t>(options.jobs, count); }

const std::string &MailboxRunState::TreeOf(std::size_t item) const {
    const std::size_t account = sources[item].account;
    return account < trees.size() ? trees[account] : root;
}

void MailboxRunState::Place(std::size_t item, MessageFacts &facts) const {
    if (!Placed(item)) return;
    const std::size_t account = sources[item].account;
    if (account < accounts.size()) {
        facts.domain = accounts[account].domain;
        facts.account = accounts[account].name;
    }
    facts.mailbox = mailboxes_[mailboxOf_[item]].name;
}

void MailboxRunState::ReportChangedNames(std::size_t item, const std::function<std::string(std::size_t)> &writtenAs,
                                         const std::function<void()> &before) {
    Mailbox &mailbox = mailboxes_[mailboxOf_[item]];
    if (mailbox.reported) return;
    mailbox.reported = true;
    const MailboxPath &path = mailbox.path;
    std::string sourceFolder = AddSeparator(sources[item].root);
    sourceFolder.pop_back();
    std::string target = std::to_string(sources[item].account), below;
    bool merged = false;  // at a level above, where it was said
    for (std::size_t i = 0; i < path.names.size(); ++i) {
        sourceFolder += kNativeSeparator + path.folders[i];
        below += '\0' + path.folders[i];
        target += '\0' + path.names[i];
        // The folder that is INBOX holds INBOX's children by design.
        if (i == 0 && path.names[0] == kInboxName) continue;
        const auto [first, added] = firstFolder_.try_emplace(target, below);
        const bool merges = !added && first->second != below;
        if ((path.refused[i] || (merges && !merged)) && reportedFolders_.insert(sourceFolder).second) {
            if (before) before();
            ledger.NameChanged(sourceFolder, writtenAs(i));
        }
        merged = merged || merges;
    }
}

ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      RunObserver &observer, FileService &files, MailboxRunOptions options,
                                      const std::vector<MailboxAccount> &accounts) {
    MailboxRunState run(sources, accounts, outputFolder, observer, files, options);
    if (run.ledger.StopsNow()) return run.ledger.Finish(false);
    const bool complete = options.format == MailboxFormat::Maildir ? WriteMaildirs(run) : WriteMboxes(run);
    files.CloseFolders();
    TellLeftBehind(observer, files);
    return run.ledger.Finish(complete);
}

}  // namespace tarvelin
