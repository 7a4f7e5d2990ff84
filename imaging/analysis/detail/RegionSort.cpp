#include "imaging/analysis/detail/RegionSort.h"

#include <utility>

namespace KelvoLibImageProcessing::detail {

void RegionSort(int32_t* keys, int32_t* companion, int count) {
  const auto swapEntries = [keys, companion](int a, int b) {
    std::swap(keys[a], keys[b]);
    std::swap(companion[a], companion[b]);
  };
  // The larger part waits on the stack while the smaller one goes on, so the
  // stack never holds more than log2(count) ranges.
  struct Range {
    int left;
    int right;
  };
  Range pending[64];
  int depth = 0;
  int left = 0;
  int right = count - 1;
  for (;;) {
    while (left < right) {
      swapEntries(left, left + (right - left) / 2);
      int last = left;
      for (int i = left + 1; i <= right; ++i) {
        if (keys[i] > keys[left]) {
          ++last;
          swapEntries(last, i);
        }
      }
      swapEntries(left, last);
      const Range greater{left, last - 1};
      const Range rest{last + 1, right};
      const bool greaterIsLarger = greater.right - greater.left > rest.right - rest.left;
      const Range later = greaterIsLarger ? greater : rest;
      const Range now = greaterIsLarger ? rest : greater;
      if (later.left < later.right) pending[depth++] = later;
      left = now.left;
      right = now.right;
    }
    if (depth == 0) break;
    --depth;
    left = pending[depth].left;
    right = pending[depth].right;
  }
}

}  // namespace KelvoLibImageProcessing::detail
