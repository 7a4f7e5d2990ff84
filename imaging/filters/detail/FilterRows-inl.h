// Row kernels of the convolution and sharpening operations, compiled once
// per SIMD target through foreach_target.h. Vectorised across samples; each
// sample sees the operations of the plain loops in the same order (Mul then
// Sub/Add, never fused), and row tails run the same kernel on a one-lane tag.
// Clamping before the + 0.5 and truncation gives the same integers as the
// plain loops' branches: a value above the maximum becomes maximum + 0.5,
// which truncates to the maximum, and one below 0 becomes 0.5, which
// truncates to 0.

#if defined(KELVO_FILTERS_FILTER_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_FILTERS_FILTER_ROWS_INL_H_
#undef KELVO_FILTERS_FILTER_ROWS_INL_H_
#else
#define KELVO_FILTERS_FILTER_ROWS_INL_H_
#endif

#include <cstddef>
#include <cstdint>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class DF, typename T>
HWY_INLINE void WidenBlock(DF df, const T* HWY_RESTRICT src, float* HWY_RESTRICT dst) {
  const hn::Rebind<T, DF> dt;
  const hn::Rebind<int32_t, DF> di;
  hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(dt, src))), df, dst);
}

template <typename T>
void WidenImpl(const T* src, float* dst, size_t count) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  size_t i = 0;
  for (; i + n <= count; i += n) WidenBlock(df, src + i, dst + i);
  for (; i < count; ++i) WidenBlock(d1, src + i, dst + i);
}

template <class DF>
HWY_INLINE hn::Vec<hn::Rebind<int32_t, DF>> RoundClamp(DF df, hn::Vec<DF> v, float maximum) {
  const hn::Rebind<int32_t, DF> di;
  const auto clamped = hn::Min(hn::Max(v, hn::Zero(df)), hn::Set(df, maximum));
  return hn::ConvertTo(di, hn::Add(clamped, hn::Set(df, 0.5f)));
}

template <class DF, typename T>
HWY_INLINE void NarrowBlock(DF df, const float* HWY_RESTRICT src, T* HWY_RESTRICT dst,
                            float maximum) {
  const hn::Rebind<T, DF> dt;
  hn::StoreU(hn::DemoteTo(dt, RoundClamp(df, hn::LoadU(df, src), maximum)), dt, dst);
}

template <typename T>
void NarrowImpl(const float* src, T* dst, size_t count, float maximum) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  size_t i = 0;
  for (; i + n <= count; i += n) NarrowBlock(df, src + i, dst + i, maximum);
  for (; i < count; ++i) NarrowBlock(d1, src + i, dst + i, maximum);
}

// The mask works in double: one double vector of samples per step.
template <class DD, typename T>
HWY_INLINE void MaskBlock(DD dd, const T* HWY_RESTRICT samples, const double* below,
                          const double* above, uint8_t* HWY_RESTRICT mask, int x, int halfSize,
                          double count, float threshold) {
  const hn::Rebind<float, DD> df;
  const hn::Rebind<int32_t, DD> di;
  const hn::Rebind<T, DD> dt;
  const hn::Rebind<uint8_t, DD> d8;
  const auto a = hn::LoadU(dd, below + x + halfSize);
  const auto b = hn::LoadU(dd, below + x - halfSize - 1);
  const auto c = hn::LoadU(dd, above + x + halfSize);
  const auto d = hn::LoadU(dd, above + x - halfSize - 1);
  const auto sum = hn::Add(hn::Sub(hn::Sub(a, b), c), d);
  const auto mean = hn::Div(sum, hn::Set(dd, count));
  const auto sample = hn::PromoteTo(dd, hn::PromoteTo(di, hn::LoadU(dt, samples + x)));
  const auto diff = hn::DemoteTo(df, hn::Sub(sample, mean));
  const auto t = hn::Set(df, threshold);
  const auto marked = hn::Or(hn::Lt(diff, hn::Neg(t)), hn::Gt(diff, t));
  const auto value = hn::IfThenElseZero(hn::RebindMask(di, marked), hn::Set(di, 255));
  hn::StoreU(hn::DemoteTo(d8, value), d8, mask + x);
}

template <typename T>
void MaskImpl(const T* samples, const double* below, const double* above, uint8_t* mask, int first,
              int last, int halfSize, double count, float threshold) {
  const hn::ScalableTag<double> dd;
  const hn::CappedTag<double, 1> d1;
  const int n = static_cast<int>(hn::Lanes(dd));
  int x = first;
  for (; x + n <= last; x += n)
    MaskBlock(dd, samples, below, above, mask, x, halfSize, count, threshold);
  for (; x < last; ++x) MaskBlock(d1, samples, below, above, mask, x, halfSize, count, threshold);
}

template <class DF, typename T>
HWY_INLINE void ApplyBlock(DF df, T* HWY_RESTRICT y, const T* HWY_RESTRICT blur,
                           const uint8_t* HWY_RESTRICT mask, float onePlusA, float a,
                           float maximum) {
  const hn::Rebind<T, DF> dt;
  const hn::Rebind<int32_t, DF> di;
  const hn::Rebind<uint8_t, DF> d8;
  const auto yi = hn::PromoteTo(di, hn::LoadU(dt, y));
  const auto yf = hn::ConvertTo(df, yi);
  const auto bf = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(dt, blur)));
  const auto v = hn::Sub(hn::Mul(hn::Set(df, onePlusA), yf), hn::Mul(hn::Set(df, a), bf));
  const auto m = hn::PromoteTo(di, hn::LoadU(d8, mask));
  const auto result = hn::IfThenElse(hn::Eq(m, hn::Zero(di)), yi, RoundClamp(df, v, maximum));
  hn::StoreU(hn::DemoteTo(dt, result), dt, y);
}

template <typename T>
void ApplyImpl(T* y, const T* blur, const uint8_t* mask, size_t count, float onePlusA, float a,
               float maximum) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  size_t i = 0;
  for (; i + n <= count; i += n) ApplyBlock(df, y + i, blur + i, mask + i, onePlusA, a, maximum);
  for (; i < count; ++i) ApplyBlock(d1, y + i, blur + i, mask + i, onePlusA, a, maximum);
}

// kU neighbouring vectors of one convolved row, starting at output column x:
// each output sums rows[ky][x + hw - kx] * kernel[ky * kw + kx] over ky, then
// kx, from +0, one Mul then one Add per term; kU independent sums keep the
// adders busy without changing any sum.
template <int kU, class DF>
HWY_INLINE void ConvNarrowBlock(DF df, const float* const* rows, const float* kernel, int kw,
                                int kh, ptrdiff_t x, int hw, uint8_t* HWY_RESTRICT out,
                                float maximum) {
  const hn::Rebind<uint8_t, DF> d8;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  hn::Vec<DF> acc[kU];
  for (int u = 0; u < kU; ++u) acc[u] = hn::Zero(df);
  for (int ky = 0; ky < kh; ++ky) {
    const float* row = rows[ky] + x + hw;
    const float* taps = kernel + static_cast<ptrdiff_t>(ky) * kw;
    for (int kx = 0; kx < kw; ++kx) {
      const auto tap = hn::Set(df, taps[kx]);
      const float* p = row - kx;
      for (int u = 0; u < kU; ++u) acc[u] = hn::Add(acc[u], hn::Mul(hn::LoadU(df, p + u * n), tap));
    }
  }
  for (int u = 0; u < kU; ++u) {
    hn::StoreU(hn::DemoteTo(d8, RoundClamp(df, acc[u], maximum)), d8, out + x + u * n);
  }
}

// Kernel sizes known at compile time (kKw, kKh > 0) let the tap loops unroll.
template <int kKw, int kKh>
HWY_INLINE void ConvRowSized(const float* const* rows, const float* kernel, int kw, int kh,
                             int first, int last, uint8_t* out, float maximum) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  if (kKw > 0) kw = kKw;
  if (kKh > 0) kh = kKh;
  const int hw = kw / 2;
  ptrdiff_t x = first;
  for (; x + 8 * n <= last; x += 8 * n) {
    ConvNarrowBlock<8>(df, rows, kernel, kw, kh, x, hw, out, maximum);
  }
  for (; x + n <= last; x += n) ConvNarrowBlock<1>(df, rows, kernel, kw, kh, x, hw, out, maximum);
  for (; x < last; ++x) ConvNarrowBlock<1>(d1, rows, kernel, kw, kh, x, hw, out, maximum);
}

void ConvRow8(const float* const* rows, const float* kernel, int kw, int kh, int first, int last,
              uint8_t* out, float maximum) {
  if (kw == 5 && kh == 5)
    return ConvRowSized<5, 5>(rows, kernel, kw, kh, first, last, out, maximum);
  if (kw == 3 && kh == 3)
    return ConvRowSized<3, 3>(rows, kernel, kw, kh, first, last, out, maximum);
  ConvRowSized<0, 0>(rows, kernel, kw, kh, first, last, out, maximum);
}

// A kernel whose taps are all one value but the centre one: the products of
// the source samples with the common tap are made once per source row
// (WidenScaled8) rather than once per output, so each term but the centre is
// one Add of a stored product. Terms and their order are those of
// ConvNarrowBlock, so every sum is the same; the centre product is made from
// the source bytes as WidenBlock and the Mul of ConvNarrowBlock make it.
template <int kU, int kKw, int kKh, class DF>
HWY_INLINE void ConvUniformBlock(DF df, const float* const* products, const uint8_t* centre,
                                 float centreTap, int kw, int kh, ptrdiff_t x, int hw,
                                 uint8_t* HWY_RESTRICT out, float maximum) {
  const hn::Rebind<uint8_t, DF> d8;
  const hn::Rebind<int32_t, DF> di;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  if (kKw > 0) kw = kKw;
  if (kKh > 0) kh = kKh;
  const int cy = kh / 2, cx = kw / 2;
  hn::Vec<DF> acc[kU];
  for (int u = 0; u < kU; ++u) acc[u] = hn::Zero(df);
  for (int ky = 0; ky < kh; ++ky) {
    const float* row = products[ky] + x + hw;
    for (int kx = 0; kx < kw; ++kx) {
      if (ky == cy && kx == cx) {
        const auto tap = hn::Set(df, centreTap);
        const uint8_t* c = centre + x + hw - kx;
        for (int u = 0; u < kU; ++u) {
          const auto v = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, c + u * n)));
          acc[u] = hn::Add(acc[u], hn::Mul(v, tap));
        }
      } else {
        const float* p = row - kx;
        for (int u = 0; u < kU; ++u) acc[u] = hn::Add(acc[u], hn::LoadU(df, p + u * n));
      }
    }
  }
  for (int u = 0; u < kU; ++u) {
    hn::StoreU(hn::DemoteTo(d8, RoundClamp(df, acc[u], maximum)), d8, out + x + u * n);
  }
}

template <int kKw, int kKh>
HWY_INLINE void ConvUniformSized(const float* const* products, const uint8_t* centre,
                                 float centreTap, int kw, int kh, int first, int last, uint8_t* out,
                                 float maximum) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  const int hw = (kKw > 0 ? kKw : kw) / 2;
  ptrdiff_t x = first;
  for (; x + 8 * n <= last; x += 8 * n) {
    ConvUniformBlock<8, kKw, kKh>(df, products, centre, centreTap, kw, kh, x, hw, out, maximum);
  }
  for (; x + n <= last; x += n) {
    ConvUniformBlock<1, kKw, kKh>(df, products, centre, centreTap, kw, kh, x, hw, out, maximum);
  }
  for (; x < last; ++x) {
    ConvUniformBlock<1, kKw, kKh>(d1, products, centre, centreTap, kw, kh, x, hw, out, maximum);
  }
}

void ConvUniformRow8(const float* const* products, const uint8_t* centre, float centreTap, int kw,
                     int kh, int first, int last, uint8_t* out, float maximum) {
  if (kw == 5 && kh == 5)
    return ConvUniformSized<5, 5>(products, centre, centreTap, kw, kh, first, last, out, maximum);
  if (kw == 3 && kh == 3)
    return ConvUniformSized<3, 3>(products, centre, centreTap, kw, kh, first, last, out, maximum);
  ConvUniformSized<0, 0>(products, centre, centreTap, kw, kh, first, last, out, maximum);
}

// acc + v with the same bits as Add, issued where the processor has fused
// multiply-adds as v * 1 + acc: the product is v exactly and the one
// rounding is that of the sum, signed zeros and infinities included.
// Processors with separate adders and multipliers then share a long chain
// of additions between both. Without native fused multiply-adds it is the
// plain Add.
template <class DF>
HWY_INLINE hn::Vec<DF> AddOnMultiplier(DF df, hn::Vec<DF> acc, hn::Vec<DF> v) {
#if HWY_NATIVE_FMA
  return hn::MulAdd(v, hn::Set(df, 1.0f), acc);
#else
  (void)df;
  return hn::Add(acc, v);
#endif
}

// The tap loops below ask to be unrolled, which they are for the kernel
// sizes known at compile time; for a size known only at run time they stay
// loops, which clang reports as a failed request.
HWY_DIAGNOSTICS(push)
#if HWY_COMPILER_CLANG
HWY_DIAGNOSTICS_OFF(disable : 4000, ignored "-Wpass-failed")
#endif

// kR neighbouring output rows of ConvUniformBlock at once: products[j] is
// the source row y + kR - 1 + kh / 2 - j, and output r (row y + kR - 1 - r,
// centre bytes centres[r], into outs[r]) takes products r .. r + kh - 1 as
// its kernel rows. Walking the rows in that order keeps every output's
// terms in its own order, and each product loaded serves up to kR rows.
template <int kR, int kU, int kKw, int kKh, class DF>
HWY_INLINE void ConvUniformRowsBlock(DF df, const float* const* products,
                                     const uint8_t* const* centres, float centreTap, int kw, int kh,
                                     ptrdiff_t x, int hw, uint8_t* const* outs, float maximum) {
  const hn::Rebind<uint8_t, DF> d8;
  const hn::Rebind<int32_t, DF> di;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  if (kKw > 0) kw = kKw;
  if (kKh > 0) kh = kKh;
  const int cy = kh / 2, cx = kw / 2;
  const auto tap = hn::Set(df, centreTap);
  hn::Vec<DF> acc[kR][kU];
  for (int r = 0; r < kR; ++r) {
    for (int u = 0; u < kU; ++u) acc[r][u] = hn::Zero(df);
  }
  HWY_UNROLL(8)
  for (int j = 0; j < kh + kR - 1; ++j) {
    const float* row = products[j] + x + hw;
    HWY_UNROLL(8)
    for (int kx = 0; kx < kw; ++kx) {
      const float* p = row - kx;
      HWY_UNROLL(4)
      for (int u = 0; u < kU; ++u) {
        const auto v = hn::LoadU(df, p + u * n);
        HWY_UNROLL(4)
        for (int r = 0; r < kR; ++r) {
          const int ky = j - r;
          if (ky < 0 || ky >= kh) continue;
          auto t = v;
          if (ky == cy && kx == cx) {
            const uint8_t* c = centres[r] + x + hw - kx + u * n;
            t = hn::Mul(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, c))), tap);
          }
          // Half of the additions on the multipliers (see AddOnMultiplier).
          acc[r][u] = (kx + r) % 2 == 1 ? AddOnMultiplier(df, acc[r][u], t) : hn::Add(acc[r][u], t);
        }
      }
    }
  }
  for (int r = 0; r < kR; ++r) {
    for (int u = 0; u < kU; ++u) {
      hn::StoreU(hn::DemoteTo(d8, RoundClamp(df, acc[r][u], maximum)), d8, outs[r] + x + u * n);
    }
  }
}

template <int kR, int kKw, int kKh>
HWY_INLINE void ConvUniformRowsSized(const float* const* products, const uint8_t* const* centres,
                                     float centreTap, int kw, int kh, int first, int last,
                                     uint8_t* const* outs, float maximum) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  constexpr int kU = 8 / kR;
  const int hw = (kKw > 0 ? kKw : kw) / 2;
  ptrdiff_t x = first;
  for (; x + kU * n <= last; x += kU * n) {
    ConvUniformRowsBlock<kR, kU, kKw, kKh>(df, products, centres, centreTap, kw, kh, x, hw, outs,
                                           maximum);
  }
  for (; x + n <= last; x += n) {
    ConvUniformRowsBlock<kR, 1, kKw, kKh>(df, products, centres, centreTap, kw, kh, x, hw, outs,
                                          maximum);
  }
  for (; x < last; ++x) {
    ConvUniformRowsBlock<kR, 1, kKw, kKh>(d1, products, centres, centreTap, kw, kh, x, hw, outs,
                                          maximum);
  }
}

template <int kR>
HWY_INLINE void ConvUniformRowsOf(const float* const* products, const uint8_t* const* centres,
                                  float centreTap, int kw, int kh, int first, int last,
                                  uint8_t* const* outs, float maximum) {
  if (kw == 5 && kh == 5) {
    return ConvUniformRowsSized<kR, 5, 5>(products, centres, centreTap, kw, kh, first, last, outs,
                                          maximum);
  }
  if (kw == 3 && kh == 3) {
    return ConvUniformRowsSized<kR, 3, 3>(products, centres, centreTap, kw, kh, first, last, outs,
                                          maximum);
  }
  ConvUniformRowsSized<kR, 0, 0>(products, centres, centreTap, kw, kh, first, last, outs, maximum);
}

void ConvUniformRows8(const float* const* products, const uint8_t* const* centres, int rows,
                      float centreTap, int kw, int kh, int first, int last, uint8_t* const* outs,
                      float maximum) {
  if (rows == 4) {
    return ConvUniformRowsOf<4>(products, centres, centreTap, kw, kh, first, last, outs, maximum);
  }
  ConvUniformRowsOf<2>(products, centres, centreTap, kw, kh, first, last, outs, maximum);
}
HWY_DIAGNOSTICS(pop)

template <class DF>
HWY_INLINE void WidenScaledBlock(DF df, const uint8_t* HWY_RESTRICT src, float* HWY_RESTRICT dst,
                                 float scale) {
  const hn::Rebind<uint8_t, DF> d8;
  const hn::Rebind<int32_t, DF> di;
  const auto v = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, src)));
  hn::StoreU(hn::Mul(v, hn::Set(df, scale)), df, dst);
}

void WidenScaled8(const uint8_t* src, float* dst, size_t count, float scale) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const size_t n = hn::Lanes(df);
  size_t i = 0;
  for (; i + n <= count; i += n) WidenScaledBlock(df, src + i, dst + i, scale);
  for (; i < count; ++i) WidenScaledBlock(d1, src + i, dst + i, scale);
}

template <class DI>
HWY_INLINE void ColumnSumBlock(DI di, const uint8_t* const* rows, int rowCount, size_t i,
                               int32_t* HWY_RESTRICT sums) {
  const hn::Rebind<uint8_t, DI> d8;
  auto acc = hn::Zero(di);
  for (int r = 0; r < rowCount; ++r)
    acc = hn::Add(acc, hn::PromoteTo(di, hn::LoadU(d8, rows[r] + i)));
  hn::StoreU(acc, di, sums + i);
}

void ColumnSums8(const uint8_t* const* rows, int rowCount, size_t count, int32_t* sums) {
  const hn::ScalableTag<int32_t> di;
  const hn::CappedTag<int32_t, 1> d1;
  const size_t n = hn::Lanes(di);
  size_t i = 0;
  for (; i + n <= count; i += n) ColumnSumBlock(di, rows, rowCount, i, sums);
  for (; i < count; ++i) ColumnSumBlock(d1, rows, rowCount, i, sums);
}

template <class DI>
HWY_INLINE void SlideBlock(DI di, int32_t* HWY_RESTRICT sums, const uint8_t* HWY_RESTRICT add,
                           const uint8_t* HWY_RESTRICT remove, size_t i) {
  const hn::Rebind<uint8_t, DI> d8;
  auto s = hn::LoadU(di, sums + i);
  if (add != nullptr) s = hn::Add(s, hn::PromoteTo(di, hn::LoadU(d8, add + i)));
  if (remove != nullptr) s = hn::Sub(s, hn::PromoteTo(di, hn::LoadU(d8, remove + i)));
  hn::StoreU(s, di, sums + i);
}

void SlideSums8(int32_t* sums, const uint8_t* add, const uint8_t* remove, size_t count) {
  const hn::ScalableTag<int32_t> di;
  const hn::CappedTag<int32_t, 1> d1;
  const size_t n = hn::Lanes(di);
  size_t i = 0;
  for (; i + n <= count; i += n) SlideBlock(di, sums, add, remove, i);
  for (; i < count; ++i) SlideBlock(d1, sums, add, remove, i);
}

// Integer form of the contrast mask: m = count * sample - window sum, marked
// when m > markAbove or m < markBelow.
template <class DI>
HWY_INLINE void SumMaskBlock(DI di, const int32_t* sums, const uint8_t* HWY_RESTRICT samples,
                             uint8_t* HWY_RESTRICT mask, int x, int halfSize, int count,
                             int markAbove, int markBelow) {
  const hn::Rebind<uint8_t, DI> d8;
  auto window = hn::Zero(di);
  for (int j = -halfSize; j <= halfSize; ++j) window = hn::Add(window, hn::LoadU(di, sums + x + j));
  const auto sample = hn::PromoteTo(di, hn::LoadU(d8, samples + x));
  const auto m = hn::Sub(hn::Mul(sample, hn::Set(di, count)), window);
  const auto marked = hn::Or(hn::Gt(m, hn::Set(di, markAbove)), hn::Lt(m, hn::Set(di, markBelow)));
  hn::StoreU(hn::DemoteTo(d8, hn::IfThenElseZero(marked, hn::Set(di, 255))), d8, mask + x);
}

void SumMask8(const int32_t* sums, const uint8_t* samples, uint8_t* mask, int first, int last,
              int halfSize, int count, int markAbove, int markBelow) {
  const hn::ScalableTag<int32_t> di;
  const hn::CappedTag<int32_t, 1> d1;
  const int n = static_cast<int>(hn::Lanes(di));
  int x = first;
  for (; x + n <= last; x += n) {
    SumMaskBlock(di, sums, samples, mask, x, halfSize, count, markAbove, markBelow);
  }
  for (; x < last; ++x)
    SumMaskBlock(d1, sums, samples, mask, x, halfSize, count, markAbove, markBelow);
}

// One vector of the finished row: the blur of the high-pass samples (as
// ConvNarrowBlock, narrowed and widened back, the value the blur row would
// hold), the integer contrast mask (as SumMaskBlock) and the masked unsharp
// step (as ApplyBlock), without storing the blur or the mask.
template <class DF>
HWY_INLINE void FinishBlock(DF df, const float* const* blurRows, const float* blurKernel,
                            int blurSize, const int32_t* sums, const uint8_t* HWY_RESTRICT high,
                            uint8_t* HWY_RESTRICT out, ptrdiff_t x, int halfSize, int count,
                            int markAbove, int markBelow, float onePlusA, float a) {
  const hn::Rebind<int32_t, DF> di;
  const hn::Rebind<uint8_t, DF> d8;
  auto window = hn::Zero(di);
  for (int j = -halfSize; j <= halfSize; ++j) window = hn::Add(window, hn::LoadU(di, sums + x + j));
  const auto sample8 = hn::LoadU(d8, high + x);
  const auto sample = hn::PromoteTo(di, sample8);
  const auto m = hn::Sub(hn::Mul(sample, hn::Set(di, count)), window);
  const auto marked = hn::Or(hn::Gt(m, hn::Set(di, markAbove)), hn::Lt(m, hn::Set(di, markBelow)));
  // Flat stretches mark no sample: they keep the high-pass bytes and their
  // blur, which nothing would read, is not computed.
  if (hn::AllFalse(di, marked)) {
    hn::StoreU(sample8, d8, out + x);
    return;
  }
  const int hw = blurSize / 2;
  auto acc = hn::Zero(df);
  for (int ky = 0; ky < blurSize; ++ky) {
    const float* row = blurRows[ky] + x + hw;
    const float* taps = blurKernel + static_cast<ptrdiff_t>(ky) * blurSize;
    for (int kx = 0; kx < blurSize; ++kx) {
      acc = hn::Add(acc, hn::Mul(hn::LoadU(df, row - kx), hn::Set(df, taps[kx])));
    }
  }
  const auto blur = hn::ConvertTo(df, RoundClamp(df, acc, 255.0f));
  const auto v = hn::Sub(hn::Mul(hn::Set(df, onePlusA), hn::ConvertTo(df, sample)),
                         hn::Mul(hn::Set(df, a), blur));
  const auto result = hn::IfThenElse(marked, RoundClamp(df, v, 255.0f), sample);
  hn::StoreU(hn::DemoteTo(d8, result), d8, out + x);
}

template <int kBlur>
HWY_INLINE void FinishRowSized(const float* const* blurRows, const float* blurKernel, int blurSize,
                               const int32_t* sums, const uint8_t* high, uint8_t* out, int first,
                               int last, int halfSize, int count, int markAbove, int markBelow,
                               float onePlusA, float a) {
  const hn::ScalableTag<float> df;
  const hn::CappedTag<float, 1> d1;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(df));
  if (kBlur > 0) blurSize = kBlur;
  ptrdiff_t x = first;
  for (; x + n <= last; x += n) {
    FinishBlock(df, blurRows, blurKernel, blurSize, sums, high, out, x, halfSize, count, markAbove,
                markBelow, onePlusA, a);
  }
  for (; x < last; ++x) {
    FinishBlock(d1, blurRows, blurKernel, blurSize, sums, high, out, x, halfSize, count, markAbove,
                markBelow, onePlusA, a);
  }
}

void FinishRow8(const float* const* blurRows, const float* blurKernel, int blurSize,
                const int32_t* sums, const uint8_t* high, uint8_t* out, int first, int last,
                int halfSize, int count, int markAbove, int markBelow, float onePlusA, float a) {
  if (blurSize == 3 && halfSize == 1) {
    return FinishRowSized<3>(blurRows, blurKernel, blurSize, sums, high, out, first, last, 1, count,
                             markAbove, markBelow, onePlusA, a);
  }
  FinishRowSized<0>(blurRows, blurKernel, blurSize, sums, high, out, first, last, halfSize, count,
                    markAbove, markBelow, onePlusA, a);
}

void Widen8(const uint8_t* src, float* dst, size_t count) {
  WidenImpl(src, dst, count);
}
void Widen16(const uint16_t* src, float* dst, size_t count) {
  WidenImpl(src, dst, count);
}
void Narrow8(const float* src, uint8_t* dst, size_t count, float maximum) {
  NarrowImpl(src, dst, count, maximum);
}
void Narrow16(const float* src, uint16_t* dst, size_t count, float maximum) {
  NarrowImpl(src, dst, count, maximum);
}
void Mask8(const uint8_t* samples, const double* below, const double* above, uint8_t* mask,
           int first, int last, int halfSize, double count, float threshold) {
  MaskImpl(samples, below, above, mask, first, last, halfSize, count, threshold);
}
void Mask16(const uint16_t* samples, const double* below, const double* above, uint8_t* mask,
            int first, int last, int halfSize, double count, float threshold) {
  MaskImpl(samples, below, above, mask, first, last, halfSize, count, threshold);
}
void Apply8(uint8_t* y, const uint8_t* blur, const uint8_t* mask, size_t count, float onePlusA,
            float a, float maximum) {
  ApplyImpl(y, blur, mask, count, onePlusA, a, maximum);
}
void Apply16(uint16_t* y, const uint16_t* blur, const uint8_t* mask, size_t count, float onePlusA,
             float a, float maximum) {
  ApplyImpl(y, blur, mask, count, onePlusA, a, maximum);
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
