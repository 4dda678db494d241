#include "work_directory.h"

#include <string_view>

#include "bounded_text.h"

namespace extractor {

using common::BoundedText;

const char* format_work_directory_name(std::span<char, 16> out, uint32_t seconds) {
  return BoundedText(out).append("KVN.").append_hex(seconds).c_str();
}

bool join_work_directory_path(std::span<char, SHORT_PATH_CAPACITY> out, const char* temp_dir, const char* name) {
  char joined[SHORT_PATH_CAPACITY];
  BoundedText path(joined);
  const std::string_view dir(temp_dir);
  path.append(dir);
  if (dir.empty() || (dir.back() != '\\' && dir.back() != '/')) path.append("\\");
  path.append(name);
  if (!path.ok()) return false;
  BoundedText(out).append(path.view());
  return true;
}

}  // namespace extractor
