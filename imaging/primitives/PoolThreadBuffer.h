#pragma once

// A pool thread's own work memory, kept from one band and one call to the
// next. Memory allocated for every band is given back to the system by a
// pool thread's allocator and faulted in again by the next band; this is
// allocated once per thread and grows when a larger one is asked for.
//
// Held by one band at a time: get() is null while another band of the same
// thread holds it, for a request of no bytes or above kMaxBytes, or when
// memory is short, and the caller then uses memory of its own. Each Tag has
// a buffer of its own, so a band that holds one may call code that holds
// another.

#include <cstddef>

#include "imaging/primitives/BlockCache.h"

namespace kelvo::memory {

template <class Tag, std::size_t kMaxBytes = ~std::size_t{0}>
class PoolThreadBuffer {
 public:
  explicit PoolThreadBuffer(std::size_t bytes) noexcept {
    if (held_ || bytes == 0 || bytes > kMaxBytes) return;
    if (size_ < bytes) {
      buffer_ = AllocateArray<unsigned char>(bytes);
      size_ = buffer_ ? bytes : 0;
      if (!buffer_) return;
    }
    held_ = true;
    mine_ = true;
  }
  ~PoolThreadBuffer() {
    if (mine_) held_ = false;
  }
  PoolThreadBuffer(const PoolThreadBuffer&) = delete;
  PoolThreadBuffer& operator=(const PoolThreadBuffer&) = delete;

  unsigned char* get() const noexcept { return mine_ ? buffer_.get() : nullptr; }

 private:
  static inline thread_local BlockArray<unsigned char> buffer_;
  static inline thread_local std::size_t size_ = 0;
  static inline thread_local bool held_ = false;
  bool mine_ = false;
};

}  // namespace kelvo::memory
