#include "imaging/filters/detail/HybridMask.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "imaging/analysis/SumValueTable.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::detail {
namespace {

// Marks (255) the samples that differ from the mean of their window, clipped
// at the image edges, by more than the threshold; equality does not mark.
// The window sums come from a summed-value table over the plane; the
// threshold is either fixed or looked up at the window mean.
template <typename T>
void BuildHybridMask(const T* plane, int planeStride, int width, int height, int halfSize,
                     float threshold, const float* thresholdTable, uint8_t* mask) {
  SumValueTable table(plane, width, height, planeStride);
  const double* sums = table.GetValues();
  const std::size_t w = static_cast<std::size_t>(width);
  // Columns whose windows are not clipped go through the vector row kernel;
  // rows whose window starts at the top read a row of zeros as "above",
  // which leaves every sum unchanged.
  std::vector<double> zeros(w, 0.0);
  const int vectorFirst = std::min(halfSize + 1, width);
  const int vectorLast = std::max(width - halfSize, vectorFirst);
  for (int y = 0; y < height; ++y) {
    const int y0 = std::max(y - halfSize, 0);
    const int y1 = std::min(y + halfSize, height - 1);
    const T* row = RowAt(plane, planeStride, y);
    const double* below = sums + static_cast<std::size_t>(y1) * w;
    const double* above = y0 > 0 ? sums + static_cast<std::size_t>(y0 - 1) * w : nullptr;
    uint8_t* m = mask + static_cast<std::size_t>(y) * w;
    auto scalar = [&](int x) {
      const int x0 = std::max(x - halfSize, 0);
      const int x1 = std::min(x + halfSize, width - 1);
      // The table's rectangle sum, in its order of operations.
      const double a = below[x1];
      const double b = x0 > 0 ? below[x0 - 1] : 0.0;
      const double c = above != nullptr ? above[x1] : 0.0;
      const double d = (above != nullptr && x0 > 0) ? above[x0 - 1] : 0.0;
      const double sum = a - b - c + d;
      const uint32_t n = static_cast<uint32_t>(x1 - x0 + 1) * static_cast<uint32_t>(y1 - y0 + 1);
      const double mean = n < 1 ? 0.0 : sum / static_cast<double>(n);
      const float diff = static_cast<float>(static_cast<double>(row[x]) - mean);
      float t = threshold;
      if (thresholdTable != nullptr) {
        const double clamped = std::clamp(mean, 0.0, 65535.0);
        t = thresholdTable[static_cast<int>(clamped + 0.5)];
      }
      m[x] = (diff < -t || diff > t) ? 255 : 0;
    };
    if (thresholdTable != nullptr) {
      for (int x = 0; x < width; ++x) scalar(x);
      continue;
    }
    for (int x = 0; x < vectorFirst; ++x) scalar(x);
    const uint32_t n = static_cast<uint32_t>(2 * halfSize + 1) * static_cast<uint32_t>(y1 - y0 + 1);
    HybridMaskRow(row, below, above != nullptr ? above : zeros.data(), m, vectorFirst, vectorLast,
                  halfSize, static_cast<double>(n), threshold);
    for (int x = vectorLast; x < width; ++x) scalar(x);
  }
}

}  // namespace

void BuildHybridMask(const uint8_t* plane, int planeStride, int width, int height, int halfSize,
                     float threshold, const float* thresholdTable, uint8_t* mask) {
  BuildHybridMask<uint8_t>(plane, planeStride, width, height, halfSize, threshold, thresholdTable,
                           mask);
}

void BuildHybridMask(const uint16_t* plane, int planeStride, int width, int height, int halfSize,
                     float threshold, const float* thresholdTable, uint8_t* mask) {
  BuildHybridMask<uint16_t>(plane, planeStride, width, height, halfSize, threshold, thresholdTable,
                            mask);
}

}  // namespace KelvoLibImageProcessing::detail
