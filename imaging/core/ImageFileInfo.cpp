#include "imaging/core/ImageFileInfo.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/JpegCodec.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kWhere = "ImageFileInfo::ReadImageSize";
constexpr int kBmpFileHeaderSize = 14;
constexpr int kBmpInfoHeaderSize = 40;

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Regular files only, opened without blocking and checked before a byte is
// read, as the loaders do: a named pipe would block until a writer came.
FileHandle OpenForReading(const char* fileName) {
  if (fileName == nullptr) return nullptr;
#ifdef _WIN32
  return FileHandle(std::fopen(fileName, "rb"));
#else
  const int fd = ::open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return FileHandle(file);
#endif
}

uint32_t GetU16(const uint8_t* at) { return at[0] | (uint32_t{at[1]} << 8); }
uint32_t GetU32(const uint8_t* at) { return GetU16(at) | (GetU16(at + 2) << 16); }

void ReadBmpSize(std::FILE* file, int* width, int* height) {
  uint8_t headers[kBmpFileHeaderSize + kBmpInfoHeaderSize] = {};
  const std::size_t fileHeaderRead = std::fread(headers, 1, kBmpFileHeaderSize, file);
  if (fileHeaderRead < 2 || headers[0] != 'B' || headers[1] != 'M') throw IPException(17, kWhere);
  if (fileHeaderRead != kBmpFileHeaderSize ||
      std::fread(headers + kBmpFileHeaderSize, 1, kBmpInfoHeaderSize, file) != kBmpInfoHeaderSize) {
    throw IPException(21, kWhere);
  }
  if (GetU16(headers + 28) != 24 || GetU32(headers + 30) != 0) throw IPException(2, kWhere);
  const int64_t w = static_cast<int32_t>(GetU32(headers + 18));
  const int64_t signedHeight = static_cast<int32_t>(GetU32(headers + 22));
  // A negative height marks a top-down file; its magnitude is the height.
  const int64_t h = signedHeight < 0 ? -signedHeight : signedHeight;
  if (w < 1 || h < 1 || h > std::numeric_limits<int>::max()) throw IPException(0, kWhere);
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
}

}  // namespace

void ReadImageSize(const char* fileName, int fileType, int* width, int* height) {
  if (fileType != kFileBmp && fileType != kFileJpg) throw IPException(17, kWhere);
  FileHandle file = OpenForReading(fileName);
  if (!file) throw IPException(18, kWhere);
  if (fileType == kFileBmp) {
    ReadBmpSize(file.get(), width, height);
    return;
  }
  if (detail::JpegReadSize(file.get(), width, height) != detail::JpegStatus::kOk) {
    throw IPException(21, kWhere);
  }
}

}  // namespace KelvoLibImageProcessing
