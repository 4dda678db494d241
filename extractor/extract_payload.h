// Unpacks the payload appended to the extractor's own file into the work
// directory: files for ordinary entries, commands for "$EXEC" entries, and the
// stub copy "_SELF" last.
#pragma once

#include <cstdint>
#include <span>

#include "explode.h"
#include "extract_host.h"

namespace extractor {

// Extraction statuses. Negative values are negated system error codes of an
// entry file that could not be created.
enum ExtractStatus : int32_t {
  EXTRACT_OK = 0,
  EXTRACT_NO_MODULE_PATH = 1,     // the own file's path could not be obtained
  EXTRACT_CANNOT_OPEN_SELF = 2,   // the own file could not be opened for reading
  EXTRACT_NO_PAYLOAD = 3,         // the trailer's payload offset is 0
  EXTRACT_WRITE_FAILED = 6,       // an entry file was not written completely
  EXTRACT_SELF_COPY_FAILED = 7,   // the stub copy "_SELF" could not be created or written
  EXTRACT_PAYLOAD_TRUNCATED = 8,  // the trailer, an entry or the stub lies past the payload's end, or a read failed
  EXTRACT_ENTRY_MALFORMED = 9,    // a name without its NUL, S = INT32_MIN, or a stored U other than -S
  EXTRACT_PATH_TOO_LONG = 10,     // the entry's target path exceeds TARGET_PATH_CAPACITY
  EXTRACT_OUT_OF_MEMORY =
      11,                   // a compressed or command entry's stored data, or the copy buffer, could not be allocated
  EXTRACT_FATAL_STOP = 12,  // the host returned from fatal_stop (never seen on Windows)
};

// Windows' "The filename, directory name, or volume label syntax is incorrect."
// An entry name that would leave the work directory is refused with -123.
constexpr uint32_t INVALID_NAME_ERROR = 123;

// The sounds of a file that could not be written in full, and of one whose
// times could not be set (extraction goes on after the second).
struct BeepTone {
  uint32_t frequency;
  uint32_t milliseconds;
};
constexpr BeepTone WRITE_FAILED_BEEP{99, 99};
constexpr BeepTone TIMES_NOT_SET_BEEP{9999, 99};

// In characters of the path's own type, NUL included.
constexpr uint32_t TARGET_PATH_CAPACITY = 512;
constexpr uint32_t FAILED_FILE_NAME_CAPACITY = 1024;

// The record behind the decoder's callbacks.
struct EntryStreams {
  const uint8_t* input;      // the entry's stored bytes, |S| of them
  uint8_t* output;           // the output buffer
  uint32_t input_position;   // bytes handed to the decoder so far
  uint32_t output_position;  // bytes stored in the output buffer so far
  uint32_t input_remaining;  // bytes not yet handed out
  uint32_t produced;         // bytes received from the decoder: the file's length
  uint32_t output_capacity;  // U, the declared unpacked size
  ExtractSystem* host;       // for the overflow stop
  bool stopped;              // the host returned from fatal_stop: ignore further output
};

uint32_t entry_read_callback(uint8_t* buffer, uint32_t* size, void* user);
void entry_write_callback(const uint8_t* buffer, uint32_t* count, void* user);

// What decoding one compressed entry gave.
struct ExplodedEntry {
  explode::ExplodeStatus status;  // the decoder's status (not acted on: the file gets what was produced)
  uint32_t produced;              // bytes delivered into the output
  bool stopped;                   // the output outgrew U and the host returned from fatal_stop
};

// Decodes one compressed entry into `output`, which must hold
// min(U, payload::max_exploded_size(S)) bytes.
ExplodedEntry explode_entry(ExtractSystem& host, explode::ExplodeWork& work, std::span<const uint8_t> stored,
                            uint8_t* output, uint32_t unpacked_size);

// Extracts every entry of `own_path`'s payload into `target_dir` (which is the
// current directory). On failure to create an entry file, `failed_file_name`
// receives its full path. Stored entries and the stub copy are copied from the
// own file in blocks of COPY_BLOCK_SIZE; a compressed entry is decoded whole into
// memory and written with one write.
//
// Two forms, alike but for how paths are spelled. With 8-bit paths an entry's
// target path is the target directory and the name's bytes. With UTF-16 paths
// the name is converted by the host; the converted name must pass the name rules
// too (else -123), and the path limits (TARGET_PATH_CAPACITY,
// FAILED_FILE_NAME_CAPACITY) count UTF-16 code units instead of bytes.
int32_t extract_payload(ExtractHost& host, const char* own_path, const char* target_dir,
                        std::span<char, FAILED_FILE_NAME_CAPACITY> failed_file_name);
int32_t extract_payload(WideExtractHost& host, const char16_t* own_path, const char16_t* target_dir,
                        std::span<char16_t, FAILED_FILE_NAME_CAPACITY> failed_file_name);

}  // namespace extractor
