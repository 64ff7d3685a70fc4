// Messages into Maildir folders as Maildir servers read them: each mailbox folder holds cur/, new/
// and tmp/; a message is copied into tmp/, given its time and renamed into cur/ under a name no
// other message takes.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_service.h"
#include "platform/status.h"

namespace tarvelin {

// "<seconds>.H<16 hex>.tarvelin", or "...H<hex>-<n>..." for the n-th message of one token; a date
// before 1970 gives 0 seconds. The servers order a folder by the leading number; the hex, from the
// message's path below its root, tells a rerun which files it wrote before. No size fields (a wrong
// one is trusted), and no ":2," (Windows takes no ":") unless the message is marked `seen` (":2,S").
std::string MaildirFileName(std::int64_t unixSeconds, std::string_view token, bool seen = false);

// The token a rerun looks for: "H" and the first 16 hex digits of SHA-256 of the relative path.
std::string MaildirToken(std::string_view relativePath);

// The token of a name written by us ("H<hex>" or "H<hex>-<n>"), whatever the server added after it;
// empty for any other name.
std::string TokenOfMaildirName(std::string_view name);

// The folder below `root` of the mailbox made of the first `levels` names (IMAP modified UTF-7).
std::string MaildirFolderOf(const std::string &root, const std::vector<std::string> &names, std::size_t levels);

// The Maildir mailboxes of one run: their folders, made on first use, and the names taken in them.
// The calling thread alone uses it; copies are staged anywhere and named here in list order.
class MaildirMailboxes {
public:
    // `seen`: every message is named marked read.
    explicit MaildirMailboxes(FileService &files, bool seen = false) : files_(files), seen_(seen) {}

    // Makes the mailbox's cur/, new/ and tmp/ on its first use, removes what an earlier stopped
    // run left in its tmp/, and learns the names in its cur/ and new/ (a server may have moved a
    // message to either and added flags to its name). Later calls give the first one's status.
    // A parent mailbox without messages is opened too: the server shows it as one that cannot
    // be opened otherwise.
    Status Open(const std::string &mailboxFolder);

    // The files of an opened mailbox named with a token of this base ("H<hex>"): those found when
    // it was opened, then those named since, in that order.
    const std::vector<std::string> &FilesOf(const std::string &mailboxFolder, const std::string &base) const;

    // Names the copy in cur/ with the first free token of its base, never replacing a file; `path`
    // gets its name.
    Status Name(const std::string &mailboxFolder, const std::string &base, std::int64_t unixSeconds,
                StagedFile &copy, std::string &path);

private:
    struct Mailbox {
        Status ready;
        std::set<std::string> takenTokens;
        std::map<std::string, std::vector<std::string>, std::less<>> filesOfToken;  // base token -> paths
    };
    void Record(Mailbox &mailbox, const std::string &base, const std::string &token, const std::string &path);

    FileService &files_;
    const bool seen_;
    std::map<std::string, Mailbox> mailboxes_;
};

}  // namespace tarvelin
