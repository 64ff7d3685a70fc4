// What a run learns of one message besides its name, handed to the observer with every event
// about it, so that a record of the run needs no second read of the message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "conversion/header/mail_message.h"

namespace tarvelin {

struct MessageFacts {
    // The source's size when its header was read; empty when it was not read.
    std::optional<std::uint64_t> bytes;
    // The date the name is made from (and the file time taken from it), when one was read.
    MessageInstant date;
    // As the naming reads them: decoded, before the cleaning of file names.
    std::string from;
    std::string subject;
    std::string messageId;
    // Why the copy keeps the source's time although the message's date was asked for; empty when
    // it did not.
    std::string timeNote;
    // Where a mailbox run puts it: the account's domain and name (a whole server's store) and the
    // mailbox as clients list it ("INBOX/Projects"); empty where they do not apply.
    std::string domain = {};
    std::string account = {};
    std::string mailbox = {};
};

}  // namespace tarvelin
