// Colour conversion kernels, compiled once per SIMD target through
// foreach_target.h. Pixels are processed in groups of one float vector; the
// row tail runs the same kernel on a one-lane tag. Every product and sum is
// done in the order of the plain loops (Mul then Add, never MulAdd), so all
// targets give the same bytes.

#if defined(KELVO_FILTERS_COLOUR_CONVERT_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_FILTERS_COLOUR_CONVERT_INL_H_
#undef KELVO_FILTERS_COLOUR_CONVERT_INL_H_
#else
#define KELVO_FILTERS_COLOUR_CONVERT_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Float to int32 by truncation, for values the conversions here bound far
// inside the int32 range (whole-number samples through fixed weights), so
// the general conversion's handling of out-of-range values is not needed:
// the bare instruction gives the same integers.
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
template <size_t N>
HWY_INLINE hn::Vec128<int32_t, N> TruncateInRange(hn::Simd<int32_t, N, 0> /* tag */,
                                                  hn::Vec128<float, N> v) {
  return hn::Vec128<int32_t, N>{_mm_cvttps_epi32(v.raw)};
}
#if HWY_TARGET <= HWY_AVX2
HWY_INLINE hn::Vec256<int32_t> TruncateInRange(hn::Full256<int32_t> /* tag */,
                                               hn::Vec256<float> v) {
  return hn::Vec256<int32_t>{_mm256_cvttps_epi32(v.raw)};
}
#endif
#if HWY_TARGET <= HWY_AVX3
HWY_INLINE hn::Vec512<int32_t> TruncateInRange(hn::Full512<int32_t> /* tag */,
                                               hn::Vec512<float> v) {
  return hn::Vec512<int32_t>{_mm512_cvttps_epi32(v.raw)};
}
#endif
#else
template <class DI, class VF>
HWY_INLINE hn::Vec<DI> TruncateInRange(DI di, VF v) {
  return hn::ConvertTo(di, v);
}
#endif

// Ranges and offsets of one sample size.
struct ColourRange {
  float o1, o2;      // forward offsets (include the rounding 0.5)
  int32_t yLo, yHi;  // Y range
  int32_t cLo, cHi;  // Cb and Cr range
  int32_t yBase;     // Y black level
  int32_t cBase;     // Cb/Cr zero level
  float maximum;     // colour sample maximum
};

constexpr ColourRange kRange8{16.5f, 128.5f, 16, 235, 16, 239, 16, 128, 255.0f};
constexpr ColourRange kRange16{256.5f, 2048.5f, 256, 3760, 256, 3840, 256, 2048, 4095.0f};

// Destination (forward) or source (inverse) of the Y/Cb/Cr side for one row.
template <typename T>
struct YccRow {
  T* y;  // planar: the three plane rows; interleaved: y only
  T* cb;
  T* cr;
  bool planar;
};

// Forward matrix on float vectors; results as clamped integers in int32
// lanes, for 8-bit (clamp, truncate) or 16-bit (truncate, low 16 bits,
// clamp) samples.
template <class DF, class VI>
HWY_INLINE void ForwardMath(DF df, hn::Vec<DF> b, hn::Vec<DF> g, hn::Vec<DF> r, bool eightBit,
                            const ColourRange& range, VI& iy, VI& icb, VI& icr) {
  const hn::Rebind<int32_t, DF> di;
  const auto o1 = hn::Set(df, range.o1);
  const auto o2 = hn::Set(df, range.o2);
  const auto fy = hn::Add(
      hn::Add(hn::Add(hn::Mul(hn::Set(df, 0.256006f), r), hn::Mul(hn::Set(df, 0.5020507f), g)),
              hn::Mul(hn::Set(df, 0.097620964f), b)),
      o1);
  const auto fcb = hn::Add(
      hn::Sub(hn::Mul(hn::Set(df, 0.43760684f), b),
              hn::Add(hn::Mul(hn::Set(df, 0.14753032f), r), hn::Mul(hn::Set(df, 0.29007652f), g))),
      o2);
  const auto fcr = hn::Add(o2, hn::Sub(hn::Sub(hn::Mul(hn::Set(df, 0.43760684f), r),
                                               hn::Mul(hn::Set(df, 0.36683217f), g)),
                                       hn::Mul(hn::Set(df, 0.07077468f), b)));
  if (eightBit) {
    // Clamp, then truncate. From samples 0 .. 255, Y lies within 16.5 ..
    // 234.7 and Cb and Cr above 16.9 (the weights and offsets bound them,
    // far beyond any rounding), so only the upper chroma clamp can act.
    iy = TruncateInRange(di, fy);
    icb = TruncateInRange(di, hn::Min(fcb, hn::Set(df, 239.0f)));
    icr = TruncateInRange(di, hn::Min(fcr, hn::Set(df, 239.0f)));
  } else {
    // Truncate, keep the low 16 bits as unsigned, then clamp.
    const auto low16 = hn::Set(di, 0xFFFF);
    iy = hn::Min(hn::Max(hn::And(hn::ConvertTo(di, fy), low16), hn::Set(di, range.yLo)),
                 hn::Set(di, range.yHi));
    icb = hn::Min(hn::Max(hn::And(hn::ConvertTo(di, fcb), low16), hn::Set(di, range.cLo)),
                  hn::Set(di, range.cHi));
    icr = hn::Min(hn::Max(hn::And(hn::ConvertTo(di, fcr), low16), hn::Set(di, range.cLo)),
                  hn::Set(di, range.cHi));
  }
}

template <class DF, typename T>
HWY_INLINE void ForwardBlock(DF df, const T* HWY_RESTRICT bgr, const YccRow<T>& out, size_t x,
                             const ColourRange& range) {
  const hn::Rebind<T, DF> dt;
  const hn::Rebind<int32_t, DF> di;
  using VT = hn::Vec<decltype(dt)>;
  VT tb, tg, tr;
  hn::LoadInterleaved3(dt, bgr + 3 * x, tb, tg, tr);
  hn::Vec<decltype(di)> iy, icb, icr;
  ForwardMath(df, hn::ConvertTo(df, hn::PromoteTo(di, tb)),
              hn::ConvertTo(df, hn::PromoteTo(di, tg)), hn::ConvertTo(df, hn::PromoteTo(di, tr)),
              sizeof(T) == 1, range, iy, icb, icr);
  const VT ty = hn::DemoteTo(dt, iy);
  const VT tcb = hn::DemoteTo(dt, icb);
  const VT tcr = hn::DemoteTo(dt, icr);
  if (out.planar) {
    hn::StoreU(ty, dt, out.y + x);
    hn::StoreU(tcb, dt, out.cb + x);
    hn::StoreU(tcr, dt, out.cr + x);
  } else {
    hn::StoreInterleaved3(ty, tcb, tcr, dt, out.y + 3 * x);
  }
}

// Inverse matrix from Y - black level and Cb, Cr - zero level (whole
// numbers as floats) to rounded integer samples in int32 lanes.
// kSaturatingStore: the results go to bytes through a saturating narrowing,
// which maps v + 0.5 truncated to the same integers as the explicit clamp to
// [0, 255] (below 0 truncates to 0 or saturates there; above 255 saturates
// to 255).
template <bool kSaturatingStore, class DF, class VI>
HWY_INLINE void InverseFromFloats(DF df, hn::Vec<DF> y, hn::Vec<DF> cb, hn::Vec<DF> cr,
                                  const ColourRange& range, VI& ib, VI& ig, VI& ir) {
  const hn::Rebind<int32_t, DF> di;
  const auto ky = hn::Mul(hn::Set(df, 1.1686643f), y);
  const auto fr = hn::Add(hn::Sub(ky, hn::Mul(hn::Set(df, 0.0017945928f), cb)),
                          hn::Mul(hn::Set(df, 1.6008666f), cr));
  const auto fg = hn::Sub(hn::Sub(ky, hn::Mul(hn::Set(df, 0.39268896f), cb)),
                          hn::Mul(hn::Set(df, 0.81607187f), cr));
  const auto fb = hn::Sub(hn::Add(ky, hn::Mul(hn::Set(df, 2.0242496f), cb)),
                          hn::Mul(hn::Set(df, 0.0012498057f), cr));

  // Above the maximum gives the maximum, below 0 gives 0, else v + 0.5
  // truncated; clamping first and then rounding gives the same integers.
  const auto zero = hn::Zero(df);
  const auto maximum = hn::Set(df, range.maximum);
  const auto half = hn::Set(df, 0.5f);
  if constexpr (kSaturatingStore) {
    (void)zero;
    (void)maximum;
    ib = TruncateInRange(di, hn::Add(fb, half));
    ig = TruncateInRange(di, hn::Add(fg, half));
    ir = TruncateInRange(di, hn::Add(fr, half));
  } else {
    ib = TruncateInRange(di, hn::Add(hn::Min(hn::Max(fb, zero), maximum), half));
    ig = TruncateInRange(di, hn::Add(hn::Min(hn::Max(fg, zero), maximum), half));
    ir = TruncateInRange(di, hn::Add(hn::Min(hn::Max(fr, zero), maximum), half));
  }
}

// Inverse matrix from integer inputs to rounded integer samples in int32
// lanes. kPreclamped: the inputs are already inside their ranges.
template <bool kPreclamped, bool kSaturatingStore, class DF, class VI>
HWY_INLINE void InverseMath(DF df, VI ty, VI tcb, VI tcr, const ColourRange& range, VI& ib, VI& ig,
                            VI& ir) {
  const hn::Rebind<int32_t, DF> di;
  const auto cLo = hn::Set(di, range.cLo);
  const auto cHi = hn::Set(di, range.cHi);
  const auto cBase = hn::Set(di, range.cBase);
  if constexpr (!kPreclamped) {
    ty = hn::Min(hn::Max(ty, hn::Set(di, range.yLo)), hn::Set(di, range.yHi));
    tcb = hn::Min(hn::Max(tcb, cLo), cHi);
    tcr = hn::Min(hn::Max(tcr, cLo), cHi);
  }
  InverseFromFloats<kSaturatingStore>(df, hn::ConvertTo(df, hn::Sub(ty, hn::Set(di, range.yBase))),
                                      hn::ConvertTo(df, hn::Sub(tcb, cBase)),
                                      hn::ConvertTo(df, hn::Sub(tcr, cBase)), range, ib, ig, ir);
}

// Y given as the floats the wavelet synthesis rounds to 8-bit samples: the
// sample, clamped to the Y range, less the black level, as a float.
// Every step is exact on whole numbers, so this is the float of the
// integer the sample path computes.
template <class DF>
HWY_INLINE hn::Vec<DF> YFromFloat(DF df, hn::Vec<DF> v) {
  // The synthesis clamps to [0, 255] (NaN gives 0) and rounds halves up;
  // clamping to the Y range first gives the same samples once they are
  // clamped to it (NaN, below 0 and below 16 all end at 16). On [16, 235]
  // floor(v + 0.5) is that rounding exactly: the sum needs no rounding that
  // crosses a whole number there (checked on every float of the range).
  const auto low = hn::Set(df, 16.0f);
  v = hn::Min(hn::IfThenElse(hn::Ge(v, low), v, low), hn::Set(df, 235.0f));
  return hn::Sub(hn::Floor(hn::Add(v, hn::Set(df, 0.5f))), low);
}

// Float Y with 8-bit Cb and Cr planes to interleaved BGR, one float vector
// of pixels.
template <class DF>
HWY_INLINE void InverseBlockFloatY(DF df, const float* y, const uint8_t* cb, const uint8_t* cr,
                                   uint8_t* HWY_RESTRICT bgr, size_t x) {
  const hn::Rebind<uint8_t, DF> dt;
  const hn::Rebind<int32_t, DF> di;
  const auto cLo = hn::Set(di, kRange8.cLo);
  const auto cHi = hn::Set(di, kRange8.cHi);
  const auto cBase = hn::Set(di, kRange8.cBase);
  const auto tcb = hn::Min(hn::Max(hn::PromoteTo(di, hn::LoadU(dt, cb + x)), cLo), cHi);
  const auto tcr = hn::Min(hn::Max(hn::PromoteTo(di, hn::LoadU(dt, cr + x)), cLo), cHi);
  hn::Vec<decltype(di)> ib, ig, ir;
  InverseFromFloats<false>(df, YFromFloat(df, hn::LoadU(df, y + x)),
                           hn::ConvertTo(df, hn::Sub(tcb, cBase)),
                           hn::ConvertTo(df, hn::Sub(tcr, cBase)), kRange8, ib, ig, ir);
  hn::StoreInterleaved3(hn::DemoteTo(dt, ib), hn::DemoteTo(dt, ig), hn::DemoteTo(dt, ir), dt,
                        bgr + 3 * x);
}

template <class DF, typename T>
HWY_INLINE void InverseBlock(DF df, const YccRow<const T>& in, T* HWY_RESTRICT bgr, size_t x,
                             const ColourRange& range) {
  const hn::Rebind<T, DF> dt;
  const hn::Rebind<int32_t, DF> di;
  using VT = hn::Vec<decltype(dt)>;
  VT ty, tcb, tcr;
  if (in.planar) {
    ty = hn::LoadU(dt, in.y + x);
    tcb = hn::LoadU(dt, in.cb + x);
    tcr = hn::LoadU(dt, in.cr + x);
  } else {
    hn::LoadInterleaved3(dt, in.y + 3 * x, ty, tcb, tcr);
  }
  hn::Vec<decltype(di)> ib, ig, ir;
  InverseMath<false, false>(df, hn::PromoteTo(di, ty), hn::PromoteTo(di, tcb),
                            hn::PromoteTo(di, tcr), range, ib, ig, ir);
  hn::StoreInterleaved3(hn::DemoteTo(dt, ib), hn::DemoteTo(dt, ig), hn::DemoteTo(dt, ir), dt,
                        bgr + 3 * x);
}

#if HWY_TARGET != HWY_SCALAR
// Int32 results for quarters 0 .. 3 of a byte vector, to that byte vector,
// each value clamped to 0 .. 255 as DemoteTo clamps it. Two saturating
// narrowings take all four quarters at once; they leave the quarters' 4-byte
// groups interleaved block by block (a block being 16 bytes), and one
// permutation of the groups puts them in order. Cheaper than narrowing
// each quarter on its own and joining the pieces.
template <class D8, class VI>
HWY_INLINE hn::Vec<D8> PackQuarters(D8 d8, const VI (&a)[4]) {
  const hn::Repartition<int16_t, D8> d16;
  const hn::Half<D8> dh;
  const hn::Repartition<uint32_t, D8> d32;
  const auto low = hn::DemoteTo(dh, hn::ReorderDemote2To(d16, a[0], a[1]));
  const auto high = hn::DemoteTo(dh, hn::ReorderDemote2To(d16, a[2], a[3]));
  const auto groups = hn::BitCast(d32, hn::Combine(d8, high, low));
  // Group g of the narrowed bytes holds quarter 2 (g / (2 blocks)) + g % 2,
  // block (g / 2) % blocks; it goes to quarter * blocks + block.
  const size_t units = hn::Lanes(d32);
  const size_t blocks = units / 4;
  alignas(64) int32_t order[HWY_MAX_BYTES / 4];
  for (size_t j = 0; j < units; ++j) {
    const size_t quarter = j / blocks, block = j % blocks;
    order[j] = static_cast<int32_t>((quarter < 2 ? 0 : 2 * blocks) + 2 * block + (quarter & 1));
  }
  return hn::BitCast(d8, hn::TableLookupLanes(groups, hn::SetTableIndices(d32, order)));
}

// 8-bit samples: one full byte vector of pixels per step, worked on as four
// quarters of one float vector each with the same math as above.
template <class D8, class F>
HWY_INLINE void ForQuarters(D8 d8, hn::Vec<D8> (&in)[3], hn::Vec<D8> (&out)[3], F&& math) {
  const hn::Half<D8> dh;
  const hn::Half<decltype(dh)> dq;
  const hn::Rebind<int32_t, decltype(dq)> di;
  using VQ = hn::Vec<decltype(dq)>;
  VQ q[3][4];
  for (int c = 0; c < 3; ++c) {
    const auto lo = hn::LowerHalf(dh, in[c]);
    const auto hi = hn::UpperHalf(dh, in[c]);
    q[c][0] = hn::LowerHalf(dq, lo);
    q[c][1] = hn::UpperHalf(dq, lo);
    q[c][2] = hn::LowerHalf(dq, hi);
    q[c][3] = hn::UpperHalf(dq, hi);
  }
  hn::Vec<decltype(di)> r[3][4];
  for (int k = 0; k < 4; ++k) {
    math(hn::PromoteTo(di, q[0][k]), hn::PromoteTo(di, q[1][k]), hn::PromoteTo(di, q[2][k]),
         r[0][k], r[1][k], r[2][k]);
  }
  for (int c = 0; c < 3; ++c) out[c] = PackQuarters(d8, r[c]);
}

HWY_INLINE void ForwardBlock8Full(const uint8_t* HWY_RESTRICT bgr, const YccRow<uint8_t>& out,
                                  size_t x, const ColourRange& range) {
  const hn::ScalableTag<uint8_t> d8;
  const hn::Rebind<float, hn::Half<hn::Half<decltype(d8)>>> df;
  hn::Vec<decltype(d8)> in[3], res[3];
  hn::LoadInterleaved3(d8, bgr + 3 * x, in[0], in[1], in[2]);
  ForQuarters(d8, in, res, [&](auto b, auto g, auto r, auto& y, auto& cb, auto& cr) {
    ForwardMath(df, hn::ConvertTo(df, b), hn::ConvertTo(df, g), hn::ConvertTo(df, r), true, range,
                y, cb, cr);
  });
  if (out.planar) {
    hn::StoreU(res[0], d8, out.y + x);
    hn::StoreU(res[1], d8, out.cb + x);
    hn::StoreU(res[2], d8, out.cr + x);
  } else {
    hn::StoreInterleaved3(res[0], res[1], res[2], d8, out.y + 3 * x);
  }
}

HWY_INLINE void InverseBlock8Full(const YccRow<const uint8_t>& in, uint8_t* HWY_RESTRICT bgr,
                                  size_t x, const ColourRange& range) {
  const hn::ScalableTag<uint8_t> d8;
  const hn::Rebind<float, hn::Half<hn::Half<decltype(d8)>>> df;
  hn::Vec<decltype(d8)> ycc[3], res[3];
  if (in.planar) {
    ycc[0] = hn::LoadU(d8, in.y + x);
    ycc[1] = hn::LoadU(d8, in.cb + x);
    ycc[2] = hn::LoadU(d8, in.cr + x);
  } else {
    hn::LoadInterleaved3(d8, in.y + 3 * x, ycc[0], ycc[1], ycc[2]);
  }
  // Input clamps on whole byte vectors; the quarters then skip them.
  ycc[0] = hn::Min(hn::Max(ycc[0], hn::Set(d8, 16)), hn::Set(d8, 235));
  ycc[1] = hn::Min(hn::Max(ycc[1], hn::Set(d8, 16)), hn::Set(d8, 239));
  ycc[2] = hn::Min(hn::Max(ycc[2], hn::Set(d8, 16)), hn::Set(d8, 239));
  ForQuarters(d8, ycc, res, [&](auto y, auto cb, auto cr, auto& b, auto& g, auto& r) {
    InverseMath<true, true>(df, y, cb, cr, range, b, g, r);
  });
  hn::StoreInterleaved3(res[0], res[1], res[2], d8, bgr + 3 * x);
}

// InverseBlockFloatY on one full byte vector of pixels, as four quarters.
HWY_INLINE void InverseBlock8FloatY(const float* y, const uint8_t* cb, const uint8_t* cr,
                                    uint8_t* HWY_RESTRICT bgr, size_t x) {
  const hn::ScalableTag<uint8_t> d8;
  const hn::Half<decltype(d8)> dh;
  const hn::Half<decltype(dh)> dq;
  const hn::Rebind<float, decltype(dq)> df;
  const hn::Rebind<int32_t, decltype(dq)> di;
  const size_t nq = hn::Lanes(df);
  // Chroma clamps on whole byte vectors.
  const auto vcb = hn::Min(hn::Max(hn::LoadU(d8, cb + x), hn::Set(d8, 16)), hn::Set(d8, 239));
  const auto vcr = hn::Min(hn::Max(hn::LoadU(d8, cr + x), hn::Set(d8, 16)), hn::Set(d8, 239));
  const auto quarters = [&](hn::Vec<decltype(d8)> v, hn::Vec<decltype(dq)> (&q)[4]) {
    const auto lo = hn::LowerHalf(dh, v);
    const auto hi = hn::UpperHalf(dh, v);
    q[0] = hn::LowerHalf(dq, lo);
    q[1] = hn::UpperHalf(dq, lo);
    q[2] = hn::LowerHalf(dq, hi);
    q[3] = hn::UpperHalf(dq, hi);
  };
  hn::Vec<decltype(dq)> qcb[4], qcr[4];
  hn::Vec<decltype(di)> r[3][4];
  quarters(vcb, qcb);
  quarters(vcr, qcr);
  const auto cBase = hn::Set(di, kRange8.cBase);
  for (size_t k = 0; k < 4; ++k) {
    InverseFromFloats<true>(df, YFromFloat(df, hn::LoadU(df, y + x + k * nq)),
                            hn::ConvertTo(df, hn::Sub(hn::PromoteTo(di, qcb[k]), cBase)),
                            hn::ConvertTo(df, hn::Sub(hn::PromoteTo(di, qcr[k]), cBase)), kRange8,
                            r[0][k], r[1][k], r[2][k]);
  }
  hn::Vec<decltype(d8)> out[3];
  for (int c = 0; c < 3; ++c) out[c] = PackQuarters(d8, r[c]);
  hn::StoreInterleaved3(out[0], out[1], out[2], d8, bgr + 3 * x);
}
#endif  // HWY_TARGET != HWY_SCALAR

template <typename T>
void ForwardRows(int height, const T* src, int srcStride, T* dst, int dstStride, int width,
                 bool planar, int planeRows, const ColourRange& range) {
  if (width < 1 || height < 1) return;
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  const size_t w = static_cast<size_t>(width);
  const ptrdiff_t srcStep = srcStride / static_cast<ptrdiff_t>(sizeof(T));
  const ptrdiff_t dstStep = dstStride / static_cast<ptrdiff_t>(sizeof(T));
  const ptrdiff_t plane = dstStep * planeRows;
  for (int yRow = 0; yRow < height; ++yRow) {
    const T* s = src + yRow * srcStep;
    T* d = dst + yRow * dstStep;
    const YccRow<T> out{d, d + plane, d + 2 * plane, planar};
    size_t x = 0;
#if HWY_TARGET != HWY_SCALAR
    if constexpr (sizeof(T) == 1) {
      const size_t n8 = hn::Lanes(hn::ScalableTag<uint8_t>());
      for (; x + n8 <= w; x += n8) ForwardBlock8Full(s, out, x, range);
    }
#endif
    for (; x + n <= w; x += n) ForwardBlock(df, s, out, x, range);
    for (; x < w; ++x) ForwardBlock(d1, s, out, x, range);
  }
}

template <typename T>
void InverseRows(int height, const T* src, int srcStride, T* dst, int dstStride, int width,
                 bool planar, int planeRows, const ColourRange& range) {
  if (width < 1 || height < 1) return;
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  const size_t w = static_cast<size_t>(width);
  const ptrdiff_t srcStep = srcStride / static_cast<ptrdiff_t>(sizeof(T));
  const ptrdiff_t dstStep = dstStride / static_cast<ptrdiff_t>(sizeof(T));
  const ptrdiff_t plane = srcStep * planeRows;
  for (int yRow = 0; yRow < height; ++yRow) {
    const T* s = src + yRow * srcStep;
    T* d = dst + yRow * dstStep;
    const YccRow<const T> in{s, s + plane, s + 2 * plane, planar};
    size_t x = 0;
#if HWY_TARGET != HWY_SCALAR
    if constexpr (sizeof(T) == 1) {
      const size_t n8 = hn::Lanes(hn::ScalableTag<uint8_t>());
      for (; x + n8 <= w; x += n8) InverseBlock8Full(in, d, x, range);
    }
#endif
    for (; x + n <= w; x += n) InverseBlock(df, in, d, x, range);
    for (; x < w; ++x) InverseBlock(d1, in, d, x, range);
  }
}

void FloatYCbCrRowsToRgb8Impl(int rows, const float* y, int yStride, const uint8_t* cb,
                              const uint8_t* cr, int cStride, uint8_t* dst, int dstStride,
                              int width) {
  if (width < 1 || rows < 1) return;
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  const size_t w = static_cast<size_t>(width);
  for (int r = 0; r < rows; ++r) {
    const float* yr = reinterpret_cast<const float*>(reinterpret_cast<const uint8_t*>(y) +
                                                     static_cast<ptrdiff_t>(r) * yStride);
    const uint8_t* cbr = cb + static_cast<ptrdiff_t>(r) * cStride;
    const uint8_t* crr = cr + static_cast<ptrdiff_t>(r) * cStride;
    uint8_t* d = dst + static_cast<ptrdiff_t>(r) * dstStride;
    size_t x = 0;
#if HWY_TARGET != HWY_SCALAR
    const size_t n8 = hn::Lanes(hn::ScalableTag<uint8_t>());
    for (; x + n8 <= w; x += n8) InverseBlock8FloatY(yr, cbr, crr, d, x);
#endif
    for (; x + n <= w; x += n) InverseBlockFloatY(df, yr, cbr, crr, d, x);
    for (; x < w; ++x) InverseBlockFloatY(d1, yr, cbr, crr, d, x);
  }
}

void RgbToYCbCr8Impl(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                     int width, bool planar, int planeRows) {
  ForwardRows(height, src, srcStride, dst, dstStride, width, planar, planeRows, kRange8);
}
void RgbToYCbCr16Impl(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                      int width, bool planar, int planeRows) {
  ForwardRows(height, src, srcStride, dst, dstStride, width, planar, planeRows, kRange16);
}
void YCbCrToRgb8Impl(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                     int width, bool planar, int planeRows) {
  InverseRows(height, src, srcStride, dst, dstStride, width, planar, planeRows, kRange8);
}
void YCbCrToRgb16Impl(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                      int width, bool planar, int planeRows) {
  InverseRows(height, src, srcStride, dst, dstStride, width, planar, planeRows, kRange16);
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
