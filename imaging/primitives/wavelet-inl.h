// One level of separable wavelet analysis and synthesis, compiled once per
// SIMD target through foreach_target.h. Vectors run across output pixels,
// never across taps: every output is the sum over k in ascending order from
// 0.0f, one Mul then one Add per tap, exactly as the scalar reference in
// reference/WaveletReference.cpp, so all targets give the same bits.
//
// The image is processed in vertical strips of a fixed number of columns so
// that the work buffer size depends only on the filters (the buffer-size
// queries know nothing of the image) and the intermediate rows stay in cache.

#ifndef KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_SHARED
#define KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_SHARED

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/WaveletRows.h"

namespace KelvoLibImageProcessing::wavelet {

struct Filter {
  const float* taps;
  int length;
  int anchor;
};

// Band columns per strip of the analysis, and output columns per strip of the
// synthesis (even, so a strip starts on a band sample). An analysis strip
// holds the finest bands of a 1080p frame with its margin (1088 columns)
// whole: every extra strip runs the row and column passes' per-row work
// again and starts its rows off the cache lines of the last, which costs
// more than the larger ring of row outputs (74 KiB) saves.
constexpr int kFwdStrip = 1152;
constexpr int kInvStrip = 1024;

inline int FloorHalf(int v) {
  return (v >= 0) ? v / 2 : -((1 - v) / 2);
}
inline int CeilHalf(int v) {
  return -FloorHalf(-v);
}

// Offsets 2n + a - k reach from `lo` to 2n + `hi` over both filters.
inline int ReachLo(const Filter& l, const Filter& h) {
  return std::min(l.anchor - l.length + 1, h.anchor - h.length + 1);
}
inline int ReachHi(const Filter& l, const Filter& h) {
  return std::max(l.anchor, h.anchor);
}

inline size_t RoundUp16(size_t n) {
  return (n + 15) & ~static_cast<size_t>(15);
}

// Source rows handed over by the caller instead of read from an image:
// fn(context, row, x0, count, out) writes samples x0 .. x0 + count - 1 of
// source row `row` to out. It is called from several threads at once when
// the rows run in bands, so it must only read shared state.
struct RowFetch {
  void (*fn)(const void* context, int row, int x0, int count, float* out);
  const void* context;
  // Or, for 8-bit samples, the same as bytes (fn is then null).
  void (*bytes)(const void* context, int row, int x0, int count, uint8_t* out);
};

// Layout of the analysis work buffer (in floats, then pointers).
struct FwdLayout {
  size_t evenOddLen;  // each of the even and odd sample rows
  size_t fetchLen;    // one fetched source row of a strip
  int ringRows;       // row outputs kept for the column pass
  size_t floats;
  size_t pointers;
  size_t Bytes() const { return floats * sizeof(float) + pointers * sizeof(void*) + 64; }
};
inline FwdLayout MakeFwdLayout(const Filter& l, const Filter& h) {
  const int lo = ReachLo(l, h);
  const int hi = ReachHi(l, h);
  const int loEven = 2 * FloorHalf(lo);
  FwdLayout out;
  out.evenOddLen = RoundUp16(static_cast<size_t>(kFwdStrip + (hi - loEven) / 2 + 2));
  out.fetchLen = RoundUp16(static_cast<size_t>(2 * kFwdStrip + hi - lo + 1));
  out.ringRows = hi - lo + 1;
  out.floats =
      2 * out.evenOddLen + out.fetchLen + 2 * static_cast<size_t>(out.ringRows) * kFwdStrip;
  out.pointers = 3 * static_cast<size_t>(l.length + h.length);
  return out;
}

struct InvLayout {
  size_t rowLen;  // each of the column-synthesised low and high rows
  size_t floats;
  size_t pointers;
  size_t Bytes() const { return floats * sizeof(float) + pointers * sizeof(void*) + 64; }
};
inline InvLayout MakeInvLayout(const Filter& l, const Filter& h) {
  const int lo = ReachLo(l, h);
  const int hi = ReachHi(l, h);
  InvLayout out;
  out.rowLen = RoundUp16(static_cast<size_t>(kInvStrip / 2 + (hi - lo) / 2 + 4));
  out.floats = 2 * out.rowLen + 3 * RoundUp16(static_cast<size_t>(l.length + h.length));
  out.pointers = 4 * static_cast<size_t>(l.length + h.length);
  return out;
}

struct FwdJob {
  const float* src;  // unused when fetch.fn or fetch.bytes is set
  ptrdiff_t srcStep;
  RowFetch fetch;
  const DetailShrink* shrink;  // null: details stored as computed
  float* dst[4];               // approx, detailX, detailY, detailXY
  ptrdiff_t dstStep[4];
  int bw, bh;
  int rowBegin, rowEnd;  // the output rows to compute, within [0, bh)
  int colBegin, colEnd;  // the output columns to compute, within [0, bw)
  // Details only for band samples [detailX0, detailX1) x [detailY0,
  // detailY1) (an empty range: none); the approximation everywhere.
  int detailX0, detailX1, detailY0, detailY1;
  Filter low, high;
  unsigned char* buffer;
};

struct InvJob {
  const float* band[4];  // approx, detailX, detailY, detailXY
  ptrdiff_t bandStep[4];
  int bw, bh;
  float* dst;
  ptrdiff_t dstStep;
  int rowBegin, rowEnd;  // the output rows to compute, within [0, 2 bh)
  Filter low, high;
  unsigned char* buffer;
};

}  // namespace KelvoLibImageProcessing::wavelet

#endif  // KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_SHARED

#if defined(KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_TARGET) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_TARGET
#undef KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_TARGET
#else
#define KELVO_IMAGING_PRIMITIVES_WAVELET_INL_H_TARGET
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::wavelet::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// sum_k taps[k] * rows[k][j], k ascending, from zero.
template <class D>
HWY_INLINE hn::Vec<D> Dot(D d, const float* taps, const float* const* rows, int count, size_t j) {
  auto acc = hn::Zero(d);
  for (int k = 0; k < count; ++k) {
    acc = hn::Add(acc, hn::Mul(hn::Set(d, taps[k]), hn::LoadU(d, rows[k] + j)));
  }
  return acc;
}

// Several independent sums of the same length in one loop over k, so their
// dependency chains overlap; each keeps the order of Dot exactly.
template <class D>
HWY_INLINE void Dot2(D d, const float* tapsA, const float* const* rowsA, const float* tapsB,
                     const float* const* rowsB, int count, size_t j, hn::Vec<D>& a, hn::Vec<D>& b) {
  a = hn::Zero(d);
  b = hn::Zero(d);
  for (int k = 0; k < count; ++k) {
    a = hn::Add(a, hn::Mul(hn::Set(d, tapsA[k]), hn::LoadU(d, rowsA[k] + j)));
    b = hn::Add(b, hn::Mul(hn::Set(d, tapsB[k]), hn::LoadU(d, rowsB[k] + j)));
  }
}

// Two tap sets over two row sets, and the same for the next vector: four
// chains for the analysis, where both filters share their length.
template <class D>
HWY_INLINE void Dot4(D d, const float* tapsA, const float* tapsB, const float* const* rows0,
                     const float* const* rows1, int count, size_t j, hn::Vec<D> out[4]) {
  auto a0 = hn::Zero(d), b0 = hn::Zero(d), a1 = hn::Zero(d), b1 = hn::Zero(d);
  for (int k = 0; k < count; ++k) {
    const auto ta = hn::Set(d, tapsA[k]);
    const auto tb = hn::Set(d, tapsB[k]);
    const auto x0 = hn::LoadU(d, rows0[k] + j);
    const auto x1 = hn::LoadU(d, rows1[k] + j);
    a0 = hn::Add(a0, hn::Mul(ta, x0));
    b0 = hn::Add(b0, hn::Mul(tb, x0));
    a1 = hn::Add(a1, hn::Mul(ta, x1));
    b1 = hn::Add(b1, hn::Mul(tb, x1));
  }
  out[0] = a0;
  out[1] = b0;
  out[2] = a1;
  out[3] = b1;
}

// Dot2 over four consecutive vectors at j: eight chains in flight.
template <class D>
HWY_INLINE void Dot2x4(D d, const float* tapsA, const float* const* rowsA, const float* tapsB,
                       const float* const* rowsB, int count, size_t j, hn::Vec<D> a[4],
                       hn::Vec<D> b[4]) {
  const size_t n = hn::Lanes(d);
  for (int u = 0; u < 4; ++u) {
    a[u] = hn::Zero(d);
    b[u] = hn::Zero(d);
  }
  for (int k = 0; k < count; ++k) {
    const auto ta = hn::Set(d, tapsA[k]);
    const auto tb = hn::Set(d, tapsB[k]);
    const float* ra = rowsA[k] + j;
    const float* rb = rowsB[k] + j;
    for (int u = 0; u < 4; ++u) {
      a[u] = hn::Add(a[u], hn::Mul(ta, hn::LoadU(d, ra + u * n)));
      b[u] = hn::Add(b[u], hn::Mul(tb, hn::LoadU(d, rb + u * n)));
    }
  }
}

// Dot over four consecutive vectors at j: four chains in flight.
template <class D>
HWY_INLINE void Dotx4(D d, const float* taps, const float* const* rows, int count, size_t j,
                      hn::Vec<D> a[4]) {
  const size_t n = hn::Lanes(d);
  for (int u = 0; u < 4; ++u) a[u] = hn::Zero(d);
  for (int k = 0; k < count; ++k) {
    const auto t = hn::Set(d, taps[k]);
    const float* r = rows[k] + j;
    for (int u = 0; u < 4; ++u) a[u] = hn::Add(a[u], hn::Mul(t, hn::LoadU(d, r + u * n)));
  }
}

// Dot2x4 where both tap sets read the same rows (equal anchors): each
// sample is loaded once for both sums.
template <class D>
HWY_INLINE void Dot2x4Shared(D d, const float* tapsA, const float* tapsB, const float* const* rows,
                             int count, size_t j, hn::Vec<D> a[4], hn::Vec<D> b[4]) {
  const size_t n = hn::Lanes(d);
  for (int u = 0; u < 4; ++u) {
    a[u] = hn::Zero(d);
    b[u] = hn::Zero(d);
  }
  for (int k = 0; k < count; ++k) {
    const auto ta = hn::Set(d, tapsA[k]);
    const auto tb = hn::Set(d, tapsB[k]);
    const float* r = rows[k] + j;
    for (int u = 0; u < 4; ++u) {
      const auto x = hn::LoadU(d, r + u * n);
      a[u] = hn::Add(a[u], hn::Mul(ta, x));
      b[u] = hn::Add(b[u], hn::Mul(tb, x));
    }
  }
}

// Dot4 over two consecutive vectors at j: eight chains in flight.
template <class D>
HWY_INLINE void Dot4x2(D d, const float* tapsA, const float* tapsB, const float* const* rows0,
                       const float* const* rows1, int count, size_t j, hn::Vec<D> v[4],
                       hn::Vec<D> w[4]) {
  const size_t n = hn::Lanes(d);
  for (int u = 0; u < 4; ++u) {
    v[u] = hn::Zero(d);
    w[u] = hn::Zero(d);
  }
  for (int k = 0; k < count; ++k) {
    const auto ta = hn::Set(d, tapsA[k]);
    const auto tb = hn::Set(d, tapsB[k]);
    const auto x0 = hn::LoadU(d, rows0[k] + j);
    const auto x1 = hn::LoadU(d, rows1[k] + j);
    const auto y0 = hn::LoadU(d, rows0[k] + j + n);
    const auto y1 = hn::LoadU(d, rows1[k] + j + n);
    v[0] = hn::Add(v[0], hn::Mul(ta, x0));
    v[1] = hn::Add(v[1], hn::Mul(tb, x0));
    v[2] = hn::Add(v[2], hn::Mul(ta, x1));
    v[3] = hn::Add(v[3], hn::Mul(tb, x1));
    w[0] = hn::Add(w[0], hn::Mul(ta, y0));
    w[1] = hn::Add(w[1], hn::Mul(tb, y0));
    w[2] = hn::Add(w[2], hn::Mul(ta, y1));
    w[3] = hn::Add(w[3], hn::Mul(tb, y1));
  }
}

// Four sums of the same length over four (taps, rows) sets in one loop,
// for `units` consecutive vectors at j (1 or 2): up to eight chains in
// flight, each in the order of Dot.
template <int units, class D>
HWY_INLINE void Dot4Sets(D d, const float* const taps[4], const float* const* const rows[4],
                         int count, size_t j, hn::Vec<D> out[units][4]) {
  const size_t n = hn::Lanes(d);
  for (int u = 0; u < units; ++u) {
    for (int s = 0; s < 4; ++s) out[u][s] = hn::Zero(d);
  }
  for (int k = 0; k < count; ++k) {
    for (int s = 0; s < 4; ++s) {
      const auto t = hn::Set(d, taps[s][k]);
      for (int u = 0; u < units; ++u) {
        out[u][s] = hn::Add(out[u][s], hn::Mul(t, hn::LoadU(d, rows[s][k] + j + u * n)));
      }
    }
  }
}

template <class D>
HWY_INLINE hn::Vec<D> Shrink(D d, hn::Vec<D> v, float t, bool soft) {
  const auto inside = hn::And(hn::Ge(v, hn::Set(d, -t)), hn::Le(v, hn::Set(d, t)));
  // v + t is v - (-t), the same bits.
  const auto kept =
      soft ? hn::Sub(v, hn::IfThenElse(hn::Gt(v, hn::Zero(d)), hn::Set(d, t), hn::Set(d, -t))) : v;
  return hn::IfThenZeroElse(inside, kept);
}

// Splits x[first .. last] (offsets from loEven, which is even and at most
// first) into even[] and odd[] samples, reading nothing outside the range.
inline void Deinterleave(const float* x, int loEven, int first, int last, float* even, float* odd) {
  int i = first;
  if (((i - loEven) & 1) != 0) {
    odd[(i - loEven) >> 1] = x[i];
    ++i;
  }
  const hn::ScalableTag<float> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  for (; i + 2 * lanes - 1 <= last; i += 2 * lanes) {
    hn::Vec<decltype(d)> e, o;
    hn::LoadInterleaved2(d, x + i, e, o);
    hn::StoreU(e, d, even + ((i - loEven) >> 1));
    hn::StoreU(o, d, odd + ((i - loEven) >> 1));
  }
  for (; i <= last; ++i) {
    if (((i - loEven) & 1) == 0) {
      even[(i - loEven) >> 1] = x[i];
    } else {
      odd[(i - loEven) >> 1] = x[i];
    }
  }
}

// Deinterleave on 8-bit samples, each stored as its float: the bytes are
// split and widened in one pass, with no row of floats in between.
inline void DeinterleaveBytes(const uint8_t* x, int loEven, int first, int last, float* even,
                              float* odd) {
  int i = first;
  if (((i - loEven) & 1) != 0) {
    odd[(i - loEven) >> 1] = static_cast<float>(x[i]);
    ++i;
  }
#if HWY_TARGET != HWY_SCALAR
  // Whole byte vectors: two of them give one byte vector of even and one of
  // odd samples, each widened as four float vectors.
  const hn::ScalableTag<uint8_t> d8;
  const hn::Half<decltype(d8)> dh;
  const hn::Half<decltype(dh)> dq;
  const hn::Rebind<int32_t, decltype(dq)> di;
  const hn::Rebind<float, decltype(dq)> dfq;
  const int bytes = static_cast<int>(hn::Lanes(d8));
  const size_t nq = hn::Lanes(dfq);
  const auto widen = [&](hn::Vec<decltype(d8)> v, float* out) {
    const auto lo = hn::LowerHalf(dh, v);
    const auto hi = hn::UpperHalf(dh, v);
    hn::StoreU(hn::ConvertTo(dfq, hn::PromoteTo(di, hn::LowerHalf(dq, lo))), dfq, out);
    hn::StoreU(hn::ConvertTo(dfq, hn::PromoteTo(di, hn::UpperHalf(dq, lo))), dfq, out + nq);
    hn::StoreU(hn::ConvertTo(dfq, hn::PromoteTo(di, hn::LowerHalf(dq, hi))), dfq, out + 2 * nq);
    hn::StoreU(hn::ConvertTo(dfq, hn::PromoteTo(di, hn::UpperHalf(dq, hi))), dfq, out + 3 * nq);
  };
  for (; i + 2 * bytes - 1 <= last; i += 2 * bytes) {
    hn::Vec<decltype(d8)> e, o;
    hn::LoadInterleaved2(d8, x + i, e, o);
    widen(e, even + ((i - loEven) >> 1));
    widen(o, odd + ((i - loEven) >> 1));
  }
#endif
  for (; i <= last; ++i) {
    if (((i - loEven) & 1) == 0) {
      even[(i - loEven) >> 1] = static_cast<float>(x[i]);
    } else {
      odd[(i - loEven) >> 1] = static_cast<float>(x[i]);
    }
  }
}

// Runs body(tag, j) over [begin, end): whole vectors, then the same body on
// a one-lane tag for the tail.
template <class Body>
HWY_INLINE void ForEachLane(size_t begin, size_t end, Body&& body) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t j = begin;
  for (; j + lanes <= end; j += lanes) body(d, j);
  const hn::CappedTag<float, 1> d1;
  for (; j < end; ++j) body(d1, j);
}
template <class Body>
HWY_INLINE void ForEachLane(size_t n, Body&& body) {
  ForEachLane(0, n, body);
}

// As ForEachLane, but blocks of four whole vectors go to block(tag, j)
// first; block computes exactly what body computes for each of them.
template <class Block, class Body>
HWY_INLINE void ForEachLaneBlocked(size_t begin, size_t end, Block&& block, Body&& body) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t j = begin;
  for (; j + 4 * lanes <= end; j += 4 * lanes) block(d, j);
  for (; j + lanes <= end; j += lanes) body(d, j);
  const hn::CappedTag<float, 1> d1;
  for (; j < end; ++j) body(d1, j);
}
template <class Block, class Body>
HWY_INLINE void ForEachLaneBlocked(size_t n, Block&& block, Body&& body) {
  ForEachLaneBlocked(0, n, block, body);
}

// Calls part(begin, end, inner) on [0, n) split at a and b (clamped into
// it): inner is true for [a, b).
template <class Part>
HWY_INLINE void Split3(int n, int a, int b, Part&& part) {
  a = std::clamp(a, 0, n);
  b = std::clamp(b, a, n);
  if (a > 0) part(size_t{0}, static_cast<size_t>(a), false);
  if (b > a) part(static_cast<size_t>(a), static_cast<size_t>(b), true);
  if (n > b) part(static_cast<size_t>(b), static_cast<size_t>(n), false);
}

inline void WTFwdImpl(const FwdJob& job) {
  const Filter& lf = job.low;
  const Filter& hf = job.high;
  const FwdLayout layout = MakeFwdLayout(lf, hf);
  const int lo = ReachLo(lf, hf);
  const int hi = ReachHi(lf, hf);
  const int loEven = 2 * FloorHalf(lo);
  const int ringRows = layout.ringRows;
  const bool sameLength = lf.length == hf.length;
  const bool sameAnchor = sameLength && lf.anchor == hf.anchor;

  auto* base = reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(job.buffer) + 63) &
                                                ~static_cast<uintptr_t>(63));
  float* even = reinterpret_cast<float*>(base);
  float* odd = even + layout.evenOddLen;
  float* fetched = odd + layout.evenOddLen;
  float* ringLow = fetched + layout.fetchLen;
  float* ringHigh = ringLow + static_cast<size_t>(ringRows) * kFwdStrip;
  const float** rowPtrLow =
      reinterpret_cast<const float**>(ringHigh + static_cast<size_t>(ringRows) * kFwdStrip);
  const float** rowPtrHigh = rowPtrLow + lf.length;
  const float** colPtr = rowPtrHigh + hf.length;  // 2 * (lf.length + hf.length)

  // Row pass sources: x[2j + a - k] of the strip is even[j + q/2] or
  // odd[j + (q-1)/2] with q = a - k - loEven >= 0.
  const auto rowSources = [&](const Filter& f, const float** out) {
    for (int k = 0; k < f.length; ++k) {
      const int q = f.anchor - k - loEven;
      out[k] = (q % 2 == 0) ? even + q / 2 : odd + (q - 1) / 2;
    }
  };
  rowSources(lf, rowPtrLow);
  rowSources(hf, rowPtrHigh);

  const auto slot = [&](int r) {
    int s = (r - lo) % ringRows;
    return (s < 0) ? s + ringRows : s;
  };

  // Source rows whose high-pass row outputs some detail row reads: rows
  // 2n + lo .. 2n + hi of the detail rows n.
  const bool anyDetail = job.detailX0 < job.detailX1 && job.detailY0 < job.detailY1;
  const int highRow0 = 2 * job.detailY0 + lo;
  const int highRow1 = 2 * (job.detailY1 - 1) + hi;

  for (int n0 = job.colBegin; n0 < job.colEnd; n0 += kFwdStrip) {
    const int nc = std::min(kFwdStrip, job.colEnd - n0);
    const int first = lo;                // first source column offset of the strip
    const int last = 2 * (nc - 1) + hi;  // last one, both relative to 2 * n0
    // The strip's detail columns.
    const int dx0 = job.detailX0 - n0;
    const int dx1 = job.detailX1 - n0;
    int nextRow = lo;
    for (int n = job.rowBegin; n < job.rowEnd; ++n) {
      // Row outputs for source rows up to 2n + hi.
      for (int r = std::max(nextRow, 2 * n + lo); r <= 2 * n + hi; ++r) {
        if (job.fetch.bytes != nullptr) {
          auto* fetchedBytes = reinterpret_cast<uint8_t*>(fetched);
          job.fetch.bytes(job.fetch.context, r, 2 * n0 + first, last - first + 1, fetchedBytes);
          DeinterleaveBytes(fetchedBytes - first, loEven, first, last, even, odd);
        } else {
          const float* x;
          if (job.fetch.fn != nullptr) {
            job.fetch.fn(job.fetch.context, r, 2 * n0 + first, last - first + 1, fetched);
            x = fetched - first;
          } else {
            x = RowAt(job.src, job.srcStep, r) + 2 * static_cast<ptrdiff_t>(n0);
          }
          Deinterleave(x, loEven, first, last, even, odd);
        }
        float* outLow = ringLow + static_cast<size_t>(slot(r)) * kFwdStrip;
        float* outHigh = ringHigh + static_cast<size_t>(slot(r)) * kFwdStrip;
        const auto rowBody = [&](auto d, size_t j) {
          hn::Vec<decltype(d)> lowV, highV;
          if (sameLength) {
            Dot2(d, lf.taps, rowPtrLow, hf.taps, rowPtrHigh, lf.length, j, lowV, highV);
          } else {
            lowV = Dot(d, lf.taps, rowPtrLow, lf.length, j);
            highV = Dot(d, hf.taps, rowPtrHigh, hf.length, j);
          }
          hn::StoreU(lowV, d, outLow + j);
          hn::StoreU(highV, d, outHigh + j);
        };
        // Low-pass only, where no detail sample reads the high-pass output.
        const auto lowOnly = [&](size_t begin, size_t end) {
          ForEachLaneBlocked(
              begin, end,
              [&](auto d, size_t j) {
                const size_t n = hn::Lanes(d);
                hn::Vec<decltype(d)> lowV[4];
                Dotx4(d, lf.taps, rowPtrLow, lf.length, j, lowV);
                for (int u = 0; u < 4; ++u) hn::StoreU(lowV[u], d, outLow + j + u * n);
              },
              [&](auto d, size_t j) {
                hn::StoreU(Dot(d, lf.taps, rowPtrLow, lf.length, j), d, outLow + j);
              });
        };
        const auto both = [&](size_t begin, size_t end) {
          if (sameLength) {
            ForEachLaneBlocked(
                begin, end,
                [&](auto d, size_t j) {
                  const size_t n = hn::Lanes(d);
                  hn::Vec<decltype(d)> lowV[4], highV[4];
                  if (sameAnchor) {
                    Dot2x4Shared(d, lf.taps, hf.taps, rowPtrLow, lf.length, j, lowV, highV);
                  } else {
                    Dot2x4(d, lf.taps, rowPtrLow, hf.taps, rowPtrHigh, lf.length, j, lowV,
                           highV);
                  }
                  for (int u = 0; u < 4; ++u) {
                    hn::StoreU(lowV[u], d, outLow + j + u * n);
                    hn::StoreU(highV[u], d, outHigh + j + u * n);
                  }
                },
                rowBody);
          } else {
            ForEachLane(begin, end, rowBody);
          }
        };
        if (anyDetail && r >= highRow0 && r <= highRow1) {
          Split3(nc, dx0, dx1, [&](size_t begin, size_t end, bool inner) {
            if (inner) {
              both(begin, end);
            } else {
              lowOnly(begin, end);
            }
          });
        } else {
          lowOnly(0, static_cast<size_t>(nc));
        }
        nextRow = r + 1;
      }
      // Column pass for output row n: rows 2n + a - k of the ring.
      const float** lowOnLow = colPtr;
      const float** lowOnHigh = lowOnLow + lf.length;
      const float** highOnLow = lowOnHigh + lf.length;
      const float** highOnHigh = highOnLow + hf.length;
      for (int k = 0; k < lf.length; ++k) {
        const size_t s = static_cast<size_t>(slot(2 * n + lf.anchor - k)) * kFwdStrip;
        lowOnLow[k] = ringLow + s;
        lowOnHigh[k] = ringHigh + s;
      }
      for (int k = 0; k < hf.length; ++k) {
        const size_t s = static_cast<size_t>(slot(2 * n + hf.anchor - k)) * kFwdStrip;
        highOnLow[k] = ringLow + s;
        highOnHigh[k] = ringHigh + s;
      }
      float* approx = RowAt(job.dst[0], job.dstStep[0], n) + n0;
      float* detailX = RowAt(job.dst[1], job.dstStep[1], n) + n0;
      float* detailY = RowAt(job.dst[2], job.dstStep[2], n) + n0;
      float* detailXY = RowAt(job.dst[3], job.dstStep[3], n) + n0;
      const DetailShrink* shrink = job.shrink;
      // Detail band b (0 X, 1 Y, 2 XY), shrunk on the way when asked.
      const auto putDetail = [shrink](auto d, auto v, int b, float* to) {
        if (shrink != nullptr) v = Shrink(d, v, shrink->t[b], shrink->soft);
        hn::StoreU(v, d, to);
      };
      const auto colBody = [&](auto d, size_t j) {
        if (sameAnchor) {
          // approx = h on low rows, detailY = g on low rows; detailX = h on
          // high rows, detailXY = g on high rows.
          hn::Vec<decltype(d)> v[4];
          Dot4(d, lf.taps, hf.taps, lowOnLow, lowOnHigh, lf.length, j, v);
          hn::StoreU(v[0], d, approx + j);
          putDetail(d, v[1], 1, detailY + j);
          putDetail(d, v[2], 0, detailX + j);
          putDetail(d, v[3], 2, detailXY + j);
        } else {
          hn::StoreU(Dot(d, lf.taps, lowOnLow, lf.length, j), d, approx + j);
          putDetail(d, Dot(d, lf.taps, lowOnHigh, lf.length, j), 0, detailX + j);
          putDetail(d, Dot(d, hf.taps, highOnLow, hf.length, j), 1, detailY + j);
          putDetail(d, Dot(d, hf.taps, highOnHigh, hf.length, j), 2, detailXY + j);
        }
      };
      const auto allBands = [&](size_t begin, size_t end) {
        if (sameAnchor) {
          // Two vectors at a time: eight chains in flight.
          ForEachLaneBlocked(
              begin, end,
              [&](auto d, size_t j) {
                const size_t n = hn::Lanes(d);
                for (size_t u = 0; u < 4; u += 2) {
                  hn::Vec<decltype(d)> v[4], w[4];
                  Dot4x2(d, lf.taps, hf.taps, lowOnLow, lowOnHigh, lf.length, j + u * n, v, w);
                  hn::StoreU(v[0], d, approx + j + u * n);
                  putDetail(d, v[1], 1, detailY + j + u * n);
                  putDetail(d, v[2], 0, detailX + j + u * n);
                  putDetail(d, v[3], 2, detailXY + j + u * n);
                  hn::StoreU(w[0], d, approx + j + (u + 1) * n);
                  putDetail(d, w[1], 1, detailY + j + (u + 1) * n);
                  putDetail(d, w[2], 0, detailX + j + (u + 1) * n);
                  putDetail(d, w[3], 2, detailXY + j + (u + 1) * n);
                }
              },
              colBody);
        } else {
          ForEachLane(begin, end, colBody);
        }
      };
      // The approximation alone, where no detail sample is wanted.
      const auto approxOnly = [&](size_t begin, size_t end) {
        ForEachLaneBlocked(
            begin, end,
            [&](auto d, size_t j) {
              const size_t n = hn::Lanes(d);
              hn::Vec<decltype(d)> v[4];
              Dotx4(d, lf.taps, lowOnLow, lf.length, j, v);
              for (int u = 0; u < 4; ++u) hn::StoreU(v[u], d, approx + j + u * n);
            },
            [&](auto d, size_t j) {
              hn::StoreU(Dot(d, lf.taps, lowOnLow, lf.length, j), d, approx + j);
            });
      };
      if (anyDetail && n >= job.detailY0 && n < job.detailY1) {
        Split3(nc, dx0, dx1, [&](size_t begin, size_t end, bool inner) {
          if (inner) {
            allBands(begin, end);
          } else {
            approxOnly(begin, end);
          }
        });
      } else {
        approxOnly(0, static_cast<size_t>(nc));
      }
    }
  }
}

inline void WTInvImpl(const InvJob& job) {
  const Filter& lf = job.low;
  const Filter& hf = job.high;
  const InvLayout layout = MakeInvLayout(lf, hf);
  const int lo = ReachLo(lf, hf);
  const int hi = ReachHi(lf, hf);
  const int total = lf.length + hf.length;

  auto* base = reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(job.buffer) + 63) &
                                                ~static_cast<uintptr_t>(63));
  float* lowRow = reinterpret_cast<float*>(base);
  float* highRow = lowRow + layout.rowLen;
  float* tapSub = highRow + layout.rowLen;  // 3 groups of `total` taps
  float* colTapsLow = tapSub;
  float* colTapsHigh = colTapsLow + lf.length;
  float* evenTaps = tapSub + RoundUp16(static_cast<size_t>(total));
  float* oddTaps = evenTaps + RoundUp16(static_cast<size_t>(total));
  const float** ptrs =
      reinterpret_cast<const float**>(tapSub + 3 * RoundUp16(static_cast<size_t>(total)));
  const float** colA = ptrs;                   // up to lf.length
  const float** colDX = colA + lf.length;      // up to lf.length
  const float** colDY = colDX + lf.length;     // up to hf.length
  const float** colDXY = colDY + hf.length;    // up to hf.length
  const float** evenSrc = colDXY + hf.length;  // total
  const float** oddSrc = evenSrc + total;      // total

  for (int m0 = 0; m0 < 2 * job.bw; m0 += kInvStrip) {
    const int mc = std::min(kInvStrip, 2 * job.bw - m0);
    const int half = mc / 2;
    const int cS = m0 / 2 + CeilHalf(lo);
    const int cE = FloorHalf(m0 + mc - 1 + hi);
    const size_t ncols = static_cast<size_t>(cE - cS + 1);

    // Row pass: even output 2j takes terms with a - k even from column
    // m0/2 + j + (a - k)/2, odd output 2j + 1 those with a - k odd from
    // m0/2 + j + (a - k + 1)/2. Low terms first, then high terms.
    int evenLowCount = 0, evenCount = 0, oddLowCount = 0, oddCount = 0;
    const auto addRowTerms = [&](const Filter& f, const float* row) {
      for (int k = 0; k < f.length; ++k) {
        const int q = f.anchor - k;
        if (q % 2 == 0) {
          evenTaps[evenCount] = f.taps[k];
          evenSrc[evenCount++] = row + (m0 / 2 + q / 2 - cS);
        } else {
          oddTaps[oddCount] = f.taps[k];
          oddSrc[oddCount++] = row + (m0 / 2 + (q + 1) / 2 - cS);
        }
      }
    };
    addRowTerms(lf, lowRow);
    evenLowCount = evenCount;
    oddLowCount = oddCount;
    addRowTerms(hf, highRow);
    // The four row sums share one length when both filters do (same length
    // and anchor parity): then they run fused.
    const bool rowFused = evenLowCount == evenCount - evenLowCount &&
                          oddLowCount == oddCount - oddLowCount && evenLowCount == oddLowCount;

    for (int r = job.rowBegin; r < job.rowEnd; ++r) {
      // Column pass for output row r over band columns cS .. cE.
      int nLow = 0, nHigh = 0;
      for (int k = 0; k < lf.length; ++k) {
        const int i = r + lf.anchor - k;
        if (i % 2 != 0) continue;
        colTapsLow[nLow] = lf.taps[k];
        colA[nLow] = RowAt(job.band[0], job.bandStep[0], i / 2) + cS;
        colDX[nLow++] = RowAt(job.band[1], job.bandStep[1], i / 2) + cS;
      }
      for (int k = 0; k < hf.length; ++k) {
        const int i = r + hf.anchor - k;
        if (i % 2 != 0) continue;
        colTapsHigh[nHigh] = hf.taps[k];
        colDY[nHigh] = RowAt(job.band[2], job.bandStep[2], i / 2) + cS;
        colDXY[nHigh++] = RowAt(job.band[3], job.bandStep[3], i / 2) + cS;
      }
      const auto colBody = [&](auto d, size_t j) {
        hn::StoreU(hn::Add(Dot(d, colTapsLow, colA, nLow, j), Dot(d, colTapsHigh, colDY, nHigh, j)),
                   d, lowRow + j);
        hn::StoreU(
            hn::Add(Dot(d, colTapsLow, colDX, nLow, j), Dot(d, colTapsHigh, colDXY, nHigh, j)), d,
            highRow + j);
      };
      if (nLow == nHigh) {
        // lowRow = (h' on approx) + (g' on detailY), highRow = (h' on
        // detailX) + (g' on detailXY): four sums fused, two vectors at once.
        const float* const taps4[4] = {colTapsLow, colTapsHigh, colTapsLow, colTapsHigh};
        const float* const* const rows4[4] = {colA, colDY, colDX, colDXY};
        ForEachLaneBlocked(
            ncols,
            [&](auto d, size_t j) {
              const size_t n = hn::Lanes(d);
              for (size_t u = 0; u < 4; u += 2) {
                hn::Vec<decltype(d)> v[2][4];
                Dot4Sets<2>(d, taps4, rows4, nLow, j + u * n, v);
                for (size_t q = 0; q < 2; ++q) {
                  hn::StoreU(hn::Add(v[q][0], v[q][1]), d, lowRow + j + (u + q) * n);
                  hn::StoreU(hn::Add(v[q][2], v[q][3]), d, highRow + j + (u + q) * n);
                }
              }
            },
            colBody);
      } else {
        ForEachLane(ncols, colBody);
      }
      float* y = RowAt(job.dst, job.dstStep, r) + m0;
      const auto rowBody = [&](auto d, size_t j) {
        const auto e = hn::Add(
            Dot(d, evenTaps, evenSrc, evenLowCount, j),
            Dot(d, evenTaps + evenLowCount, evenSrc + evenLowCount, evenCount - evenLowCount, j));
        const auto o =
            hn::Add(Dot(d, oddTaps, oddSrc, oddLowCount, j),
                    Dot(d, oddTaps + oddLowCount, oddSrc + oddLowCount, oddCount - oddLowCount, j));
        hn::StoreInterleaved2(e, o, d, y + 2 * j);
      };
      if (rowFused) {
        const float* const taps4[4] = {evenTaps, evenTaps + evenLowCount, oddTaps,
                                       oddTaps + oddLowCount};
        const float* const* const rows4[4] = {evenSrc, evenSrc + evenLowCount, oddSrc,
                                              oddSrc + oddLowCount};
        ForEachLaneBlocked(
            static_cast<size_t>(half),
            [&](auto d, size_t j) {
              const size_t n = hn::Lanes(d);
              for (size_t u = 0; u < 4; u += 2) {
                hn::Vec<decltype(d)> v[2][4];
                Dot4Sets<2>(d, taps4, rows4, evenLowCount, j + u * n, v);
                for (size_t q = 0; q < 2; ++q) {
                  hn::StoreInterleaved2(hn::Add(v[q][0], v[q][1]), hn::Add(v[q][2], v[q][3]), d,
                                        y + 2 * (j + (u + q) * n));
                }
              }
            },
            rowBody);
      } else {
        ForEachLane(static_cast<size_t>(half), rowBody);
      }
    }
  }
}

}  // namespace KelvoLibImageProcessing::wavelet::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // per-target guard
