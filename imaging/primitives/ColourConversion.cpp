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
#include "imaging/primitives/ParallelRows.h"

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
  using kelvo::primitives::detail::RowAt;
  kelvo::ParallelRows(
      roiSize.height, kelvo::BandRows(roiSize.width * 3L), [&](int y0, int y1) {
        Ipp8u* const planes[3] = {RowAt(pDst[0], dstStep, y0), RowAt(pDst[1], dstStep, y0),
                                  RowAt(pDst[2], dstStep, y0)};
        HWY_DYNAMIC_DISPATCH(kelvo::primitives::RgbToYuvImage)
        (RowAt(pSrc, srcStep, y0), srcStep, planes, dstStep, roiSize.width, y1 - y0);
      });
  return ippStsNoErr;
}

IppStatus ippiYUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize) noexcept {
  if (pSrc == nullptr || !pSrc[0] || !pSrc[1] || !pSrc[2]) return ippStsNullPtrErr;
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc[0], pDst, roiSize);
  if (st != ippStsNoErr) return st;
  using kelvo::primitives::detail::RowAt;
  kelvo::ParallelRows(
      roiSize.height, kelvo::BandRows(roiSize.width * 3L), [&](int y0, int y1) {
        const Ipp8u* const planes[3] = {RowAt(pSrc[0], srcStep, y0), RowAt(pSrc[1], srcStep, y0),
                                        RowAt(pSrc[2], srcStep, y0)};
        HWY_DYNAMIC_DISPATCH(kelvo::primitives::YuvToRgbImage)
        (planes, srcStep, RowAt(pDst, dstStep, y0), dstStep, roiSize.width, y1 - y0);
      });
  return ippStsNoErr;
}

}  // extern "C"
#endif  // HWY_ONCE
