#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "fresh_pages.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace mkpayload {
namespace {

constexpr size_t COPY_BLOCK = 1 << 20;

std::string system_reason() { return std::strerror(errno); }

// A regular file's size, or nullopt with `error` set.
std::optional<uint64_t> regular_file_size(const fs::path& path, std::string& error) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    error = ec ? ec.message() : "no such file";
    return std::nullopt;
  }
  if (fs::is_directory(status)) {
    error = "is a directory";
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    error = "is not a regular file";
    return std::nullopt;
  }
  const uint64_t size = fs::file_size(path, ec);
  if (ec) {
    error = ec.message();
    return std::nullopt;
  }
  return size;
}

}  // namespace

std::optional<FileBytes> read_file_bytes(const fs::path& path, std::string& error, uint64_t limit) {
  const auto size = regular_file_size(path, error);
  if (!size) return std::nullopt;
  if (*size > limit) {
    error = "is " + std::to_string(*size) + " bytes, more than the " + std::to_string(limit) + " it may have here";
    return std::nullopt;
  }
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) {
    error = system_reason();
    return std::nullopt;
  }
  // A large input's pages taken in one call (in 2 MiB pages where the system
  // offers them) before the read fills them: a fault per 4 KiB page cost as much
  // as a tenth of a fast-level run, and even taken in one call each page's first
  // write still costs several times its copy (2 MiB pages: 0.3 instead of 4 ms
  // for 4 MiB on our VM).
  const auto n = static_cast<size_t>(*size);
  implode::FreshBytes room = implode::fresh_bytes(n);  // not cleared: see FileBytes
  implode::populate_pages(room.get(), n);
  const size_t got = std::fread(room.get(), 1, n, file);
  const bool longer = std::fgetc(file) != EOF;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || got != n || longer) {
    error = failed ? "read error" : "changed while it was being read";
    return std::nullopt;
  }
  return FileBytes(std::move(room), n);
}

std::optional<std::vector<uint8_t>> read_whole_file(const fs::path& path, std::string& error, uint64_t limit) {
  const auto file = read_file_bytes(path, error, limit);
  if (!file) return std::nullopt;
  return std::vector<uint8_t>(file->bytes().begin(), file->bytes().end());
}

bool copy_file_to(const fs::path& path, uint64_t size, ByteSink& out, std::string& error) {
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) {
    error = system_reason();
    return false;
  }
  // No larger than the file: a fresh block costs a page fault per 4 KiB touched,
  // which for a 1 MiB block is most of a small run's time.
  std::vector<uint8_t> block(static_cast<size_t>(std::clamp<uint64_t>(size, 1, COPY_BLOCK)));
  uint64_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (std::fread(block.data(), 1, want, file) != want) {
      error = std::ferror(file) ? "read error" : "changed while it was being read";
      ok = false;
    } else if (!out.write({block.data(), want})) {
      error = out.error();
      ok = false;
    }
    left -= ok ? want : 0;
  }
  if (ok && std::fgetc(file) != EOF) {
    error = "changed while it was being read";
    ok = false;
  }
  std::fclose(file);
  return ok;
}

AtomicOutputFile::~AtomicOutputFile() { discard(); }

bool AtomicOutputFile::open(const fs::path& path) {
  path_ = path;
  const fs::path dir = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::random_device random;
  for (int attempt = 0; attempt < 16 && file_ == nullptr; ++attempt) {
    temp_ = dir / path_from_utf8("." + utf8_of(path.filename()) + ".tmp" + std::to_string(random()));
    file_ = create_new_file(temp_);
    if (file_ == nullptr && errno != EEXIST) break;
  }
  if (file_ == nullptr) {
    error_ = "cannot create " + utf8_of(temp_) + ": " + system_reason();
    temp_.clear();
    return false;
  }
  return true;
}

bool AtomicOutputFile::write(std::span<const uint8_t> bytes) {
  if (file_ == nullptr) return false;
  if (bytes.empty()) return true;  // an empty span's data() may be null, which fwrite must not get
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    error_ = "cannot write " + utf8_of(temp_) + ": " + system_reason();
    return false;
  }
  return true;
}

bool AtomicOutputFile::commit(bool executable) {
  if (file_ == nullptr) return false;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed) {
    error_ = "cannot write " + utf8_of(temp_) + ": " + system_reason();
    discard();
    return false;
  }
  std::error_code ec;
  if (executable)
    fs::permissions(temp_, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
  fs::rename(temp_, path_, ec);
  if (ec) {
    error_ = "cannot rename " + utf8_of(temp_) + " to " + utf8_of(path_) + ": " + ec.message();
    discard();
    return false;
  }
  temp_.clear();
  return true;
}

void AtomicOutputFile::discard() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (!temp_.empty()) {
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
  }
}

bool write_file_atomically(const fs::path& path, std::span<const uint8_t> bytes, bool executable, std::string& error) {
  AtomicOutputFile out;
  const bool ok = out.open(path) && out.write(bytes) && out.commit(executable);
  if (!ok) error = out.error();
  return ok;
}

bool read_from_memory(void* file, uint64_t offset, std::span<uint8_t> out) {
  const auto& bytes = *static_cast<const std::span<const uint8_t>*>(file);
  if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
  std::memcpy(out.data(), bytes.data() + offset, out.size());
  return true;
}

}  // namespace mkpayload
