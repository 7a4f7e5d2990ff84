#include "imaging/pipeline/detail/MirrorPad.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace KelvoLibImageProcessing::detail {

int MirrorIndex(int i, int size) noexcept {
  if (size <= 1) return 0;
  const int period = 2 * (size - 1);
  const int r = i % period;
  return r < size ? r : period - r;
}

void MirrorPadBGR(const uint8_t* source, int width, int height, int stride, uint8_t* padded,
                  int paddedWidth, int paddedHeight, int paddedStride) noexcept {
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
  const auto paddedRow = [&](int y) {
    return padded + static_cast<std::ptrdiff_t>(y) * paddedStride;
  };
  std::vector<int> columns;
  for (int x = width; x < paddedWidth; ++x) columns.push_back(3 * MirrorIndex(x, width));
  for (int y = 0; y < height; ++y) {
    uint8_t* row = paddedRow(y);
    std::memcpy(row, source + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
    uint8_t* out = row + rowBytes;
    for (const int from : columns) {
      out[0] = row[from];
      out[1] = row[from + 1];
      out[2] = row[from + 2];
      out += 3;
    }
  }
  const std::size_t paddedBytes = 3 * static_cast<std::size_t>(paddedWidth);
  for (int y = height; y < paddedHeight; ++y) {
    std::memcpy(paddedRow(y), paddedRow(MirrorIndex(y, height)), paddedBytes);
  }
}

}  // namespace KelvoLibImageProcessing::detail
