#include "conversion/header/plain_date.h"

#include <array>
#include <chrono>

#include "platform/ascii_case.h"

namespace tarvelin {

namespace {

// Takes `count` digits from the front of `text`.
std::optional<int> TakeDigits(std::string_view &text, std::size_t count) {
    if (text.size() < count) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return value;
}

bool Take(std::string_view &text, std::string_view expected) {
    if (!text.starts_with(expected)) return false;
    text.remove_prefix(expected.size());
    return true;
}

// The 1-based index of the three-letter name at the front of `text` (any letter case).
template <std::size_t N>
std::optional<int> TakeName(std::string_view &text, const std::array<std::string_view, N> &names) {
    if (text.size() < 3) return std::nullopt;
    for (std::size_t i = 0; i < N; ++i) {
        if (EqualsIgnoringAsciiCase(text.substr(0, 3), names[i])) {
            text.remove_prefix(3);
            return static_cast<int>(i) + 1;
        }
    }
    return std::nullopt;
}

constexpr std::array<std::string_view, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::optional<WrittenTime> ReadPlainDate(std::string_view value) {
    while (value.starts_with(' ') || value.starts_with('\t')) value.remove_prefix(1);
    std::string_view text = value;
    // GMime passes over the day of the week without a look at whether it fits the date.
    if (TakeName(text, kDays) && !Take(text, ", ")) return std::nullopt;

    std::optional<int> day = TakeDigits(text, 2);
    if (!day) day = TakeDigits(text, 1);
    if (!day || !Take(text, " ")) return std::nullopt;
    const std::optional<int> month = TakeName(text, kMonths);
    if (!month || !Take(text, " ")) return std::nullopt;
    const std::optional<int> year = TakeDigits(text, 4);
    if (!year || *year < 1970 || *year > 9998 || !Take(text, " ")) return std::nullopt;

    const std::optional<int> hour = TakeDigits(text, 2);
    if (!hour || !Take(text, ":")) return std::nullopt;
    const std::optional<int> minute = TakeDigits(text, 2);
    std::optional<int> second = 0;
    if (Take(text, ":")) second = TakeDigits(text, 2);
    if (!minute || !second || *hour > 23 || *minute > 59 || *second > 59 || !Take(text, " ")) return std::nullopt;

    const bool west = text.starts_with('-');
    if (!west && !text.starts_with('+')) return std::nullopt;
    text.remove_prefix(1);
    const std::optional<int> zoneHours = TakeDigits(text, 2);
    const std::optional<int> zoneMinutes = TakeDigits(text, 2);
    if (!zoneHours || !zoneMinutes || *zoneHours > 23 || *zoneMinutes > 59) return std::nullopt;
    // A zone run together with more text is no zone to GMime.
    if (!text.empty() && text.front() != ' ' && text.front() != '\t') return std::nullopt;

    namespace chrono = std::chrono;
    const chrono::year_month_day date{chrono::year(*year), chrono::month(static_cast<unsigned>(*month)),
                                      chrono::day(static_cast<unsigned>(*day))};
    if (!date.ok()) return std::nullopt;
    const int offset = (west ? -1 : 1) * (*zoneHours * 3600 + *zoneMinutes * 60);
    const std::int64_t local = static_cast<std::int64_t>(chrono::sys_days(date).time_since_epoch().count()) * 86400 +
                               *hour * 3600 + *minute * 60 + *second;
    return WrittenTime{{*year, *month, *day}, local - offset, offset};
}

std::string LongYearsAsWritten(std::string_view value) {
    std::string read(value);
    // The parts as GMime cuts them: blanks before a part are skipped, and a part runs up to the
    // next of these.
    constexpr std::string_view kEnds = "-/,\t\r\n ";
    for (std::size_t start = 0; start < read.size();) {
        while (start < read.size() && (read[start] == ' ' || read[start] == '\t')) ++start;
        if (start >= read.size()) break;
        std::size_t end = start + 1;
        while (end < read.size() && kEnds.find(read[end]) == std::string_view::npos) ++end;
        std::string_view part(read.data() + start, end - start);
        if (part.size() == 4 && part.find_first_not_of("0123456789") == std::string_view::npos && part < "0100")
            read.replace(start, 4, "????");
        start = end + 1;
    }
    return read;
}

std::string_view MonthName(unsigned month) { return kMonths.at(month - 1); }
std::string_view WeekdayName(unsigned weekday) { return kDays.at(weekday); }

UtcTime UtcTimeOf(std::int64_t unixSeconds) {
    namespace chrono = std::chrono;
    const chrono::sys_seconds instant{chrono::seconds(unixSeconds)};
    const chrono::sys_days day = chrono::floor<chrono::days>(instant);
    const chrono::year_month_day date(day);
    const chrono::hh_mm_ss clock(instant - day);
    return {static_cast<int>(date.year()),
            static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()),
            chrono::weekday(day).c_encoding(),
            static_cast<unsigned>(clock.hours().count()),
            static_cast<unsigned>(clock.minutes().count()),
            static_cast<unsigned>(clock.seconds().count())};
}

}  // namespace tarvelin
