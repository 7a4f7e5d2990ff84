#pragma once

#include <cstdint>

#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing {

// Pixel formats of BitmapData.
enum PixelFormat : int {
  kFormatGray8 = 0,   // one 8-bit channel
  kFormatGray16 = 1,  // one 16-bit channel
  kFormatBGR8 = 2,    // 8-bit blue, green, red
  kFormatBGR16 = 3,   // 16-bit blue, green, red (12-bit samples)
};

// File types of Save and Load.
enum FileType : int { kFileBmp = 0, kFileJpg = 1 };

// A rectangle of interleaved samples in one owned buffer. Row 0 is the top of
// the picture; row r starts r * stride bytes into the buffer. The buffer is
// aligned to 32 bytes.
//
// Every failure throws IPException with the where-string of the method.
class BitmapData {
 public:
  // All fields zero, no buffer.
  BitmapData() noexcept = default;
  // Format 2, stride 3 * width, contents undefined.
  BitmapData(int width, int height);
  // Copies height * stride bytes from source (when not null).
  BitmapData(int width, int height, int format, const void* source, int stride);
  // Format -1, then Load(fileName) or Load(fileName, fileType).
  explicit BitmapData(const char* fileName);
  BitmapData(const char* fileName, int fileType);

  ~BitmapData() { Release(); }

  BitmapData(const BitmapData&) = delete;
  BitmapData& operator=(const BitmapData&) = delete;
  BitmapData(BitmapData&& other) noexcept;
  BitmapData& operator=(BitmapData&& other) noexcept;

  // Checks dimensions (code 0), format (code 2) and stride (code 6), in this
  // order; width, height, stride and format are stored once the dimensions
  // pass. Then allocates height * stride bytes (code 12) and fills them from
  // source when given, reversing the row order when reverseRows is set.
  void Initialize(int width, int height, int format, const void* source, int stride,
                  bool reverseRows = false);

  // Width, height and stride become 0 and the buffer is freed.
  void Release() noexcept;

  void FillWhite() noexcept;
  void FillBlack() noexcept;

  int GetNumChannels() const noexcept;
  int GetBytesPerChannel() const noexcept;

  int GetWidth() const noexcept { return width_; }
  int GetHeight() const noexcept { return height_; }
  int GetStride() const noexcept { return stride_; }
  int GetFormat() const noexcept { return format_; }
  uint8_t* GetData() noexcept { return data_; }
  const uint8_t* GetData() const noexcept { return data_; }
  // The pixels as rows of samples of type T (uint8_t for the 8-bit formats,
  // uint16_t for the 16-bit ones); the caller picks T by the format.
  template <class T>
  ImageView<T> View() noexcept {
    return ImageView<T>(reinterpret_cast<T*>(data_), width_, height_, GetNumChannels(), stride_);
  }
  template <class T>
  ImageView<const T> View() const noexcept {
    return ImageView<const T>(reinterpret_cast<const T*>(data_), width_, height_, GetNumChannels(),
                              stride_);
  }

  // Image files: BMP (24-bit) and JPEG, pixel format 2 only.
  void Save(const char* fileName, int fileType) const;
  void SaveBmp(const char* fileName) const;
  void SaveJpg(const char* fileName) const;
  void Load(const char* fileName);
  void Load(const char* fileName, int fileType);
  void LoadBmp(const char* fileName);
  void LoadJpg(const char* fileName);

 private:
  friend class BitmapFileAccess;  // file routines adopt decoded buffers

  int width_ = 0;
  int height_ = 0;
  int stride_ = 0;
  int format_ = 0;
  uint8_t* data_ = nullptr;
};

// Bytes per pixel of a format: 1, 2, 3 or 6; 0 for an unknown format.
int BytesPerPixel(int format) noexcept;

}  // namespace KelvoLibImageProcessing
