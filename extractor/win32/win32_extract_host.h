// ExtractHost on the wide Windows API: the own file and every file written
// through CreateFileW (one WriteFile per content block), commands through the
// command interpreter, entry names converted from the ANSI code page.
#pragma once

#include <windows.h>

#include "extract_host.h"

namespace extractor {

class Win32ExtractHost final : public WideExtractHost {
 public:
  ~Win32ExtractHost() { close_own_file(); }
  bool open_own_file(const char16_t* path) override;
  uint64_t own_file_size() override;
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override;
  void close_own_file() override;
  size_t convert_entry_name(std::string_view name, std::span<char16_t> out) override;
  EntryFileResult write_entry_file(const char16_t* path, FileContent& content) override;
  void run_command(const char* command) override;
  bool write_self_copy(const char16_t* path, FileContent& stub) override;
  void beep(uint32_t frequency, uint32_t milliseconds) override;
  [[noreturn]] void fatal_stop(const char* text) override;

 private:
  HANDLE own_file_ = INVALID_HANDLE_VALUE;
  uint64_t own_size_ = 0;
};

}  // namespace extractor
