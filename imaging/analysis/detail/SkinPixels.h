#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The per-pixel work of the skin map, one row at a time, dispatched to the
// SIMD target that start-up chose. Every target gives exactly the bytes and
// sums of the plain per-pixel rules (reference::FindSkinMapReference).

// Colour totals of the pixels that pass the colour gate (R > 30, 4G >= R,
// 4B >= R), and how many pixels the row kernel marked skin (255) and
// undecided (1).
struct SkinGateSums {
  uint64_t b = 0, g = 0, r = 0, count = 0;
  uint64_t skin = 0, undecided = 0;
};

// For the first `width` B, G, R pixels of `pixels`: lum[x] = (B + 2G + R) >> 2,
// and the skin test up to the image's cast limit: mask[x] = 255 when the
// pixel passes the colour gate, has a luminance of at least minLum (0..256),
// G <= 240, B <= 230 and passes every ratio rule for any cast limit in
// [0.9f, 0.975f]; 1 when it passes them only for a cast limit above
// max(G / R, B / R) (G or B below 200, that maximum in [0.9f, 0.975f));
// else 0. The gated pixels' colours and the marks are added to sums.
void SkinGateRow(const uint8_t* pixels, int width, int minLum, uint8_t* lum, uint8_t* mask,
                 SkinGateSums& sums);

// Settles the pixels SkinGateRow marked 1 once the cast limit is known:
// 255 when G / R and B / R (floats) are both below castLimit, else 0.
// Other mask bytes are left as they are. Returns the number set to 255.
int SkinResolveRow(const uint8_t* pixels, int width, float castLimit, uint8_t* mask);

}  // namespace KelvoLibImageProcessing::detail
