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
