// Naming and locating the work directory "KVN.<seconds in hex>" below the
// temporary directory.
#pragma once

#include <cstdint>
#include <span>

namespace extractor {

constexpr uint32_t SHORT_PATH_CAPACITY = 261;  // MAX_PATH + 1 characters: temp and module paths
constexpr uint32_t WORK_DIRECTORY_ATTEMPTS = 10;

// A reading of the system clock in UTC, broken down as Windows gives it.
struct ClockReading {
  uint32_t year, month, day, hour, minute, second;
};

// Whole seconds since 1970-01-01 00:00:00 UTC of a reading from 1970 on, as a
// 32-bit count (it wraps after 2106-02-07 06:28:15), computed in 32-bit
// arithmetic: the stub needs no 64-bit division.
uint32_t seconds_since_1970(const ClockReading& reading);

// "KVN.%X" of the clock in whole seconds since 1970 (32 bits, upper-case hex,
// no leading zeros). At most 12 characters.
const char* format_work_directory_name(std::span<char, 16> out, uint32_t seconds);
const char16_t* format_work_directory_name(std::span<char16_t, 16> out, uint32_t seconds);

// temp_dir + "\" (unless it ends in "\" or "/") + name, in `out`. False, with
// `out` unchanged in meaning, when the whole path does not fit.
bool join_work_directory_path(std::span<char, SHORT_PATH_CAPACITY> out, const char* temp_dir, const char* name);
bool join_work_directory_path(std::span<char16_t, SHORT_PATH_CAPACITY> out, const char16_t* temp_dir,
                              const char16_t* name);

}  // namespace extractor
