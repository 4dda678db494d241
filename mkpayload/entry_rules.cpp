#include "entry_rules.h"

#include <algorithm>
#include <map>

#include "code_page.h"
#include "entry_name.h"
#include "payload_layout.h"

namespace mkpayload {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// One spelling for the names Windows takes as the same file: ASCII letters in
// upper case, '/' as '\'.
std::string same_file_key(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    if (c == '/')
      c = '\\';
    else if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return key;
}

std::string folder_part(std::string_view name) {
  const size_t last = name.find_last_of("\\/");
  return last == std::string_view::npos ? std::string() : std::string(name.substr(0, last));
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The name rules once more on the characters the end user's Windows reads (the
// extractor judges the converted name too): only there is "COM¹" a device.
// Text that is not UTF-8 (names read back without their code page) has no
// characters to judge.
payload::NameVerdict verdict_as_windows_reads(std::string_view text) {
  const std::optional<std::u32string> characters = decode_utf8(text);
  if (!characters) return payload::NameVerdict::ok;
  std::u16string units;
  for (char32_t c : *characters) {
    if (c < 0x10000) {
      units.push_back(static_cast<char16_t>(c));
    } else {
      units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return payload::check_entry_name(std::u16string_view(units));
}

}  // namespace

std::string file_name_problem(std::string_view text, std::string_view bytes) {
  if (same_file_key(text) == same_file_key(payload::SELF_NAME))
    return "is the name of the stub copy, which replaces it at the end of extraction";
  if (const auto verdict = payload::check_entry_name(bytes); verdict != payload::NameVerdict::ok)
    return "is an unsafe name: it " + std::string(payload::describe(verdict));
  if (const auto verdict = verdict_as_windows_reads(text); verdict != payload::NameVerdict::ok)
    return "is an unsafe name: it " + std::string(payload::describe(verdict));
  if (bytes.find('\0') != std::string_view::npos) return "holds a NUL byte";
  if (bytes.size() > MAX_ENTRY_NAME_BYTES)
    return "is " + std::to_string(bytes.size()) + " bytes long; names may have at most " +
           std::to_string(MAX_ENTRY_NAME_BYTES) + " bytes, so that they fit below a temporary folder of up to " +
           std::to_string(TEMP_FOLDER_ALLOWANCE) + " characters within Windows' path limit";
  const std::string folder = folder_part(bytes);
  if (folder.size() > MAX_FOLDER_BYTES)
    return "has a folder part of " + std::to_string(folder.size()) + " bytes; folders may have at most " +
           std::to_string(MAX_FOLDER_BYTES) + " bytes, so that they fit below a temporary folder of up to " +
           std::to_string(TEMP_FOLDER_ALLOWANCE) + " characters within Windows' folder path limit";
  if (folder.find('%') != std::string::npos)
    return "has a '%' in its folder part, which the command interpreter would expand when it creates the folder";
  return {};
}

std::string command_problem(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos) return "holds a NUL byte, where the extractor would cut the command";
  if (bytes.find_first_of("\r\n") != std::string_view::npos)
    return "holds a line break; the command interpreter runs only the first line (join commands with &)";
  if (bytes.size() > MAX_COMMAND_BYTES)
    return "is " + std::to_string(bytes.size()) + " bytes long; the command interpreter takes commands of at most " +
           std::to_string(MAX_COMMAND_BYTES) + " bytes here";
  return {};
}

std::vector<std::string> folders_of(std::string_view name) {
  std::vector<std::string> folders;
  for (size_t i = 0; i < name.size(); ++i)
    if (is_separator(name[i]) && i > 0) folders.emplace_back(name.substr(0, i));
  return folders;
}

std::vector<RuleViolation> sequence_problems(std::span<const PlannedEntry> entries, bool folders_need_command) {
  std::vector<RuleViolation> problems;
  std::map<std::string, size_t> folder_users;  // folder key -> first entry below it
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].command) continue;
    for (const std::string& folder : folders_of(entries[i].text)) folder_users.emplace(same_file_key(folder), i);
  }
  std::map<std::string, size_t> last_file;  // file key -> latest entry naming it
  bool command_seen = false;
  size_t last_command = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const PlannedEntry& entry = entries[i];
    if (entry.command) {
      command_seen = true;
      last_command = i;
      continue;
    }
    const std::string key = same_file_key(entry.text);
    if (auto it = last_file.find(key); it != last_file.end() && !(command_seen && last_command > it->second)) {
      problems.push_back({i, "names the same file as entry " + std::to_string(it->second) + " " +
                                 quoted(entries[it->second].text) +
                                 " (Windows file names ignore letter case); only a command entry between them may "
                                 "use the first before the second replaces it"});
    }
    last_file[key] = i;
    if (auto it = folder_users.find(key); it != folder_users.end()) {
      problems.push_back({i, "is a file where entry " + std::to_string(it->second) + " " +
                                 quoted(entries[it->second].text) + " needs a folder"});
    }
    const std::string folder = folder_part(entry.text);
    if (folders_need_command && !folder.empty() && !command_seen) {
      problems.push_back({i, "is in the folder " + quoted(folder) +
                                 ", which no earlier command can have created (the extractor would fail with error "
                                 "3: path not found)"});
    }
  }
  return problems;
}

std::optional<std::string> payload_bytes_of(std::string_view utf8, std::optional<unsigned> code_page,
                                            std::string& reason) {
  if (is_ascii(utf8)) return std::string(utf8);
  if (!code_page) {
    const auto text = decode_utf8(utf8);
    const char32_t first = text ? *std::find_if(text->begin(), text->end(), [](char32_t c) { return c >= 0x80; }) : 0;
    reason = (text ? "holds " + describe_character(first) : std::string("is not valid UTF-8")) +
             "; names and commands are bytes in the end user's ANSI code page, so non-ASCII text needs "
             "--codepage N (for example 1252 Western European, 1250 Central European, 1251 Cyrillic, 932 Japanese)";
    return std::nullopt;
  }
  const Encoded encoded = encode_for_code_page(utf8, *code_page);
  if (encoded.invalid_utf8) {
    reason = "is not valid UTF-8";
    return std::nullopt;
  }
  if (!encoded.ok()) {
    reason = "holds " + describe_character(encoded.missing) + ", which code page " + std::to_string(*code_page) +
             " has no place for";
    return std::nullopt;
  }
  return encoded.bytes;
}

std::optional<std::string> text_of_payload_bytes(std::string_view bytes, std::optional<unsigned> code_page,
                                                 std::string& reason) {
  if (is_ascii(bytes)) return std::string(bytes);
  if (!code_page) {
    reason = "holds non-ASCII bytes, which depend on the end user's ANSI code page; give --codepage N to check them";
    return std::nullopt;
  }
  auto text = decode_from_code_page(bytes, *code_page);
  if (!text) reason = "is not valid text in code page " + std::to_string(*code_page);
  return text;
}

}  // namespace mkpayload
