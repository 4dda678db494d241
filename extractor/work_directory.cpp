#include "work_directory.h"

#include <string_view>

#include "bounded_text.h"

namespace extractor {

using common::BasicBoundedText;

namespace {

template <class Char>
const Char* work_directory_name(std::span<Char, 16> out, uint32_t seconds) {
  return BasicBoundedText<Char>(out).append_ascii("KVN.").append_hex(seconds).c_str();
}

template <class Char>
bool join_path(std::span<Char, SHORT_PATH_CAPACITY> out, const Char* temp_dir, const Char* name) {
  Char joined[SHORT_PATH_CAPACITY];
  BasicBoundedText<Char> path(joined);
  const std::basic_string_view<Char> dir(temp_dir);
  path.append(dir);
  if (dir.empty() || (dir.back() != Char('\\') && dir.back() != Char('/'))) path.append_ascii("\\");
  path.append(name);
  if (!path.ok()) return false;
  BasicBoundedText<Char>(out).append(path.view());
  return true;
}

}  // namespace

// Days since 1970-01-01 of a date: years counted from 1 March, so that the leap
// day ends a year, in eras of 400 Gregorian years (146097 days); 719468 days lie
// between 0000-03-01 and 1970-01-01. A reading from 1970 on gives no negative
// value, and every product wraps as the 32-bit count does.
uint32_t seconds_since_1970(const ClockReading& reading) {
  const uint32_t year = reading.month <= 2 ? reading.year - 1 : reading.year;
  const uint32_t era = year / 400;
  const uint32_t year_of_era = year - era * 400;
  const uint32_t march_month = reading.month > 2 ? reading.month - 3 : reading.month + 9;
  const uint32_t day_of_year = (153 * march_month + 2) / 5 + reading.day - 1;
  const uint32_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  const uint32_t days = era * 146097 + day_of_era - 719468;
  return days * 86400 + reading.hour * 3600 + reading.minute * 60 + reading.second;
}

const char* format_work_directory_name(std::span<char, 16> out, uint32_t seconds) {
  return work_directory_name(out, seconds);
}

const char16_t* format_work_directory_name(std::span<char16_t, 16> out, uint32_t seconds) {
  return work_directory_name(out, seconds);
}

bool join_work_directory_path(std::span<char, SHORT_PATH_CAPACITY> out, const char* temp_dir, const char* name) {
  return join_path(out, temp_dir, name);
}

bool join_work_directory_path(std::span<char16_t, SHORT_PATH_CAPACITY> out, const char16_t* temp_dir,
                              const char16_t* name) {
  return join_path(out, temp_dir, name);
}

}  // namespace extractor
