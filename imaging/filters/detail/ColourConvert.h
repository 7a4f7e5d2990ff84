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

// As YCbCrRowsToRgb8, with Y given as floats (rows yStride bytes apart)
// that round to samples as the wavelet synthesis rounds them (clamped to
// [0, 255], then to the nearest whole number, halves up), and Cb and Cr
// rows from their own planes (cStride bytes apart): the same bytes as
// rounding Y to a plane first, without the plane.
void FloatYCbCrRowsToRgb8(int rows, const float* y, int yStride, const uint8_t* cb,
                          const uint8_t* cr, int cStride, uint8_t* dst, int dstStride,
                          int width) noexcept;

}  // namespace KelvoLibImageProcessing::detail
