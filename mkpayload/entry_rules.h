// What every installer must satisfy to unpack on an ordinary Windows machine,
// judged before anything is written: the builder refuses an input that breaks a
// rule, and --verify reports an installer of any origin that does.
//
// Path arithmetic. The extractor creates "<temp>\KVN.<hex>\<name>". Windows'
// file calls take paths of up to MAX_PATH - 1 = 259 characters, and a folder
// path must leave room for an 8.3 name (247). Names are promised to fit under a
// temporary folder of up to 64 characters (without its final backslash; a
// user's "C:\Users\<name>\AppData\Local\Temp" is 35 for a 10-letter name), so
// 78 characters go before the name. A name's bytes in an ANSI code page are at
// least as many as its UTF-16 characters, so limits in bytes are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mkpayload {

inline constexpr size_t TEMP_FOLDER_ALLOWANCE = 64;
inline constexpr size_t WORK_DIRECTORY_NAME_LENGTH = 12;  // "KVN." and up to 8 hexadecimal digits
inline constexpr size_t MAX_PATH_CHARACTERS = 259;
inline constexpr size_t MAX_FOLDER_PATH_CHARACTERS = 247;
inline constexpr size_t WORK_PATH_PREFIX = TEMP_FOLDER_ALLOWANCE + 1 + WORK_DIRECTORY_NAME_LENGTH + 1;
inline constexpr size_t MAX_ENTRY_NAME_BYTES = MAX_PATH_CHARACTERS - WORK_PATH_PREFIX;
inline constexpr size_t MAX_FOLDER_BYTES = MAX_FOLDER_PATH_CHARACTERS - WORK_PATH_PREFIX;
static_assert(MAX_ENTRY_NAME_BYTES == 181 && MAX_FOLDER_BYTES == 169);

// The command interpreter reads lines of up to 8191 characters, and the line it
// is given is "<COMSPEC> /c <command>" with COMSPEC a path of up to 259.
inline constexpr size_t MAX_COMMAND_BYTES = 8191 - MAX_PATH_CHARACTERS - 4;

// One entry as the payload holds it (or will).
struct PlannedEntry {
  bool command = false;
  std::string text;   // the name (folders separated by '\') or command as UTF-8, for messages
  std::string bytes;  // what the payload holds: text in the end user's code page
  bool compressed = false;
  uint64_t unpacked_size = 0;  // U, or the input's size before it is compressed
};

struct RuleViolation {
  size_t entry;        // index into the planned entries
  std::string reason;  // "is ...": a sentence part that follows the entry's name
};

// The name rules of one file entry (its UTF-8 text and its payload bytes): the
// extractor's unsafe-name rules, the reserved stub-copy name, the path lengths.
// Empty when the name is fine.
std::string file_name_problem(std::string_view text, std::string_view bytes);

// The rules of one command text (payload bytes): length, line breaks, NUL.
std::string command_problem(std::string_view bytes);

// The folders a file name lies in, outermost first ("a", "a\b" for "a\b\c.txt").
std::vector<std::string> folders_of(std::string_view name);

// Two entries naming one file (Windows ignores letter case and reads '/' as
// '\'), unless a command entry stands between them (it may use the first before
// the second replaces it); a file where another entry needs a folder; and, when
// `folders_need_command`, a file in a folder that no earlier command can have
// made (mkpayload adds those commands itself; --verify checks installers it did
// not make).
std::vector<RuleViolation> sequence_problems(std::span<const PlannedEntry> entries, bool folders_need_command);

// Converts a name or command given as UTF-8 to the payload's bytes: ASCII as it
// is; anything else only with a code page that holds every character. On failure
// `reason` says why and what to do.
std::optional<std::string> payload_bytes_of(std::string_view utf8, std::optional<unsigned> code_page,
                                            std::string& reason);

// The other way, for installers read back: the text the end user's Windows reads
// from `bytes`. ASCII needs no code page; anything else needs one and must be
// valid text in it.
std::optional<std::string> text_of_payload_bytes(std::string_view bytes, std::optional<unsigned> code_page,
                                                 std::string& reason);

}  // namespace mkpayload
