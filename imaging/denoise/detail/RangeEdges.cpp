#include "imaging/denoise/detail/RangeEdges.h"

#include <algorithm>

namespace KelvoLibImageProcessing::detail {

void MarkRangeEdges7x7(const uint8_t* plane, int width, int height, int threshold,
                       uint8_t* rowMax, uint8_t* rowMin, uint8_t* edges) {
  for (int y = 0; y < height; ++y) {
    const size_t row = static_cast<size_t>(y) * width;
    for (int x = 3; x <= width - 4; ++x) {
      uint8_t hi = 0, lo = 255;
      for (int d = -3; d <= 3; ++d) {
        hi = std::max(hi, plane[row + x + d]);
        lo = std::min(lo, plane[row + x + d]);
      }
      rowMax[row + x] = hi;
      rowMin[row + x] = lo;
    }
  }
  for (int y = 3; y <= height - 4; ++y) {
    const size_t row = static_cast<size_t>(y) * width;
    for (int x = 3; x <= width - 4; ++x) {
      uint8_t hi = 0, lo = 255;
      for (int d = -3; d <= 3; ++d) {
        hi = std::max(hi, rowMax[row + static_cast<ptrdiff_t>(d) * width + x]);
        lo = std::min(lo, rowMin[row + static_cast<ptrdiff_t>(d) * width + x]);
      }
      if (hi - lo >= threshold) edges[row + x] = 255;
    }
  }
}

}  // namespace KelvoLibImageProcessing::detail
