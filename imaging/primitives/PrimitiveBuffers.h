#pragma once

// Owned memory from the primitive allocators (ippiMalloc_*, ippsMalloc_8u),
// freed with the matching free function when the handle goes out of scope,
// so no failure path leaks. Work buffers that do not come from the
// primitives use kelvo::memory::BlockArray (BlockCache.h).

#include <memory>

#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing {

struct IppiFreeDeleter {
  void operator()(void* p) const noexcept { ippiFree(p); }
};
struct IppsFreeDeleter {
  void operator()(void* p) const noexcept { ippsFree(p); }
};

template <class T>
using IppiImage = std::unique_ptr<T, IppiFreeDeleter>;
template <class T>
using IppsBuffer = std::unique_ptr<T, IppsFreeDeleter>;

}  // namespace KelvoLibImageProcessing
