// The skin map's row kernels compiled for every SIMD target; start-up's
// choice of target is honoured through HWY_DYNAMIC_DISPATCH.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/SkinPixels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "imaging/analysis/detail/skin_pixels-inl.h"

#if HWY_ONCE
#include <cstring>

#include "imaging/analysis/detail/SkinPixels.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(SkinGateRowImpl);

void SkinGateRow(const uint8_t* pixels, int width, int minLum, uint8_t* lum, uint8_t* mask,
                 SkinGateSums& sums) {
  HWY_DYNAMIC_DISPATCH(SkinGateRowImpl)(pixels, width, minLum, lum, mask, sums);
}

int SkinResolveRow(const uint8_t* pixels, int width, float castLimit, uint8_t* mask) {
  // Marks are rare: eight mask bytes are searched at once. The low bit of
  // each byte that is 1 (not 0, not 255) survives the test below.
  constexpr uint64_t kLowBits = 0x0101010101010101ULL;
  int kept = 0;
  for (int x = 0; x < width; x += 8) {
    const int n = width - x < 8 ? width - x : 8;
    if (n == 8) {
      uint64_t eight;
      std::memcpy(&eight, mask + x, 8);
      if ((eight & ~(eight >> 1) & kLowBits) == 0) continue;
    }
    for (int i = x; i < x + n; ++i) {
      if (mask[i] != 1) continue;
      const uint8_t* p = pixels + 3 * static_cast<std::size_t>(i);
      const float r = static_cast<float>(p[2]);
      const bool skin = static_cast<float>(p[1]) / r < castLimit &&
                        static_cast<float>(p[0]) / r < castLimit;
      mask[i] = skin ? 255 : 0;
      kept += skin ? 1 : 0;
    }
  }
  return kept;
}

}  // namespace KelvoLibImageProcessing::detail
#endif
