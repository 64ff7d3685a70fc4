// The first bytes of a message, read by whoever reads it anyway (its copy, the mailbox file it goes
// into, the header reader itself) for the header reader, so that the file is opened once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace tarvelin {

struct SourceHead {
    // Asked after each read with the bytes so far and how many of them it was asked about before;
    // the head is complete when it says so, at `limit` bytes or at the end.
    std::function<bool(std::string_view bytes, std::size_t before)> complete;
    std::size_t limit = 0;
    // Where the copy's time comes from the message: asked once the head is read (on the copy's
    // thread), for the time to give the copy when none was given; nothing keeps the source's.
    std::function<std::optional<std::int64_t>(const SourceHead &)> chooseTime;
    // Filled by the reader: the bytes, the source's modification time and size, and whether they
    // were read.
    std::string bytes;
    std::time_t modified = 0;
    std::uint64_t size = 0;
    bool read = false;
};

// Reads up to `count` bytes into the buffer; `got` is 0 at the end.
using ReadSlice = std::function<Status(char *buffer, std::size_t count, std::size_t &got)>;

// Fills head.bytes a slice at a time up to where it is complete; each slice, as it arrives, goes to
// `took` too, when given (the copy writes it on). The caller sets what it knows of the file.
Status ReadHead(SourceHead &head, const ReadSlice &read,
                const std::function<Status(std::string_view slice)> &took = {});

}  // namespace tarvelin
