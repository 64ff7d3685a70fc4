#include "conversion/mailbox/mbox_writer.h"

#include <algorithm>
#include <ctime>
#include <new>

#include "conversion/header/plain_date.h"
#include "platform/path_split.h"

namespace tarvelin {

namespace {

constexpr int kNumberedNameAttempts = 10000;

}  // namespace

std::string MboxSeparatorLine(std::int64_t unixSeconds) {
    // Readers take four digits for the year: a date outside years 1000 to 9999 gets the nearest.
    constexpr std::int64_t kFirst = -30610224000;  // 1000-01-01 00:00:00 UTC
    constexpr std::int64_t kLast = 253402300799;   // 9999-12-31 23:59:59 UTC
    const UtcTime time = UtcTimeOf(std::clamp(unixSeconds, kFirst, kLast));
    const auto twoDigits = [](unsigned value) {
        return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
    };
    std::string line = "From MAILER-DAEMON ";
    line += WeekdayName(time.weekday);
    line += ' ';
    line += MonthName(time.month);
    line += time.day < 10 ? "  " : " ";
    line += std::to_string(time.day);
    line += ' ' + twoDigits(time.hour) + ':' + twoDigits(time.minute) + ':' + twoDigits(time.second);
    line += ' ' + std::to_string(time.year) + '\n';
    return line;
}

void MboxBody::Feed(std::string_view piece, std::string &out) {
    static constexpr std::string_view kFrom = "From ";
    while (!piece.empty()) {
        if (phase_ == Phase::Rest) {
            const std::size_t end = piece.find('\n');
            const std::string_view text = piece.substr(0, end);
            if (!text.empty()) {
                // A CR held back was no line end's.
                if (heldCr_) out += '\r';
                heldCr_ = text.back() == '\r';
                out.append(text.data(), text.size() - (heldCr_ ? 1 : 0));
                lineOpen_ = true;
            }
            if (end == std::string_view::npos) return;
            // Only a CR before the LF goes: a CR elsewhere is the message's own.
            out += '\n';
            heldCr_ = lineOpen_ = false;
            phase_ = Phase::Quotes;
            piece.remove_prefix(end + 1);
            continue;
        }
        const char c = piece.front();
        if (phase_ == Phase::Quotes && c == '>') {
            // One more ">" before "From " is the same bytes as one more before the first ">".
            out += '>';
        } else if (c == kFrom[matched_]) {
            phase_ = Phase::From;
            if (++matched_ == kFrom.size()) {
                out += '>';
                out += kFrom;
                matched_ = 0;
                phase_ = Phase::Rest;
            }
        } else {
            // No "From " line: what matched is the line's own, and this byte is looked at again.
            out += kFrom.substr(0, matched_);
            matched_ = 0;
            phase_ = Phase::Rest;
            continue;
        }
        lineOpen_ = true;
        piece.remove_prefix(1);
    }
}

void MboxBody::End(std::string &out) {
    out += std::string_view("From ").substr(0, matched_);
    if (heldCr_) out += '\r';
    if (lineOpen_) out += '\n';
    out += '\n';
    *this = MboxBody();
}

Status MboxFile::Start(FileService &files, const std::string &folder) {
    buffer_.clear();
    body_ = MboxBody();
    size_ = messageStart_ = 0;
    newest_ = 0;
    messages_ = 0;
    complete_ = false;
    // A file that could not be made takes nothing: every later call gives this.
    written_ = files.StageNew(folder, file_);
    return written_;
}

Status MboxFile::Add(FileService &files, const std::string &source, WorkHooks &hooks, MailMessage &message) {
    SourceHead head;
    head.complete = MailMessage::HeaderComplete;
    head.limit = MailMessage::kMaxHeaderBytes;
    bool begun = false;
    Status read;
    try {
        read = files.ReadSource(
            source, hooks, head,
            [&](const SourceHead &first) {
                // Read once more, the source changed meanwhile: what was written of it goes.
                if (begun) {
                    begun = false;
                    if (Status back = Abandon(); !back) return back;
                }
                // The separator line needs the message's date, so the header comes first.
                (void)message.LoadFromHead(first.bytes, first.modified, first.size);
                Status started = Begin(message.Instant().unixSeconds);
                begun = started.ok();
                return started;
            },
            [this](std::string_view piece) { return Feed(piece); });
    } catch (const std::bad_alloc &) {
        read = Status::OutOfMemory();
    }
    if (!read) {
        // At a stop the whole file is dropped, so it need not be cut back first (on a share a cut
        // can cost seconds).
        if (begun && read.kind() != ErrorKind::Stopped) (void)Abandon();
        return read;
    }
    return End();
}

Status MboxFile::Write() {
    if (!written_) return written_;
    written_ = file_->Append(buffer_);
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
    written_ = file_->TruncateTo(messageStart_);
    if (written_) size_ = messageStart_;
    return written_;
}

Status MboxFile::Complete() {
    if (!written_) return written_;
    // A file without messages (a parent's) is simply new.
    const std::int64_t time = messages_ == 0 ? static_cast<std::int64_t>(std::time(nullptr)) : newest_;
    if (Status timed = file_->SetModified(time); !timed) return timed;
    if (Status flushed = file_->Flush(); !flushed) return flushed;
    complete_ = true;
    return Status::Ok();
}

Status MboxFile::Finish(const std::string &folder, const std::string &name, std::string &written) {
    if (!complete_)
        if (Status completed = Complete(); !completed) return completed;
    for (int number = 0; number < kNumberedNameAttempts; ++number) {
        const std::string path = folder + name + (number == 0 ? "" : " (" + std::to_string(number) + ")");
        Status claimed = file_->ClaimAs(path);
        if (claimed.kind() == ErrorKind::AlreadyExists) continue;
        if (claimed) written = path;
        return claimed;
    }
    return Status::Failure(ErrorKind::Other, "cannot name the mailbox file " + folder + name + ": no free name");
}

std::string MboxFolderOf(const std::string &root, const std::vector<std::string> &names, std::size_t parents) {
    std::string folder = root;
    for (std::size_t i = 0; i < parents; ++i) folder += names[i] + ".sbd" + kNativeSeparator;
    return folder;
}

}  // namespace tarvelin
