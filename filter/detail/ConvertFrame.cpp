#include "filter/detail/ConvertFrame.h"

#include <cstddef>

#include "imaging/primitives/Primitives.h"

namespace kelvo::filter::detail {

void ConvertRgb32ToBgr(const uint8_t* input, int inStride, int bytesPerPixel, int width,
                       int signedHeight, uint8_t* working) {
  const bool bottomUp = signedHeight > 0;
  const int height = bottomUp ? signedHeight : -signedHeight;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  for (int row = 0; row < height; ++row) {
    const uint8_t* src = input + static_cast<size_t>(row) * static_cast<size_t>(inStride);
    uint8_t* dst = working + rowBytes * static_cast<size_t>(bottomUp ? height - 1 - row : row);
    for (int x = 0; x < width; ++x) {
      dst[3 * x + 0] = src[bytesPerPixel * x + 0];
      dst[3 * x + 1] = src[bytesPerPixel * x + 1];
      dst[3 * x + 2] = src[bytesPerPixel * x + 2];
    }
  }
}

bool ConvertYuy2ToBgr(const uint8_t* input, int inStride, int width, int height, uint8_t* working) {
  return ippiYCbCr422ToBGR_8u_C2C3R(input, inStride, working, width * 3, IppiSize{width, height}) ==
         ippStsNoErr;
}

}  // namespace kelvo::filter::detail
