// ippiRGBToYUV_8u_C3P3R and ippiYUVToRGB_8u_P3C3R. The first channel in
// memory is taken as R; the library's blue-first images are passed as they
// are, so only the Y plane's weights matter to it, and the round trip keeps
// U and V within rounding.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/ColourConversion.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/primitives/colour_yuv-inl.h"

#if HWY_ONCE
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"

namespace kelvo::primitives {
HWY_EXPORT(RgbToYuvImage);
HWY_EXPORT(YuvToRgbImage);
}  // namespace kelvo::primitives

extern "C" {

IppStatus ippiRGBToYUV_8u_C3P3R(const Ipp8u* pSrc, int srcStep, Ipp8u* const pDst[3], int dstStep,
                                IppiSize roiSize) noexcept {
  if (pDst == nullptr || !pDst[0] || !pDst[1] || !pDst[2]) return ippStsNullPtrErr;
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst[0], roiSize);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::RgbToYuvImage)
  (pSrc, srcStep, pDst, dstStep, roiSize.width, roiSize.height);
  return ippStsNoErr;
}

IppStatus ippiYUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize) noexcept {
  if (pSrc == nullptr || !pSrc[0] || !pSrc[1] || !pSrc[2]) return ippStsNullPtrErr;
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc[0], pDst, roiSize);
  if (st != ippStsNoErr) return st;
  HWY_DYNAMIC_DISPATCH(kelvo::primitives::YuvToRgbImage)
  (pSrc, srcStep, pDst, dstStep, roiSize.width, roiSize.height);
  return ippStsNoErr;
}

}  // extern "C"
#endif  // HWY_ONCE
