#include "tools/kelvo-enhance/Orientation.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kelvo::enhance {

using KelvoLibImageProcessing::BitmapData;

BitmapData Upright(const BitmapData& stored, int orientation) {
  const int w = stored.GetWidth();
  const int h = stored.GetHeight();
  const bool swaps = orientation >= 5 && orientation <= 8;
  BitmapData shown(swaps ? h : w, swaps ? w : h);
  const int outW = shown.GetWidth();
  const int outH = shown.GetHeight();
  const size_t inStride = static_cast<size_t>(stored.GetStride());
  const size_t outStride = static_cast<size_t>(shown.GetStride());
  const uint8_t* in = stored.GetData();
  uint8_t* out = shown.GetData();
  // For each shown pixel (x, y), the stored pixel (sx, sy) it comes from.
  for (int y = 0; y < outH; ++y) {
    uint8_t* row = out + static_cast<size_t>(y) * outStride;
    for (int x = 0; x < outW; ++x) {
      int sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x; sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y; sy = x; break;
        case 6: sx = y; sy = h - 1 - x; break;
        case 7: sx = w - 1 - y; sy = h - 1 - x; break;
        case 8: sx = w - 1 - y; sy = x; break;
        default: break;
      }
      std::memcpy(row + 3 * static_cast<size_t>(x),
                  in + static_cast<size_t>(sy) * inStride + 3 * static_cast<size_t>(sx), 3);
    }
  }
  return shown;
}

}  // namespace kelvo::enhance
