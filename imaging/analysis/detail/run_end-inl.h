// The run-end finder per SIMD target. Label masks are mostly long runs, so a
// whole vector of pixels is compared with the vector one byte to its left and
// the first lane that differs ends the run. With maskCompare both sides are
// first reduced to 0 or 1 (Min with 1), so zero and non-zero compare. The
// last part of a row shorter than a vector is compared by a vector that ends
// at the row's end, its lanes before x ignored; a row too short for that goes
// pixel by pixel.

#if defined(KELVO_ANALYSIS_RUN_END_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_ANALYSIS_RUN_END_INL_H_
#undef KELVO_ANALYSIS_RUN_END_INL_H_
#else
#define KELVO_ANALYSIS_RUN_END_INL_H_
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Lanes where the pixel at `at + lane` does not belong with its left neighbour.
template <class D>
HWY_INLINE hn::Mask<D> Breaks(D d, const uint8_t* row, int at, bool maskCompare) {
  auto here = hn::LoadU(d, row + at);
  auto left = hn::LoadU(d, row + at - 1);
  if (maskCompare) {
    const auto one = hn::Set(d, uint8_t{1});
    here = hn::Min(here, one);
    left = hn::Min(left, one);
  }
  return hn::Ne(here, left);
}

int RunEndBytesImpl(const uint8_t* row, int x, int width, bool maskCompare) {
  const hn::ScalableTag<uint8_t> d;
  const int n = static_cast<int>(hn::Lanes(d));
  for (; x + n <= width; x += n) {
    const intptr_t first = hn::FindFirstTrue(d, Breaks(d, row, x, maskCompare));
    if (first >= 0) return x + static_cast<int>(first);
  }
  if (x >= width) return width;
  const int start = width - n;  // the last full vector; it reads from start - 1
  if (start >= 1) {
    const auto before = hn::FirstN(d, static_cast<size_t>(x - start));
    const intptr_t first =
        hn::FindFirstTrue(d, hn::AndNot(before, Breaks(d, row, start, maskCompare)));
    return first >= 0 ? start + static_cast<int>(first) : width;
  }
  for (; x < width; ++x) {
    const bool together = maskCompare ? ((row[x] == 0) == (row[x - 1] == 0)) : row[x] == row[x - 1];
    if (!together) return x;
  }
  return width;
}

// Every run end of the row at once: each vector of breaks becomes a word of
// bits, whose set bits are the ends. Short runs cost a bit each, not a scan
// and a call each.
int RowRunEndsBytesImpl(const uint8_t* row, int width, bool maskCompare, int32_t* ends) {
  const hn::ScalableTag<uint8_t> d;
  const int n = static_cast<int>(hn::Lanes(d));
  int count = 0;
  int x = 1;
  for (; x + n <= width; x += n) {
    const auto breaks = Breaks(d, row, x, maskCompare);
    if (hn::AllFalse(d, breaks)) continue;
    uint8_t bits[(hn::MaxLanes(d) + 7) / 8 + 8] = {};
    hn::StoreMaskBits(d, breaks, bits);
    for (int w = 0; w * 64 < n; ++w) {
      uint64_t word;
      std::memcpy(&word, bits + 8 * w, 8);
      while (word != 0) {
        ends[count++] = x + 64 * w + static_cast<int>(hwy::Num0BitsBelowLS1Bit_Nonzero64(word));
        word &= word - 1;
      }
    }
  }
  for (; x < width; ++x) {
    const bool together = maskCompare ? ((row[x] == 0) == (row[x - 1] == 0)) : row[x] == row[x - 1];
    if (!together) ends[count++] = x;
  }
  ends[count++] = width;
  return count;
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
