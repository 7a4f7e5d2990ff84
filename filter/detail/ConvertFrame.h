#pragma once

// Turns one input frame into the packed, top-row-first blue-green-red
// working image (3 * width bytes per row, no padding).

#include <cstdint>

namespace kelvo::filter::detail {

// Legacy 32-bit input: the first three bytes (blue, green, red) of each
// 4-byte pixel, rows reversed when the frame is bottom-up (height > 0).
// Input rows are inStride bytes apart.
void ConvertRgb32ToBgr(const uint8_t* input, int inStride, int bytesPerPixel, int width,
                       int signedHeight, uint8_t* working);

// Packed 4:2:2 input through the frame-conversion primitive; rows keep their
// order. False when the primitive reports a failure.
bool ConvertYuy2ToBgr(const uint8_t* input, int inStride, int width, int height, uint8_t* working);

}  // namespace kelvo::filter::detail
