// A heap byte buffer that reports allocation failure instead of throwing, so the
// extractor can show its own message (it is built without exceptions).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace extractor {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

class HeapBytes {
 public:
  // Allocates `size` bytes (at least one, so an empty entry still gets a buffer).
  explicit HeapBytes(uint64_t size)
      : bytes_(size <= SIZE_MAX ? static_cast<uint8_t*>(std::malloc(size ? static_cast<size_t>(size) : 1)) : nullptr) {}
  // No buffer yet (ok() is false).
  static HeapBytes none() { return HeapBytes(); }
  bool ok() const { return bytes_ != nullptr; }
  uint8_t* data() const { return bytes_.get(); }

 private:
  HeapBytes() = default;
  std::unique_ptr<uint8_t, FreeDeleter> bytes_;
};

}  // namespace extractor
