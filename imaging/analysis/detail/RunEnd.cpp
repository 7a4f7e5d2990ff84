// The run-end finder compiled for every SIMD target; start-up's choice of
// target is honoured through HWY_DYNAMIC_DISPATCH.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/RunEnd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "imaging/analysis/detail/run_end-inl.h"

#if HWY_ONCE
#include "imaging/analysis/detail/RunEnd.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(RunEndBytesImpl);
HWY_EXPORT(RowRunEndsBytesImpl);

int RunEndBytes(const uint8_t* row, int x, int width, bool maskCompare) noexcept {
  return HWY_DYNAMIC_DISPATCH(RunEndBytesImpl)(row, x, width, maskCompare);
}

int RowRunEndsBytes(const uint8_t* row, int width, bool maskCompare, int32_t* ends) noexcept {
  return HWY_DYNAMIC_DISPATCH(RowRunEndsBytesImpl)(row, width, maskCompare, ends);
}

}  // namespace KelvoLibImageProcessing::detail
#endif
