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
