// Chunked-read fuzz target: the first byte gives the number of chunk sizes that
// follow (each 1 to 255 bytes), the rest is the stream. The decoder must keep its
// calling rules however the input arrives, give the same output and status as
// with whole blocks (when the first read holds more than 4 bytes), and agree with
// the reference decoder call for call.
#include "explode_reference.h"
#include "fuzz_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk_count = std::min<size_t>(data[0] % 16, size - 1);
  const std::span<const uint8_t> chunks(data + 1, chunk_count);
  const std::span<const uint8_t> stream(data + 1 + chunk_count, size - 1 - chunk_count);

  fuzz::Session chunked;
  chunked.stream = stream;
  chunked.chunk_sizes = chunks;
  const int32_t status = fuzz::decode_checked(chunked);
  fuzz::Session whole;
  whole.stream = stream;
  const int32_t whole_status = fuzz::decode_checked(whole);
  const size_t first = chunks.empty() || chunks[0] == 0 ? explode::EXPLODE_IN_BLOCK : chunks[0];
  if (std::min(first, stream.size()) > 4) {
    if (status != whole_status) fuzz::breach("status depends on the read sizes");
    if (chunked.output != whole.output) fuzz::breach("output depends on the read sizes");
    if (chunked.write_counts != whole.write_counts) fuzz::breach("writes depend on the read sizes");
  }
  if (chunked.output.size() <= (1u << 16)) {
    std::vector<uint32_t> sizes(chunks.begin(), chunks.end());
    if (!(explode_test::run_real(stream, sizes) == explode_test::run_reference(stream, sizes)))
      fuzz::breach("decoder and reference disagree on chunked input");
  }
  return 0;
}
