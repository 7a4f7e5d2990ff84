#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

class BitmapData;

// Two-dimensional convolution of an image with a kernel, result of the same
// size. The full linear convolution is computed (samples outside the image
// are 0) and cropped back so that pixel (x, y) is
//   sum over kernel rows i and columns j of kernel(i, j) * src(x + hw - j, y + hh - i)
// with hw = kernel width / 2 and hh = kernel height / 2. Only the interior
// (rows hh .. height-1-hh, columns hw .. width-1-hw) is computed; the border
// frame of the result always equals the input.
//
// Float kernels run on a float copy of the image; results are clamped to
// 0..255 (8-bit) or 0..4095 (16-bit, 12-bit data) and rounded. Three-channel
// float kernels are interleaved (coefficient k at 3k, 3k+1, 3k+2); kernels
// larger than 9 x 9 run plane by plane.
//
// Strides are in bytes. Width and height must be at least 64 and multiples
// of 4. Every check, allocation and primitive call comes before the first
// write to the destination; the work buffers never outlive a call. One call
// at a time per object.
class OpConvolve {
 public:
  OpConvolve() = default;
  OpConvolve(const OpConvolve&) = delete;
  OpConvolve& operator=(const OpConvolve&) = delete;

  // Bitmaps of any format (float kernel), formats 0 and 2 (8-bit kernel) or
  // 1 and 3 (16-bit kernel); input and output may be the same bitmap.
  void Execute(const BitmapData* input, BitmapData* output, const float* kernel, int kernelWidth,
               int kernelHeight);
  void Execute(const BitmapData* input, BitmapData* output, const uint8_t* kernel, int kernelWidth,
               int kernelHeight);
  void Execute(const BitmapData* input, BitmapData* output, const int16_t* kernel, int kernelWidth,
               int kernelHeight);

  // Float kernels.
  void ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height, const float* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height, const float* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height, const float* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height, const float* kernel, int kernelWidth, int kernelHeight);

  // Integer kernels, divisor 1, results saturated by the primitive. The
  // 16-bit forms read the samples as signed 16-bit values.
  void ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height, const uint8_t* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height, const uint8_t* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height, const int16_t* kernel, int kernelWidth, int kernelHeight);
  void ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height, const int16_t* kernel, int kernelWidth, int kernelHeight);

  // Convolve a float image in place (no interior restriction: every pixel
  // gets the cropped full result).
  void ConvolveFloatC1(float* image, int stride, int width, int height, const float* kernel,
                       int kernelWidth, int kernelHeight);
  void ConvolveFloatC3(float* image, int stride, int width, int height, const float* kernel,
                       int kernelWidth, int kernelHeight);

  // Release the buffer of that kind, set the full geometry and allocate the
  // full result: (width + kernelWidth - 1) x (height + kernelHeight - 1) x
  // channels samples.
  void AllocateBufferFloat(int channels, int width, int height, int kernelWidth, int kernelHeight);
  void AllocateBufferUChar(int channels, int width, int height, int kernelWidth, int kernelHeight);
  void AllocateBufferUShort(int channels, int width, int height, int kernelWidth, int kernelHeight);

  // Frees all three work buffers.
  void ReleaseBuffers() noexcept;

  int GetFullWidth() const noexcept { return fullWidth_; }
  int GetFullHeight() const noexcept { return fullHeight_; }
  int GetFullStride() const noexcept { return fullStride_; }
  bool HoldsBuffers() const noexcept { return bufferFloat_ || bufferUChar_ || bufferUShort_; }

 private:
  template <typename T>
  void RunFloat(const T* src, int srcStride, T* dst, int dstStride, int width, int height,
                int channels, const float* kernel, int kernelWidth, int kernelHeight,
                const char* where);
  template <typename T, typename K>
  void RunInteger(const T* src, int srcStride, T* dst, int dstStride, int width, int height,
                  int channels, const K* kernel, int kernelWidth, int kernelHeight,
                  const char* primitiveWhere);
  // Full convolution of a float image into the float buffer (allocated
  // here); the caller releases it.
  void ConvolveFull(const float* image, int stride, int width, int height, int channels,
                    const float* kernel, int kernelWidth, int kernelHeight);
  // Row y of the float image's cropped result inside the full buffer.
  const float* FullRow(int y, int channels, int kernelWidth, int kernelHeight) const;
  void SetGeometry(int channels, int width, int height, int kernelWidth, int kernelHeight,
                   int bytesPerSample);

  std::size_t FullSamples(int bytesPerSample) const noexcept;

  kelvo::memory::BlockArray<float> bufferFloat_;
  kelvo::memory::BlockArray<uint8_t> bufferUChar_;
  kelvo::memory::BlockArray<uint16_t> bufferUShort_;
  int fullWidth_ = 0;
  int fullHeight_ = 0;
  int fullStride_ = 0;
};

}  // namespace KelvoLibImageProcessing
