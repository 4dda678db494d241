// ExtractHost on the Windows API: the own file through a buffered C stream,
// entry files through CreateFileA (one WriteFile per content block), the stub
// copy through a C stream, commands through the command interpreter.
#pragma once

#include <cstdio>

#include "extract_host.h"

namespace extractor {

class Win32ExtractHost final : public ExtractHost {
 public:
  bool open_own_file(const char* path) override;
  uint64_t own_file_size() override;
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override;
  void close_own_file() override;
  EntryFileResult write_entry_file(const char* path, FileContent& content) override;
  void run_command(const char* command) override;
  bool write_self_copy(const char* path, FileContent& stub) override;
  void beep(uint32_t frequency, uint32_t milliseconds) override;
  [[noreturn]] void fatal_stop(const char* text) override;

 private:
  std::FILE* own_file_ = nullptr;
  uint64_t own_size_ = 0;
};

}  // namespace extractor
