// ippiFilterMedian_8u_C1R / _16s_C1R: median over a rectangular mask.
//
// 3x3 and 5x5 masks (any anchor) run selection networks on whole vectors of
// pixels; other odd masks gather each window and select its middle element.
// Even mask sides and anchors outside the mask are refused with the size
// status, which the library's median wrapper relies on to reject even masks.

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/MedianFilter.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "imaging/primitives/median-inl.h"

#if HWY_ONCE
#include <algorithm>
#include <memory>
#include <new>

#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"
#include "imaging/primitives/ParallelRows.h"

namespace kelvo::primitives {
HWY_EXPORT(MedianImage8u);
HWY_EXPORT(MedianImage16s);

namespace {

template <class T, class Kernel>
IppStatus Median(const T* src, int srcStep, T* dst, int dstStep, IppiSize roi, IppiSize mask,
                 IppiPoint anchor, Kernel kernel) {
  const IppStatus st = detail::CheckImage2(src, dst, roi);
  if (st != ippStsNoErr) return st;
  if (detail::BadMedianMask(mask, anchor)) return ippStsSizeErr;
  // The general path's window buffer, obtained once per call.
  kelvo::memory::BlockArray<T> work;
  const bool fast = (mask.width == 3 && mask.height == 3) || (mask.width == 5 && mask.height == 5);
  if (!fast) {
    work = kelvo::memory::AllocateArray<T>(static_cast<size_t>(mask.width) * mask.height);
    if (!work) return detail::kStsNoMemErr;
  }
  const auto band = [&](int y0, int y1) {
    kernel(detail::RowAt(src, srcStep, y0), srcStep, detail::RowAt(dst, dstStep, y0), dstStep,
           roi.width, y1 - y0, mask.width, mask.height, anchor.x, anchor.y, work.get());
  };
  // The general path shares one window buffer, and an image filtered in
  // place must be read before it is written: both stay on one thread.
  const int reach = std::max(mask.height, mask.width);
  if (fast && kelvo::Disjoint(src, srcStep, dst, dstStep, roi.height, reach)) {
    kelvo::ParallelRows(roi.height, kelvo::BandRows(static_cast<long>(roi.width) * 8), band);
  } else {
    band(0, roi.height);
  }
  return ippStsNoErr;
}

}  // namespace
}  // namespace kelvo::primitives

extern "C" {

IppStatus ippiFilterMedian_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                                  IppiSize dstRoiSize, IppiSize maskSize,
                                  IppiPoint anchor) noexcept {
  return kelvo::primitives::Median(pSrc, srcStep, pDst, dstStep, dstRoiSize, maskSize, anchor,
                                   HWY_DYNAMIC_DISPATCH(kelvo::primitives::MedianImage8u));
}

IppStatus ippiFilterMedian_16s_C1R(const Ipp16s* pSrc, int srcStep, Ipp16s* pDst, int dstStep,
                                   IppiSize dstRoiSize, IppiSize maskSize,
                                   IppiPoint anchor) noexcept {
  return kelvo::primitives::Median(pSrc, srcStep, pDst, dstStep, dstRoiSize, maskSize, anchor,
                                   HWY_DYNAMIC_DISPATCH(kelvo::primitives::MedianImage16s));
}

}  // extern "C"
#endif  // HWY_ONCE
