#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

class BitmapData;

// Applies one global tone curve to every sample: values at or below the low
// clip point become 0, values at or above the high clip point become
// maxValue, and the values between are spread over the whole output range.
// The same curve is applied to every channel.
//
// lowClip is the fraction of the range cut at the bottom and highClip the
// fraction cut at the top (what Histogram::GetClipPointLow and
// GetClipPointHigh return). When the clips meet or cross they are dropped.
//
// The path follows the sample sizes: 8 -> 8, 8 -> 16 and 16 -> 8 bits are
// linear ramps; 16 -> 16 bits (12-bit data) is a soft-knee curve whose ends
// bend smoothly into 0 and maxValue, starting from the exponents kneeLow and
// kneeHigh. The curve is built once per call as a lookup table; each sample
// costs one look-up. Source and destination may be the same image.
//
// Checks, in this order, each throwing IPException with
// "OpContrastStretch::Execute": an image missing (code 4); one image single-
// channel and the other three-channel (code 3, where-string
// "OpContrastStretch::Execute: must have same number of color components");
// a pixel format outside 0..3 (code 2); different width or height (code 1);
// an image without pixels (code 5); for the 16 -> 16 path, a knee exponent
// that is not a positive number (code 11). The destination is untouched when
// a check fails.
class OpContrastStretch {
 public:
  static void Execute(const BitmapData* source, BitmapData* destination, int maxValue,
                      float lowClip, float highClip, float kneeLow, float kneeHigh);
  // Both knee exponents 100.
  static void Execute(const BitmapData* source, BitmapData* destination, int maxValue,
                      float lowClip, float highClip);
};

}  // namespace KelvoLibImageProcessing
