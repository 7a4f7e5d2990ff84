// The skin mask's 5 x 5 majority, its row loops compiled for every SIMD
// target; start-up's choice of target is honoured through
// HWY_DYNAMIC_DISPATCH.

#include <cstddef>
#include <cstdint>
#include <cstring>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/MaskMajority.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Rows [top, stop) of the filter, with `count` a zeroed row of w counts.
// Counts are at most 5 a column and 25 a window: byte arithmetic is exact.
void MajorityRowsImpl(const uint8_t* HWY_RESTRICT src, uint8_t* HWY_RESTRICT dst, size_t w, int top,
                      int stop, uint8_t* HWY_RESTRICT count) {
  const hn::ScalableTag<uint8_t> d;
  const size_t n = hn::Lanes(d);
  const auto one = hn::Set(d, uint8_t{1});
  // 1 for a set byte, 0 for a clear one.
  const auto isSet = [&](const uint8_t* p) { return hn::Min(hn::LoadU(d, p), one); };
  for (int k = top - 2; k <= top + 2; ++k) {
    const uint8_t* s = src + static_cast<size_t>(k) * w;
    size_t x = 0;
    for (; x + n <= w; x += n) {
      hn::StoreU(hn::Add(hn::LoadU(d, count + x), isSet(s + x)), d, count + x);
    }
    for (; x < w; ++x) count[x] = static_cast<uint8_t>(count[x] + (s[x] != 0));
  }
  const auto half = hn::Set(d, uint8_t{12});
  for (int y = top; y < stop; ++y) {
    if (y > top) {
      const uint8_t* in = src + static_cast<size_t>(y + 2) * w;
      const uint8_t* out = src + static_cast<size_t>(y - 3) * w;
      size_t x = 0;
      for (; x + n <= w; x += n) {
        const auto c = hn::Sub(hn::Add(hn::LoadU(d, count + x), isSet(in + x)), isSet(out + x));
        hn::StoreU(c, d, count + x);
      }
      for (; x < w; ++x) {
        count[x] = static_cast<uint8_t>(count[x] + (in[x] != 0) - (out[x] != 0));
      }
    }
    const uint8_t* s = src + static_cast<size_t>(y) * w;
    uint8_t* row = dst + static_cast<size_t>(y) * w;
    row[0] = s[0];
    row[1] = s[1];
    size_t x = 2;
    for (; x + n + 2 <= w; x += n) {
      const auto sum =
          hn::Add(hn::Add(hn::Add(hn::LoadU(d, count + x - 2), hn::LoadU(d, count + x - 1)),
                          hn::Add(hn::LoadU(d, count + x), hn::LoadU(d, count + x + 1))),
                  hn::LoadU(d, count + x + 2));
      hn::StoreU(hn::VecFromMask(d, hn::Gt(sum, half)), d, row + x);
    }
    for (; x + 2 < w; ++x) {
      const int sum = count[x - 2] + count[x - 1] + count[x] + count[x + 1] + count[x + 2];
      row[x] = sum >= 13 ? 255 : 0;
    }
    row[w - 2] = s[w - 2];
    row[w - 1] = s[w - 1];
  }
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "imaging/analysis/detail/MaskMajority.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(MajorityRowsImpl);

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
    HWY_DYNAMIC_DISPATCH(MajorityRowsImpl)(src, dst, w, begin + 2, end + 2, columns.get());
  });
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
