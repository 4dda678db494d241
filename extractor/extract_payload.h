// Unpacks the payload appended to the extractor's own file into the work
// directory: files for ordinary entries, commands for "$EXEC" entries, and the
// stub copy "_SELF" last.
#pragma once

#include <cstdint>
#include <span>

#include "explode.h"
#include "extract_host.h"

// Extraction statuses. Negative values are negated system error codes of an
// entry file that could not be created.
enum ExtractStatus : int32_t {
  EXTRACT_OK = 0,
  EXTRACT_NO_MODULE_PATH = 1,      // the own file's path could not be obtained
  EXTRACT_CANNOT_OPEN_SELF = 2,    // the own file could not be opened for reading
  EXTRACT_NO_PAYLOAD = 3,          // the trailer's payload offset is 0
  EXTRACT_WRITE_FAILED = 6,        // an entry file was not written completely
  EXTRACT_SELF_COPY_FAILED = 7,    // the stub copy "_SELF" could not be created or written
  EXTRACT_PAYLOAD_TRUNCATED = 8,   // the trailer, an entry or the stub lies past the payload's end, or a read failed
  EXTRACT_ENTRY_MALFORMED = 9,     // a name without its NUL, S = INT32_MIN, or a stored U other than -S
  EXTRACT_PATH_TOO_LONG = 10,      // the entry's target path exceeds kTargetPathCapacity
  EXTRACT_OUT_OF_MEMORY = 11,      // a compressed or command entry's stored data, or the copy buffer, could not be allocated
  EXTRACT_FATAL_STOP = 12,         // the host returned from fatal_stop (never seen on Windows)
};

// Windows' "The filename, directory name, or volume label syntax is incorrect."
// An entry name that would leave the work directory is refused with -123.
constexpr uint32_t kErrorInvalidName = 123;

constexpr uint32_t kTargetPathCapacity = 512;    // NUL included
constexpr uint32_t kFailedFileNameCapacity = 1024;

// The record behind the decoder's callbacks.
struct EntryStreams {
  const uint8_t* input;      // the entry's stored bytes, |S| of them
  uint8_t* output;           // the output buffer
  uint32_t input_position;   // bytes handed to the decoder so far
  uint32_t output_position;  // bytes stored in the output buffer so far
  uint32_t input_remaining;  // bytes not yet handed out
  uint32_t produced;         // bytes received from the decoder: the file's length
  uint32_t output_capacity;  // U, the declared unpacked size
  ExtractHost* host;         // for the overflow stop
  bool stopped;              // the host returned from fatal_stop: ignore further output
};

uint32_t entry_read_callback(uint8_t* buffer, uint32_t* size, void* user);
void entry_write_callback(const uint8_t* buffer, uint32_t* count, void* user);

// Decodes one compressed entry into `output`, which must hold
// min(U, payload::max_exploded_size(S)) bytes. Returns the decoder's status.
// `stopped` reports that the output outgrew U and the host returned from fatal_stop.
int32_t explode_entry(ExtractHost& host, ExplodeWork& work, std::span<const uint8_t> stored, uint8_t* output,
                      uint32_t unpacked_size, uint32_t& produced, bool& stopped);

// Extracts every entry of `own_path`'s payload into `target_dir` (which is the
// current directory). On failure to create an entry file, `failed_file_name`
// receives its full path. Stored entries and the stub copy are copied from the
// own file in blocks of kCopyBlockSize; a compressed entry is decoded whole into
// memory and written with one write.
int32_t extract_payload(ExtractHost& host, const char* own_path, const char* target_dir,
                        std::span<char, kFailedFileNameCapacity> failed_file_name);
