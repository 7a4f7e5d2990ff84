#include <bit>
#include <cstdint>
#include <cstring>

#include "imaging/analysis/reference/RegionsReference.h"

namespace KelvoLibImageProcessing::reference {
namespace {

// High bit of each byte of w set where that byte is non-zero.
inline uint64_t NonZeroBytes(uint64_t w) noexcept {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return (((w & kLow7) + kLow7) | w) & ~kLow7;
}

}  // namespace

int RunEndBytesReference(const uint8_t* row, int x, int width, bool maskCompare) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 8 <= width; x += 8) {
      uint64_t here, left;
      std::memcpy(&here, row + x, 8);
      std::memcpy(&left, row + x - 1, 8);
      const uint64_t differ = maskCompare ? NonZeroBytes(here) ^ NonZeroBytes(left) : here ^ left;
      if (differ != 0) return x + std::countr_zero(differ) / 8;
    }
  }
  for (; x < width; ++x) {
    if (maskCompare ? ((row[x] == 0) != (row[x - 1] == 0)) : (row[x] != row[x - 1])) return x;
  }
  return width;
}

}  // namespace KelvoLibImageProcessing::reference
