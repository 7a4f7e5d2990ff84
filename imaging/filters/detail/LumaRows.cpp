#include "imaging/filters/detail/LumaRows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/filters/detail/luma_rows-inl.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "imaging/filters/detail/luma_rows-inl.h"

#if HWY_ONCE
namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(LumaOffsetRowImpl);
HWY_EXPORT(OffsetRowImpl);

void LumaOffsetRow(const uint8_t* rgb, uint8_t* y, int16_t* offsets, int width) noexcept {
  HWY_DYNAMIC_DISPATCH(LumaOffsetRowImpl)(rgb, y, offsets, width);
}

void OffsetRow(const uint8_t* y, const int16_t* offsets, uint8_t* dst, int width) noexcept {
  HWY_DYNAMIC_DISPATCH(OffsetRowImpl)(y, offsets, dst, width);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
