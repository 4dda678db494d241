#include "extract_payload.h"

#include <cstring>
#include <string_view>

#include "bounded_text.h"
#include "entry_name.h"
#include "heap_bytes.h"
#include "own_file_content.h"
#include "payload_layout.h"
#include "payload_reader.h"
#include "status_message.h"

namespace {

bool read_through_host(void* host, uint64_t offset, std::span<uint8_t> out) {
  return static_cast<ExtractHost*>(host)->read_own_file(offset, out);
}

// Keeps the own file open until the stub has been copied, and closes it on every
// early return.
class OwnFile {
 public:
  explicit OwnFile(ExtractHost& host) : host_(host) {}
  ~OwnFile() { close(); }
  void close() {
    if (open_) host_.close_own_file();
    open_ = false;
  }

 private:
  ExtractHost& host_;
  bool open_ = true;
};

// "dir" + "\" unless dir already ends in a backslash.
bool start_path(BoundedText& path, const char* dir) {
  std::string_view d(dir);
  path.append(d);
  if (d.empty() || d.back() != '\\') path.append("\\");
  return path.ok();
}

void copy_text(std::span<char, kFailedFileNameCapacity> out, std::string_view text) {
  BoundedText(out).append(text.substr(0, out.size() - 1));
}

// Runs a command entry: the text before the content's first NUL, or all of it
// when it holds none. False when the text cannot be held in memory.
bool run_command_entry(ExtractHost& host, std::span<const uint8_t> content) {
  const void* nul = std::memchr(content.data(), 0, content.size());
  const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - content.data()) : content.size();
  HeapBytes command(uint64_t(length) + 1);
  if (!command.ok()) return false;
  if (length) std::memcpy(command.data(), content.data(), length);
  command.data()[length] = 0;
  host.run_command(reinterpret_cast<const char*>(command.data()));
  return true;
}

// The status after an entry file was written, with its beeps: a creation error
// names the file, a failed read of the own file is status 8, a failed or short
// write beeps low once (status 6), and file times that could not be set beep high
// without stopping.
int32_t entry_file_status(ExtractHost& host, const EntryFileResult& result, bool read_failed, std::string_view target,
                          std::span<char, kFailedFileNameCapacity> failed_file_name) {
  if (result.create_error != 0) {
    copy_text(failed_file_name, target);
    return -static_cast<int32_t>(result.create_error);
  }
  if (read_failed) return EXTRACT_PAYLOAD_TRUNCATED;
  if (!result.written) {
    host.beep(99, 99);
    return EXTRACT_WRITE_FAILED;
  }
  if (!result.times_set) host.beep(9999, 99);
  return EXTRACT_OK;
}

// The extraction status of what the payload reader found.
int32_t extract_status(payload::ReadStatus status) {
  switch (status) {
    case payload::ReadStatus::ok: return EXTRACT_OK;
    case payload::ReadStatus::no_payload: return EXTRACT_NO_PAYLOAD;
    case payload::ReadStatus::truncated: return EXTRACT_PAYLOAD_TRUNCATED;
    case payload::ReadStatus::malformed: return EXTRACT_ENTRY_MALFORMED;
    case payload::ReadStatus::name_too_long: return EXTRACT_PATH_TOO_LONG;
  }
  return EXTRACT_ENTRY_MALFORMED;
}

}  // namespace

uint32_t entry_read_callback(uint8_t* buffer, uint32_t* size, void* user) {
  auto* streams = static_cast<EntryStreams*>(user);
  if (streams->input_remaining == 0) return 0;
  if (*size > streams->input_remaining) *size = streams->input_remaining;
  std::memcpy(buffer, streams->input + streams->input_position, *size);
  streams->input_position += *size;
  streams->input_remaining -= *size;
  return *size;
}

void entry_write_callback(const uint8_t* buffer, uint32_t* count, void* user) {
  auto* streams = static_cast<EntryStreams*>(user);
  const uint32_t n = *count;
  if (streams->stopped) return;
  // Compared in 64 bits: produced + n must not wrap around past the capacity.
  if (uint64_t(streams->produced) + n > streams->output_capacity) {
    char message[kMessageCapacity];
    streams->host->fatal_stop(format_overflow_error(message, streams->produced, n, streams->output_capacity));
    streams->stopped = true;
    return;
  }
  std::memcpy(streams->output + streams->output_position, buffer, n);
  streams->output_position += n;
  streams->produced += n;
}

int32_t explode_entry(ExtractHost& host, ExplodeWork& work, std::span<const uint8_t> stored, uint8_t* output,
                      uint32_t unpacked_size, uint32_t& produced, bool& stopped) {
  EntryStreams streams{stored.data(), output, 0, 0, static_cast<uint32_t>(stored.size()), 0, unpacked_size, &host, false};
  const int32_t status = explode_stream(entry_read_callback, entry_write_callback, &work, &streams);
  produced = streams.produced;
  stopped = streams.stopped;
  return status;
}

int32_t extract_payload(ExtractHost& host, const char* own_path, const char* target_dir,
                        std::span<char, kFailedFileNameCapacity> failed_file_name) {
  if (!host.open_own_file(own_path)) return EXTRACT_CANNOT_OPEN_SELF;
  OwnFile own_file(host);

  // The trailer sits at the end of the payload, never found by walking entries.
  payload::PayloadReader reader(read_through_host, &host, host.own_file_size());
  if (const payload::ReadStatus status = reader.open(); status != payload::ReadStatus::ok) return extract_status(status);
  const uint32_t stub_size = reader.trailer().payload_offset;

  char dir_prefix_text[kTargetPathCapacity];
  BoundedText dir_prefix(dir_prefix_text);
  if (!start_path(dir_prefix, target_dir)) return EXTRACT_PATH_TOO_LONG;
  char path_buffer[kTargetPathCapacity];

  // Stored entries and the stub copy pass through this one buffer.
  HeapBytes copy_buffer(kCopyBlockSize);
  if (!copy_buffer.ok()) return EXTRACT_OUT_OF_MEMORY;
  const std::span<uint8_t> block_buffer(copy_buffer.data(), kCopyBlockSize);

  while (!reader.at_end()) {
    payload::EntryView entry;
    if (const payload::ReadStatus status = reader.next(entry); status != payload::ReadStatus::ok) return extract_status(status);
    const payload::EntryHeader& header = entry.header;
    const std::string_view entry_name = entry.name;
    const uint32_t data_length = entry.data_length;

    const bool is_command = entry_name == payload::kExecName;
    BoundedText target(path_buffer);
    target.append(dir_prefix.view()).append(entry_name);
    if (!is_command) {
      if (payload::check_entry_name(entry_name) != payload::NameVerdict::ok) {
        copy_text(failed_file_name, target.ok() ? target.view() : entry_name);
        return -static_cast<int32_t>(kErrorInvalidName);
      }
      if (!target.ok()) return EXTRACT_PATH_TOO_LONG;
    }

    if (!header.compressed() && !is_command) {
      // A stored file goes from the own file to its target a block at a time.
      OwnFileContent content(host, entry.data_offset, data_length, block_buffer);
      const EntryFileResult result = host.write_entry_file(target.c_str(), content);
      if (const int32_t status = entry_file_status(host, result, content.read_failed(), target.view(), failed_file_name);
          status != EXTRACT_OK)
        return status;
      continue;
    }

    // A compressed entry and a command are used whole, from memory.
    HeapBytes stored(data_length);
    if (!stored.ok()) return EXTRACT_OUT_OF_MEMORY;
    if (!host.read_own_file(entry.data_offset, {stored.data(), data_length})) return EXTRACT_PAYLOAD_TRUNCATED;

    std::span<const uint8_t> content(stored.data(), data_length);
    HeapBytes output(0);
    if (header.compressed()) {
      // A larger U needs no larger buffer; the overflow test still uses U itself.
      output = HeapBytes(payload::exploded_buffer_size(data_length, header.unpacked_size));
      if (!output.ok()) {
        char message[kMessageCapacity];
        host.fatal_stop(format_allocation_error(message, header.size));
        return EXTRACT_FATAL_STOP;
      }
      HeapBytes work(sizeof(ExplodeWork));
      if (!work.ok()) return EXTRACT_OUT_OF_MEMORY;
      uint32_t produced = 0;
      bool stopped = false;
      // The decoder's status is not acted on: the file receives what it produced.
      explode_entry(host, *reinterpret_cast<ExplodeWork*>(work.data()), content, output.data(), header.unpacked_size,
                    produced, stopped);
      if (stopped) return EXTRACT_FATAL_STOP;
      stored = HeapBytes(0);
      content = {output.data(), produced};
    }

    if (is_command) {
      if (!run_command_entry(host, content)) return EXTRACT_OUT_OF_MEMORY;
      continue;
    }

    // One block, so the whole content goes out with one write.
    MemoryContent whole(content);
    const EntryFileResult result = host.write_entry_file(target.c_str(), whole);
    if (const int32_t status = entry_file_status(host, result, false, target.view(), failed_file_name); status != EXTRACT_OK)
      return status;
  }

  BoundedText self_path(path_buffer);
  self_path.append(dir_prefix.view()).append(payload::kSelfName);
  if (!self_path.ok()) return EXTRACT_PATH_TOO_LONG;
  OwnFileContent stub(host, 0, stub_size, block_buffer);
  const bool self_written = host.write_self_copy(self_path.c_str(), stub);
  own_file.close();
  if (stub.read_failed()) return EXTRACT_PAYLOAD_TRUNCATED;
  if (!self_written) return EXTRACT_SELF_COPY_FAILED;
  return EXTRACT_OK;
}
