#include "imaging/filters/OpSharpen.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "imaging/analysis/SumValueTable.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/denoise/IntelFilters.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/filters/OpConvolve.h"
#include "imaging/filters/OpFilterGaussian.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/filters/detail/HybridLuminance.h"
#include "imaging/filters/detail/HybridMask.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing {
namespace {

bool ValidSide(int size) {
  return size >= 64 && size % 4 == 0;
}

// Default high-pass kernel: -0.1 around 1.8, summing to 1.
constexpr float kDefaultLum[9] = {-0.1f, -0.1f, -0.1f, -0.1f, 1.8f, -0.1f, -0.1f, -0.1f, -0.1f};

// Above the maximum gives the maximum, below 0 gives 0, else v + 0.5
// truncated.
inline int RoundClamp(float v, float maximum) {
  if (v > maximum) return static_cast<int>(maximum);
  if (v < 0.0f) return 0;
  return static_cast<int>(v + 0.5f);
}

template <typename T>
void CopyImage(const T* in, int inStride, T* out, int outStride, int width, int height,
               int channels) {
  if (in == out && inStride == outStride) return;
  const std::size_t bytes = static_cast<std::size_t>(width) * channels * sizeof(T);
  for (int y = 0; y < height; ++y)
    std::memmove(RowAt(out, outStride, y), RowAt(in, inStride, y), bytes);
}

}  // namespace

// ---- Construction and parameters ---------------------------------------

OpSharpen::OpSharpen() {
  gaussian_.reset(new (std::nothrow) OpFilterGaussian(9, 2.0f, 0.0f));
  if (!gaussian_)
    throw IPException(ErrorCode::kInstantiationFailed, "OpSharpen::OpSharpen(OpFilterGaussian)");
  toYCbCr_.reset(new (std::nothrow) OpConvertRGBtoYCbCr());
  if (!toYCbCr_)
    throw IPException(ErrorCode::kInstantiationFailed, "OpSharpen::OpSharpen(OpConvertRGBtoYCbCr)");
  toRgb_.reset(new (std::nothrow) OpConvertYCbCrtoRGB());
  if (!toRgb_)
    throw IPException(ErrorCode::kInstantiationFailed, "OpSharpen::OpSharpen(OpConvertYCbCrtoRGB)");
  InstallDefaultKernels();
}

OpSharpen::~OpSharpen() = default;

void OpSharpen::InstallDefaultKernels() {
  float rgb[27];
  for (int k = 0; k < 9; ++k) {
    for (int c = 0; c < 3; ++c) rgb[3 * k + c] = kDefaultLum[k];
  }
  SetHighPassRGBKernel(3, 3, rgb);
  SetHighPassLumKernel(3, 3, kDefaultLum);
}

bool OpSharpen::HoldsBuffers() const noexcept {
  for (const IppiBytes& p : planes_) {
    if (p) return true;
  }
  return workC3_[0] || workC3_[1] || workC1_[0] || workC1_[1];
}

void OpSharpen::SetUnsharpMaskAlpha(float alpha) {
  if (!(alpha >= 0.0f && alpha <= 1.0f)) {
    throw IPException(ErrorCode::kInvalidInput, "OpSharpen::SetUnsharpMaskAlpha(alpha value)");
  }
  alpha_ = alpha;
}

void OpSharpen::ResetUnsharpMaskAlpha() noexcept {
  alpha_ = 1.0f;
}

void OpSharpen::SetUnsharpMaskHybridParams(float threshold, float radius, float amount) {
  if (threshold == threshold_ && radius == radius_ && amount == amount_) return;
  if (!(threshold >= 0.0f) || !(radius >= 1.0f) || !(amount >= 0.0f)) {
    throw IPException(ErrorCode::kInvalidInput, "OpSharpen::SetUnsharpMaskHybridParams");
  }
  int k = static_cast<int>(2.0f * radius + 0.5f);
  if (k % 2 == 0) ++k;
  const float sigma = static_cast<float>(k - 1) * 0.25f;
  // The new Gaussian is built before anything is stored,
  // so a radius whose kernel cannot be built (over 21 taps) leaves every
  // parameter and the old Gaussian in place.
  std::unique_ptr<OpFilterGaussian> gaussian;
  try {
    gaussian.reset(new (std::nothrow) OpFilterGaussian(k, sigma, 0.0f));
  } catch (...) {
    gaussian.reset();
  }
  if (!gaussian)
    throw IPException(ErrorCode::kInstantiationFailed,
                      "OpSharpen::SetUnsharpMaskHybridParams(OpFilterGaussian)");
  threshold_ = threshold;
  radius_ = radius;
  amount_ = amount;
  halfSize_ = k / 2;
  gaussian_ = std::move(gaussian);
}

void OpSharpen::SetUnsharpMaskHybridParams(float threshold, float radius, float amount,
                                           const float* lumKernel5x5) {
  SetUnsharpMaskHybridParams(threshold, radius, amount);
  SetHighPassLumKernel(5, 5, lumKernel5x5);
  applyHighPass_ = true;
}

void OpSharpen::SetUnsharpMaskHybridParams(float threshold, float radius, float amount,
                                           const float* rgbKernel, int width, int height) {
  SetUnsharpMaskHybridParams(threshold, radius, amount);
  SetHighPassRGBKernel(width, height, rgbKernel);
  applyHighPass_ = true;
}

void OpSharpen::ResetUnsharpMaskHybridParams() {
  SetUnsharpMaskHybridParams(10.0f, 4.5f, 0.8f);
  InstallDefaultKernels();
  applyHighPass_ = false;
}

namespace {

// Replaces a kernel; absent values are refused like a bad
// size (code 11) rather than read.
void SetKernel(std::vector<float>& kernel, int& kernelWidth, int& kernelHeight, int width,
               int height, int channels, const float* values, const char* sizeWhere,
               const char* where) {
  if (width < 1 || height < 1 || values == nullptr)
    throw IPException(ErrorCode::kInvalidInput, sizeWhere);
  kernel.clear();
  kernel.shrink_to_fit();
  try {
    kernel.assign(values, values + static_cast<std::size_t>(width) * height * channels);
  } catch (const std::bad_alloc&) {
    kernelWidth = kernelHeight = 0;
    throw IPException(ErrorCode::kAllocationFailed, where);
  }
  kernelWidth = width;
  kernelHeight = height;
}

}  // namespace

void OpSharpen::SetHighPassLumKernel(int width, int height, const float* values) {
  SetKernel(lumKernel_, lumKernelWidth_, lumKernelHeight_, width, height, 1, values,
            "OpSharpen::SetHighPassLumKernel(kernel size)", "OpSharpen::SetHighPassLumKernel");
}

void OpSharpen::SetHighPassRGBKernel(int width, int height, const float* values) {
  SetKernel(rgbKernel_, rgbKernelWidth_, rgbKernelHeight_, width, height, 3, values,
            "OpSharpen::SetHighPassRGBKernel(kernel size)", "OpSharpen::SetHighPassRGBKernel");
}

// ---- Work buffers --------------------------------------------------------

void OpSharpen::ReleaseBuffers() noexcept {
  for (IppiBytes& p : planes_) p.reset();
  for (IppiBytes& p : workC3_) p.reset();
  for (IppiBytes& p : workC1_) p.reset();
  workC3Origin_[0] = workC3Origin_[1] = nullptr;
  workC1Origin_[0] = workC1Origin_[1] = nullptr;
}

void OpSharpen::AllocateBuffersUCharPlanar() {
  for (IppiBytes& p : planes_) {
    p.reset(ippiMalloc_8u_C1(width_, height_, &planeStep_));
    if (!p)
      throw IPException(ErrorCode::kPrimitiveFailed,
                        "OpSharpen::AllocateBuffersUCharPlanar(ippiMalloc_8u_C1)");
  }
}

void OpSharpen::AllocateBuffersUCharC1() {
  for (int i = 0; i < 2; ++i) {
    workC1_[i].reset(ippiMalloc_8u_C1(width_ + 4, height_ + 4, &workC1Step_));
    if (!workC1_[i])
      throw IPException(ErrorCode::kPrimitiveFailed,
                        "OpSharpen::AllocateBuffersUCharC1(ippiMalloc_8u_C1)");
  }
  workC1Bytes_ = static_cast<std::size_t>(workC1Step_) * (height_ + 4);
  for (int i = 0; i < 2; ++i) workC1Origin_[i] = workC1_[i].get() + 2 * workC1Step_ + 2;
}

void OpSharpen::AllocateBuffersUCharC3() {
  for (int i = 0; i < 2; ++i) {
    workC3_[i].reset(ippiMalloc_8u_C3(width_ + 4, height_ + 4, &workC3Step_));
    if (!workC3_[i])
      throw IPException(ErrorCode::kPrimitiveFailed,
                        "OpSharpen::AllocateBuffersUCharC3(ippiMalloc_8u_C3)");
  }
  workC3Bytes_ = static_cast<std::size_t>(workC3Step_) * (height_ + 4);
  for (int i = 0; i < 2; ++i) workC3Origin_[i] = workC3_[i].get() + 2 * workC3Step_ + 6;
}

// ---- Entries ---------------------------------------------------------------

void OpSharpen::CheckImages(const BitmapData* input, const BitmapData* output,
                            const char* where) const {
  // The input's size is checked before it is compared with the output's.
  detail::CheckImages(where, {input, output},
                      {.validSide = ValidSide, .sizeBeforeEqualSize = true});
}

namespace {

// Releases the run's work buffers on every path.
template <class Op>
struct RunScope {
  Op& op;
  ~RunScope() { op(); }
};

}  // namespace

void OpSharpen::Run(const BitmapData* input, BitmapData* output, SharpenMethod method) {
  CheckImages(input, output, "OpSharpen::Run");
  width_ = input->GetWidth();
  height_ = input->GetHeight();
  auto release = [this] { ReleaseBuffers(); };
  RunScope<decltype(release)> scope{release};

  const int inStride = input->GetStride();
  const int outStride = output->GetStride();
  constexpr const char* kInvalid =
      "OpSharpen::Run: invalid sharpening method for the given data type";
  if (input->GetFormat() == kFormatBGR8) {
    const uint8_t* in = input->GetData();
    uint8_t* out = output->GetData();
    switch (method) {
      case Laplace3x3:
        return RunLaplace3x3(in, inStride, out, outStride);
      case LaplaceOfGauss:
        return RunLaplaceOfGauss(in, inStride, out, outStride);
      case HighPass3x3:
        return RunHighPass3x3(in, inStride, out, outStride);
      case UnsharpMask:
        return RunUnsharpMask(in, inStride, out, outStride);
      case UnsharpMaskHybrid:
        return RunUnsharpMaskHybrid(in, inStride, out, outStride);
      default:
        throw IPException(ErrorCode::kGeneral, kInvalid);
    }
  }
  if (input->GetFormat() == kFormatBGR16) {
    const auto* in = reinterpret_cast<const uint16_t*>(input->GetData());
    auto* out = reinterpret_cast<uint16_t*>(output->GetData());
    switch (method) {
      case Laplace3x3:
        return RunLaplace3x3(in, inStride, out, outStride);
      case HighPass3x3:
        return RunHighPass3x3(in, inStride, out, outStride);
      case HighPassLum:
        return RunHighPassLum(in, inStride, out, outStride);
      case HighPassRGB:
        return RunHighPassRGB(in, inStride, out, outStride);
      case UnsharpMaskHybrid:
        return RunUnsharpMaskHybrid(in, inStride, out, outStride, nullptr, nullptr, 0);
      case UnsharpMaskHybridC3:
        return RunUnsharpMaskHybridC3(in, inStride, out, outStride);
      default:
        throw IPException(ErrorCode::kGeneral, kInvalid);
    }
  }
  throw IPException(ErrorCode::kUnsupportedFormat, "OpSharpen::Run");
}

void OpSharpen::Run(const BitmapData* input, BitmapData* output) {
  Run(input, output, UnsharpMask);
}
void OpSharpen::Run(BitmapData* image) {
  Run(image, image, UnsharpMask);
}
void OpSharpen::RunHybrid(const BitmapData* input, BitmapData* output) {
  Run(input, output, UnsharpMaskHybrid);
}
void OpSharpen::Run(BitmapData* image, SharpenMethod method) {
  Run(image, image, method);
}

void OpSharpen::Execute(const BitmapData* input, BitmapData* output, SharpenMethod method,
                        const float* thresholdTable, const float* amountMap, int amountMapStride) {
  CheckImages(input, output, "OpSharpen::Execute");
  if (input->GetFormat() != kFormatBGR16) {
    throw IPException(ErrorCode::kGeneral,
                      "OpSharpen::Execute: unsupported image format for weighted version");
  }
  if (method != UnsharpMaskHybrid) {
    throw IPException(ErrorCode::kGeneral,
                      "OpSharpen::Execute: invalid sharpening method for weighted version");
  }
  // An absent table or map is refused (code 5) instead of
  // being read.
  if (thresholdTable == nullptr || amountMap == nullptr)
    throw IPException(ErrorCode::kNullData, "OpSharpen::Execute");
  width_ = input->GetWidth();
  height_ = input->GetHeight();
  auto release = [this] { ReleaseBuffers(); };
  RunScope<decltype(release)> scope{release};
  RunUnsharpMaskHybrid(reinterpret_cast<const uint16_t*>(input->GetData()), input->GetStride(),
                       reinterpret_cast<uint16_t*>(output->GetData()), output->GetStride(),
                       thresholdTable, amountMap, amountMapStride);
}

// ---- Fixed-kernel methods -----------------------------------------------

namespace {

// Sample (2, 2) of a three-channel image with a two-pixel frame.
template <typename U>
U* FramedOrigin(U* framed, int framedStep) {
  return RowAt(framed, framedStep, 2) + 2 * 3;
}

// The input copied into a zeroed (width + 4) x (height + 4) image at (2, 2).
template <typename T, typename U>
void CopyIntoFramed(const T* in, int inStride, U* framed, int framedStep, int width, int height) {
  static_assert(sizeof(T) == sizeof(U));
  std::memset(framed, 0, static_cast<std::size_t>(framedStep) * (height + 4));
  U* origin = FramedOrigin(framed, framedStep);
  for (int y = 0; y < height; ++y) {
    std::memcpy(RowAt(origin, framedStep, y), RowAt(in, inStride, y),
                static_cast<std::size_t>(width) * 3 * sizeof(T));
  }
}

// 12-bit clamp of a signed 16-bit result.
void Clamp12(uint16_t* out, int outStride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    uint16_t* row = RowAt(out, outStride, y);
    for (int i = 0; i < width * 3; ++i) {
      row[i] = static_cast<uint16_t>(std::clamp<int>(static_cast<int16_t>(row[i]), 0, 4095));
    }
  }
}

}  // namespace

void OpSharpen::RunLaplace3x3(const uint8_t* in, int inStride, uint8_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunLaplace3x3(Laplacian)", [&] {
    int step = 0;
    detail::IppiImage<uint8_t> work(ippiMalloc_8u_C3(width_ + 4, height_ + 4, &step));
    if (!work)
      throw IPException(ErrorCode::kPrimitiveFailed, "OpSharpen::RunLaplace3x3(ippiMalloc_8u_C3)");
    CopyIntoFramed(in, inStride, work.get(), step, width_, height_);
    detail::CheckStatus(
        ippiFilterLaplace_8u_C3R(FramedOrigin(work.get(), step), step, out, outStride,
                                 IppiSize{width_, height_}, ippMskSize3x3),
        "OpSharpen::RunLaplace3x3(ippiFilterLaplace_8u_C3R)");
  });
}

void OpSharpen::RunLaplace3x3(const uint16_t* in, int inStride, uint16_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunLaplace3x3(Laplacian)", [&] {
    int step = 0;
    detail::IppiImage<Ipp16u> work(ippiMalloc_16u_C3(width_ + 4, height_ + 4, &step));
    if (!work)
      throw IPException(ErrorCode::kPrimitiveFailed, "OpSharpen::RunLaplace3x3(ippiMalloc_16u_C3)");
    CopyIntoFramed(in, inStride, work.get(), step, width_, height_);
    detail::CheckStatus(
        ippiFilterLaplace_16s_C3R(reinterpret_cast<const Ipp16s*>(FramedOrigin(work.get(), step)),
                                  step, reinterpret_cast<Ipp16s*>(out), outStride,
                                  IppiSize{width_, height_}, ippMskSize3x3),
        "OpSharpen::RunLaplace3x3(ippiFilterLaplace_16s_C3R)");
    Clamp12(out, outStride, width_, height_);
  });
}

void OpSharpen::RunHighPass3x3(const uint8_t* in, int inStride, uint8_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunHighPass3x3(highpass filter)", [&] {
    int step = 0;
    detail::IppiImage<uint8_t> work(ippiMalloc_8u_C3(width_ + 4, height_ + 4, &step));
    if (!work)
      throw IPException(ErrorCode::kPrimitiveFailed, "OpSharpen::RunHighPass3x3(ippiMalloc_8u_C3)");
    CopyIntoFramed(in, inStride, work.get(), step, width_, height_);
    detail::CheckStatus(ippiFilterSharpen_8u_C3R(FramedOrigin(work.get(), step), step, out,
                                                 outStride, IppiSize{width_, height_}),
                        "OpSharpen::RunHighPass3x3(ippiFilterSharpen_8u_C3R)");
  });
}

void OpSharpen::RunHighPass3x3(const uint16_t* in, int inStride, uint16_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunHighPass3x3(highpass filter)", [&] {
    int step = 0;
    detail::IppiImage<Ipp16s> work(ippiMalloc_16s_C3(width_ + 4, height_ + 4, &step));
    if (!work)
      throw IPException(ErrorCode::kPrimitiveFailed,
                        "OpSharpen::RunHighPass3x3(ippiMalloc_16s_C3)");
    CopyIntoFramed(in, inStride, work.get(), step, width_, height_);
    detail::CheckStatus(ippiFilterSharpen_16s_C3R(
                            reinterpret_cast<const Ipp16s*>(FramedOrigin(work.get(), step)), step,
                            reinterpret_cast<Ipp16s*>(out), outStride, IppiSize{width_, height_}),
                        "OpSharpen::RunHighPass3x3(ippiFilterSharpen_16s_C3R)");
    Clamp12(out, outStride, width_, height_);
  });
}

void OpSharpen::RunLaplaceOfGauss(const uint8_t* in, int inStride, uint8_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunLaplaceOfGauss(Laplacian of Gaussian)", [&] {
    AllocateBuffersUCharC3();
    std::memset(workC3_[1].get(), 0, workC3Bytes_);
    CopyIntoFramed(in, inStride, workC3_[0].get(), workC3Step_, width_, height_);
    const IppiSize roi{width_, height_};
    detail::CheckStatus(ippiFilterGauss_8u_C3R(workC3Origin_[0], workC3Step_, workC3Origin_[1],
                                               workC3Step_, roi, ippMskSize5x5),
                        "OpSharpen::RunLaplaceOfGauss(ippiFilterGauss_8u_C3R)");
    detail::CheckStatus(ippiFilterLaplace_8u_C3R(workC3Origin_[1], workC3Step_, workC3Origin_[0],
                                                 workC3Step_, roi, ippMskSize5x5),
                        "OpSharpen::RunLaplaceOfGauss(ippiFilterLaplace_8u_C3R)");
    const float weight = 1.0f - 0.95f;
    for (int y = 0; y < height_; ++y) {
      const uint8_t* src = RowAt(in, inStride, y);
      const uint8_t* lap = workC3Origin_[0] + static_cast<std::ptrdiff_t>(y) * workC3Step_;
      uint8_t* dst = RowAt(out, outStride, y);
      for (int i = 0; i < width_ * 3; ++i) {
        const int v = static_cast<int>(0.95f * static_cast<float>(src[i]) +
                                       weight * static_cast<float>(lap[i]) + 0.5f);
        dst[i] = static_cast<uint8_t>(std::min(v, 255));
      }
    }
    ReleaseBuffers();
  });
}

// ---- Unsharp masks -----------------------------------------------------------

void OpSharpen::RunUnsharpMask(const uint8_t* in, int inStride, uint8_t* out, int outStride) {
  if (alpha_ == 0.0f) {
    CopyImage(in, inStride, out, outStride, width_, height_, 3);
    return;
  }
  detail::GuardForeign("OpSharpen::RunUnsharpMask(unsharp mask)", [&] {
    AllocateBuffersUCharPlanar();
    AllocateBuffersUCharC1();
    uint8_t* const planes[3] = {planes_[0].get(), planes_[1].get(), planes_[2].get()};
    const IppiSize roi{width_, height_};
    detail::CheckStatus(ippiRGBToYUV_8u_C3P3R(in, inStride, planes, planeStep_, roi),
                        "OpSharpen::RunUnsharpMask(ippiRGBToYUV_8u_C3P3R)");
    std::memset(workC1_[0].get(), 0, workC1Bytes_);
    std::memset(workC1_[1].get(), 0, workC1Bytes_);
    for (int y = 0; y < height_; ++y) {
      std::memcpy(workC1Origin_[0] + static_cast<std::ptrdiff_t>(y) * workC1Step_,
                  planes[0] + static_cast<std::ptrdiff_t>(y) * planeStep_, width_);
    }
    for (int pass = 0; pass < 3; ++pass) {
      detail::CheckStatus(ippiFilterGauss_8u_C1R(workC1Origin_[0], workC1Step_, workC1Origin_[1],
                                                 workC1Step_, roi, ippMskSize5x5),
                          "OpSharpen::RunUnsharpMask(ippiFilterGauss_8u_C1R)");
      std::memcpy(workC1_[0].get(), workC1_[1].get(), workC1Bytes_);
    }
    const float onePlusAlpha = 1.0f + alpha_;
    for (int y = 2; y < height_ - 2; ++y) {
      uint8_t* yRow = planes[0] + static_cast<std::ptrdiff_t>(y) * planeStep_;
      const uint8_t* g = workC1Origin_[0] + static_cast<std::ptrdiff_t>(y) * workC1Step_;
      for (int x = 2; x < width_ - 2; ++x) {
        const float v =
            onePlusAlpha * static_cast<float>(yRow[x]) - alpha_ * static_cast<float>(g[x]);
        yRow[x] = static_cast<uint8_t>(RoundClamp(v, 255.0f));
      }
    }
    detail::CheckStatus(ippiYUVToRGB_8u_P3C3R(planes, planeStep_, out, outStride, roi),
                        "OpSharpen::RunUnsharpMask(ippiYUVToRGB_8u_P3C3R)");
    ReleaseBuffers();
  });
}

void OpSharpen::RunUnsharpMaskHybrid(const uint8_t* in, int inStride, uint8_t* out, int outStride) {
  if (amount_ == 0.0f) {
    CopyImage(in, inStride, out, outStride, width_, height_, 3);
    return;
  }
  constexpr const char* kWhere = "OpSharpen::RunUnsharpMaskHybrid";
  detail::GuardForeign("OpSharpen::RunUnsharpMaskHybrid(unsharp mask)", [&] {
    AllocateBuffersUCharPlanar();
    // The sharpened luminance gets its own plane: bands on other threads
    // still read the luminance rows around their own.
    auto sharpened =
        kelvo::memory::AllocateArray<uint8_t>(static_cast<std::size_t>(planeStep_) * height_);
    if (!sharpened) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    uint8_t* const planes[3] = {planes_[0].get(), planes_[1].get(), planes_[2].get()};
    const IppiSize roi{width_, height_};
    detail::CheckStatus(ippiRGBToYUV_8u_C3P3R(in, inStride, planes, planeStep_, roi),
                        "OpSharpen::RunUnsharpMaskHybrid(ippiRGBToYUV_8u_C3P3R)");
    detail::HybridLuminanceParams params;
    if (applyHighPass_) {
      if (lumKernel_.empty() || lumKernelWidth_ < 1 || lumKernelHeight_ < 1) {
        // No usable kernel: the convolution refuses it as it always has.
        OpConvolve highPass;
        highPass.ExecuteC1(planes[0], planeStep_, planes[0], planeStep_, width_, height_,
                           lumKernel_.data(), lumKernelWidth_, lumKernelHeight_);
      }
      params.highPass = lumKernel_.data();
      params.highPassWidth = lumKernelWidth_;
      params.highPassHeight = lumKernelHeight_;
    }
    params.blur = gaussian_->GetKernel();
    params.blurSize = gaussian_->GetKernelSize();
    params.halfSize = halfSize_;
    params.threshold = threshold_;
    params.amount = amount_;
    detail::SharpenLuminance8(planes[0], planeStep_, sharpened.get(), planeStep_, width_, height_,
                              params, kWhere);
    const Ipp8u* const result[3] = {sharpened.get(), planes[1], planes[2]};
    detail::CheckStatus(ippiYUVToRGB_8u_P3C3R(result, planeStep_, out, outStride, roi),
                        "OpSharpen::RunUnsharpMaskHybrid(ippiYUVToRGB_8u_P3C3R)");
    ReleaseBuffers();
  });
}

void OpSharpen::RunUnsharpMaskHybrid(const uint16_t* in, int inStride, uint16_t* out, int outStride,
                                     const float* thresholdTable, const float* amountMap,
                                     int amountMapStride) {
  const bool weighted = thresholdTable != nullptr;
  if (!weighted && amount_ == 0.0f) {
    CopyImage(in, inStride, out, outStride, width_, height_, 3);
    return;
  }
  detail::GuardForeign("OpSharpen::RunUnsharpMaskHybrid(unsharp mask)", [&] {
    const std::size_t plane = static_cast<std::size_t>(width_) * height_;
    kelvo::memory::BlockArray<uint16_t> ycc = kelvo::memory::AllocateArray<uint16_t>(3 * plane);
    kelvo::memory::BlockArray<uint16_t> blur = kelvo::memory::AllocateArray<uint16_t>(plane);
    kelvo::memory::BlockArray<uint8_t> mask = kelvo::memory::AllocateArray<uint8_t>(plane);
    kelvo::memory::BlockArray<uint8_t> cleaned;
    if (weighted) cleaned = kelvo::memory::AllocateArray<uint8_t>(plane);
    if (!ycc || !blur || !mask || (weighted && !cleaned)) {
      throw IPException(ErrorCode::kAllocationFailed, "OpSharpen::RunUnsharpMaskHybrid");
    }
    const int planeStride = width_ * 2;
    toYCbCr_->ConvertUShort(height_, in, inStride, ycc.get(), planeStride, width_, true);
    uint16_t* lum = ycc.get();
    if (applyHighPass_) {
      OpConvolve highPass;
      highPass.ExecuteC1(lum, planeStride, lum, planeStride, width_, height_, lumKernel_.data(),
                         lumKernelWidth_, lumKernelHeight_);
    }
    detail::BuildHybridMask(lum, planeStride, width_, height_, halfSize_, threshold_,
                            thresholdTable, mask.get());
    const uint8_t* useMask = mask.get();
    if (weighted) {
      IntelFilters::FilterMedianC1(mask.get(), width_, cleaned.get(), width_, width_, height_, 3);
      useMask = cleaned.get();
    }
    const int k = gaussian_->GetKernelSize();
    gaussian_->GetConvolve()->ExecuteC1(lum, planeStride, blur.get(), planeStride, width_, height_,
                                        gaussian_->GetKernel(), k, k);
    for (int y = 0; y < height_; ++y) {
      uint16_t* yRow = lum + static_cast<std::size_t>(y) * width_;
      const uint8_t* m = useMask + static_cast<std::size_t>(y) * width_;
      const uint16_t* b = blur.get() + static_cast<std::size_t>(y) * width_;
      if (!weighted) {
        detail::ApplyUnsharpRow(yRow, b, m, static_cast<std::size_t>(width_), 1.0f + amount_,
                                amount_, 65535.0f);
        continue;
      }
      const float* amounts = RowAt(amountMap, amountMapStride, y);
      for (int x = 0; x < width_; ++x) {
        if (m[x] == 0) continue;
        const float a = amounts[x];
        const float v = (1.0f + a) * static_cast<float>(yRow[x]) - a * static_cast<float>(b[x]);
        yRow[x] = static_cast<uint16_t>(RoundClamp(v, 65535.0f));
      }
    }
    toRgb_->ConvertUShort(height_, ycc.get(), planeStride, out, outStride, width_, true);
  });
}

void OpSharpen::RunUnsharpMaskHybridC3(const uint16_t* in, int inStride, uint16_t* out,
                                       int outStride) {
  if (amount_ == 0.0f) {
    CopyImage(in, inStride, out, outStride, width_, height_, 3);
    return;
  }
  // Foreign exceptions here are labelled like the other
  // unsharp masks.
  detail::GuardForeign("OpSharpen::RunUnsharpMaskHybridC3(unsharp mask)", [&] {
    const std::size_t plane = static_cast<std::size_t>(width_) * height_;
    kelvo::memory::BlockArray<uint16_t> work = kelvo::memory::AllocateArray<uint16_t>(3 * plane);
    kelvo::memory::BlockArray<uint16_t> lum = kelvo::memory::AllocateArray<uint16_t>(plane);
    kelvo::memory::BlockArray<uint8_t> mask = kelvo::memory::AllocateArray<uint8_t>(plane);
    if (!work || !lum || !mask)
      throw IPException(ErrorCode::kAllocationFailed, "OpSharpen::RunUnsharpMaskHybridC3");
    const int workStride = width_ * 6;
    CopyImage(in, inStride, work.get(), workStride, width_, height_, 3);
    if (applyHighPass_) {
      OpConvolve highPass;
      highPass.ExecuteC3(work.get(), workStride, work.get(), workStride, width_, height_,
                         rgbKernel_.data(), rgbKernelWidth_, rgbKernelHeight_);
    }
    for (std::size_t i = 0; i < plane; ++i) {
      const uint16_t* p = work.get() + 3 * i;
      lum[i] = static_cast<uint16_t>((p[0] + 2 * p[1] + p[2]) / 4);
    }
    detail::BuildHybridMask(lum.get(), width_ * 2, width_, height_, halfSize_, threshold_, nullptr,
                            mask.get());
    CopyImage(static_cast<const uint16_t*>(work.get()), workStride, out, outStride, width_, height_,
              3);
    const int k = gaussian_->GetKernelSize();
    gaussian_->GetConvolve()->ExecuteC3(work.get(), workStride, work.get(), workStride, width_,
                                        height_, gaussian_->GetKernelC3(), k, k);
    const float onePlusA = 1.0f + amount_;
    for (int y = 0; y < height_; ++y) {
      uint16_t* o = RowAt(out, outStride, y);
      const uint16_t* w = work.get() + static_cast<std::size_t>(y) * width_ * 3;
      const uint8_t* m = mask.get() + static_cast<std::size_t>(y) * width_;
      for (int x = 0; x < width_; ++x) {
        if (m[x] == 0) continue;
        for (int c = 3 * x; c < 3 * x + 3; ++c) {
          const float v = onePlusA * static_cast<float>(o[c]) - amount_ * static_cast<float>(w[c]);
          o[c] = static_cast<uint16_t>(RoundClamp(v, 4095.0f));
        }
      }
    }
  });
}

void OpSharpen::RunHighPassLum(const uint16_t* in, int inStride, uint16_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunHighPassLum(highpass filter)", [&] {
    const std::size_t plane = static_cast<std::size_t>(width_) * height_;
    kelvo::memory::BlockArray<uint16_t> ycc = kelvo::memory::AllocateArray<uint16_t>(3 * plane);
    if (!ycc) throw IPException(ErrorCode::kAllocationFailed, "OpSharpen::RunHighPassLum");
    const int planeStride = width_ * 2;
    toYCbCr_->ConvertUShort(height_, in, inStride, ycc.get(), planeStride, width_, true);
    OpConvolve highPass;
    highPass.ExecuteC1(ycc.get(), planeStride, ycc.get(), planeStride, width_, height_,
                       lumKernel_.data(), lumKernelWidth_, lumKernelHeight_);
    toRgb_->ConvertUShort(height_, ycc.get(), planeStride, out, outStride, width_, true);
  });
}

void OpSharpen::RunHighPassRGB(const uint16_t* in, int inStride, uint16_t* out, int outStride) {
  detail::GuardForeign("OpSharpen::RunHighPassRGB(highpass filter)", [&] {
    OpConvolve highPass;
    highPass.ExecuteC3(in, inStride, out, outStride, width_, height_, rgbKernel_.data(),
                       rgbKernelWidth_, rgbKernelHeight_);
  });
}

}  // namespace KelvoLibImageProcessing
