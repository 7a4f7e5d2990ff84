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

namespace KelvoLibImageProcessing::wavelet {

struct Filter {
  const float* taps;
  int length;
  int anchor;
};

// Band columns per strip of the analysis, and output columns per strip of the
// synthesis (even, so a strip starts on a band sample).
constexpr int kFwdStrip = 1024;
constexpr int kInvStrip = 2048;

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

// Layout of the analysis work buffer (in floats, then pointers).
struct FwdLayout {
  size_t evenOddLen;  // each of the even and odd sample rows
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
  out.ringRows = hi - lo + 1;
  out.floats = 2 * out.evenOddLen + 2 * static_cast<size_t>(out.ringRows) * kFwdStrip;
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
  const float* src;
  ptrdiff_t srcStep;
  float* dst[4];  // approx, detailX, detailY, detailXY
  ptrdiff_t dstStep[4];
  int bw, bh;
  Filter low, high;
  unsigned char* buffer;
};

struct InvJob {
  const float* band[4];  // approx, detailX, detailY, detailXY
  ptrdiff_t bandStep[4];
  int bw, bh;
  float* dst;
  ptrdiff_t dstStep;
  Filter low, high;
  unsigned char* buffer;
};

template <class T>
inline T* RowAt(T* base, ptrdiff_t step, ptrdiff_t row) {
  using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(base) + row * step);
}

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

// Runs body(tag, j) over [0, n): whole vectors, then the same body on a
// one-lane tag for the tail.
template <class Body>
HWY_INLINE void ForEachLane(size_t n, Body&& body) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  size_t j = 0;
  for (; j + lanes <= n; j += lanes) body(d, j);
  const hn::CappedTag<float, 1> d1;
  for (; j < n; ++j) body(d1, j);
}

inline void WTFwdImpl(const FwdJob& job) {
  const Filter& lf = job.low;
  const Filter& hf = job.high;
  const FwdLayout layout = MakeFwdLayout(lf, hf);
  const int lo = ReachLo(lf, hf);
  const int hi = ReachHi(lf, hf);
  const int loEven = 2 * FloorHalf(lo);
  const int ringRows = layout.ringRows;

  auto* base = reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(job.buffer) + 63) &
                                                ~static_cast<uintptr_t>(63));
  float* even = reinterpret_cast<float*>(base);
  float* odd = even + layout.evenOddLen;
  float* ringLow = odd + layout.evenOddLen;
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

  for (int n0 = 0; n0 < job.bw; n0 += kFwdStrip) {
    const int nc = std::min(kFwdStrip, job.bw - n0);
    const int first = lo;                // first source column offset of the strip
    const int last = 2 * (nc - 1) + hi;  // last one, both relative to 2 * n0
    int nextRow = lo;
    for (int n = 0; n < job.bh; ++n) {
      // Row outputs for source rows up to 2n + hi.
      for (int r = std::max(nextRow, 2 * n + lo); r <= 2 * n + hi; ++r) {
        const float* x = RowAt(job.src, job.srcStep, r) + 2 * static_cast<ptrdiff_t>(n0);
        for (int i = first; i <= last; ++i) {
          const int idx = i - loEven;
          if ((idx & 1) == 0) {
            even[idx >> 1] = x[i];
          } else {
            odd[idx >> 1] = x[i];
          }
        }
        float* outLow = ringLow + static_cast<size_t>(slot(r)) * kFwdStrip;
        float* outHigh = ringHigh + static_cast<size_t>(slot(r)) * kFwdStrip;
        ForEachLane(static_cast<size_t>(nc), [&](auto d, size_t j) {
          hn::StoreU(Dot(d, lf.taps, rowPtrLow, lf.length, j), d, outLow + j);
          hn::StoreU(Dot(d, hf.taps, rowPtrHigh, hf.length, j), d, outHigh + j);
        });
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
      ForEachLane(static_cast<size_t>(nc), [&](auto d, size_t j) {
        hn::StoreU(Dot(d, lf.taps, lowOnLow, lf.length, j), d, approx + j);
        hn::StoreU(Dot(d, lf.taps, lowOnHigh, lf.length, j), d, detailX + j);
        hn::StoreU(Dot(d, hf.taps, highOnLow, hf.length, j), d, detailY + j);
        hn::StoreU(Dot(d, hf.taps, highOnHigh, hf.length, j), d, detailXY + j);
      });
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

  const int outH = 2 * job.bh;
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

    for (int r = 0; r < outH; ++r) {
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
      ForEachLane(ncols, [&](auto d, size_t j) {
        hn::StoreU(hn::Add(Dot(d, colTapsLow, colA, nLow, j), Dot(d, colTapsHigh, colDY, nHigh, j)),
                   d, lowRow + j);
        hn::StoreU(
            hn::Add(Dot(d, colTapsLow, colDX, nLow, j), Dot(d, colTapsHigh, colDXY, nHigh, j)), d,
            highRow + j);
      });
      float* y = RowAt(job.dst, job.dstStep, r) + m0;
      ForEachLane(static_cast<size_t>(half), [&](auto d, size_t j) {
        const auto e = hn::Add(
            Dot(d, evenTaps, evenSrc, evenLowCount, j),
            Dot(d, evenTaps + evenLowCount, evenSrc + evenLowCount, evenCount - evenLowCount, j));
        const auto o =
            hn::Add(Dot(d, oddTaps, oddSrc, oddLowCount, j),
                    Dot(d, oddTaps + oddLowCount, oddSrc + oddLowCount, oddCount - oddLowCount, j));
        hn::StoreInterleaved2(e, o, d, y + 2 * j);
      });
    }
  }
}

}  // namespace KelvoLibImageProcessing::wavelet::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // per-target guard
