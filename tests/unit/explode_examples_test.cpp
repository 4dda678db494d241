// The implode format's own examples and the decoder's calling protocol: header
// checks, short input, the end-marker rule, block sizes of the writes, cut streams,
// overlapping copies, matches into the zeroed history, the 518-byte match at the
// flush point.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>

#include "explode_reference.h"

namespace {

using namespace explode_test;
using Bytes = std::vector<uint8_t>;

std::vector<uint32_t> write_counts(const DecodeRecord& r) {
  std::vector<uint32_t> counts;
  for (const auto& e : r.events)
    if (!e.is_read) counts.push_back(e.count);
  return counts;
}
size_t read_calls(const DecodeRecord& r) {
  return static_cast<size_t>(std::count_if(r.events.begin(), r.events.end(), [](auto& e) { return e.is_read; }));
}

DecodeRecord decode(const Bytes& stream, std::vector<uint32_t> chunks = {}) {
  std::string fault;
  DecodeRecord real = run_real(stream, chunks, nullptr, &fault);
  EXPECT_EQ(fault, "");
  EXPECT_EQ(real, run_reference(stream, chunks)) << "decoder and reference disagree";
  return real;
}

TEST(ExplodeExamples, SingleLiteralEndsInsideEndMarker) {
  const Bytes stream = {0x00, 0x04, 0x82, 0x02, 0xFE, 0x01};
  const DecodeRecord r = decode(stream);
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(r.output, Bytes{0x41});
  EXPECT_EQ(write_counts(r), std::vector<uint32_t>{1});
  // One read for the block, one more that finds nothing during the end marker.
  EXPECT_EQ(read_calls(r), 2u);
}

TEST(ExplodeExamples, TestWriterReproducesTheSingleLiteralStream) {
  // Guards the test-side writer that the other tests rely on.
  EXPECT_EQ(StreamWriter(0, 4).literal(0x41).end().data(), (Bytes{0x00, 0x04, 0x82, 0x02, 0xFE, 0x01}));
}

TEST(ExplodeExamples, EmptyInputStreamIsTooShort) {
  const Bytes stream = {0x00, 0x04, 0x01, 0xFF};
  EXPECT_EQ(StreamWriter(0, 4).end().data(), stream);
  const DecodeRecord r = decode(stream);
  EXPECT_EQ(r.status, EXPLODE_SHORT_INPUT);
  EXPECT_TRUE(write_counts(r).empty());
  EXPECT_EQ(read_calls(r), 1u);
}

TEST(ExplodeExamples, FirstReadOfFourOrFewerBytesIsShortWhateverFollows) {
  const Bytes stream = StreamWriter(0, 4).literal(0x41).end().data();
  for (uint32_t first = 1; first <= 4; ++first) {
    const DecodeRecord r = decode(stream, {first, 2048});
    EXPECT_EQ(r.status, EXPLODE_SHORT_INPUT) << first;
    EXPECT_TRUE(write_counts(r).empty());
    EXPECT_EQ(read_calls(r), 1u);
  }
  EXPECT_EQ(decode(Bytes{}).status, EXPLODE_SHORT_INPUT);
}

TEST(ExplodeExamples, FirstReadOfFiveBytesIsAccepted) {
  const Bytes stream = StreamWriter(0, 4).literal(0x41).end().data();
  const DecodeRecord r = decode(stream, {5, 1});
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(r.output, Bytes{0x41});
}

TEST(ExplodeExamples, HeaderChecksDictionaryByteFirst) {
  const Bytes tail = {0x82, 0x02, 0xFE, 0x01};
  auto with_header = [&](uint8_t mode, uint8_t dict) {
    Bytes s = {mode, dict};
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
  };
  struct Case {
    uint8_t mode, dict;
    int32_t status;
  };
  for (const Case c :
       {Case{2, 9, EXPLODE_BAD_DICTIONARY}, Case{2, 4, EXPLODE_BAD_MODE}, Case{0, 3, EXPLODE_BAD_DICTIONARY},
        Case{0, 7, EXPLODE_BAD_DICTIONARY}, Case{1, 0, EXPLODE_BAD_DICTIONARY}, Case{255, 6, EXPLODE_BAD_MODE},
        Case{0, 255, EXPLODE_BAD_DICTIONARY}}) {
    const DecodeRecord r = decode(with_header(c.mode, c.dict));
    EXPECT_EQ(r.status, c.status) << int(c.mode) << " " << int(c.dict);
    EXPECT_TRUE(write_counts(r).empty());
    EXPECT_EQ(read_calls(r), 1u);
  }
  for (uint8_t dict = 4; dict <= 6; ++dict)
    for (uint8_t mode = 0; mode <= 1; ++mode)
      EXPECT_EQ(decode(StreamWriter(mode, dict).literal('x').end().data()).status, EXPLODE_OK);
}

TEST(ExplodeExamples, OverlappingMatchRepeatsTheLastByte) {
  const Bytes stream = StreamWriter(0, 4).literal(0x41).match(10, 1).end().data();
  const DecodeRecord r = decode(stream);
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(r.output, Bytes(11, 0x41));
}

TEST(ExplodeExamples, OverlappingMatchRepeatsAPattern) {
  const Bytes stream = StreamWriter(1, 5).literal('a').literal('b').literal('c').match(100, 3).end().data();
  const DecodeRecord r = decode(stream);
  ASSERT_EQ(r.output.size(), 103u);
  for (size_t i = 0; i < r.output.size(); ++i) EXPECT_EQ(r.output[i], "abc"[i % 3]) << i;
}

// Output of n literal bytes (pattern i * 7) as literals and matches.
Bytes stream_of_size(size_t n, unsigned mode = 0) {
  StreamWriter w(mode, 6);
  size_t produced = 0;
  while (produced < n) {
    const size_t left = n - produced;
    if (produced >= 64 && left >= 40) {
      const unsigned length = static_cast<unsigned>(std::min<size_t>(left, 300) - (produced % 3));
      w.match(length, 64);
      produced += length;
    } else {
      w.literal(static_cast<uint8_t>(produced * 7));
      ++produced;
    }
  }
  return w.end().data();
}

TEST(ExplodeExamples, OutputOfExactlyOneBlockArrivesAsBlockAndEmptyFinalWrite) {
  const DecodeRecord r = decode(stream_of_size(4096));
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(write_counts(r), (std::vector<uint32_t>{4096, 0}));
}

TEST(ExplodeExamples, OutputOf10000BytesArrivesAsTwoBlocksAndRemainder) {
  const DecodeRecord r = decode(stream_of_size(10000));
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(write_counts(r), (std::vector<uint32_t>{4096, 4096, 1808}));
  EXPECT_EQ(r.output.size(), 10000u);
}

TEST(ExplodeExamples, StreamCutAnywhereBeforeItsEndMarkerEndsWithEveryDecodedByte) {
  for (unsigned mode = 0; mode <= 1; ++mode) {
    StreamWriter w(mode, 4);
    std::vector<std::pair<size_t, size_t>> token_ends;  // (bit count after token, bytes produced)
    const std::string text = "cut streams deliver what they decoded; cut streams deliver";
    size_t produced = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i == 36) {
        w.match(22, 36);
        produced += 22;
        i += 21;
      } else {
        w.literal(static_cast<uint8_t>(text[i]));
        ++produced;
      }
      token_ends.push_back({w.bit_count(), produced});
    }
    const size_t end_marker_start = w.bit_count();
    const Bytes full = w.end().data();
    const Bytes whole = decode(full).output;
    ASSERT_EQ(whole.size(), produced);
    for (size_t cut = 5; cut < full.size(); ++cut) {
      const Bytes stream(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut));
      const DecodeRecord r = decode(stream);
      if (cut * 8 < end_marker_start + 8) {
        EXPECT_EQ(r.status, EXPLODE_INPUT_ENDED) << "cut at " << cut;
      }
      // Every token whose bits plus the 8-bit look-ahead fit is decoded.
      size_t expect = 0;
      for (auto [bits, bytes] : token_ends)
        if (bits + 8 <= cut * 8) expect = bytes;
      if (r.status == EXPLODE_INPUT_ENDED) {
        EXPECT_EQ(r.output.size(), expect) << "cut at " << cut;
      }
      EXPECT_TRUE(std::equal(r.output.begin(), r.output.end(), whole.begin()));
      EXPECT_FALSE(r.events.back().is_read);  // the final write comes last
    }
    EXPECT_EQ(decode(full).status, EXPLODE_OK);
  }
}

TEST(ExplodeExamples, CutInsideEndMarkerLengthCodeIsAnError) {
  // Literal 'A' ends at bit 9 and the end marker's code at bit 17: two bytes of
  // bit stream give look-ahead up to bit 16 only.
  const Bytes full = StreamWriter(0, 4).literal(0x41).end().data();
  const Bytes cut(full.begin(), full.begin() + 5);
  const DecodeRecord r = decode(cut);
  EXPECT_EQ(r.status, EXPLODE_INPUT_ENDED);
  EXPECT_EQ(r.output, Bytes{0x41});
}

TEST(ExplodeExamples, EndMarkerIsTheLastUsedByteNothingIsReadAfterIt) {
  Bytes stream = StreamWriter(0, 4).literal(0x41).literal(0x42).end().data();
  const size_t used = stream.size();
  stream.resize(used + 5000, 0x55);  // trailing garbage in this block and later ones
  const DecodeRecord r = decode(stream);
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(r.output, (Bytes{0x41, 0x42}));
  EXPECT_EQ(read_calls(r), 1u);
  // In 1-byte chunks after a first read of 5: bytes are read up to the one that
  // holds the end marker's last bit plus the 8-bit look-ahead, and no further.
  const DecodeRecord chunked = decode(stream, {5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(chunked.status, EXPLODE_OK);
  const size_t stream_bits = 16 + 9 + 9 + 16;
  const size_t bytes_fetched = 2 + (stream_bits - 16 + 8 + 7) / 8;
  EXPECT_EQ(read_calls(chunked), 1 + (bytes_fetched - 5));
}

TEST(ExplodeExamples, MatchBeforeFirstOutputCopiesZeroedHistory) {
  const Bytes stream = StreamWriter(0, 6).match(5, 4096).literal('z').match(3, 2).end().data();
  auto work = std::make_unique<ExplodeWork>();
  std::memset(work->out_buf, 0xAB, sizeof work->out_buf);  // an earlier entry's leftovers
  const DecodeRecord r = run_real(stream, {}, work.get());
  EXPECT_EQ(r.status, EXPLODE_OK);
  EXPECT_EQ(r.output, (Bytes{0, 0, 0, 0, 0, 'z', 0, 'z', 0}));
  EXPECT_EQ(r, run_reference(stream));
}

TEST(ExplodeExamples, NothingCarriesOverBetweenCallsOnOneWorkArea) {
  auto work = std::make_unique<ExplodeWork>();
  const Bytes first = stream_of_size(6000, 1);
  const Bytes second = StreamWriter(0, 6).match(300, 4000).end().data();
  EXPECT_EQ(run_real(first, {}, work.get()), run_reference(first));
  EXPECT_EQ(run_real(second, {}, work.get()), run_reference(second));
  EXPECT_EQ(run_real(second, {}, work.get()).output, Bytes(300, 0));
}

TEST(ExplodeExamples, LongestMatchAtLastFreshIndexRunsPastFlushPoint) {
  // 4095 literals bring out_fill to 8191; a 518-byte match then writes up to 8708.
  StreamWriter w(0, 6);
  for (int i = 0; i < 4095; ++i) w.literal(static_cast<uint8_t>(i % 251));
  w.match(518, 600).literal(0xEE).end();
  auto work = std::make_unique<ExplodeWork>();
  const DecodeRecord r = run_real(w.data(), {}, work.get());
  EXPECT_EQ(r, run_reference(w.data()));
  EXPECT_EQ(write_counts(r), (std::vector<uint32_t>{4096, 518}));
  EXPECT_EQ(work->out_fill, 4096u + 518);  // 4613 after the match's flush, +1 literal
  ASSERT_EQ(r.output.size(), 4095u + 518 + 1);
  for (size_t i = 0; i < 518; ++i) EXPECT_EQ(r.output[4095 + i], r.output[4095 + i - 600]);
  EXPECT_EQ(r.output.back(), 0xEE);
}

TEST(ExplodeExamples, TwoByteMatchReachesBack256AndLongerOnesUpToDictionary) {
  for (unsigned k = 4; k <= 6; ++k) {
    StreamWriter w(0, k);
    for (int i = 0; i < 5000; ++i) w.literal(static_cast<uint8_t>(i * 13 + i / 256));
    w.match(2, 256).match(3, 64u << k).end();
    const DecodeRecord r = decode(w.data());
    ASSERT_EQ(r.output.size(), 5005u);
    EXPECT_EQ(r.output[5000], r.output[5000 - 256]);
    EXPECT_EQ(r.output[5001], r.output[5001 - 256]);
    for (size_t i = 5002; i < 5005; ++i) EXPECT_EQ(r.output[i], r.output[i - (64u << k)]);
  }
}

TEST(ExplodeExamples, ReadCallbackClaimingMoreThanTheBlockIsClamped) {
  // A faulty callback that reports 5000 bytes must not make the decoder read
  // past in_buf.
  const Bytes stream = StreamWriter(0, 4).literal(1).literal(2).end().data();
  struct Src {
    const Bytes* s;
    int calls = 0;
  };
  Src src{&stream};
  auto read = [](uint8_t* buffer, uint32_t*, void* user) -> uint32_t {
    auto& s = *static_cast<Src*>(user);
    if (s.calls++ > 0) return 5000;
    std::copy(s.s->begin(), s.s->end(), buffer);
    std::fill(buffer + s.s->size(), buffer + 2048, 0);
    return 5000;
  };
  auto write = [](const uint8_t*, uint32_t* count, void*) { EXPECT_LE(*count, 4096u); };
  auto work = std::make_unique<ExplodeWork>();
  EXPECT_EQ(explode_stream(read, write, work.get(), &src), EXPLODE_OK);
  EXPECT_LE(work->in_count, 2048u);
}

}  // namespace
