// The run that writes mailboxes instead of .eml files: the messages' folders below the folder they
// were found in become mailboxes below INBOX, in Maildir folders or in mbox files.
#pragma once

#include <string>
#include <vector>

#include "conversion/mailbox/mailbox_tree.h"
#include "conversion/run_observer.h"
#include "platform/file_service.h"

namespace tarvelin {

// A message to convert and the folder given on the command line it was found below (empty for
// a file given by itself, which goes to INBOX).
struct MailboxSource {
    std::string path;
    std::string root;
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
};

// The Maildir (or mbox) tree of INBOX is `outputFolder` itself (or the file "Inbox" in it). With
// more than one job, `files` takes calls from several threads.
ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      RunObserver &observer, FileService &files, MailboxRunOptions options);

}  // namespace tarvelin
