// Lanes of the optimal parse: the cost (bits so far) and the back-reference of one
// position for each stream format that the search prices at once. The search is
// written once for any lane count; two widths are instantiated:
//  * 8 lanes for the six formats (two padding lanes repeat the last format), as two
//    4-lane GCC/Clang vectors: one instruction per half where the target has
//    128-bit vector registers, plain code where it has none;
//  * 1 lane for one forced format, a plain scalar.
// Lane l of the result depends only on lane l of the operands, so a format's lane
// takes the same values in either width.
#pragma once

#include <cstdint>

namespace implode {

// The cost of a position that no path reaches yet. Costs are rebased every 2^20
// positions (at most 14 bits each), so a real cost plus UNREACHED plus a token
// stays below 2^31.
inline constexpr int32_t UNREACHED = 0x3FFFFFFF;

template <typename T, unsigned N>
struct Lanes;

typedef int32_t CostHalf __attribute__((vector_size(16)));
typedef uint32_t ReferenceHalf __attribute__((vector_size(16)));
template <typename T>
struct HalfVector;
template <>
struct HalfVector<int32_t> {
  using type = CostHalf;
};
template <>
struct HalfVector<uint32_t> {
  using type = ReferenceHalf;
};

template <typename T>
struct Lanes<T, 8> {
  using Half = typename HalfVector<T>::type;
  static constexpr unsigned COUNT = 8;
  Half half[2];

  static Lanes filled(T v) { return {{Half{} + v, Half{} + v}}; }
  T operator[](unsigned lane) const { return half[lane / 4][lane % 4]; }
  void set(unsigned lane, T v) { half[lane / 4][lane % 4] = v; }
  friend Lanes operator+(const Lanes& a, const Lanes& b) { return {{a.half[0] + b.half[0], a.half[1] + b.half[1]}}; }
};

template <typename T>
struct Lanes<T, 1> {
  static constexpr unsigned COUNT = 1;
  T value;

  static Lanes filled(T v) { return {v}; }
  T operator[](unsigned) const { return value; }
  void set(unsigned, T v) { value = v; }
  friend Lanes operator+(const Lanes& a, const Lanes& b) { return {a.value + b.value}; }
};

template <unsigned N>
using CostLanes = Lanes<int32_t, N>;
template <unsigned N>
using ReferenceLanes = Lanes<uint32_t, N>;

// Lane-wise minimum of (cost, reference) pairs: a lane takes `other` only where it
// is strictly smaller, so ties keep what `value` held.
template <unsigned N>
inline void take_smaller(CostLanes<N>& value, ReferenceLanes<N>& reference, const CostLanes<N>& other,
                         const ReferenceLanes<N>& other_reference) {
  if constexpr (N == 1) {
    if (other.value < value.value) {
      value.value = other.value;
      reference.value = other_reference.value;
    }
  } else {
    for (unsigned h = 0; h < 2; ++h) {
      const CostHalf smaller = other.half[h] < value.half[h];
      value.half[h] = smaller ? other.half[h] : value.half[h];
      reference.half[h] = smaller ? other_reference.half[h] : reference.half[h];
    }
  }
}

// Whether any lane of `a` is below the same lane of `b`.
template <unsigned N>
inline bool any_smaller(const CostLanes<N>& a, const CostLanes<N>& b) {
  if constexpr (N == 1) {
    return a.value < b.value;
  } else {
    const CostHalf smaller = (a.half[0] < b.half[0]) | (a.half[1] < b.half[1]);
    return (smaller[0] | smaller[1] | smaller[2] | smaller[3]) != 0;
  }
}

// Subtracts `base` lane by lane from every cost that a path reaches (UNREACHED and
// the sums with it stay as they are: they never win).
template <unsigned N>
inline void rebase_cost(CostLanes<N>& cost, const CostLanes<N>& base) {
  for (unsigned l = 0; l < N; ++l)
    if (cost[l] < UNREACHED) cost.set(l, cost[l] - base[l]);
}

}  // namespace implode
