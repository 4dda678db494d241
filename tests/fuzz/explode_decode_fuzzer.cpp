// Decode-only fuzz target: any byte string through the decoder in 2048-byte
// blocks. Must not crash or touch memory outside the work area (ASan, UBSan),
// must keep its calling rules, and must agree with the test-side reference
// decoder on status, output and every callback call.
#include "explode_reference.h"
#include "fuzz_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> stream(data, size);
  fuzz::Session session;
  session.stream = stream;
  const int32_t status = fuzz::decode_checked(session);
  if (size <= 4 && status != explode::EXPLODE_SHORT_INPUT) fuzz::breach("short input accepted");
  // The reference decoder is slow on long outputs; compare where it is cheap.
  if (session.output.size() <= (1u << 16)) {
    const auto real = explode_test::run_real(stream);
    if (!(real == explode_test::run_reference(stream))) fuzz::breach("decoder and reference disagree");
  }
  return 0;
}
