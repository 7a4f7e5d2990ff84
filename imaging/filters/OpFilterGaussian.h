#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/filters/OpConvolve.h"

namespace KelvoLibImageProcessing {

class BitmapData;

// A normalised square Gaussian kernel of odd size n (3 to 21) and standard
// deviation sigma > 0, run through its own OpConvolve. The kernel is built
// in double precision from the float sigma and normalised in float; a
// three-channel copy repeats every coefficient three times (the interleaved
// layout of OpConvolve's three-channel runs). Immutable after construction.
class OpFilterGaussian {
 public:
  // Size 5, sigma 2.0, mean 0.
  OpFilterGaussian();
  OpFilterGaussian(int kernelSize, float standardDeviation, float mean);
  OpFilterGaussian(const OpFilterGaussian&) = delete;
  OpFilterGaussian& operator=(const OpFilterGaussian&) = delete;
  ~OpFilterGaussian();

  // Validates (code 26: "OpFilterGaussian::Initialize: standard deviation
  // must be non-zero and positive", then "OpFilterGaussian::Initialize:
  // kernel size must be odd and between 3 and 21"), builds both kernels and
  // creates the convolution. Called by the constructors.
  void Initialize(int kernelSize, float standardDeviation, float mean);

  // Filters a bitmap (formats 0 to 3) into another of the same format and
  // size, or in place. The border frame of half the kernel size keeps the
  // input; see OpConvolve for the checks.
  void Execute(const BitmapData* input, BitmapData* output);
  void Execute(BitmapData* image);

  // Raw buffers (strides in bytes), separate or in place.
  void ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height);
  void ExecuteC3(uint8_t* image, int stride, int width, int height);
  void ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride, int width,
                 int height);
  void ExecuteC1(uint8_t* image, int stride, int width, int height);
  void ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height);
  void ExecuteC3(uint16_t* image, int stride, int width, int height);
  void ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride, int width,
                 int height);
  void ExecuteC1(uint16_t* image, int stride, int width, int height);

  float GetStandardDeviation() const noexcept { return standardDeviation_; }
  int GetKernelSize() const noexcept { return kernelSize_; }
  int GetHalfSize() const noexcept { return halfSize_; }
  float GetMean() const noexcept { return mean_; }
  // n x n coefficients, row-major.
  const float* GetKernel() const noexcept { return kernel_.data(); }
  // 3 x n x n coefficients, each repeated three times.
  const float* GetKernelC3() const noexcept { return kernelC3_.data(); }
  // The convolution used by every Execute.
  OpConvolve* GetConvolve() noexcept { return convolve_.get(); }

 private:
  OpConvolve& Convolve();

  float standardDeviation_ = 2.0f;
  int kernelSize_ = 0;
  int halfSize_ = 0;
  float mean_ = 0.0f;
  std::vector<float> kernel_;
  std::vector<float> kernelC3_;
  std::unique_ptr<OpConvolve> convolve_;
};

}  // namespace KelvoLibImageProcessing
