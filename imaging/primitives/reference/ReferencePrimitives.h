#pragma once

// Plain-loop reference of every primitive family except the wavelets, written
// straight from the formulas. Never dispatched: the tests and benchmarks
// compare the dispatched primitives against it. Each function takes the same
// arguments, checks them the same way and returns the same status as the
// primitive of the same name.
//
// Numeric decisions (shared with the dispatched paths, which must match
// bit for bit):
// - Integer results that need rounding round half toward positive infinity,
//   floor(x + 1/2), for negative values too (so -2.5 becomes -2), then
//   saturate to the destination type.
// - RGB<->YUV use the weights .299/.587/.114, .492, .877 and their
//   inverses in 16.16 fixed point (see colour_yuv-inl.h), rounded as above.
// - The 8-bit Gaussian divides exactly and rounds to nearest: 3x3 by 16 with
//   ties up as above; 5x5 by 571, where non-negative sums never tie.
// - ConvFull 32f adds its terms in memory order of the second image (row by
//   row, each row left to right), skipping terms that fall outside the first
//   image; each term is one float product added to the running float sum.

#include "imaging/primitives/Primitives.h"

namespace kelvo::reference {

IppStatus YCbCr422ToBGR_8u_C2C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize roi);

IppStatus RGBToYUV_8u_C3P3R(const Ipp8u* pSrc, int srcStep, Ipp8u* const pDst[3], int dstStep,
                            IppiSize roi);
IppStatus YUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                            IppiSize roi);

IppStatus FilterGauss_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roi,
                             IppiMaskSize mask);
IppStatus FilterGauss_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep, IppiSize roi,
                             IppiMaskSize mask);
IppStatus FilterLaplace_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roi, IppiMaskSize mask);
IppStatus FilterLaplace_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                IppiSize roi, IppiMaskSize mask);
IppStatus FilterSharpen_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                               IppiSize roi);
IppStatus FilterSharpen_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                IppiSize roi);

IppStatus FilterMedian_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                              IppiSize roi, IppiSize maskSize, IppiPoint anchor);
IppStatus FilterMedian_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                               IppiSize roi, IppiSize maskSize, IppiPoint anchor);

IppStatus ConvFull_8u_C1R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size, const Ipp8u* pSrc2,
                          int src2Step, IppiSize src2Size, Ipp8u* pDst, int dstStep, int divisor);
IppStatus ConvFull_8u_C3R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size, const Ipp8u* pSrc2,
                          int src2Step, IppiSize src2Size, Ipp8u* pDst, int dstStep, int divisor);
IppStatus ConvFull_16s_C1R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                           int dstStep, int divisor);
IppStatus ConvFull_16s_C3R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                           int dstStep, int divisor);
IppStatus ConvFull_32f_C1R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                           int dstStep);
IppStatus ConvFull_32f_C3R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                           const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                           int dstStep);

IppStatus Copy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep, IppiSize roi);

}  // namespace kelvo::reference
