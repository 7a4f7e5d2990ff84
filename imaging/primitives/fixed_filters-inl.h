// Fixed-kernel filters (Gauss, Laplace, Sharpen), compiled once per target
// (see detail/Dispatch.h). Included only by FixedFilters.cpp.

#if defined(KELVO_PRIMITIVES_FIXED_FILTERS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_PRIMITIVES_FIXED_FILTERS_INL_H_
#undef KELVO_PRIMITIVES_FIXED_FILTERS_INL_H_
#else
#define KELVO_PRIMITIVES_FIXED_FILTERS_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "hwy/highway.h"

#ifndef KELVO_PRIMITIVES_FIXED_KERNELS_DEFINED
#define KELVO_PRIMITIVES_FIXED_KERNELS_DEFINED
namespace kelvo::primitives::detail {

// How an integer kernel sum becomes a sample (before saturation).
enum class Scale {
  kNone,    // Laplace: the sum itself
  kDiv8,    // Sharpen: floor(sum / 8 + 1/2)
  kDiv16,   // Gauss 3x3: floor(sum / 16 + 1/2)
  kDiv571,  // Gauss 5x5: nearest integer to sum / 571 (sum >= 0, no ties)
};

// All fixed kernels are symmetric in x, in y and across the diagonal, so a
// kernel is given by its weight w[|dy|][|dx|] for radius R.
struct FixedKernel {
  int radius;
  int w[3][3];
  Scale scale;
};

inline constexpr FixedKernel kGauss3{1, {{4, 2}, {2, 1}}, Scale::kDiv16};
inline constexpr FixedKernel kGauss5{2, {{127, 52, 12}, {52, 31, 7}, {12, 7, 2}}, Scale::kDiv571};
inline constexpr FixedKernel kLaplace3{1, {{8, -1}, {-1, -1}}, Scale::kNone};
inline constexpr FixedKernel kLaplace5{2, {{20, 6, -4}, {6, 0, -3}, {-4, -3, -1}}, Scale::kNone};
inline constexpr FixedKernel kSharpen3{1, {{16, -1}, {-1, -1}}, Scale::kDiv8};

}  // namespace kelvo::primitives::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kelvo::primitives::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class D, class V>
HWY_INLINE V AddWeighted(D d, V acc, V v, int w) {
  if (w == 0) return acc;
  if (w == 1) return hn::Add(acc, v);
  if (w == -1) return hn::Sub(acc, v);
  return hn::Add(acc, hn::Mul(v, hn::Set(d, w)));
}

// Kernel sum for the samples at index i of the rows (rows[R] is the centre
// row), `ch` samples per pixel. Integer arithmetic is exact, so the samples
// are first summed over the four symmetric positions that share a weight.
template <const detail::FixedKernel& K, class D, class T>
HWY_INLINE hn::Vec<D> KernelSum(D d, const T* const* rows, ptrdiff_t i, int ch) {
  constexpr int R = K.radius;
  const hn::Rebind<T, D> dt;
  auto load = [&](int dy, int dx) {
    return hn::PromoteTo(d, hn::LoadU(dt, rows[R + dy] + i + dx * ch));
  };
  // folded[ady][adx]: the sum of the samples at (+-adx, +-ady).
  hn::Vec<D> folded[R + 1][R + 1];
  for (int ady = 0; ady <= R; ++ady) {
    for (int adx = 0; adx <= R; ++adx) {
      auto col = [&](int dx) {
        return ady == 0 ? load(0, dx) : hn::Add(load(-ady, dx), load(ady, dx));
      };
      folded[ady][adx] = adx == 0 ? col(0) : hn::Add(col(-adx), col(adx));
    }
  }
  auto acc = hn::Zero(d);
  for (int ady = 0; ady <= R; ++ady) {
    for (int adx = ady; adx <= R; ++adx) {
      auto v = folded[ady][adx];
      if (adx != ady) v = hn::Add(v, folded[adx][ady]);  // same weight across the diagonal
      acc = AddWeighted(d, acc, v, K.w[ady][adx]);
    }
  }
  return acc;
}

template <const detail::FixedKernel& K, class D>
HWY_INLINE hn::Vec<D> ScaleSum(D d, hn::Vec<D> s) {
  if constexpr (K.scale == detail::Scale::kDiv8) {
    return hn::ShiftRight<3>(hn::Add(s, hn::Set(d, 4)));
  } else if constexpr (K.scale == detail::Scale::kDiv16) {
    return hn::ShiftRight<4>(hn::Add(s, hn::Set(d, 8)));
  } else if constexpr (K.scale == detail::Scale::kDiv571) {
    // (s + 285.5) / 571 is never within 1/1142 of an integer, far more than
    // the float error, so truncating the float product is the exact
    // nearest integer of s / 571.
    const hn::Rebind<float, D> df;
    const auto q =
        hn::Mul(hn::Add(hn::ConvertTo(df, s), hn::Set(df, 285.5f)), hn::Set(df, 1.0f / 571.0f));
    return hn::ConvertTo(d, q);
  } else {
    return s;
  }
}

// Accumulator lanes: 8-bit sources with every kernel but the 5x5 Gaussian
// stay within 16 bits (at most 88 * 255 in magnitude), 16-bit sources need
// 32 bits.
template <const detail::FixedKernel& K, class T>
using AccLane = std::conditional_t<sizeof(T) == 1, int16_t, int32_t>;

template <const detail::FixedKernel& K, class T>
HWY_INLINE void FilterImage(const T* src, int srcStep, T* dst, int dstStep, int width, int height,
                            int ch) {
  constexpr int R = K.radius;
  using A = AccLane<K, T>;
  const hn::ScalableTag<A> d;
  const hn::CappedTag<A, 1> d1;
  const hn::Rebind<T, decltype(d)> dt;
  const hn::Rebind<T, decltype(d1)> dt1;
  const ptrdiff_t n = static_cast<ptrdiff_t>(width) * ch;
  const ptrdiff_t lanes = static_cast<ptrdiff_t>(hn::Lanes(d));
  const T* rows[2 * R + 1];
  for (int y = 0; y < height; ++y) {
    for (int j = -R; j <= R; ++j) {
      rows[R + j] = reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(src) +
                                               static_cast<ptrdiff_t>(srcStep) * (y + j));
    }
    T* out =
        reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(dst) + static_cast<ptrdiff_t>(dstStep) * y);
    ptrdiff_t i = 0;
    for (; i + lanes <= n; i += lanes) {
      hn::StoreU(hn::DemoteTo(dt, ScaleSum<K>(d, KernelSum<K>(d, rows, i, ch))), dt, out + i);
    }
    for (; i < n; ++i) {
      hn::StoreU(hn::DemoteTo(dt1, ScaleSum<K>(d1, KernelSum<K>(d1, rows, i, ch))), dt1, out + i);
    }
  }
}

// The 5x5 Gaussian of 8-bit samples: the symmetric groups are summed in
// 16-bit lanes and weighted in three pairs whose sums stay below 65536
// (127 * 255 + 31 * 1020, 52 * 1020 + 12 * 1020, 7 * 2040 + 2 * 1020);
// the pairs are then added in 32 bits and divided by 571.
template <class D>
HWY_INLINE void Gauss5Partials(D d, const uint8_t* const* rows, ptrdiff_t i, int ch,
                               hn::Vec<D>* p) {
  const hn::Rebind<uint8_t, D> d8;
  auto load = [&](int dy, int dx) {
    return hn::PromoteTo(d, hn::LoadU(d8, rows[2 + dy] + i + dx * ch));
  };
  auto col = [&](int ady, int dx) {
    return ady == 0 ? load(0, dx) : hn::Add(load(-ady, dx), load(ady, dx));
  };
  auto folded = [&](int ady, int adx) {
    return adx == 0 ? col(ady, 0) : hn::Add(col(ady, -adx), col(ady, adx));
  };
  const auto g00 = folded(0, 0);
  const auto g01 = hn::Add(folded(0, 1), folded(1, 0));
  const auto g02 = hn::Add(folded(0, 2), folded(2, 0));
  const auto g11 = folded(1, 1);
  const auto g12 = hn::Add(folded(1, 2), folded(2, 1));
  const auto g22 = folded(2, 2);
  auto w = [&](int v) { return hn::Set(d, static_cast<uint16_t>(v)); };
  p[0] = hn::Add(hn::Mul(g00, w(127)), hn::Mul(g11, w(31)));
  p[1] = hn::Add(hn::Mul(g01, w(52)), hn::Mul(g02, w(12)));
  p[2] = hn::Add(hn::Mul(g12, w(7)), hn::Mul(g22, w(2)));
}

template <class D32>
HWY_INLINE hn::Vec<hn::Rebind<uint8_t, D32>> Gauss5Finish(D32 d32, hn::Vec<D32> a, hn::Vec<D32> b,
                                                          hn::Vec<D32> c) {
  const auto sum = hn::Add(hn::Add(a, b), c);
  return hn::DemoteTo(hn::Rebind<uint8_t, D32>(), ScaleSum<detail::kGauss5>(d32, sum));
}

HWY_INLINE void Gauss5Image8u(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                              int height, int ch) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(width) * ch;
  const hn::CappedTag<uint16_t, 1> d1;
  const hn::Rebind<int32_t, decltype(d1)> d1w;
  const uint8_t* rows[5];
  for (int y = 0; y < height; ++y) {
    for (int j = -2; j <= 2; ++j) rows[2 + j] = src + static_cast<ptrdiff_t>(srcStep) * (y + j);
    uint8_t* out = dst + static_cast<ptrdiff_t>(dstStep) * y;
    ptrdiff_t i = 0;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<uint16_t> d;
    const hn::Half<decltype(d)> dh;
    const hn::Rebind<int32_t, decltype(dh)> dw;
    const ptrdiff_t lanes = static_cast<ptrdiff_t>(hn::Lanes(d));
    const ptrdiff_t half = lanes / 2;
    for (; i + lanes <= n; i += lanes) {
      hn::Vec<decltype(d)> p[3];
      Gauss5Partials(d, rows, i, ch, p);
      auto lo = [&](int k) { return hn::PromoteTo(dw, hn::LowerHalf(dh, p[k])); };
      auto hi = [&](int k) { return hn::PromoteTo(dw, hn::UpperHalf(dh, p[k])); };
      const hn::Rebind<uint8_t, decltype(dw)> d8;
      hn::StoreU(Gauss5Finish(dw, lo(0), lo(1), lo(2)), d8, out + i);
      hn::StoreU(Gauss5Finish(dw, hi(0), hi(1), hi(2)), d8, out + i + half);
    }
#endif
    for (; i < n; ++i) {
      hn::Vec<decltype(d1)> p[3];
      Gauss5Partials(d1, rows, i, ch, p);
      auto wide = [&](int k) { return hn::PromoteTo(d1w, p[k]); };
      hn::StoreU(Gauss5Finish(d1w, wide(0), wide(1), wide(2)), hn::Rebind<uint8_t, decltype(d1w)>(),
                 out + i);
    }
  }
}

HWY_NOINLINE void Gauss8u(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                          int height, int ch, int radius) {
  if (radius == 1) {
    FilterImage<detail::kGauss3>(src, srcStep, dst, dstStep, width, height, ch);
  } else {
    Gauss5Image8u(src, srcStep, dst, dstStep, width, height, ch);
  }
}

HWY_NOINLINE void Laplace8u(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                            int height, int radius) {
  if (radius == 1) {
    FilterImage<detail::kLaplace3>(src, srcStep, dst, dstStep, width, height, 3);
  } else {
    FilterImage<detail::kLaplace5>(src, srcStep, dst, dstStep, width, height, 3);
  }
}

HWY_NOINLINE void Laplace16s(const int16_t* src, int srcStep, int16_t* dst, int dstStep, int width,
                             int height, int radius) {
  if (radius == 1) {
    FilterImage<detail::kLaplace3>(src, srcStep, dst, dstStep, width, height, 3);
  } else {
    FilterImage<detail::kLaplace5>(src, srcStep, dst, dstStep, width, height, 3);
  }
}

HWY_NOINLINE void Sharpen8u(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                            int height) {
  FilterImage<detail::kSharpen3>(src, srcStep, dst, dstStep, width, height, 3);
}

HWY_NOINLINE void Sharpen16s(const int16_t* src, int srcStep, int16_t* dst, int dstStep, int width,
                             int height) {
  FilterImage<detail::kSharpen3>(src, srcStep, dst, dstStep, width, height, 3);
}

}  // namespace kelvo::primitives::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
