#pragma once

#include <cstddef>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing::detail {

// The analysis tables report a failed allocation as an IPException of their
// own, so they allocate without throwing and test for null. Their memory
// comes from the library's block cache, since most of it is frame-sized.

// count elements (at least one), uninitialised; null when the allocation
// fails or the size does not fit in size_t.
template <class T>
kelvo::memory::BlockArray<T> AllocateArray(std::size_t count) noexcept {
  return kelvo::memory::AllocateArray<T>(count == 0 ? 1 : count);
}

// Same, every element zero.
template <class T>
kelvo::memory::BlockArray<T> AllocateZeroed(std::size_t count) noexcept {
  return kelvo::memory::AllocateArray<T>(count == 0 ? 1 : count, true);
}

}  // namespace KelvoLibImageProcessing::detail
