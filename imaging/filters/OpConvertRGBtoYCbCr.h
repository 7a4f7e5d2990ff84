#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

class BitmapData;

// Blue-green-red to Y/Cb/Cr with the library's own fixed matrix, in single
// precision. 8-bit results: Y 16..235, Cb and Cr 16..239. 16-bit (12-bit
// data) results: Y 256..3760, Cb and Cr 256..3840.
//
// The Y/Cb/Cr side is either interleaved (Y, Cb, Cr per pixel) or planar:
// three planes one after the other in one buffer, plane k starting
// k * planeStride * height bytes in. The class holds no data; every member
// is usable through an instance or the class name.
class OpConvertRGBtoYCbCr {
 public:
  // input: pixel format 2 or 3; output: the same format and size. With
  // planar set, output holds three planes of stride output->GetStride() / 3.
  // Checks, in order: both bitmaps present (code 4), input format (2),
  // output format (2), equal formats (3), equal dimensions (1), both buffers
  // present (5).
  static void Execute(const BitmapData* input, BitmapData* output, bool planar);

  // Raw routines: strides in bytes; with planar set, dstStride is the plane
  // stride. A width or height below 1 converts nothing. Arguments are
  // trusted.
  static void ConvertUChar(int height, const uint8_t* src, int srcStride, uint8_t* dst,
                           int dstStride, int width, bool planar) noexcept;
  static void ConvertUShort(int height, const uint16_t* src, int srcStride, uint16_t* dst,
                            int dstStride, int width, bool planar) noexcept;
};

}  // namespace KelvoLibImageProcessing
