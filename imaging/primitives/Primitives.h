#pragma once

// The image primitives: plain functions with C linkage that take pointers,
// row steps in bytes and sizes, write into caller-owned memory and return a
// status (0 = success, negative = error). They never throw and never
// allocate inside their loops.
//
// Every primitive has a scalar path and SIMD paths; ippStaticInit selects one
// for the whole process from the processor's features. All paths give
// bit-identical results. Setting the environment variable KELVO_NO_SIMD to a
// non-empty value other than "0" before the first ippStaticInit call selects
// the scalar path.

#include <cstdint>

extern "C" {

typedef uint8_t Ipp8u;
typedef uint16_t Ipp16u;
typedef int16_t Ipp16s;
typedef int32_t Ipp32s;
typedef float Ipp32f;
typedef int IppStatus;

typedef struct {
  int width;
  int height;
} IppiSize;

typedef struct {
  int x;
  int y;
} IppiPoint;

// Fixed filter masks: 3x3 and 5x5.
typedef enum { ippMskSize3x3 = 33, ippMskSize5x5 = 55 } IppiMaskSize;

enum {
  ippStsNoErr = 0,
  ippStsSizeErr = -6,
  ippStsNullPtrErr = -8,
  ippStsContextMatchErr = -17,
};

// Wavelet specification objects: copies of the filter taps, lengths and
// anchors, created by the InitAlloc calls and released by the Free calls.
typedef struct IppiWTFwdSpec_32f_C1R IppiWTFwdSpec_32f_C1R;
typedef struct IppiWTInvSpec_32f_C1R IppiWTInvSpec_32f_C1R;

// ---- Start-up and frame conversion -------------------------------------

// Selects the code path of every primitive, once per process. Harmless to
// call again.
IppStatus ippStaticInit(void) noexcept;

// Packed 4:2:2 (Y0 Cb Y1 Cr) to blue, green, red with BT.601 studio-range
// fixed-point weights. Width at least 2.
IppStatus ippiYCbCr422ToBGR_8u_C2C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                     IppiSize roiSize) noexcept;

// ---- Colour conversion -------------------------------------------------

IppStatus ippiRGBToYUV_8u_C3P3R(const Ipp8u* pSrc, int srcStep, Ipp8u* const pDst[3], int dstStep,
                                IppiSize roiSize) noexcept;
IppStatus ippiYUVToRGB_8u_P3C3R(const Ipp8u* const pSrc[3], int srcStep, Ipp8u* pDst, int dstStep,
                                IppiSize roiSize) noexcept;

// ---- Allocation --------------------------------------------------------

// First pixel and row step aligned to 32 bytes; null on failure.
Ipp8u* ippiMalloc_8u_C1(int widthPixels, int heightPixels, int* pStepBytes) noexcept;
Ipp8u* ippiMalloc_8u_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept;
Ipp16u* ippiMalloc_16u_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept;
Ipp16s* ippiMalloc_16s_C3(int widthPixels, int heightPixels, int* pStepBytes) noexcept;
void ippiFree(void* ptr) noexcept;

Ipp8u* ippsMalloc_8u(int len) noexcept;
void ippsFree(void* ptr) noexcept;

// ---- Neighbourhood filters ---------------------------------------------
// The ROI is the destination; the source pixels around it that the kernel
// touches must exist in memory.

IppStatus ippiFilterGauss_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept;
IppStatus ippiFilterGauss_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                 IppiSize dstRoiSize, IppiMaskSize mask) noexcept;

IppStatus ippiFilterLaplace_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize, IppiMaskSize mask) noexcept;
IppStatus ippiFilterLaplace_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize, IppiMaskSize mask) noexcept;

IppStatus ippiFilterSharpen_8u_C3R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                   IppiSize dstRoiSize) noexcept;
IppStatus ippiFilterSharpen_16s_C3R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                    IppiSize dstRoiSize) noexcept;

IppStatus ippiFilterMedian_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                  IppiSize dstRoiSize, IppiSize maskSize,
                                  IppiPoint anchor) noexcept;
IppStatus ippiFilterMedian_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                   IppiSize dstRoiSize, IppiSize maskSize,
                                   IppiPoint anchor) noexcept;

// ---- Full convolution --------------------------------------------------
// Output size (w1 + w2 - 1) x (h1 + h2 - 1).

IppStatus ippiConvFull_8u_C1R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept;
IppStatus ippiConvFull_8u_C3R(const Ipp8u* pSrc1, int src1Step, IppiSize src1Size,
                              const Ipp8u* pSrc2, int src2Step, IppiSize src2Size, Ipp8u* pDst,
                              int dstStep, int divisor) noexcept;
IppStatus ippiConvFull_16s_C1R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept;
IppStatus ippiConvFull_16s_C3R(const Ipp16s* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp16s* pSrc2, int src2Step, IppiSize src2Size, Ipp16s* pDst,
                               int dstStep, int divisor) noexcept;
IppStatus ippiConvFull_32f_C1R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept;
IppStatus ippiConvFull_32f_C3R(const Ipp32f* pSrc1, int src1Step, IppiSize src1Size,
                               const Ipp32f* pSrc2, int src2Step, IppiSize src2Size, Ipp32f* pDst,
                               int dstStep) noexcept;

// ---- Copy --------------------------------------------------------------

IppStatus ippiCopy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                           IppiSize roiSize) noexcept;

// ---- Wavelet analysis and synthesis ------------------------------------

IppStatus ippiWTFwdInitAlloc_32f_C1R(IppiWTFwdSpec_32f_C1R** ppSpec, const Ipp32f* pTapsLow,
                                     int lenLow, int anchorLow, const Ipp32f* pTapsHigh,
                                     int lenHigh, int anchorHigh) noexcept;
IppStatus ippiWTFwdGetBufSize_C1R(const IppiWTFwdSpec_32f_C1R* pSpec, int* pSize) noexcept;
IppStatus ippiWTFwd_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pApproxDst, int approxStep,
                            Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst,
                            int detailYStep, Ipp32f* pDetailXYDst, int detailXYStep,
                            IppiSize dstRoiSize, const IppiWTFwdSpec_32f_C1R* pSpec,
                            Ipp8u* pBuffer) noexcept;
IppStatus ippiWTFwdFree_32f_C1R(IppiWTFwdSpec_32f_C1R* pSpec) noexcept;

IppStatus ippiWTInvInitAlloc_32f_C1R(IppiWTInvSpec_32f_C1R** ppSpec, const Ipp32f* pTapsLow,
                                     int lenLow, int anchorLow, const Ipp32f* pTapsHigh,
                                     int lenHigh, int anchorHigh) noexcept;
IppStatus ippiWTInvGetBufSize_C1R(const IppiWTInvSpec_32f_C1R* pSpec, int* pSize) noexcept;
IppStatus ippiWTInv_32f_C1R(const Ipp32f* pApproxSrc, int approxStep, const Ipp32f* pDetailXSrc,
                            int detailXStep, const Ipp32f* pDetailYSrc, int detailYStep,
                            const Ipp32f* pDetailXYSrc, int detailXYStep, IppiSize srcRoiSize,
                            Ipp32f* pDst, int dstStep, const IppiWTInvSpec_32f_C1R* pSpec,
                            Ipp8u* pBuffer) noexcept;
IppStatus ippiWTInvFree_32f_C1R(IppiWTInvSpec_32f_C1R* pSpec) noexcept;

}  // extern "C"
