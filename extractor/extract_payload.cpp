#include "extract_payload.h"

#include <cstring>
#include <string_view>

#include "bounded_text.h"
#include "entry_name.h"
#include "heap_bytes.h"
#include "payload_format.h"
#include "payload_reader.h"
#include "status_message.h"

namespace {

bool read_through_host(void* host, uint64_t offset, std::span<uint8_t> out) {
  return static_cast<ExtractHost*>(host)->read_own_file(offset, out);
}

// Keeps the own file open until the stub has been read, and closes it on every
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
  if (const int32_t status = reader.open(); status != payload::kReadOk) return status;
  const uint32_t stub_size = reader.trailer().payload_offset;

  char dir_prefix_text[kTargetPathCapacity];
  BoundedText dir_prefix(dir_prefix_text);
  if (!start_path(dir_prefix, target_dir)) return EXTRACT_PATH_TOO_LONG;
  char path_buffer[kTargetPathCapacity];

  while (!reader.at_end()) {
    payload::EntryView entry;
    if (const int32_t status = reader.next(entry); status != payload::kReadOk) return status;
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

    const EntryFileResult result = host.write_entry_file(target.c_str(), content);
    if (result.create_error != 0) {
      copy_text(failed_file_name, target.view());
      return -static_cast<int32_t>(result.create_error);
    }
    if (!result.written) {
      host.beep(99, 99);
      return EXTRACT_WRITE_FAILED;
    }
    if (!result.times_set) host.beep(9999, 99);
  }

  HeapBytes stub(stub_size);
  if (!stub.ok()) return EXTRACT_OUT_OF_MEMORY;
  if (!host.read_own_file(0, {stub.data(), stub_size})) return EXTRACT_PAYLOAD_TRUNCATED;
  own_file.close();

  BoundedText self_path(path_buffer);
  self_path.append(dir_prefix.view()).append(payload::kSelfName);
  if (!self_path.ok()) return EXTRACT_PATH_TOO_LONG;
  if (!host.write_self_copy(self_path.c_str(), {stub.data(), stub_size})) return EXTRACT_SELF_COPY_FAILED;
  return EXTRACT_OK;
}
