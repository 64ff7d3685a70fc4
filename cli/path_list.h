// The list a run converts, from the command line's PATHs: a folder is scanned as the window's folder
// button scans it, a file is taken as given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/progress_meter.h"
#include "conversion/mailbox_run.h"
#include "messagelist/message_list.h"

namespace tarvelin {

struct PathList {
    MessageList list;                    // for .eml files
    std::vector<MailboxSource> sources;  // for mailboxes: each message with the PATH it was found below
    std::vector<MailboxAccount> accounts;  // with accounts: those of every PATH, in list order
    std::int64_t foldersNotRead = 0;     // each told on stderr
    std::string leftOut;                 // the output folder, where a scan met it and left it out
    bool stopped = false;                // by a signal, before the list was complete

    // The messages listed; the empty list's one blank row is none.
    std::size_t Count() const { return list.IsEmpty() ? sources.size() : list.RowCount(); }
};

// `mailboxes`: the list is of sources for the mailbox run; `accounts`: each PATH is a whole store's
// Users folder, whose folders are domains and theirs accounts, each account's messages found below
// the account's folder. The meter, when there is one, counts the messages found while folders
// are read. A scan leaves out the output folder with all below it, so that a run never reads its
// own output back (an mbox file "x.msg" of a folder "x.msg/"). `nulEnded`: the lines on stderr
// end in NUL (-z).
PathList ListPaths(const std::vector<std::string> &paths, bool mailboxes, bool accounts, CliStreams streams,
                   ProgressMeter *meter, const std::string &outputFolder, bool nulEnded);

}  // namespace tarvelin
