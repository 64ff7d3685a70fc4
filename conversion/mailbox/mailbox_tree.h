// Where a message goes in a mailbox tree: the folder it came from, relative to the folder it was
// found below, names a mailbox; names the target would refuse or hide are changed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvelin {

enum class MailboxFormat { Maildir, Mbox };

// A mailbox below INBOX: its names from the top down, as the target shows them (UTF-8). Empty
// for INBOX itself.
struct MailboxPath {
    std::vector<std::string> names;
    // The source's names where one of them had to change, for the report; empty otherwise.
    std::vector<std::string> changedFrom;
};

// The name the target can show for a source folder's name: unchanged when it can. Maildir: "cur",
// "new" and "tmp" would be taken for the mailbox's own folders and get a "_" after; a leading "~"
// is refused as a home folder and gets a "_" before. Mbox: a leading "." or "#" gets a "_" before;
// a trailing "~" and the endings ".msf", ".sbd", ".snm" and ".toc" (any case) a "_" after. Both:
// a top-level "Inbox" (any case) would stand behind INBOX and gets a "_" after.
std::string TargetMailboxName(MailboxFormat format, std::string_view name, bool topLevel);

// The mailbox for a message at `source`. `root` is the folder given on the command line it was
// found below (the message's folders below it name the mailbox), or empty for a file given by
// itself, which goes to INBOX.
MailboxPath MailboxFor(MailboxFormat format, std::string_view root, std::string_view source,
                       char separator);

// The path below the root that names the source relative to it ("a/b/x.msg"), with "/" between
// names whatever the system, so that it is the same on every system; the file name alone for a
// file given by itself.
std::string RelativeSourcePath(std::string_view root, std::string_view source, char separator);

}  // namespace tarvelin
