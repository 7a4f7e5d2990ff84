#include "imaging/analysis/detail/StretchMap.h"

#include <algorithm>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/StretchMap.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/analysis/detail/stretch_map-inl.h"

#if HWY_ONCE
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(MapBytesImpl);

void MapBytes(const uint8_t* src, uint8_t* dst, std::size_t count,
              const uint8_t* table256) noexcept {
  // Every sample maps on its own, so chunks may run at once; in place too,
  // as no chunk reads another's samples.
  constexpr std::size_t kChunk = 1 << 16;
  const std::size_t chunks = (count + kChunk - 1) / kChunk;
  kelvo::ParallelRows(static_cast<int>(chunks), 1, [&](int c0, int c1) {
    const std::size_t begin = static_cast<std::size_t>(c0) * kChunk;
    const std::size_t end = std::min(count, static_cast<std::size_t>(c1) * kChunk);
    HWY_DYNAMIC_DISPATCH(MapBytesImpl)(src + begin, dst + begin, end - begin, table256);
  });
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
