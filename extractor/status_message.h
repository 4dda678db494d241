// The texts the extractor shows. All fit the 1024-byte message buffer; a text
// that would not is cut at the buffer's end.
#pragma once

#include <cstdint>
#include <span>

namespace extractor {

constexpr uint32_t MESSAGE_CAPACITY = 1024;
using MessageBuffer = std::span<char, MESSAGE_CAPACITY>;

// Caption of the run sequence's boxes (MB_ICONERROR) and of the fatal stops (MB_OK).
constexpr const char* RUN_CAPTION = "Korvane";
constexpr const char* FATAL_CAPTION = "Error";

// "Error: Extractor failed to create a directory; error=%d"
const char* format_directory_error(MessageBuffer out, uint32_t error);
// The work directory could not be entered (or its path does not fit): no extraction.
const char* format_enter_directory_error(MessageBuffer out, uint32_t error);
// Status -3 names the file; every other non-zero status gets the generic text.
const char* format_status_message(MessageBuffer out, int32_t status, const char* failed_file_name);
// "Memory Allocation Error %d" with 20 x S (32-bit arithmetic, printed signed).
const char* format_allocation_error(MessageBuffer out, int32_t stored_size);
// "UnCompressed data will overflow buffer (%d %d %d)"
const char* format_overflow_error(MessageBuffer out, uint32_t produced, uint32_t count, uint32_t capacity);

}  // namespace extractor
