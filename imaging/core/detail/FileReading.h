#pragma once

// What the image file routines share: reading files that cannot block,
// little-endian fields of file headers, and the headers of the BMP files
// they write.

#include <cstdint>
#include <cstdio>
#include <memory>

namespace KelvoLibImageProcessing::detail {

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading; null when it cannot be. Only regular files are
// read: a named pipe or a device would block the caller or never end. The
// file is opened without blocking and checked before any byte is read, so a
// pipe that appears under the name between a check and the open cannot
// block either.
FileHandle OpenForReading(const char* fileName);

inline uint32_t GetU16(const uint8_t* at) {
  return at[0] | (uint32_t{at[1]} << 8);
}
inline uint32_t GetU32(const uint8_t* at) {
  return GetU16(at) | (GetU16(at + 2) << 16);
}
inline int32_t GetS32(const uint8_t* at) {
  return static_cast<int32_t>(GetU32(at));
}

inline void PutU16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
inline void PutU32(uint8_t* at, uint32_t value) {
  PutU16(at, value);
  PutU16(at + 2, value >> 16);
}

inline constexpr int kBmpFileHeaderSize = 14;
inline constexpr int kBmpInfoHeaderSize = 40;
inline constexpr int kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;

// The headers of a 24-bit BMP whose height rows of `stride` bytes follow
// top row first (a negative height says so). False when the file would not
// fit the format's 32-bit size fields.
bool MakeBmpHeaders(int width, int height, int stride, uint8_t (&headers)[kBmpHeadersSize]);

}  // namespace KelvoLibImageProcessing::detail
