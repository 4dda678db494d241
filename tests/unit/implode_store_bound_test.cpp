// The best level skips its search when a quick bound proves that no format's
// optimal stream would be smaller than the input (store_bound.cpp). A proof must
// never be wrong: the entry would be stored where a stream is smaller. Checked
// against the search's own sizes on inputs on both sides of the line and near it;
// and on packed-looking input the bound must answer (else it saves nothing).
#include <gtest/gtest.h>

#include <random>

#include "implode_corpus.h"
#include "implode_encoder.h"

namespace {

using namespace implode_test;

// What the full search decides: every format's stream is at least the input's size.
bool search_stores(const Bytes& data) {
  for (uint64_t bits : implode::optimal_sizes_all_formats(data))
    if (implode::stream_bytes(bits) < data.size()) return false;
  return true;
}

// Random bytes with a share of the positions (in thousandths) starting a copy of
// 2 to 9 earlier bytes from up to `reach` back: from incompressible to compressible.
Bytes random_with_copies(size_t n, uint32_t seed, unsigned per_mille, unsigned reach) {
  std::mt19937 rng(seed);
  Bytes data(n);
  for (size_t i = 0; i < n;) {
    if (i > reach && rng() % 1000 < per_mille) {
      const size_t distance = 1 + rng() % reach;
      for (size_t len = 2 + rng() % 8; len > 0 && i < n; --len, ++i) data[i] = data[i - distance];
    } else {
      data[i++] = static_cast<uint8_t>(rng());
    }
  }
  return data;
}

TEST(ImplodeStoreBound, NeverClaimsStoringWhereAStreamIsSmaller) {
  struct Case {
    const char* name;
    Bytes data;
  };
  std::vector<Case> cases;
  for (size_t n = 1; n <= 40; ++n) cases.push_back({"short random", random_bytes(n, static_cast<uint32_t>(n), 256)});
  for (unsigned per_mille : {0u, 5u, 20u, 40u, 60u, 80u, 120u, 200u})
    for (unsigned reach : {16u, 256u, 4096u})
      cases.push_back({"random with copies", random_with_copies(30000, per_mille * 7 + reach, per_mille, reach)});
  for (unsigned alphabet : {96u, 128u, 160u, 200u, 240u})  // where ASCII literals may pay
    cases.push_back({"random of a smaller alphabet", random_bytes(20000, alphabet, alphabet)});
  Bytes packed_then_text = random_bytes(60000, 71);
  const Bytes text = generated_text(8000, 72);
  packed_then_text.insert(packed_then_text.end(), text.begin(), text.end());
  cases.push_back({"random, then text", packed_then_text});
  cases.push_back({"text", generated_text(20000, 73)});
  cases.push_back({"PE-like image", pe_like_image(40000, 74)});
  cases.push_back({"zeros", Bytes(5000, 0)});

  unsigned proved = 0, stored = 0;
  for (const auto& [name, data] : cases) {
    SCOPED_TRACE(testing::Message() << name << ", " << data.size() << " bytes");
    const bool search = search_stores(data);
    stored += search;
    if (implode::optimal_streams_not_smaller(data)) {
      ++proved;
      EXPECT_TRUE(search);
    }
  }
  // Both sides of the line are covered, and the bound answers for most stored ones.
  EXPECT_GT(stored, 20u);
  EXPECT_LT(stored, cases.size() - 10);
  EXPECT_GT(proved, stored * 3 / 4);
}

// Random bytes stand for packed data: the bound proves what the search finds.
TEST(ImplodeStoreBound, ProvesStoringForRandomBytes) {
  for (size_t n : {size_t{100}, size_t{5000}, size_t{70000}, size_t{300000}}) {
    const Bytes data = random_bytes(n, static_cast<uint32_t>(n) + 1);
    EXPECT_TRUE(implode::optimal_streams_not_smaller(data)) << n;
  }
}

}  // namespace
