// Packed 4:2:2 to BGR kernel, compiled once per target (see
// detail/Dispatch.h). Included only by FrameConversion.cpp.

#if defined(KELVO_PRIMITIVES_YCBCR422_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_PRIMITIVES_YCBCR422_INL_H_
#undef KELVO_PRIMITIVES_YCBCR422_INL_H_
#else
#define KELVO_PRIMITIVES_YCBCR422_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace kelvo::primitives::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One lane per pixel pair: the 32-bit word Y0 | Cb << 8 | Y1 << 16 | Cr << 24.
// Computes both pixels' B, G, R with the 16.16 weights, arithmetic shift and
// clamp to 0..255. Integer sums are exact, so grouping the chroma terms once
// per pair gives the same values as the per-pixel formula.
template <class D>
struct PairBgr {
  hn::Vec<D> b0, g0, r0, b1, g1, r1;
};

template <class D>
HWY_INLINE PairBgr<D> ConvertPairs(D d, hn::Vec<D> words) {
  const hn::RebindToUnsigned<D> du;
  const auto w = hn::BitCast(du, words);
  const auto mask = hn::Set(du, 0xFF);
  const auto y0 = hn::BitCast(d, hn::And(w, mask));
  const auto cb = hn::BitCast(d, hn::And(hn::ShiftRight<8>(w), mask));
  const auto y1 = hn::BitCast(d, hn::And(hn::ShiftRight<16>(w), mask));
  const auto cr = hn::BitCast(d, hn::ShiftRight<24>(w));

  const auto kY = hn::Set(d, 76284);
  const auto rc = hn::Add(hn::Mul(cr, hn::Set(d, 104595)), hn::Set(d, -14608761));
  const auto gc = hn::Add(hn::Sub(hn::Mul(cr, hn::Set(d, -53281)), hn::Mul(cb, hn::Set(d, 25690))),
                          hn::Set(d, 8887730));
  const auto bc = hn::Add(hn::Mul(cb, hn::Set(d, 132186)), hn::Set(d, -18140365));
  const auto ly0 = hn::Mul(y0, kY);
  const auto ly1 = hn::Mul(y1, kY);
  const auto zero = hn::Zero(d);
  const auto top = hn::Set(d, 255);
  auto fin = [&](hn::Vec<D> v) { return hn::Min(hn::Max(hn::ShiftRight<16>(v), zero), top); };
  return {fin(hn::Add(ly0, bc)), fin(hn::Add(ly0, gc)), fin(hn::Add(ly0, rc)),
          fin(hn::Add(ly1, bc)), fin(hn::Add(ly1, gc)), fin(hn::Add(ly1, rc))};
}

// Writes `pixels` (1 or 2) pixels of the first pair in p.
template <class D>
HWY_INLINE void StoreFirstPair(D d, const PairBgr<D>& p, int pixels, uint8_t* dst) {
  dst[0] = static_cast<uint8_t>(hn::GetLane(p.b0));
  dst[1] = static_cast<uint8_t>(hn::GetLane(p.g0));
  dst[2] = static_cast<uint8_t>(hn::GetLane(p.r0));
  if (pixels == 2) {
    dst[3] = static_cast<uint8_t>(hn::GetLane(p.b1));
    dst[4] = static_cast<uint8_t>(hn::GetLane(p.g1));
    dst[5] = static_cast<uint8_t>(hn::GetLane(p.r1));
  }
  (void)d;
}

HWY_INLINE uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

HWY_NOINLINE void YCbCr422ToBGRImage(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep,
                                     int width, int height) {
  const int pairs = width / 2;
  const hn::CappedTag<int32_t, 1> d1;
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = src + static_cast<ptrdiff_t>(srcStep) * y;
    uint8_t* o = dst + static_cast<ptrdiff_t>(dstStep) * y;
    int k = 0;
#if HWY_TARGET != HWY_SCALAR
    {
      const hn::ScalableTag<int32_t> d;
      const hn::Rebind<uint16_t, decltype(d)> d16;
      const hn::Repartition<uint8_t, decltype(d16)> d8;
      const int n = static_cast<int>(hn::Lanes(d));
      // Pixel pairs in lane order become bytes in pixel order: both values
      // (each <= 255) go into one 16-bit lane, low byte first.
      auto interleave = [&](hn::Vec<decltype(d)> a, hn::Vec<decltype(d)> b) {
        return hn::BitCast(d8, hn::DemoteTo(d16, hn::Or(a, hn::ShiftLeft<8>(b))));
      };
      for (; k + n <= pairs; k += n) {
        const auto p = ConvertPairs(d, hn::LoadU(d, reinterpret_cast<const int32_t*>(s + 4 * k)));
        hn::StoreInterleaved3(interleave(p.b0, p.b1), interleave(p.g0, p.g1),
                              interleave(p.r0, p.r1), d8, o + 6 * k);
      }
    }
#endif
    for (; k < pairs; ++k) {
      const auto p = ConvertPairs(d1, hn::Set(d1, static_cast<int32_t>(LoadWord(s + 4 * k))));
      StoreFirstPair(d1, p, 2, o + 6 * k);
    }
    if (width % 2 != 0) {
      // The lone last pixel: its own Y and the Cb after it, with the Cr of
      // the preceding pair.
      const int x = width - 1;
      const uint32_t word = static_cast<uint32_t>(s[2 * x]) |
                            static_cast<uint32_t>(s[2 * x + 1]) << 8 |
                            static_cast<uint32_t>(s[2 * x - 1]) << 24;
      const auto p = ConvertPairs(d1, hn::Set(d1, static_cast<int32_t>(word)));
      StoreFirstPair(d1, p, 1, o + 3 * x);
    }
  }
}

}  // namespace kelvo::primitives::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
