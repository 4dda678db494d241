// Whole-buffer fuzz target: explode_buffer against explode_stream. Byte 0 picks
// the stream: even, the rest of the input as it is (random streams); odd, a valid
// stream that the encoder writes for the rest (format from bits 1-3), with one
// bit flipped or the stream cut when bit 4 or 5 is set. Bytes 1-2 pick the output
// buffer's size: with bit 15 set, bits 0-14 are the size; otherwise the streaming
// output's size plus (bits 0-9) - 512, at least 0. explode_buffer must give the
// streaming status, a size equal to the sum of the streaming writes and their
// bytes as far as the buffer reaches; its input and output are exact-size heap
// blocks, so ASan reports any access outside them.
#include <cstring>
#include <memory>

#include "fuzz_protocol.h"
#include "implode_encoder.h"

namespace {

std::vector<uint8_t> pick_stream(uint8_t choice, std::span<const uint8_t> rest) {
  if ((choice & 1) == 0) return {rest.begin(), rest.end()};
  const implode::StreamFormat format{(choice & 2) ? implode::LiteralCoding::ascii : implode::LiteralCoding::binary,
                                     4u + ((choice >> 2) & 3) % 3};
  std::vector<uint8_t> stream = implode::write_stream(implode::parse_optimal(rest, format), format);
  // A position from the input's bytes, so the fuzzer can steer it.
  size_t position = 0;
  for (uint8_t b : rest) position = position * 31 + b;
  if ((choice & 0x10) && stream.size() > 2) stream[2 + position % (stream.size() - 2)] ^= uint8_t(1u << (choice >> 5));
  if (choice & 0x20) stream.resize(position % (stream.size() + 1));
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const std::vector<uint8_t> stream = pick_stream(data[0], {data + 3, size - 3});
  const uint32_t size_choice = data[1] | uint32_t{data[2]} << 8;

  fuzz::Session streamed;
  streamed.stream = stream;
  const int32_t status = fuzz::decode_checked(streamed);
  const size_t produced = streamed.output.size();
  size_t capacity = size_choice & 0x7FFF;
  if ((size_choice & 0x8000) == 0) {
    const size_t delta = size_choice & 0x3FF;
    capacity = produced + delta >= 512 ? produced + delta - 512 : 0;
  }

  const auto input = std::make_unique<uint8_t[]>(stream.size());
  if (!stream.empty()) std::memcpy(input.get(), stream.data(), stream.size());
  const auto output = std::make_unique<uint8_t[]>(capacity);
  auto work = std::make_unique<explode::ExplodeWork>();
  const explode::ExplodeBufferResult result =
      explode::explode_buffer({input.get(), stream.size()}, {output.get(), capacity}, work.get());
  if (result.status != status) fuzz::breach("whole-buffer status differs from the streaming status");
  if (result.size != produced) fuzz::breach("whole-buffer size differs from the streaming writes");
  const size_t stored = capacity < produced ? capacity : produced;
  if (!std::equal(streamed.output.begin(), streamed.output.begin() + static_cast<std::ptrdiff_t>(stored), output.get()))
    fuzz::breach("whole-buffer bytes differ from the streaming bytes");
  return 0;
}
