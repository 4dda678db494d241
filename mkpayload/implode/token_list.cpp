// Parses as token lists, for tests and tools: collected from the parsers, counted
// and written as a whole stream.
#include "implode_encoder.h"

namespace implode {

namespace {

void replay(std::span<const Token> tokens, TokenSink& sink) {
  for (const Token& t : tokens) {
    if (t.is_literal())
      sink.literal(static_cast<uint8_t>(t.value));
    else
      sink.match(t.length, t.value);
  }
}

}  // namespace

uint64_t parse_bits(std::span<const Token> tokens, StreamFormat format) {
  BitCounter counter(format);
  replay(tokens, counter);
  return counter.bits();
}

std::vector<uint8_t> write_stream(std::span<const Token> tokens, StreamFormat format) {
  StreamWriter writer(format);
  replay(tokens, writer);
  return writer.finish();
}

namespace {

// Collects a parse.
class TokenCollector final : public TokenSink {
 public:
  void literal(uint8_t byte) override { tokens.push_back({0, byte}); }
  void match(unsigned length, unsigned distance) override {
    tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
  }
  std::vector<Token> tokens;
};

}  // namespace

std::vector<Token> parse_lazy(std::span<const uint8_t> data, StreamFormat format) {
  TokenCollector c;
  parse_lazy(data, format, c);
  return std::move(c.tokens);
}

std::vector<Token> parse_optimal(std::span<const uint8_t> data, StreamFormat format) {
  TokenCollector c;
  parse_optimal(data, format, c);
  return std::move(c.tokens);
}

}  // namespace implode
