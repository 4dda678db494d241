// The work directory's clock: seconds since 1970 from the broken-down time that
// Windows gives, in 32-bit arithmetic, against the 64-bit calendar of the
// installation records (itself checked day by day in javaext_time_text_test).
#include <gtest/gtest.h>

#include <cstdint>

#include "time_text.h"
#include "work_directory.h"

namespace {

extractor::ClockReading reading_at(int64_t seconds) {
  const javaext::UtcTime t = javaext::utc_from_unix_seconds(seconds);
  return {static_cast<uint32_t>(t.year), static_cast<uint32_t>(t.month),  static_cast<uint32_t>(t.day),
          static_cast<uint32_t>(t.hour), static_cast<uint32_t>(t.minute), static_cast<uint32_t>(t.second)};
}

TEST(WorkDirectoryClock, KnownMoments) {
  EXPECT_EQ(extractor::seconds_since_1970({1970, 1, 1, 0, 0, 0}), 0u);
  EXPECT_EQ(extractor::seconds_since_1970({2002, 3, 2, 14, 3, 5}), 1015077785u);
  EXPECT_EQ(extractor::seconds_since_1970({2000, 2, 29, 23, 59, 59}), 951868799u);  // a leap day of a 400th year
  EXPECT_EQ(extractor::seconds_since_1970({2038, 1, 19, 3, 14, 8}), 0x80000000u);
  EXPECT_EQ(extractor::seconds_since_1970({2106, 2, 7, 6, 28, 15}), 0xFFFFFFFFu);
  EXPECT_EQ(extractor::seconds_since_1970({2106, 2, 7, 6, 28, 16}), 0u);  // wraps as the 32-bit count
}

TEST(WorkDirectoryClock, AgreesWithTheRecordsCalendarEveryFewHoursTo2106) {
  for (int64_t seconds = 0; seconds <= 0xFFFFFFFF; seconds += 3 * 3600 + 1234) {
    ASSERT_EQ(extractor::seconds_since_1970(reading_at(seconds)), static_cast<uint32_t>(seconds)) << seconds;
  }
  for (int64_t seconds = 0x100000000; seconds < 0x100000000 + 400 * 86400; seconds += 86399)
    ASSERT_EQ(extractor::seconds_since_1970(reading_at(seconds)), static_cast<uint32_t>(seconds)) << seconds;
}

}  // namespace
