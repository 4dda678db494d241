// The optimal parser's output is pinned byte for byte: the streams written for a
// few fixed inputs hash to values recorded from the parser as it stood before its
// speed work. Among the parses of minimal size the parser picks one by its order
// of relaxation and tie rules; a change in speed must not change which.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace implode_test;
using implode::LiteralCoding;
using implode::StreamFormat;

// FNV-1a over the six streams in format order, each preceded by its size.
class Fingerprint {
 public:
  void add(const Bytes& stream) {
    const uint64_t size = stream.size();
    for (unsigned i = 0; i < 8; ++i) byte(static_cast<uint8_t>(size >> (8 * i)));
    for (uint8_t b : stream) byte(b);
  }
  uint64_t value() const { return h_; }

 private:
  void byte(uint8_t b) { h_ = (h_ ^ b) * 0x100000001B3ull; }
  uint64_t h_ = 0xCBF29CE484222325ull;
};

StreamFormat format_of(unsigned i) { return {static_cast<LiteralCoding>(i / 3), 4 + i % 3}; }

// All six streams from the one-pass search (what mkpayload's best level writes).
uint64_t all_formats_fingerprint(const Bytes& data) {
  std::array<std::unique_ptr<implode::StreamWriter>, 6> writers;
  std::array<implode::TokenSink*, 6> sinks;
  for (unsigned i = 0; i < 6; ++i) {
    writers[i] = std::make_unique<implode::StreamWriter>(format_of(i));
    sinks[i] = writers[i].get();
  }
  implode::parse_optimal_all_formats(data, sinks);
  Fingerprint fp;
  for (auto& w : writers) fp.add(w->finish());
  return fp.value();
}

// The six streams of the single-format parser (a forced format).
uint64_t single_format_fingerprint(const Bytes& data) {
  Fingerprint fp;
  for (unsigned i = 0; i < 6; ++i) {
    implode::StreamWriter writer(format_of(i));
    implode::parse_optimal(data, format_of(i), writer);
    fp.add(writer.finish());
  }
  return fp.value();
}

void expect_fingerprints(const Bytes& data, uint64_t all_formats, uint64_t single_format) {
  const uint64_t all = all_formats_fingerprint(data), single = single_format_fingerprint(data);
  EXPECT_EQ(all, all_formats) << std::hex << "all formats: 0x" << all;
  EXPECT_EQ(single, single_format) << std::hex << "single format: 0x" << single;
}

TEST(ImplodeFingerprint, GeneratedTextNoiseAndRuns) {
  Bytes data = generated_text(150000, 51);
  const Bytes noise = random_bytes(40000, 52, 256);
  data.insert(data.begin() + 60000, noise.begin(), noise.end());
  const Bytes few = random_bytes(20000, 53, 3);
  data.insert(data.end(), few.begin(), few.end());
  data.insert(data.end(), 5000, 0xFF);
  expect_fingerprints(data, 0x1b397bb0fb23bc9dull, 0x1b397bb0fb23bc9dull);
}

TEST(ImplodeFingerprint, WindowsDll) {
  // More than 2^20 positions: the search rebases its costs on the way.
  const auto dll = first_file({"/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll"}, 1200000);
  if (!dll || dll->size() < 1200000) GTEST_SKIP() << "Wine's msvcrt.dll not found";
  expect_fingerprints(*dll, 0xc7e61fc3dd6bd3b1ull, 0x20da83ee87d0f6e3ull);
}

TEST(ImplodeFingerprint, SmallDll) {
  const auto dll = first_file({"/usr/lib/i386-linux-gnu/wine/i386-windows/imm32.dll"}, SIZE_MAX);
  if (!dll) GTEST_SKIP() << "Wine's imm32.dll not found";
  expect_fingerprints(*dll, 0xf2f89d5d1fe40419ull, 0x4355b9ddbfac7b28ull);
}

}  // namespace
