// Placeholder until the decoder lands: accepts nothing, delivers nothing.
#include "explode.h"

int32_t explode_stream(ExplodeReadFn read_fn, ExplodeWriteFn write_fn, ExplodeWork* work, void* user) {
  uint32_t size = EXPLODE_IN_BLOCK;
  uint32_t got = read_fn(work->in_buf, &size, user);
  if (got <= 4) return EXPLODE_SHORT_INPUT;
  uint32_t none = 0;
  write_fn(work->out_buf + EXPLODE_OUT_BLOCK, &none, user);
  return EXPLODE_INPUT_ENDED;
}
