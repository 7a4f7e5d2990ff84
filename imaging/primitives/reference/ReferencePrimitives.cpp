#include "imaging/primitives/reference/ReferencePrimitives.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/primitives/detail/Args.h"

namespace kelvo::reference {
namespace {

using primitives::detail::BadSize;
using primitives::detail::CheckImage2;
using primitives::detail::RowAt;
using primitives::detail::ValidMask;

int Clamp(int64_t v, int lo, int hi) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(v, lo), hi));
}

template <class T>
constexpr int kMin = std::is_same_v<T, Ipp8u> ? 0 : -32768;
template <class T>
constexpr int kMax = std::is_same_v<T, Ipp8u> ? 255 : 32767;

// floor(num / den + 1/2) for den > 0, exact for negative numerators too.
int64_t RoundDiv(int64_t num, int64_t den) {
  int64_t n = 2 * num + den;
  int64_t d = 2 * den;
  int64_t q = n / d;
  if (n % d != 0 && n < 0) --q;
  return q;
}

// Applies a square integer kernel (row-major, size k x k) centred on each
// destination pixel, channel by channel, then divides by `div` (rounding as
// RoundDiv) and saturates.
template <class T>
IppStatus Kernel(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, int channels,
                 const int* kernel, int k, int div) {
  IppStatus st = CheckImage2(src, dst, roi);
  if (st != ippStsNoErr) return st;
  const int r = k / 2;
  for (int y = 0; y < roi.height; ++y) {
    for (int x = 0; x < roi.width; ++x) {
      for (int c = 0; c < channels; ++c) {
        int64_t sum = 0;
        for (int ky = 0; ky < k; ++ky) {
          const T* row = RowAt(src, srcStep, y + ky - r);
          for (int kx = 0; kx < k; ++kx) {
            sum += static_cast<int64_t>(kernel[ky * k + kx]) * row[(x + kx - r) * channels + c];
          }
        }
        RowAt(dst, dstStep, y)[x * channels + c] =
            static_cast<T>(Clamp(RoundDiv(sum, div), kMin<T>, kMax<T>));
      }
    }
  }
  return ippStsNoErr;
}

constexpr int kGauss3[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
constexpr int kGauss5[25] = {2,  7,  12, 7,  2,  7,  31, 52, 31, 7,  12, 52, 127,
                             52, 12, 7,  31, 52, 31, 7,  2,  7,  12, 7,  2};
constexpr int kLaplace3[9] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
constexpr int kLaplace5[25] = {-1, -3, -4, -3, -1, -3, 0,  6,  0,  -3, -4, 6, 20,
                               6,  -4, -3, 0,  6,  0,  -3, -1, -3, -4, -3, -1};
constexpr int kSharpen[9] = {-1, -1, -1, -1, 16, -1, -1, -1, -1};

template <class T>
IppStatus Gauss(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, IppiMaskSize mask,
                int channels) {
  if (!ValidMask(mask)) return src && dst ? ippStsSizeErr : ippStsNullPtrErr;
  return mask == ippMskSize3x3 ? Kernel(src, srcStep, dst, dstStep, roi, channels, kGauss3, 3, 16)
                               : Kernel(src, srcStep, dst, dstStep, roi, channels, kGauss5, 5, 571);
}

template <class T>
IppStatus Laplace(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, IppiMaskSize mask) {
  if (!ValidMask(mask)) return src && dst ? ippStsSizeErr : ippStsNullPtrErr;
  return mask == ippMskSize3x3 ? Kernel(src, srcStep, dst, dstStep, roi, 3, kLaplace3, 3, 1)
                               : Kernel(src, srcStep, dst, dstStep, roi, 3, kLaplace5, 5, 1);
}

template <class T>
IppStatus Median(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, IppiSize mask,
                 IppiPoint anchor) {
  IppStatus st = CheckImage2(src, dst, roi);
  if (st != ippStsNoErr) return st;
  if (primitives::detail::BadMedianMask(mask, anchor)) return ippStsSizeErr;
  std::vector<T> window(static_cast<size_t>(mask.width) * mask.height);
  for (int y = 0; y < roi.height; ++y) {
    for (int x = 0; x < roi.width; ++x) {
      size_t n = 0;
      for (int my = 0; my < mask.height; ++my) {
        const T* row = RowAt(src, srcStep, y - anchor.y + my);
        for (int mx = 0; mx < mask.width; ++mx) window[n++] = row[x - anchor.x + mx];
      }
      std::sort(window.begin(), window.end());
      RowAt(dst, dstStep, y)[x] = window[n / 2];
    }
  }
  return ippStsNoErr;
}

IppStatus CheckConv(const void* s1, IppiSize z1, const void* s2, IppiSize z2, const void* d) {
  if (s1 == nullptr || s2 == nullptr || d == nullptr) return ippStsNullPtrErr;
  if (BadSize(z1) || BadSize(z2)) return ippStsSizeErr;
  return ippStsNoErr;
}

// Full convolution, summing over the second image in memory order.
template <class T, class Acc, class Store>
IppStatus Conv(const T* s1, int step1, IppiSize z1, const T* s2, int step2, IppiSize z2, T* d,
               int dstStep, int channels, Store store) {
  const int ow = z1.width + z2.width - 1;
  const int oh = z1.height + z2.height - 1;
  for (int y = 0; y < oh; ++y) {
    for (int x = 0; x < ow; ++x) {
      for (int c = 0; c < channels; ++c) {
        Acc sum = 0;
        for (int ky = 0; ky < z2.height; ++ky) {
          const int sy = y - ky;
          if (sy < 0 || sy >= z1.height) continue;
          for (int kx = 0; kx < z2.width; ++kx) {
            const int sx = x - kx;
            if (sx < 0 || sx >= z1.width) continue;
            const Acc a = static_cast<Acc>(RowAt(s1, step1, sy)[sx * channels + c]);
            const Acc b = static_cast<Acc>(RowAt(s2, step2, ky)[kx * channels + c]);
            const Acc p = a * b;
            sum = sum + p;
          }
        }
        RowAt(d, dstStep, y)[x * channels + c] = store(sum);
      }
    }
  }
  return ippStsNoErr;
}

template <class T>
IppStatus ConvInt(const T* s1, int step1, IppiSize z1, const T* s2, int step2, IppiSize z2, T* d,
                  int dstStep, int divisor, int channels) {
  IppStatus st = CheckConv(s1, z1, s2, z2, d);
  if (st != ippStsNoErr) return st;
  if (divisor < 1) return ippStsSizeErr;
  return Conv<T, int64_t>(s1, step1, z1, s2, step2, z2, d, dstStep, channels, [&](int64_t s) {
    return static_cast<T>(Clamp(RoundDiv(s, divisor), kMin<T>, kMax<T>));
  });
}

IppStatus ConvFloat(const Ipp32f* s1, int step1, IppiSize z1, const Ipp32f* s2, int step2,
                    IppiSize z2, Ipp32f* d, int dstStep, int channels) {
  IppStatus st = CheckConv(s1, z1, s2, z2, d);
  if (st != ippStsNoErr) return st;
  return Conv<Ipp32f, float>(s1, step1, z1, s2, step2, z2, d, dstStep, channels,
                             [](float s) { return s; });
}

}  // namespace

IppStatus YCbCr422ToBGR_8u_C2C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roi) {
  IppStatus st = CheckImage2(pSrc, pDst, roi);
  if (st != ippStsNoErr) return st;
  if (roi.width < 2) return ippStsSizeErr;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = RowAt(pSrc, srcStep, y);
    Ipp8u* d = RowAt(pDst, dstStep, y);
    for (int x = 0; x < roi.width; ++x) {
      const int pair = x & ~1;
      const int yy = s[2 * x];
      const int cb = s[2 * pair + 1];
      // An odd width's last pixel has no pair: its Cr is the preceding pair's.
      const int cr = (pair + 1 < roi.width) ? s[2 * pair + 3] : s[2 * pair - 1];
      const int r = (76284 * yy + 104595 * cr - 14608761) >> 16;
      const int g = (76284 * yy - 53281 * cr - 25690 * cb + 8887730) >> 16;
      const int b = (76284 * yy + 132186 * cb - 18140365) >> 16;
      d[3 * x + 0] = static_cast<Ipp8u>(Clamp(b, 0, 255));
      d[3 * x + 1] = static_cast<Ipp8u>(Clamp(g, 0, 255));
      d[3 * x + 2] = static_cast<Ipp8u>(Clamp(r, 0, 255));
    }
  }
  return ippStsNoErr;
}

IppStatus RGBToYUV_8u_C3P3R(const Ipp8u* pSrc, int srcStep, Ipp8u* const pDst[3], int dstStep,
                            IppiSize roi) {
  if (pDst == nullptr || !pDst[0] || !pDst[1] || !pDst[2]) return ippStsNullPtrErr;
  IppStatus st = CheckImage2(pSrc, pDst[0], roi);
  if (st != ippStsNoErr) return st;
  for (int y = 0; y < roi.height; ++y) {
    const Ipp8u* s = RowAt(pSrc, srcStep, y);
    for (int x = 0; x < roi.width; ++x) {
      const int r = s[3 * x], g = s[3 * x + 1], b = s[3 * x + 2];
      const int yv = (19595 * r + 38470 * g + 7471 * b + 32768) >> 16;
      const int u = (-9641 * r - 18927 * g + 28568 * b + (128 << 16) + 32768) >> 16;
      const int v = (40290 * r - 33738 * g - 6552 * b + (128 << 16) + 32768) >> 16;
      RowAt(pDst[0], dstStep, y)[x] = static_cast<Ipp8u>(Clamp(yv, 0, 255));
      RowAt(pDst[1], dstStep, y)[x] = static_cast<Ipp8u>(Clamp(u, 0, 255));
      RowAt(pDst[2], dstStep, y)[x] = static_cast<Ipp8u>(Clamp(v, 0, 255));
    }
  }
  return ippStsNoErr;
}

IppStatus YUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                            IppiSize roi) {
  if (pSrc == nullptr || !pSrc[0] || !pSrc[1] || !pSrc[2]) return ippStsNullPtrErr;
  IppStatus st = CheckImage2(pSrc[0], pDst, roi);
  if (st != ippStsNoErr) return st;
  for (int y = 0; y < roi.height; ++y) {
    Ipp8u* d = RowAt(pDst, dstStep, y);
    for (int x = 0; x < roi.width; ++x) {
      const int yv = RowAt(pSrc[0], srcStep, y)[x];
      const int u = RowAt(pSrc[1], srcStep, y)[x] - 128;
      const int v = RowAt(pSrc[2], srcStep, y)[x] - 128;
      const int r = ((yv << 16) + 74711 * v + 32768) >> 16;
      const int g = ((yv << 16) - 25821 * u - 38076 * v + 32768) >> 16;
      const int b = ((yv << 16) + 133169 * u + 32768) >> 16;
      d[3 * x + 0] = static_cast<Ipp8u>(Clamp(r, 0, 255));
      d[3 * x + 1] = static_cast<Ipp8u>(Clamp(g, 0, 255));
      d[3 * x + 2] = static_cast<Ipp8u>(Clamp(b, 0, 255));
    }
  }
  return ippStsNoErr;
}

IppStatus FilterGauss_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roi,
                             IppiMaskSize mask) {
  return Gauss(pSrc, srcStep, pDst, dstStep, roi, mask, 1);
}
IppStatus FilterGauss_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roi,
                             IppiMaskSize mask) {
  return Gauss(pSrc, srcStep, pDst, dstStep, roi, mask, 3);
}
IppStatus FilterLaplace_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roi, IppiMaskSize mask) {
  return Laplace(pSrc, srcStep, pDst, dstStep, roi, mask);
}
IppStatus FilterLaplace_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                IppiSize roi, IppiMaskSize mask) {
  return Laplace(pSrc, srcStep, pDst, dstStep, roi, mask);
}
IppStatus FilterSharpen_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roi) {
  return Kernel(pSrc, srcStep, pDst, dstStep, roi, 3, kSharpen, 3, 8);
}
IppStatus FilterSharpen_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                IppiSize roi) {
  return Kernel(pSrc, srcStep, pDst, dstStep, roi, 3, kSharpen, 3, 8);
}

IppStatus FilterMedian_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roi, IppiSize maskSize, IppiPoint anchor) {
  return Median(pSrc, srcStep, pDst, dstStep, roi, maskSize, anchor);
}
IppStatus FilterMedian_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roi, IppiSize maskSize, IppiPoint anchor) {
  return Median(pSrc, srcStep, pDst, dstStep, roi, maskSize, anchor);
}

IppStatus ConvFull_8u_C1R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size, const Ipp8u* pSrc2,
                          int src2Step, IppiSize src2Size, Ipp8u* pDst, int dstStep, int divisor) {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 1);
}
IppStatus ConvFull_8u_C3R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size, const Ipp8u* pSrc2,
                          int src2Step, IppiSize src2Size, Ipp8u* pDst, int dstStep, int divisor) {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 3);
}
IppStatus ConvFull_16s_C1R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                           int dstStep, int divisor) {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 1);
}
IppStatus ConvFull_16s_C3R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                           int dstStep, int divisor) {
  return ConvInt(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor, 3);
}
IppStatus ConvFull_32f_C1R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                           int dstStep) {
  return ConvFloat(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, 1);
}
IppStatus ConvFull_32f_C3R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                           int dstStep) {
  return ConvFloat(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, 3);
}

IppStatus Copy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep, IppiSize roi) {
  IppStatus st = CheckImage2(pSrc, pDst, roi);
  if (st != ippStsNoErr) return st;
  for (int y = 0; y < roi.height; ++y) {
    for (int x = 0; x < roi.width; ++x) RowAt(pDst, dstStep, y)[x] = RowAt(pSrc, srcStep, y)[x];
  }
  return ippStsNoErr;
}

}  // namespace kelvo::reference
