#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

class BitmapData;

// Y/Cb/Cr to blue-green-red, the numerical inverse of OpConvertRGBtoYCbCr.
// Inputs are clamped to the Y/Cb/Cr ranges first; results are clamped to
// 0..255 (8-bit) or 0..4095 (16-bit) and rounded. Layouts as in
// OpConvertRGBtoYCbCr. The class holds no data.
class OpConvertYCbCrtoRGB {
 public:
  // input: Y/Cb/Cr in pixel format 2 or 3 (planes of stride
  // input->GetStride() / 3 when planar is set); output: the same format and
  // size. Checks as OpConvertRGBtoYCbCr::Execute.
  static void Execute(const BitmapData* input, BitmapData* output, bool planar);

  // Raw routines: strides in bytes; with planar set, srcStride is the plane
  // stride. A width or height below 1 converts nothing.
  static void ConvertUChar(int height, const uint8_t* src, int srcStride, uint8_t* dst,
                           int dstStride, int width, bool planar) noexcept;
  static void ConvertUShort(int height, const uint16_t* src, int srcStride, uint16_t* dst,
                            int dstStride, int width, bool planar) noexcept;
};

}  // namespace KelvoLibImageProcessing
