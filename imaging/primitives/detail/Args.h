#pragma once

// Argument checks shared by the primitives and their
// scalar reference. Private to imaging/primitives.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/Primitives.h"

namespace kelvo::primitives::detail {

// Status for a work buffer the primitive could not obtain (only the
// general-mask median needs one). Not among the statuses the library's
// callers inspect; they treat every non-zero status alike.
inline constexpr IppStatus kStsNoMemErr = -9;

using KelvoLibImageProcessing::RowAt;

inline bool BadSize(IppiSize s) {
  return s.width < 1 || s.height < 1;
}

// Null pointers are reported before sizes, as the callers' tests expect -8
// for a null image even when the size is also wrong.
inline IppStatus CheckImage2(const void* src, const void* dst, IppiSize roi) {
  if (src == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (BadSize(roi)) return ippStsSizeErr;
  return ippStsNoErr;
}

inline bool ValidMask(IppiMaskSize mask) {
  return mask == ippMskSize3x3 || mask == ippMskSize5x5;
}

// Median masks: odd sides of at least 1 and an anchor inside the mask.
inline bool BadMedianMask(IppiSize mask, IppiPoint anchor) {
  return BadSize(mask) || mask.width % 2 == 0 || mask.height % 2 == 0 || anchor.x < 0 ||
         anchor.y < 0 || anchor.x >= mask.width || anchor.y >= mask.height;
}

}  // namespace kelvo::primitives::detail
