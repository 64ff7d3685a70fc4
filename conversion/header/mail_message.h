// Reads a message file's date, subject and sender from its header block (never its body).
// GMime stays inside the implementation so that Qt code can include this header.
#pragma once

#include <ctime>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/header/calendar_date.h"

namespace tarvelin {

// Where the message's date came from, in the order they are tried.
enum class DateSource { None, Header, Received, File };

// The instant behind Date(): seconds since 1970 (UTC), and the offset from UTC of the zone it was
// written in (0 for the file's time, which has none).
struct MessageInstant {
    DateSource source = DateSource::None;
    std::int64_t unixSeconds = 0;
    int utcOffsetSeconds = 0;

    bool known() const { return source != DateSource::None; }
    friend bool operator==(const MessageInstant &, const MessageInstant &) = default;
};

class MailMessage {
public:
    // Reads at most this many bytes of header; a longer header is read up to here.
    static constexpr std::size_t kMaxHeaderBytes = 1 << 20;

    // False when the file is missing, unreadable, empty, or holds no header; the fields are then
    // empty, except the date, which falls back to the file's modification date when it exists.
    [[nodiscard]] bool LoadFromFile(const std::string &path);

    // The same from the first bytes of a file that another reader (the copy) has read already:
    // `head` holds the file's start, at least up to HeaderComplete or the whole file.
    [[nodiscard]] bool LoadFromHead(std::string_view head, std::time_t modified,
                                    std::optional<std::uint64_t> size = std::nullopt);
    // Whether these first bytes of a file hold all the header the reader would read; of them,
    // `before` were looked at already.
    static bool HeaderComplete(std::string_view head, std::size_t before = 0);
    // Sets up the header library, once for the process. A run calls it before its workers start:
    // set up first on a worker that finds memory short, the library would abort the process.
    static void PrepareReader();

    // Unfolded, encoded words decoded, UTF-8.
    const std::string &Subject() const { return subject_; }
    // The whole field: display names and addresses, several joined by ", ".
    const std::string &From() const { return from_; }
    // The Date header's calendar date in its own zone; else the topmost Received header's; else the
    // file's modification date (local time).
    CalendarDate Date() const { return date_; }
    // The same date as an instant, with where it came from.
    const MessageInstant &Instant() const { return instant_; }
    // The first Message-ID field, unfolded and trimmed, angle brackets kept.
    const std::string &MessageId() const { return messageId_; }
    // The file's size when it was opened; empty when it was not.
    std::optional<std::uint64_t> FileSize() const { return size_; }

private:
    // What both loads share: the first bytes of the file, up to the end of its header.
    bool Load(bool exists, bool readable, std::time_t modified, std::optional<std::uint64_t> size,
              std::string_view bytes);

    std::string subject_;
    std::string from_;
    CalendarDate date_;
    MessageInstant instant_;
    std::string messageId_;
    std::optional<std::uint64_t> size_;
};

}  // namespace tarvelin
