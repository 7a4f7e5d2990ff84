#pragma once

// The analysis primitive with its source rows produced on demand, for a
// caller whose level input is a padded, converted view of another image: the
// rows are made while the strip is in the cache instead of being written to
// a whole float image first and read back.

#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing::wavelet {

// fetch(context, row, x0, count, out) writes samples x0 .. x0 + count - 1 of
// level input row `row` (both may be negative or beyond the ROI: the reach
// of the filters) as floats to out. Called on several threads at once when
// the rows run in bands; it must only read shared state.
using RowFetchFn = void (*)(const void* context, int row, int x0, int count, float* out);

// As ippiWTFwd_32f_C1R, with the source rows from fetch. The result is the
// same as ippiWTFwd_32f_C1R on an image holding exactly the fetched rows.
IppStatus WTFwdFromRows(RowFetchFn fetch, const void* context, Ipp32f* pApproxDst, int approxStep,
                        Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst,
                        int detailYStep, Ipp32f* pDetailXYDst, int detailXYStep,
                        IppiSize dstRoiSize, const IppiWTFwdSpec_32f_C1R* pSpec,
                        Ipp8u* pBuffer) noexcept;

}  // namespace KelvoLibImageProcessing::wavelet
