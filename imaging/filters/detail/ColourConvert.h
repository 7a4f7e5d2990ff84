#pragma once

// Vectorised colour conversion, dispatched to the best SIMD target at run
// time. Same arguments and bit-identical results as the plain loops in
// imaging/filters/reference/ColourReference.h.

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

void RgbToYCbCr8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept;
void RgbToYCbCr16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept;
void YCbCrToRgb8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept;
void YCbCrToRgb16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept;

// Planar YCbCr rows to interleaved BGR on the calling thread: `rows` rows
// from src (the Y plane row; Cb and Cr lie planeRows rows further on in
// each plane), for a caller that converts a block of rows as it finishes
// them.
void YCbCrRowsToRgb8(int rows, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                     int width, int planeRows) noexcept;
void YCbCrRowsToRgb16(int rows, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                      int width, int planeRows) noexcept;

}  // namespace KelvoLibImageProcessing::detail
