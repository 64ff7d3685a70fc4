#include "conversion/header/mail_message.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "conversion/header/encoded_words.h"
#include "conversion/header/field_values.h"
#include "conversion/header/gmime_handles.h"
#include "conversion/header/plain_date.h"
#include "conversion/header/plain_sender.h"
#include "platform/ascii_case.h"
#include "platform/input_file.h"
#include "platform/source_head.h"
#include "platform/system.h"

namespace tarvelin {

namespace {

// The offset at which the header ends: just after the newline that precedes the first empty line
// (LF or CR LF). Searches newlines from `from` on.
std::size_t FindHeaderEnd(std::string_view bytes, std::size_t from) {
    for (std::size_t i = bytes.find('\n', from); i != std::string_view::npos; i = bytes.find('\n', i + 1)) {
        const std::string_view rest = bytes.substr(i + 1);
        if (rest.starts_with('\n') || rest.starts_with("\r\n")) return i + 1;
    }
    return std::string_view::npos;
}

// The length of the header block at the start of `bytes`, of which `before` were searched
// already: up to the blank line (none when the blank line comes first), or npos while the blank
// line is still to come.
std::size_t HeaderLength(std::string_view bytes, std::size_t before) {
    if (bytes.starts_with('\n') || bytes.starts_with("\r\n")) return 0;
    // Back up two bytes: the blank line may straddle the chunk boundary.
    return FindHeaderEnd(bytes, before < 2 ? 0 : before - 2);
}

bool IsFieldNameChar(char c) {
    return c > ' ' && c < 0x7f && c != ':';
}

std::string_view SkipLine(std::string_view text) {
    const std::size_t newline = text.find('\n');
    return newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
}

// What may stand before the first field of a message that is still worth reading: a UTF-8
// byte-order mark (some Windows tools write one), an mbox-style "From " separator line (GMime
// skips it too), and lines that start with white space, which continue no field (lenient readers
// pass over them and read the fields that follow).
std::string_view SkipPreamble(std::string_view header) {
    if (header.starts_with("\xEF\xBB\xBF")) header.remove_prefix(3);
    if (header.starts_with("From ")) header = SkipLine(header);
    while (header.starts_with(' ') || header.starts_with('\t')) header = SkipLine(header);
    return header;
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

// The fields the reader takes; every other field is passed over.
enum class ReadField { None, Subject, From, Date, Received, MessageId };

ReadField FieldNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, ReadField> kFields[] = {
        {"Subject", ReadField::Subject},
        {"From", ReadField::From},
        {"Date", ReadField::Date},
        {"Received", ReadField::Received},
        {"Message-ID", ReadField::MessageId},
    };
    for (const auto &[text, field] : kFields)
        if (EqualsIgnoringAsciiCase(name, text)) return field;
    return ReadField::None;
}

bool IsFieldRead(std::string_view name) { return FieldNamed(name) != ReadField::None; }

// Only the fields that are read, in their order, each with its continuation lines: every other
// field would cost the parser an object of its own (a long Received chain, DKIM signatures, To
// and Cc lists parsed as addresses) for nothing. A header with any line that is neither a field
// nor a continuation goes to the parser whole, so that it treats such a line as it always has.
std::string FieldsRead(std::string_view header) {
    std::string kept;
    kept.reserve(header.size());
    bool keeping = false;
    for (std::size_t start = 0; start < header.size();) {
        std::size_t end = header.find('\n', start);
        end = end == std::string_view::npos ? header.size() : end + 1;
        const std::string_view line = header.substr(start, end - start);
        start = end;
        if (line.front() != ' ' && line.front() != '\t') {
            if (!StartsWithHeaderField(line)) return std::string(header);
            std::size_t nameEnd = 0;
            while (IsFieldNameChar(line[nameEnd])) ++nameEnd;
            keeping = IsFieldRead(line.substr(0, nameEnd));
        }
        if (keeping) kept += line;
    }
    return kept;
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
    if (!LocalCalendarTime(time, parts)) return {};
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

// GMime keeps the zone that the header names, so the fields are the date as written there.
CalendarDate WrittenDate(GDateTime *date) {
    if (date == nullptr) return {};
    CalendarDate result;
    g_date_time_get_ymd(date, &result.year, &result.month, &result.day);
    return result.known() ? result : CalendarDate{};
}

// A date as the naming reads it and as the instant it stands for.
struct ChosenDate {
    CalendarDate date;
    MessageInstant instant;
};

ChosenDate WrittenInstant(GDateTime *date, DateSource source) {
    const CalendarDate written = WrittenDate(date);
    if (!written.known()) return {};
    const auto offset = static_cast<int>(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND);
    return {written, {source, g_date_time_to_unix(date), offset}};
}

// The date a field's value names; unknown when it names none.
ChosenDate DecodedDate(const char *value, DateSource source) {
    if (const std::optional<WrittenTime> plain = ReadPlainDate(value))
        return {plain->date, {source, plain->unixSeconds, plain->utcOffsetSeconds}};
    auto date = gmime::TakeOwned(g_mime_utils_header_decode_date(LongYearsAsWritten(value).c_str()));
    return WrittenInstant(date.get(), source);
}

// The date after the last ';' of the topmost Received field: the time the last server took the
// message, the best stand-in for a missing or broken Date.
ChosenDate ReceivedDate(const char *value) {
    const char *semicolon = value != nullptr ? std::strrchr(value, ';') : nullptr;
    if (semicolon == nullptr) return {};
    return DecodedDate(semicolon + 1, DateSource::Received);
}

ChosenDate FileDate(bool exists, std::time_t modified) {
    if (!exists) return {};
    const CalendarDate local = LocalDate(modified);
    if (!local.known()) return {};
    return {local, {DateSource::File, static_cast<std::int64_t>(modified), 0}};
}

// The three fields as a message object would give them (the last Subject and the last Date field
// count; the senders of every From field are joined), read straight from the header list: a
// message object would also build and drop eight address lists per message, which cost more
// than the rest of the parse.
struct Fields {
    std::string subject;
    ChosenDate date;  // the last Date field's
    // The senders as the address list writes them (not encoded, not folded), ", " between them.
    std::string senders;
    bool anySender = false;
    std::optional<std::string> firstFrom;  // raw; decoded only when no field held an address
    std::optional<std::string> topmostReceived;  // raw; decoded only when the Date is no use
    std::optional<std::string> messageId;  // the first Message-ID field's value
};

std::string TrimmedId(std::string text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    text.erase(0, first);
    return text;
}

// A From field's senders join the others; the first field's text is kept for a sender that is
// no address list. Writing each field's list on its own gives the same text as writing them all
// as one: the list writes each address alone and puts ", " between them.
void AddSenders(Fields &fields, std::string_view raw, GMimeParserOptions *options) {
    if (!fields.firstFrom) fields.firstFrom = std::string(raw);
    std::optional<std::string> text = PlainSenderText(raw);
    if (!text) {
        const std::string joined = JoinAdjacentEncodedWords(raw);
        auto parsed = gmime::TakeOwned(internet_address_list_parse(options, joined.c_str()));
        if (!parsed || internet_address_list_length(parsed.get()) == 0) return;
        text = WrittenAddresses(parsed.get());
    }
    if (fields.anySender) fields.senders += ", ";
    fields.senders += *text;
    fields.anySender = true;
}

Fields ReadFields(GMimeHeaderList *headers, GMimeParserOptions *options) {
    Fields fields;
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(headers, i);
        const char *name = g_mime_header_get_name(header);
        const char *raw = g_mime_header_get_raw_value(header);
        switch (name != nullptr ? FieldNamed(name) : ReadField::None) {
        case ReadField::Received:
            if (!fields.topmostReceived) fields.topmostReceived = raw != nullptr ? raw : "";
            break;
        case ReadField::Subject:
            fields.subject = DecodedValue(raw != nullptr ? raw : "", options);
            break;
        case ReadField::Date:
            if (const char *value = g_mime_header_get_value(header))
                fields.date = DecodedDate(value, DateSource::Header);
            break;
        case ReadField::From:
            if (raw != nullptr) AddSenders(fields, raw, options);
            break;
        case ReadField::MessageId:
            if (!fields.messageId) fields.messageId = TrimmedId(DecodedValue(raw != nullptr ? raw : "", options));
            break;
        case ReadField::None:
            break;
        }
    }
    return fields;
}

// The same fields as ReadFields gives, decoded straight from the text of a plain header block
// (every line a "name:" field or a continuation, no NUL, no CR): building and dropping the
// parser's objects would cost more than the decoding. Anything else goes to the parser.
std::optional<Fields> ReadPlainFields(std::string_view header, GMimeParserOptions *options) {
    if (header.find('\0') != std::string_view::npos || header.find('\r') != std::string_view::npos)
        return std::nullopt;
    Fields fields;
    std::size_t start = 0;
    while (start < header.size() && header[start] != '\n') {
        std::size_t nameEnd = start;
        while (nameEnd < header.size() && IsFieldNameChar(header[nameEnd])) ++nameEnd;
        if (nameEnd == start || nameEnd >= header.size() || header[nameEnd] != ':') return std::nullopt;
        // The field runs to the end of its last continuation line.
        std::size_t end = header.find('\n', nameEnd);
        if (end == std::string_view::npos) return std::nullopt;
        ++end;
        while (end < header.size() && (header[end] == ' ' || header[end] == '\t')) {
            end = header.find('\n', end);
            if (end == std::string_view::npos) return std::nullopt;
            ++end;
        }
        const std::string_view name = header.substr(start, nameEnd - start);
        const std::string_view raw = header.substr(nameEnd + 1, end - nameEnd - 1);
        start = end;

        switch (FieldNamed(name)) {
        case ReadField::Received:
            if (!fields.topmostReceived) fields.topmostReceived = std::string(raw);
            break;
        case ReadField::Subject:
            fields.subject = DecodedValue(raw, options);
            break;
        case ReadField::Date:
            fields.date = DecodedDate(DecodedValue(raw, options).c_str(), DateSource::Header);
            break;
        case ReadField::From:
            AddSenders(fields, raw, options);
            break;
        case ReadField::MessageId:
            if (!fields.messageId) fields.messageId = TrimmedId(DecodedValue(raw, options));
            break;
        case ReadField::None:
            break;
        }
    }
    return fields;
}

std::string SenderText(const Fields &fields, GMimeParserOptions *options) {
    if (fields.anySender) return fields.senders;
    // A sender that is not an address list ("Ann Lee", "<>") is still worth its words.
    return fields.firstFrom ? DecodedValue(*fields.firstFrom, options) : std::string();
}

gmime::Handle<GMimeParserOptions> NewParserOptions() {
    MailMessage::PrepareReader();
    auto options = gmime::TakeOwned(g_mime_parser_options_new());
    // Raw 8-bit text is UTF-8 when it is valid UTF-8, else the usual Western Windows code page.
    const char *fallbackCharsets[] = {"UTF-8", "windows-1252", nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), fallbackCharsets);
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    return options;
}

// Made once and kept for the program's life: made for every message they cost about as much as
// a small header's decoding. The readers only read them, on any thread. Not one per thread: a
// thread's own object with a destructor is freed before that destructor runs on MinGW.
GMimeParserOptions *ParserOptions() {
    static GMimeParserOptions *const options = NewParserOptions().release();
    return options;
}

// At start-up, so that no message's read pays for loading them.
[[maybe_unused]] const bool kCharsetConvertersKept = (KeepCharsetConvertersLoaded(), true);

gmime::Handle<GMimeObject> ParseHeader(const std::string &text, GMimeParserOptions *options) {
    auto stream = gmime::TakeOwned(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
    auto parser = gmime::TakeOwned(g_mime_parser_new_with_stream(stream.get()));
    // The header list keeps its own copy of the options.
    return gmime::TakeOwned(g_mime_parser_construct_part(parser.get(), options));
}

}  // namespace

void MailMessage::PrepareReader() {
    static std::once_flag initialised;
    std::call_once(initialised, [] { g_mime_init(); });
}

bool MailMessage::LoadFromFile(const std::string &path) {
    InputFile file(path);
    if (file.kind() != InputFile::Kind::Regular) return Load(file.exists(), false, file.modified(), std::nullopt, {});
    SourceHead head;
    head.complete = HeaderComplete;
    head.limit = kMaxHeaderBytes;
    const auto read = [&file](char *buffer, std::size_t count, std::size_t &got) {
        const std::ptrdiff_t read = file.Read(buffer, count);
        got = static_cast<std::size_t>(std::max<std::ptrdiff_t>(read, 0));
        return read >= 0 ? Status::Ok() : Status::Failure(ErrorKind::Other, "cannot read the message");
    };
    if (!ReadHead(head, read)) return Load(true, false, file.modified(), file.size(), {});
    return LoadFromHead(head.bytes, file.modified(), file.size());
}

bool MailMessage::LoadFromHead(std::string_view head, std::time_t modified, std::optional<std::uint64_t> size) {
    const std::string_view limited = head.substr(0, kMaxHeaderBytes);
    return Load(true, true, modified, size, limited.substr(0, HeaderLength(limited, 0)));
}

bool MailMessage::HeaderComplete(std::string_view head, std::size_t before) {
    return head.size() >= kMaxHeaderBytes || HeaderLength(head, before) != std::string_view::npos;
}

bool MailMessage::Load(bool exists, bool readable, std::time_t modified, std::optional<std::uint64_t> size,
                       std::string_view bytes) {
    subject_.clear();
    from_.clear();
    messageId_.clear();
    date_ = {};
    instant_ = {};

    size_ = size;
    const auto useDate = [this](const ChosenDate &chosen) {
        date_ = chosen.date;
        instant_ = chosen.instant;
    };
    // Only when nothing better is found: the C library may take a lock for the local time that
    // every worker shares.
    const auto useFileDate = [&] { useDate(FileDate(exists, modified)); };
    const std::string_view fields = SkipPreamble(bytes);
    if (!readable || !StartsWithHeaderField(fields)) {
        useFileDate();
        return false;
    }

    GMimeParserOptions *const options = ParserOptions();
    const std::string text = TerminatedHeader(FieldsRead(fields));
    std::optional<Fields> read = ReadPlainFields(text, options);
    if (!read) {
        const auto part = ParseHeader(text, options);
        if (!part) {
            useFileDate();
            return false;
        }
        read = ReadFields(g_mime_object_get_header_list(part.get()), options);
    }
    subject_ = std::move(read->subject);
    from_ = SenderText(*read, options);
    if (read->messageId) messageId_ = std::move(*read->messageId);
    useDate(read->date);
    if (!date_.known() && read->topmostReceived)
        useDate(ReceivedDate(DecodedValue(*read->topmostReceived, options).c_str()));
    if (!date_.known()) useFileDate();
    return true;
}

}  // namespace tarvelin
