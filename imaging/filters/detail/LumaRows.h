#pragma once

// Row-at-a-time colour conversions of the 8-bit luminance sharpener, so that
// it never holds frame-sized planes: the luminance of a row of blue-green-red
// pixels, and a row rebuilt from its new luminance and the colour difference
// of its original pixels. The arithmetic is the planar primitives' (16.16
// weights, rounded half up, saturated), so a row comes out with the bytes of
// converting the whole image to Y, U, V planes, replacing Y and converting
// back. Dispatched to the best SIMD target at run time.

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// y[x] = the Y sample of pixel x of rgb (three bytes a pixel, the first
// weighted as red, as the planar conversion does), and in offsets (three rows
// of width int16: first, second, third channel) what the pixel's U and V add
// to any luminance on the way back, before saturation.
void LumaOffsetRow(const uint8_t* rgb, uint8_t* y, int16_t* offsets, int width) noexcept;

// dst pixel x = the saturated sums of y[x] and the pixel's three offsets:
// for offsets that LumaOffsetRow made from rgb, the pixels converting rgb to
// planes, replacing Y by y and converting back would give. dst must not
// overlap y or offsets.
void OffsetRow(const uint8_t* y, const int16_t* offsets, uint8_t* dst, int width) noexcept;

}  // namespace KelvoLibImageProcessing::detail
