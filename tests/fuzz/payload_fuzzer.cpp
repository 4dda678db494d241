// Whole-installer fuzz target: the input is the installer file (stub, entries,
// label, trailer), run through extract_payload exactly as the extractor runs it,
// over an in-memory host (payload_fuzz_host.h) that checks every call.
//
// Beyond ASan and UBSan it asserts:
//  - the status is one the extractor documents, and agrees with what happened
//    (a beep before status 6, the failed path for a creation error, a stop text
//    for status 12, the stub copy for status 0);
//  - no path outside the work directory, and no unsafe name, reaches the host;
//  - no read of entry data, names or the stub past the end of the file;
//  - no single allocation during extraction is larger than what the file can
//    justify: the stored bytes are at most the file, and a compressed entry's
//    output buffer at most what the file's bytes could decode to. A declared
//    U of 4 GiB behind a 100-byte stream must not be allocated.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstring>

#include "extract_payload.h"
#include "payload_fuzz_host.h"
#include "payload_layout.h"
#include "signed_installer.h"

namespace {

using namespace extractor;

using payload_fuzz::breach;

// Largest single allocation while `tracking` is set (the sanitizer's hooks see
// every malloc and operator new of the process).
volatile bool tracking = false;
volatile size_t largest_allocation = 0;

void on_malloc(const volatile void*, size_t size) {
  if (tracking && size > largest_allocation) largest_allocation = size;
}
void on_free(const volatile void*) {}

// Work area, host bookkeeping (map nodes, name strings, vector growth) and the
// allocator's own rounding stay well below this.
constexpr size_t FIXED_ALLOWANCE = 64 * 1024;

bool read_span(void* f, uint64_t offset, std::span<uint8_t> out) {
  const auto& bytes = *static_cast<std::span<const uint8_t>*>(f);
  if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
  std::memcpy(out.data(), bytes.data() + offset, out.size());
  return true;
}

bool documented(int32_t status, const payload_fuzz::FuzzHost& host) {
  switch (status) {
    case EXTRACT_OK:
    case EXTRACT_CANNOT_OPEN_SELF:
    case EXTRACT_NO_PAYLOAD:
    case EXTRACT_WRITE_FAILED:
    case EXTRACT_SELF_COPY_FAILED:
    case EXTRACT_PAYLOAD_TRUNCATED:
    case EXTRACT_ENTRY_MALFORMED:
    case EXTRACT_PATH_TOO_LONG:
    case EXTRACT_OUT_OF_MEMORY:
    case EXTRACT_FATAL_STOP:
    case -static_cast<int32_t>(INVALID_NAME_ERROR): return true;
    default:
      // Other negative statuses only as negated errors that the host returned.
      return status < 0 && std::count(host.create_errors.begin(), host.create_errors.end(), uint32_t(-status)) > 0;
  }
}

void check_outcome(int32_t status, const payload_fuzz::FuzzHost& host, std::span<const uint8_t> file,
                   const char* failed_file_name) {
  if (!documented(status, host)) breach("undocumented status", std::to_string(status));
  if (host.open) breach("own file left open");
  if (!host.fatal_messages.empty() != (status == EXTRACT_FATAL_STOP)) breach("fatal stop and status 12 disagree");
  if (status == EXTRACT_WRITE_FAILED &&
      (host.beeps.empty() || host.beeps.back() != std::pair<uint32_t, uint32_t>(99, 99)))
    breach("status 6 without the 99 Hz beep");
  if (status < 0 && status != -static_cast<int32_t>(INVALID_NAME_ERROR) && host.last_write != failed_file_name)
    breach("failed file name is not the path that failed", failed_file_name);
  if (status == -static_cast<int32_t>(INVALID_NAME_ERROR) && failed_file_name[0] == 0)
    breach("refused name not recorded");
  if (status == EXTRACT_OK) {
    // The stub copy is exactly the first P bytes, P from the trailer at the end.
    if (!host.self_written || file.size() < payload::TRAILER_SIZE) breach("status 0 without a stub copy");
    const uint32_t p = payload::load_u32(file.data() + file.size() - 4);
    std::span<const uint8_t> bytes = file;
    if (host.self_size != p && !payload::has_certificate_table(file.size(), read_span, &bytes))
      breach("stub copy is not the first P bytes");
  }
  if (status == EXTRACT_NO_PAYLOAD && !host.files.empty()) breach("files written for a file without payload");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const std::span<const uint8_t> file(data, size);
  payload_fuzz::FuzzHost host(file);
  char failed_file_name[FAILED_FILE_NAME_CAPACITY] = {};

  largest_allocation = 0;
  tracking = true;
  const int32_t status = extract_payload(host, "C:\\installer.exe", payload_fuzz::WORK_DIR.data(), failed_file_name);
  tracking = false;

  if (std::memchr(failed_file_name, 0, sizeof failed_file_name) == nullptr) breach("failed file name not terminated");
  check_outcome(status, host, file, failed_file_name);
  const uint64_t bound = payload::max_exploded_size(static_cast<uint32_t>(size)) + FIXED_ALLOWANCE;
  if (largest_allocation > bound)
    breach("allocation larger than the file can justify", std::to_string(largest_allocation));
  return 0;
}
