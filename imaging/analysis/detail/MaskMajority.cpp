#include "imaging/analysis/detail/MaskMajority.h"

#include <cstddef>
#include <cstring>

#include "imaging/core/IPException.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {

namespace {

// Rows [top, stop) of the filter, with `count` a zeroed row of w counts.
void MajorityRows(const uint8_t* __restrict src, uint8_t* __restrict dst, std::size_t w, int top,
                  int stop, uint8_t* __restrict count) {
  for (int k = top - 2; k <= top + 2; ++k) {
    const uint8_t* __restrict s = src + static_cast<std::size_t>(k) * w;
    for (std::size_t x = 0; x < w; ++x) count[x] = static_cast<uint8_t>(count[x] + (s[x] != 0));
  }
  for (int y = top; y < stop; ++y) {
    if (y > top) {
      const uint8_t* __restrict in = src + static_cast<std::size_t>(y + 2) * w;
      const uint8_t* __restrict out = src + static_cast<std::size_t>(y - 3) * w;
      for (std::size_t x = 0; x < w; ++x) {
        count[x] = static_cast<uint8_t>(count[x] + (in[x] != 0) - (out[x] != 0));
      }
    }
    const uint8_t* s = src + static_cast<std::size_t>(y) * w;
    uint8_t* __restrict d = dst + static_cast<std::size_t>(y) * w;
    d[0] = s[0];
    d[1] = s[1];
    for (std::size_t x = 2; x + 2 < w; ++x) {
      // At most 25: byte arithmetic keeps the loop on whole byte vectors.
      const uint8_t sum = static_cast<uint8_t>(count[x - 2] + count[x - 1] + count[x] +
                                               count[x + 1] + count[x + 2]);
      d[x] = sum >= 13 ? 255 : 0;
    }
    d[w - 2] = s[w - 2];
    d[w - 1] = s[w - 1];
  }
}

}  // namespace

void MaskMajority5x5(const uint8_t* src, uint8_t* dst, int width, int height) {
  const std::size_t w = static_cast<std::size_t>(width);
  if (width < 5 || height < 5) {
    std::memcpy(dst, src, w * static_cast<std::size_t>(height));
    return;
  }
  for (int y : {0, 1, height - 2, height - 1}) {
    std::memcpy(dst + static_cast<std::size_t>(y) * w, src + static_cast<std::size_t>(y) * w, w);
  }
  // Set pixels per column in the five rows around the current one, moved
  // down one row at a time; a row of counts per band, not frame-sized. A
  // band starts its counts afresh, so it reads only the source.
  const int rows = height - 4;  // rows 2 .. height - 3
  kelvo::ParallelRows(rows, kelvo::BandRows(width), [&](int begin, int end) {
    kelvo::memory::BlockArray<uint8_t> columns = kelvo::memory::AllocateArray<uint8_t>(w, true);
    if (!columns) throw IPException(ErrorCode::kAllocationFailed, "SkinMap::Initialize");
    MajorityRows(src, dst, w, begin + 2, end + 2, columns.get());
  });
}

}  // namespace KelvoLibImageProcessing::detail
