// One summed-area row per SIMD target. A vector of mask bytes becomes 0/1
// per lane, an in-register prefix sum (byte shifts by 1, 2, 4, 8 within the
// 128-bit block that holds them all) gives the running counts, which are
// widened to 32 bits and added to the carried count and the row above. The
// tail runs through the same step on a one-lane tag. Counts are integers, so
// every target gives exactly the reference's values.

#if defined(KELVO_ANALYSIS_SUM_AREA_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_ANALYSIS_SUM_AREA_ROWS_INL_H_
#undef KELVO_ANALYSIS_SUM_AREA_ROWS_INL_H_
#else
#define KELVO_ANALYSIS_SUM_AREA_ROWS_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Non-zero bytes among mask[0..n): the carried count of the next step,
// computed on the scalar side so that the steps do not wait for a lane
// extraction.
HWY_INLINE uint32_t SetBytes(const uint8_t* mask, size_t n) {
  if (n % 8 != 0) {
    uint32_t c = 0;
    for (size_t i = 0; i < n; ++i) c += mask[i] != 0 ? 1u : 0u;
    return c;
  }
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  uint32_t c = 0;
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v;
    std::memcpy(&v, mask + i, 8);
    c += static_cast<uint32_t>(hwy::PopCount((((v & kLow7) + kLow7) | v) & kHigh));
  }
  return c;
}

template <bool kAbove, class D32>
HWY_INLINE uint32_t MaskRowStep(D32 d32, const uint8_t* mask, const uint32_t* above, uint32_t* row,
                                uint32_t run) {
  const hn::Rebind<uint8_t, D32> d8;
  constexpr size_t kLanes = hn::MaxLanes(D32());
  auto s = hn::Min(hn::LoadU(d8, mask), hn::Set(d8, uint8_t{1}));
#if HWY_TARGET != HWY_SCALAR
  if constexpr (kLanes > 1) s = hn::Add(s, hn::ShiftLeftBytes<1>(d8, s));
  if constexpr (kLanes > 2) s = hn::Add(s, hn::ShiftLeftBytes<2>(d8, s));
  if constexpr (kLanes > 4) s = hn::Add(s, hn::ShiftLeftBytes<4>(d8, s));
  if constexpr (kLanes > 8) s = hn::Add(s, hn::ShiftLeftBytes<8>(d8, s));
#else
  (void)kLanes;  // one lane: the byte is its own running count
#endif
  const auto running = hn::Add(hn::PromoteTo(d32, s), hn::Set(d32, run));
  if constexpr (kAbove) {
    hn::StoreU(hn::Add(running, hn::LoadU(d32, above)), d32, row);
  } else {
    hn::StoreU(running, d32, row);
  }
  return run + SetBytes(mask, hn::Lanes(d32));
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// 512-bit targets: 64 mask bytes a step. The byte prefix sums run in all four
// 128-bit blocks at once, and one byte-test mask gives the non-zero count of
// every block through popcounts, so the four blocks' carried counts need no
// lane extraction.
template <bool kAbove>
HWY_INLINE uint32_t MaskRow64(const uint8_t* mask, const uint32_t* above, uint32_t* row,
                              uint32_t run) {
  const hn::Full512<uint8_t> d8;
  const hn::Full512<uint32_t> d32;
  const auto m = hn::LoadU(d8, mask);
  auto s = hn::Min(m, hn::Set(d8, uint8_t{1}));
  s = hn::Add(s, hn::ShiftLeftBytes<1>(d8, s));
  s = hn::Add(s, hn::ShiftLeftBytes<2>(d8, s));
  s = hn::Add(s, hn::ShiftLeftBytes<4>(d8, s));
  s = hn::Add(s, hn::ShiftLeftBytes<8>(d8, s));
  uint8_t bits[8];
  hn::StoreMaskBits(d8, hn::Ne(m, hn::Zero(d8)), bits);
  uint64_t set;
  std::memcpy(&set, bits, sizeof set);
  const uint32_t c1 = run + static_cast<uint32_t>(hwy::PopCount(set & 0xFFFFull));
  const uint32_t c2 = run + static_cast<uint32_t>(hwy::PopCount(set & 0xFFFFFFFFull));
  const uint32_t c3 = run + static_cast<uint32_t>(hwy::PopCount(set & 0xFFFFFFFFFFFFull));
  const auto block = [&](auto bytes, uint32_t carried, size_t k) {
    auto v = hn::Add(hn::PromoteTo(d32, bytes), hn::Set(d32, carried));
    if constexpr (kAbove) v = hn::Add(v, hn::LoadU(d32, above + 16 * k));
    hn::StoreU(v, d32, row + 16 * k);
  };
  const auto low = hn::LowerHalf(s), high = hn::UpperHalf(hn::Full256<uint8_t>(), s);
  block(hn::LowerHalf(low), run, 0);
  block(hn::UpperHalf(hn::Full128<uint8_t>(), low), c1, 1);
  block(hn::LowerHalf(high), c2, 2);
  block(hn::UpperHalf(hn::Full128<uint8_t>(), high), c3, 3);
  return run + static_cast<uint32_t>(hwy::PopCount(set));
}
#endif

template <bool kAbove>
HWY_INLINE void MaskRow(const uint8_t* mask, const uint32_t* above, uint32_t* row, size_t count) {
  // At most 16 lanes, so the running counts of one step fit in the bytes of
  // one 128-bit block.
  const hn::CappedTag<uint32_t, 16> d;
  const hn::CappedTag<uint32_t, 1> d1;
  const size_t n = hn::Lanes(d);
  uint32_t run = 0;
  size_t x = 0;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  for (; x + 64 <= count; x += 64) {
    run = MaskRow64<kAbove>(mask + x, kAbove ? above + x : nullptr, row + x, run);
  }
#endif
  for (; x + n <= count; x += n) {
    run = MaskRowStep<kAbove>(d, mask + x, kAbove ? above + x : nullptr, row + x, run);
  }
  for (; x < count; ++x) {
    run = MaskRowStep<kAbove>(d1, mask + x, kAbove ? above + x : nullptr, row + x, run);
  }
}

inline void AccumulateMaskRowImpl(const uint8_t* mask, const uint32_t* above, uint32_t* row,
                                  int count) {
  if (count <= 0) return;
  if (above != nullptr) {
    MaskRow<true>(mask, above, row, static_cast<size_t>(count));
  } else {
    MaskRow<false>(mask, nullptr, row, static_cast<size_t>(count));
  }
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
