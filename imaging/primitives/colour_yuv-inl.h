// RGB <-> YUV planar kernels, compiled once per target (see
// detail/Dispatch.h). Included only by ColourConversion.cpp.

#if defined(KELVO_PRIMITIVES_COLOUR_YUV_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_PRIMITIVES_COLOUR_YUV_INL_H_
#undef KELVO_PRIMITIVES_COLOUR_YUV_INL_H_
#else
#define KELVO_PRIMITIVES_COLOUR_YUV_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo::primitives::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// 16.16 weights: Y = .299 R + .587 G + .114 B; U = .492 (B - Y) + 128 and
// V = .877 (R - Y) + 128 with Y expanded, so each output is one weighted sum
// of R, G, B (the U and V weights sum to zero, keeping greys at 128).
// Results round half up (add 1/2, arithmetic shift) and saturate.
template <class D8>
HWY_INLINE void RgbToYuvPixels(D8 d8, const uint8_t* src, uint8_t* y, uint8_t* u, uint8_t* v) {
  const hn::Rebind<int32_t, D8> d;
  hn::Vec<D8> r8, g8, b8;
  hn::LoadInterleaved3(d8, src, r8, g8, b8);
  const auto r = hn::PromoteTo(d, r8), g = hn::PromoteTo(d, g8), b = hn::PromoteTo(d, b8);
  auto sum = [&](int wr, int wg, int wb, int offset) {
    const auto s = hn::Add(hn::Add(hn::Mul(r, hn::Set(d, wr)), hn::Mul(g, hn::Set(d, wg))),
                           hn::Add(hn::Mul(b, hn::Set(d, wb)), hn::Set(d, offset)));
    return hn::DemoteTo(d8, hn::ShiftRight<16>(s));
  };
  hn::StoreU(sum(19595, 38470, 7471, 32768), d8, y);
  hn::StoreU(sum(-9641, -18927, 28568, (128 << 16) + 32768), d8, u);
  hn::StoreU(sum(40290, -33738, -6552, (128 << 16) + 32768), d8, v);
}

// R = Y + 1.140 (V - 128), G = Y - 0.394 (U - 128) - 0.581 (V - 128),
// B = Y + 2.032 (U - 128) in 16.16, rounded half up and saturated.
template <class D8>
HWY_INLINE void YuvToRgbPixels(D8 d8, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                               uint8_t* dst) {
  const hn::Rebind<int32_t, D8> d;
  const auto half = hn::Set(d, 32768);
  const auto yy = hn::Add(hn::ShiftLeft<16>(hn::PromoteTo(d, hn::LoadU(d8, y))), half);
  const auto uu = hn::Sub(hn::PromoteTo(d, hn::LoadU(d8, u)), hn::Set(d, 128));
  const auto vv = hn::Sub(hn::PromoteTo(d, hn::LoadU(d8, v)), hn::Set(d, 128));
  const auto r = hn::Add(yy, hn::Mul(vv, hn::Set(d, 74711)));
  const auto g =
      hn::Sub(hn::Sub(yy, hn::Mul(uu, hn::Set(d, 25821))), hn::Mul(vv, hn::Set(d, 38076)));
  const auto b = hn::Add(yy, hn::Mul(uu, hn::Set(d, 133169)));
  hn::StoreInterleaved3(hn::DemoteTo(d8, hn::ShiftRight<16>(r)),
                        hn::DemoteTo(d8, hn::ShiftRight<16>(g)),
                        hn::DemoteTo(d8, hn::ShiftRight<16>(b)), d8, dst);
}

HWY_NOINLINE void RgbToYuvImage(const uint8_t* src, int srcStep, uint8_t* const* planes,
                                int dstStep, int width, int height) {
  const hn::Rebind<uint8_t, hn::ScalableTag<int32_t>> d8;
  const hn::Rebind<uint8_t, hn::CappedTag<int32_t, 1>> d1;
  const int n = static_cast<int>(hn::Lanes(d8));
  for (int row = 0; row < height; ++row) {
    const uint8_t* s = src + static_cast<ptrdiff_t>(srcStep) * row;
    const ptrdiff_t o = static_cast<ptrdiff_t>(dstStep) * row;
    uint8_t* y = planes[0] + o;
    uint8_t* u = planes[1] + o;
    uint8_t* v = planes[2] + o;
    int x = 0;
    for (; x + n <= width; x += n) RgbToYuvPixels(d8, s + 3 * x, y + x, u + x, v + x);
    for (; x < width; ++x) RgbToYuvPixels(d1, s + 3 * x, y + x, u + x, v + x);
  }
}

HWY_NOINLINE void YuvToRgbImage(const uint8_t* const* planes, int srcStep, uint8_t* dst,
                                int dstStep, int width, int height) {
  const hn::Rebind<uint8_t, hn::ScalableTag<int32_t>> d8;
  const hn::Rebind<uint8_t, hn::CappedTag<int32_t, 1>> d1;
  const int n = static_cast<int>(hn::Lanes(d8));
  for (int row = 0; row < height; ++row) {
    const ptrdiff_t o = static_cast<ptrdiff_t>(srcStep) * row;
    const uint8_t* y = planes[0] + o;
    const uint8_t* u = planes[1] + o;
    const uint8_t* v = planes[2] + o;
    uint8_t* d = dst + static_cast<ptrdiff_t>(dstStep) * row;
    int x = 0;
    for (; x + n <= width; x += n) YuvToRgbPixels(d8, y + x, u + x, v + x, d + 3 * x);
    for (; x < width; ++x) YuvToRgbPixels(d1, y + x, u + x, v + x, d + 3 * x);
  }
}

}  // namespace kelvo::primitives::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
