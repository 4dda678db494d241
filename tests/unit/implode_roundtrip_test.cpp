// Round trips through the encoder and the decoder: every literal mode, every
// dictionary size, both parsers, on real files and generated data, at sizes around
// the 4096-byte output block and the 518-byte match limit. Streams are decoded by
// the decoder and by the test-side reference decoder, which must agree on every
// callback call.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "entry_compression.h"
#include "explode_reference.h"
#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace implode_test;
using implode::LiteralCoding;
using implode::StreamFormat;
using namespace explode;
using namespace mkpayload;

std::vector<StreamFormat> all_formats() {
  std::vector<StreamFormat> formats;
  for (unsigned i = 0; i < implode::STREAM_FORMATS; ++i) formats.push_back(implode::format_at_index(i));
  return formats;
}

// Checks every token against the format's limits and that the parse covers `data`.
void expect_valid_parse(const Bytes& data, const std::vector<implode::Token>& tokens, StreamFormat f) {
  size_t pos = 0;
  for (const auto& t : tokens) {
    if (t.is_literal()) {
      ASSERT_LT(pos, data.size());
      ASSERT_EQ(t.value, data[pos]);
      ++pos;
      continue;
    }
    ASSERT_TRUE(implode::match_allowed(f, t.length, t.value)) << t.length << "@" << t.value;
    ASSERT_LE(t.value, pos) << "match before the start of the input";
    ASSERT_LE(pos + t.length, data.size());
    for (unsigned i = 0; i < t.length; ++i) ASSERT_EQ(data[pos + i], data[pos + i - t.value]);
    pos += t.length;
  }
  ASSERT_EQ(pos, data.size());
}

void round_trip(const Bytes& data, StreamFormat f, bool optimal, bool with_reference = true) {
  SCOPED_TRACE(testing::Message() << "size " << data.size() << " mode " << int(f.literals) << " k " << f.dict_bits
                                  << (optimal ? " optimal" : " lazy"));
  const auto tokens = optimal ? implode::parse_optimal(data, f) : implode::parse_lazy(data, f);
  expect_valid_parse(data, tokens, f);
  const Bytes stream = implode::write_stream(tokens, f);
  EXPECT_EQ(stream.size(), implode::stream_bytes(implode::parse_bits(tokens, f)));
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(stream[0], static_cast<uint8_t>(f.literals));
  EXPECT_EQ(stream[1], f.dict_bits);
  const auto real = explode_test::run_real(stream);
  if (stream.size() <= 4) {  // only an empty input makes so short a stream
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(real.status, EXPLODE_SHORT_INPUT);
    return;
  }
  EXPECT_EQ(real.status, EXPLODE_OK);
  EXPECT_TRUE(real.output == data);
  if (with_reference) {
    EXPECT_TRUE(real == explode_test::run_reference(stream));
  }
  // Chunked reads give the same output.
  EXPECT_TRUE(explode_test::run_real(stream, {7, 1, 300, 2048, 13}).output == data);
}

TEST(ImplodeRoundTrip, GeneratedDataEveryFormatBothParsers) {
  const std::vector<Bytes> inputs = {
      Bytes(1, 'a'),   Bytes(2, 0),           Bytes(3, 0xFF),           Bytes(1000, 0),
      Bytes(20000, 0), random_bytes(3000, 1), random_bytes(5000, 2, 4), generated_text(9000, 3),
  };
  for (const auto& data : inputs) {
    for (auto f : all_formats()) {
      for (bool optimal : {false, true}) round_trip(data, f, optimal);
    }
  }
}

TEST(ImplodeRoundTrip, SizesAroundTheOutputBlockAndTheMatchLimit) {
  for (size_t n : {517, 518, 519, 520, 1035, 1036, 1037, 4095, 4096, 4097, 8191, 8192, 8193, 8709, 12288}) {
    for (auto f : {StreamFormat{LiteralCoding::binary, 6}, StreamFormat{LiteralCoding::ascii, 4}}) {
      round_trip(Bytes(n, 'z'), f, true, false);
      round_trip(generated_text(n, static_cast<uint32_t>(n)), f, true, false);
      round_trip(random_bytes(n, static_cast<uint32_t>(n), 3), f, false, false);
    }
  }
}

TEST(ImplodeRoundTrip, RealFilesEveryFormat) {
  const std::vector<std::pair<const char*, std::optional<Bytes>>> files = {
      {"windows dll", windows_dll(160 * 1024)},
      {"java archive", java_archive(96 * 1024)},
      {"english text", english_text(64 * 1024)},
  };
  bool any = false;
  for (const auto& [name, data] : files) {
    if (!data) continue;
    any = true;
    SCOPED_TRACE(name);
    for (auto f : all_formats())
      for (bool optimal : {false, true}) round_trip(*data, f, optimal, false);
  }
  if (!any) GTEST_SKIP() << "no Windows DLL, Java archive or licence text on this machine";
}

TEST(ImplodeRoundTrip, MatchesNeverReachPastTheirLimits) {
  // Data repeating at 2000 bytes: only k = 5 and 6 (2048 and 4096 bytes) reach it.
  Bytes data = random_bytes(2000, 9);
  const Bytes copy = data;
  data.insert(data.end(), copy.begin(), copy.end());
  for (auto f : all_formats())
    for (bool optimal : {false, true}) {
      const auto tokens = optimal ? implode::parse_optimal(data, f) : implode::parse_lazy(data, f);
      expect_valid_parse(data, tokens, f);
      size_t matched = 0;
      for (const auto& t : tokens) matched += t.length;
      if (f.dict_bits >= 5) {
        EXPECT_GT(matched, 1900u);  // the second half is one long repeat
      } else {
        EXPECT_LT(matched, 200u);  // nothing to find inside 1024 bytes
      }
    }
}

// ---- compress_entry ------------------------------------------------------

Bytes decode_all(const Bytes& stream) {
  const auto r = explode_test::run_real(stream);
  EXPECT_EQ(r.status, EXPLODE_OK);
  return r.output;
}

TEST(CompressEntry, EmptyOrIncompressibleInputIsStored) {
  EXPECT_FALSE(compress_entry({}, {}).has_value());
  EXPECT_FALSE(compress_entry(random_bytes(4000, 5), {}).has_value());
  EXPECT_FALSE(compress_entry(Bytes{'a'}, {}).has_value());
  CompressionOptions off;
  off.compress = false;
  EXPECT_FALSE(compress_entry(Bytes(5000, 0), off).has_value());
}

TEST(CompressEntry, ForcedModeAndDictionaryAreObeyed) {
  const Bytes data = generated_text(20000, 4);
  for (auto literals : {LiteralMode::binary, LiteralMode::ascii})
    for (int k : {4, 5, 6})
      for (auto level : {CompressionLevel::fast, CompressionLevel::best}) {
        const auto stream = compress_entry(data, {true, literals, k, level});
        ASSERT_TRUE(stream.has_value());
        EXPECT_EQ((*stream)[0], literals == LiteralMode::ascii ? 1 : 0);
        EXPECT_EQ((*stream)[1], k);
        EXPECT_TRUE(decode_all(*stream) == data);
        EXPECT_LT(stream->size(), data.size());
      }
}

TEST(CompressEntry, AutomaticChoiceIsTheSmallestOfAllFormats) {
  for (const Bytes& data : {generated_text(30000, 6), random_bytes(30000, 7, 16)}) {
    const auto chosen = compress_entry(data, {});
    ASSERT_TRUE(chosen.has_value());
    for (auto literals : {LiteralMode::binary, LiteralMode::ascii})
      for (int k : {4, 5, 6}) {
        const auto forced = compress_entry(data, {true, literals, k, CompressionLevel::best});
        ASSERT_TRUE(forced.has_value());
        EXPECT_LE(chosen->size(), forced->size());
      }
    // Text favours ASCII literals; 16 random symbols favour binary ones.
    EXPECT_TRUE(decode_all(*chosen) == data);
  }
  EXPECT_EQ((*compress_entry(generated_text(30000, 6), {}))[0], 1);
  EXPECT_EQ((*compress_entry(random_bytes(30000, 7, 16), {}))[0], 0);
}

TEST(CompressEntry, BestLevelIsNeverLargerThanFastLevel) {
  for (const Bytes& data : {generated_text(40000, 8), random_bytes(40000, 9, 5)}) {
    const auto fast = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::fast});
    const auto best = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::best});
    ASSERT_TRUE(fast && best);
    EXPECT_LE(best->size(), fast->size());
  }
}

TEST(CompressEntry, BadDictionaryOptionIsRefused) {
  EXPECT_THROW(compress_entry(Bytes(100, 0), {true, LiteralMode::automatic, 7, CompressionLevel::best}),
               CompressionFault);
}

}  // namespace

// ---- the fast level's single parse -----------------------------------------

// Collects a parse as the stream writer gets it.
class Collector final : public implode::TokenSink {
 public:
  void literal(uint8_t byte) override { tokens.push_back({0, byte}); }
  void match(unsigned length, unsigned distance) override {
    tokens.push_back({static_cast<uint16_t>(length), static_cast<uint16_t>(distance)});
  }
  std::vector<implode::Token> tokens;
};

// One pass prices every format it serves: each size is exactly the bits of the
// tokens it hands on for that format, and those are a valid parse that decodes
// back (matches too far for a smaller window become literals there).
TEST(FastParse, EachFormatSizeIsThatOfItsOwnTokens) {
  Bytes far_repeats = random_bytes(3000, 71, 64);  // repeats at 3000 and 1500 bytes: beyond k = 4 and 5
  const Bytes head(far_repeats.begin(), far_repeats.begin() + 1500);
  far_repeats.insert(far_repeats.end(), far_repeats.begin(), far_repeats.end());
  far_repeats.insert(far_repeats.end(), head.begin(), head.end());
  far_repeats.insert(far_repeats.end(), head.begin(), head.end());
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"text", generated_text(60000, 72)}, {"PE-like image", pe_like_image(80000, 73)},
      {"far repeats", far_repeats},        {"runs and symbols", random_bytes(30000, 74, 3)},
      {"a long run", Bytes(5000, 'r')},
  };
  for (const auto& [name, data] : inputs) {
    for (auto guide : {LiteralCoding::binary, LiteralCoding::ascii}) {
      for (unsigned widest : {5u, 6u}) {
        SCOPED_TRACE(testing::Message() << name << " guide " << int(guide) << " k " << widest);
        // Whole, and in halves split in the middle and within the first window
        // (the way inputs of MIN_SPLIT_INPUT or more are parsed).
        for (size_t split : {size_t{0}, data.size() / 2, size_t{1000}}) {
          SCOPED_TRACE(testing::Message() << "split at " << split);
          implode::FastParse parse(data, guide, widest, split);
          for (auto f : all_formats()) {
            if (f.dict_bits > widest) continue;
            Collector c;
            parse.emit(f, c);
            expect_valid_parse(data, c.tokens, f);
            EXPECT_EQ(parse.bits(f), implode::parse_bits(c.tokens, f));
            const Bytes stream = implode::write_stream(c.tokens, f);
            EXPECT_TRUE(explode_test::run_real(stream).output == data);
          }
          // Writing while freeing the list writes the same stream.
          const StreamFormat f{guide, widest};
          implode::StreamWriter kept(f);
          parse.emit(f, kept);
          EXPECT_TRUE(kept.finish() == parse.write_stream(f));
        }
      }
    }
  }
}

// The stream written straight from the token list is the one a StreamWriter
// writes from the same tokens, in every format: inputs whose streams take
// several of the writer's steps and token lists of several large pages, parsed
// whole and in halves (as inputs of MIN_SPLIT_INPUT or more are).
TEST(FastParse, WrittenStreamIsTheStreamWritersOne) {
  const std::vector<std::pair<const char*, Bytes>> inputs = {
      {"text", generated_text(1500000, 81)},   {"PE-like image", pe_like_image(700000, 82)},
      {"a long run", Bytes(3000000, 'r')},     {"one byte", Bytes(1, 'x')},
      {"random", random_bytes(5000, 83, 256)},
  };
  for (const auto& [name, data] : inputs) {
    for (auto f : all_formats()) {
      // Parsed for f's own window, and for the widest one, whose matches too
      // far for f the writer turns into literals.
      for (unsigned parse_bits : {f.dict_bits, 6u}) {
        for (size_t split : {size_t{0}, data.size() / 2}) {
          SCOPED_TRACE(testing::Message() << name << " literals " << int(f.literals) << " k " << f.dict_bits
                                          << " parsed for k " << parse_bits << " split at " << split);
          implode::FastParse parse(data, f.literals, parse_bits, split);
          implode::StreamWriter writer(f);
          parse.emit(f, writer);
          const Bytes expected = writer.finish();
          EXPECT_EQ(expected.size(), implode::stream_bytes(parse.bits(f)));
          EXPECT_TRUE(parse.write_stream(f) == expected);
        }
      }
    }
  }
}

// A stream of 1 MiB or more is written into whole large pages, taken a step at
// a time: streams on both sides of one and two large pages come out as the
// stream writer writes them, in room that starts on a large page (Linux).
TEST(FastParse, LargeStreamsAreWrittenWholeIntoLargePages) {
  const StreamFormat f{LiteralCoding::binary, 6};
  // Streams of 0.72, 1.07 and 2.33 MB: below 1 MiB, just above it and above 2 MiB.
  for (const size_t size : {size_t{2000000}, size_t{3000000}, size_t{6500000}}) {
    const Bytes data = random_bytes(size, 85, 4);
    implode::FastParse parse(data, f.literals, f.dict_bits);
    implode::StreamWriter writer(f);
    parse.emit(f, writer);
    const Bytes expected = writer.finish();
    SCOPED_TRACE(expected.size());
    const implode::StreamBytes written = parse.write_stream_bytes(f, nullptr);
    EXPECT_TRUE(std::ranges::equal(written.bytes(), expected));
#if defined(__linux__)
    if (expected.size() >= (1u << 20)) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(written.bytes().data()) % implode::LARGE_PAGE_BYTES, 0u);
    }
#endif
  }
}

// A reader follows the writing and gets every byte once, in order; a reader
// that stops early or throws leaves the writer to finish (its exception comes
// back to the caller), and nothing waits forever.
TEST(FastParse, ReaderFollowsTheWrittenStream) {
  const Bytes data = generated_text(2000000, 84);  // a stream of several writing steps
  const StreamFormat f{LiteralCoding::ascii, 6};
  enum class Reader { whole, one_piece, throws };
  for (Reader kind : {Reader::whole, Reader::one_piece, Reader::throws}) {
    SCOPED_TRACE(static_cast<int>(kind));
    implode::FastParse parse(data, f.literals, f.dict_bits);
    const size_t size = implode::stream_bytes(parse.bits(f));
    Bytes read;
    size_t pieces = 0;
    const auto reader = [&](implode::StreamSource& source) {
      for (auto piece = source.next(); !piece.empty(); piece = source.next()) {
        read.insert(read.end(), piece.begin(), piece.end());
        ++pieces;
        if (kind == Reader::throws) throw std::runtime_error("reader failed");
        if (kind == Reader::one_piece) return;
      }
    };
    if (kind == Reader::throws) {
      EXPECT_THROW(parse.write_stream(f, reader), std::runtime_error);
      continue;
    }
    const Bytes stream = parse.write_stream(f, reader);
    EXPECT_EQ(stream.size(), size);
    if (kind == Reader::whole) {
      EXPECT_TRUE(read == stream);
    } else {
      EXPECT_TRUE(std::equal(read.begin(), read.end(), stream.begin()));
      EXPECT_EQ(pieces, 1u);
    }
  }
}

// The fast parse's guide coding weighs every byte: all bytes but one cost as
// much as ASCII literals as binary ones (a tie, which goes to binary), and the
// one left decides wherever it stands and whatever the length (the sum takes
// four bytes a step, then the rest one by one).
TEST(FastParse, GuideCodingWeighsEveryByte) {
  const auto byte_of_ascii_bits = [](unsigned bits) {
    for (unsigned b = 0; b < 256; ++b)
      if (implode_format::ascii_bits[b] + 1u == bits) return static_cast<uint8_t>(b);
    throw std::logic_error("no such byte");
  };
  const uint8_t level = byte_of_ascii_bits(9), cheaper = byte_of_ascii_bits(8), dearer = byte_of_ascii_bits(10);
  for (size_t n = 1; n <= 13; ++n) {
    Bytes data(n, level);
    EXPECT_EQ(cheaper_literals(data, LiteralMode::automatic), LiteralCoding::binary) << n;
    EXPECT_EQ(cheaper_literals(data, LiteralMode::ascii), LiteralCoding::ascii) << n;
    for (size_t at = 0; at < n; ++at) {
      data[at] = cheaper;
      EXPECT_EQ(cheaper_literals(data, LiteralMode::automatic), LiteralCoding::ascii) << n << " " << at;
      EXPECT_EQ(cheaper_literals(data, LiteralMode::binary), LiteralCoding::binary) << n << " " << at;
      data[at] = dearer;
      EXPECT_EQ(cheaper_literals(data, LiteralMode::automatic), LiteralCoding::binary) << n << " " << at;
      data[at] = level;
    }
  }
}

// Short runs of a few byte values (the shape of bitmaps and padded tables).
// Regression: the fast level's one-step choice and its four-byte chains, crowded
// by positions inside earlier runs, left it 17 % above the best level here.
TEST(FastParse, ShortRunsStayWithinFivePercentOfTheOptimum) {
  std::mt19937 rng(16);
  Bytes data;
  while (data.size() < 200000) {
    static constexpr uint8_t common[] = {0, 0, 0, 0xFF, 0x20};
    const auto pick = static_cast<unsigned>(rng() % 6);
    const auto value = static_cast<uint8_t>(pick < 5 ? common[pick] : rng());
    data.insert(data.end(), 1 + rng() % 12, value);
  }
  const auto fast = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::fast});
  const auto best = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::best});
  ASSERT_TRUE(fast && best);
  EXPECT_LE(fast->size(), best->size() * 105 / 100) << fast->size() << " vs " << best->size();
}

// The fast level keeps within a few percent of the best level (6 % here, on
// text of a small vocabulary, the hardest case for its one-step look-ahead, and
// a PE-like image; the benchmark corpora are held to 5 %).
TEST(FastParse, StaysCloseToTheOptimum) {
  for (const Bytes& data : {generated_text(100000, 75), pe_like_image(100000, 76)}) {
    const auto fast = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::fast});
    const auto best = compress_entry(data, {true, LiteralMode::automatic, 0, CompressionLevel::best});
    ASSERT_TRUE(fast && best);
    EXPECT_LE(fast->size(), best->size() * 106 / 100);
  }
}
