#pragma once

namespace KelvoLibImageProcessing {

// Float helpers of the noise reduction.
class UtilitiesFloat {
 public:
  // Selects the median of a[lo..hi] in place (the segment is reordered) in
  // expected linear time. countBefore and countAfter hold how many values of
  // the whole problem are known to lie before (larger) and after (smaller or
  // equal) the segment in descending order; both are updated. For an odd
  // count the exact median is returned; for an even count one of the two
  // middle values: the larger when the search ends by sorting a short
  // segment (always so for 11 values or fewer), the smaller when a pivot
  // lands with exactly half the values before it.
  //
  // NaN values are ordered after every number (as the
  // smallest values, all equal to each other), so the search always
  // terminates; a NaN is returned only if it falls in the middle.
  //
  // An empty segment (hi < lo) throws code 26 "UtilitiesFloat::
  // MedianDivideAndConquer: unexpected sorting error".
  static float MedianDivideAndConquer(float* a, int lo, int hi, int& countBefore, int& countAfter);

  // The median of a[0..count-1]; the array is reordered.
  static float Median(float* a, int count);
};

}  // namespace KelvoLibImageProcessing
