// The calendar arithmetic from a count of seconds since 1970 to a broken-down
// UTC time, in 64 bits. Kept apart from the text's layout: the extractor stub
// reads its clock broken down and links only the layout, without the 64-bit
// division helpers this arithmetic needs on 32-bit x86.
#include "time_text.h"

namespace javaext {
namespace {

constexpr int64_t SECONDS_PER_DAY = 86400;
constexpr int64_t DAYS_PER_ERA = 146097;  // 400 Gregorian years
constexpr int64_t SECONDS_1601_TO_1970 = 11644473600;

constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Civil date from days since 1970-01-01. Years are counted from 1 March, so
// the leap day is the last day of a year; 400 Gregorian years (an era) repeat
// exactly, so each day is placed by its era and its day within the era, where
// year 0 of the era begins 0000-03-01 (shifted by whole eras). year_of_era
// takes out one day every 4 years (1460), adds one back every 100 (36524) and
// takes one out again at the era's last day (146096), then divides by 365.
struct CivilDate {
  int64_t year;
  int month;
  int day;
};
constexpr CivilDate civil_from_days(int64_t days) {
  const int64_t shifted = days + 719468;  // days since 0000-03-01
  const int64_t era = floor_div(shifted, DAYS_PER_ERA);
  const int64_t day_of_era = shifted - era * DAYS_PER_ERA;  // 0..146096
  const int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);  // 0..365
  const int64_t march_month = (5 * day_of_year + 2) / 153;  // 0 = March .. 11 = February
  const int day = static_cast<int>(day_of_year - (153 * march_month + 2) / 5 + 1);
  const int month = static_cast<int>(march_month < 10 ? march_month + 3 : march_month - 9);
  return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

static_assert(civil_from_days(0).year == 1970 && civil_from_days(0).month == 1 && civil_from_days(0).day == 1);
static_assert(civil_from_days(-1).year == 1969 && civil_from_days(-1).month == 12 && civil_from_days(-1).day == 31);
static_assert(civil_from_days(LATEST_TEXT_SECONDS / SECONDS_PER_DAY).year == 9999);
static_assert(civil_from_days(EARLIEST_TEXT_SECONDS / SECONDS_PER_DAY).year == 1);

}  // namespace

UtcTime utc_from_unix_seconds(int64_t seconds_since_1970) {
  const int64_t days = floor_div(seconds_since_1970, SECONDS_PER_DAY);
  const int seconds_of_day = static_cast<int>(seconds_since_1970 - days * SECONDS_PER_DAY);
  const CivilDate date = civil_from_days(days);
  // 1970-01-01 was a Thursday (4).
  const int weekday = static_cast<int>(days - floor_div(days + 4, 7) * 7 + 4);
  return {date.year,           date.month, date.day, seconds_of_day / 3600, seconds_of_day / 60 % 60,
          seconds_of_day % 60, weekday};
}

int64_t unix_seconds_from_filetime_ticks(uint64_t ticks_since_1601) {
  return static_cast<int64_t>(ticks_since_1601 / 10000000) - SECONDS_1601_TO_1970;
}

TimeText format_time_text(int64_t seconds_since_1970) {
  if (seconds_since_1970 < EARLIEST_TEXT_SECONDS) seconds_since_1970 = EARLIEST_TEXT_SECONDS;
  if (seconds_since_1970 > LATEST_TEXT_SECONDS) seconds_since_1970 = LATEST_TEXT_SECONDS;
  return format_time_text(utc_from_unix_seconds(seconds_since_1970));
}

}  // namespace javaext
