// Mailbox files in the mboxrd form (RFC 4155) that mail clients import: each message after a
// "From " line, its line ends made LF and its "From " lines quoted.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_ops.h"

namespace tarvelin {

// "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n": the instant in UTC in asctime's form (day
// padded with a blank), which every reader takes; an ISO date is not.
std::string MboxSeparatorLine(std::int64_t unixSeconds);

// Appends the message after its separator line: CR LF made LF, one more ">" before every line
// that reads ">*From ", an LF at the end when missing, and one empty line.
void AppendMboxMessage(std::string &out, std::int64_t unixSeconds, std::string_view message);

// One mailbox file being written under a hidden temporary name; it gets its final name only when
// complete, never replacing a file, and leaves nothing when dropped before.
class MboxFile {
public:
    // Starts the file in `folder`, which must exist.
    Status Start(const std::string &folder);
    // Once a write failed, the file may end in part of a message, so it takes no more.
    Status Add(std::int64_t unixSeconds, std::string_view message);
    // Gives the file its time (that of its newest message) and waits until it is on the disk.
    Status Complete();
    // Names the complete file the first free of `name`, "name (1)", "name (2)", ... in the folder;
    // `written` gets the path.
    Status Finish(const std::string &folder, const std::string &name, std::string &written);

private:
    StagedCopy file_;
    std::string buffer_;
    std::size_t messages_ = 0;
    Status written_;  // the first failed write
    bool complete_ = false;
    std::int64_t newest_ = 0;  // the file's time: that of its newest message
};

// The first of `name`, "name (1)", "name (2)", ... that names nothing in the folder (with its
// separator), as Finish would take it.
std::string FreeMboxPath(const std::string &folder, const std::string &name);

}  // namespace tarvelin
