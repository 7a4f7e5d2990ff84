// ippiYCbCr422ToBGR_8u_C2C3R: the frame converter for packed 4:2:2 video.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/FrameConversion.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/primitives/ycbcr422-inl.h"

#if HWY_ONCE
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"
#include "imaging/primitives/ParallelRows.h"

namespace kelvo::primitives {
HWY_EXPORT(YCbCr422ToBGRImage);
}  // namespace kelvo::primitives

extern "C" IppStatus ippiYCbCr422ToBGR_8u_C2C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst,
                                                int dstStep, IppiSize roiSize) noexcept {
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, roiSize);
  if (st != ippStsNoErr) return st;
  if (roiSize.width < 2) return ippStsSizeErr;  // a pixel pair is the smallest unit
  using kelvo::primitives::detail::RowAt;
  kelvo::ParallelRows(
      roiSize.height, kelvo::BandRows(roiSize.width * 3L), [&](int y0, int y1) {
        HWY_DYNAMIC_DISPATCH(kelvo::primitives::YCbCr422ToBGRImage)
        (RowAt(pSrc, srcStep, y0), srcStep, RowAt(pDst, dstStep, y0), dstStep, roiSize.width,
         y1 - y0);
      });
  return ippStsNoErr;
}
#endif  // HWY_ONCE
