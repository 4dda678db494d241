// OutputFolder on Windows, by path with the wide-character API: every path is
// converted from UTF-8 and made absolute with the "\\?\" prefix, so any
// Unicode name and any length works and no name is reinterpreted (trailing
// dots, device names, "/" as a separator).
//
// Windows has no *at() calls, so each folder below the output folder is
// checked for a reparse point (symbolic link, junction, mount point) by
// GetFileAttributesW, which looks at the entry itself, right before the path
// through it is used. What remains is the window between that check and the
// use: a process that can write in the output folder at the same time could
// replace a checked folder with a junction, and the write that follows would go
// through it. Files are still written under a temporary name and renamed over
// their name, so a link or hard link at the name itself is replaced, never
// written through.
#include <windows.h>

#include <cstdio>
#include <random>
#include <utility>

#include "output_folder.h"

namespace mkpayload {

namespace {

std::optional<std::wstring> to_wide(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string to_utf8(std::wstring_view text) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), length, nullptr, nullptr);
  return utf8;
}

// The system's text for `code`, without its closing period and line break.
std::string reason(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() &&
         (message.back() == L'\r' || message.back() == L'\n' || message.back() == L'.' || message.back() == L' '))
    message.pop_back();
  return message.empty() ? "the system refused the operation (Windows error " + std::to_string(code) + ")"
                         : to_utf8(message);
}

std::wstring join(const std::wstring& folder, const std::wstring& name) {
  return folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

// `path` made absolute (current folder, "." and ".." applied as typed) with the
// "\\?\" prefix, without a trailing separator except after a drive ("C:\").
std::optional<std::wstring> full_path(const std::wstring& path, std::string& error) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) {
    error = reason(GetLastError());
    return std::nullopt;
  }
  full.resize(length);
  const bool prefixed = full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\");
  if (!prefixed) full = full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  while (full.size() > 4 && full.back() == L'\\' && full[full.size() - 2] != L':') full.pop_back();
  return full;
}

constexpr DWORD MISSING = INVALID_FILE_ATTRIBUTES;

bool is_missing_error(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

// Makes the missing folders of `full` ("\\?\..." form). The prefixes that are
// not folders ("\\?\C:", "\\?\UNC\server") just fail; the last call reports.
bool make_path(const std::wstring& full, std::string& error) {
  for (size_t end = full.find(L'\\', 4); end != std::wstring::npos; end = full.find(L'\\', end + 1))
    CreateDirectoryW(full.substr(0, end).c_str(), nullptr);
  if (!CreateDirectoryW(full.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    error = "cannot be created: " + reason(GetLastError());
    return false;
  }
  return true;
}

// Empty: no entries other than "." and "..". nullopt (with `error`) when unreadable.
std::optional<bool> is_empty(const std::wstring& folder, std::string& error) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(join(folder, L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // not even "." (a drive's root)
    error = "cannot be listed: " + reason(GetLastError());
    return std::nullopt;
  }
  bool empty = true;
  do {
    const std::wstring_view name = found.cFileName;
    if (name != L"." && name != L"..") empty = false;
  } while (empty && FindNextFileW(search, &found));
  FindClose(search);
  return empty;
}

// The path of folders[0]\folders[1]\... below `root`, each checked not to be a
// reparse point and made when missing if `create`. `error` names the component.
std::optional<std::wstring> walk_folders(const std::wstring& root, std::span<const std::string> folders, bool create,
                                         std::string& error) {
  std::wstring path = root;
  std::string where;
  for (const std::string& name : folders) {
    where += (where.empty() ? "" : "/") + name;
    const std::optional<std::wstring> wide = to_wide(name);
    if (!wide) {
      error = where + " is not valid UTF-8";
      return std::nullopt;
    }
    path = join(path, *wide);
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == MISSING && create && is_missing_error(GetLastError())) {
      if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = where + " cannot be created: " + reason(GetLastError());
        return std::nullopt;
      }
      attributes = GetFileAttributesW(path.c_str());
    }
    if (attributes == MISSING) {
      error = where + ": " + reason(GetLastError());
      return std::nullopt;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = where + " is a symbolic link or junction, which is not followed inside the output folder";
      return std::nullopt;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      error = where + " exists and is not a folder";
      return std::nullopt;
    }
  }
  return path;
}

// What the rename may replace at `path`: nothing, or a file (also a hard link or
// a file symbolic link, replaced itself). A folder, or a link or junction to
// one, is refused: renaming over it fails anyway.
bool name_is_replaceable(const std::wstring& path, std::string& error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == MISSING) {
    if (is_missing_error(GetLastError())) return true;
    error = reason(GetLastError());
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = attributes & FILE_ATTRIBUTE_REPARSE_POINT ? "is a symbolic link or junction to a folder" : "is a folder";
    return false;
  }
  return true;
}

}  // namespace

struct OutputFolder::Root {
  std::wstring path;
};

struct OutputFolder::NewFile::State {
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring temp_path;  // removed by the destructor unless empty
  std::wstring path;

  ~State() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!temp_path.empty()) DeleteFileW(temp_path.c_str());
  }
};

OutputFolder::OutputFolder(std::unique_ptr<Root> root) : root_(std::move(root)) {}
OutputFolder::OutputFolder(OutputFolder&&) noexcept = default;
OutputFolder& OutputFolder::operator=(OutputFolder&&) noexcept = default;
OutputFolder::~OutputFolder() = default;

OutputFolder::NewFile::NewFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
OutputFolder::NewFile::NewFile(NewFile&&) noexcept = default;
OutputFolder::NewFile& OutputFolder::NewFile::operator=(NewFile&&) noexcept = default;
OutputFolder::NewFile::~NewFile() = default;

std::optional<OutputFolder> OutputFolder::open(std::string_view path, Existing existing, std::string& error) {
  if (path.empty()) {
    error = "is an empty path";
    return std::nullopt;
  }
  const std::optional<std::wstring> wide = to_wide(path);
  if (!wide) {
    error = "is not valid UTF-8";
    return std::nullopt;
  }
  std::optional<std::wstring> full = full_path(*wide, error);
  if (!full) return std::nullopt;
  DWORD attributes = GetFileAttributesW(full->c_str());
  if (attributes == MISSING && is_missing_error(GetLastError())) {
    if (!make_path(*full, error)) return std::nullopt;
    attributes = GetFileAttributesW(full->c_str());
  }
  if (attributes == MISSING) {
    error = reason(GetLastError());
    return std::nullopt;
  }
  // Links before the last component are the user's choice; the last one could
  // have been planted to send the output elsewhere.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    error = "is a symbolic link or junction (give the folder it points to)";
    return std::nullopt;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = "exists and is not a folder";
    return std::nullopt;
  }
  if (existing == Existing::must_be_empty) {
    const std::optional<bool> empty = is_empty(*full, error);
    if (!empty) return std::nullopt;
    if (!*empty) {
      error = "is not empty (use --force to unpack into it anyway)";
      return std::nullopt;
    }
  }
  return OutputFolder(std::make_unique<Root>(Root{std::move(*full)}));
}

bool OutputFolder::make_folders(std::span<const std::string> folders, std::string& error) {
  return walk_folders(root_->path, folders, true, error).has_value();
}

std::optional<OutputFolder::NewFile> OutputFolder::create_file(std::span<const std::string> folders,
                                                               std::string_view name, std::string& error) {
  const std::optional<std::wstring> folder = walk_folders(root_->path, folders, false, error);
  if (!folder) return std::nullopt;
  const std::optional<std::wstring> wide_name = to_wide(name);
  if (!wide_name) {
    error = "is not valid UTF-8";
    return std::nullopt;
  }
  auto state = std::make_unique<NewFile::State>();
  state->path = join(*folder, *wide_name);
  if (!name_is_replaceable(state->path, error)) return std::nullopt;

  // A fixed-length name, so a long entry name cannot make it too long; random,
  // so it cannot be planted in advance; CREATE_NEW, so it is always a new file.
  std::random_device random;
  DWORD failure = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16 && (failure == ERROR_FILE_EXISTS || failure == ERROR_ALREADY_EXISTS); ++attempt) {
    char temp[40];
    const int length = std::snprintf(temp, sizeof temp, ".mkpayload-%08x%08x.tmp", random(), random());
    const std::wstring temp_path = join(*folder, std::wstring(temp, temp + length));
    state->file = CreateFileW(temp_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state->file != INVALID_HANDLE_VALUE) {
      state->temp_path = temp_path;
      return NewFile(std::move(state));
    }
    failure = GetLastError();
  }
  error = "cannot create a temporary file beside it: " + reason(failure);
  return std::nullopt;
}

bool OutputFolder::NewFile::write(std::span<const uint8_t> block, std::string& error) {
  if (!state_ || state_->file == INVALID_HANDLE_VALUE) {
    error = "is already closed";
    return false;
  }
  while (!block.empty()) {
    const DWORD size = block.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(block.size());
    DWORD written = 0;
    if (!WriteFile(state_->file, block.data(), size, &written, nullptr)) {
      error = "cannot be written: " + reason(GetLastError());
      return false;
    }
    if (written == 0) {
      error = "cannot be written: the system wrote nothing";
      return false;
    }
    block = block.subspan(written);
  }
  return true;
}

bool OutputFolder::NewFile::commit(std::string& error) {
  const std::unique_ptr<State> state = std::move(state_);  // spent either way; its destructor cleans up
  if (!state || state->file == INVALID_HANDLE_VALUE) {
    error = "is already closed";
    return false;
  }
  if (!CloseHandle(std::exchange(state->file, INVALID_HANDLE_VALUE))) {
    error = "cannot be written: " + reason(GetLastError());
    return false;
  }
  if (!name_is_replaceable(state->path, error)) return false;
  if (!MoveFileExW(state->temp_path.c_str(), state->path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    error = "cannot be put in place: " + reason(GetLastError());
    return false;
  }
  state->temp_path.clear();
  return true;
}

}  // namespace mkpayload
