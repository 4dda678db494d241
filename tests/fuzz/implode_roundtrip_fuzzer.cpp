// Round-trip fuzz target: the first byte picks literal mode, dictionary size and
// parser; the rest is compressed, checked against the format's limits, decoded,
// and compared. The encoder must be deterministic and the optimal parse never
// larger than the lazy one.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "fuzz_protocol.h"
#include "implode_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  const implode::StreamFormat format{(data[0] & 1) ? implode::LiteralCoding::ascii : implode::LiteralCoding::binary,
                                     4u + (data[0] >> 1) % 3};
  const std::span<const uint8_t> input(data + 1, size - 1);
  const auto optimal = implode::parse_optimal(input, format);
  const auto lazy = implode::parse_lazy(input, format);
  if (implode::parse_bits(optimal, format) > implode::parse_bits(lazy, format)) fuzz::breach("optimal beaten by lazy");
  for (const auto* tokens : {&optimal, &lazy}) {
    const auto stream = implode::write_stream(*tokens, format);
    if (stream != implode::write_stream(*tokens, format)) fuzz::breach("writer not deterministic");
    fuzz::Session s;
    s.stream = stream;
    const int32_t status = fuzz::decode_checked(s);
    if (input.empty()) {
      if (status != explode::EXPLODE_SHORT_INPUT) fuzz::breach("empty input's stream accepted");
      continue;
    }
    if (status != explode::EXPLODE_OK) fuzz::breach("stream does not decode");
    if (!std::equal(s.output.begin(), s.output.end(), input.begin(), input.end())) fuzz::breach("round trip differs");
  }
  if (implode::parse_optimal(input, format).size() != optimal.size()) fuzz::breach("parser not deterministic");

  // The fast parse prices every format it serves: each size is that of the
  // tokens it hands on for the format.
  const implode::FastParse fast(input, format.literals, 6);
  for (unsigned i = 0; i < 6; ++i) {
    const implode::StreamFormat f = implode::format_at_index(i);
    implode::BitCounter counter(f);
    fast.emit(f, counter);
    if (counter.bits() != fast.bits(f)) fuzz::breach("fast parse size differs from its tokens");
  }
  // Its stream, written straight from its token list (a format of a narrower
  // window than the parse's turns the matches too far into literals), is the
  // one a StreamWriter writes from the tokens it hands on.
  {
    implode::StreamWriter expected(format);
    fast.emit(format, expected);
    implode::FastParse written(input, format.literals, 6);
    if (written.write_stream(format) != expected.finish()) fuzz::breach("fast stream differs from its tokens' stream");
  }

  // The one-pass search over all six formats: its parse for this format is as
  // small as the single-format one, and its stream decodes.
  std::array<std::unique_ptr<implode::TokenSink>, 6> sinks;
  std::array<implode::TokenSink*, 6> sink_list;
  implode::StreamWriter* writer = nullptr;
  for (unsigned i = 0; i < 6; ++i) {
    const implode::StreamFormat f = implode::format_at_index(i);
    if (f == format) {
      auto w = std::make_unique<implode::StreamWriter>(f);
      writer = w.get();
      sinks[i] = std::move(w);
    } else {
      sinks[i] = std::make_unique<implode::BitCounter>(f);
    }
    sink_list[i] = sinks[i].get();
  }
  const auto bits = implode::parse_optimal_all_formats(input, sink_list);
  if (bits[implode::format_index(format)] != implode::parse_bits(optimal, format))
    fuzz::breach("all-formats size differs");
  const auto stream = writer->finish();
  if (stream.size() != implode::stream_bytes(bits[implode::format_index(format)])) fuzz::breach("stream size differs");
  if (!input.empty()) {
    fuzz::Session s;
    s.stream = stream;
    if (fuzz::decode_checked(s) != explode::EXPLODE_OK) fuzz::breach("all-formats stream does not decode");
    if (!std::equal(s.output.begin(), s.output.end(), input.begin(), input.end()))
      fuzz::breach("all-formats round trip differs");
  }
  return 0;
}
