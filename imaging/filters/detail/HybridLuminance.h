#pragma once

// The luminance work of the 8-bit hybrid unsharp mask, streamed row by row:
// the optional high-pass convolution (into rows of scratch), the contrast
// mask, the Gaussian blur and the masked unsharp step, without frame-sized
// float copies or summed tables.

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

struct HybridLuminanceParams {
  const float* highPass = nullptr;  // null: no high-pass step
  int highPassWidth = 0;
  int highPassHeight = 0;
  const float* blur = nullptr;  // blurSize x blurSize
  int blurSize = 0;
  int halfSize = 0;  // R of the local-mean window
  float threshold = 0.0f;
  float amount = 0.0f;
};

// The sharpened luminance of `lum` (width x height at lumStride, left as it
// is) goes to `out` (same size, outStride, not overlapping lum), on row
// bands of the library's threads; every row comes out the same whatever the
// bands. Throws IPException(ErrorCode::kAllocationFailed, where) when work
// memory fails.
void SharpenLuminance8(const uint8_t* lum, int lumStride, uint8_t* out, int outStride, int width,
                       int height, const HybridLuminanceParams& params, const char* where);

// Integer form of "float(sample - double(sum) / count) lies outside
// [-threshold, threshold]" for full windows of `count` 8-bit samples:
// marked exactly when count * sample - sum > markAbove or < markBelow.
// False when no such pair of bounds reproduces the float test for every
// sample and sum (the caller then evaluates the float test itself).
bool IntegerMaskBounds(int count, float threshold, int& markAbove, int& markBelow);

}  // namespace KelvoLibImageProcessing::detail
