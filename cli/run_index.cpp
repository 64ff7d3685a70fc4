#include "cli/run_index.h"

#include <chrono>
#include <cstdio>
#include <iterator>

#include "cli/escaped_text.h"

namespace tarvelin {

namespace {

std::string_view StatusWord(IndexStatus status) {
    switch (status) {
    case IndexStatus::Converted: return "converted";
    case IndexStatus::Failed: return "failed";
    case IndexStatus::AlreadyThere: return "already-there";
    case IndexStatus::Skipped: return "skipped";
    case IndexStatus::WouldConvert: return "would-convert";
    case IndexStatus::Renamed: return "renamed";
    }
    return "";
}

std::string_view DateSourceWord(DateSource source) {
    switch (source) {
    case DateSource::Header: return "header";
    case DateSource::Received: return "received";
    case DateSource::File: return "file";
    case DateSource::None: break;
    }
    return "";
}

// Only the rows that copied or found a copy have a size worth giving.
bool HasSize(IndexStatus status) {
    return status == IndexStatus::Converted || status == IndexStatus::AlreadyThere ||
           status == IndexStatus::WouldConvert;
}

}  // namespace

std::string CsvCell(std::string_view value) {
    std::string cell;
    cell.reserve(value.size() + 3);
    // Subjects and senders come from strangers: "=HYPERLINK(...)" must stay text (CWE-1236).
    if (!value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos) cell += '\'';
    bool quote = false;
    for (const char c : value) {
        if (c == '\r' || c == '\n') {
            cell += ' ';
            continue;
        }
        if (c == '"') cell += '"';
        quote = quote || c == '"' || c == ',';
        cell += c;
    }
    return quote ? '"' + cell + '"' : cell;
}

std::string IsoDate(const MessageInstant &date) {
    if (!date.known()) return {};
    using namespace std::chrono;
    const sys_seconds local{seconds{date.unixSeconds + date.utcOffsetSeconds}};
    const sys_days day = floor<days>(local);
    const year_month_day ymd{day};
    const hh_mm_ss time{local - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    std::string iso = text;
    if (date.source == DateSource::File) return iso + "Z";
    const int offset = date.utcOffsetSeconds < 0 ? -date.utcOffsetSeconds : date.utcOffsetSeconds;
    std::snprintf(text, sizeof text, "%c%02d:%02d", date.utcOffsetSeconds < 0 ? '-' : '+', offset / 3600,
                  offset / 60 % 60);
    return iso + text;
}

std::string IndexHeader() {
    return "\xEF\xBB\xBF"
           "status,source,output,bytes,date,date_source,from,subject,message_id,error,number_in_file,domain,account,"
           "mailbox\r\n";
}

std::string IndexLine(const IndexRow &row) {
    const MessageFacts &facts = row.facts;
    const std::string bytes = HasSize(row.status) && facts.bytes ? std::to_string(*facts.bytes) : "";
    const std::string date = IsoDate(facts.date);
    const std::string number = row.numberInFile > 0 ? std::to_string(row.numberInFile) : "";
    // Paths, and reasons that name them, may hold any bytes but NUL.
    const std::string source = EscapedText(row.source), output = EscapedText(row.output);
    const std::string error = EscapedText(row.error);
    const std::string domain = EscapedText(facts.domain), account = EscapedText(facts.account);
    const std::string mailbox = EscapedText(facts.mailbox);
    const std::string_view cells[] = {StatusWord(row.status), source,        output,
                                      bytes,                  date,          DateSourceWord(facts.date.source),
                                      facts.from,             facts.subject, facts.messageId,
                                      error,                  number,        domain,
                                      account,                mailbox};
    std::string line = CsvCell(cells[0]);
    for (std::size_t i = 1; i < std::size(cells); ++i) line += ',' + CsvCell(cells[i]);
    return line + "\r\n";
}

Status RunIndex::Create(const std::string &path) {
    if (Status created = file_.Create(path); !created) return created;
    return file_.Write(IndexHeader());
}

}  // namespace tarvelin
