// explode_buffer against explode_stream: for every stream, the whole-buffer entry
// point must give the status of the streaming decoder, a size equal to the sum of
// its writes, and their bytes in the output as far as it reaches, whatever the
// output buffer's size (exact, one byte too small, none, far too small, larger).
// Output buffers lie between canaries and inputs are exact-size copies, so a
// write or read outside them shows (here, and under ASan).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "explode_reference.h"
#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace explode_test;
using implode_test::Bytes;

constexpr size_t CANARY = 64;
constexpr uint8_t CANARY_BYTE = 0xC5;

// explode_buffer on a copy of `stream` into an output of `capacity` bytes between
// canaries, on a work area filled with `fill`. Checks the canaries.
struct BufferRun {
  ExplodeBufferResult result;
  Bytes stored;  // the output buffer's bytes after the call
};

BufferRun run_buffer(const Bytes& stream, size_t capacity, uint8_t fill = 0xAB) {
  const auto input = std::make_unique<uint8_t[]>(stream.size());
  if (!stream.empty()) std::memcpy(input.get(), stream.data(), stream.size());
  Bytes guarded(CANARY + capacity + CANARY, CANARY_BYTE);
  auto work = std::make_unique<ExplodeWork>();
  std::memset(work.get(), fill, sizeof(ExplodeWork));
  const ExplodeBufferResult result =
      explode_buffer({input.get(), stream.size()}, {guarded.data() + CANARY, capacity}, work.get());
  for (size_t i = 0; i < CANARY; ++i) {
    EXPECT_EQ(guarded[i], CANARY_BYTE) << "written before the output, at -" << (CANARY - i);
    EXPECT_EQ(guarded[CANARY + capacity + i], CANARY_BYTE) << "written past the output, at +" << i;
  }
  return {result, Bytes(guarded.begin() + CANARY, guarded.end() - CANARY)};
}

// Checks explode_buffer against explode_stream for one stream and capacity.
void expect_as_streamed(const Bytes& stream, size_t capacity, const DecodeRecord& streamed) {
  SCOPED_TRACE(testing::Message() << "stream of " << stream.size() << " bytes, output of " << capacity);
  const BufferRun run = run_buffer(stream, capacity);
  ASSERT_EQ(run.result.status, streamed.status);
  ASSERT_EQ(run.result.size, streamed.output.size());
  const size_t stored = std::min(capacity, streamed.output.size());
  ASSERT_TRUE(std::equal(streamed.output.begin(), streamed.output.begin() + static_cast<std::ptrdiff_t>(stored),
                         run.stored.begin()))
      << "stored bytes differ";
}

// The capacities worth trying for an output of `size` bytes: none, the exact
// size and one byte less or more, the fast path's margins around it (a token
// may need 565 bytes of room), far too small, and the block and history sizes.
std::vector<size_t> capacities_for(size_t size) {
  std::vector<size_t> c = {0, 1, size, size + 1, size + 600, size / 2, 4095, 4096, 4097, 600, 565, 566};
  if (size > 0) c.push_back(size - 1);
  if (size > 565) c.push_back(size - 565);
  if (size > 566) c.push_back(size - 566);
  return c;
}

void expect_as_streamed_at_every_capacity(const Bytes& stream) {
  const DecodeRecord streamed = run_real(stream);
  for (size_t capacity : capacities_for(streamed.output.size())) expect_as_streamed(stream, capacity, streamed);
}

TEST(ExplodeBuffer, FormatExamplesGiveTheStreamingResults) {
  const std::vector<Bytes> streams = {
      {0x00, 0x04, 0x82, 0x02, 0xFE, 0x01},  // one literal, the end marker's last bit in the last byte
      {0x00, 0x04, 0x01, 0xFF},              // empty: too short
      {},
      {0x00, 0x04, 0x82, 0x02, 0xFE},  // cut inside the end marker's length code
      {0x02, 0x09, 0, 0, 0},           // the dictionary byte is tested first
      {0x02, 0x04, 0, 0, 0},
      {0x00, 0x03, 0, 0, 0},
      {0x00, 0x07, 0, 0, 0},
      StreamWriter(0, 4).literal(0x41).match(10, 1).end().data(),
      StreamWriter(1, 5).literal('a').literal('b').literal('c').match(100, 3).end().data(),
      // Matches into the zeroed history, from the first token and later.
      StreamWriter(0, 6).match(5, 4096).literal('z').match(3, 2).end().data(),
      StreamWriter(0, 6).literal(7).match(518, 4096).match(518, 1).end().data(),
      StreamWriter(1, 4).match(2, 256).match(300, 1024).end().data(),
  };
  for (const Bytes& stream : streams) expect_as_streamed_at_every_capacity(stream);
}

TEST(ExplodeBuffer, BlockSizedOutputsGiveTheStreamingResults) {
  for (size_t size : {4095u, 4096u, 4097u, 8191u, 8192u, 10000u}) {
    StreamWriter w(0, 6);
    w.literal(0x5A);
    for (size_t left = size - 1; left > 0;) {
      const size_t n = std::min<size_t>(left, 518);
      if (n == 1) {
        w.literal(0x11);
      } else {
        w.match(static_cast<unsigned>(n), 1 + static_cast<unsigned>(left % 4000));
      }
      left -= n;
    }
    expect_as_streamed_at_every_capacity(w.end().data());
  }
}

TEST(ExplodeBuffer, CutStreamsGiveTheStreamingResults) {
  // Every cut of a stream that runs the fast path long enough to leave it by the
  // input's end at every bit offset.
  for (unsigned mode : {0u, 1u}) {
    const Bytes text = implode_test::generated_text(3000, 11);
    const implode::StreamFormat f{mode ? implode::LiteralCoding::ascii : implode::LiteralCoding::binary, 5};
    const Bytes valid = implode::write_stream(implode::parse_optimal(text, f), f);
    for (size_t cut = 0; cut <= valid.size(); ++cut) {
      const Bytes stream(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut));
      const DecodeRecord streamed = run_real(stream);
      expect_as_streamed(stream, streamed.output.size(), streamed);
      if (cut % 97 == 0) expect_as_streamed(stream, streamed.output.size() / 3, streamed);
    }
  }
}

TEST(ExplodeBuffer, LongValidStreamsGiveTheStreamingResults) {
  const std::vector<Bytes> inputs = {implode_test::generated_text(150000, 3), implode_test::pe_like_image(120000, 4),
                                     implode_test::random_bytes(70000, 5, 3), Bytes(50000, 0)};
  for (auto literals : {implode::LiteralCoding::binary, implode::LiteralCoding::ascii}) {
    for (unsigned k = 4; k <= 6; ++k) {
      const implode::StreamFormat f{literals, k};
      for (const Bytes& input : inputs) {
        const Bytes stream = implode::write_stream(implode::parse_optimal(input, f), f);
        const DecodeRecord streamed = run_real(stream);
        ASSERT_EQ(streamed.output, input);
        for (size_t capacity : {input.size(), input.size() - 1, input.size() - 4096, size_t{8191}})
          expect_as_streamed(stream, capacity, streamed);
      }
    }
  }
}

TEST(ExplodeBuffer, RandomAndMutatedStreamsGiveTheStreamingResults) {
  std::mt19937 rng(77);
  const Bytes text = implode_test::generated_text(20000, 8);
  for (int i = 0; i < 400; ++i) {
    Bytes stream;
    if (i % 2 == 0) {
      stream = implode_test::random_bytes(5 + rng() % 3000, static_cast<uint32_t>(i));
      stream[0] = static_cast<uint8_t>(rng() % 2);
      stream[1] = static_cast<uint8_t>(4 + rng() % 3);
    } else {
      const implode::StreamFormat f{rng() % 2 ? implode::LiteralCoding::ascii : implode::LiteralCoding::binary,
                                    4 + static_cast<unsigned>(rng() % 3)};
      const size_t start = rng() % 10000;
      const Bytes input(text.begin() + static_cast<std::ptrdiff_t>(start),
                        text.begin() + static_cast<std::ptrdiff_t>(start + 1 + rng() % 10000));
      stream = implode::write_stream(implode::parse_optimal(input, f), f);
      for (int flips = 1 + static_cast<int>(rng() % 3); flips-- > 0;)
        stream[2 + rng() % (stream.size() - 2)] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    const DecodeRecord streamed = run_real(stream);
    const size_t size = streamed.output.size();
    for (size_t capacity : {size, size > 0 ? size - 1 : 0, size_t{rng() % (size + 2)}})
      expect_as_streamed(stream, capacity, streamed);
  }
}

TEST(ExplodeBuffer, WorkAreaContentsDoNotMatter) {
  const Bytes stream = StreamWriter(0, 6).match(40, 4000).literal(1).match(600 - 88, 3).end().data();
  const BufferRun zeros = run_buffer(stream, 2000, 0x00);
  const BufferRun ones = run_buffer(stream, 2000, 0xFF);
  EXPECT_EQ(zeros.result.size, ones.result.size);
  EXPECT_EQ(zeros.stored, ones.stored);
}

}  // namespace
