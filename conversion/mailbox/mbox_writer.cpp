#include "conversion/mailbox/mbox_writer.h"

#include <algorithm>
#include <ctime>

namespace tarvelin {

namespace {

constexpr int kNumberedNameAttempts = 10000;

// Days since 1970-01-01 to the civil date (proleptic Gregorian), valid for every 64-bit day count
// a message can carry.
void CivilFromDays(std::int64_t days, std::int64_t &year, int &month, int &day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

std::string TwoDigits(std::int64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
}

bool IsFromLine(std::string_view line) {
    while (line.starts_with('>')) line.remove_prefix(1);
    return line.starts_with("From ");
}

}  // namespace

std::string MboxSeparatorLine(std::int64_t unixSeconds) {
    static constexpr const char *kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t days = unixSeconds / 86400;
    std::int64_t seconds = unixSeconds % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    std::int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    const std::int64_t weekday = ((days % 7) + 7) % 7;
    std::string line = "From MAILER-DAEMON ";
    line += kWeekdays[weekday];
    line += ' ';
    line += kMonths[month - 1];
    line += day < 10 ? "  " : " ";
    line += std::to_string(day);
    line += ' ' + TwoDigits(seconds / 3600) + ':' + TwoDigits(seconds / 60 % 60) + ':' + TwoDigits(seconds % 60);
    line += ' ' + std::to_string(year) + '\n';
    return line;
}

void AppendMboxMessage(std::string &out, std::int64_t unixSeconds, std::string_view message) {
    out += MboxSeparatorLine(unixSeconds);
    MboxBody body;
    body.Feed(message, out);
    body.End(out);
}

void MboxBody::Feed(std::string_view piece, std::string &out) {
    while (!piece.empty()) {
        const std::size_t end = piece.find('\n');
        if (end == std::string_view::npos) {
            partial_ += piece;
            return;
        }
        std::string_view line = piece.substr(0, end);
        piece.remove_prefix(end + 1);
        if (!partial_.empty()) {
            partial_ += line;
            line = partial_;
        }
        // Only a CR before the LF goes: a CR elsewhere is the message's own.
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (IsFromLine(line)) out += '>';
        out += line;
        out += '\n';
        partial_.clear();
    }
}

void MboxBody::End(std::string &out) {
    if (!partial_.empty()) {
        if (IsFromLine(partial_)) out += '>';
        out += partial_;
        out += '\n';
        partial_.clear();
    }
    out += '\n';
}

Status MboxFile::Start(const std::string &folder) {
    buffer_.clear();
    body_ = MboxBody();
    size_ = messageStart_ = 0;
    newest_ = 0;
    messages_ = 0;
    written_ = Status::Ok();
    complete_ = false;
    return StageNew(folder, file_);
}

Status MboxFile::Add(std::int64_t unixSeconds, std::string_view message) {
    if (Status begun = Begin(unixSeconds); !begun) return begun;
    if (Status fed = Feed(message); !fed) return fed;
    return End();
}

Status MboxFile::Write() {
    if (!written_) return written_;
    written_ = file_.Append(buffer_);
    if (written_) size_ += buffer_.size();
    buffer_.clear();
    return written_;
}

Status MboxFile::Begin(std::int64_t unixSeconds) {
    messageStart_ = size_;
    messageTime_ = unixSeconds;
    body_ = MboxBody();
    buffer_ = MboxSeparatorLine(unixSeconds);
    return Write();
}

Status MboxFile::Feed(std::string_view piece) {
    buffer_.clear();
    body_.Feed(piece, buffer_);
    return Write();
}

Status MboxFile::End() {
    buffer_.clear();
    body_.End(buffer_);
    if (Status wrote = Write(); !wrote) return wrote;
    newest_ = messages_++ == 0 ? messageTime_ : std::max(newest_, messageTime_);
    return Status::Ok();
}

Status MboxFile::Abandon() {
    body_ = MboxBody();
    buffer_.clear();
    if (!written_) return written_;
    // Should the cut fail, the file may end in part of a message: it takes no more.
    written_ = file_.TruncateTo(messageStart_);
    if (written_) size_ = messageStart_;
    return written_;
}

Status MboxFile::Complete() {
    if (!written_) return written_;
    // A file without messages (a parent's) is simply new.
    const std::int64_t time = messages_ == 0 ? static_cast<std::int64_t>(std::time(nullptr)) : newest_;
    if (Status timed = file_.SetModified(time); !timed) return timed;
    if (Status flushed = file_.Flush(); !flushed) return flushed;
    complete_ = true;
    return Status::Ok();
}

Status MboxFile::Finish(const std::string &folder, const std::string &name, std::string &written) {
    if (!complete_)
        if (Status completed = Complete(); !completed) return completed;
    for (int number = 0; number < kNumberedNameAttempts; ++number) {
        const std::string path = folder + name + (number == 0 ? "" : " (" + std::to_string(number) + ")");
        Status claimed = file_.ClaimAs(path);
        if (claimed.kind() == ErrorKind::AlreadyExists) continue;
        if (claimed) written = path;
        return claimed;
    }
    return Status::Failure(ErrorKind::Other, "cannot name the mailbox file " + folder + name + ": no free name");
}

std::string FreeMboxPath(const std::string &folder, const std::string &name) {
    for (int number = 0;; ++number) {
        const std::string path = folder + name + (number == 0 ? "" : " (" + std::to_string(number) + ")");
        if (!FileExist(path) || number >= kNumberedNameAttempts) return path;
    }
}

}  // namespace tarvelin
