#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace KelvoLibImageProcessing::detail {

// The analysis tables report a failed allocation as an IPException of their
// own, so they allocate without throwing and test for null.

// count elements, uninitialised; null when the allocation fails or the size
// does not fit in size_t.
template <class T>
std::unique_ptr<T[]> AllocateArray(std::size_t count) noexcept {
  if (count == 0) count = 1;
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Same, every element zero.
template <class T>
std::unique_ptr<T[]> AllocateZeroed(std::size_t count) noexcept {
  if (count == 0) count = 1;
  if (count > SIZE_MAX / sizeof(T)) return nullptr;
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

}  // namespace KelvoLibImageProcessing::detail
