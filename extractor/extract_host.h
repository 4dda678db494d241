// What extract_payload needs from the operating system. The extractor's Windows
// layer implements it; tests and fuzzers replace it with an in-memory directory.
#pragma once

#include <cstdint>
#include <span>

#include "file_content.h"

namespace extractor {

struct EntryFileResult {
  uint32_t create_error = 0;  // 0, or the system error code of the failed creation
  bool written = false;       // every block of the content was written in full
  bool times_set = false;     // creation, access and write times set to now (UTC)
};

class ExtractHost {
 public:
  // The extractor's own file, read-only, open from the start of extraction to
  // the end of the stub copy. open_own_file fails when the file cannot be opened
  // for reading.
  virtual bool open_own_file(const char* path) = 0;
  virtual uint64_t own_file_size() = 0;
  virtual bool read_own_file(uint64_t offset, std::span<uint8_t> out) = 0;
  virtual void close_own_file() = 0;

  // Creates (or replaces) the file at `path`, writes `content` block by block
  // (one write per block) and, once the last byte is written, sets its times to
  // the current UTC time. Stops at the first failed or short write, or when a
  // block cannot be read, and closes the file as written so far.
  virtual EntryFileResult write_entry_file(const char* path, FileContent& content) = 0;

  // Runs `command` through the command interpreter in the current directory and
  // waits for it to end. Its outcome is not examined.
  virtual void run_command(const char* command) = 0;

  // Writes the stub copy block by block; false when it cannot be created, a
  // block cannot be read, or it is not written in full.
  virtual bool write_self_copy(const char* path, FileContent& stub) = 0;

  virtual void beep(uint32_t frequency, uint32_t milliseconds) = 0;

  // Shows `text` (caption "Error", OK button) and ends the process with exit
  // code 1. A host that cannot end the process returns; extraction then stops.
  virtual void fatal_stop(const char* text) = 0;

 protected:
  ~ExtractHost() = default;
};

}  // namespace extractor
