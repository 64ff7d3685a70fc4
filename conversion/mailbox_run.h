// The run that writes mailboxes instead of .eml files: the messages' folders below the folder they
// were found in become mailboxes below INBOX, in Maildir folders or in mbox files.
#pragma once

#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/mailbox/mailbox_tree.h"

namespace tarvelin {

// A message to convert and the folder given on the command line it was found below (empty for
// a file given by itself, which goes to INBOX).
struct MailboxSource {
    std::string path;
    std::string root;
};

class MailboxRunObserver : public RunObserver {
public:
    NamingOption SelectedNamingOption() override { return NamingOption::OptOriginal; }
    // Said once for each name that had to change: a source folder whose name the target would
    // refuse or hide (`written` is the mailbox's folder or file), or an mbox file whose name was
    // taken already.
    virtual void NameChanged(const std::string &wanted, const std::string &written) {
        (void)wanted;
        (void)written;
    }
    // Each message written: its Maildir file (numberInFile 0), or its mbox file and its number
    // there (from 1).
    virtual void MessageWritten(const std::string &source, const std::string &output, std::size_t numberInFile,
                                const MessageFacts &facts) {
        (void)numberInFile;
        MessageConverted(source, output, facts);
    }
};

struct MailboxRunOptions {
    MailboxFormat format = MailboxFormat::Maildir;
    bool skipIdentical = false;  // Maildir only: mbox files are never appended to
    bool dryRun = false;         // nothing is written; the names are those a run would give
    // Maildir messages copied at once, or mbox files built at once, on as many worker threads.
    // Names, numbers and the observer's calls are the same whatever the count.
    unsigned jobs = 1;
    // The Maildir file's time, which servers take as the received date. An mbox file gets that
    // of its newest message: its messages carry their own dates.
    RunOptions::FileTime fileTime = RunOptions::FileTime::Message;
};

// The Maildir (or mbox) tree of INBOX is `outputFolder` itself (or the file "Inbox" in it).
ConversionReport RunMailboxConversion(const std::vector<MailboxSource> &sources, const std::string &outputFolder,
                                      MailboxRunObserver &observer, MailboxRunOptions options);

}  // namespace tarvelin
