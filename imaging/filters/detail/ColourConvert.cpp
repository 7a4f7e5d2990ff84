#include "imaging/filters/detail/ColourConvert.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/filters/detail/ColourConvert-inl.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "imaging/filters/detail/ColourConvert-inl.h"

#if HWY_ONCE
namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(RgbToYCbCr8Impl);
HWY_EXPORT(RgbToYCbCr16Impl);
HWY_EXPORT(YCbCrToRgb8Impl);
HWY_EXPORT(YCbCrToRgb16Impl);

void RgbToYCbCr8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  HWY_DYNAMIC_DISPATCH(RgbToYCbCr8Impl)(height, src, srcStride, dst, dstStride, width, planar);
}
void RgbToYCbCr16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  HWY_DYNAMIC_DISPATCH(RgbToYCbCr16Impl)(height, src, srcStride, dst, dstStride, width, planar);
}
void YCbCrToRgb8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  HWY_DYNAMIC_DISPATCH(YCbCrToRgb8Impl)(height, src, srcStride, dst, dstStride, width, planar);
}
void YCbCrToRgb16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  HWY_DYNAMIC_DISPATCH(YCbCrToRgb16Impl)(height, src, srcStride, dst, dstStride, width, planar);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
