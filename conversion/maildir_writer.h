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

#include "platform/file_ops.h"
#include "platform/status.h"
#include "platform/work_hooks.h"

namespace tarvelin {

// "<seconds>.H<16 hex>.tarvelin", or "...H<hex>-<n>..." for the n-th message of one token. The
// servers order a folder by the leading number; the hex, from the message's path below its root,
// tells a rerun which files it wrote before. No ":2," (Windows takes no ":") and no size fields
// (a wrong one is trusted).
std::string MaildirFileName(std::int64_t unixSeconds, std::string_view token);

// The token a rerun looks for: "H" and the first 16 hex digits of SHA-256 of the relative path.
std::string MaildirToken(std::string_view relativePath);

// The token of a name written by us ("H<hex>" or "H<hex>-<n>"), whatever the server added after it;
// empty for any other name.
std::string TokenOfMaildirName(std::string_view name);

class MaildirWriter {
public:
    struct Placement {
        std::size_t item = 0;       // the caller's number for the message
        Status status;
        std::string path;           // the file written, or found already there
        bool alreadyThere = false;  // identical bytes found under the message's token
    };

    // skipIdentical: a message whose token already names a file of the same bytes is not copied
    // again. dryRun: nothing is created or removed; the names are those a run would give.
    MaildirWriter(bool skipIdentical, bool dryRun) : skipIdentical_(skipIdentical), dryRun_(dryRun) {}

    // Copies the message into tmp/ of its mailbox (`mailboxFolder` ends with the separator). The
    // mailbox's folders are made on its first message, and what an earlier stopped run left in its
    // tmp/ is removed then. Returns the placements that are settled, in the order of the calls:
    // complete copies wait in groups of `kClaimGroup` and are flushed together before they are
    // renamed into cur/, which costs the disk about one commit per group instead of one per
    // message; a message that fails or is found already there settles the waiting ones first.
    // A stop during the copy ends the list with this message's placement of ErrorKind::Stopped.
    std::vector<Placement> Write(std::size_t item, const std::string &source, const std::string &mailboxFolder,
                                 std::string_view relativePath, std::int64_t unixSeconds, WorkHooks &hooks);
    // Makes a mailbox's folders without a message in it: a parent mailbox with no message of its
    // own, which the server would otherwise show as one that cannot be opened.
    Status Prepare(const std::string &mailboxFolder) { return Open(mailboxFolder).ready; }
    // Names the waiting copies (also at a stop: what is complete is kept).
    std::vector<Placement> Finish();

    static constexpr std::size_t kClaimGroup = 32;

private:
    struct Mailbox {
        Status ready;
        std::set<std::string> takenTokens;
        std::map<std::string, std::vector<std::string>, std::less<>> filesOfToken;  // base token -> paths
    };
    Mailbox &Open(const std::string &folder);
    void Record(Mailbox &mailbox, const std::string &base, const std::string &token, const std::string &path);

    struct Waiting {
        std::size_t item;
        std::string mailboxFolder, base, token;
        std::int64_t unixSeconds;
        StagedCopy copy;
    };
    Placement Claim(Waiting &waiting, const Status &flushed);
    bool WaitingWithToken(const std::string &mailboxFolder, const std::string &base) const;

    const bool skipIdentical_;
    const bool dryRun_;
    std::map<std::string, Mailbox> mailboxes_;
    std::vector<Waiting> waiting_;
};

}  // namespace tarvelin
