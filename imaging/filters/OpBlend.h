#pragma once

#include <cstdint>
#include <vector>

#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"

namespace KelvoLibImageProcessing {

class BitmapData;

// Blend modes: with base sample a, blend sample b, full scale F (255, or
// 4095 for 12-bit data in 16-bit words), half scale H (127 or 2047) and
// m = a * b / F:
enum BlendMode : int32_t {
  Multiply = 0,    // m
  Screen = 1,      // a + b - m
  Overlay = 2,     // a <= H: 2m; else 2 (a + b - m) - F
  Luminosity = 3,  // the base's Cb and Cr with the blend's Y
  Color = 4,       // the base's Y with the blend's Cb and Cr
};

// Mixes a base image with a blend layer: out = f(a, b) * o + a * (1 - o)
// for an opacity o in [0, 1]. Self-blends (the blend layer is the base) of
// Screen and Overlay go through per-sample tables built once per bit depth.
//
// Bitmap entries check, in order: images present (code 4), equal pixel
// formats (3), equal dimensions (1), width and height at least 64 and
// multiples of 4 (0); the checks specific to each entry follow. Raw-buffer
// strides are in bytes. One run at a time per object.
class OpBlend {
 public:
  OpBlend();
  ~OpBlend();
  OpBlend(const OpBlend&) = delete;
  OpBlend& operator=(const OpBlend&) = delete;

  // Builds the Multiply, Screen and Overlay self-blend tables for 8 or 16
  // bits (other depths: code 10); keeps them when already built for depth.
  void Allocate(int bitDepth);
  // Drops the tables; the bit depth becomes 0.
  void Release() noexcept;
  int GetTableBitDepth() const noexcept { return bitDepth_; }
  // Self-blend table entry of sample value i (Allocate first).
  int GetMultiplyEntry(int i) const noexcept { return multiply_[i]; }
  int GetScreenEntry(int i) const noexcept { return screen_[i]; }
  int GetOverlayEntry(int i) const noexcept { return overlay_[i]; }

  // Self-blend with one opacity; input and output may be the same bitmap.
  // Pixel formats 2 and 3, modes Screen and Overlay. Opacity 0 copies.
  void Execute(const BitmapData* input, BitmapData* output, BlendMode mode, float opacity);
  // Overlay at opacity 0.2, into output or in place.
  void Execute(const BitmapData* input, BitmapData* output);
  void Execute(BitmapData* image);
  // Screen in place.
  void Execute(BitmapData* image, float opacity);

  // Self-blend with a per-pixel opacity (floats, rows opacityMapStride bytes
  // apart, values clamped to [0, 1]); pixel format 3 only, modes 0 to 2.
  void Execute(const BitmapData* input, BitmapData* output, BlendMode mode, const float* opacityMap,
               int opacityMapStride);

  // Blend of two three-channel images in raw buffers (all modes).
  void Execute(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
               uint8_t* output, int outputStride, int width, int height, BlendMode mode,
               float opacity);
  void Execute(const uint16_t* base, int baseStride, const uint16_t* blend, int blendStride,
               uint16_t* output, int outputStride, int width, int height, BlendMode mode,
               float opacity);

  // Blend of two single-channel images, modes 0 to 2.
  void ExecuteC1(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
                 uint8_t* output, int outputStride, int width, int height, BlendMode mode,
                 float opacity);
  void ExecuteC1(const uint16_t* base, int baseStride, const uint16_t* blend, int blendStride,
                 uint16_t* output, int outputStride, int width, int height, BlendMode mode,
                 float opacity);

  // Luminosity and Color: the mix is done on Y/Cb/Cr planes.
  void ApplyHLS(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
                uint8_t* output, int outputStride, BlendMode mode, float opacity);
  void ApplyHLS(const uint16_t* base, int baseStride, const uint16_t* blend, int blendStride,
                uint16_t* output, int outputStride, BlendMode mode, float opacity);

 private:
  // The two-image three-channel blend shared by the 8-bit and 16-bit forms.
  template <class T>
  void ExecuteC3(const T* base, int baseStride, const T* blend, int blendStride, T* output,
                 int outputStride, int width, int height, BlendMode mode, float opacity);

  int width_ = 0;
  int height_ = 0;
  int bitDepth_ = 0;
  std::vector<uint16_t> multiply_;
  std::vector<uint16_t> screen_;
  std::vector<uint16_t> overlay_;
  OpConvertRGBtoYCbCr toYCbCr_;
  OpConvertYCbCrtoRGB toRgb_;
};

}  // namespace KelvoLibImageProcessing
