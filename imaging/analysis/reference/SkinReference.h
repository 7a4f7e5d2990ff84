#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::reference {

// The skin mask of SkinMap::FindSkinMap written as plain per-pixel loops:
// luminance candidates, the colour gate and the image's colour cast, then
// the ratio rules pixel by pixel. mask receives width * height bytes (255
// skin, 0 not); returns the number of skin pixels.
// The ratio rules for one pixel that passed the colour gate (the first rule,
// R - G > G - B, included).
bool PassesSkinTestReference(int b, int g, int r, float castLimit);

int FindSkinMapReference(const uint8_t* pixels, int stride, int width, int height,
                         float meanLuminance, float lumFactor, float lumLow, float lumHigh,
                         uint8_t* mask);

}  // namespace KelvoLibImageProcessing::reference
