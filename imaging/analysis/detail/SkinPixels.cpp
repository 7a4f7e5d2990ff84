// The skin map's row kernels compiled for every SIMD target; start-up's
// choice of target is honoured through HWY_DYNAMIC_DISPATCH.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/analysis/detail/SkinPixels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "imaging/analysis/detail/skin_pixels-inl.h"

#if HWY_ONCE
#include "imaging/analysis/detail/SkinPixels.h"

namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(SkinGateRowImpl);
HWY_EXPORT(SkinTestRowImpl);

void SkinGateRow(const uint8_t* pixels, int width, int minLum, uint8_t* lum, uint8_t* mask,
                 SkinGateSums& sums) {
  HWY_DYNAMIC_DISPATCH(SkinGateRowImpl)(pixels, width, minLum, lum, mask, sums);
}

int SkinTestRow(const uint8_t* pixels, int width, float castLimit, uint8_t* mask) {
  return HWY_DYNAMIC_DISPATCH(SkinTestRowImpl)(pixels, width, castLimit, mask);
}

}  // namespace KelvoLibImageProcessing::detail
#endif
