#include "java_release.h"

#include "bounded_text.h"

namespace javaext {
namespace {

constexpr std::string_view KEY = "JAVA_VERSION=";
constexpr int LARGEST_VERSION = 9999;  // more digits than any version: not a version

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The number at the start of `text`, which is then advanced past it; -1 when
// `text` does not begin with a digit or the number is larger than any version.
int take_number(std::string_view& text) {
  if (text.empty() || !is_digit(text.front())) return -1;
  int value = 0;
  while (!text.empty() && is_digit(text.front())) {
    value = value * 10 + (text.front() - '0');
    if (value > LARGEST_VERSION) return -1;
    text.remove_prefix(1);
  }
  return value;
}

// What may follow the feature number: the end, or the separator of the next part
// ("17.0.15", "1.8.0_392", "9-ea", "9+181").
bool ends_feature_number(std::string_view rest) {
  return rest.empty() || rest.front() == '.' || rest.front() == '_' || rest.front() == '-' || rest.front() == '+';
}

int feature_version_of_value(std::string_view value) {
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
    value.remove_suffix(1);
  if (!value.empty() && value.front() == '"') {
    if (value.size() < 2 || value.back() != '"') return 0;
    value.remove_prefix(1);
    value.remove_suffix(1);
  }
  int feature = take_number(value);
  if (feature < 0 || !ends_feature_number(value)) return 0;
  if (feature == 1 && !value.empty() && value.front() == '.') {
    value.remove_prefix(1);
    feature = take_number(value);
    if (feature < 0 || !ends_feature_number(value)) return 0;
  }
  return feature;
}

}  // namespace

int java_feature_version(std::string_view release_text) {
  while (!release_text.empty()) {
    const size_t end = release_text.find('\n');
    std::string_view line = common::leading(release_text, end);
    release_text.remove_prefix(end == std::string_view::npos ? release_text.size() : end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.starts_with(KEY)) {
      line.remove_prefix(KEY.size());
      return feature_version_of_value(line);
    }
  }
  return 0;
}

}  // namespace javaext
