#pragma once

// The analysis primitive with its source rows produced on demand, for a
// caller whose level input is a padded, converted view of another image: the
// rows are made while the strip is in the cache instead of being written to
// a whole float image first and read back.

#include <cstdint>

#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing::wavelet {

// fetch(context, row, x0, count, out) writes samples x0 .. x0 + count - 1 of
// level input row `row` (both may be negative or beyond the ROI: the reach
// of the filters) as floats to out. Called on several threads at once when
// the rows run in bands; it must only read shared state.
using RowFetchFn = void (*)(const void* context, int row, int x0, int count, float* out);

// As RowFetchFn, for 8-bit samples: they are written as bytes, and the
// analysis widens them to floats itself as it splits the row into its even
// and odd columns.
using ByteRowFetchFn = void (*)(const void* context, int row, int x0, int count, uint8_t* out);

// Shrinkage of the detail bands as they are stored, while they are still in
// registers: |x| <= t (that is -t <= x <= t) becomes 0; otherwise soft
// shrinkage gives x - t above zero and x + t below, hard keeps x. One t per
// band: X, Y, XY. The approximation is stored as computed.
struct DetailShrink {
  float t[3];
  bool soft;
};

// The part of the bands a caller will read, for one whose reader needs less
// than the whole ROI: band samples [x0, x1) x [y0, y1) of the
// approximation and [dx0, dx1) x [dy0, dy1) of the three detail bands (the
// first within [0, width) x [0, height) and not empty, the second within the
// first and possibly empty). Nothing else is written, and source rows
// and columns that only feed unwritten samples are not read.
struct FwdRegion {
  int x0, x1, y0, y1;
  int dx0, dx1, dy0, dy1;
};

// As ippiWTFwd_32f_C1R, with the source rows from fetch when it is set
// (pSrc is then not read), the detail bands shrunk when shrink is set and
// only the samples of region written when it is set. The written samples
// are those of ippiWTFwd_32f_C1R on an image holding exactly the fetched
// rows, followed by the shrinkage of every detail sample.
IppStatus WTFwdRows(const Ipp32f* pSrc, int srcStep, RowFetchFn fetch, const void* context,
                    const DetailShrink* shrink, Ipp32f* pApproxDst, int approxStep,
                    Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst, int detailYStep,
                    Ipp32f* pDetailXYDst, int detailXYStep, IppiSize dstRoiSize,
                    const IppiWTFwdSpec_32f_C1R* pSpec, Ipp8u* pBuffer,
                    const FwdRegion* region = nullptr) noexcept;

// As WTFwdRows with fetched rows, for rows fetched as bytes.
IppStatus WTFwdByteRows(ByteRowFetchFn fetch, const void* context, const DetailShrink* shrink,
                        Ipp32f* pApproxDst, int approxStep, Ipp32f* pDetailXDst, int detailXStep,
                        Ipp32f* pDetailYDst, int detailYStep, Ipp32f* pDetailXYDst,
                        int detailXYStep, IppiSize dstRoiSize, const IppiWTFwdSpec_32f_C1R* pSpec,
                        Ipp8u* pBuffer, const FwdRegion* region = nullptr) noexcept;

}  // namespace KelvoLibImageProcessing::wavelet
