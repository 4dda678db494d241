// mkpayload's file handling: whole-file reads that look at the size first,
// block copies, and an output file that appears only when complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fresh_pages.h"

namespace mkpayload {

// Where an installer's bytes go as they are made.
class ByteSink {
 public:
  virtual bool write(std::span<const uint8_t> bytes) = 0;  // false: `error()` says why
  virtual const std::string& error() const = 0;

 protected:
  ~ByteSink() = default;
};

// A file's bytes, in memory the read is the first to write: not cleared first,
// as a vector's would be (on our machines the first write to fresh memory costs
// several times a copy, so clearing a large input cost as much as reading it),
// and in large pages where it is large (see fresh_bytes()).
using FileBytes = implode::FilledBytes;

// The file's bytes, or nullopt with `error` set. A file larger than `limit` is
// refused before any of it is read.
std::optional<FileBytes> read_file_bytes(const std::filesystem::path& path, std::string& error,
                                         uint64_t limit = UINT64_MAX);
// The same as a vector (small files).
std::optional<std::vector<uint8_t>> read_whole_file(const std::filesystem::path& path, std::string& error,
                                                    uint64_t limit = UINT64_MAX);

// Copies exactly `size` bytes of the file to `out` in blocks; fails when the file
// is not exactly that long any more.
bool copy_file_to(const std::filesystem::path& path, uint64_t size, ByteSink& out, std::string& error);

// An output file written under a temporary name beside `path` (created anew, so
// no existing file or link is written through) and renamed into place by
// commit(). Until then `path` is untouched; without commit() the temporary file
// is removed.
class AtomicOutputFile final : public ByteSink {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile();
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  bool open(const std::filesystem::path& path);
  bool write(std::span<const uint8_t> bytes) override;
  bool commit(bool executable);
  const std::string& error() const override { return error_; }

 private:
  void discard();
  std::filesystem::path path_, temp_;
  std::FILE* file_ = nullptr;
  std::string error_;
};

// Convenience for small outputs (tests, the stub copy of --extract).
bool write_file_atomically(const std::filesystem::path& path, std::span<const uint8_t> bytes, bool executable,
                           std::string& error);

// PayloadReader's ReadAt over bytes in memory (`file` is a std::span<const uint8_t>*).
bool read_from_memory(void* file, uint64_t offset, std::span<uint8_t> out);

}  // namespace mkpayload
