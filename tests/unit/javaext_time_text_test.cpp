// The installation record's UTC time text, against dates worked out by hand and a
// plain day-by-day calendar walk written independently of the implementation.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "time_text.h"

using javaext::format_time_text;
using javaext::utc_from_unix_seconds;

namespace {

std::string text_at(int64_t seconds) {
  const javaext::TimeText text = format_time_text(seconds);
  EXPECT_EQ(text[javaext::TIME_TEXT_LENGTH], '\0');
  return std::string(text.data(), javaext::TIME_TEXT_LENGTH);
}

TEST(TimeText, RecordExampleIsTwentyFiveBytesEndingInLineFeed) {
  // 2002-03-02 14:03:05 UTC, a Saturday.
  EXPECT_EQ(text_at(1015077785), "Sat Mar 02 14:03:05 2002\n");
  EXPECT_EQ(javaext::TIME_TEXT_LENGTH, 25u);
}

TEST(TimeText, EveryWeekday) {
  // 2024-06-02 (Sunday) to 2024-06-08 (Saturday), 01:02:03.
  const char* expected[] = {"Sun Jun 02 01:02:03 2024\n", "Mon Jun 03 01:02:03 2024\n", "Tue Jun 04 01:02:03 2024\n",
                            "Wed Jun 05 01:02:03 2024\n", "Thu Jun 06 01:02:03 2024\n", "Fri Jun 07 01:02:03 2024\n",
                            "Sat Jun 08 01:02:03 2024\n"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(text_at(1717290123 + i * 86400LL), expected[i]) << i;
}

TEST(TimeText, EveryMonthWithSingleDigitDayAndLeadingZero) {
  // The 9th of each month of 2023 at 10:11:12.
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {1673259072, "Mon Jan 09 10:11:12 2023\n"}, {1675937472, "Thu Feb 09 10:11:12 2023\n"},
      {1678356672, "Thu Mar 09 10:11:12 2023\n"}, {1681035072, "Sun Apr 09 10:11:12 2023\n"},
      {1683627072, "Tue May 09 10:11:12 2023\n"}, {1686305472, "Fri Jun 09 10:11:12 2023\n"},
      {1688897472, "Sun Jul 09 10:11:12 2023\n"}, {1691575872, "Wed Aug 09 10:11:12 2023\n"},
      {1694254272, "Sat Sep 09 10:11:12 2023\n"}, {1696846272, "Mon Oct 09 10:11:12 2023\n"},
      {1699524672, "Thu Nov 09 10:11:12 2023\n"}, {1702116672, "Sat Dec 09 10:11:12 2023\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(text_at(c.seconds), c.text);
}

TEST(TimeText, EpochAndMidnightBoundaries) {
  EXPECT_EQ(text_at(0), "Thu Jan 01 00:00:00 1970\n");
  EXPECT_EQ(text_at(86399), "Thu Jan 01 23:59:59 1970\n");
  EXPECT_EQ(text_at(-1), "Wed Dec 31 23:59:59 1969\n");
}

TEST(TimeText, PastTheEndOfSigned32BitSeconds) {
  EXPECT_EQ(text_at(2147483647), "Tue Jan 19 03:14:07 2038\n");
  EXPECT_EQ(text_at(2147483648), "Tue Jan 19 03:14:08 2038\n");
  EXPECT_EQ(text_at(4294967296), "Sun Feb 07 06:28:16 2106\n");  // past 32-bit unsigned too
}

TEST(TimeText, CenturyLeapRules) {
  EXPECT_EQ(text_at(951782400), "Tue Feb 29 00:00:00 2000\n");   // divisible by 400: leap
  EXPECT_EQ(text_at(4107542399), "Sun Feb 28 23:59:59 2100\n");  // divisible by 100: not leap
  EXPECT_EQ(text_at(4107542400), "Mon Mar 01 00:00:00 2100\n");
  EXPECT_EQ(text_at(13574606400), "Tue Feb 29 12:00:00 2400\n");  // leap again
}

TEST(TimeText, MomentsBeyondFourYearDigitsAreClamped) {
  EXPECT_EQ(text_at(javaext::LATEST_TEXT_SECONDS), "Fri Dec 31 23:59:59 9999\n");
  EXPECT_EQ(text_at(javaext::LATEST_TEXT_SECONDS + 1), "Fri Dec 31 23:59:59 9999\n");
  EXPECT_EQ(text_at(std::numeric_limits<int64_t>::max()), "Fri Dec 31 23:59:59 9999\n");
  EXPECT_EQ(text_at(javaext::EARLIEST_TEXT_SECONDS), "Mon Jan 01 00:00:00 0001\n");
  EXPECT_EQ(text_at(std::numeric_limits<int64_t>::min()), "Mon Jan 01 00:00:00 0001\n");
}

TEST(TimeText, FiletimeTicksToUnixSeconds) {
  constexpr uint64_t TICKS_AT_1970 = 116444736000000000ULL;
  EXPECT_EQ(javaext::unix_seconds_from_filetime_ticks(TICKS_AT_1970), 0);
  EXPECT_EQ(javaext::unix_seconds_from_filetime_ticks(TICKS_AT_1970 + 9999999), 0);  // whole seconds
  EXPECT_EQ(javaext::unix_seconds_from_filetime_ticks(TICKS_AT_1970 + 10000000), 1);
  EXPECT_EQ(javaext::unix_seconds_from_filetime_ticks(TICKS_AT_1970 + 2147483648ULL * 10000000), 2147483648);
  EXPECT_EQ(javaext::unix_seconds_from_filetime_ticks(0), -11644473600);  // 1601-01-01
}

// Reference calendar: walks one day at a time with the plain leap-year rule and
// a weekday counter, and compares every day from 1601 to 2800.
bool is_leap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
int days_in_month(int64_t year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

TEST(TimeText, AgreesWithDayByDayCalendarWalk) {
  // 1601-01-01 was a Monday, 134774 days before 1970-01-01.
  int64_t year = 1601;
  int month = 1, day = 1, weekday = 1;
  for (int64_t days = -134774; year <= 2800; ++days) {
    const int64_t seconds = days * 86400 + 3723 + (days & 1) * 79200;  // 01:02:03 or 23:02:03
    const javaext::UtcTime t = utc_from_unix_seconds(seconds);
    ASSERT_EQ(t.year, year) << days;
    ASSERT_EQ(t.month, month) << days;
    ASSERT_EQ(t.day, day) << days;
    ASSERT_EQ(t.weekday, weekday) << days;
    ASSERT_EQ(t.hour, (days & 1) ? 23 : 1) << days;
    ASSERT_EQ(t.minute, 2);
    ASSERT_EQ(t.second, 3);
    weekday = (weekday + 1) % 7;
    if (++day > days_in_month(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
}

// The Windows layer formats the broken-down time the system gives: the same text.
TEST(TimeText, BrokenDownTimeGivesTheSameText) {
  for (int64_t seconds = -62135596800; seconds < 253402300800; seconds += 86400 * 97 + 3671) {
    const javaext::TimeText from_seconds = format_time_text(seconds);
    const javaext::TimeText from_parts = format_time_text(utc_from_unix_seconds(seconds));
    ASSERT_EQ(std::string(from_parts.data()), std::string(from_seconds.data())) << seconds;
  }
}

TEST(TimeText, BrokenDownTimeOutsideTheFourDigitYearsTakesTheNearestLimit) {
  EXPECT_EQ(utc_from_unix_seconds(javaext::LATEST_TEXT_SECONDS).weekday, javaext::LATEST_TEXT_TIME.weekday);
  EXPECT_EQ(utc_from_unix_seconds(javaext::EARLIEST_TEXT_SECONDS).weekday, javaext::EARLIEST_TEXT_TIME.weekday);
  EXPECT_EQ(std::string(format_time_text(javaext::UtcTime{10000, 1, 1, 0, 0, 0, 6}).data()),
            std::string(format_time_text(javaext::LATEST_TEXT_SECONDS).data()));
  EXPECT_EQ(std::string(format_time_text(javaext::UtcTime{30827, 12, 31, 23, 59, 59, 0}).data()),
            "Fri Dec 31 23:59:59 9999\n");  // the last moment a Windows clock can show
  EXPECT_EQ(std::string(format_time_text(javaext::UtcTime{0, 12, 31, 0, 0, 0, 0}).data()),
            "Mon Jan 01 00:00:00 0001\n");
}

}  // namespace
