// The summed-area row kernel compiled for every SIMD target; start-up's
// choice of target is honoured through HWY_DYNAMIC_DISPATCH.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/SumAreaRows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "imaging/analysis/detail/sum_area_rows-inl.h"

#if HWY_ONCE
#include "imaging/analysis/detail/SumAreaRows.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(AccumulateMaskRowImpl);

void AccumulateMaskRow(const uint8_t* mask, const uint32_t* above, uint32_t* row, int count) {
  HWY_DYNAMIC_DISPATCH(AccumulateMaskRowImpl)(mask, above, row, count);
}

}  // namespace KelvoLibImageProcessing::detail
#endif
