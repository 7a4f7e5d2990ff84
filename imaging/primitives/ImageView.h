#pragma once

// Rows of an image whose rows lie a number of bytes apart. Every layer of
// the library addresses rows this one way: the primitives, the block
// buffers, the operations and the pipeline.

#include <cstddef>
#include <type_traits>

namespace KelvoLibImageProcessing {

// Row y of the image starting at base, its rows strideBytes apart. The
// stride is in bytes, as every stride of the library is, so it may hold row
// padding that is not a whole number of samples.
template <class T>
inline T* RowAt(T* base, std::ptrdiff_t strideBytes, std::ptrdiff_t y) noexcept {
  using Byte = std::conditional_t<std::is_const_v<T>, const unsigned char, unsigned char>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(base) + strideBytes * y);
}

// A view of interleaved samples of type T: height rows of width pixels of
// channels samples, rows strideBytes apart. It owns nothing.
template <class T>
class ImageView {
 public:
  ImageView() = default;
  ImageView(T* data, int width, int height, int channels, std::ptrdiff_t strideBytes) noexcept
      : data_(data), width_(width), height_(height), channels_(channels),
        strideBytes_(strideBytes) {}

  T* Row(int y) const noexcept { return RowAt(data_, strideBytes_, y); }
  T* Data() const noexcept { return data_; }
  int Width() const noexcept { return width_; }
  int Height() const noexcept { return height_; }
  int Channels() const noexcept { return channels_; }
  std::ptrdiff_t StrideBytes() const noexcept { return strideBytes_; }
  // Samples in a row: width times channels.
  std::size_t RowSamples() const noexcept {
    return static_cast<std::size_t>(width_) * static_cast<std::size_t>(channels_);
  }

  operator ImageView<const T>() const noexcept {
    return ImageView<const T>(data_, width_, height_, channels_, strideBytes_);
  }

 private:
  T* data_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int channels_ = 0;
  std::ptrdiff_t strideBytes_ = 0;
};

}  // namespace KelvoLibImageProcessing
