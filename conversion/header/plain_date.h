// The date of a Date (or Received) field in the usual form, read without GMime's date parser,
// which builds a time zone from a formatted name and a list of tokens for every message.
#pragma once

#include <cstdint>
#include <optional>
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

}  // namespace tarvelin
