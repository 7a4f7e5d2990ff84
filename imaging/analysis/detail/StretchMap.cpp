#include "imaging/analysis/detail/StretchMap.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

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

void MapByteRows(const uint8_t* src, std::ptrdiff_t srcStride, uint8_t* dst,
                 std::ptrdiff_t dstStride, std::size_t samples, int rows,
                 const uint8_t* table256) noexcept {
  if (rows <= 0 || samples == 0) return;
  const auto row = [&](int y) {
    HWY_DYNAMIC_DISPATCH(MapBytesImpl)
    (src + srcStride * y, dst + dstStride * y, samples, table256);
  };
  // Rows that share no byte with another row's samples may run in any order:
  // the same row in place, or images apart.
  const std::uintptr_t s0 = reinterpret_cast<std::uintptr_t>(src);
  const std::uintptr_t d0 = reinterpret_cast<std::uintptr_t>(dst);
  const auto span = [&](std::uintptr_t base, std::ptrdiff_t stride) {
    const std::uintptr_t a = base + static_cast<std::uintptr_t>(stride * (rows - 1));
    return std::pair<std::uintptr_t, std::uintptr_t>(std::min(base, a),
                                                     std::max(base, a) + samples);
  };
  const auto [sLo, sHi] = span(s0, srcStride);
  const auto [dLo, dHi] = span(d0, dstStride);
  const bool apart = sHi <= dLo || dHi <= sLo;
  const bool sameRows = s0 == d0 && srcStride == dstStride &&
                        (rows == 1 || static_cast<std::size_t>(std::abs(srcStride)) >= samples);
  if (!apart && !sameRows) {
    for (int y = 0; y < rows; ++y) MapBytes(src + srcStride * y, dst + dstStride * y, samples,
                                            table256);
    return;
  }
  kelvo::ParallelRows(rows, kelvo::BandRows(static_cast<long>(samples)), [&](int y0, int y1) {
    for (int y = y0; y < y1; ++y) row(y);
  });
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
