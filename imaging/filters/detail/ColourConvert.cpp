#include "imaging/filters/detail/ColourConvert.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/filters/detail/ColourConvert-inl.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "imaging/filters/detail/ColourConvert-inl.h"

#if HWY_ONCE
#include <cstdint>
#include <utility>

#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {
namespace {

// impl(rows, src, dst, planeRows) on bands of rows. The planes of a planar
// image stay `height` rows apart whatever the band. An image converted
// into memory that it shares with a different layout must go row by row in
// order, so it stays on one thread.
template <class S, class D, class Impl>
void Bands(int height, const S* src, int srcStride, D* dst, int dstStride, int width, bool planar,
           bool planarSource, const Impl& impl) {
  const auto bytes = [&](const void* p, int stride, bool planes) {
    const auto b = reinterpret_cast<std::uintptr_t>(p);
    return std::pair<std::uintptr_t, std::uintptr_t>(
        b, b + static_cast<std::uintptr_t>(stride) * static_cast<std::uintptr_t>(height) *
                   (planes ? 3u : 1u));
  };
  const auto [s0, s1] = bytes(src, srcStride, planar && planarSource);
  const auto [d0, d1] = bytes(dst, dstStride, planar && !planarSource);
  const bool separate = s1 <= d0 || d1 <= s0;
  const bool sameRows = !planar && s0 == d0 && srcStride == dstStride;
  if (!separate && !sameRows) {
    impl(height, src, dst, height);
    return;
  }
  kelvo::ParallelRows(height, kelvo::BandRows(3L * width), [&](int y0, int y1) {
    impl(y1 - y0, RowAt(src, srcStride, y0), RowAt(dst, dstStride, y0), height);
  });
}

}  // namespace

HWY_EXPORT(RgbToYCbCr8Impl);
HWY_EXPORT(RgbToYCbCr16Impl);
HWY_EXPORT(YCbCrToRgb8Impl);
HWY_EXPORT(YCbCrToRgb16Impl);
HWY_EXPORT(FloatYCbCrRowsToRgb8Impl);

void RgbToYCbCr8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  Bands(height, src, srcStride, dst, dstStride, width, planar, false,
        [&](int rows, const auto* s, auto* d, int planeRows) {
          HWY_DYNAMIC_DISPATCH(RgbToYCbCr8Impl)
          (rows, s, srcStride, d, dstStride, width, planar, planeRows);
        });
}
void RgbToYCbCr16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  Bands(height, src, srcStride, dst, dstStride, width, planar, false,
        [&](int rows, const auto* s, auto* d, int planeRows) {
          HWY_DYNAMIC_DISPATCH(RgbToYCbCr16Impl)
          (rows, s, srcStride, d, dstStride, width, planar, planeRows);
        });
}
void YCbCrToRgb8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  Bands(height, src, srcStride, dst, dstStride, width, planar, true,
        [&](int rows, const auto* s, auto* d, int planeRows) {
          HWY_DYNAMIC_DISPATCH(YCbCrToRgb8Impl)
          (rows, s, srcStride, d, dstStride, width, planar, planeRows);
        });
}
void YCbCrToRgb16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  Bands(height, src, srcStride, dst, dstStride, width, planar, true,
        [&](int rows, const auto* s, auto* d, int planeRows) {
          HWY_DYNAMIC_DISPATCH(YCbCrToRgb16Impl)
          (rows, s, srcStride, d, dstStride, width, planar, planeRows);
        });
}

void YCbCrRowsToRgb8(int rows, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                     int width, int planeRows) noexcept {
  HWY_DYNAMIC_DISPATCH(YCbCrToRgb8Impl)
  (rows, src, srcStride, dst, dstStride, width, true, planeRows);
}
void YCbCrRowsToRgb16(int rows, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                      int width, int planeRows) noexcept {
  HWY_DYNAMIC_DISPATCH(YCbCrToRgb16Impl)
  (rows, src, srcStride, dst, dstStride, width, true, planeRows);
}

void FloatYCbCrRowsToRgb8(int rows, const float* y, int yStride, const uint8_t* cb,
                          const uint8_t* cr, int cStride, uint8_t* dst, int dstStride,
                          int width) noexcept {
  HWY_DYNAMIC_DISPATCH(FloatYCbCrRowsToRgb8Impl)
  (rows, y, yStride, cb, cr, cStride, dst, dstStride, width);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
