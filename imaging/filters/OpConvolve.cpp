#include "imaging/filters/OpConvolve.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/AlignedBuffer.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing {
namespace {

bool ValidSide(int size) {
  return size >= 64 && size % 4 == 0;
}

// Releases every work buffer of the convolution when the scope ends, on
// success and on every failure path.
class ReleaseOnExit {
 public:
  explicit ReleaseOnExit(OpConvolve& op) : op_(op) {}
  ~ReleaseOnExit() { op_.ReleaseBuffers(); }
  ReleaseOnExit(const ReleaseOnExit&) = delete;
  ReleaseOnExit& operator=(const ReleaseOnExit&) = delete;

 private:
  OpConvolve& op_;
};

// Checks of the raw forms, in their order.
template <typename T, typename K>
void CheckRaw(const T* src, int srcStride, const T* dst, int dstStride, int width, int height,
              int channels, const K* kernel, int kernelWidth, int kernelHeight, const char* where,
              const char* kernelWhere) {
  if (src == nullptr || dst == nullptr) throw IPException(ErrorCode::kNullData, where);
  const long long minimum =
      static_cast<long long>(width) * channels * static_cast<long long>(sizeof(T));
  if (srcStride < minimum || dstStride < minimum)
    throw IPException(ErrorCode::kInvalidStride, where);
  if (!ValidSide(width) || !ValidSide(height))
    throw IPException(ErrorCode::kInvalidDimensions, where);
  if (kernel == nullptr || kernelWidth < 1 || kernelHeight < 1) {
    throw IPException(ErrorCode::kInvalidInput, kernelWhere);
  }
}

// Copies the border frame (top and bottom hh rows, left and right hw
// columns between them) from src to dst; nothing when they are the same.
template <typename T>
void CopyFrame(const T* src, int srcStride, T* dst, int dstStride, int width, int height,
               int channels, int hw, int hh) {
  if (src == dst && srcStride == dstStride) return;
  const std::size_t rowSamples = static_cast<std::size_t>(width) * channels;
  const std::size_t sideSamples = static_cast<std::size_t>(std::min(hw, width)) * channels;
  for (int y = 0; y < height; ++y) {
    const T* s = RowAt(src, srcStride, y);
    T* d = RowAt(dst, dstStride, y);
    if (y < hh || y >= height - hh) {
      std::memcpy(d, s, rowSamples * sizeof(T));
    } else {
      std::memcpy(d, s, sideSamples * sizeof(T));
      std::memcpy(d + rowSamples - sideSamples, s + rowSamples - sideSamples,
                  sideSamples * sizeof(T));
    }
  }
}

IppStatus ConvFull(const uint8_t* src, int srcStep, IppiSize srcSize, const uint8_t* kernel,
                   int kernelStep, IppiSize kernelSize, uint8_t* dst, int dstStep, int channels) {
  return channels == 1 ? ippiConvFull_8u_C1R(src, srcStep, srcSize, kernel, kernelStep, kernelSize,
                                             dst, dstStep, 1)
                       : ippiConvFull_8u_C3R(src, srcStep, srcSize, kernel, kernelStep, kernelSize,
                                             dst, dstStep, 1);
}

IppStatus ConvFull(const uint16_t* src, int srcStep, IppiSize srcSize, const int16_t* kernel,
                   int kernelStep, IppiSize kernelSize, uint16_t* dst, int dstStep, int channels) {
  const auto* s = reinterpret_cast<const Ipp16s*>(src);
  auto* d = reinterpret_cast<Ipp16s*>(dst);
  return channels == 1 ? ippiConvFull_16s_C1R(s, srcStep, srcSize, kernel, kernelStep, kernelSize,
                                              d, dstStep, 1)
                       : ippiConvFull_16s_C3R(s, srcStep, srcSize, kernel, kernelStep, kernelSize,
                                              d, dstStep, 1);
}

}  // namespace

void OpConvolve::ReleaseBuffers() noexcept {
  bufferFloat_.reset();
  bufferUChar_.reset();
  bufferUShort_.reset();
}

void OpConvolve::SetGeometry(int channels, int width, int height, int kernelWidth, int kernelHeight,
                             int bytesPerSample) {
  fullWidth_ = width + kernelWidth - 1;
  fullHeight_ = height + kernelHeight - 1;
  fullStride_ = fullWidth_ * channels * bytesPerSample;
}

// Samples of the full result: its rows are fullStride_ bytes.
std::size_t OpConvolve::FullSamples(int bytesPerSample) const noexcept {
  return static_cast<std::size_t>(fullStride_) / static_cast<std::size_t>(bytesPerSample) *
         static_cast<std::size_t>(fullHeight_);
}

void OpConvolve::AllocateBufferFloat(int channels, int width, int height, int kernelWidth,
                                     int kernelHeight) {
  bufferFloat_.reset();
  SetGeometry(channels, width, height, kernelWidth, kernelHeight, 4);
  bufferFloat_ = kelvo::memory::AllocateArray<float>(FullSamples(4));
  if (!bufferFloat_)
    throw IPException(ErrorCode::kAllocationFailed, "OpConvolve::AllocateBufferFloat");
}

void OpConvolve::AllocateBufferUChar(int channels, int width, int height, int kernelWidth,
                                     int kernelHeight) {
  bufferUChar_.reset();
  SetGeometry(channels, width, height, kernelWidth, kernelHeight, 1);
  bufferUChar_ = kelvo::memory::AllocateArray<uint8_t>(FullSamples(1));
  if (!bufferUChar_)
    throw IPException(ErrorCode::kAllocationFailed, "OpConvolve::AllocateBufferUChar");
}

void OpConvolve::AllocateBufferUShort(int channels, int width, int height, int kernelWidth,
                                      int kernelHeight) {
  bufferUShort_.reset();
  SetGeometry(channels, width, height, kernelWidth, kernelHeight, 2);
  bufferUShort_ = kelvo::memory::AllocateArray<uint16_t>(FullSamples(2));
  if (!bufferUShort_)
    throw IPException(ErrorCode::kAllocationFailed, "OpConvolve::AllocateBufferUShort");
}

// ---- Bitmap entries ------------------------------------------------------

namespace {

void CheckBitmaps(const BitmapData* input, const BitmapData* output) {
  detail::CheckImages("OpConvolve::Execute", {input, output}, {.validSide = ValidSide});
}

const uint16_t* Words(const BitmapData* b) {
  return reinterpret_cast<const uint16_t*>(b->GetData());
}
uint16_t* Words(BitmapData* b) {
  return reinterpret_cast<uint16_t*>(b->GetData());
}

}  // namespace

void OpConvolve::Execute(const BitmapData* input, BitmapData* output, const float* kernel,
                         int kernelWidth, int kernelHeight) {
  CheckBitmaps(input, output);
  const int w = input->GetWidth(), h = input->GetHeight();
  const int si = input->GetStride(), so = output->GetStride();
  switch (input->GetFormat()) {
    case kFormatGray8:
      return ExecuteC1(input->GetData(), si, output->GetData(), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    case kFormatGray16:
      return ExecuteC1(Words(input), si, Words(output), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    case kFormatBGR8:
      return ExecuteC3(input->GetData(), si, output->GetData(), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    case kFormatBGR16:
      return ExecuteC3(Words(input), si, Words(output), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    default:
      throw IPException(ErrorCode::kUnsupportedFormat, "OpConvolve::Execute");
  }
}

void OpConvolve::Execute(const BitmapData* input, BitmapData* output, const uint8_t* kernel,
                         int kernelWidth, int kernelHeight) {
  CheckBitmaps(input, output);
  const int w = input->GetWidth(), h = input->GetHeight();
  const int si = input->GetStride(), so = output->GetStride();
  switch (input->GetFormat()) {
    case kFormatGray8:
      return ExecuteC1(input->GetData(), si, output->GetData(), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    case kFormatBGR8:
      return ExecuteC3(input->GetData(), si, output->GetData(), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    default:
      throw IPException(ErrorCode::kUnsupportedFormat, "OpConvolve::Execute");
  }
}

void OpConvolve::Execute(const BitmapData* input, BitmapData* output, const int16_t* kernel,
                         int kernelWidth, int kernelHeight) {
  CheckBitmaps(input, output);
  const int w = input->GetWidth(), h = input->GetHeight();
  const int si = input->GetStride(), so = output->GetStride();
  switch (input->GetFormat()) {
    case kFormatGray16:
      return ExecuteC1(Words(input), si, Words(output), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    case kFormatBGR16:
      return ExecuteC3(Words(input), si, Words(output), so, w, h, kernel, kernelWidth,
                       kernelHeight);
    default:
      throw IPException(ErrorCode::kUnsupportedFormat, "OpConvolve::Execute");
  }
}

// ---- Float-kernel runs ---------------------------------------------------

template <typename T>
void OpConvolve::RunFloat(const T* src, int srcStride, T* dst, int dstStride, int width, int height,
                          int channels, const float* kernel, int kernelWidth, int kernelHeight,
                          const char* where) {
  const int hw = kernelWidth / 2;
  const int hh = kernelHeight / 2;
  const std::size_t rowSamples = static_cast<std::size_t>(width) * channels;
  kelvo::memory::BlockArray<float> image = kelvo::memory::AllocateArray<float>(rowSamples * height);
  if (!image) throw IPException(ErrorCode::kAllocationFailed, where);
  for (int y = 0; y < height; ++y) {
    const T* s = RowAt(src, srcStride, y);
    float* f = image.get() + rowSamples * y;
    detail::WidenToFloat(s, f, rowSamples);
  }
  const int floatStride = static_cast<int>(rowSamples * sizeof(float));
  // Interior only: above the maximum gives the maximum, below 0 gives 0,
  // otherwise v + 0.5 truncated. 16-bit samples hold 12-bit data.
  const float maximum = sizeof(T) == 1 ? 255.0f : 4095.0f;
  const int firstX = hw * channels;
  const int lastX = (width - hw) * channels;  // exclusive
  ReleaseOnExit release(*this);
  if (channels == 1 || (kernelWidth <= 9 && kernelHeight <= 9)) {
    // One primitive call: the interior is converted straight from the full
    // result, the same values the crop would copy over the float image.
    ConvolveFull(image.get(), floatStride, width, height, channels, kernel, kernelWidth,
                 kernelHeight);
    for (int y = hh; y < height - hh && firstX < lastX; ++y) {
      const float* f = FullRow(y, channels, kernelWidth, kernelHeight);
      T* d = RowAt(dst, dstStride, y);
      detail::NarrowRound(f + firstX, d + firstX, static_cast<std::size_t>(lastX - firstX),
                          maximum);
    }
    ReleaseBuffers();
  } else {
    ConvolveFloatC3(image.get(), floatStride, width, height, kernel, kernelWidth, kernelHeight);
    for (int y = hh; y < height - hh && firstX < lastX; ++y) {
      const float* f = image.get() + rowSamples * y;
      T* d = RowAt(dst, dstStride, y);
      detail::NarrowRound(f + firstX, d + firstX, static_cast<std::size_t>(lastX - firstX),
                          maximum);
    }
  }
  image.reset();
  CopyFrame(src, srcStride, dst, dstStride, width, height, channels, hw, hh);
}

void OpConvolve::ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                           int width, int height, const float* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1", "OpConvolve::ExecuteC1(kernel)");
  RunFloat(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1");
}

void OpConvolve::ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                           int width, int height, const float* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1", "OpConvolve::ExecuteC1(kernel)");
  RunFloat(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1");
}

void OpConvolve::ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                           int width, int height, const float* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3", "OpConvolve::ExecuteC3(kernel)");
  RunFloat(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3");
}

void OpConvolve::ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                           int width, int height, const float* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3", "OpConvolve::ExecuteC3(kernel)");
  RunFloat(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3");
}

void OpConvolve::ConvolveFull(const float* image, int stride, int width, int height, int channels,
                              const float* kernel, int kernelWidth, int kernelHeight) {
  const char* where = channels == 1 ? "OpConvolve::ConvolveFloatC1(ippiConvFull_32f_C1R)"
                                    : "OpConvolve::ConvolveFloatC3(ippiConvFull_32f_C3R)";
  AllocateBufferFloat(channels, width, height, kernelWidth, kernelHeight);
  detail::GuardForeign(where, [&] {
    const IppiSize size{width, height};
    const IppiSize kernelSize{kernelWidth, kernelHeight};
    const int kernelStep = kernelWidth * channels * 4;
    detail::CheckStatus(channels == 1
                            ? ippiConvFull_32f_C1R(image, stride, size, kernel, kernelStep,
                                                   kernelSize, bufferFloat_.get(), fullStride_)
                            : ippiConvFull_32f_C3R(image, stride, size, kernel, kernelStep,
                                                   kernelSize, bufferFloat_.get(), fullStride_),
                        where);
  });
}

const float* OpConvolve::FullRow(int y, int channels, int kernelWidth, int kernelHeight) const {
  return RowAt(static_cast<const float*>(bufferFloat_.get()), fullStride_, y + kernelHeight / 2) +
         (kernelWidth / 2) * channels;
}

void OpConvolve::ConvolveFloatC1(float* image, int stride, int width, int height,
                                 const float* kernel, int kernelWidth, int kernelHeight) {
  // Absent buffers are reported (code 5) before any work.
  if (image == nullptr || kernel == nullptr)
    throw IPException(ErrorCode::kNullData, "OpConvolve::ConvolveFloatC1");
  ReleaseOnExit release(*this);
  ConvolveFull(image, stride, width, height, 1, kernel, kernelWidth, kernelHeight);
  for (int y = 0; y < height; ++y) {
    std::memcpy(RowAt(image, stride, y), FullRow(y, 1, kernelWidth, kernelHeight),
                static_cast<std::size_t>(width) * sizeof(float));
  }
}

void OpConvolve::ConvolveFloatC3(float* image, int stride, int width, int height,
                                 const float* kernel, int kernelWidth, int kernelHeight) {
  if (image == nullptr || kernel == nullptr)
    throw IPException(ErrorCode::kNullData, "OpConvolve::ConvolveFloatC3");
  ReleaseOnExit release(*this);
  if (kernelWidth <= 9 && kernelHeight <= 9) {
    ConvolveFull(image, stride, width, height, 3, kernel, kernelWidth, kernelHeight);
    for (int y = 0; y < height; ++y) {
      std::memcpy(RowAt(image, stride, y), FullRow(y, 3, kernelWidth, kernelHeight),
                  static_cast<std::size_t>(width) * 3 * sizeof(float));
    }
    return;
  }

  // Large kernels: plane by plane with the single-channel primitive.
  const std::size_t plane = static_cast<std::size_t>(width) * height;
  const std::size_t kernelPlane = static_cast<std::size_t>(kernelWidth) * kernelHeight;
  kelvo::memory::BlockArray<float> planes = kelvo::memory::AllocateArray<float>(3 * plane);
  kelvo::memory::BlockArray<float> kernels = kelvo::memory::AllocateArray<float>(3 * kernelPlane);
  if (!planes || !kernels)
    throw IPException(ErrorCode::kAllocationFailed, "OpConvolve::ConvolveFloatC3");
  for (std::size_t k = 0; k < kernelPlane; ++k) {
    for (int c = 0; c < 3; ++c) kernels[c * kernelPlane + k] = kernel[3 * k + c];
  }
  for (int y = 0; y < height; ++y) {
    const float* row = RowAt(image, stride, y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c)
        planes[c * plane + static_cast<std::size_t>(y) * width + x] = row[3 * x + c];
    }
  }
  for (int c = 0; c < 3; ++c) {
    ConvolveFloatC1(planes.get() + c * plane, width * 4, width, height,
                    kernels.get() + c * kernelPlane, kernelWidth, kernelHeight);
  }
  for (int y = 0; y < height; ++y) {
    float* row = RowAt(image, stride, y);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c)
        row[3 * x + c] = planes[c * plane + static_cast<std::size_t>(y) * width + x];
    }
  }
}

// ---- Integer-kernel runs -------------------------------------------------

template <typename T, typename K>
void OpConvolve::RunInteger(const T* src, int srcStride, T* dst, int dstStride, int width,
                            int height, int channels, const K* kernel, int kernelWidth,
                            int kernelHeight, const char* primitiveWhere) {
  ReleaseOnExit release(*this);
  T* full = nullptr;
  if constexpr (sizeof(T) == 1) {
    AllocateBufferUChar(channels, width, height, kernelWidth, kernelHeight);
    full = bufferUChar_.get();
  } else {
    AllocateBufferUShort(channels, width, height, kernelWidth, kernelHeight);
    full = bufferUShort_.get();
  }
  detail::GuardForeign(primitiveWhere, [&] {
    detail::CheckStatus(ConvFull(src, srcStride, IppiSize{width, height}, kernel,
                                 kernelWidth * channels * static_cast<int>(sizeof(K)),
                                 IppiSize{kernelWidth, kernelHeight}, full, fullStride_, channels),
                        primitiveWhere);
  });
  // The interior takes the full result with the same geometry as the float
  // runs: destination (x, y) from full (x + hw, y + hh), so the kernel is
  // centred on the pixel.
  const int hw = kernelWidth / 2, hh = kernelHeight / 2;
  const int firstX = hw * channels;
  const int lastX = (width - hw) * channels;
  for (int y = hh; y < height - hh; ++y) {
    const T* f = RowAt(static_cast<const T*>(full), fullStride_, y + hh) + hw * channels;
    T* d = RowAt(dst, dstStride, y);
    // The 16-bit forms hand the destination the primitive's saturated signed
    // words unchanged: a caller of a signed kernel reads them as signed, so
    // a response of -100 is the word 65436, not a clamp to 0.
    for (int i = firstX; i < lastX; ++i) d[i] = f[i];
  }
  CopyFrame(src, srcStride, dst, dstStride, width, height, channels, hw, hh);
}

void OpConvolve::ExecuteC1(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                           int width, int height, const uint8_t* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1", "OpConvolve::ExecuteC1(kernel)");
  RunInteger(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
             "OpConvolve::ExecuteC1(ippiConvFull_8u_C1R)");
}

void OpConvolve::ExecuteC3(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                           int width, int height, const uint8_t* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3", "OpConvolve::ExecuteC3(kernel)");
  RunInteger(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
             "OpConvolve::ExecuteC3(ippiConvFull_8u_C3R)");
}

void OpConvolve::ExecuteC1(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                           int width, int height, const int16_t* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC1", "OpConvolve::ExecuteC1(kernel)");
  RunInteger(src, srcStride, dst, dstStride, width, height, 1, kernel, kernelWidth, kernelHeight,
             "OpConvolve::ExecuteC1(ippiConvFull_16s_C1R)");
}

void OpConvolve::ExecuteC3(const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                           int width, int height, const int16_t* kernel, int kernelWidth,
                           int kernelHeight) {
  CheckRaw(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
           "OpConvolve::ExecuteC3", "OpConvolve::ExecuteC3(kernel)");
  RunInteger(src, srcStride, dst, dstStride, width, height, 3, kernel, kernelWidth, kernelHeight,
             "OpConvolve::ExecuteC3(ippiConvFull_16s_C3R)");
}

}  // namespace KelvoLibImageProcessing
