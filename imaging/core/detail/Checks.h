#pragma once

// The library's error vocabulary, shared by every operation:
//  - CheckImages applies the fixed order of whole-image checks;
//  - CheckStatus turns a primitive's non-zero status into code 15;
//  - GuardForeign turns any exception other than IPException into code 16;
//  - PrimitiveBuffer holds memory from the primitive allocators and frees it
//    with the matching free function, so no failure path leaks.

#include <initializer_list>
#include <memory>
#include <utility>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/PrimitiveBuffers.h"
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing::detail {

// Where an operation limits the sides of its images (the convolution,
// sharpening and blending want at least 64 and multiples of 4), the limit
// adds a size check (code 0) to the order. Its place is part of each
// operation's contract, since a caller with several faults sees the first:
// sharpening checks its input's size before comparing the two images,
// convolution and blending compare first. Blending checks its opacity before
// the buffers, so it leaves the buffer check to itself.
struct ImageChecks {
  bool (*validSide)(int side) = nullptr;  // the size limit, or none
  bool sizeBeforeEqualSize = false;
  bool buffers = true;
};

// Whole-image checks in their fixed order over all given images: every image
// present (code 4), equal pixel formats (3), equal dimensions (1), then every
// buffer present (5); the first image's size (0) where checks say so.
inline void CheckImages(const char* where, std::initializer_list<const BitmapData*> images,
                        const ImageChecks& checks = {}) {
  for (const BitmapData* image : images) {
    if (image == nullptr) throw IPException(ErrorCode::kNullImage, where);
  }
  const BitmapData* first = *images.begin();
  for (const BitmapData* image : images) {
    if (image->GetFormat() != first->GetFormat()) {
      throw IPException(ErrorCode::kMismatchedFormats, where);
    }
  }
  const auto checkSize = [&] {
    if (checks.validSide != nullptr &&
        (!checks.validSide(first->GetWidth()) || !checks.validSide(first->GetHeight()))) {
      throw IPException(ErrorCode::kInvalidDimensions, where);
    }
  };
  if (checks.sizeBeforeEqualSize) checkSize();
  for (const BitmapData* image : images) {
    if (image->GetWidth() != first->GetWidth() || image->GetHeight() != first->GetHeight()) {
      throw IPException(ErrorCode::kMismatchedDimensions, where);
    }
  }
  if (!checks.sizeBeforeEqualSize) checkSize();
  if (!checks.buffers) return;
  for (const BitmapData* image : images) {
    if (image->GetData() == nullptr) throw IPException(ErrorCode::kNullData, where);
  }
}

// A primitive's status: anything but 0 raises code 15 with the where-string
// naming the caller and the primitive, "Class::Method(primitive)".
inline void CheckStatus(IppStatus status, const char* where) {
  if (status != ippStsNoErr) throw IPException(ErrorCode::kPrimitiveFailed, where);
}

// Runs body; an IPException passes through unchanged, any other exception
// becomes the given code (by default code 16, the foreign exception raised
// inside a primitive call) with the given where-string.
template <class Body>
decltype(auto) GuardForeign(ErrorCode code, const char* where, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const IPException&) {
    throw;
  } catch (...) {
    throw IPException(code, where);
  }
}
template <class Body>
decltype(auto) GuardForeign(const char* where, Body&& body) {
  return GuardForeign(ErrorCode::kPrimitiveException, where, std::forward<Body>(body));
}

// Memory from ippiMalloc_* and from ippsMalloc_8u (PrimitiveBuffers.h).
using KelvoLibImageProcessing::IppiImage;
using KelvoLibImageProcessing::IppsBuffer;

}  // namespace KelvoLibImageProcessing::detail
