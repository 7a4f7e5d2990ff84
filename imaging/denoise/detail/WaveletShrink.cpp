#include "imaging/denoise/detail/WaveletShrink.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/denoise/detail/WaveletShrink.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class D>
HWY_INLINE void ShrinkVector(D d, float* x, float t, bool soft) {
  const auto v = hn::LoadU(d, x);
  const auto inside = hn::And(hn::Ge(v, hn::Set(d, -t)), hn::Le(v, hn::Set(d, t)));
  // v + t is v - (-t), the same bits.
  const auto kept =
      soft ? hn::Sub(v, hn::IfThenElse(hn::Gt(v, hn::Zero(d)), hn::Set(d, t), hn::Set(d, -t))) : v;
  hn::StoreU(hn::IfThenZeroElse(inside, kept), d, x);
}

void ShrinkImpl(float* x, size_t n, float t, bool soft) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) ShrinkVector(d, x + i, t, soft);
  const hn::CappedTag<float, 1> d1;
  for (; i < n; ++i) ShrinkVector(d1, x + i, t, soft);
}

// Samples widened to 32-bit integers and converted: exact for both depths.
template <class T>
void ToFloatsImpl(const T* in, float* out, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<int32_t, decltype(df)> di;
  const hn::Rebind<T, decltype(df)> dt;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(dt, in + i))), df, out + i);
  }
  for (; i < n; ++i) out[i] = static_cast<float>(in[i]);
}

// out[j] = last[-j]: a vector of samples ending at last - i, widened,
// converted and reversed.
template <class T>
void ToFloatsReversedImpl(const T* last, float* out, size_t n) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<int32_t, decltype(df)> di;
  const hn::Rebind<T, decltype(df)> dt;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const T* from = last - static_cast<ptrdiff_t>(i + lanes - 1);
    hn::StoreU(hn::Reverse(df, hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(dt, from)))), df,
               out + i);
  }
  for (; i < n; ++i) out[i] = static_cast<float>(*(last - static_cast<ptrdiff_t>(i)));
}

void BytesReversedImpl(const uint8_t* last, uint8_t* out, size_t n) {
  // Blocks of at most 16 bytes, reversed by a byte shuffle within them.
  const hn::CappedTag<uint8_t, 16> d;
  const size_t lanes = hn::Lanes(d);
  const auto order = hn::Sub(hn::Set(d, static_cast<uint8_t>(lanes - 1)), hn::Iota(d, 0));
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const uint8_t* from = last - static_cast<ptrdiff_t>(i + lanes - 1);
    hn::StoreU(hn::TableLookupBytes(hn::LoadU(d, from), order), d, out + i);
  }
  for (; i < n; ++i) out[i] = *(last - static_cast<ptrdiff_t>(i));
}

template <class D, class T>
HWY_INLINE void RoundVector(D d, const float* in, T* out, float maxValue) {
  const hn::Rebind<int32_t, D> di;
  const hn::Rebind<T, D> dt;
  auto v = hn::LoadU(d, in);
  v = hn::IfThenElse(hn::Gt(v, hn::Zero(d)), v, hn::Zero(d));
  v = hn::IfThenElse(hn::Lt(v, hn::Set(d, maxValue)), v, hn::Set(d, maxValue));
  const auto whole = hn::ConvertTo(di, v);  // truncation: v is not negative
  const auto fraction = hn::Sub(v, hn::ConvertTo(d, whole));
  const auto up = hn::RebindMask(di, hn::Ge(fraction, hn::Set(d, 0.5f)));
  const auto rounded = hn::IfThenElse(up, hn::Add(whole, hn::Set(di, 1)), whole);
  hn::StoreU(hn::DemoteTo(dt, rounded), dt, out);
}

template <class T>
void ToSamplesImpl(const float* in, T* out, size_t n, float maxValue) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) RoundVector(d, in + i, out + i, maxValue);
  const hn::CappedTag<float, 1> d1;
  for (; i < n; ++i) RoundVector(d1, in + i, out + i, maxValue);
}

void FloatsTo8Impl(const float* in, uint8_t* out, size_t n) {
  ToSamplesImpl(in, out, n, 255.0f);
}
void FloatsTo16Impl(const float* in, uint16_t* out, size_t n) {
  ToSamplesImpl(in, out, n, 4095.0f);
}
void From8Impl(const uint8_t* in, float* out, size_t n) {
  ToFloatsImpl(in, out, n);
}
void From16Impl(const uint16_t* in, float* out, size_t n) {
  ToFloatsImpl(in, out, n);
}
void From8ReversedImpl(const uint8_t* last, float* out, size_t n) {
  ToFloatsReversedImpl(last, out, n);
}
void From16ReversedImpl(const uint16_t* last, float* out, size_t n) {
  ToFloatsReversedImpl(last, out, n);
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <algorithm>

#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(ShrinkImpl);
HWY_EXPORT(FloatsTo8Impl);
HWY_EXPORT(FloatsTo16Impl);
HWY_EXPORT(From8Impl);
HWY_EXPORT(From16Impl);
HWY_EXPORT(From8ReversedImpl);
HWY_EXPORT(From16ReversedImpl);
HWY_EXPORT(BytesReversedImpl);

namespace {

// fn(begin, count) over chunks of [0, n) on the library's threads: every
// element is computed on its own, so chunks give the same values as one
// pass.
template <class Fn>
void InChunks(size_t n, const Fn& fn) {
  constexpr size_t kChunk = size_t{1} << 15;
  const size_t chunks = (n + kChunk - 1) / kChunk;
  kelvo::ParallelRows(static_cast<int>(chunks), 1, [&](int c0, int c1) {
    const size_t begin = static_cast<size_t>(c0) * kChunk;
    fn(begin, std::min(n, static_cast<size_t>(c1) * kChunk) - begin);
  });
}

}  // namespace

void ShrinkCoefficients(float* x, size_t n, float t, bool soft) noexcept {
  InChunks(n, [&](size_t b, size_t c) { HWY_DYNAMIC_DISPATCH(ShrinkImpl)(x + b, c, t, soft); });
}
void SamplesToFloats(const uint8_t* in, float* out, size_t n) noexcept {
  InChunks(n, [&](size_t b, size_t c) { HWY_DYNAMIC_DISPATCH(From8Impl)(in + b, out + b, c); });
}
void SamplesToFloats(const uint16_t* in, float* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(From16Impl)(in, out, n);
}
void SamplesToFloatsReversed(const uint8_t* last, float* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(From8ReversedImpl)(last, out, n);
}
void SamplesToFloatsReversed(const uint16_t* last, float* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(From16ReversedImpl)(last, out, n);
}
void BytesReversed(const uint8_t* last, uint8_t* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(BytesReversedImpl)(last, out, n);
}
void FloatsToSamples(const float* in, uint8_t* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(FloatsTo8Impl)(in, out, n);
}
void FloatsToSamples(const float* in, uint16_t* out, size_t n) noexcept {
  HWY_DYNAMIC_DISPATCH(FloatsTo16Impl)(in, out, n);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
