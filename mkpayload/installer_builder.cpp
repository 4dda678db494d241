#include "installer_builder.h"

#include "entry_rules.h"
#include "payload_layout.h"
#include "payload_reader.h"
#include "size_limits.h"

namespace mkpayload {
namespace {

// True when the stub's tail reads as a complete payload.
std::optional<uint32_t> existing_payload_offset(std::span<const uint8_t> stub) {
  payload::PayloadReader reader(read_from_memory, &stub, stub.size());
  if (reader.open() != payload::ReadStatus::ok) return std::nullopt;
  payload::EntryView entry;
  while (!reader.at_end())
    if (reader.next(entry) != payload::ReadStatus::ok) return std::nullopt;
  return reader.trailer().payload_offset;
}

// Counts what goes out and refuses to pass the largest installer the extractor
// can read.
class CountingSink {
 public:
  explicit CountingSink(ByteSink& out) : out_(out) {}
  bool write(std::span<const uint8_t> bytes, std::string& error) {
    if (bytes.size() > MAX_INSTALLER_BYTES - written_) {
      error = "the installer would be larger than " + std::to_string(MAX_INSTALLER_BYTES) +
              " bytes, the most the extractor can read from its own file; split the files into several installers";
      return false;
    }
    if (!out_.write(bytes)) {
      error = out_.error();
      return false;
    }
    written_ += bytes.size();
    return true;
  }
  uint64_t written() const { return written_; }

 private:
  ByteSink& out_;
  uint64_t written_ = 0;
};

// Passes a stored input's blocks through the size count.
class CountedFileCopy final : public ByteSink {
 public:
  explicit CountedFileCopy(CountingSink& out) : out_(out) {}
  bool write(std::span<const uint8_t> bytes) override { return out_.write(bytes, error_); }
  const std::string& error() const override { return error_; }

 private:
  CountingSink& out_;
  std::string error_;
};

std::span<const uint8_t> bytes_of(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

class MemorySink final : public ByteSink {
 public:
  bool write(std::span<const uint8_t> bytes) override {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return true;
  }
  const std::string& error() const override { return error_; }
  std::vector<uint8_t> bytes_;

 private:
  std::string error_;
};

// One entry: header, name, data. Sets `built` on success.
bool write_entry(const InputEntry& input, CountingSink& out, BuiltEntry& built, std::string& error,
                 const std::function<void(const InputEntry&)>& on_entry) {
  const bool command = input.command();
  if (!command) {
    if (std::string problem = file_name_problem(input.shown(), input.name); !problem.empty()) {
      error = "entry name \"" + input.shown() + "\" " + problem;
      return false;
    }
  }
  const uint64_t size = input.size();
  if (size > INT32_MAX) {
    error = input.source + ": is " + std::to_string(size) + " bytes; an entry holds at most " +
            std::to_string(INT32_MAX) + " (2 GiB - 1)";
    return false;
  }
  const bool compress = input.compression.compress && size > 0;
  if (compress && size > MAX_COMPRESSED_UNPACKED_BYTES) {
    error = input.source + ": " + compressed_too_large(size);
    return false;
  }

  std::optional<FileBytes> loaded;
  std::span<const uint8_t> content = input.content;
  if (input.file && compress) {
    loaded = read_file_bytes(*input.file, error, MAX_COMPRESSED_UNPACKED_BYTES);
    if (!loaded) {
      error = input.source + ": " + error;
      return false;
    }
    if (loaded->bytes().size() != size) {
      error = input.source + ": changed while the installer was being built";
      return false;
    }
    content = loaded->bytes();
  }
  if (on_entry) on_entry(input);
  std::optional<EntryStream> stream;
  if (compress) {
    try {
      stream = compress_entry_stream(content, input.compression);
    } catch (const CompressionFault& fault) {  // includes a stream that does not decode back
      error = input.source + ": " + fault.what();
      return false;
    }
  }
  payload::EntryHeader header;
  header.name_length = static_cast<uint32_t>(input.name.size() + 1);
  header.unpacked_size = static_cast<uint32_t>(size);
  header.size = stream ? static_cast<int32_t>(stream->bytes().size()) : -static_cast<int32_t>(size);
  const std::string name_with_nul = input.name + '\0';
  if (!out.write(payload::encode_entry_header(header), error) || !out.write(bytes_of(name_with_nul), error))
    return false;
  if (stream) {
    if (!out.write(stream->bytes(), error)) return false;
  } else if (input.file && !loaded) {
    CountedFileCopy copy(out);
    if (!copy_file_to(*input.file, size, copy, error)) {
      error = input.source + ": " + error;
      return false;
    }
  } else if (!out.write(content, error)) {
    return false;
  }
  built = {command ? input.name : input.shown(), header.size, header.unpacked_size};
  return true;
}

}  // namespace

bool InputEntry::command() const { return name == payload::EXEC_NAME; }

std::optional<std::span<const uint8_t>> usable_stub(std::span<const uint8_t> stub, bool replace_payload,
                                                    std::string& error) {
  // Any certificate table, not only one at the end: a signing tool would later
  // meet the stale entry inside the finished installer.
  if (payload::security_directory(stub.size(), read_from_memory, &stub)) {
    error =
        "the stub is signed (its PE security directory names a certificate table); a payload appended to it "
        "would break the signature. Build from the unsigned stub, then sign the finished installer";
    return std::nullopt;
  }
  if (auto offset = existing_payload_offset(stub)) {
    if (!replace_payload) {
      error = "the stub already carries a payload (use --replace-payload to build from its stub part)";
      return std::nullopt;
    }
    return stub.first(*offset);
  }
  return stub;
}

bool build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries, ByteSink& sink,
                     std::vector<BuiltEntry>& built, std::string& error,
                     const std::function<void(const InputEntry&)>& on_entry) {
  if (stub.empty()) {
    error = "the stub is empty";
    return false;
  }
  if (entries.size() > INT32_MAX) {
    error = "too many entries";
    return false;
  }
  CountingSink out(sink);
  if (!out.write(stub, error)) return false;
  for (const InputEntry& input : entries) {
    BuiltEntry entry;
    if (!write_entry(input, out, entry, error, on_entry)) return false;
    built.push_back(std::move(entry));
  }
  // Signing tools want the file a multiple of 8 bytes long; pad before the trailer.
  const uint64_t unpadded = out.written() + payload::LABEL_BLOCK.size() + payload::TRAILER_SIZE;
  const std::vector<uint8_t> padding(static_cast<size_t>((8 - unpadded % 8) % 8), 0);
  return out.write(payload::LABEL_BLOCK, error) && out.write(padding, error) &&
         out.write(payload::encode_trailer({static_cast<int32_t>(entries.size()), static_cast<uint32_t>(stub.size())}),
                   error);
}

std::optional<std::vector<uint8_t>> build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries,
                                                    std::vector<BuiltEntry>& built, std::string& error,
                                                    const std::function<void(const InputEntry&)>& on_entry) {
  MemorySink sink;
  if (!build_installer(stub, entries, sink, built, error, on_entry)) return std::nullopt;
  return std::move(sink.bytes_);
}

}  // namespace mkpayload
