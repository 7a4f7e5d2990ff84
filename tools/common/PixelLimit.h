#pragma once

// The --max-pixels option of the tools. An image's buffers are sized by its
// header, and a small file can declare an enormous picture (a 105 KB JPEG
// claiming 16384 x 16384 pixels would take gigabytes and seconds to decode
// and enhance), so the tools refuse anything above a limit before decoding.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace kelvo::tools {

// 100 megapixels: well above any camera or video frame the enhancement is
// meant for, well below what exhausts a desktop's memory.
inline constexpr int64_t kDefaultMaxPixels = 100'000'000;

// A positive whole number of pixels, digits only. False on anything else.
inline bool ParsePixelLimit(const std::string& text, int64_t* limit) {
  if (text.empty() || text.size() > 18) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < 1) return false;
  *limit = value;
  return true;
}

// True when a width x height picture is within the limit.
inline bool WithinPixelLimit(int64_t width, int64_t height, int64_t limit) {
  return width >= 0 && height >= 0 && width * height <= limit;
}

// "is 16384 x 16384 pixels (268435456), more than the limit of 100000000
// (--max-pixels)".
inline std::string PixelLimitReason(int64_t width, int64_t height, int64_t limit) {
  return "is " + std::to_string(width) + " x " + std::to_string(height) + " pixels (" +
         std::to_string(width * height) + "), more than the limit of " + std::to_string(limit) +
         " (--max-pixels)";
}

}  // namespace kelvo::tools
