#include "imaging/core/BitmapData.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "imaging/core/IPException.h"
#include "imaging/core/detail/AlignedBuffer.h"
#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

namespace detail {

uint8_t* AllocatePixels(std::size_t bytes) noexcept {
  // Never a zero-sized request, so a valid image always gets a real buffer.
  return static_cast<uint8_t*>(kelvo::memory::AllocateBlock(bytes == 0 ? 1 : bytes));
}

void FreePixels(uint8_t* pixels) noexcept {
  kelvo::memory::FreeBlock(pixels);
}

}  // namespace detail

namespace {

struct PixelsDeleter {
  void operator()(uint8_t* pixels) const noexcept { detail::FreePixels(pixels); }
};

}  // namespace

int BytesPerPixel(int format) noexcept {
  switch (format) {
    case kFormatGray8: return 1;
    case kFormatGray16: return 2;
    case kFormatBGR8: return 3;
    case kFormatBGR16: return 6;
    default: return 0;
  }
}

BitmapData::BitmapData(int width, int height) {
  // 3 * width in 64 bits: a width beyond a third of INT_MAX gets the largest
  // stride, which the stride check then refuses, instead of overflowing.
  const int64_t stride = std::min<int64_t>(int64_t{3} * width, std::numeric_limits<int>::max());
  Initialize(width, height, kFormatBGR8, nullptr, static_cast<int>(stride), false);
}

BitmapData::BitmapData(int width, int height, int format, const void* source, int stride) {
  Initialize(width, height, format, source, stride, false);
}

BitmapData::BitmapData(const char* fileName) : format_(-1) { Load(fileName); }

BitmapData::BitmapData(const char* fileName, int fileType) : format_(-1) {
  Load(fileName, fileType);
}

BitmapData::BitmapData(BitmapData&& other) noexcept
    : width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)),
      stride_(std::exchange(other.stride_, 0)),
      format_(other.format_),
      data_(std::exchange(other.data_, nullptr)) {}

BitmapData& BitmapData::operator=(BitmapData&& other) noexcept {
  if (this != &other) {
    Release();
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    stride_ = std::exchange(other.stride_, 0);
    format_ = other.format_;
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

void BitmapData::Initialize(int width, int height, int format, const void* source, int stride,
                            bool reverseRows) {
  constexpr const char* kWhere = "BitmapData::Initialize";
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);

  // Once the dimensions pass, the new shape is stored before the remaining
  // checks, so a later failure leaves it in the container.
  // The old buffer is freed on the way out, not here: the source may lie in
  // it (re-initialising an image from its own pixels, say to flip it).
  const std::unique_ptr<uint8_t, PixelsDeleter> oldPixels(std::exchange(data_, nullptr));
  width_ = width;
  height_ = height;
  stride_ = stride;
  format_ = format;

  const int bpp = BytesPerPixel(format);
  if (bpp == 0) throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  if (static_cast<int64_t>(stride) < static_cast<int64_t>(width) * bpp) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }

  const std::size_t rowBytes = static_cast<std::size_t>(stride);
  const std::size_t total = rowBytes * static_cast<std::size_t>(height);
  data_ = detail::AllocatePixels(total);
  if (data_ == nullptr) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  if (source == nullptr) return;
  const auto* src = static_cast<const uint8_t*>(source);
  if (!reverseRows) {
    std::memcpy(data_, src, total);
    return;
  }
  for (int i = 0; i < height; ++i) {
    std::memcpy(data_ + static_cast<std::size_t>(i) * rowBytes,
                src + static_cast<std::size_t>(height - 1 - i) * rowBytes, rowBytes);
  }
}

void BitmapData::Release() noexcept {
  width_ = 0;
  height_ = 0;
  stride_ = 0;
  detail::FreePixels(data_);
  data_ = nullptr;
}

void BitmapData::FillWhite() noexcept {
  if (data_ != nullptr) {
    std::memset(data_, 255, static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_));
  }
}

void BitmapData::FillBlack() noexcept {
  if (data_ != nullptr) {
    std::memset(data_, 0, static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_));
  }
}

int BitmapData::GetNumChannels() const noexcept {
  switch (format_) {
    case kFormatGray8:
    case kFormatGray16: return 1;
    case kFormatBGR8:
    case kFormatBGR16: return 3;
    default: return 0;
  }
}

int BitmapData::GetBytesPerChannel() const noexcept {
  switch (format_) {
    case kFormatGray8:
    case kFormatBGR8: return 1;
    case kFormatGray16:
    case kFormatBGR16: return 2;
    default: return 0;
  }
}

}  // namespace KelvoLibImageProcessing
