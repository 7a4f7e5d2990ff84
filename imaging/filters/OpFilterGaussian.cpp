#include "imaging/filters/OpFilterGaussian.h"

#include <cmath>
#include <new>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {

OpFilterGaussian::OpFilterGaussian() : OpFilterGaussian(5, 2.0f, 0.0f) {}

OpFilterGaussian::OpFilterGaussian(int kernelSize, float standardDeviation, float mean) {
  Initialize(kernelSize, standardDeviation, mean);
}

OpFilterGaussian::~OpFilterGaussian() = default;

void OpFilterGaussian::Initialize(int kernelSize, float standardDeviation, float mean) {
  if (!(standardDeviation > 0.0f)) {
    throw IPException(
        ErrorCode::kGeneral,
        "OpFilterGaussian::Initialize: standard deviation must be non-zero and positive");
  }
  if (kernelSize % 2 == 0 || kernelSize < 3 || kernelSize > 21) {
    throw IPException(ErrorCode::kGeneral,
                      "OpFilterGaussian::Initialize: kernel size must be odd and between 3 and 21");
  }
  standardDeviation_ = standardDeviation;
  kernelSize_ = kernelSize;
  halfSize_ = kernelSize / 2;
  mean_ = mean;

  const double sigma = standardDeviation;
  const double a = 1.0 / (sigma * (sigma + sigma));
  const double c = 1.0 / (sigma * (sigma + sigma) * 3.141592653589793);

  const int n = kernelSize;
  try {
    kernel_.assign(static_cast<std::size_t>(n) * n, 0.0f);
    kernelC3_.assign(static_cast<std::size_t>(3) * n * n, 0.0f);
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kAllocationFailed, "OpFilterGaussian::Initialize");
  }
  const int half = halfSize_;
  for (int i = 0; i <= half; ++i) {
    for (int j = 0; j <= half; ++j) {
      const float dy = static_cast<float>(i) - mean;
      const float dx = static_cast<float>(j) - mean;
      const double d2 = static_cast<double>(dy) * dy + static_cast<double>(dx) * dx;
      const float g = static_cast<float>(std::exp(-d2 * a) * c);
      kernel_[(half - i) * n + (half - j)] = g;
      kernel_[(half - i) * n + (half + j)] = g;
      kernel_[(half + i) * n + (half - j)] = g;
      kernel_[(half + i) * n + (half + j)] = g;
    }
  }
  float sum = 0.0f;
  for (float v : kernel_) sum += v;
  const float scale = 1.0f / sum;
  for (std::size_t k = 0; k < kernel_.size(); ++k) {
    kernel_[k] *= scale;
    kernelC3_[3 * k] = kernel_[k];
    kernelC3_[3 * k + 1] = kernel_[k];
    kernelC3_[3 * k + 2] = kernel_[k];
  }
  // When the convolution cannot be created it stays absent
  // here, and every Execute reports code 7 "Null object pointer" with its own
  // where-string instead of dereferencing it.
  convolve_.reset(new (std::nothrow) OpConvolve());
}

OpConvolve& OpFilterGaussian::Convolve() {
  if (!convolve_) throw IPException(ErrorCode::kNullObject, "OpFilterGaussian::Execute");
  return *convolve_;
}

void OpFilterGaussian::Execute(const BitmapData* input, BitmapData* output) {
  if (input == nullptr || output == nullptr)
    throw IPException(ErrorCode::kNullImage, "OpFilterGaussian::Execute");
  const int format = input->GetFormat();
  const float* kernel = nullptr;
  if (format == kFormatBGR8 || format == kFormatBGR16) {
    kernel = kernelC3_.data();
  } else if (format == kFormatGray8 || format == kFormatGray16) {
    kernel = kernel_.data();
  } else {
    throw IPException(ErrorCode::kUnsupportedFormat, "OpFilterGaussian::Execute");
  }
  Convolve().Execute(input, output, kernel, kernelSize_, kernelSize_);
}

void OpFilterGaussian::Execute(BitmapData* image) {
  Execute(image, image);
}

void OpFilterGaussian::ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                                 int width, int height) {
  Convolve().ExecuteC3(src, srcStride, dst, dstStride, width, height, kernelC3_.data(), kernelSize_,
                       kernelSize_);
}
void OpFilterGaussian::ExecuteC3(uint8_t* image, int stride, int width, int height) {
  ExecuteC3(image, stride, image, stride, width, height);
}
void OpFilterGaussian::ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                                 int width, int height) {
  Convolve().ExecuteC1(src, srcStride, dst, dstStride, width, height, kernel_.data(), kernelSize_,
                       kernelSize_);
}
void OpFilterGaussian::ExecuteC1(uint8_t* image, int stride, int width, int height) {
  ExecuteC1(image, stride, image, stride, width, height);
}
void OpFilterGaussian::ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                                 int width, int height) {
  Convolve().ExecuteC3(src, srcStride, dst, dstStride, width, height, kernelC3_.data(), kernelSize_,
                       kernelSize_);
}
void OpFilterGaussian::ExecuteC3(uint16_t* image, int stride, int width, int height) {
  ExecuteC3(image, stride, image, stride, width, height);
}
void OpFilterGaussian::ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                                 int width, int height) {
  Convolve().ExecuteC1(src, srcStride, dst, dstStride, width, height, kernel_.data(), kernelSize_,
                       kernelSize_);
}
void OpFilterGaussian::ExecuteC1(uint16_t* image, int stride, int width, int height) {
  ExecuteC1(image, stride, image, stride, width, height);
}

}  // namespace KelvoLibImageProcessing
