// What extract_payload needs from the operating system. The extractor's Windows
// layer implements it; tests and fuzzers replace it with an in-memory directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "file_content.h"

namespace extractor {

struct EntryFileResult {
  uint32_t create_error = 0;  // 0, or the system error code of the failed creation
  bool written = false;       // every block of the content was written in full
  bool times_set = false;     // creation, access and write times set to now (UTC)
};

// The calls that do not name a file: the own file once open, commands, sounds
// and the fatal stop.
class ExtractSystem {
 public:
  // The extractor's own file, read-only, open from the start of extraction to
  // the end of the stub copy (see BasicExtractHost::open_own_file).
  virtual uint64_t own_file_size() = 0;
  virtual bool read_own_file(uint64_t offset, std::span<uint8_t> out) = 0;
  virtual void close_own_file() = 0;

  // Runs `command` (bytes as the payload holds them) through the command
  // interpreter in the current directory and waits for it to end. Its outcome is
  // not examined.
  virtual void run_command(const char* command) = 0;

  virtual void beep(uint32_t frequency, uint32_t milliseconds) = 0;

  // Shows `text` (caption "Error", OK button) and ends the process with exit
  // code 1. A host that cannot end the process returns; extraction then stops.
  virtual void fatal_stop(const char* text) = 0;

 protected:
  ~ExtractSystem() = default;
};

// The calls that name files, with paths as NUL-terminated texts of Char.
template <class Char>
class BasicExtractHost : public ExtractSystem {
 public:
  // Opens the own file for reading; fails when it cannot be opened.
  virtual bool open_own_file(const Char* path) = 0;

  // Creates (or replaces) the file at `path`, writes `content` block by block
  // (one write per block) and, once the last byte is written, sets its times to
  // the current UTC time. Stops at the first failed or short write, or when a
  // block cannot be read, and closes the file as written so far.
  virtual EntryFileResult write_entry_file(const Char* path, FileContent& content) = 0;

  // Writes the stub copy block by block; false when it cannot be created, a
  // block cannot be read, or it is not written in full.
  virtual bool write_self_copy(const Char* path, FileContent& stub) = 0;

 protected:
  ~BasicExtractHost() = default;
};

// Paths of 8-bit characters: the entry names' bytes are used as they are.
using ExtractHost = BasicExtractHost<char>;

// Paths of UTF-16 code units, as the wide Windows calls take them. The entry
// names stay bytes in the payload: the host converts each to UTF-16 as the
// system's 8-bit file calls would have converted it.
class WideExtractHost : public BasicExtractHost<char16_t> {
 public:
  // Writes `name` converted to UTF-16 into `out`; returns the number of code
  // units written, or 0 when the converted name does not fit `out`.
  virtual size_t convert_entry_name(std::string_view name, std::span<char16_t> out) = 0;

 protected:
  ~WideExtractHost() = default;
};

}  // namespace extractor
