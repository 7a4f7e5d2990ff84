// ippiCopy_32f_C1R. A row copy is memcpy's job: it already picks the widest
// moves the processor has, and there is no arithmetic that could differ
// between code paths, so this primitive is not dispatched.

#include <cstring>

#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/detail/Args.h"

extern "C" IppStatus ippiCopy_32f_C1R(const Ipp32f* pSrc, int srcStep, Ipp32f* pDst, int dstStep,
                                      IppiSize roiSize) noexcept {
  using kelvo::primitives::detail::RowAt;
  const IppStatus st = kelvo::primitives::detail::CheckImage2(pSrc, pDst, roiSize);
  if (st != ippStsNoErr) return st;
  const size_t bytes = static_cast<size_t>(roiSize.width) * sizeof(Ipp32f);
  for (int y = 0; y < roiSize.height; ++y) {
    std::memmove(RowAt(pDst, dstStep, y), RowAt(pSrc, srcStep, y), bytes);
  }
  return ippStsNoErr;
}
