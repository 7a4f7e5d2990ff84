#include "imaging/analysis/reference/SkinReference.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::reference {

// All constants are floats except the two double ones (0.7 and 0.4), as the
// rules were tuned.
bool PassesSkinTestReference(int b, int g, int r, float castLimit) {
  if (!(r - g > g - b)) return false;
  const float rf = static_cast<float>(r);
  const float gr = static_cast<float>(g) / rf;
  const float br = static_cast<float>(b) / rf;
  const float bg = static_cast<float>(b) / static_cast<float>(g);
  const float lim = (g >= 200 && b >= 200) ? 0.875f : castLimit;
  if (!(gr < lim && br < lim)) return false;
  if (!(gr >= 0.35f && br >= 0.35f)) return false;
  if (!(bg >= 0.75f && bg <= 1.3f)) return false;
  if (!(r >= 200 || bg - br < 0.5f)) return false;
  if (r > 250 && gr < 0.7 && br < 0.6f) return false;
  if (r > 210 && gr < 0.4 && br < 0.4f) return false;
  if (r > 50 && r < 90 && gr >= 0.7 && gr < 0.8f && br >= 0.7f && br < 0.8f && bg > 0.9f &&
      bg < 1.02f) {
    return false;
  }
  if (r >= 75 && r < 90 && gr > 0.75f && gr < 0.85f && bg >= 0.8f && bg <= 0.95f) return false;
  if (r >= 90 && r < 120 && gr >= 0.8f && gr < 0.9f && bg >= 0.8f && bg <= 0.95f) return false;
  if (r >= 40 && r <= 74 && gr > 0.75f && gr < 0.85f && bg >= 0.75f && bg <= 0.95f) return false;
  if (gr >= 0.8f) {
    return br < 0.8f || (r > 250 && gr < 0.95f && br < 0.9f) ||
           (r > 220 && gr < 0.9f && br < 0.85f) || (r > 200 && gr < 0.85f && br < 0.85f);
  }
  return true;
}

int FindSkinMapReference(const uint8_t* pixels, int stride, int width, int height,
                         float meanLuminance, float lumFactor, float lumLow, float lumHigh,
                         uint8_t* mask) {
  // Luminance candidates: L >= t for an integer L is L >= ceil(t).
  float threshold = meanLuminance * lumFactor;
  threshold = std::min(std::max(threshold, lumLow), lumHigh);
  int minLum = 0;
  if (meanLuminance > 0) {
    minLum = std::isnan(threshold) ? 256
                                   : static_cast<int>(std::min(std::ceil(threshold), 256.0f));
  }

  // The colour gate: g / r >= 0.25f and b / r >= 0.25f as floats are exactly
  // 4g >= r and 4b >= r for 8-bit samples.
  uint64_t sumB = 0, sumG = 0, sumR = 0;
  uint64_t passCount = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = RowAt(pixels, stride, y);
    uint8_t* m = mask + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x, p += 3) {
      const int b = p[0], g = p[1], r = p[2];
      const bool gate = r > 30 && 4 * g >= r && 4 * b >= r;
      if (gate) {
        sumB += b;
        sumG += g;
        sumR += r;
        ++passCount;
      }
      const int lum = (b + 2 * g + r) >> 2;
      m[x] = gate && lum >= minLum && g <= 240 && b <= 230 ? 255 : 0;
    }
  }

  float castLimit = 0.975f;
  if (passCount > 0) {
    const double n = static_cast<double>(passCount);
    const float meanB = static_cast<float>(static_cast<double>(sumB) / n);
    const float meanG = static_cast<float>(static_cast<double>(sumG) / n);
    const float meanR = static_cast<float>(static_cast<double>(sumR) / n);
    const float ratioG = meanG / meanR;
    const float ratioB = meanB / meanR;
    float c = -1.0f;
    if (ratioG < 1.0f) c = ratioG;
    if (ratioB < 1.0f) c = std::max(c, ratioB);
    if (c < 0.0f) c = 0.975f;
    castLimit = std::min(std::max(c, 0.9f), 0.975f);
  }

  int count = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = RowAt(pixels, stride, y);
    uint8_t* m = mask + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x, p += 3) {
      if (m[x] == 0) continue;
      if (PassesSkinTestReference(p[0], p[1], p[2], castLimit)) {
        ++count;
      } else {
        m[x] = 0;
      }
    }
  }
  return count;
}

}  // namespace KelvoLibImageProcessing::reference
