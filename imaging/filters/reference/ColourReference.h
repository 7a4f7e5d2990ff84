#pragma once

// Plain-loop colour conversion written straight from the formulas; never
// dispatched. Tests and benchmarks compare the vector kernels against it.
// Arguments as the raw routines of OpConvertRGBtoYCbCr / OpConvertYCbCrtoRGB.

#include <cstdint>

namespace KelvoLibImageProcessing::reference {

void RgbToYCbCr8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept;
void RgbToYCbCr16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept;
void YCbCrToRgb8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept;
void YCbCrToRgb16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept;

}  // namespace KelvoLibImageProcessing::reference
