// The UTC time text of an installation record: asctime's layout with a leading
// zero in the day of the month, "Sat Mar 02 14:03:05 2002\n" (25 bytes, no NUL
// stored). Computed from a 64-bit count of seconds since 1970-01-01 00:00:00 UTC
// with our own calendar arithmetic, or from a moment broken down by the system,
// so it stays right past 2038 and does not depend on the C runtime's gmtime/asctime.
#pragma once

#include <array>
#include <cstdint>

namespace javaext {

inline constexpr std::size_t TIME_TEXT_LENGTH = 25;

// The 25 characters of the time text followed by a NUL (the NUL is not stored).
using TimeText = std::array<char, TIME_TEXT_LENGTH + 1>;

// A moment broken down in UTC (proleptic Gregorian calendar).
struct UtcTime {
  int64_t year;
  int month;    // 1..12
  int day;      // 1..31
  int hour;     // 0..23
  int minute;   // 0..59
  int second;   // 0..59
  int weekday;  // 0 = Sunday .. 6 = Saturday
};

// The text has room for four year digits only: moments outside years 1..9999 are
// stamped with the nearest moment inside (the layout never changes).
inline constexpr int64_t EARLIEST_TEXT_SECONDS = -62135596800;  // 0001-01-01 00:00:00
inline constexpr int64_t LATEST_TEXT_SECONDS = 253402300799;    // 9999-12-31 23:59:59

// The same limits broken down: 0001-01-01 00:00:00 was a Monday, 9999-12-31
// 23:59:59 a Friday.
inline constexpr UtcTime EARLIEST_TEXT_TIME{1, 1, 1, 0, 0, 0, 1};
inline constexpr UtcTime LATEST_TEXT_TIME{9999, 12, 31, 23, 59, 59, 5};

UtcTime utc_from_unix_seconds(int64_t seconds_since_1970);

// Seconds since 1970 from a Windows FILETIME count of 100 ns ticks since 1601.
int64_t unix_seconds_from_filetime_ticks(uint64_t ticks_since_1601);

TimeText format_time_text(int64_t seconds_since_1970);

// The text of a moment already broken down, as the system clock gives it (the
// Windows layer reads it so and needs no 64-bit division). A year outside 1..9999
// is stamped with the nearest limit.
TimeText format_time_text(const UtcTime& time);

}  // namespace javaext
