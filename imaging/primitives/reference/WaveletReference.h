#pragma once

// Plain-loop scalar reference of one level of separable wavelet analysis and
// synthesis, written straight from the formulas. It is never dispatched: the
// tests and benchmarks compare the fast primitives against it bit for bit.
//
// Analysis of a sequence x with taps t (length len, anchor a):
//   out[n] = sum over k = 0 .. len-1 of t[k] * x[2n + a - k]
// applied to the rows (lowpass and highpass), then to the columns of both
// row outputs: approx = low/low, detailX = high rows/low columns,
// detailY = low rows/high columns, detailXY = high/high.
//
// Synthesis upsamples each band by two (sample n at position 2n, zeros
// between) and filters: y[m] = sum_k tLow[k] u_low[m + aLow - k]
//                            + sum_k tHigh[k] u_high[m + aHigh - k],
// first along the columns, then along the rows. Every sum runs over k in
// ascending order from 0.0f, one product added at a time; the fast kernels
// keep exactly this order so both give the same bits.

#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing::reference {

struct WaveletFilter {
  const float* taps;
  int length;
  int anchor;
};

// dstRoi is the size of each band; the source is twice that in each
// direction plus the samples the taps reach around it.
void WTFwd(const Ipp32f* src, int srcStep, Ipp32f* approx, int approxStep, Ipp32f* detailX,
           int detailXStep, Ipp32f* detailY, int detailYStep, Ipp32f* detailXY, int detailXYStep,
           IppiSize dstRoi, WaveletFilter low, WaveletFilter high);

// srcRoi is the size of each band; the output is twice that.
void WTInv(const Ipp32f* approx, int approxStep, const Ipp32f* detailX, int detailXStep,
           const Ipp32f* detailY, int detailYStep, const Ipp32f* detailXY, int detailXYStep,
           IppiSize srcRoi, Ipp32f* dst, int dstStep, WaveletFilter low, WaveletFilter high);

}  // namespace KelvoLibImageProcessing::reference
