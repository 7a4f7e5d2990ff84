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
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing::detail {

// Whole-image checks in their fixed order over all given images: every image
// present (code 4), equal pixel formats (3), equal dimensions (1), then every
// buffer present (5).
inline void CheckImages(const char* where, std::initializer_list<const BitmapData*> images) {
  for (const BitmapData* image : images) {
    if (image == nullptr) throw IPException(4, where);
  }
  const BitmapData* first = *images.begin();
  for (const BitmapData* image : images) {
    if (image->GetFormat() != first->GetFormat()) throw IPException(3, where);
  }
  for (const BitmapData* image : images) {
    if (image->GetWidth() != first->GetWidth() || image->GetHeight() != first->GetHeight()) {
      throw IPException(1, where);
    }
  }
  for (const BitmapData* image : images) {
    if (image->GetData() == nullptr) throw IPException(5, where);
  }
}

// A primitive's status: anything but 0 raises code 15 with the where-string
// naming the caller and the primitive, "Class::Method(primitive)".
inline void CheckStatus(IppStatus status, const char* where) {
  if (status != ippStsNoErr) throw IPException(15, where);
}

// Runs body; an IPException passes through unchanged, any other exception
// becomes code 16 with the given where-string.
template <class Body>
decltype(auto) GuardForeign(const char* where, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const IPException&) {
    throw;
  } catch (...) {
    throw IPException(16, where);
  }
}

struct IppiFreeDeleter {
  void operator()(void* p) const noexcept { ippiFree(p); }
};
struct IppsFreeDeleter {
  void operator()(void* p) const noexcept { ippsFree(p); }
};

// Memory from ippiMalloc_* and from ippsMalloc_8u, freed with the matching
// function when the handle goes out of scope.
template <class T>
using IppiImage = std::unique_ptr<T, IppiFreeDeleter>;
template <class T>
using IppsBuffer = std::unique_ptr<T, IppsFreeDeleter>;

}  // namespace KelvoLibImageProcessing::detail
