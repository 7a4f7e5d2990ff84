// Median filter kernels, compiled once per target (see detail/Dispatch.h).
// Included only by MedianFilter.cpp.

#if defined(KELVO_PRIMITIVES_MEDIAN_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_PRIMITIVES_MEDIAN_INL_H_
#undef KELVO_PRIMITIVES_MEDIAN_INL_H_
#else
#define KELVO_PRIMITIVES_MEDIAN_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "hwy/highway.h"

#ifndef KELVO_PRIMITIVES_MEDIAN_NETWORK_DEFINED
#define KELVO_PRIMITIVES_MEDIAN_NETWORK_DEFINED
namespace kelvo::primitives::detail {

// One comparator of a selection network: afterwards v[a] holds the smaller
// value (if keep & 1) and v[b] the larger (if keep & 2); a side nobody reads
// later is not computed.
struct Comparator {
  int a, b, keep;
};

// Batcher's merge-exchange sorting network for 25 inputs with every
// comparator removed that cannot influence element 12, the median.
inline constexpr Comparator kMedian25[] = {
    {0, 16, 3},  {1, 17, 3},  {2, 18, 3},  {3, 19, 3},  {4, 20, 3},  {5, 21, 3},  {6, 22, 3},
    {7, 23, 3},  {8, 24, 3},  {0, 8, 3},   {1, 9, 3},   {2, 10, 3},  {3, 11, 3},  {4, 12, 3},
    {5, 13, 3},  {6, 14, 3},  {7, 15, 3},  {16, 24, 3}, {8, 16, 3},  {9, 17, 3},  {10, 18, 3},
    {11, 19, 3}, {12, 20, 3}, {13, 21, 3}, {14, 22, 3}, {15, 23, 3}, {0, 4, 3},   {1, 5, 3},
    {2, 6, 3},   {3, 7, 3},   {8, 12, 3},  {9, 13, 3},  {10, 14, 3}, {11, 15, 3}, {16, 20, 3},
    {17, 21, 3}, {18, 22, 3}, {19, 23, 3}, {4, 16, 3},  {5, 17, 3},  {6, 18, 3},  {7, 19, 3},
    {12, 24, 3}, {4, 8, 3},   {5, 9, 3},   {6, 10, 3},  {7, 11, 3},  {12, 16, 3}, {13, 17, 3},
    {14, 18, 3}, {15, 19, 3}, {20, 24, 3}, {0, 2, 3},   {1, 3, 3},   {4, 6, 3},   {5, 7, 3},
    {8, 10, 3},  {9, 11, 3},  {12, 14, 3}, {13, 15, 3}, {16, 18, 3}, {17, 19, 3}, {20, 22, 3},
    {21, 23, 3}, {2, 16, 3},  {3, 17, 3},  {6, 20, 3},  {7, 21, 3},  {10, 24, 3}, {2, 8, 3},
    {3, 9, 3},   {6, 12, 3},  {7, 13, 3},  {10, 16, 3}, {11, 17, 3}, {14, 20, 3}, {15, 21, 3},
    {18, 24, 3}, {2, 4, 3},   {3, 5, 3},   {6, 8, 3},   {7, 9, 3},   {10, 12, 3}, {11, 13, 3},
    {14, 16, 3}, {15, 17, 3}, {18, 20, 3}, {19, 21, 3}, {22, 24, 3}, {0, 1, 2},   {2, 3, 2},
    {4, 5, 2},   {6, 7, 2},   {8, 9, 2},   {10, 11, 2}, {12, 13, 1}, {14, 15, 1}, {16, 17, 1},
    {18, 19, 1}, {20, 21, 1}, {22, 23, 1}, {1, 16, 2},  {3, 18, 2},  {5, 20, 1},  {7, 22, 1},
    {9, 24, 1},  {5, 12, 2},  {7, 14, 2},  {9, 16, 1},  {11, 18, 1}, {9, 12, 2},  {11, 14, 1},
    {11, 12, 2},
};

// Merge-exchange sorting network for 20 inputs with every comparator removed
// that cannot influence elements 7 to 12, which end up sorted: the ranks of
// the 20 samples two vertically adjacent 5 x 5 windows share that can still
// be the median once either window's own five samples join them.
inline constexpr Comparator kShared20[] = {
    {0, 16, 3}, {1, 17, 3}, {2, 18, 3}, {3, 19, 3}, {0, 8, 3}, {1, 9, 3}, {2, 10, 3}, {3, 11, 3},
    {4, 12, 3}, {5, 13, 3}, {6, 14, 3}, {7, 15, 3}, {8, 16, 3}, {9, 17, 3}, {10, 18, 3},
    {11, 19, 3}, {0, 4, 3}, {1, 5, 3}, {2, 6, 3}, {3, 7, 3}, {8, 12, 3}, {9, 13, 3}, {10, 14, 3},
    {11, 15, 3}, {4, 16, 3}, {5, 17, 3}, {6, 18, 3}, {7, 19, 3}, {4, 8, 3}, {5, 9, 3}, {6, 10, 3},
    {7, 11, 3}, {12, 16, 3}, {13, 17, 3}, {14, 18, 3}, {15, 19, 3}, {0, 2, 3}, {1, 3, 3},
    {4, 6, 3}, {5, 7, 3}, {8, 10, 3}, {9, 11, 3}, {12, 14, 3}, {13, 15, 3}, {16, 18, 3},
    {17, 19, 3}, {2, 16, 3}, {3, 17, 3}, {2, 8, 3}, {3, 9, 3}, {6, 12, 3}, {7, 13, 3}, {10, 16, 3},
    {11, 17, 3}, {2, 4, 3}, {3, 5, 3}, {6, 8, 3}, {7, 9, 3}, {10, 12, 3}, {11, 13, 3}, {14, 16, 3},
    {15, 17, 3}, {0, 1, 2}, {2, 3, 2}, {4, 5, 2}, {6, 7, 2}, {8, 9, 3}, {10, 11, 3}, {12, 13, 1},
    {14, 15, 1}, {16, 17, 1}, {18, 19, 1}, {1, 16, 3}, {3, 18, 3}, {1, 8, 2}, {3, 10, 2},
    {5, 12, 3}, {7, 14, 3}, {9, 16, 1}, {11, 18, 1}, {5, 8, 2}, {7, 10, 3}, {9, 12, 3},
    {11, 14, 1}, {7, 8, 3}, {9, 10, 3}, {11, 12, 3},
};

// Sorting network for 5 inputs.
inline constexpr Comparator kSort5[] = {
    {0, 4, 3}, {0, 2, 3}, {1, 3, 3}, {2, 4, 3}, {0, 1, 3},
    {2, 3, 3}, {1, 4, 3}, {1, 2, 3}, {3, 4, 3},
};

}  // namespace kelvo::primitives::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kelvo::primitives::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class V>
HWY_INLINE void SortPair(V& a, V& b) {
  const V lo = hn::Min(a, b);
  b = hn::Max(a, b);
  a = lo;
}

template <class V>
HWY_INLINE V Median3(V a, V b, V c) {
  return hn::Max(hn::Min(a, b), hn::Min(hn::Max(a, b), c));
}

// 3x3: sort each column, then the median is the median of the largest
// column minimum, the middle column median and the smallest column maximum.
template <class D, class T>
HWY_INLINE hn::Vec<D> Median3x3(D d, const T* const* rows, int x) {
  hn::Vec<D> lo[3], mid[3], hi[3];
  for (int i = 0; i < 3; ++i) {
    auto a = hn::LoadU(d, rows[0] + x + i);
    auto b = hn::LoadU(d, rows[1] + x + i);
    auto c = hn::LoadU(d, rows[2] + x + i);
    SortPair(a, b);
    SortPair(b, c);
    SortPair(a, b);
    lo[i] = a, mid[i] = b, hi[i] = c;
  }
  return Median3(hn::Max(hn::Max(lo[0], lo[1]), lo[2]), Median3(mid[0], mid[1], mid[2]),
                 hn::Min(hn::Min(hi[0], hi[1]), hi[2]));
}

template <const auto& kNetwork, size_t I, class V>
HWY_INLINE void NetworkStep(V* v) {
  constexpr detail::Comparator c = kNetwork[I];
  if constexpr (c.keep == 3) {
    SortPair(v[c.a], v[c.b]);
  } else if constexpr (c.keep == 1) {
    v[c.a] = hn::Min(v[c.a], v[c.b]);
  } else {
    v[c.b] = hn::Max(v[c.a], v[c.b]);
  }
}

template <const auto& kNetwork, class V, size_t... I>
HWY_INLINE void RunNetwork(V* v, std::index_sequence<I...>) {
  (NetworkStep<kNetwork, I>(v), ...);
}

template <const auto& kNetwork, class V>
HWY_INLINE void RunNetwork(V* v) {
  RunNetwork<kNetwork>(v, std::make_index_sequence<std::size(kNetwork)>());
}

template <class D, class T>
HWY_INLINE hn::Vec<D> Median5x5(D d, const T* const* rows, int x) {
  hn::Vec<D> v[25];
  for (int j = 0; j < 5; ++j) {
    for (int i = 0; i < 5; ++i) v[j * 5 + i] = hn::LoadU(d, rows[j] + x + i);
  }
  RunNetwork<detail::kMedian25>(v);
  return v[12];
}

// The medians of two vertically adjacent 5 x 5 windows: rows[0 .. 4] and
// rows[1 .. 5]. Of the 20 samples they share, the 7 smallest lie below
// either median and the 7 largest above it, so each median is the middle
// (rank 5) of the shared ranks 7 .. 12 and the window's own row: with both
// sorted, that is the smallest of c[5] and max(c[i - 1], u[5 - i]) for
// i = 1 .. 5.
template <class D, class T>
HWY_INLINE void Median5x5Pair(D d, const T* const* rows, int x, hn::Vec<D>& top,
                              hn::Vec<D>& bottom) {
  hn::Vec<D> s[20];
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 5; ++i) s[j * 5 + i] = hn::LoadU(d, rows[j + 1] + x + i);
  }
  RunNetwork<detail::kShared20>(s);
  const hn::Vec<D>* c = s + 7;
  hn::Vec<D> u[2][5];
  for (int i = 0; i < 5; ++i) {
    u[0][i] = hn::LoadU(d, rows[0] + x + i);
    u[1][i] = hn::LoadU(d, rows[5] + x + i);
  }
  hn::Vec<D> m[2];
  for (int w = 0; w < 2; ++w) {
    RunNetwork<detail::kSort5>(u[w]);
    m[w] = c[5];
    for (int i = 1; i <= 5; ++i) m[w] = hn::Min(m[w], hn::Max(c[i - 1], u[w][5 - i]));
  }
  top = m[0];
  bottom = m[1];
}

// Rows of the mask for output row y, each pointing at the mask's left
// column for output x = 0.
template <class T>
HWY_INLINE void MaskRows(const T* src, int srcStep, int y, int maskH, int anchorX, int anchorY,
                         const T** rows) {
  for (int j = 0; j < maskH; ++j) {
    rows[j] = reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(src) +
                                         static_cast<ptrdiff_t>(srcStep) * (y - anchorY + j)) -
              anchorX;
  }
}

template <int kSize, class D, class T>
HWY_INLINE hn::Vec<D> MedianAt(D d, const T* const* rows, int x) {
  if constexpr (kSize == 3) {
    return Median3x3(d, rows, x);
  } else {
    return Median5x5(d, rows, x);
  }
}

// Whole vectors across the row; the ragged end is one more vector ending at
// the last pixel (its overlap is recomputed to the same values), or on rows
// narrower than a vector, quarter vectors and then single pixels.
template <int kSize, class T>
HWY_INLINE void MedianSquare(const T* src, int srcStep, T* dst, int dstStep, int width, int height,
                             int anchorX, int anchorY) {
  const hn::ScalableTag<T> d;
  const hn::CappedTag<T, 16> dq;
  const hn::CappedTag<T, 1> d1;
  const int n = static_cast<int>(hn::Lanes(d));
  const int nq = static_cast<int>(hn::Lanes(dq));
  const T* rows[kSize + 1];
  int y = 0;
  if constexpr (kSize == 5) {
    // Two output rows at a time share most of their work.
    const auto pair = [&](auto dd, int x, T* out0, T* out1) {
      hn::Vec<decltype(dd)> a, b;
      Median5x5Pair(dd, rows, x, a, b);
      hn::StoreU(a, dd, out0 + x);
      hn::StoreU(b, dd, out1 + x);
    };
    for (; y + 1 < height; y += 2) {
      MaskRows(src, srcStep, y, kSize + 1, anchorX, anchorY, rows);
      T* out0 = reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(dst) +
                                     static_cast<ptrdiff_t>(dstStep) * y);
      T* out1 = reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(out0) + dstStep);
      int x = 0;
      for (; x + n <= width; x += n) pair(d, x, out0, out1);
      if (x == width) continue;
      if (width >= n) {
        pair(d, width - n, out0, out1);
        continue;
      }
      for (; x + nq <= width; x += nq) pair(dq, x, out0, out1);
      for (; x < width; ++x) pair(d1, x, out0, out1);
    }
  }
  for (; y < height; ++y) {
    MaskRows(src, srcStep, y, kSize, anchorX, anchorY, rows);
    T* out =
        reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(dst) + static_cast<ptrdiff_t>(dstStep) * y);
    int x = 0;
    for (; x + n <= width; x += n) hn::StoreU(MedianAt<kSize>(d, rows, x), d, out + x);
    if (x == width) continue;
    if (width >= n) {
      hn::StoreU(MedianAt<kSize>(d, rows, width - n), d, out + width - n);
      continue;
    }
    for (; x + nq <= width; x += nq) hn::StoreU(MedianAt<kSize>(dq, rows, x), dq, out + x);
    for (; x < width; ++x) hn::StoreU(MedianAt<kSize>(d1, rows, x), d1, out + x);
  }
}

// Any other mask: gather the window into `work` (maskW * maskH samples) and
// select its middle element.
template <class T>
HWY_INLINE void MedianGeneral(const T* src, int srcStep, T* dst, int dstStep, int width, int height,
                              int maskW, int maskH, int anchorX, int anchorY, T* work) {
  const size_t area = static_cast<size_t>(maskW) * maskH;
  for (int y = 0; y < height; ++y) {
    T* out =
        reinterpret_cast<T*>(reinterpret_cast<uint8_t*>(dst) + static_cast<ptrdiff_t>(dstStep) * y);
    for (int x = 0; x < width; ++x) {
      T* w = work;
      for (int j = 0; j < maskH; ++j) {
        const T* row =
            reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(src) +
                                       static_cast<ptrdiff_t>(srcStep) * (y - anchorY + j)) +
            (x - anchorX);
        w = std::copy(row, row + maskW, w);
      }
      std::nth_element(work, work + area / 2, work + area);
      out[x] = work[area / 2];
    }
  }
}

template <class T>
HWY_INLINE void MedianImage(const T* src, int srcStep, T* dst, int dstStep, int width, int height,
                            int maskW, int maskH, int anchorX, int anchorY, T* work) {
  if (maskW == 3 && maskH == 3) {
    MedianSquare<3>(src, srcStep, dst, dstStep, width, height, anchorX, anchorY);
  } else if (maskW == 5 && maskH == 5) {
    MedianSquare<5>(src, srcStep, dst, dstStep, width, height, anchorX, anchorY);
  } else {
    MedianGeneral(src, srcStep, dst, dstStep, width, height, maskW, maskH, anchorX, anchorY, work);
  }
}

HWY_NOINLINE void MedianImage8u(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep,
                                int width, int height, int maskW, int maskH, int anchorX,
                                int anchorY, uint8_t* work) {
  MedianImage(src, srcStep, dst, dstStep, width, height, maskW, maskH, anchorX, anchorY, work);
}

HWY_NOINLINE void MedianImage16s(const int16_t* src, int srcStep, int16_t* dst, int dstStep,
                                 int width, int height, int maskW, int maskH, int anchorX,
                                 int anchorY, int16_t* work) {
  MedianImage(src, srcStep, dst, dstStep, width, height, maskW, maskH, anchorX, anchorY, work);
}

}  // namespace kelvo::primitives::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
