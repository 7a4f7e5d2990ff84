#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The 5 x 5 median of a mask that holds only 0 and 255, as the median filter
// gives it: 255 where at least 13 of the 25 pixels around are set, for every
// pixel at least two pixels inside the image; the two-pixel frame keeps the
// source's values. src and dst are width * height bytes without padding and
// must not overlap. A failed allocation of its row of counts throws
// IPException.
void MaskMajority5x5(const uint8_t* src, uint8_t* dst, int width, int height);

}  // namespace KelvoLibImageProcessing::detail
