#include "win32_extract_host.h"

#include "bounded_text.h"
#include "extraction_limits.h"
#include "status_message.h"
#include "wide_text.h"

namespace extractor {

void run_command_interpreter(const char* command);  // command_interpreter.cpp

namespace {

// The sharing that the C runtime's fopen gives its files, so that the own file
// and the stub copy are opened as they always were.
constexpr DWORD STREAM_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool write_all(HANDLE file, std::span<const uint8_t> block) {
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(block.size());
  return WriteFile(file, block.data(), size, &written, nullptr) && written == size;
}

}  // namespace

bool Win32ExtractHost::open_own_file(const char16_t* path) {
  own_file_ =
      CreateFileW(wide(path), GENERIC_READ, STREAM_SHARING, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (own_file_ == INVALID_HANDLE_VALUE) return false;
  // Installers are limited to what a 32-bit stream offset reaches (2 GiB - 1,
  // payload::LARGEST_INSTALLER_SIZE): a larger file's size is taken as 0 and its
  // trailer is not found (status 8).
  DWORD high = 0;
  const DWORD low = GetFileSize(own_file_, &high);
  own_size_ = (high != 0 || low > payload::LARGEST_INSTALLER_SIZE) ? 0 : low;
  return true;
}

uint64_t Win32ExtractHost::own_file_size() { return own_size_; }

bool Win32ExtractHost::read_own_file(uint64_t offset, std::span<uint8_t> out) {
  if (offset > own_size_ || out.size() > own_size_ - offset) return false;
  // Every offset below the size limit fits a LONG, and none is the failure value.
  const DWORD low = static_cast<DWORD>(offset);
  if (SetFilePointer(own_file_, static_cast<LONG>(low), nullptr, FILE_BEGIN) != low) return false;
  size_t done = 0;
  while (done < out.size()) {
    DWORD got = 0;
    if (!ReadFile(own_file_, out.data() + done, static_cast<DWORD>(out.size() - done), &got, nullptr) || got == 0)
      return false;
    done += got;
  }
  return true;
}

void Win32ExtractHost::close_own_file() {
  if (own_file_ != INVALID_HANDLE_VALUE) CloseHandle(own_file_);
  own_file_ = INVALID_HANDLE_VALUE;
}

// The conversion that the 8-bit file calls make: the ANSI code page, no flags.
size_t Win32ExtractHost::convert_entry_name(std::string_view name, std::span<char16_t> out) {
  const int units = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide(out.data()),
                                        static_cast<int>(out.size()));
  return units > 0 ? static_cast<size_t>(units) : 0;
}

EntryFileResult Win32ExtractHost::write_entry_file(const char16_t* path, FileContent& content) {
  EntryFileResult result;
  HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    result.create_error = GetLastError();
    if (result.create_error == 0) result.create_error = ERROR_INVALID_FUNCTION;
    return result;
  }
  result.written =
      write_every_block(content, [file](std::span<const uint8_t> block) { return write_all(file, block); });
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

bool Win32ExtractHost::write_self_copy(const char16_t* path, FileContent& stub) {
  HANDLE file =
      CreateFileW(wide(path), GENERIC_WRITE, STREAM_SHARING, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written =
      write_every_block(stub, [file](std::span<const uint8_t> block) { return write_all(file, block); });
  return CloseHandle(file) && written;
}

void Win32ExtractHost::beep(uint32_t frequency, uint32_t milliseconds) { Beep(frequency, milliseconds); }

void Win32ExtractHost::fatal_stop(const char* text) {
  // The fatal texts are ASCII: each character widens to itself.
  char16_t message[MESSAGE_CAPACITY];
  common::WideBoundedText(message).append_ascii(text);
  show_message(message, FATAL_CAPTION, MB_OK);
  ExitProcess(1);
}

}  // namespace extractor
