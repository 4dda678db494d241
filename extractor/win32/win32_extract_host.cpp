#include "win32_extract_host.h"

#include <windows.h>

#include <climits>

#include "extraction_limits.h"
#include "status_message.h"

namespace extractor {

static_assert(payload::LARGEST_INSTALLER_SIZE <= LONG_MAX, "every offset of the own file must fit a stream offset");

void run_command_interpreter(const char* command);  // command_interpreter.cpp

bool Win32ExtractHost::open_own_file(const char* path) {
  own_file_ = std::fopen(path, "rb");
  if (own_file_ == nullptr) return false;
  // Installers are limited to what a 32-bit stream offset reaches (2 GiB - 1,
  // payload::LARGEST_INSTALLER_SIZE): a larger file's ftell fails, its size is
  // taken as 0 and the trailer is not found (status 8).
  long size = -1;
  if (std::fseek(own_file_, 0, SEEK_END) == 0) size = std::ftell(own_file_);
  own_size_ = size < 0 ? 0 : static_cast<uint64_t>(size);
  return true;
}

uint64_t Win32ExtractHost::own_file_size() { return own_size_; }

bool Win32ExtractHost::read_own_file(uint64_t offset, std::span<uint8_t> out) {
  if (offset > own_size_ || out.size() > own_size_ - offset) return false;
  if (std::fseek(own_file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(out.data(), 1, out.size(), own_file_) == out.size();
}

void Win32ExtractHost::close_own_file() {
  if (own_file_ != nullptr) std::fclose(own_file_);
  own_file_ = nullptr;
}

EntryFileResult Win32ExtractHost::write_entry_file(const char* path, FileContent& content) {
  EntryFileResult result;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.create_error = GetLastError();
    if (result.create_error == 0) result.create_error = ERROR_INVALID_FUNCTION;
    return result;
  }
  result.written = write_every_block(content, [file](std::span<const uint8_t> block) {
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(block.size());
    return WriteFile(file, block.data(), size, &written, nullptr) && written == size;
  });
  if (result.written) {
    SYSTEMTIME now;
    FILETIME time;
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &time);
    result.times_set = SetFileTime(file, &time, &time, &time) != 0;
  }
  CloseHandle(file);
  return result;
}

void Win32ExtractHost::run_command(const char* command) { run_command_interpreter(command); }

bool Win32ExtractHost::write_self_copy(const char* path, FileContent& stub) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool written = write_every_block(stub, [file](std::span<const uint8_t> block) {
    return std::fwrite(block.data(), 1, block.size(), file) == block.size();
  });
  return std::fclose(file) == 0 && written;
}

void Win32ExtractHost::beep(uint32_t frequency, uint32_t milliseconds) { Beep(frequency, milliseconds); }

void Win32ExtractHost::fatal_stop(const char* text) {
  MessageBoxA(nullptr, text, FATAL_CAPTION, MB_OK);
  ExitProcess(1);
}

}  // namespace extractor
