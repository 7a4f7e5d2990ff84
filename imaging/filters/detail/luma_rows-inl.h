// Kernels of LumaRows.h, compiled once per SIMD target. The weights and
// rounding are those of the planar RGB <-> YUV primitives; U and V are
// saturated to bytes before they are used again, as a stored plane would be,
// and row tails run the same code on a one-lane tag.

#if defined(KELVO_FILTERS_LUMA_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_FILTERS_LUMA_ROWS_INL_H_
#undef KELVO_FILTERS_LUMA_ROWS_INL_H_
#else
#define KELVO_FILTERS_LUMA_ROWS_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// (wr R + wg G + wb B + offset) >> 16, saturated to a byte.
template <class D8, class V>
HWY_INLINE hn::Vec<D8> Weighted(D8 d8, V r, V g, V b, int wr, int wg, int wb, int offset) {
  const hn::Rebind<int32_t, D8> d;
  const auto s = hn::Add(hn::Add(hn::Mul(r, hn::Set(d, wr)), hn::Mul(g, hn::Set(d, wg))),
                         hn::Add(hn::Mul(b, hn::Set(d, wb)), hn::Set(d, offset)));
  return hn::DemoteTo(d8, hn::ShiftRight<16>(s));
}

// The Y of each pixel and the three offsets that its U and V add to any
// luminance on the way back: R = (Y << 16 + 32768 + 74711 (V - 128)) >> 16 is
// Y + ((32768 + 74711 (V - 128)) >> 16) before saturation, as Y << 16 is a
// whole multiple of 65536; likewise G and B. Offsets lie within +-260.
template <class D8>
HWY_INLINE void LumaOffsetPixels(D8 d8, const uint8_t* src, uint8_t* y, int16_t* offR,
                                 int16_t* offG, int16_t* offB) {
  const hn::Rebind<int32_t, D8> d;
  const hn::Rebind<int16_t, D8> d16;
  hn::Vec<D8> r8, g8, b8;
  hn::LoadInterleaved3(d8, src, r8, g8, b8);
  const auto r = hn::PromoteTo(d, r8), g = hn::PromoteTo(d, g8), b = hn::PromoteTo(d, b8);
  const auto zero = hn::Zero(d), top = hn::Set(d, 255), centre = hn::Set(d, 128);
  const auto half = hn::Set(d, 32768);
  hn::StoreU(Weighted(d8, r, g, b, 19595, 38470, 7471, 32768), d8, y);
  auto weighted = [&](int wr, int wg, int wb) {
    const auto s = hn::Add(hn::Add(hn::Mul(r, hn::Set(d, wr)), hn::Mul(g, hn::Set(d, wg))),
                           hn::Add(hn::Mul(b, hn::Set(d, wb)), hn::Set(d, (128 << 16) + 32768)));
    // Saturated to a byte as the stored plane would be, less 128.
    return hn::Sub(hn::Min(hn::Max(hn::ShiftRight<16>(s), zero), top), centre);
  };
  const auto uu = weighted(-9641, -18927, 28568);
  const auto vv = weighted(40290, -33738, -6552);
  const auto dr = hn::ShiftRight<16>(hn::Add(half, hn::Mul(vv, hn::Set(d, 74711))));
  const auto dg = hn::ShiftRight<16>(
      hn::Sub(hn::Sub(half, hn::Mul(uu, hn::Set(d, 25821))), hn::Mul(vv, hn::Set(d, 38076))));
  const auto db = hn::ShiftRight<16>(hn::Add(half, hn::Mul(uu, hn::Set(d, 133169))));
  hn::StoreU(hn::DemoteTo(d16, dr), d16, offR);
  hn::StoreU(hn::DemoteTo(d16, dg), d16, offG);
  hn::StoreU(hn::DemoteTo(d16, db), d16, offB);
}

// dst pixel = saturated (y + offR, y + offG, y + offB); D16 spans the lanes of
// D8 in 16 bits.
template <class D8, class D16>
HWY_INLINE void OffsetPixels(D8 d8, D16 d16, const uint8_t* y, const int16_t* offR,
                             const int16_t* offG, const int16_t* offB, uint8_t* dst) {
  const auto yy = hn::PromoteTo(d16, hn::LoadU(d8, y));
  const auto ro = hn::DemoteTo(d8, hn::Add(yy, hn::LoadU(d16, offR)));
  const auto go = hn::DemoteTo(d8, hn::Add(yy, hn::LoadU(d16, offG)));
  const auto bo = hn::DemoteTo(d8, hn::Add(yy, hn::LoadU(d16, offB)));
  hn::StoreInterleaved3(ro, go, bo, d8, dst);
}

HWY_NOINLINE void LumaOffsetRowImpl(const uint8_t* rgb, uint8_t* y, int16_t* offsets, int width) {
  const hn::Rebind<uint8_t, hn::ScalableTag<int32_t>> d8;
  const hn::Rebind<uint8_t, hn::CappedTag<int32_t, 1>> d1;
  const int n = static_cast<int>(hn::Lanes(d8));
  int16_t* offR = offsets;
  int16_t* offG = offsets + width;
  int16_t* offB = offsets + 2 * static_cast<ptrdiff_t>(width);
  int x = 0;
  for (; x + n <= width; x += n)
    LumaOffsetPixels(d8, rgb + 3 * x, y + x, offR + x, offG + x, offB + x);
  for (; x < width; ++x) LumaOffsetPixels(d1, rgb + 3 * x, y + x, offR + x, offG + x, offB + x);
}

HWY_NOINLINE void OffsetRowImpl(const uint8_t* y, const int16_t* offsets, uint8_t* dst,
                                int width) {
  const hn::Rebind<uint8_t, hn::ScalableTag<int16_t>> d8;
  const hn::ScalableTag<int16_t> d16;
  const hn::Rebind<uint8_t, hn::CappedTag<int16_t, 1>> d1;
  const hn::CappedTag<int16_t, 1> d161;
  const int n = static_cast<int>(hn::Lanes(d8));
  const int16_t* offR = offsets;
  const int16_t* offG = offsets + width;
  const int16_t* offB = offsets + 2 * static_cast<ptrdiff_t>(width);
  int x = 0;
  for (; x + n <= width; x += n)
    OffsetPixels(d8, d16, y + x, offR + x, offG + x, offB + x, dst + 3 * x);
  for (; x < width; ++x) OffsetPixels(d1, d161, y + x, offR + x, offG + x, offB + x, dst + 3 * x);
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
