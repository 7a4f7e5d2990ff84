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

}  // namespace
}  // namespace kelvo::primitives

using kelvo::primitives::CheckMasked;
using kelvo::primitives::Radius;

extern "C" {

IppStatus ippiFilterGauss_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Gauss8u)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height, 1, Radius(mask));
  return ippStsNoErr;
}

IppStatus ippiFilterGauss_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Gauss8u)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height, 3, Radius(mask));
  return ippStsNoErr;
}

IppStatus ippiFilterLaplace_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Laplace8u)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height, Radius(mask));
  return ippStsNoErr;
}

IppStatus ippiFilterLaplace_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize, IppiMaskSize mask) noexcept {
  const IppStatus st = CheckMasked(pSrc, pDst, dstRoiSize, mask);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Laplace16s)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height, Radius(mask));
  return ippStsNoErr;
}

IppStatus ippiFilterSharpen_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize) noexcept {
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, dstRoiSize);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Sharpen8u)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height);
  return ippStsNoErr;
}

IppStatus ippiFilterSharpen_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize) noexcept {
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, dstRoiSize);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::Sharpen16s)
  (pSrc, srcStep, pDst, dstStep, dstRoiSize.width, dstRoiSize.height);
  return ippStsNoErr;
}

}  // extern "C"
#endif  // HWY_ONCE
