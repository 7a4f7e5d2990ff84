#pragma once

// Plain loops of the row kernels in imaging/filters/detail/FilterRows.h,
// written straight from their formulas; never dispatched.

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::reference {

template <typename T>
void WidenToFloat(const T* src, float* dst, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) dst[i] = static_cast<float>(src[i]);
}

template <typename T>
void NarrowRound(const float* src, T* dst, std::size_t count, float maximum) {
  for (std::size_t i = 0; i < count; ++i) {
    const float v = src[i];
    if (v > maximum) {
      dst[i] = static_cast<T>(maximum);
    } else if (v < 0.0f) {
      dst[i] = 0;
    } else {
      dst[i] = static_cast<T>(static_cast<int>(v + 0.5f));
    }
  }
}

template <typename T>
void HybridMaskRow(const T* samples, const double* below, const double* above, uint8_t* mask,
                   int first, int last, int halfSize, double count, float threshold) {
  for (int x = first; x < last; ++x) {
    const double sum = below[x + halfSize] - below[x - halfSize - 1] - above[x + halfSize] +
                       above[x - halfSize - 1];
    const double mean = sum / count;
    const float d = static_cast<float>(static_cast<double>(samples[x]) - mean);
    mask[x] = (d < -threshold || d > threshold) ? 255 : 0;
  }
}

template <typename T>
void ApplyUnsharpRow(T* y, const T* blur, const uint8_t* mask, std::size_t count, float onePlusA,
                     float a, float maximum) {
  for (std::size_t i = 0; i < count; ++i) {
    if (mask[i] == 0) continue;
    const float v = onePlusA * static_cast<float>(y[i]) - a * static_cast<float>(blur[i]);
    if (v > maximum) {
      y[i] = static_cast<T>(maximum);
    } else if (v < 0.0f) {
      y[i] = 0;
    } else {
      y[i] = static_cast<T>(static_cast<int>(v + 0.5f));
    }
  }
}

// Columns [first, last) of a float convolution of byte rows (rows[ky] is the
// source row y + kernelHeight / 2 - ky), summed term by term from +0 over ky,
// then kx, and narrowed as NarrowRound.
inline void ConvolveRowNarrow(const uint8_t* const* rows, const float* kernel, int kernelWidth,
                              int kernelHeight, int first, int last, uint8_t* out, float maximum) {
  const int hw = kernelWidth / 2;
  for (int x = first; x < last; ++x) {
    float sum = 0.0f;
    for (int ky = 0; ky < kernelHeight; ++ky) {
      for (int kx = 0; kx < kernelWidth; ++kx) {
        const float tap = kernel[ky * kernelWidth + kx];
        sum = sum + static_cast<float>(rows[ky][x + hw - kx]) * tap;
      }
    }
    NarrowRound(&sum, out + x, 1, maximum);
  }
}

}  // namespace KelvoLibImageProcessing::reference
