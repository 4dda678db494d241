// Round-trip fuzz target: the first byte picks literal mode, dictionary size and
// parser; the rest is compressed, checked against the format's limits, decoded,
// and compared. The encoder must be deterministic and the optimal parse never
// larger than the lazy one.
#include <cstdio>
#include <cstdlib>

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
      if (status != EXPLODE_SHORT_INPUT) fuzz::breach("empty input's stream accepted");
      continue;
    }
    if (status != EXPLODE_OK) fuzz::breach("stream does not decode");
    if (!std::equal(s.output.begin(), s.output.end(), input.begin(), input.end())) fuzz::breach("round trip differs");
  }
  if (implode::parse_optimal(input, format).size() != optimal.size()) fuzz::breach("parser not deterministic");
  return 0;
}
