#pragma once

namespace KelvoLibImageProcessing::detail {

// One built-in filter bank: four filters of `length` taps each. Analysis
// filters use the anchor length / 2, synthesis filters length / 2 - 1.
struct WaveletBank {
  int type;
  int length;
  const float* fwdLow;
  const float* fwdHigh;
  const float* invLow;
  const float* invHigh;
};

// The bank of a wavelet type, or null for a type that has none.
const WaveletBank* FindWaveletBank(int type) noexcept;

// All built-in banks in ascending type order; *count receives their number.
const WaveletBank* BuiltInWaveletBanks(int* count) noexcept;

}  // namespace KelvoLibImageProcessing::detail
