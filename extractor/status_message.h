// The texts the extractor shows. All fit the 1024-character message buffer; a
// text that would not is cut at the buffer's end. The run sequence's texts come
// in two forms: 8-bit, and UTF-16 for the wide message box, where a path shows
// every character it holds; both say the same words.
#pragma once

#include <cstdint>
#include <span>

namespace extractor {

constexpr uint32_t MESSAGE_CAPACITY = 1024;
using MessageBuffer = std::span<char, MESSAGE_CAPACITY>;
using WideMessageBuffer = std::span<char16_t, MESSAGE_CAPACITY>;

// Caption of the run sequence's boxes (MB_ICONERROR) and of the fatal stops (MB_OK).
constexpr const char16_t* RUN_CAPTION = u"Korvane";
constexpr const char16_t* FATAL_CAPTION = u"Error";

// "Error: Extractor failed to create a directory; error=%d"
const char* format_directory_error(MessageBuffer out, uint32_t error);
const char16_t* format_directory_error(WideMessageBuffer out, uint32_t error);
// The work directory could not be entered (or its path does not fit): no extraction.
const char* format_enter_directory_error(MessageBuffer out, uint32_t error);
const char16_t* format_enter_directory_error(WideMessageBuffer out, uint32_t error);
// Status -3 names the file; every other non-zero status gets the generic text.
const char* format_status_message(MessageBuffer out, int32_t status, const char* failed_file_name);
const char16_t* format_status_message(WideMessageBuffer out, int32_t status, const char16_t* failed_file_name);
// "Memory Allocation Error %d" with 20 x S (32-bit arithmetic, printed signed).
const char* format_allocation_error(MessageBuffer out, int32_t stored_size);
// "UnCompressed data will overflow buffer (%d %d %d)"
const char* format_overflow_error(MessageBuffer out, uint32_t produced, uint32_t count, uint32_t capacity);

}  // namespace extractor
