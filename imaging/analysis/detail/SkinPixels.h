#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The per-pixel work of the skin map, one row at a time, dispatched to the
// SIMD target that start-up chose. Every target gives exactly the bytes and
// sums of the plain per-pixel rules (reference::FindSkinMapReference).

// Colour totals of the pixels that pass the colour gate (R > 30, 4G >= R,
// 4B >= R).
struct SkinGateSums {
  uint64_t b = 0, g = 0, r = 0, count = 0;
};

// For the first `width` B, G, R pixels of `pixels`: lum[x] = (B + 2G + R) >> 2;
// mask[x] = 255 when the pixel passes the colour gate, has a luminance of at
// least minLum (0..256), G <= 240, B <= 230, and passes the ratio rules'
// tests that need no division (R - G > G - B, G < R, B < R, 3G >= R,
// 3B >= R, 4B >= 3G, 40G < 39R, 40B < 39R, and not both 5B >= 4R and
// 20G >= T R with T = 16, 17, 18, 19 for R up to 200, 220, 250, 255), else
// 0. The gated pixels' colours are added to sums.
void SkinGateRow(const uint8_t* pixels, int width, int minLum, uint8_t* lum, uint8_t* mask,
                 SkinGateSums& sums);

// The ratio rules for every pixel whose mask byte is non-zero; a pixel that
// fails them is cleared. Returns the number of pixels left set. castLimit is
// at most 0.975, as the gate's tests assume.
int SkinTestRow(const uint8_t* pixels, int width, float castLimit, uint8_t* mask);

}  // namespace KelvoLibImageProcessing::detail
