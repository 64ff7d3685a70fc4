// Reads a message file's date, subject and sender from its header block (never its body).
// GMime stays inside the implementation so that Qt code can include this header.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "conversion/calendar_date.h"

namespace tarvelin {

class MailMessage {
public:
    // Reads at most this many bytes of header; a longer header is read up to here.
    static constexpr std::size_t kMaxHeaderBytes = 1 << 20;

    // False when the file is missing, unreadable, empty, or holds no header; the fields are then
    // empty, except the date, which falls back to the file's modification date when it exists.
    [[nodiscard]] bool LoadFromFile(const std::string &path);

    // The same from the first bytes of a file that another reader (the copy) has read already:
    // `head` holds the file's start, at least up to HeaderComplete or the whole file.
    [[nodiscard]] bool LoadFromHead(std::string_view head, std::time_t modified);
    // Whether these first bytes of a file hold all the header the reader would read.
    static bool HeaderComplete(std::string_view head);

    // Unfolded, encoded words decoded, UTF-8.
    const std::string &Subject() const { return subject_; }
    // The whole field: display names and addresses, several joined by ", ".
    const std::string &From() const { return from_; }
    // The Date header's calendar date in its own zone; else the topmost Received header's; else the
    // file's modification date (local time).
    CalendarDate Date() const { return date_; }

private:
    bool Load(bool exists, bool readable, std::time_t modified, std::string_view bytes);

    std::string subject_;
    std::string from_;
    CalendarDate date_;
};

}  // namespace tarvelin
