#include "imaging/core/detail/FileReading.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <limits>

namespace KelvoLibImageProcessing::detail {

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

bool MakeBmpHeaders(int width, int height, int stride, uint8_t (&headers)[kBmpHeadersSize]) {
  const uint64_t pixelBytes = static_cast<uint64_t>(height) * static_cast<uint64_t>(stride);
  if (pixelBytes + kBmpHeadersSize > std::numeric_limits<uint32_t>::max()) return false;
  std::memset(headers, 0, sizeof headers);
  headers[0] = 'B';
  headers[1] = 'M';
  PutU32(headers + 2, static_cast<uint32_t>(pixelBytes + kBmpHeadersSize));
  PutU32(headers + 10, kBmpHeadersSize);
  PutU32(headers + 14, kBmpInfoHeaderSize);
  PutU32(headers + 18, static_cast<uint32_t>(width));
  PutU32(headers + 22, static_cast<uint32_t>(-height));  // negative: top row first
  PutU16(headers + 26, 1);
  PutU16(headers + 28, 24);
  PutU32(headers + 34, static_cast<uint32_t>(pixelBytes));
  // Compression, resolutions and colour counts stay 0.
  return true;
}

}  // namespace KelvoLibImageProcessing::detail
