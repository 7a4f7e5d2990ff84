#include "imaging/denoise/UtilitiesFloat.h"

#include <cmath>
#include <utility>

#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {
namespace {

// Descending order with NaN after every number.
inline bool Greater(float x, float y) {
  if (std::isnan(x)) return false;
  return x > y || std::isnan(y);
}

inline bool Differs(float x, float y) {
  return Greater(x, y) || Greater(y, x);
}

// Partition a[lo..hi] around the pivot held in a[lo]: afterwards
// a[lo..p-1] > pivot >= a[p+1..hi]; returns p.
int Partition(float* a, int lo, int hi) {
  const float pivot = a[lo];
  int p = lo;
  for (int i = lo + 1; i <= hi; ++i) {
    if (Greater(a[i], pivot)) {
      ++p;
      std::swap(a[p], a[i]);
    }
  }
  std::swap(a[lo], a[p]);
  return p;
}

// Descending quicksort: the middle value is swapped to the front as pivot.
void SortDescending(float* a, int lo, int hi) {
  while (lo < hi) {
    std::swap(a[lo], a[lo + (hi - lo) / 2]);
    const int p = Partition(a, lo, hi);
    // Recurse into the smaller side so the depth stays logarithmic.
    if (p - lo < hi - p) {
      SortDescending(a, lo, p - 1);
      lo = p + 1;
    } else {
      SortDescending(a, p + 1, hi);
      hi = p - 1;
    }
  }
}

}  // namespace

float UtilitiesFloat::MedianDivideAndConquer(float* a, int lo, int hi, int& countBefore,
                                             int& countAfter) {
  while (hi - lo > 10) {
    // Pivot: the first value from the middle upwards that differs from
    // a[lo], else the first from just below the middle downwards.
    const int mid = lo + (hi - lo) / 2;
    int found = -1;
    for (int i = mid; i <= hi && found < 0; ++i) {
      if (Differs(a[i], a[lo])) found = i;
    }
    for (int i = mid - 1; i >= lo + 1 && found < 0; --i) {
      if (Differs(a[i], a[lo])) found = i;
    }
    if (found < 0) return a[lo];  // the whole segment holds one value
    std::swap(a[lo], a[found]);

    const float pivot = a[lo];
    const int p = Partition(a, lo, hi);
    const int before = countBefore + (p - lo);
    const int after = countAfter + (hi - p + 1);  // the pivot counts as after
    if (before > after) {
      countAfter = after;
      hi = p - 1;
    } else if (before == after || before == after - 1) {
      return pivot;
    } else {
      countBefore = before;
      lo = p;
    }
  }

  SortDescending(a, lo, hi);
  if (countAfter < countBefore) {
    hi -= countBefore - countAfter;
  } else {
    lo += countAfter - countBefore;
  }
  if (lo > hi) {
    throw IPException(ErrorCode::kGeneral,
                      "UtilitiesFloat::MedianDivideAndConquer: unexpected sorting error");
  }
  return a[lo + (hi - lo) / 2];
}

float UtilitiesFloat::Median(float* a, int count) {
  int countBefore = 0;
  int countAfter = 0;
  return MedianDivideAndConquer(a, 0, count - 1, countBefore, countAfter);
}

}  // namespace KelvoLibImageProcessing
