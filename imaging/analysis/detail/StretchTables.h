#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The tone-curve tables of OpContrastStretch, one per pair of sample sizes.
// maxValue must already be limited to what the path can hold (0..255 for an
// 8-bit destination in the 8 -> 8 path, 0..65535 otherwise).
//
// The clip points lo and hi are float products truncated; the other
// intermediate expressions are evaluated in double; the values the curve
// keeps (n = maxValue, the slope s, the exponents and the ramp value v) are
// rounded to float where they are stored, and the 0.001 added before
// truncation is the float constant widened to double.
void BuildStretchTable8To8(int maxValue, float lowClip, float highClip, uint8_t* table256);
void BuildStretchTable8To16(int maxValue, float lowClip, float highClip, uint16_t* table256);
void BuildStretchTable16To8(int maxValue, float lowClip, float highClip, uint8_t* table65536);
// kneeLow and kneeHigh must be positive (infinite is allowed).
void BuildStretchTable16To16(int maxValue, float lowClip, float highClip, float kneeLow,
                             float kneeHigh, uint16_t* table65536);

}  // namespace KelvoLibImageProcessing::detail
