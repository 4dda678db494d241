#include "status_message.h"

#include <string_view>

#include "bounded_text.h"

namespace extractor {

using common::BasicBoundedText;
using common::BoundedText;

namespace {
// Every value printed with %d is a 32-bit quantity reinterpreted as signed.
int32_t as_signed(uint32_t v) { return static_cast<int32_t>(v); }

// "<prefix>error=<n>", the two directory messages.
template <class Char>
const Char* error_message(std::span<Char, MESSAGE_CAPACITY> out, std::string_view prefix, uint32_t error) {
  return BasicBoundedText<Char>(out).append_ascii(prefix).append_signed(as_signed(error)).c_str();
}

constexpr std::string_view DIRECTORY_ERROR = "Error: Extractor failed to create a directory; error=";
constexpr std::string_view ENTER_DIRECTORY_ERROR = "Error: Extractor failed to enter its work directory; error=";

template <class Char>
const Char* status_message(std::span<Char, MESSAGE_CAPACITY> out, int32_t status, const Char* failed_file_name) {
  BasicBoundedText<Char> text(out);
  if (status == -3) {
    text.append_ascii("Extractor could not create temporary file '");
    // The path may not fit whole: keep as much as the buffer takes, then close.
    std::basic_string_view<Char> path(failed_file_name);
    const std::string_view tail = "'. ";
    const size_t room = out.size() - 1 - text.size() - tail.size();
    text.append(common::leading(path, room)).append_ascii(tail);
    return text.c_str();
  }
  return text.append_ascii("Error: Extractor failed with error=").append_signed(status).c_str();
}

}  // namespace

const char* format_directory_error(MessageBuffer out, uint32_t error) {
  return error_message(out, DIRECTORY_ERROR, error);
}

const char16_t* format_directory_error(WideMessageBuffer out, uint32_t error) {
  return error_message(out, DIRECTORY_ERROR, error);
}

const char* format_enter_directory_error(MessageBuffer out, uint32_t error) {
  return error_message(out, ENTER_DIRECTORY_ERROR, error);
}

const char16_t* format_enter_directory_error(WideMessageBuffer out, uint32_t error) {
  return error_message(out, ENTER_DIRECTORY_ERROR, error);
}

const char* format_status_message(MessageBuffer out, int32_t status, const char* failed_file_name) {
  return status_message(out, status, failed_file_name);
}

const char16_t* format_status_message(WideMessageBuffer out, int32_t status, const char16_t* failed_file_name) {
  return status_message(out, status, failed_file_name);
}

const char* format_allocation_error(MessageBuffer out, int32_t stored_size) {
  const int32_t twenty_times = as_signed(static_cast<uint32_t>(stored_size) * 20u);
  return BoundedText(out).append("Memory Allocation Error ").append_signed(twenty_times).c_str();
}

const char* format_overflow_error(MessageBuffer out, uint32_t produced, uint32_t count, uint32_t capacity) {
  return BoundedText(out)
      .append("UnCompressed data will overflow buffer (")
      .append_signed(as_signed(produced))
      .append(" ")
      .append_signed(as_signed(count))
      .append(" ")
      .append_signed(as_signed(capacity))
      .append(")")
      .c_str();
}

}  // namespace extractor
