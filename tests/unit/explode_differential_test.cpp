// The decoder against the test-side reference decoder on random byte strings and
// on mutated valid streams, whole and in odd-sized reads: same status, same
// output, same sequence of read calls and write counts. (The fuzz targets do the
// same without end; this keeps a fixed sample in every test run.)
#include <gtest/gtest.h>

#include <random>

#include "explode_reference.h"
#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace explode_test;
using implode_test::Bytes;

void expect_same(const Bytes& stream, const std::vector<uint32_t>& chunks) {
  std::string fault;
  const DecodeRecord real = run_real(stream, chunks, nullptr, &fault);
  ASSERT_EQ(fault, "");
  const DecodeRecord reference = run_reference(stream, chunks);
  ASSERT_EQ(real.status, reference.status);
  ASSERT_TRUE(real.output == reference.output);
  ASSERT_TRUE(real == reference) << "callback sequences differ";
}

std::vector<uint32_t> random_chunks(std::mt19937& rng) {
  if (rng() % 3 == 0) return {};
  std::vector<uint32_t> chunks(1 + rng() % 5);
  for (auto& c : chunks) c = static_cast<uint32_t>(1 + rng() % (rng() % 2 ? 16 : 2048));
  return chunks;
}

TEST(ExplodeDifferential, RandomByteStrings) {
  std::mt19937 rng(1234);
  for (int i = 0; i < 1500; ++i) {
    Bytes stream = implode_test::random_bytes(5 + rng() % 300, static_cast<uint32_t>(i));
    stream[0] = static_cast<uint8_t>(rng() % 2);  // mostly valid headers
    stream[1] = static_cast<uint8_t>(4 + rng() % 3);
    if (i % 10 == 0) stream[1] = static_cast<uint8_t>(rng());
    expect_same(stream, random_chunks(rng));
  }
}

TEST(ExplodeDifferential, MutatedValidStreams) {
  std::mt19937 rng(99);
  const Bytes text = implode_test::generated_text(12000, 5);
  const Bytes binary = implode_test::random_bytes(6000, 6, 7);
  for (auto literals : {implode::LiteralCoding::binary, implode::LiteralCoding::ascii}) {
    for (unsigned k = 4; k <= 6; ++k) {
      const implode::StreamFormat f{literals, k};
      for (const Bytes* input : std::initializer_list<const Bytes*>{&text, &binary}) {
        const Bytes valid = implode::write_stream(implode::parse_optimal(*input, f), f);
        expect_same(valid, {});
        for (int m = 0; m < 25; ++m) {
          Bytes stream = valid;
          const int flips = 1 + static_cast<int>(rng() % 4);
          for (int j = 0; j < flips; ++j)
            stream[2 + rng() % (stream.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
          if (m % 5 == 0) stream.resize(2 + rng() % (stream.size() - 2));  // cut short
          expect_same(stream, random_chunks(rng));
        }
      }
    }
  }
}

}  // namespace
