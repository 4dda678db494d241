// Chooses an implode stream for one entry and proves it by decoding it again.
#include "entry_compression.h"

#include <algorithm>
#include <array>
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
  implode::StreamSource* source = nullptr;  // the rest of the stream, as it is written
};

uint32_t read_stream(uint8_t* buffer, uint32_t* size, void* user) {
  auto& c = *static_cast<Comparison*>(user);
  if (c.read_position == c.stream.size() && c.source) {
    c.stream = c.source->next();
    c.read_position = 0;
  }
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

// The stream decodes, through the extractor's own decoder, to exactly `data`;
// from `source` (stream empty) while it is written. The decoder's 12 KB of work
// lie on the stack, whose pages the parse has mostly touched already: from the
// heap they were fresh pages, and a small file's whole run took 0.94 to 0.99 of
// the time without them.
bool decodes_to(std::span<const uint8_t> stream, std::span<const uint8_t> data,
                implode::StreamSource* source = nullptr) {
  Comparison c{data, 0, true, stream, 0, source};
  explode::ExplodeWork work;
  const explode::ExplodeStatus status = explode::explode_stream(read_stream, compare_output, &work, &c);
  return status == explode::EXPLODE_OK && c.equal && c.position == data.size();
}

[[noreturn]] void throw_not_decoded(size_t input_size) {
  throw CompressionFault("implode encoder fault: the stream for a " + std::to_string(input_size) +
                         "-byte input does not decode back to it; refusing to write the entry");
}

}  // namespace

LiteralCoding cheaper_literals(std::span<const uint8_t> data, LiteralMode mode) {
  if (mode != LiteralMode::automatic) return mode == LiteralMode::ascii ? LiteralCoding::ascii : LiteralCoding::binary;
  // Four sums: with one, every add waits on the one before.
  const auto& bits = implode_format::ascii_bits;
  uint64_t a = 0, b = 0, c = 0, d = 0;
  size_t i = 0;
  for (; i + 4 <= data.size(); i += 4) {
    a += bits[data[i]];
    b += bits[data[i + 1]];
    c += bits[data[i + 2]];
    d += bits[data[i + 3]];
  }
  for (; i < data.size(); ++i) a += bits[data[i]];
  const uint64_t ascii = a + b + c + d;
  return ascii + data.size() < 9 * uint64_t{data.size()} ? LiteralCoding::ascii : LiteralCoding::binary;
}

std::optional<EntryStream> compress_entry_stream(std::span<const uint8_t> data, const CompressionOptions& options) {
  if (!options.compress || data.empty()) return std::nullopt;
  if (options.dict_bits != 0 && (options.dict_bits < 4 || options.dict_bits > 6))
    throw CompressionFault("dictionary size bits must be 4, 5 or 6, not " + std::to_string(options.dict_bits));

  // Pick the format by the exact size of each candidate's stream, then write the
  // chosen one. Neither step holds more than the input and the output stream
  // (and the encoder's fixed-size state).
  const std::vector<StreamFormat> formats = allowed_formats(options);
  std::vector<uint8_t> stream;
  if (options.level == CompressionLevel::best) {
    // Input that does not compress (packed already): a quick bound proves that no
    // format's stream would be smaller, which is what the search would find.
    if (implode::optimal_streams_not_smaller(data)) return std::nullopt;
    // One search prices every allowed format and writes one: the one it finds
    // smallest as it goes (see optimal_stream_chosen). Should another turn out
    // smaller at the end, its stream is made by the search for that format alone,
    // which gives exactly that format's parse of the six-format search.
    const size_t split = implode::optimal_split_point(data);
    StreamFormat chosen = formats.front();
    if (formats.size() > 1) {
      unsigned candidates = 0;
      for (StreamFormat f : formats) candidates |= 1u << implode::format_index(f);
      implode::ChosenOptimalStream found = implode::optimal_stream_chosen(data, candidates, split);
      for (StreamFormat f : formats)
        if (found.bits[implode::format_index(f)] < found.bits[implode::format_index(chosen)]) chosen = f;
      if (implode::stream_bytes(found.bits[implode::format_index(chosen)]) >= data.size()) return std::nullopt;
      if (implode::format_index(chosen) == found.written) stream = found.stream->finish();
    }
    if (stream.empty()) {
      implode::StreamWriter writer(chosen);
      writer.reserve(data.size() + 16);
      implode::optimal_stream(data, chosen, writer, split);
      stream = writer.finish();
    }
  } else {
    // Fast: one parse, guided by the literal coding that looks cheaper and the
    // widest allowed window, priced for every allowed format; the smallest is
    // written from its tokens.
    unsigned widest = 4;
    for (StreamFormat f : formats) widest = std::max(widest, f.dict_bits);
    implode::FastParse parse(data, cheaper_literals(data, options.literals), widest);
    StreamFormat chosen = formats.front();
    for (StreamFormat f : formats)
      if (parse.bits(f) < parse.bits(chosen)) chosen = f;
    if (implode::stream_bytes(parse.bits(chosen)) >= data.size()) return std::nullopt;
    // Checked by decoding it as it is written (on another thread where there are threads).
    bool decoded = false;
    implode::StreamBytes written = parse.write_stream_bytes(
        chosen, [&](implode::StreamSource& source) { decoded = decodes_to({}, data, &source); });
    if (!decoded) throw_not_decoded(data.size());
    return EntryStream(std::move(written));
  }
  if (stream.size() >= data.size()) return std::nullopt;
  if (!decodes_to(stream, data)) throw_not_decoded(data.size());
  return EntryStream(std::move(stream));
}

std::optional<std::vector<uint8_t>> compress_entry(std::span<const uint8_t> data, const CompressionOptions& options) {
  const std::optional<EntryStream> stream = compress_entry_stream(data, options);
  if (!stream) return std::nullopt;
  return std::vector<uint8_t>(stream->bytes().begin(), stream->bytes().end());
}

}  // namespace mkpayload
