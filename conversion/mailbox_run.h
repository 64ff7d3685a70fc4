// The run that writes mailboxes instead of .eml files: the messages' folders below the folder they
// were found in become mailboxes below INBOX, in Maildir folders or in mbox files; for a whole
// server's store, one tree for each account.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/run_observer.h"
#include "platform/file_service.h"

namespace tarvelin {

// An account of a mail server's store (MDaemon's Users\<domain>\<account>\): its messages make a
// mailbox tree of their own, in <domain>/<account>/ below the output folder.
struct MailboxAccount {
    std::string domain;
    std::string name;
};

// The account of a source that is not in one: the run writes one tree (kNoAccount), or the
// source lies outside every account's folder of a store and fails (kOutsideAccounts).
inline constexpr std::size_t kNoAccount = static_cast<std::size_t>(-1);
inline constexpr std::size_t kOutsideAccounts = kNoAccount - 1;

// A message to convert and the folder given on the command line it was found below (empty for
// a file given by itself, which goes to INBOX), or its account's folder.
struct MailboxSource {
    std::string path;
    std::string root;
    std::size_t account = kNoAccount;  // else an index into the run's accounts
};

struct MailboxRunOptions {
    MailboxFormat format = MailboxFormat::Maildir;
    bool skipIdentical = false;  // Maildir only: mbox files are never appended to
    // Maildir messages copied at once, or mbox files built at once, on as many worker threads.
    // Names, numbers and the observer's calls are the same whatever the count.
    unsigned jobs = 1;
    // The Maildir file's time, which servers take as the received date. An mbox file gets that
    // of its newest message: its messages carry their own dates.
    FileTime fileTime = FileTime::Message;
    // Maildir only: each message is marked read, by the flag in its name (":2,S").
    bool seen = false;
    MailboxNaming naming = MailboxNaming();
};

// The Maildir (or mbox) tree of INBOX is `outputFolder` itself (or the file "Inbox" in it), or with
// accounts each account's folder in it; every account gets an INBOX, if empty. With more than one
// job, `files` takes calls from several threads.
ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      RunObserver &observer, FileService &files, MailboxRunOptions options,
                                      const std::vector<MailboxAccount> &accounts = {});

}  // namespace tarvelin
