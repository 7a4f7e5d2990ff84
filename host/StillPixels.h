#pragma once

// Pixel storage for stills in flight: a vector whose memory comes from the
// image library's block cache.
//
// A still is frame-sized (6 MB at 1080p) and copied out of the filter, and
// an enhanced one has a second buffer as large. From the system heap each
// such buffer is fresh memory that faults in 4 KiB at a time, which costs
// more than the copy itself; from the block cache it is a block the last
// still used, or fresh huge pages.

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "imaging/primitives/BlockCache.h"

namespace kelvo::host {

template <class T>
struct BlockAllocator {
  using value_type = T;

  BlockAllocator() noexcept = default;
  template <class U>
  BlockAllocator(const BlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = kelvo::memory::AllocateBlock(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { kelvo::memory::FreeBlock(p); }

  template <class U>
  bool operator==(const BlockAllocator<U>&) const noexcept {
    return true;
  }
};

using StillPixels = std::vector<uint8_t, BlockAllocator<uint8_t>>;

}  // namespace kelvo::host
