#include "imaging/filters/detail/FilterRows.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/filters/detail/FilterRows-inl.h"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "imaging/filters/detail/FilterRows-inl.h"

#if HWY_ONCE
namespace KelvoLibImageProcessing::detail {

HWY_EXPORT(Widen8);
HWY_EXPORT(Widen16);
HWY_EXPORT(Narrow8);
HWY_EXPORT(Narrow16);
HWY_EXPORT(Mask8);
HWY_EXPORT(Mask16);
HWY_EXPORT(Apply8);
HWY_EXPORT(Apply16);
HWY_EXPORT(ConvRow8);
HWY_EXPORT(ConvUniformRow8);
HWY_EXPORT(ConvUniformRows8);
HWY_EXPORT(WidenScaled8);
HWY_EXPORT(ColumnSums8);
HWY_EXPORT(SlideSums8);
HWY_EXPORT(SumMask8);
HWY_EXPORT(FinishRow8);

void FinishHybridRow(const float* const* blurRows, const float* blurKernel, int blurSize,
                     const int32_t* sums, const uint8_t* high, uint8_t* out, int first, int last,
                     int halfSize, int count, int markAbove, int markBelow, float onePlusA,
                     float a) noexcept {
  HWY_DYNAMIC_DISPATCH(FinishRow8)
  (blurRows, blurKernel, blurSize, sums, high, out, first, last, halfSize, count, markAbove,
   markBelow, onePlusA, a);
}

void ConvolveRowNarrow(const float* const* rows, const float* kernel, int kernelWidth,
                       int kernelHeight, int first, int last, uint8_t* out,
                       float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(ConvRow8)
  (rows, kernel, kernelWidth, kernelHeight, first, last, out, maximum);
}
void ConvolveRowNarrowUniform(const float* const* products, const uint8_t* centre, float centreTap,
                              int kernelWidth, int kernelHeight, int first, int last, uint8_t* out,
                              float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(ConvUniformRow8)
  (products, centre, centreTap, kernelWidth, kernelHeight, first, last, out, maximum);
}
void ConvolveRowsNarrowUniform(const float* const* products, const uint8_t* const* centres,
                               int rows, float centreTap, int kernelWidth, int kernelHeight,
                               int first, int last, uint8_t* const* outs, float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(ConvUniformRows8)
  (products, centres, rows, centreTap, kernelWidth, kernelHeight, first, last, outs, maximum);
}
void WidenScaled(const uint8_t* src, float* dst, std::size_t count, float scale) noexcept {
  HWY_DYNAMIC_DISPATCH(WidenScaled8)(src, dst, count, scale);
}
void ColumnSums(const uint8_t* const* rows, int rowCount, std::size_t count,
                int32_t* sums) noexcept {
  HWY_DYNAMIC_DISPATCH(ColumnSums8)(rows, rowCount, count, sums);
}
void SlideColumnSums(int32_t* sums, const uint8_t* add, const uint8_t* remove,
                     std::size_t count) noexcept {
  HWY_DYNAMIC_DISPATCH(SlideSums8)(sums, add, remove, count);
}
void SumMaskRow(const int32_t* sums, const uint8_t* samples, uint8_t* mask, int first, int last,
                int halfSize, int count, int markAbove, int markBelow) noexcept {
  HWY_DYNAMIC_DISPATCH(SumMask8)
  (sums, samples, mask, first, last, halfSize, count, markAbove, markBelow);
}

void WidenToFloat(const uint8_t* src, float* dst, std::size_t count) noexcept {
  HWY_DYNAMIC_DISPATCH(Widen8)(src, dst, count);
}
void WidenToFloat(const uint16_t* src, float* dst, std::size_t count) noexcept {
  HWY_DYNAMIC_DISPATCH(Widen16)(src, dst, count);
}
void NarrowRound(const float* src, uint8_t* dst, std::size_t count, float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(Narrow8)(src, dst, count, maximum);
}
void NarrowRound(const float* src, uint16_t* dst, std::size_t count, float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(Narrow16)(src, dst, count, maximum);
}
void HybridMaskRow(const uint8_t* samples, const double* below, const double* above, uint8_t* mask,
                   int first, int last, int halfSize, double count, float threshold) noexcept {
  HWY_DYNAMIC_DISPATCH(Mask8)(samples, below, above, mask, first, last, halfSize, count, threshold);
}
void HybridMaskRow(const uint16_t* samples, const double* below, const double* above, uint8_t* mask,
                   int first, int last, int halfSize, double count, float threshold) noexcept {
  HWY_DYNAMIC_DISPATCH(Mask16)
  (samples, below, above, mask, first, last, halfSize, count, threshold);
}
void ApplyUnsharpRow(uint8_t* y, const uint8_t* blur, const uint8_t* mask, std::size_t count,
                     float onePlusA, float a, float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(Apply8)(y, blur, mask, count, onePlusA, a, maximum);
}
void ApplyUnsharpRow(uint16_t* y, const uint16_t* blur, const uint8_t* mask, std::size_t count,
                     float onePlusA, float a, float maximum) noexcept {
  HWY_DYNAMIC_DISPATCH(Apply16)(y, blur, mask, count, onePlusA, a, maximum);
}

}  // namespace KelvoLibImageProcessing::detail
#endif  // HWY_ONCE
