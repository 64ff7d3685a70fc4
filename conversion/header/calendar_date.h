#pragma once

namespace tarvelin {

// A calendar date as written in a message; the time of day is never used.
struct CalendarDate {
    int year = 0;   // 0: unknown
    int month = 0;  // 1..12
    int day = 0;    // 1..31

    bool known() const { return year > 0; }
    friend bool operator==(const CalendarDate &, const CalendarDate &) = default;
};

}  // namespace tarvelin
