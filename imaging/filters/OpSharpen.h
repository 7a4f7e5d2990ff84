#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/primitives/PrimitiveBuffers.h"

namespace KelvoLibImageProcessing {

class BitmapData;
class OpFilterGaussian;
class OpConvertRGBtoYCbCr;
class OpConvertYCbCrtoRGB;

// Sharpening methods and the pixel formats they serve (2: 24-bit, 3: 48-bit
// blue-green-red with 12-bit samples).
enum SharpenMethod : int32_t {
  Laplace3x3 = 0,           // formats 2, 3: the 3x3 Laplacian itself
  LaplaceOfGauss = 1,       // format 2: 0.95 input + 0.05 Laplacian of the 5x5 Gaussian
  HighPass3x3 = 2,          // formats 2, 3: fixed 3x3 sharpening kernel
  HighPassLum = 3,          // format 3: luminance high-pass kernel
  HighPassRGB = 4,          // format 3: three-channel high-pass kernel
  UnsharpMask = 5,          // format 2: luminance unsharp mask with strength alpha
  UnsharpMaskHybrid = 6,    // formats 2, 3: contrast-gated luminance unsharp mask
  UnsharpMaskHybridC3 = 7,  // format 3: contrast-gated unsharp mask on all channels
};

// Sharpens three-channel images by one of eight methods.
//
// The hybrid methods sharpen only where a sample differs from the mean of
// its (2R + 1) x (2R + 1) window (clipped at the image edges) by more than
// the threshold T: v = (1 + a) Y - a G, G the Gaussian blur of size
// k = 2r + 0.5 (made odd) and sigma (k - 1) / 4, R = k / 2. With
// applyHighPass the luminance (or all channels) first go through the
// high-pass kernel.
//
// Entries check, in order: images present (code 4), equal pixel formats
// (3), input width and height at least 64 and multiples of 4 (0), output
// size equal to the input's (1), pixel buffers present (5). Primitive
// failures are code 15, other foreign exceptions code 16 naming the method.
// Parameters persist between runs; work buffers live for one run. One run
// at a time per object.
class OpSharpen {
 public:
  OpSharpen();
  ~OpSharpen();
  OpSharpen(const OpSharpen&) = delete;
  OpSharpen& operator=(const OpSharpen&) = delete;

  // Input and output may be the same bitmap.
  void Run(const BitmapData* input, BitmapData* output, SharpenMethod method);
  // UnsharpMask into output, or in place.
  void Run(const BitmapData* input, BitmapData* output);
  void Run(BitmapData* image);
  // UnsharpMaskHybrid into output.
  void RunHybrid(const BitmapData* input, BitmapData* output);
  // A given method in place.
  void Run(BitmapData* image, SharpenMethod method);

  // Weighted UnsharpMaskHybrid, pixel format 3 only: the threshold of a
  // pixel is thresholdTable[window mean] (65536 floats), the mask is cleaned
  // with a 3x3 median, and the amount of a pixel is the amount map's float
  // (rows amountMapStride bytes apart).
  void Execute(const BitmapData* input, BitmapData* output, SharpenMethod method,
               const float* thresholdTable, const float* amountMap, int amountMapStride);

  // 0 <= alpha <= 1 (code 11 otherwise); the reset restores 1.0.
  void SetUnsharpMaskAlpha(float alpha);
  void ResetUnsharpMaskAlpha() noexcept;

  // T >= 0, r >= 1, a >= 0 (code 11 otherwise); rebuilds the Gaussian.
  // The same three values again change nothing.
  void SetUnsharpMaskHybridParams(float threshold, float radius, float amount);
  // The hybrid parameters with a 5 x 5 luminance kernel, applyHighPass set.
  void SetUnsharpMaskHybridParams(float threshold, float radius, float amount,
                                  const float* lumKernel5x5);
  // The hybrid parameters with an interleaved three-channel kernel of
  // width x height, applyHighPass set.
  void SetUnsharpMaskHybridParams(float threshold, float radius, float amount,
                                  const float* rgbKernel, int width, int height);
  // (10.0, 4.5, 0.8), default kernels, applyHighPass cleared.
  void ResetUnsharpMaskHybridParams();

  // High-pass kernels: width x height floats (x 3, interleaved, for RGB).
  void SetHighPassLumKernel(int width, int height, const float* values);
  void SetHighPassRGBKernel(int width, int height, const float* values);
  void SetApplyHighPass(bool apply) noexcept { applyHighPass_ = apply; }

  bool GetApplyHighPass() const noexcept { return applyHighPass_; }
  float GetUnsharpMaskAlpha() const noexcept { return alpha_; }
  float GetHybridThreshold() const noexcept { return threshold_; }
  float GetHybridRadius() const noexcept { return radius_; }
  float GetHybridAmount() const noexcept { return amount_; }
  int GetHybridHalfSize() const noexcept { return halfSize_; }
  const OpFilterGaussian* GetGaussian() const noexcept { return gaussian_.get(); }
  const std::vector<float>& GetLumKernel() const noexcept { return lumKernel_; }
  const std::vector<float>& GetRGBKernel() const noexcept { return rgbKernel_; }
  // True while a run holds work buffers (never after a run returns).
  bool HoldsBuffers() const noexcept;

 private:
  using IppiBytes = IppiImage<uint8_t>;

  void CheckImages(const BitmapData* input, const BitmapData* output, const char* where) const;

  void RunLaplace3x3(const uint8_t* in, int inStride, uint8_t* out, int outStride);
  void RunLaplace3x3(const uint16_t* in, int inStride, uint16_t* out, int outStride);
  void RunHighPass3x3(const uint8_t* in, int inStride, uint8_t* out, int outStride);
  void RunHighPass3x3(const uint16_t* in, int inStride, uint16_t* out, int outStride);
  void RunLaplaceOfGauss(const uint8_t* in, int inStride, uint8_t* out, int outStride);
  void RunUnsharpMask(const uint8_t* in, int inStride, uint8_t* out, int outStride);
  void RunUnsharpMaskHybrid(const uint8_t* in, int inStride, uint8_t* out, int outStride);
  void RunUnsharpMaskHybrid(const uint16_t* in, int inStride, uint16_t* out, int outStride,
                            const float* thresholdTable, const float* amountMap,
                            int amountMapStride);
  void RunUnsharpMaskHybridC3(const uint16_t* in, int inStride, uint16_t* out, int outStride);
  void RunHighPassLum(const uint16_t* in, int inStride, uint16_t* out, int outStride);
  void RunHighPassRGB(const uint16_t* in, int inStride, uint16_t* out, int outStride);

  void AllocateBuffersUCharPlanar();
  void AllocateBuffersUCharC1();
  void AllocateBuffersUCharC3();
  void ReleaseBuffers() noexcept;
  void InstallDefaultKernels();

  int width_ = 0;
  int height_ = 0;

  // Y, U, V planes for the primitive colour conversion.
  IppiBytes planes_[3];
  int planeStep_ = 0;
  // Zero-framed (width + 4) x (height + 4) work images, three-channel and
  // single-channel, each with the address of its pixel (2, 2).
  IppiBytes workC3_[2];
  int workC3Step_ = 0;
  std::size_t workC3Bytes_ = 0;
  uint8_t* workC3Origin_[2] = {nullptr, nullptr};
  IppiBytes workC1_[2];
  int workC1Step_ = 0;
  std::size_t workC1Bytes_ = 0;
  uint8_t* workC1Origin_[2] = {nullptr, nullptr};

  float alpha_ = 1.0f;
  bool applyHighPass_ = false;
  float threshold_ = 10.0f;
  float radius_ = 4.5f;
  float amount_ = 0.8f;
  int halfSize_ = 4;
  std::vector<float> rgbKernel_;
  int rgbKernelWidth_ = 0;
  int rgbKernelHeight_ = 0;
  std::vector<float> lumKernel_;
  int lumKernelWidth_ = 0;
  int lumKernelHeight_ = 0;
  std::unique_ptr<OpFilterGaussian> gaussian_;
  std::unique_ptr<OpConvertRGBtoYCbCr> toYCbCr_;
  std::unique_ptr<OpConvertYCbCrtoRGB> toRgb_;
};

}  // namespace KelvoLibImageProcessing
