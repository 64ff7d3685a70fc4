// The index of a run: one CSV row per listed message, in list order, in the dialect that
// spreadsheets open without questions (UTF-8 with a byte-order mark, CRLF, RFC 4180 quoting).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/message_facts.h"
#include "platform/new_file.h"
#include "platform/status.h"

namespace tarvelin {

// Renamed: not a message but a mailbox whose name a target refuses or that was taken, said once
// before the first message it holds.
enum class IndexStatus { Converted, Failed, AlreadyThere, Skipped, WouldConvert, Renamed };

struct IndexRow {
    IndexStatus status = IndexStatus::Converted;
    std::string source;
    std::string output;  // empty when nothing was written
    MessageFacts facts;
    std::string error;
    std::size_t numberInFile = 0;  // in an mbox file, from 1; 0 for a file of its own
};

// One cell: a CR or LF becomes a space; a cell a spreadsheet would run as a formula gets a
// leading "'"; quoted when it holds a comma or a quote, quotes doubled.
std::string CsvCell(std::string_view value);

// ISO 8601 with the offset of the zone the date was written in ("Z" for a file's time); empty
// when no date is known.
std::string IsoDate(const MessageInstant &date);

// The byte-order mark and the header row.
std::string IndexHeader();
// One row with its CRLF; source, output and error escaped (EscapedText), as paths may hold any
// bytes: a newline, or bytes that are not UTF-8.
std::string IndexLine(const IndexRow &row);

// The index file: created new (never over an existing file) with its header, then a row at a
// time, each written through at once so that a stopped run leaves the rows so far.
class RunIndex {
public:
    [[nodiscard]] Status Create(const std::string &path);
    [[nodiscard]] Status Add(const IndexRow &row) { return file_.Write(IndexLine(row)); }

private:
    NewFile file_;
};

}  // namespace tarvelin
