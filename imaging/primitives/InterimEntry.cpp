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









IppStatus ippiConvFull_8u_C1R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept {
  return kelvo::reference::ConvFull_8u_C1R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor);
}

IppStatus ippiConvFull_8u_C3R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept {
  return kelvo::reference::ConvFull_8u_C3R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor);
}

IppStatus ippiConvFull_16s_C1R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept {
  return kelvo::reference::ConvFull_16s_C1R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor);
}

IppStatus ippiConvFull_16s_C3R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept {
  return kelvo::reference::ConvFull_16s_C3R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep, divisor);
}

IppStatus ippiConvFull_32f_C1R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept {
  return kelvo::reference::ConvFull_32f_C1R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep);
}

IppStatus ippiConvFull_32f_C3R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept {
  return kelvo::reference::ConvFull_32f_C3R(pSrc1, src1Step, src1Size, pSrc2, src2Step, src2Size, pDst, dstStep);
}

IppStatus ippiCopy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                           IppiSize roiSize) noexcept {
  return kelvo::reference::Copy_32f_C1R(pSrc, srcStep, pDst, dstStep, roiSize);
}

}
