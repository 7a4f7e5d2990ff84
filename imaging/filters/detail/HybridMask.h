#pragma once

// The contrast mask of the hybrid unsharp masks.

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// mask[y * width + x] = 255 where plane(x, y) differs from the mean of its
// (2 halfSize + 1)-square window, clipped at the image edges, by more than
// the threshold (equality does not mark), else 0. With a threshold table
// (65536 floats) the threshold of a pixel is the table's entry at its window
// mean, clamped to [0, 65535] and rounded. The window sums come from a
// summed-value table over the plane.
void BuildHybridMask(const uint8_t* plane, int planeStride, int width, int height, int halfSize,
                     float threshold, const float* thresholdTable, uint8_t* mask);
void BuildHybridMask(const uint16_t* plane, int planeStride, int width, int height, int halfSize,
                     float threshold, const float* thresholdTable, uint8_t* mask);

}  // namespace KelvoLibImageProcessing::detail
