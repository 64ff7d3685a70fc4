// The date of a Date (or Received) field in the usual form, read without GMime's date parser,
// which builds a time zone from a formatted name and a list of tokens for every message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "conversion/header/calendar_date.h"

namespace tarvelin {

struct WrittenTime {
    CalendarDate date;  // in the zone the field names
    std::int64_t unixSeconds = 0;
    int utcOffsetSeconds = 0;
};

// What GMime 3.2's g_mime_utils_header_decode_date gives for `value`, for the values whose result
// can be told without it: "[Day, ]D Mon YYYY HH:MM[:SS] +HHMM", one space between the parts, a
// valid date from 1970 to 9998, seconds up to 59, the zone's hours up to 23; anything may follow
// the zone after a blank. Nothing for any other value, which then goes to GMime.
std::optional<WrittenTime> ReadPlainDate(std::string_view value);

// The value as GMime's date parser should read it: that parser takes every year below 100 for one
// written in two digits ("0000" is 2000), so each number of four digits below 100 becomes a part
// it reads as nothing, and the date is known only when its year is written in full.
std::string LongYearsAsWritten(std::string_view value);

// The English three-letter names that dates in mail use: months 1 to 12, weekdays 0 (Sunday) to 6.
std::string_view MonthName(unsigned month);
std::string_view WeekdayName(unsigned weekday);

// An instant as the calendar and the clock show it in UTC.
struct UtcTime {
    int year = 0;
    unsigned month = 0, day = 0, weekday = 0, hour = 0, minute = 0, second = 0;
};
UtcTime UtcTimeOf(std::int64_t unixSeconds);

}  // namespace tarvelin
