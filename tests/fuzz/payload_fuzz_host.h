// The payload fuzzer's extractor::ExtractHost: the own file is the fuzz input, the work
// directory an in-memory map. Every call is checked as it happens (reads inside
// the file, paths inside the work directory, sane names); a breach aborts, so
// libFuzzer reports it with the input that caused it.
//
// Some host failures are keyed to entry names, so the fuzzer reaches the
// extractor's failure paths from the file bytes alone:
//   a file in a subdirectory other than "sub\"  -> creation fails, error 3
//   a name beginning with "deny"                -> creation fails, error 5
//   a name beginning with "short"               -> the write comes out short
//   a name beginning with "stale"               -> the file times cannot be set
//   an earlier entry named "_SELF.lock"         -> the stub copy cannot be made
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "entry_name.h"
#include "extract_host.h"
#include "payload_layout.h"

namespace payload_fuzz {

[[noreturn]] inline void breach(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "payload fuzz breach: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// The largest fixed-size read: the PE headers that locate a certificate table.
constexpr size_t LARGEST_PROBE = 26;

constexpr std::string_view WORK_DIR = "C:\\kvntemp\\KVN.5F5E1000";

struct FuzzHost final : extractor::ExtractHost {
  std::span<const uint8_t> file;
  bool open = false;
  std::map<std::string, std::vector<uint8_t>, std::less<>> files;  // remainder below the work dir -> content
  std::vector<uint32_t> create_errors;                             // every error this host handed back
  std::vector<std::pair<uint32_t, uint32_t>> beeps;
  std::vector<std::string> fatal_messages;
  std::string last_write;  // full path of the last write_entry_file call
  bool self_written = false;
  size_t self_size = 0;

  explicit FuzzHost(std::span<const uint8_t> own) : file(own) {}

  bool open_own_file(const char* path) override {
    if (open) breach("own file opened twice");
    if (std::strcmp(path, "C:\\installer.exe") != 0) breach("own file path changed", path);
    return open = true;
  }
  uint64_t own_file_size() override { return file.size(); }
  bool read_own_file(uint64_t offset, std::span<uint8_t> out) override {
    if (!open) breach("read from a closed own file");
    // Entry names, data and the stub are checked against the file before they are
    // read (and before their buffers are allocated): a read past the end may only
    // be a probe of a fixed-size header field, which fails like a short read.
    if (offset > file.size() || out.size() > file.size() - offset) {
      if (out.size() > LARGEST_PROBE) breach("unchecked read past the end of the own file");
      return false;
    }
    std::memcpy(out.data(), file.data() + offset, out.size());
    return true;
  }
  void close_own_file() override {
    if (!open) breach("own file closed twice");
    open = false;
  }

  // The part of `path` below the work directory; a breach when there is none.
  std::string_view below_work_dir(const char* path) const {
    const std::string_view p(path);
    if (p.size() <= WORK_DIR.size() + 1 || p.substr(0, WORK_DIR.size()) != WORK_DIR || p[WORK_DIR.size()] != '\\')
      breach("path outside the work directory", p);
    return p.substr(WORK_DIR.size() + 1);
  }

  extractor::EntryFileResult write_entry_file(const char* path, extractor::FileContent& content) override {
    const std::string_view name = below_work_dir(path);
    if (payload::check_entry_name(name) != payload::NameVerdict::ok)
      breach("unsafe name reached the file system", name);
    if (name == payload::EXEC_NAME) breach("command entry written as a file");
    if (std::strlen(path) >= 512) breach("target path longer than its buffer", name);
    last_write = path;
    if (const size_t slash = name.find_last_of("\\/");
        slash != std::string_view::npos && name.substr(0, slash) != "sub")
      return fail_creation(3);
    if (name.starts_with("deny")) return fail_creation(5);
    auto& stored = files[std::string(name)];
    stored.clear();
    if (!extractor::write_every_block(
            content, [this, &stored](std::span<const uint8_t> block) { return take_block(stored, block); }))
      return {0, false, false};
    if (name.starts_with("short")) {
      stored.resize(stored.size() / 2);
      return {0, false, false};
    }
    return {0, true, !name.starts_with("stale")};
  }

  void run_command(const char* command) override {
    if (std::strlen(command) > file.size()) breach("command longer than the file could carry");
  }

  bool write_self_copy(const char* path, extractor::FileContent& stub) override {
    if (below_work_dir(path) != payload::SELF_NAME) breach("stub copy under another name", path);
    if (!open) breach("stub copy started with the own file closed");
    if (files.count("_SELF.lock")) return false;
    std::vector<uint8_t> copy;
    if (!extractor::write_every_block(
            stub, [this, &copy](std::span<const uint8_t> block) { return take_block(copy, block); }))
      return false;
    if (copy.size() + payload::TRAILER_SIZE > file.size()) breach("stub copy larger than the stub");
    if (std::memcmp(copy.data(), file.data(), copy.size()) != 0) breach("stub copy differs from the file's start");
    self_written = true;
    self_size = copy.size();
    return true;
  }

  void beep(uint32_t frequency, uint32_t milliseconds) override { beeps.emplace_back(frequency, milliseconds); }

  void fatal_stop(const char* text) override {
    const std::string_view t(text);
    if (!t.starts_with("UnCompressed data will overflow buffer (") && !t.starts_with("Memory Allocation Error "))
      breach("unexpected fatal stop text", t);
    fatal_messages.emplace_back(text);
  }

 private:
  // Appends one block of a file being written; content larger than the file
  // could decode to is a breach.
  bool take_block(std::vector<uint8_t>& content, std::span<const uint8_t> block) const {
    if (content.size() + block.size() > payload::max_exploded_size(static_cast<uint32_t>(file.size())))
      breach("content larger than the file could decode to");
    content.insert(content.end(), block.begin(), block.end());
    return true;
  }

  extractor::EntryFileResult fail_creation(uint32_t error) {
    create_errors.push_back(error);
    return {error, false, false};
  }
};

}  // namespace payload_fuzz
