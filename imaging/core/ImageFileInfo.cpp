#include "imaging/core/ImageFileInfo.h"

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/FileReading.h"
#include "imaging/core/detail/JpegCodec.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kWhere = "ImageFileInfo::ReadImageSize";
using detail::kBmpFileHeaderSize;
using detail::kBmpInfoHeaderSize;

using detail::FileHandle;
using detail::GetU16;
using detail::GetU32;
using detail::OpenForReading;

void ReadBmpSize(std::FILE* file, int* width, int* height) {
  uint8_t headers[kBmpFileHeaderSize + kBmpInfoHeaderSize] = {};
  const std::size_t fileHeaderRead = std::fread(headers, 1, kBmpFileHeaderSize, file);
  if (fileHeaderRead < 2 || headers[0] != 'B' || headers[1] != 'M')
    throw IPException(ErrorCode::kInvalidFileFormat, kWhere);
  if (fileHeaderRead != kBmpFileHeaderSize ||
      std::fread(headers + kBmpFileHeaderSize, 1, kBmpInfoHeaderSize, file) != kBmpInfoHeaderSize) {
    throw IPException(ErrorCode::kFileReadFailed, kWhere);
  }
  if (GetU16(headers + 28) != 24 || GetU32(headers + 30) != 0)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  const int64_t w = static_cast<int32_t>(GetU32(headers + 18));
  const int64_t signedHeight = static_cast<int32_t>(GetU32(headers + 22));
  // A negative height marks a top-down file; its magnitude is the height.
  const int64_t h = signedHeight < 0 ? -signedHeight : signedHeight;
  if (w < 1 || h < 1 || h > std::numeric_limits<int>::max())
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
}

}  // namespace

void ReadImageSize(const char* fileName, int fileType, int* width, int* height) {
  if (fileType != kFileBmp && fileType != kFileJpg)
    throw IPException(ErrorCode::kInvalidFileFormat, kWhere);
  FileHandle file = OpenForReading(fileName);
  if (!file) throw IPException(ErrorCode::kFileOpenFailed, kWhere);
  if (fileType == kFileBmp) {
    ReadBmpSize(file.get(), width, height);
    return;
  }
  if (detail::JpegReadSize(file.get(), width, height) != detail::JpegStatus::kOk) {
    throw IPException(ErrorCode::kFileReadFailed, kWhere);
  }
}

}  // namespace KelvoLibImageProcessing
