#include "installer_builder.h"

#include "entry_name.h"
#include "file_io.h"
#include "payload_format.h"
#include "payload_reader.h"

namespace {

// True when the stub's tail reads as a complete payload.
std::optional<uint32_t> existing_payload_offset(std::span<const uint8_t> stub) {
  payload::PayloadReader reader(read_from_memory, &stub, stub.size());
  if (reader.open() != payload::kReadOk) return std::nullopt;
  payload::EntryView entry;
  while (!reader.at_end())
    if (reader.next(entry) != payload::kReadOk) return std::nullopt;
  return reader.trailer().payload_offset;
}

void append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

}  // namespace

std::optional<std::span<const uint8_t>> usable_stub(std::span<const uint8_t> stub, bool replace_payload, std::string& error) {
  // Any certificate table, not only one at the end: a signing tool would later
  // meet the stale entry inside the finished installer.
  if (payload::security_directory(stub.size(), read_from_memory, &stub)) {
    error = "the stub is signed (its PE security directory names a certificate table); a payload appended to it "
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

std::string entry_name_problem(const std::string& name) {
  if (name == payload::kSelfName) return "is the name of the stub copy, which replaces it at the end of extraction";
  if (name.size() > kMaxEntryNameLength)
    return "is longer than " + std::to_string(kMaxEntryNameLength) + " bytes, the most a work directory path leaves room for";
  if (name.find('\0') != std::string::npos) return "holds a NUL byte";
  if (const auto verdict = payload::check_entry_name(name); verdict != payload::NameVerdict::ok)
    return std::string(payload::describe(verdict));
  return {};
}

std::optional<std::vector<uint8_t>> build_installer(std::span<const uint8_t> stub, std::span<const InputEntry> entries,
                                                    std::vector<BuiltEntry>& built, std::string& error,
                                                    const std::function<void(const InputEntry&)>& on_entry) {
  if (stub.size() == 0 || stub.size() > UINT32_MAX) {
    error = "the stub must hold between 1 byte and 4 GiB";
    return std::nullopt;
  }
  if (entries.size() > INT32_MAX) {
    error = "too many entries";
    return std::nullopt;
  }
  std::vector<uint8_t> out(stub.begin(), stub.end());
  for (const InputEntry& input : entries) {
    const bool command = input.name == payload::kExecName;
    if (!command) {
      if (std::string problem = entry_name_problem(input.name); !problem.empty()) {
        error = "entry name \"" + input.name + "\" " + problem;
        return std::nullopt;
      }
    }
    if (input.content.size() > INT32_MAX) {
      error = input.source + ": larger than an entry can hold (2 GiB - 1)";
      return std::nullopt;
    }
    if (on_entry) on_entry(input);
    std::optional<std::vector<uint8_t>> stream;
    try {
      stream = compress_entry(input.content, input.compression);
    } catch (const CompressionFault& fault) {  // includes a stream that does not decode back
      error = input.source + ": " + fault.what();
      return std::nullopt;
    }
    payload::EntryHeader header;
    header.name_length = static_cast<uint32_t>(input.name.size() + 1);
    header.unpacked_size = static_cast<uint32_t>(input.content.size());
    header.size = stream ? static_cast<int32_t>(stream->size()) : -static_cast<int32_t>(input.content.size());
    append(out, payload::encode_entry_header(header));
    append(out, {reinterpret_cast<const uint8_t*>(input.name.c_str()), input.name.size() + 1});
    append(out, stream ? std::span<const uint8_t>(*stream) : std::span<const uint8_t>(input.content));
    built.push_back({input.name, header.size, header.unpacked_size});
  }
  append(out, payload::kLabelBlock);
  // Signing tools want the file a multiple of 8 bytes long; pad before the trailer.
  out.resize((out.size() + payload::kTrailerSize + 7) / 8 * 8 - payload::kTrailerSize, 0);
  append(out, payload::encode_trailer({static_cast<int32_t>(entries.size()), static_cast<uint32_t>(stub.size())}));
  if (out.size() > INT32_MAX) {
    error = "the installer would be larger than 2 GiB, which the extractor cannot read";
    return std::nullopt;
  }
  return out;
}
