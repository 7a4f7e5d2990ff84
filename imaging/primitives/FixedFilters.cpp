// Gauss, Laplace and Sharpen with their fixed kernels. The ROI is the
// destination; the kernel reads around it, which the caller guarantees.
//
// Rounding: sums that need dividing round half toward positive infinity,
// floor(sum / d + 1/2), also for negative sums (Sharpen: -2.5 gives -2); the
// 5x5 Gaussian divides by the odd 571 so its non-negative sums never tie.
// Results saturate to the destination type.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/FixedFilters.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/primitives/fixed_filters-inl.h"

#if HWY_ONCE
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"
#include "imaging/primitives/ParallelRows.h"

namespace kelvo::primitives {
HWY_EXPORT(Gauss8u);
HWY_EXPORT(Laplace8u);
HWY_EXPORT(Laplace16s);
HWY_EXPORT(Sharpen8u);
HWY_EXPORT(Sharpen16s);

namespace {

// Null pointers first, then the size and the mask.
IppStatus CheckMasked(const void* src, const void* dst, IppiSize roi, IppiMaskSize mask) {
  const IppStatus st = detail::CheckImage2(src, dst, roi);
  if (st != ippStsNoErr) return st;
  return detail::ValidMask(mask) ? ippStsNoErr : ippStsSizeErr;
}

int Radius(IppiMaskSize mask) {
  return mask == ippMskSize3x3 ? 1 : 2;
}

// kernel(src, srcStep, dst, dstStep, width, rows) on bands of rows, unless
// the image is filtered in place.
template <class T, class Kernel>
void Bands(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, int ch, int radius,
           Kernel kernel) {
  const auto band = [&](int y0, int y1) {
    kernel(detail::RowAt(src, srcStep, y0), srcStep, detail::RowAt(dst, dstStep, y0), dstStep,
           roi.width, y1 - y0);
  };
  if (kelvo::Disjoint(src, srcStep, dst, dstStep, roi.height, radius)) {
    kelvo::ParallelRows(roi.height, kelvo::BandRows(static_cast<long>(roi.width) * ch * 4), band);
  } else {
    band(0, roi.height);
  }
}

}  // namespace
}  // namespace kelvo::primitives

using kelvo::primitives::CheckMasked;
using kelvo::primitives::Bands;
using kelvo::primitives::Radius;

extern "C" {

IppStatus ippiFilterGauss_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 1, Radius(mask),
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Gauss8u)(a..., 1, Radius(mask)); });
  return ippStsNoErr;
}

IppStatus ippiFilterGauss_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 3, Radius(mask),
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Gauss8u)(a..., 3, Radius(mask)); });
  return ippStsNoErr;
}

IppStatus ippiFilterLaplace_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 3, Radius(mask),
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Laplace8u)(a..., Radius(mask)); });
  return ippStsNoErr;
}

IppStatus ippiFilterLaplace_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 3, Radius(mask),
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Laplace16s)(a..., Radius(mask)); });
  return ippStsNoErr;
}

IppStatus ippiFilterSharpen_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize) noexcept {
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, dstRoiSize);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 3, 1,
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Sharpen8u)(a...); });
  return ippStsNoErr;
}

IppStatus ippiFilterSharpen_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize) noexcept {
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, dstRoiSize);
  if (st != ippStsNoErr) return st;
  Bands(pSrc, srcStep, pDst, dstStep, dstRoiSize, 3, 1,
        [&](auto... a) { HWY_DYNAMIC_DISPATCH(kelvo::primitives::Sharpen16s)(a...); });
  return ippStsNoErr;
}

}  // extern "C"
#endif  // HWY_ONCE
