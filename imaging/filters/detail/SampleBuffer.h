#pragma once

// Owned, 32-byte aligned sample arrays for work buffers; null when the
// allocation fails, freed when the handle goes out of scope.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "imaging/core/detail/AlignedBuffer.h"

namespace KelvoLibImageProcessing::detail {

struct SampleDeleter {
  void operator()(void* p) const noexcept { FreePixels(static_cast<uint8_t*>(p)); }
};

template <class T>
using SampleBuffer = std::unique_ptr<T[], SampleDeleter>;

template <class T>
SampleBuffer<T> AllocateSamples(std::size_t count) noexcept {
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) return SampleBuffer<T>();
  return SampleBuffer<T>(reinterpret_cast<T*>(AllocatePixels(count * sizeof(T))));
}

}  // namespace KelvoLibImageProcessing::detail
