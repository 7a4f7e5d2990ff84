// Interim entry points: every primitive runs its plain reference until its
// dispatched kernels land.
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/reference/ReferencePrimitives.h"

extern "C" {


IppStatus ippiRGBToYUV_8u_C3P3R(const Ipp8u* pSrc, int srcStep, Ipp8u* const pDst[3], int dstStep,
                                IppiSize roiSize) noexcept {
  return kelvo::reference::RGBToYUV_8u_C3P3R(pSrc, srcStep, pDst, dstStep, roiSize);
}

IppStatus ippiYUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize) noexcept {
  return kelvo::reference::YUVToRGB_8u_P3C3R(pSrc, srcStep, pDst, dstStep, roiSize);
}















IppStatus ippiCopy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                           IppiSize roiSize) noexcept {
  return kelvo::reference::Copy_32f_C1R(pSrc, srcStep, pDst, dstStep, roiSize);
}

}
