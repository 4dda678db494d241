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

namespace extractor {
namespace {

using common::BasicBoundedText;

bool read_through_host(void* host, uint64_t offset, std::span<uint8_t> out) {
  return static_cast<ExtractSystem*>(host)->read_own_file(offset, out);
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

void beep(ExtractSystem& host, BeepTone tone) { host.beep(tone.frequency, tone.milliseconds); }

template <class Char>
void copy_text(std::span<Char, FAILED_FILE_NAME_CAPACITY> out, std::basic_string_view<Char> text) {
  BasicBoundedText<Char>(out).append(common::leading(text, out.size() - 1));
}

// The text before the content's first NUL, or all of it when it holds none, run
// as a command. False when the text cannot be held in memory.
bool run_command_entry(ExtractSystem& host, std::span<const uint8_t> content) {
  const void* nul = std::memchr(content.data(), 0, content.size());
  const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - content.data()) : content.size();
  HeapBytes command(uint64_t(length) + 1);
  if (!command.ok()) return false;
  if (length) std::memcpy(command.data(), content.data(), length);
  command.data()[length] = 0;
  host.run_command(reinterpret_cast<const char*>(command.data()));
  return true;
}

// An entry name in a path of the host's kind: its bytes as they are, or
// converted to UTF-16 by the host. The text overflows when the name does not fit.
void append_entry_name(common::BoundedText& text, ExtractHost&, std::string_view name) { text.append(name); }

void append_entry_name(common::WideBoundedText& text, WideExtractHost& host, std::string_view name) {
  if (name.empty()) return;  // nothing to convert (and a conversion of nothing fails)
  text.append_from([&](std::span<char16_t> room) { return host.convert_entry_name(name, room); });
}

// The name rules once more on the name as the file system reads it: `path` past
// its first `prefix` characters (the work directory's, which it starts with).
// Bytes are what check_entry_name has judged already; a converted name is judged
// anew.
payload::NameVerdict check_converted_name(std::string_view, size_t) { return payload::NameVerdict::ok; }

payload::NameVerdict check_converted_name(std::u16string_view path, size_t prefix) {
  path.remove_prefix(prefix);
  return payload::check_entry_name(path);
}

// One run of extract_payload: the own file, the payload's reader and what every
// entry shares (the target path's directory part, the copy buffer, the
// decoder's work area). Entries are handled one after another, each in a step
// of its own; a step returns EXTRACT_OK to go on, anything else ends the run
// with that status. Paths are texts of Char, written through a Host of that kind.
template <class Char, class Host>
class Extraction {
 public:
  using Text = BasicBoundedText<Char>;
  using View = std::basic_string_view<Char>;

  Extraction(Host& host, std::span<Char, FAILED_FILE_NAME_CAPACITY> failed_file_name)
      : host_(host), failed_file_name_(failed_file_name), dir_prefix_(dir_prefix_text_) {}
  ~Extraction() { close_own_file(); }
  Extraction(const Extraction&) = delete;
  Extraction& operator=(const Extraction&) = delete;

  int32_t run(const Char* own_path, const Char* target_dir) {
    if (!host_.open_own_file(own_path)) return EXTRACT_CANNOT_OPEN_SELF;
    own_file_open_ = true;
    // The trailer sits at the end of the payload, never found by walking entries.
    payload::PayloadReader reader(read_through_host, &host_, host_.own_file_size());
    if (const payload::ReadStatus status = reader.open(); status != payload::ReadStatus::ok)
      return extract_status(status);
    if (!start_dir_prefix(target_dir)) return EXTRACT_PATH_TOO_LONG;
    // Stored entries and the stub copy pass through this one buffer.
    copy_buffer_ = HeapBytes(COPY_BLOCK_SIZE);
    if (!copy_buffer_.ok()) return EXTRACT_OUT_OF_MEMORY;

    while (!reader.at_end()) {
      payload::EntryView entry;
      if (const payload::ReadStatus status = reader.next(entry); status != payload::ReadStatus::ok)
        return extract_status(status);
      if (const int32_t status = extract_entry(entry); status != EXTRACT_OK) return status;
    }
    return write_self_copy(reader.trailer().payload_offset);
  }

 private:
  // "dir" + "\" unless dir already ends in a backslash.
  bool start_dir_prefix(const Char* dir) {
    const View d(dir);
    dir_prefix_.append(d);
    if (d.empty() || d.back() != Char('\\')) dir_prefix_.append_ascii("\\");
    return dir_prefix_.ok();
  }

  int32_t extract_entry(const payload::EntryView& entry) {
    const bool is_command = entry.name == payload::EXEC_NAME;
    Text target(path_buffer_);
    if (!is_command) {
      target.append(dir_prefix_.view());
      append_entry_name(target, host_, entry.name);
      if (payload::check_entry_name(entry.name) != payload::NameVerdict::ok ||
          (target.ok() && check_converted_name(target.view(), dir_prefix_.size()) != payload::NameVerdict::ok)) {
        refuse_name(target, entry.name);
        return -static_cast<int32_t>(INVALID_NAME_ERROR);
      }
      if (!target.ok()) return EXTRACT_PATH_TOO_LONG;
      if (!entry.header.compressed()) return copy_stored_file(entry, target);
    }
    // A compressed entry and a command are used whole, from memory.
    HeapBytes stored(entry.data_length);
    if (!stored.ok()) return EXTRACT_OUT_OF_MEMORY;
    if (!host_.read_own_file(entry.data_offset, {stored.data(), entry.data_length})) return EXTRACT_PAYLOAD_TRUNCATED;
    std::span<const uint8_t> content(stored.data(), entry.data_length);
    HeapBytes output(0);
    if (entry.header.compressed()) {
      if (const int32_t status = decode(entry, content, output); status != EXTRACT_OK) return status;
      stored = HeapBytes(0);
      content = {output.data(), output_length_};
    }
    if (is_command) return run_command_entry(host_, content) ? EXTRACT_OK : EXTRACT_OUT_OF_MEMORY;
    // One block, so the whole content goes out with one write.
    MemoryContent whole(content);
    return entry_file_status(host_.write_entry_file(target.c_str(), whole), false, target.view());
  }

  // A refused name leaves its target path, or the name alone when the path does
  // not fit, as the failed file's name.
  void refuse_name(const Text& target, std::string_view name) {
    if (target.ok()) {
      copy_text(failed_file_name_, target.view());
      return;
    }
    Text failed(failed_file_name_);
    append_entry_name(failed, host_, common::leading(name, failed_file_name_.size() - 1));
  }

  // A stored file goes from the own file to its target a block at a time.
  int32_t copy_stored_file(const payload::EntryView& entry, const Text& target) {
    OwnFileContent content(host_, entry.data_offset, entry.data_length, copy_block());
    const EntryFileResult result = host_.write_entry_file(target.c_str(), content);
    return entry_file_status(result, content.read_failed(), target.view());
  }

  // Decodes a compressed entry into `output`; its length is left in output_length_.
  int32_t decode(const payload::EntryView& entry, std::span<const uint8_t> stored, HeapBytes& output) {
    // A larger U needs no larger buffer; the overflow test still uses U itself.
    output = HeapBytes(payload::exploded_buffer_size(entry.data_length, entry.header.unpacked_size));
    if (!output.ok()) {
      char message[MESSAGE_CAPACITY];
      host_.fatal_stop(format_allocation_error(message, entry.header.size));
      return EXTRACT_FATAL_STOP;
    }
    explode::ExplodeWork* work = decoder_work();
    if (work == nullptr) return EXTRACT_OUT_OF_MEMORY;
    // The decoder's status is not acted on: the file receives what it produced.
    const ExplodedEntry result = explode_entry(host_, *work, stored, output.data(), entry.header.unpacked_size);
    if (result.stopped) return EXTRACT_FATAL_STOP;
    output_length_ = result.produced;
    return EXTRACT_OK;
  }

  // The status after an entry file was written, with its beeps: a creation error
  // names the file, a failed read of the own file is status 8, a failed or short
  // write beeps low once (status 6), and file times that could not be set beep
  // high without stopping.
  int32_t entry_file_status(const EntryFileResult& result, bool read_failed, View target) {
    if (result.create_error != 0) {
      copy_text(failed_file_name_, target);
      return -static_cast<int32_t>(result.create_error);
    }
    if (read_failed) return EXTRACT_PAYLOAD_TRUNCATED;
    if (!result.written) {
      beep(host_, WRITE_FAILED_BEEP);
      return EXTRACT_WRITE_FAILED;
    }
    if (!result.times_set) beep(host_, TIMES_NOT_SET_BEEP);
    return EXTRACT_OK;
  }

  int32_t write_self_copy(uint32_t stub_size) {
    Text self_path(path_buffer_);
    self_path.append(dir_prefix_.view()).append_ascii(payload::SELF_NAME);
    if (!self_path.ok()) return EXTRACT_PATH_TOO_LONG;
    OwnFileContent stub(host_, 0, stub_size, copy_block());
    const bool written = host_.write_self_copy(self_path.c_str(), stub);
    close_own_file();
    if (stub.read_failed()) return EXTRACT_PAYLOAD_TRUNCATED;
    return written ? EXTRACT_OK : EXTRACT_SELF_COPY_FAILED;
  }

  std::span<uint8_t> copy_block() { return {copy_buffer_.data(), COPY_BLOCK_SIZE}; }

  // One work area serves every compressed entry of the run: the decoder sets
  // what it reads at each call. Allocated with the first compressed entry.
  explode::ExplodeWork* decoder_work() {
    if (!decoder_work_.ok()) decoder_work_ = HeapBytes(sizeof(explode::ExplodeWork));
    return decoder_work_.ok() ? reinterpret_cast<explode::ExplodeWork*>(decoder_work_.data()) : nullptr;
  }

  void close_own_file() {
    if (own_file_open_) host_.close_own_file();
    own_file_open_ = false;
  }

  Host& host_;
  std::span<Char, FAILED_FILE_NAME_CAPACITY> failed_file_name_;
  bool own_file_open_ = false;
  Char dir_prefix_text_[TARGET_PATH_CAPACITY] = {};
  Text dir_prefix_;
  Char path_buffer_[TARGET_PATH_CAPACITY] = {};
  HeapBytes copy_buffer_{HeapBytes::none()};
  HeapBytes decoder_work_{HeapBytes::none()};
  uint32_t output_length_ = 0;
};

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
    char message[MESSAGE_CAPACITY];
    streams->host->fatal_stop(format_overflow_error(message, streams->produced, n, streams->output_capacity));
    streams->stopped = true;
    return;
  }
  std::memcpy(streams->output + streams->output_position, buffer, n);
  streams->output_position += n;
  streams->produced += n;
}

ExplodedEntry explode_entry(ExtractSystem& host, explode::ExplodeWork& work, std::span<const uint8_t> stored,
                            uint8_t* output, uint32_t unpacked_size) {
  EntryStreams streams{stored.data(), output, 0,    0, static_cast<uint32_t>(stored.size()), 0,
                       unpacked_size, &host,  false};
  const explode::ExplodeStatus status =
      explode::explode_stream(entry_read_callback, entry_write_callback, &work, &streams);
  return {status, streams.produced, streams.stopped};
}

int32_t extract_payload(ExtractHost& host, const char* own_path, const char* target_dir,
                        std::span<char, FAILED_FILE_NAME_CAPACITY> failed_file_name) {
  Extraction<char, ExtractHost> extraction(host, failed_file_name);
  return extraction.run(own_path, target_dir);
}

int32_t extract_payload(WideExtractHost& host, const char16_t* own_path, const char16_t* target_dir,
                        std::span<char16_t, FAILED_FILE_NAME_CAPACITY> failed_file_name) {
  Extraction<char16_t, WideExtractHost> extraction(host, failed_file_name);
  return extraction.run(own_path, target_dir);
}

}  // namespace extractor
