// Mailbox files in the mboxrd form (RFC 4155) that mail clients import: each message after a
// "From " line, its line ends made LF and its "From " lines quoted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/header/mail_message.h"
#include "platform/file_service.h"

namespace tarvelin {

// "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n": the instant in UTC in asctime's form (day
// padded with a blank), which every reader takes; an ISO date is not. The year has four digits.
std::string MboxSeparatorLine(std::int64_t unixSeconds);

// A message's bytes as they stand in the file after its separator line: CR LF made LF, one more ">"
// before every line that reads ">*From ", an LF at the end when missing, and one empty line. Given
// in pieces, and written on as they come: a line is never held, since a line that never ends (a
// file of zeros) would be held whole. Only what decides a line waits for the next piece: the start
// of "From " and a CR that may come before an LF.
class MboxBody {
public:
    // Appends the converted bytes of this piece.
    void Feed(std::string_view piece, std::string &out);
    // Appends the rest of the last line, an LF when it had none, and the empty line; ready for the
    // next message.
    void End(std::string &out);

private:
    // At a line's start (and after its ">"s), then inside "From ", then past what decides it.
    enum class Phase { Quotes, From, Rest };
    Phase phase_ = Phase::Quotes;
    std::size_t matched_ = 0;  // of "From "
    bool heldCr_ = false;      // the last byte fed was a CR inside the line
    bool lineOpen_ = false;    // bytes of a line not ended yet were fed
};

// One mailbox file being written under a hidden temporary name; it gets its final name only when
// complete, never replacing a file, and leaves nothing when dropped before.
class MboxFile {
public:
    // Starts the file in `folder`, which must exist.
    Status Start(FileService &files, const std::string &folder);
    // Reads the message once, for the header reader (`message`) and into the file, a piece at a
    // time: a message of any size costs a piece of memory. One that changed while it was read is
    // taken back out of the file and read once more (a second change fails it); one that cannot
    // be read to its end is taken back out too. Once a write failed, the file may end in part of a message, so
    // it takes no more.
    Status Add(FileService &files, const std::string &source, WorkHooks &hooks, MailMessage &message);
    // The same for a message written by the caller: Begin, Feed for each piece, then End; or
    // Abandon, which takes back what Begin and Feed wrote.
    Status Begin(std::int64_t unixSeconds);
    Status Feed(std::string_view piece);
    Status End();
    Status Abandon();
    // Gives the file its time (that of its newest message) and waits until it is on the disk.
    Status Complete();
    // Names the complete file the first free of `name`, "name (1)", "name (2)", ... in the folder;
    // `written` gets the path.
    Status Finish(const std::string &folder, const std::string &name, std::string &written);

private:
    Status Write();  // buffer_, appended

    std::unique_ptr<StagedNewFile> file_;
    std::string buffer_;
    MboxBody body_;
    std::uint64_t size_ = 0;          // bytes written
    std::uint64_t messageStart_ = 0;  // where the message being written began
    std::int64_t messageTime_ = 0;
    std::size_t messages_ = 0;
    Status written_;  // the first failed write
    bool complete_ = false;
    std::int64_t newest_ = 0;  // the file's time: that of its newest message
};

// The folder below `root` that holds the file of the mailbox whose parents are the first `parents`
// names: each parent's "<name>.sbd" folder.
std::string MboxFolderOf(const std::string &root, const std::vector<std::string> &names, std::size_t parents);

}  // namespace tarvelin
