#include "imaging/analysis/reference/SkinAreasReference.h"

#include <algorithm>

#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::reference {
namespace {

std::size_t At(int width, int x, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x);
}

}  // namespace

void PaintLabelReference(const int32_t* labels, int width, detail::AreaBox box, int32_t label,
                         uint8_t* mask) {
  for (int y = box.y0; y <= box.y1; ++y) {
    for (int x = box.x0; x <= box.x1; ++x) {
      if (labels[At(width, x, y)] == label) mask[At(width, x, y)] = 255;
    }
  }
}

uint8_t MaxMaskedLuminanceReference(const uint8_t* mask, const uint8_t* lum, int width,
                                    detail::AreaBox box) {
  uint8_t best = 0;
  for (int y = box.y0; y <= box.y1; ++y) {
    for (int x = box.x0; x <= box.x1; ++x) {
      if (mask[At(width, x, y)] != 0) best = std::max(best, lum[At(width, x, y)]);
    }
  }
  return best;
}

void FillLabelFromReference(const int32_t* labels, const uint8_t* lum, int width,
                            detail::AreaBox box, int32_t label, int minLum, uint8_t* mask) {
  for (int y = box.y0; y <= box.y1; ++y) {
    for (int x = box.x0; x <= box.x1; ++x) {
      if (labels[At(width, x, y)] == label && lum[At(width, x, y)] >= minLum) {
        mask[At(width, x, y)] = 255;
      }
    }
  }
}

detail::LumMoments MaskedLuminanceMomentsReference(const uint8_t* mask, const uint8_t* lum,
                                                   int width, detail::AreaBox box) {
  detail::LumMoments m;
  for (int y = box.y0; y <= box.y1; ++y) {
    for (int x = box.x0; x <= box.x1; ++x) {
      if (mask[At(width, x, y)] == 0) continue;
      const float v = static_cast<float>(lum[At(width, x, y)]);
      ++m.count;
      m.sum += v;
      m.sumSquares += v * v;
    }
  }
  return m;
}

uint32_t SkinHistogramsReference(const uint8_t* mask, const uint8_t* lum, const uint8_t* pixels,
                                 std::ptrdiff_t strideBytes, int width, int height,
                                 uint32_t* lumHistogram, uint32_t* redHistogram,
                                 uint64_t& lumSum) {
  std::fill(lumHistogram, lumHistogram + 256, 0u);
  std::fill(redHistogram, redHistogram + 256, 0u);
  uint32_t count = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = RowAt(pixels, strideBytes, y);
    for (int x = 0; x < width; ++x) {
      if (mask[At(width, x, y)] == 0) continue;
      ++lumHistogram[lum[At(width, x, y)]];
      ++redHistogram[p[3 * x + 2]];
      lumSum += lum[At(width, x, y)];
      ++count;
    }
  }
  return count;
}

}  // namespace KelvoLibImageProcessing::reference
