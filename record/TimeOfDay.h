#pragma once
// Time values of the reading table. Date-times are days since 1899-12-30 with the time of
// day as the fraction; the table's Time field holds milliseconds since midnight.
#include <cstdint>
#include <string>

namespace rd780 {

constexpr int32_t MsPerDay = 86400000;

// The time of day of a date-time, in milliseconds since midnight (the date part is dropped).
int32_t timeOfDayMs(double dateTime);

// "HH:MM:SS", 24-hour, as the grid, the export and the report show a Time field.
std::string formatTimeOfDay(int32_t ms);

// The current local date and time as a date-time.
double nowDateTime();

// The current local time of day as a date-time with a zero date part.
double nowTimeOfDay();

} // namespace rd780
