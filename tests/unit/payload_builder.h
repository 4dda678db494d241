// Test-side payload writer, written plainly from the format, independent of the
// code under test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct RawEntry {
  std::string name;  // written with a NUL unless raw_name is set
  std::vector<uint8_t> data;
  int64_t size = INT64_MIN;  // S; default -data.size()
  int64_t unpacked = -1;     // U; default data.size()
  int64_t name_length = -1;  // N; default name.size() + 1
  bool raw_name = false;
};

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> raw_installer(const std::vector<uint8_t>& stub, const std::vector<RawEntry>& entries,
                                          std::optional<int32_t> count = {},
                                          std::optional<uint32_t> payload_offset = {}) {
  std::vector<uint8_t> out = stub;
  for (const RawEntry& e : entries) {
    const std::string name = e.raw_name ? e.name : e.name + std::string(1, '\0');
    put32(out, static_cast<uint32_t>(e.name_length >= 0 ? e.name_length : int64_t(name.size())));
    put32(out, static_cast<uint32_t>(e.size != INT64_MIN ? e.size : -int64_t(e.data.size())));
    put32(out, static_cast<uint32_t>(e.unpacked >= 0 ? e.unpacked : int64_t(e.data.size())));
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), e.data.begin(), e.data.end());
  }
  const char label[] = "unknown";
  out.insert(out.end(), label, label + 8);
  put32(out, 8);
  put32(out, static_cast<uint32_t>(count ? *count : int32_t(entries.size())));
  put32(out, payload_offset ? *payload_offset : static_cast<uint32_t>(stub.size()));
  return out;
}

inline std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }
