#pragma once

// Vectorised row loops of the convolution and sharpening operations,
// dispatched to the best SIMD target at run time. Each has a plain-loop
// twin in imaging/filters/reference/FilterRowsReference.h with the same
// arguments and the same bytes.

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// dst[i] = float(src[i]).
void WidenToFloat(const uint8_t* src, float* dst, std::size_t count) noexcept;
void WidenToFloat(const uint16_t* src, float* dst, std::size_t count) noexcept;

// dst[i] = maximum when src[i] > maximum, 0 when below 0, else src[i] + 0.5
// truncated.
void NarrowRound(const float* src, uint8_t* dst, std::size_t count, float maximum) noexcept;
void NarrowRound(const float* src, uint16_t* dst, std::size_t count, float maximum) noexcept;

// One row of the contrast mask for columns [first, last) whose windows are
// not clipped horizontally (first >= halfSize + 1, last <= width - halfSize):
// sum = below[x+R] - below[x-R-1] - above[x+R] + above[x-R-1] in that order
// (above may be a row of zeros), mean = sum / count, d = float(sample -
// mean), mask = 255 when d < -threshold or d > threshold, else 0.
void HybridMaskRow(const uint8_t* samples, const double* below, const double* above, uint8_t* mask,
                   int first, int last, int halfSize, double count, float threshold) noexcept;
void HybridMaskRow(const uint16_t* samples, const double* below, const double* above, uint8_t* mask,
                   int first, int last, int halfSize, double count, float threshold) noexcept;

// Where mask[i] != 0: y[i] = round-clamp(onePlusA * y[i] - a * blur[i]) to
// [0, maximum].
void ApplyUnsharpRow(uint8_t* y, const uint8_t* blur, const uint8_t* mask, std::size_t count,
                     float onePlusA, float a, float maximum) noexcept;
void ApplyUnsharpRow(uint16_t* y, const uint16_t* blur, const uint8_t* mask, std::size_t count,
                     float onePlusA, float a, float maximum) noexcept;

// Columns [first, last) of one row of a float convolution, narrowed like
// NarrowRound: out[x] = round-clamp(sum over ky in [0, kernelHeight), then kx
// in [0, kernelWidth), of rows[ky][x + kernelWidth / 2 - kx] * kernel[ky *
// kernelWidth + kx]), the sum starting at +0 with one Mul then one Add per
// term. rows[ky] is the source row y + kernelHeight / 2 - ky of output row y;
// every column read must lie inside the rows.
void ConvolveRowNarrow(const float* const* rows, const float* kernel, int kernelWidth,
                       int kernelHeight, int first, int last, uint8_t* out, float maximum) noexcept;

// dst[i] = float(src[i]) * scale.
void WidenScaled(const uint8_t* src, float* dst, std::size_t count, float scale) noexcept;

// ConvolveRowNarrow for a kernel whose taps all equal one value t but the
// centre tap (kernelHeight / 2, kernelWidth / 2), which is centreTap:
// products[ky] is WidenScaled(source row, t) where ConvolveRowNarrow would
// take the widened source row, and centre is the source bytes of the output
// row. Same terms in the same order, so the same bytes.
void ConvolveRowNarrowUniform(const float* const* products, const uint8_t* centre, float centreTap,
                              int kernelWidth, int kernelHeight, int first, int last, uint8_t* out,
                              float maximum) noexcept;

// ConvolveRowNarrowUniform of `rows` (2 or 4) neighbouring output rows in
// one pass, each product read once for all of them: products[j] (j in [0,
// kernelHeight + rows - 1)) is the product row of source row y + rows - 1 +
// kernelHeight / 2 - j, and output r, row y + rows - 1 - r, takes products
// + r with the centre bytes centres[r] into outs[r]. The same bytes as the
// single-row calls.
void ConvolveRowsNarrowUniform(const float* const* products, const uint8_t* const* centres,
                               int rows, float centreTap, int kernelWidth, int kernelHeight,
                               int first, int last, uint8_t* const* outs, float maximum) noexcept;

// sums[i] = rows[0][i] + ... + rows[rowCount - 1][i].
void ColumnSums(const uint8_t* const* rows, int rowCount, std::size_t count,
                int32_t* sums) noexcept;

// sums[i] += add[i] - remove[i], either row skipped when null: ColumnSums of
// a window moved by a row, from the sums of the window before.
void SlideColumnSums(int32_t* sums, const uint8_t* add, const uint8_t* remove,
                     std::size_t count) noexcept;

// Integer contrast mask for columns [first, last) (first >= halfSize, last <=
// width - halfSize): m = count * samples[x] - (sums[x - halfSize] + ... +
// sums[x + halfSize]); mask[x] = 255 when m > markAbove or m < markBelow,
// else 0.
void SumMaskRow(const int32_t* sums, const uint8_t* samples, uint8_t* mask, int first, int last,
                int halfSize, int count, int markAbove, int markBelow) noexcept;

// Columns [first, last) of a finished row of the 8-bit hybrid unsharp mask,
// all three steps at once: b = ConvolveRowNarrow of blurRows with the
// blurSize x blurSize blurKernel, the SumMaskRow test of high[x], and out[x]
// = the ApplyUnsharpRow result for high[x] with b where marked, high[x]
// elsewhere. Columns must be inside both the blur's and the window's reach.
void FinishHybridRow(const float* const* blurRows, const float* blurKernel, int blurSize,
                     const int32_t* sums, const uint8_t* high, uint8_t* out, int first, int last,
                     int halfSize, int count, int markAbove, int markBelow, float onePlusA,
                     float a) noexcept;

}  // namespace KelvoLibImageProcessing::detail
