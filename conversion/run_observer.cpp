#include "conversion/run_observer.h"

namespace tarvelin {

namespace {

// 1970-01-01 and 2107-01-01 (UTC): the years a file time holds on every file system we write to.
constexpr std::int64_t kFirstFileTime = 0;
constexpr std::int64_t kPastLastFileTime = 4323283200;

}  // namespace

std::optional<std::int64_t> MessageFileTime(FileTime choice, MessageFacts &facts) {
    if (choice != FileTime::Message || facts.date.source == DateSource::File) return std::nullopt;
    if (!facts.date.known()) return std::nullopt;
    if (facts.date.unixSeconds < kFirstFileTime || facts.date.unixSeconds >= kPastLastFileTime) {
        facts.timeNote = "keeps the source's time: the message's date is not within 1970 to 2106";
        return std::nullopt;
    }
    return facts.date.unixSeconds;
}

std::string ProgressCaption(std::size_t done, std::size_t rows) {
    return "Message " + std::to_string(done) + " (of " + std::to_string(rows) + ")";
}

}  // namespace tarvelin
