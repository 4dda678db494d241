// Chooses an implode stream for one entry and proves it by decoding it again.
#include "entry_compression.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>

#include "explode.h"
#include "implode_encoder.h"

namespace mkpayload {

namespace {

using implode::LiteralCoding;
using implode::StreamFormat;

std::vector<StreamFormat> allowed_formats(const CompressionOptions& options) {
  std::vector<LiteralCoding> literals;
  if (options.literals != LiteralMode::ascii) literals.push_back(LiteralCoding::binary);
  if (options.literals != LiteralMode::binary) literals.push_back(LiteralCoding::ascii);
  std::vector<unsigned> dicts;
  if (options.dict_bits == 0)
    dicts = {4, 5, 6};
  else
    dicts = {static_cast<unsigned>(options.dict_bits)};
  std::vector<StreamFormat> formats;
  for (LiteralCoding l : literals)
    for (unsigned k : dicts) formats.push_back({l, k});
  return formats;
}

struct Comparison {
  std::span<const uint8_t> expected;
  size_t position = 0;
  bool equal = true;
  std::span<const uint8_t> stream;
  size_t read_position = 0;
};

uint32_t read_stream(uint8_t* buffer, uint32_t* size, void* user) {
  auto& c = *static_cast<Comparison*>(user);
  const size_t n = std::min<size_t>(*size, c.stream.size() - c.read_position);
  std::copy_n(c.stream.begin() + static_cast<std::ptrdiff_t>(c.read_position), n, buffer);
  c.read_position += n;
  return static_cast<uint32_t>(n);
}

void compare_output(const uint8_t* buffer, uint32_t* count, void* user) {
  auto& c = *static_cast<Comparison*>(user);
  if (*count > c.expected.size() - c.position ||
      !std::equal(buffer, buffer + *count, c.expected.begin() + static_cast<std::ptrdiff_t>(c.position))) {
    c.equal = false;
    c.position = c.expected.size();
    return;
  }
  c.position += *count;
}

// The stream decodes, through the extractor's own decoder, to exactly `data`.
bool decodes_to(std::span<const uint8_t> stream, std::span<const uint8_t> data) {
  Comparison c{data, 0, true, stream, 0};
  auto work = std::make_unique<explode::ExplodeWork>();
  const explode::ExplodeStatus status = explode::explode_stream(read_stream, compare_output, work.get(), &c);
  return status == explode::EXPLODE_OK && c.equal && c.position == data.size();
}

}  // namespace

std::optional<std::vector<uint8_t>> compress_entry(std::span<const uint8_t> data, const CompressionOptions& options) {
  if (!options.compress || data.empty()) return std::nullopt;
  if (options.dict_bits != 0 && (options.dict_bits < 4 || options.dict_bits > 6))
    throw CompressionFault("dictionary size bits must be 4, 5 or 6, not " + std::to_string(options.dict_bits));

  // Pick the format by the exact size of each candidate's stream, then write the
  // chosen one. Neither step holds more than the input and the output stream
  // (and the encoder's fixed-size state).
  const std::vector<StreamFormat> formats = allowed_formats(options);
  std::vector<uint8_t> stream;
  if (options.level == CompressionLevel::best && formats.size() > 1) {
    // One pass makes the optimal parse of every format; the allowed ones are
    // written out, the others only counted.
    std::array<std::unique_ptr<implode::TokenSink>, 6> sinks;
    std::array<implode::StreamWriter*, 6> writers{};
    std::array<implode::TokenSink*, 6> sink_list{};
    for (unsigned i = 0; i < 6; ++i) {
      const StreamFormat f = implode::format_at_index(i);
      if (std::find(formats.begin(), formats.end(), f) != formats.end()) {
        auto writer = std::make_unique<implode::StreamWriter>(f);
        writers[i] = writer.get();
        sinks[i] = std::move(writer);
      } else {
        sinks[i] = std::make_unique<implode::BitCounter>(f);
      }
      sink_list[i] = sinks[i].get();
    }
    const std::array<uint64_t, 6> bits = implode::parse_optimal_all_formats(data, sink_list);
    unsigned chosen = 6;
    for (unsigned i = 0; i < 6; ++i)
      if (writers[i] && (chosen == 6 || bits[i] < bits[chosen])) chosen = i;
    stream = writers[chosen]->finish();
  } else if (options.level == CompressionLevel::best) {
    implode::StreamWriter writer(formats.front());
    implode::parse_optimal(data, formats.front(), writer);
    stream = writer.finish();
  } else {
    // Fast: count each allowed format's lazy parse, write the smallest.
    StreamFormat chosen = formats.front();
    uint64_t least = UINT64_MAX;
    if (formats.size() > 1) {
      for (StreamFormat f : formats) {
        implode::BitCounter counter(f);
        implode::parse_lazy(data, f, counter);
        if (counter.bits() < least) {
          least = counter.bits();
          chosen = f;
        }
      }
      if (implode::stream_bytes(least) >= data.size()) return std::nullopt;
    }
    implode::StreamWriter writer(chosen);
    implode::parse_lazy(data, chosen, writer);
    stream = writer.finish();
  }
  if (stream.size() >= data.size()) return std::nullopt;
  if (!decodes_to(stream, data))
    throw CompressionFault("implode encoder fault: the stream for a " + std::to_string(data.size()) +
                           "-byte input does not decode back to it; refusing to write the entry");
  return stream;
}

}  // namespace mkpayload
