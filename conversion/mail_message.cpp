#include "conversion/mail_message.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <utility>

#include "conversion/gmime_handles.h"

namespace tarvelin {

namespace {

// Large enough that a typical header arrives in one read, small enough that the body bytes read
// past the blank line cost nothing.
constexpr std::size_t kReadChunkBytes = 64 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor &operator=(FileDescriptor &&other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

struct HeaderBlock {
    bool exists = false;  // the file could be found; `modified` is then set
    bool readable = false;
    std::time_t modified = 0;
    std::string bytes;  // up to, not including, the blank line; at most kMaxHeaderBytes
};

// The offset at which the header ends: just after the newline that precedes the first empty line
// (LF or CR LF). Searches newlines from `from` on.
std::size_t FindHeaderEnd(std::string_view bytes, std::size_t from) {
    for (std::size_t i = bytes.find('\n', from); i != std::string_view::npos; i = bytes.find('\n', i + 1)) {
        const std::string_view rest = bytes.substr(i + 1);
        if (rest.starts_with('\n') || rest.starts_with("\r\n")) return i + 1;
    }
    return std::string_view::npos;
}

HeaderBlock ReadHeaderBlock(const std::string &path) {
    HeaderBlock block;
    // O_NONBLOCK keeps a FIFO or device from blocking the open; regular files ignore it.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (!file.valid()) {
        // The file may exist and still refuse to open; its date is then still known.
        if (::stat(path.c_str(), &info) == 0) {
            block.exists = true;
            block.modified = info.st_mtime;
        }
        return block;
    }
    if (::fstat(file.get(), &info) != 0) return block;
    block.exists = true;
    block.modified = info.st_mtime;
    if (!S_ISREG(info.st_mode)) return block;

    std::string &bytes = block.bytes;
    while (bytes.size() < MailMessage::kMaxHeaderBytes) {
        const std::size_t before = bytes.size();
        const std::size_t want = std::min(kReadChunkBytes, MailMessage::kMaxHeaderBytes - before);
        bytes.resize(before + want);
        ssize_t got = 0;
        do {
            got = ::read(file.get(), bytes.data() + before, want);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            bytes.clear();
            return block;
        }
        bytes.resize(before + static_cast<std::size_t>(got));
        if (got == 0) break;
        // A leading empty line means there is no header at all.
        if (bytes.starts_with('\n') || bytes.starts_with("\r\n")) {
            bytes.clear();
            break;
        }
        // Back up two bytes: the blank line may straddle the chunk boundary.
        const std::size_t end = FindHeaderEnd(bytes, before < 2 ? 0 : before - 2);
        if (end != std::string::npos) {
            bytes.resize(end);
            break;
        }
    }
    block.readable = true;
    return block;
}

bool IsFieldNameChar(char c) {
    return c > ' ' && c < 0x7f && c != ':';
}

// An mbox-style "From " separator line is not a header field, but a message file may start with
// one; GMime skips it too.
std::string_view SkipMboxSeparator(std::string_view header) {
    if (!header.starts_with("From ")) return header;
    const std::size_t newline = header.find('\n');
    return newline == std::string_view::npos ? std::string_view() : header.substr(newline + 1);
}

// True when the text starts with "name:" (spaces or tabs allowed before the colon), the name being
// printable ASCII. This is what sets a message apart from an empty, binary or plain-text file.
bool StartsWithHeaderField(std::string_view header) {
    std::size_t i = 0;
    while (i < header.size() && IsFieldNameChar(header[i])) ++i;
    if (i == 0) return false;
    while (i < header.size() && (header[i] == ' ' || header[i] == '\t')) ++i;
    return i < header.size() && header[i] == ':';
}

// LF line ends with one blank line after the last field, which is what the parser expects of a
// header block; a header cut short (no blank line, or the size limit) is closed here.
std::string TerminatedHeader(std::string_view header) {
    std::string text;
    text.reserve(header.size() + 2);
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == '\r' && i + 1 < header.size() && header[i + 1] == '\n') continue;
        text.push_back(header[i]);
    }
    if (!text.empty() && text.back() != '\n') text.push_back('\n');
    text.push_back('\n');
    return text;
}

CalendarDate LocalDate(std::time_t time) {
    struct tm parts {};
    if (::localtime_r(&time, &parts) == nullptr) return {};
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

// GMime keeps the zone that the header names, so the fields are the date as written there.
CalendarDate WrittenDate(GDateTime *date) {
    if (date == nullptr) return {};
    CalendarDate result;
    g_date_time_get_ymd(date, &result.year, &result.month, &result.day);
    return result.known() ? result : CalendarDate{};
}

// The date after the last ';' of the topmost Received field: the time the last server took the
// message, the best stand-in for a missing or broken Date.
CalendarDate TopmostReceivedDate(GMimeMessage *message) {
    GMimeHeaderList *headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(headers, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(header), "Received") != 0) continue;
        const char *value = g_mime_header_get_value(header);
        const char *semicolon = value != nullptr ? std::strrchr(value, ';') : nullptr;
        if (semicolon == nullptr) return {};
        auto date = gmime::TakeOwned(g_mime_utils_header_decode_date(semicolon + 1));
        return WrittenDate(date.get());
    }
    return {};
}

std::string SenderText(GMimeMessage *message) {
    InternetAddressList *addresses = g_mime_message_get_from(message);
    if (addresses != nullptr && internet_address_list_length(addresses) > 0) {
        // Not encoded: display names stay decoded UTF-8, and nothing is folded.
        auto text = gmime::TakeOwned(internet_address_list_to_string(addresses, nullptr, FALSE));
        if (text) return text.get();
    }
    // A sender that is not an address list ("Ann Lee", "<>") is still worth its words.
    const char *raw = g_mime_object_get_header(GMIME_OBJECT(message), "From");
    return raw != nullptr ? raw : "";
}

gmime::Handle<GMimeMessage> ParseHeader(const std::string &text) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { g_mime_init(); });

    auto options = gmime::TakeOwned(g_mime_parser_options_new());
    // Raw 8-bit text is UTF-8 when it is valid UTF-8, else the usual Western Windows code page.
    const char *fallbackCharsets[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), fallbackCharsets);
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);

    auto stream = gmime::TakeOwned(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    auto parser = gmime::TakeOwned(g_mime_parser_new_with_stream(stream.get()));
    // The header list keeps its own copy of the options, so they may go after this.
    return gmime::TakeOwned(g_mime_parser_construct_message(parser.get(), options.get()));
}

}  // namespace

bool MailMessage::LoadFromFile(const std::string &path) {
    subject_.clear();
    from_.clear();
    date_ = {};

    const HeaderBlock block = ReadHeaderBlock(path);
    const CalendarDate fileDate = block.exists ? LocalDate(block.modified) : CalendarDate{};
    const std::string_view fields = SkipMboxSeparator(block.bytes);
    if (!block.readable || !StartsWithHeaderField(fields)) {
        date_ = fileDate;
        return false;
    }

    const auto message = ParseHeader(TerminatedHeader(fields));
    if (!message) {
        date_ = fileDate;
        return false;
    }

    const char *subject = g_mime_message_get_subject(message.get());
    subject_ = subject != nullptr ? subject : "";
    from_ = SenderText(message.get());
    date_ = WrittenDate(g_mime_message_get_date(message.get()));
    if (!date_.known()) date_ = TopmostReceivedDate(message.get());
    if (!date_.known()) date_ = fileDate;
    return true;
}

}  // namespace tarvelin
