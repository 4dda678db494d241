// What extract_payload needs from the operating system. The extractor's Windows
// layer implements it; tests and fuzzers replace it with an in-memory directory.
#pragma once

#include <cstdint>
#include <span>

struct EntryFileResult {
  uint32_t create_error = 0;  // 0, or the system error code of the failed creation
  bool written = false;       // the whole content went out in one write
  bool times_set = false;     // creation, access and write times set to now (UTC)
};

class ExtractHost {
 public:
  // The extractor's own file, read-only, open from the start of extraction to
  // the stub copy. open_own_file fails when the file cannot be opened for reading.
  virtual bool open_own_file(const char* path) = 0;
  virtual uint64_t own_file_size() = 0;
  virtual bool read_own_file(uint64_t offset, std::span<uint8_t> out) = 0;
  virtual void close_own_file() = 0;

  // Creates (or replaces) the file at `path`, writes `content` with one write and
  // sets its times to the current UTC time.
  virtual EntryFileResult write_entry_file(const char* path, std::span<const uint8_t> content) = 0;

  // Runs `command` through the command interpreter in the current directory and
  // waits for it to end. Its outcome is not examined.
  virtual void run_command(const char* command) = 0;

  // Writes the stub copy; false when it cannot be created or written in full.
  virtual bool write_self_copy(const char* path, std::span<const uint8_t> stub) = 0;

  virtual void beep(uint32_t frequency, uint32_t milliseconds) = 0;

  // Shows `text` (caption "Error", OK button) and ends the process with exit
  // code 1. A host that cannot end the process returns; extraction then stops.
  virtual void fatal_stop(const char* text) = 0;

 protected:
  ~ExtractHost() = default;
};
