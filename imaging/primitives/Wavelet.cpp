// Wavelet specification objects and the one-level analysis and synthesis
// primitives. The kernels live in wavelet-inl.h, compiled for every SIMD
// target; ippStaticInit's choice of target is honoured through
// HWY_DYNAMIC_DISPATCH.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imaging/primitives/Wavelet.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "imaging/primitives/wavelet-inl.h"

#if HWY_ONCE
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ParallelRows.h"
#include "imaging/primitives/PoolThreadBuffer.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/Threads.h"
#include "imaging/primitives/WaveletRows.h"

namespace KelvoLibImageProcessing::wavelet {
HWY_EXPORT(WTFwdImpl);
HWY_EXPORT(WTInvImpl);
}  // namespace KelvoLibImageProcessing::wavelet

namespace {

using KelvoLibImageProcessing::wavelet::Filter;

// Tags that tell a forward object from an inverse one (or from anything
// else) so that a wrong object gives ippStsContextMatchErr.
constexpr uint32_t kFwdId = 0x46775457u;  // "WTwF"
constexpr uint32_t kInvId = 0x49775457u;  // "WTwI"

struct WaveletSpec {
  uint32_t id;
  int lenLow, anchorLow, lenHigh, anchorHigh;
  float* tapsLow;  // copies owned by the object, in one block with it
  float* tapsHigh;

  Filter Low() const { return Filter{tapsLow, lenLow, anchorLow}; }
  Filter High() const { return Filter{tapsHigh, lenHigh, anchorHigh}; }
};

template <class Spec>
IppStatus InitAlloc(Spec** ppSpec, uint32_t id, const Ipp32f* tapsLow, int lenLow, int anchorLow,
                    const Ipp32f* tapsHigh, int lenHigh, int anchorHigh) {
  if (ppSpec == nullptr) return ippStsNullPtrErr;
  *ppSpec = nullptr;
  if (tapsLow == nullptr || tapsHigh == nullptr) return ippStsNullPtrErr;
  if (lenLow < 1 || lenHigh < 1 || anchorLow < 0 || anchorLow >= lenLow || anchorHigh < 0 ||
      anchorHigh >= lenHigh) {
    return ippStsSizeErr;
  }
  const size_t bytes = sizeof(WaveletSpec) + sizeof(float) * static_cast<size_t>(lenLow + lenHigh);
  void* block = std::malloc(bytes);
  if (block == nullptr) return ippStsNullPtrErr;
  auto* spec = new (block) WaveletSpec{};
  spec->id = id;
  spec->lenLow = lenLow;
  spec->anchorLow = anchorLow;
  spec->lenHigh = lenHigh;
  spec->anchorHigh = anchorHigh;
  spec->tapsLow = reinterpret_cast<float*>(spec + 1);
  spec->tapsHigh = spec->tapsLow + lenLow;
  std::memcpy(spec->tapsLow, tapsLow, sizeof(float) * static_cast<size_t>(lenLow));
  std::memcpy(spec->tapsHigh, tapsHigh, sizeof(float) * static_cast<size_t>(lenHigh));
  *ppSpec = reinterpret_cast<Spec*>(spec);
  return ippStsNoErr;
}

const WaveletSpec* Checked(const void* spec, uint32_t id) {
  const auto* s = static_cast<const WaveletSpec*>(spec);
  return (s->id == id) ? s : nullptr;
}

IppStatus Free(void* spec, uint32_t id) {
  if (spec == nullptr) return ippStsNullPtrErr;
  auto* s = static_cast<WaveletSpec*>(spec);
  if (s->id != id) return ippStsContextMatchErr;
  s->id = 0;  // a freed object no longer matches
  std::free(s);
  return ippStsNoErr;
}

// The calling pool thread's work buffer for the bands it runs.
struct WaveletBandTag;
using PoolThreadBuffer = kelvo::memory::PoolThreadBuffer<WaveletBandTag>;

// Runs run(rowBegin, rowEnd, buffer) on bands of `rows` output rows, at
// least minRows each (a band repeats some of its neighbour's work). There
// are up to four bands a thread, so that a thread that is held up (the
// machine is shared) leaves the other threads bands to take over instead
// of making them wait. On one band the caller's work buffer serves; on
// several, each thread's own, and a band that cannot have one runs
// afterwards with the caller's.
template <class Run>
void Bands(int rows, long samplesPerRow, int minRows, size_t bufferBytes, Ipp8u* callerBuffer,
           Run run) {
  const int grain = std::max(kelvo::BandRows(samplesPerRow), minRows);
  const int threads = kelvo::Threads();
  const int bands = threads <= 1 ? 1 : std::min(4 * threads, rows / std::max(grain, 1));
  if (bands <= 1) {
    run(0, rows, callerBuffer);
    return;
  }
  const auto begin = [&](int b) { return static_cast<int>(static_cast<long>(rows) * b / bands); };
  std::atomic<bool> left{false};
  bool done[4 * 256] = {};  // four bands for each of at most 256 threads
  kelvo::ParallelRows(bands, 1, [&](int b0, int b1) {
    const PoolThreadBuffer buffer(bufferBytes);
    if (buffer.get() == nullptr) {
      left.store(true, std::memory_order_relaxed);
      return;
    }
    for (int b = b0; b < b1; ++b) {
      run(begin(b), begin(b + 1), buffer.get());
      done[b] = true;
    }
  });
  if (!left.load(std::memory_order_relaxed)) return;
  for (int b = 0; b < bands; ++b) {
    if (!done[b]) run(begin(b), begin(b + 1), callerBuffer);
  }
}

// The analysis over a source image or over fetched rows.
IppStatus Forward(const Ipp32f* pSrc, int srcStep, KelvoLibImageProcessing::wavelet::RowFetch fetch,
                  const KelvoLibImageProcessing::wavelet::DetailShrink* shrink, Ipp32f* pApproxDst,
                  int approxStep, Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst,
                  int detailYStep, Ipp32f* pDetailXYDst, int detailXYStep, IppiSize dstRoiSize,
                  const IppiWTFwdSpec_32f_C1R* pSpec, Ipp8u* pBuffer,
                  const KelvoLibImageProcessing::wavelet::FwdRegion* region) noexcept {
  if (pApproxDst == nullptr || pDetailXDst == nullptr || pDetailYDst == nullptr ||
      pDetailXYDst == nullptr || pSpec == nullptr || pBuffer == nullptr) {
    return ippStsNullPtrErr;
  }
  if (dstRoiSize.width < 1 || dstRoiSize.height < 1) return ippStsSizeErr;
  KelvoLibImageProcessing::wavelet::FwdRegion area{0, dstRoiSize.width, 0, dstRoiSize.height,
                                                   0, dstRoiSize.width, 0, dstRoiSize.height};
  if (region != nullptr) {
    area = *region;
    const bool noDetail = area.dx0 >= area.dx1 || area.dy0 >= area.dy1;
    if (area.x0 < 0 || area.y0 < 0 || area.x1 > dstRoiSize.width ||
        area.y1 > dstRoiSize.height || area.x0 >= area.x1 || area.y0 >= area.y1 ||
        (!noDetail && (area.dx0 < area.x0 || area.dy0 < area.y0 || area.dx1 > area.x1 ||
                       area.dy1 > area.y1))) {
      return ippStsSizeErr;
    }
    if (noDetail) area.dx0 = area.dx1 = area.dy0 = area.dy1 = 0;
  }
  const WaveletSpec* s = Checked(pSpec, kFwdId);
  if (s == nullptr) return ippStsContextMatchErr;
  KelvoLibImageProcessing::wavelet::FwdJob job{};
  job.src = pSrc;
  job.srcStep = srcStep;
  job.fetch = fetch;
  job.shrink = shrink;
  job.dst[0] = pApproxDst;
  job.dst[1] = pDetailXDst;
  job.dst[2] = pDetailYDst;
  job.dst[3] = pDetailXYDst;
  job.dstStep[0] = approxStep;
  job.dstStep[1] = detailXStep;
  job.dstStep[2] = detailYStep;
  job.dstStep[3] = detailXYStep;
  job.bw = dstRoiSize.width;
  job.bh = dstRoiSize.height;
  job.rowBegin = area.y0;
  job.colBegin = area.x0;
  job.colEnd = area.x1;
  job.detailX0 = area.dx0;
  job.detailX1 = area.dx1;
  job.detailY0 = area.dy0;
  job.detailY1 = area.dy1;
  job.low = s->Low();
  job.high = s->High();
  const size_t bytes = KelvoLibImageProcessing::wavelet::MakeFwdLayout(job.low, job.high).Bytes();
  // A band's output rows depend only on source rows, never on the rows of
  // another band, so the bands may run at once.
  // Each band computes the row outputs of the source rows its first output
  // row reads, which the band above computes as well: bands have several
  // times as many rows as those.
  const int shared = KelvoLibImageProcessing::wavelet::ReachHi(job.low, job.high) -
                     KelvoLibImageProcessing::wavelet::ReachLo(job.low, job.high) + 1;
  Bands(area.y1 - area.y0, 8L * (area.x1 - area.x0) * (job.low.length + job.high.length),
        4 * shared, bytes, pBuffer, [&](int begin, int end, Ipp8u* buffer) {
          KelvoLibImageProcessing::wavelet::FwdJob part = job;
          part.rowBegin = job.rowBegin + begin;
          part.rowEnd = job.rowBegin + end;
          part.buffer = buffer;
          HWY_DYNAMIC_DISPATCH(KelvoLibImageProcessing::wavelet::WTFwdImpl)(part);
        });
  return ippStsNoErr;
}

}  // namespace

namespace KelvoLibImageProcessing::wavelet {

IppStatus WTFwdRows(const Ipp32f* pSrc, int srcStep, RowFetchFn fetch, const void* context,
                    const DetailShrink* shrink, Ipp32f* pApproxDst, int approxStep,
                    Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst, int detailYStep,
                    Ipp32f* pDetailXYDst, int detailXYStep, IppiSize dstRoiSize,
                    const IppiWTFwdSpec_32f_C1R* pSpec, Ipp8u* pBuffer,
                    const FwdRegion* region) noexcept {
  if (pSrc == nullptr && fetch == nullptr) return ippStsNullPtrErr;
  return Forward(pSrc, srcStep, RowFetch{fetch, context, nullptr}, shrink, pApproxDst, approxStep,
                 pDetailXDst, detailXStep, pDetailYDst, detailYStep, pDetailXYDst, detailXYStep,
                 dstRoiSize, pSpec, pBuffer, region);
}

IppStatus WTFwdByteRows(ByteRowFetchFn fetch, const void* context, const DetailShrink* shrink,
                        Ipp32f* pApproxDst, int approxStep, Ipp32f* pDetailXDst, int detailXStep,
                        Ipp32f* pDetailYDst, int detailYStep, Ipp32f* pDetailXYDst,
                        int detailXYStep, IppiSize dstRoiSize, const IppiWTFwdSpec_32f_C1R* pSpec,
                        Ipp8u* pBuffer, const FwdRegion* region) noexcept {
  if (fetch == nullptr) return ippStsNullPtrErr;
  return Forward(nullptr, 0, RowFetch{nullptr, context, fetch}, shrink, pApproxDst, approxStep,
                 pDetailXDst, detailXStep, pDetailYDst, detailYStep, pDetailXYDst, detailXYStep,
                 dstRoiSize, pSpec, pBuffer, region);
}

}  // namespace KelvoLibImageProcessing::wavelet

extern "C" {

IppStatus ippiWTFwdInitAlloc_32f_C1R(IppiWTFwdSpec_32f_C1R** ppSpec, const Ipp32f* pTapsLow,
                                     int lenLow, int anchorLow, const Ipp32f* pTapsHigh,
                                     int lenHigh, int anchorHigh) noexcept {
  return InitAlloc(ppSpec, kFwdId, pTapsLow, lenLow, anchorLow, pTapsHigh, lenHigh, anchorHigh);
}

IppStatus ippiWTFwdGetBufSize_C1R(const IppiWTFwdSpec_32f_C1R* pSpec, int* pSize) noexcept {
  if (pSpec == nullptr || pSize == nullptr) return ippStsNullPtrErr;
  const WaveletSpec* s = Checked(pSpec, kFwdId);
  if (s == nullptr) return ippStsContextMatchErr;
  *pSize = static_cast<int>(
      KelvoLibImageProcessing::wavelet::MakeFwdLayout(s->Low(), s->High()).Bytes());
  return ippStsNoErr;
}

IppStatus ippiWTFwd_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pApproxDst, int approxStep,
                            Ipp32f* pDetailXDst, int detailXStep, Ipp32f* pDetailYDst,
                            int detailYStep, Ipp32f* pDetailXYDst, int detailXYStep,
                            IppiSize dstRoiSize, const IppiWTFwdSpec_32f_C1R* pSpec,
                            Ipp8u* pBuffer) noexcept {
  if (pSrc == nullptr) return ippStsNullPtrErr;
  return Forward(pSrc, srcStep, {}, nullptr, pApproxDst, approxStep, pDetailXDst, detailXStep,
                 pDetailYDst, detailYStep, pDetailXYDst, detailXYStep, dstRoiSize, pSpec, pBuffer,
                 nullptr);
}

IppStatus ippiWTFwdFree_32f_C1R(IppiWTFwdSpec_32f_C1R* pSpec) noexcept {
  return Free(pSpec, kFwdId);
}

IppStatus ippiWTInvInitAlloc_32f_C1R(IppiWTInvSpec_32f_C1R** ppSpec, const Ipp32f* pTapsLow,
                                     int lenLow, int anchorLow, const Ipp32f* pTapsHigh,
                                     int lenHigh, int anchorHigh) noexcept {
  return InitAlloc(ppSpec, kInvId, pTapsLow, lenLow, anchorLow, pTapsHigh, lenHigh, anchorHigh);
}

IppStatus ippiWTInvGetBufSize_C1R(const IppiWTInvSpec_32f_C1R* pSpec, int* pSize) noexcept {
  if (pSpec == nullptr || pSize == nullptr) return ippStsNullPtrErr;
  const WaveletSpec* s = Checked(pSpec, kInvId);
  if (s == nullptr) return ippStsContextMatchErr;
  *pSize = static_cast<int>(
      KelvoLibImageProcessing::wavelet::MakeInvLayout(s->Low(), s->High()).Bytes());
  return ippStsNoErr;
}

IppStatus ippiWTInv_32f_C1R(const Ipp32f* pApproxSrc, int approxStep, const Ipp32f* pDetailXSrc,
                            int detailXStep, const Ipp32f* pDetailYSrc, int detailYStep,
                            const Ipp32f* pDetailXYSrc, int detailXYStep, IppiSize srcRoiSize,
                            Ipp32f* pDst, int dstStep, const IppiWTInvSpec_32f_C1R* pSpec,
                            Ipp8u* pBuffer) noexcept {
  if (pApproxSrc == nullptr || pDetailXSrc == nullptr || pDetailYSrc == nullptr ||
      pDetailXYSrc == nullptr || pDst == nullptr || pSpec == nullptr || pBuffer == nullptr) {
    return ippStsNullPtrErr;
  }
  if (srcRoiSize.width < 1 || srcRoiSize.height < 1) return ippStsSizeErr;
  const WaveletSpec* s = Checked(pSpec, kInvId);
  if (s == nullptr) return ippStsContextMatchErr;
  KelvoLibImageProcessing::wavelet::InvJob job{};
  job.band[0] = pApproxSrc;
  job.band[1] = pDetailXSrc;
  job.band[2] = pDetailYSrc;
  job.band[3] = pDetailXYSrc;
  job.bandStep[0] = approxStep;
  job.bandStep[1] = detailXStep;
  job.bandStep[2] = detailYStep;
  job.bandStep[3] = detailXYStep;
  job.bw = srcRoiSize.width;
  job.bh = srcRoiSize.height;
  job.dst = pDst;
  job.dstStep = dstStep;
  job.low = s->Low();
  job.high = s->High();
  const size_t bytes = KelvoLibImageProcessing::wavelet::MakeInvLayout(job.low, job.high).Bytes();
  Bands(2 * job.bh, 2L * job.bw * (job.low.length + job.high.length), 1, bytes, pBuffer,
        [&](int begin, int end, Ipp8u* buffer) {
          KelvoLibImageProcessing::wavelet::InvJob part = job;
          part.rowBegin = begin;
          part.rowEnd = end;
          part.buffer = buffer;
          HWY_DYNAMIC_DISPATCH(KelvoLibImageProcessing::wavelet::WTInvImpl)(part);
        });
  return ippStsNoErr;
}

IppStatus ippiWTInvFree_32f_C1R(IppiWTInvSpec_32f_C1R* pSpec) noexcept {
  return Free(pSpec, kInvId);
}

}  // extern "C"

#endif  // HWY_ONCE
