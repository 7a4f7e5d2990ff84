#include "imaging/analysis/detail/StretchMap.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/StretchMap.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/analysis/detail/stretch_map-inl.h"

#if HWY_ONCE
namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(MapBytesImpl);

void MapBytes(const uint8_t* src, uint8_t* dst, std::size_t count,
              const uint8_t* table256) noexcept {
  HWY_DYNAMIC_DISPATCH(MapBytesImpl)(src, dst, count, table256);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
