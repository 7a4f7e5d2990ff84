#pragma once

// Plain loops of the 8-bit hybrid unsharp mask's luminance work, written
// straight from its description over whole planes: high-pass convolution
// (interior only, the frame kept), local-mean contrast mask with windows
// clipped at the edges, Gaussian blur (interior only, the frame equal to its
// input) and the masked unsharp step. Never dispatched; tests compare the
// streamed, vectorised form in imaging/filters/detail/HybridLuminance.h
// against it.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace KelvoLibImageProcessing::reference {

// Round-clamp of a float result to 0..255.
inline uint8_t RoundClamp255(float v) {
  if (v > 255.0f) return 255;
  if (v < 0.0f) return 0;
  return static_cast<uint8_t>(static_cast<int>(v + 0.5f));
}

// Interior of the convolution of a width x height plane; the frame of
// kernelWidth / 2 columns and kernelHeight / 2 rows keeps the input.
inline std::vector<uint8_t> ConvolveInterior(const std::vector<uint8_t>& in, int width, int height,
                                             const float* kernel, int kernelWidth,
                                             int kernelHeight) {
  std::vector<uint8_t> out = in;
  const int hw = kernelWidth / 2, hh = kernelHeight / 2;
  for (int y = hh; y < height - hh; ++y) {
    for (int x = hw; x < width - hw; ++x) {
      float sum = 0.0f;
      for (int ky = 0; ky < kernelHeight; ++ky) {
        for (int kx = 0; kx < kernelWidth; ++kx) {
          const float sample =
              static_cast<float>(in[static_cast<std::size_t>(y + hh - ky) * width + x + hw - kx]);
          const float term = sample * kernel[ky * kernelWidth + kx];
          sum = sum + term;
        }
      }
      out[static_cast<std::size_t>(y) * width + x] = RoundClamp255(sum);
    }
  }
  return out;
}

// `lum` becomes the high-pass result (when highPass is given); returns the
// sharpened luminance.
inline std::vector<uint8_t> SharpenLuminance8(std::vector<uint8_t>& lum, int width, int height,
                                              const float* highPass, int highPassWidth,
                                              int highPassHeight, const float* blur, int blurSize,
                                              int halfSize, float threshold, float amount) {
  if (highPass != nullptr) {
    lum = ConvolveInterior(lum, width, height, highPass, highPassWidth, highPassHeight);
  }
  const std::vector<uint8_t> blurred =
      ConvolveInterior(lum, width, height, blur, blurSize, blurSize);
  std::vector<uint8_t> out = lum;
  const float onePlusA = 1.0f + amount;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int x0 = std::max(x - halfSize, 0), x1 = std::min(x + halfSize, width - 1);
      const int y0 = std::max(y - halfSize, 0), y1 = std::min(y + halfSize, height - 1);
      double sum = 0.0;
      for (int wy = y0; wy <= y1; ++wy) {
        for (int wx = x0; wx <= x1; ++wx) sum += lum[static_cast<std::size_t>(wy) * width + wx];
      }
      const double count = static_cast<double>((x1 - x0 + 1) * (y1 - y0 + 1));
      const double mean = sum / count;
      const std::size_t i = static_cast<std::size_t>(y) * width + x;
      const float d = static_cast<float>(static_cast<double>(lum[i]) - mean);
      if (d < -threshold || d > threshold) {
        out[i] = RoundClamp255(onePlusA * static_cast<float>(lum[i]) -
                               amount * static_cast<float>(blurred[i]));
      }
    }
  }
  return out;
}

}  // namespace KelvoLibImageProcessing::reference
