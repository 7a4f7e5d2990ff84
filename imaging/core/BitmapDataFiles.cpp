// BMP and JPEG files of BitmapData (pixel format 2 only).
//
// Where the file formats leave room:
//  - A failed load leaves the container exactly as it was: the file is
//    decoded into a new buffer, which replaces the old one only once the
//    whole image has been read. LoadJpgInto (JpegInto.h) is the exception
//    by design: it decodes into the caller's image, whose shape a failure
//    keeps but whose pixels it may have partly written.
//  - BMP files are checked before anything is allocated, and rejected with
//      code 0  width below 1 or above kMaxBmpSide, height 0 or its magnitude
//              above kMaxBmpSide;
//      code 20 an image-size field that is not a whole number of rows of at
//              least 3 * width bytes, or a pixel offset beyond the file's end;
//      code 21 a file shorter than its headers or its pixel data;
//    so a BMP can never make the loader allocate more than the file holds.
//  - Saves go through SafeFileWriter: the file is written beside the target
//    and renamed over it when complete, so a failed save leaves the target
//    as it was and nothing half-written behind. A target that cannot be
//    created, or that exists and is not a regular file (a folder, a pipe, a
//    device), throws code 18; a write that fails (disk full, size limit, I/O
//    error on close) throws code 22.
//  - Only regular files are loaded: a named pipe or a device cannot be
//    opened (code 18), so a load never blocks waiting for a writer.
//  - A null file name cannot be opened (code 18); Load(nullptr) has no
//    extension (code 17).
//  - An image whose BMP size fields (32-bit) cannot hold it is not written:
//    code 0 from SaveBmp, before the file is opened.
//  - libjpeg's fatal errors (not a JPEG, a corrupt header, a failed write)
//    never end the process: they become code 21 with "BitmapData::LoadJpg"
//    or code 22 with "BitmapData::SaveJpg", what those routines' guards
//    report for any failure that is not already an IPException.
//  - JPEG files with corrupt or truncated entropy-coded data fail with code
//    21 rather than decoding to a partly grey picture; images of more than
//    kMaxJpegPixels pixels are refused with code 0.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/JpegInto.h"
#include "imaging/core/SafeFile.h"
#include "imaging/core/detail/AlignedBuffer.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/core/detail/FileReading.h"
#include "imaging/core/detail/JpegCodec.h"

namespace KelvoLibImageProcessing {

namespace {

using detail::FileHandle;
using detail::GetS32;
using detail::GetU16;
using detail::GetU32;
using detail::OpenForReading;

constexpr const char* kWhereSave = "BitmapData::Save";
constexpr const char* kWhereSaveBmp = "BitmapData::SaveBmp";
constexpr const char* kWhereSaveJpg = "BitmapData::SaveJpg";
constexpr const char* kWhereLoad = "BitmapData::Load";
constexpr const char* kWhereLoadBmp = "BitmapData::LoadBmp";
constexpr const char* kWhereLoadJpg = "BitmapData::LoadJpg";
constexpr const char* kWhereJpegSave = "BitmapData::jpeg_save_image";
constexpr const char* kWhereJpegLoad = "BitmapData::jpeg_load_image";
constexpr const char* kWhereLoadInto = "LoadJpgInto";

constexpr int kJpegQuality = 95;
using detail::kBmpFileHeaderSize;
using detail::kBmpHeadersSize;
using detail::kBmpInfoHeaderSize;

// Largest BMP width or height the loader accepts. Well beyond any picture
// this library handles, and small enough that width * height * 3 cannot
// overflow 64-bit arithmetic nor a row of 3 * width bytes an int.
constexpr int64_t kMaxBmpSide = 32768;

struct PixelsDeleter {
  void operator()(uint8_t* pixels) const noexcept { detail::FreePixels(pixels); }
};
using PixelHandle = std::unique_ptr<uint8_t, PixelsDeleter>;

// Bytes from the start of the file to its end; -1 when the file cannot be
// measured (a pipe, say), which the loader treats as a read failure.
int64_t FileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(file);
  if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return length;
}

// Opens the temporary that a save writes; code 18 when it cannot be made.
void OpenForSave(kelvo::io::SafeFileWriter* writer, const char* fileName, const char* where) {
  if (fileName == nullptr || !writer->Open(fileName))
    throw IPException(ErrorCode::kFileOpenFailed, where);
}

// Compresses packed rows (stride 3 * width) into fileName.
void jpeg_save_image(int width, const char* fileName, const uint8_t* pixels, int height) {
  kelvo::io::SafeFileWriter writer;
  OpenForSave(&writer, fileName, kWhereJpegSave);
  const detail::JpegStatus status =
      detail::JpegCompressBgr(writer.File(), pixels, width, height, kJpegQuality);
  if (status != detail::JpegStatus::kOk || !writer.Commit())
    throw IPException(ErrorCode::kFileWriteFailed, kWhereSaveJpg);
}

// Throws the IPException for a decoder status other than kOk.
void ThrowJpegLoadFailure(detail::JpegStatus status) {
  switch (status) {
    case detail::JpegStatus::kOk:
      return;
    case detail::JpegStatus::kNotThreeComponents:
      throw IPException(ErrorCode::kUnsupportedFormat, kWhereJpegLoad);
    case detail::JpegStatus::kTooLarge:
      throw IPException(ErrorCode::kInvalidDimensions, kWhereJpegLoad);
    case detail::JpegStatus::kAllocFailed:
      throw IPException(ErrorCode::kAllocationFailed, kWhereJpegLoad);
    case detail::JpegStatus::kOtherSize:
      throw IPException(ErrorCode::kMismatchedDimensions, kWhereLoadInto);
    case detail::JpegStatus::kCodecFailed:
      break;
  }
  throw IPException(ErrorCode::kFileReadFailed, kWhereLoadJpg);
}

detail::JpegImage jpeg_load_image(const char* fileName) {
  const FileHandle file = OpenForReading(fileName);
  if (!file) throw IPException(ErrorCode::kFileOpenFailed, kWhereJpegLoad);
  detail::JpegImage image;
  ThrowJpegLoadFailure(detail::JpegDecompressBgr(file.get(), &image));
  return image;
}

}  // namespace

void BitmapData::Save(const char* fileName, int fileType) const {
  if (format_ != kFormatBGR8) throw IPException(ErrorCode::kUnsupportedFormat, kWhereSave);
  switch (fileType) {
    case kFileBmp:
      SaveBmp(fileName);
      return;
    case kFileJpg:
      SaveJpg(fileName);
      return;
    default:
      throw IPException(ErrorCode::kInvalidFileFormat, kWhereSave);
  }
}

void BitmapData::SaveBmp(const char* fileName) const {
  if (format_ != kFormatBGR8) throw IPException(ErrorCode::kUnsupportedFormat, kWhereSave);
  detail::GuardForeign(ErrorCode::kFileWriteFailed, kWhereSaveBmp, [&] {
    // Format 2 without pixels is what a failed Initialize leaves behind.
    if (data_ == nullptr) throw IPException(ErrorCode::kNullData, kWhereSaveBmp);
    uint8_t headers[kBmpHeadersSize];
    if (!detail::MakeBmpHeaders(width_, height_, stride_, headers)) {
      throw IPException(ErrorCode::kInvalidDimensions, kWhereSaveBmp);
    }
    const uint64_t pixelBytes = static_cast<uint64_t>(height_) * static_cast<uint64_t>(stride_);

    kelvo::io::SafeFileWriter writer;
    OpenForSave(&writer, fileName, kWhereSaveBmp);
    const bool written = std::fwrite(headers, 1, sizeof headers, writer.File()) == sizeof headers &&
                         std::fwrite(data_, 1, pixelBytes, writer.File()) == pixelBytes;
    if (!written || !writer.Commit()) throw IPException(ErrorCode::kFileWriteFailed, kWhereSaveBmp);
  });
}

void BitmapData::SaveJpg(const char* fileName) const {
  if (format_ != kFormatBGR8) throw IPException(ErrorCode::kUnsupportedFormat, kWhereSave);
  detail::GuardForeign(ErrorCode::kFileWriteFailed, kWhereSaveJpg, [&] {
    if (data_ == nullptr) throw IPException(ErrorCode::kNullData, kWhereSaveJpg);
    const std::size_t packedRow = static_cast<std::size_t>(width_) * 3;
    if (static_cast<std::size_t>(stride_) == packedRow) {
      jpeg_save_image(width_, fileName, data_, height_);
      return;
    }
    PixelHandle packed(detail::AllocatePixels(packedRow * static_cast<std::size_t>(height_)));
    if (!packed) throw IPException(ErrorCode::kAllocationFailed, kWhereSaveJpg);
    for (int y = 0; y < height_; ++y) {
      std::memcpy(packed.get() + static_cast<std::size_t>(y) * packedRow,
                  data_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_),
                  packedRow);
    }
    jpeg_save_image(width_, fileName, packed.get(), height_);
  });
}

void BitmapData::Load(const char* fileName) {
  const char* dot = fileName == nullptr ? nullptr : std::strrchr(fileName, '.');
  if (dot == nullptr) throw IPException(ErrorCode::kInvalidFileFormat, kWhereLoad);
  // The extension is the text after the last dot, compared exactly (case
  // matters). Comparing in place needs no copy and so cannot fail.
  const char* extension = dot + 1;
  if (std::strcmp(extension, "jpg") == 0) {
    LoadJpg(fileName);
  } else if (std::strcmp(extension, "bmp") == 0) {
    LoadBmp(fileName);
  } else {
    throw IPException(ErrorCode::kInvalidFileFormat, kWhereLoad);
  }
}

void BitmapData::Load(const char* fileName, int fileType) {
  switch (fileType) {
    case kFileBmp:
      LoadBmp(fileName);
      return;
    case kFileJpg:
      LoadJpg(fileName);
      return;
    default:
      throw IPException(ErrorCode::kInvalidFileFormat, kWhereLoad);
  }
}

void BitmapData::LoadBmp(const char* fileName) {
  detail::GuardForeign(ErrorCode::kFileReadFailed, kWhereLoadBmp, [&] {
    FileHandle file = OpenForReading(fileName);
    if (!file) throw IPException(ErrorCode::kFileOpenFailed, kWhereLoadBmp);
    const int64_t fileLength = FileLength(file.get());
    if (fileLength < 0) throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);

    uint8_t headers[kBmpHeadersSize] = {};
    const std::size_t fileHeaderRead = std::fread(headers, 1, kBmpFileHeaderSize, file.get());
    if (fileHeaderRead < 2 || headers[0] != 'B' || headers[1] != 'M') {
      throw IPException(ErrorCode::kInvalidFileFormat, kWhereLoadBmp);
    }
    if (fileHeaderRead != kBmpFileHeaderSize ||
        std::fread(headers + kBmpFileHeaderSize, 1, kBmpInfoHeaderSize, file.get()) !=
            kBmpInfoHeaderSize) {
      throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);
    }
    if (GetU16(headers + 28) != 24 || GetU32(headers + 30) != 0) {
      throw IPException(ErrorCode::kUnsupportedFormat, kWhereLoadBmp);
    }

    const int64_t width = GetS32(headers + 18);
    const int64_t signedHeight = GetS32(headers + 22);
    const int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
    if (width < 1 || width > kMaxBmpSide || height < 1 || height > kMaxBmpSide) {
      throw IPException(ErrorCode::kInvalidDimensions, kWhereLoadBmp);
    }
    const uint32_t sizeField = GetU32(headers + 34);
    const int64_t size = sizeField != 0 ? int64_t{sizeField} : width * height * 3;
    const int64_t stride = size / height;
    if (stride * height != size || stride < width * 3 || stride > std::numeric_limits<int>::max()) {
      throw IPException(ErrorCode::kInvalidFile, kWhereLoadBmp);
    }
    const int64_t offset = GetU32(headers + 10);
    if (offset > fileLength) throw IPException(ErrorCode::kInvalidFile, kWhereLoadBmp);
    if (fileLength - offset < size) throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);

    if (std::fseek(file.get(), static_cast<long>(offset), SEEK_SET) != 0) {
      throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);
    }
    PixelHandle pixels(detail::AllocatePixels(static_cast<std::size_t>(size)));
    if (!pixels) throw IPException(ErrorCode::kAllocationFailed, kWhereLoadBmp);
    const std::size_t rowBytes = static_cast<std::size_t>(stride);
    if (signedHeight > 0) {
      // Bottom-up file: its first row is the bottom of the picture.
      for (int64_t y = height - 1; y >= 0; --y) {
        uint8_t* row = pixels.get() + static_cast<std::size_t>(y) * rowBytes;
        if (std::fread(row, 1, rowBytes, file.get()) != rowBytes) {
          throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);
        }
      }
    } else if (std::fread(pixels.get(), 1, static_cast<std::size_t>(size), file.get()) !=
               static_cast<std::size_t>(size)) {
      throw IPException(ErrorCode::kFileReadFailed, kWhereLoadBmp);
    }

    detail::FreePixels(data_);
    data_ = pixels.release();
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    stride_ = static_cast<int>(stride);
    format_ = kFormatBGR8;
  });
}

void BitmapData::LoadJpg(const char* fileName) {
  detail::GuardForeign(ErrorCode::kFileReadFailed, kWhereLoadJpg, [&] {
    const detail::JpegImage image = jpeg_load_image(fileName);
    detail::FreePixels(data_);
    data_ = image.pixels;
    width_ = image.width;
    height_ = image.height;
    stride_ = 3 * image.width;
    format_ = kFormatBGR8;
  });
}

int64_t MaxJpegPixels() noexcept {
  return detail::kMaxJpegPixels;
}

void LoadJpgInto(const char* fileName, BitmapData& image) {
  if (image.GetData() == nullptr) throw IPException(ErrorCode::kNullData, kWhereLoadInto);
  if (image.GetFormat() != kFormatBGR8)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhereLoadInto);
  if (static_cast<int64_t>(image.GetStride()) != int64_t{3} * image.GetWidth())
    throw IPException(ErrorCode::kInvalidStride, kWhereLoadInto);
  detail::GuardForeign(ErrorCode::kFileReadFailed, kWhereLoadJpg, [&] {
    const FileHandle file = OpenForReading(fileName);
    if (!file) throw IPException(ErrorCode::kFileOpenFailed, kWhereJpegLoad);
    ThrowJpegLoadFailure(detail::JpegDecompressBgrInto(file.get(), image.GetData(),
                                                       image.GetWidth(), image.GetHeight()));
  });
}

}  // namespace KelvoLibImageProcessing
