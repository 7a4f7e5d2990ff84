#pragma once

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The per-coefficient loops of the wavelet noise reduction, vectorised with
// Highway across coefficients and dispatched like the primitives (the same
// target choice, the same results on every target).

// |x| <= t (that is -t <= x <= t) becomes 0; otherwise soft thresholding
// gives x - t above zero and x + t below, hard thresholding keeps x.
void ShrinkCoefficients(float* x, size_t n, float t, bool soft) noexcept;

// Samples to floats.
void SamplesToFloats(const uint8_t* in, float* out, size_t n) noexcept;
void SamplesToFloats(const uint16_t* in, float* out, size_t n) noexcept;
// The same backwards: out[j] = last[-j] for j < n.
void SamplesToFloatsReversed(const uint8_t* last, float* out, size_t n) noexcept;
void SamplesToFloatsReversed(const uint16_t* last, float* out, size_t n) noexcept;
// Bytes backwards: out[j] = last[-j] for j < n.
void BytesReversed(const uint8_t* last, uint8_t* out, size_t n) noexcept;

// Floats to samples: v >= maxValue gives maxValue, v < 0 (and NaN) gives 0,
// others floor(v + 0.5) computed exactly (integer part plus fraction >=
// 0.5). maxValue is 255 for 8-bit and 4095 for 16-bit samples.
void FloatsToSamples(const float* in, uint8_t* out, size_t n) noexcept;
void FloatsToSamples(const float* in, uint16_t* out, size_t n) noexcept;

}  // namespace KelvoLibImageProcessing::detail
