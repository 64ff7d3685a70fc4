// Where a message goes in a mailbox tree: the folder it came from, relative to the folder it was
// found below, names a mailbox; MDaemon's folders get the names its users see, and names the
// target would refuse or hide are changed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvelin {

enum class MailboxFormat { Maildir, Mbox };

// The first name of each of INBOX's children. No source folder is shown under it: a top-level
// "Inbox" that is not mapped to INBOX is changed.
inline constexpr std::string_view kInboxName = "INBOX";

// How the top-level folders of a tree are named as mailboxes. MDaemon keeps the folders below its
// Inbox in "Inbox.IMAP", and names its standard folders "Sent Items", "Deleted Items" and
// "Drafts"; these become INBOX and the names that clients and servers mark \Sent, \Trash and
// \Drafts. The built-in mappings apply to MDaemon's folders (named "<name>.IMAP") only, so that a
// plain tree keeps its names; one given by the user applies to a folder of that name with or
// without the ending.
class MailboxNaming {
public:
    MailboxNaming();

    // Adds a mapping or replaces the one for the same `from` (compared without ASCII case, with or
    // without ".IMAP"). A `to` of "INBOX" (any case) is INBOX itself.
    void Map(std::string_view from, std::string_view to);

    // What a top-level folder is named, its ".IMAP" ending taken off (`imapFolder` says it had
    // one): the mapped name ("INBOX" for INBOX), or nothing when no mapping applies.
    std::optional<std::string> Mapped(std::string_view name, bool imapFolder) const;

private:
    struct Mapping {
        std::string from;
        std::string to;
        bool builtIn;
    };
    std::vector<Mapping> mappings_;
};

// A folder's name without its ".IMAP" ending (any case), and whether it had one. A name that is
// nothing but the ending keeps it.
std::string_view WithoutImapEnding(std::string_view name, bool *hadEnding = nullptr);

// A mailbox as the target shows it, and the source folders it comes from.
struct MailboxPath {
    // From the top down (UTF-8): empty for INBOX; kInboxName first for a child of INBOX.
    std::vector<std::string> names;
    // The source folders below the root, from the top down: as many as names, but one ("Inbox.IMAP")
    // for the messages lying directly in a folder that is INBOX.
    std::vector<std::string> folders;
    // For each of names: whether the target refused the name its folder wanted and it was changed.
    std::vector<bool> refused;
};

// The name the target can show for a source folder's name: unchanged when it can. Maildir: "cur",
// "new" and "tmp" would be taken for the mailbox's own folders and get a "_" after; a leading "~"
// is refused as a home folder and gets a "_" before. Mbox: a leading "." or "#" gets a "_" before;
// a trailing "~" and the endings ".msf", ".sbd", ".snm" and ".toc" (any case) a "_" after. Both:
// a top-level "Inbox" (any case) would stand behind INBOX and gets a "_" after.
std::string TargetMailboxName(MailboxFormat format, std::string_view name, bool topLevel);

// The mailbox for a message at `source`. `root` is the folder given on the command line it was
// found below (the message's folders below it name the mailbox), or empty for a file given by
// itself, which goes to INBOX. Every folder's ".IMAP" ending comes off; the top-level folder's
// name is then mapped by `naming`.
MailboxPath MailboxFor(MailboxFormat format, std::string_view root, std::string_view source, char separator,
                       const MailboxNaming &naming = MailboxNaming());

// The mailbox's name as an IMAP client lists it: "INBOX", "Sent", "INBOX/Projects".
std::string ImapMailboxName(const std::vector<std::string> &names);

// The path below the root that names the source relative to it ("a/b/x.msg"), with "/" between
// names whatever the system, so that it is the same on every system; the file name alone for a
// file given by itself.
std::string RelativeSourcePath(std::string_view root, std::string_view source, char separator);

}  // namespace tarvelin
