// ippiConvFull: full two-dimensional convolution, output (w1 + w2 - 1) x
// (h1 + h2 - 1), terms outside either input being zero.
//
// Float: each output is a float sum whose terms are added in memory order of
// the second image (row by row, left to right), terms outside the first
// image skipped; every path keeps that order. Integer: exact 64-bit sums,
// divided by the divisor with floor(sum / divisor + 1/2) (ties toward
// positive infinity, also for negative sums) and saturated. A divisor below
// 1 is refused with the size status.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/ConvFull.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/primitives/conv_full-inl.h"

#if HWY_ONCE
#include <algorithm>
#include <cstdint>
#include <utility>

#include "imaging/primitives/ParallelRows.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"

namespace kelvo::primitives {
HWY_EXPORT(ConvFullFloat);

namespace {

IppStatus CheckConv(const void* s1, IppiSize z1, const void* s2, IppiSize z2, const void* d) {
  if (s1 == nullptr || s2 == nullptr || d == nullptr) return ippStsNullPtrErr;
  if (detail::BadSize(z1) || detail::BadSize(z2)) return ippStsSizeErr;
  return ippStsNoErr;
}

// The bytes [first, last) that `rows` rows of `samples` floats at `step`
// touch.
std::pair<std::uintptr_t, std::uintptr_t> Bytes(const void* p, int step, int rows, long samples) {
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t lastRow =
      base + static_cast<std::uintptr_t>(static_cast<std::intptr_t>(step) * (rows - 1));
  const std::uintptr_t rowBytes = static_cast<std::uintptr_t>(samples) * sizeof(Ipp32f);
  return {std::min(base, lastRow), std::max(base, lastRow) + rowBytes};
}

bool Apart(std::pair<std::uintptr_t, std::uintptr_t> a,
           std::pair<std::uintptr_t, std::uintptr_t> b) {
  return a.second <= b.first || b.second <= a.first;
}

IppStatus ConvFloat(const Ipp32f* s1, int step1, IppiSize z1, const Ipp32f* s2, int step2,
                    IppiSize z2, Ipp32f* d, int dstStep, int ch) {
  const IppStatus st = CheckConv(s1, z1, s2, z2, d);
  if (st != ippStsNoErr) return st;
  const int outRows = z1.height + z2.height - 1;
  // Each output row is computed on its own, so bands of rows may run at
  // once, unless the output overlaps an input.
  const auto out = Bytes(d, dstStep, outRows, static_cast<long>(z1.width + z2.width - 1) * ch);
  const bool disjoint = Apart(Bytes(s1, step1, z1.height, static_cast<long>(z1.width) * ch), out) &&
                        Apart(Bytes(s2, step2, z2.height, static_cast<long>(z2.width) * ch), out);
  const auto band = [&](int y0, int y1) {
    const detail::ConvArgs args{s1,        step1, z1.width, z1.height, s2, step2, z2.width,
                                z2.height, d,     dstStep,  ch,        y0, y1,    disjoint};
    HWY_DYNAMIC_DISPATCH(ConvFullFloat)(args);
  };
  const long samples = static_cast<long>(z1.width + z2.width - 1) * ch * z2.width * z2.height;
  if (disjoint) {
    kelvo::ParallelRows(outRows, kelvo::BandRows(samples), band);
  } else {
    band(0, outRows);
  }
  return ippStsNoErr;
}

// floor(num / den + 1/2) for den > 0.
int64_t RoundDiv(int64_t num, int64_t den) {
  const int64_t n = 2 * num + den;
  const int64_t d = 2 * den;
  int64_t q = n / d;
  if (n % d != 0 && n < 0) --q;
  return q;
}

// The integer forms keep exact 64-bit sums, which no vector width here
// offers on every target; the library only runs them on small images.
template <class T>
IppStatus ConvInt(const T* s1, int step1, IppiSize z1, const T* s2, int step2, IppiSize z2, T* d,
                  int dstStep, int divisor, int ch) {
  const IppStatus st = CheckConv(s1, z1, s2, z2, d);
  if (st != ippStsNoErr) return st;
  if (divisor < 1) return ippStsSizeErr;
  constexpr int64_t lo = std::is_same_v<T, Ipp8u> ? 0 : -32768;
  constexpr int64_t hi = std::is_same_v<T, Ipp8u> ? 255 : 32767;
  const int ow = z1.width + z2.width - 1;
  const int oh = z1.height + z2.height - 1;
  for (int y = 0; y < oh; ++y) {
    T* out = detail::RowAt(d, dstStep, y);
    const int kyBegin = std::max(0, y - z1.height + 1), kyEnd = std::min(z2.height, y + 1);
    for (int x = 0; x < ow; ++x) {
      const int kxBegin = std::max(0, x - z1.width + 1), kxEnd = std::min(z2.width, x + 1);
      for (int c = 0; c < ch; ++c) {
        int64_t sum = 0;
        for (int ky = kyBegin; ky < kyEnd; ++ky) {
          const T* a = detail::RowAt(s1, step1, y - ky);
          const T* k = detail::RowAt(s2, step2, ky);
          for (int kx = kxBegin; kx < kxEnd; ++kx) {
            sum += static_cast<int64_t>(a[(x - kx) * ch + c]) * k[kx * ch + c];
          }
        }
        out[x * ch + c] = static_cast<T>(std::clamp(RoundDiv(sum, divisor), lo, hi));
      }
    }
  }
  return ippStsNoErr;
}

}  // namespace
}  // namespace kelvo::primitives

using kelvo::primitives::ConvFloat;
using kelvo::primitives::ConvInt;

extern "C" {

IppStatus ippiConvFull_8u_C1R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 1);
}
IppStatus ippiConvFull_8u_C3R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 3);
}
IppStatus ippiConvFull_16s_C1R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 1);
}
IppStatus ippiConvFull_16s_C3R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 3);
}
IppStatus ippiConvFull_32f_C1R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept {
  return ConvFloat(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, 1);
}
IppStatus ippiConvFull_32f_C3R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept {
  return ConvFloat(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, 3);
}

}  // extern "C"
#endif  // HWY_ONCE
