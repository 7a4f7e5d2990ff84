#pragma once

// Work memory for the image library: every frame-sized buffer (pixels,
// planes, tables, wavelet bands) comes from here.
//
// Why: enhancing a still allocates and frees a few dozen frame-sized blocks,
// and every time the system allocator hands such a block back to the kernel
// the next still pays one page fault per 4 KiB page on first touch. On a
// virtual machine that is ~20 us a fault, several times the cost of the image
// processing itself. So large blocks are kept when freed and handed out again
// to the next request they fit, and fresh ones are mapped in whole
// transparent huge pages (one fault per 2 MiB instead of 512).
//
// How the cache behaves:
// - Small blocks (below 256 KiB) go straight to the system allocator.
// - A freed large block stays cached up to a cap (KELVO_BLOCK_CACHE_MB,
//   default 224 MiB; 0 turns caching off); beyond it the blocks freed
//   longest ago are returned to the system first.
// - A cached block is reused whole only for a request of at least half its
//   size (or one whose fresh block would be as large: blocks are whole
//   2 MiB pages). A request that no cached block fits so takes the front
//   of the smallest longer mapped block, in whole huge pages, and the rest
//   stays cached; freed blocks join the cached blocks they adjoin. A small
//   buffer so never pins a huge block, and one stage's large buffers serve
//   the next stage's differently sized ones without fresh memory.
// - The cap bounds the large blocks in use and the cached ones together: a
//   freed block is cached, and a request that no cached block serves maps a
//   fresh one, only after cached blocks, oldest first, are given back as far
//   as needed to stay within it. Blocks that wait in the cache so never add
//   to the peak of a photograph whose own blocks come near the cap (the
//   default keeps a 4000 x 3000 photograph's enhancement within ~225 MB),
//   while the repeated stills of a video stream, far smaller, keep all
//   theirs.
// - TrimBlockCache() gives every cached block back, e.g. when streaming stops.
// - Under AddressSanitizer nothing is cached and nothing is mapped by hand,
//   so a use after free is still caught.
// - Blocks are 64-byte aligned. Thread-safe; never throws.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace kelvo::memory {

inline constexpr std::size_t kBlockAlignment = 64;

// At least `bytes` of 64-byte aligned memory (uninitialised unless `zeroed`),
// or null when it cannot be had. `bytes` 0 gives a valid one-byte block.
void* AllocateBlock(std::size_t bytes, bool zeroed = false) noexcept;

// Frees a block from AllocateBlock; null is ignored.
void FreeBlock(void* block) noexcept;

// Maps `bytes` of fresh memory, makes its pages present and caches it (as
// far as the cap allows) for the large requests that follow, which take
// their parts of it. For a thread that has nothing else to do while another
// prepares work: the kernel zeroes the pages there rather than in the first
// touches of the work. Once `stop` (when given) is set, it stops after the
// huge page at hand and caches the block as far as it got: the rest of its
// pages come on first touch. With `stop` set from the start the block is
// only mapped, so that the requests that follow are parts of one block and
// join up again when freed. Nothing happens when caching is off or the
// cache already holds `bytes`.
void PrefaultBlocks(std::size_t bytes, const std::atomic<bool>* stop = nullptr) noexcept;

// Returns every cached block to the system.
void TrimBlockCache() noexcept;

struct BlockCacheStats {
  std::size_t capBytes = 0;  // 0: caching is off
  std::size_t cachedBlocks = 0;
  std::size_t cachedBytes = 0;
  std::size_t liveLargeBytes = 0;  // large blocks handed out and not yet freed
  std::uint64_t reuses = 0;        // large requests served from the cache
  std::uint64_t fresh = 0;         // large requests served by the system
};
BlockCacheStats GetBlockCacheStats() noexcept;

template <class T>
struct BlockDeleter {
  void operator()(T* p) const noexcept { FreeBlock(p); }
};

// An owned array of trivially copyable T from the block cache: the one
// owned work-buffer type of the library (memory from the primitive
// allocators is held by IppiImage, PrimitiveBuffers.h).
template <class T>
using BlockArray = std::unique_ptr<T[], BlockDeleter<T>>;

// `count` elements, uninitialised unless `zeroed`; null on failure or when
// the byte count overflows.
template <class T>
BlockArray<T> AllocateArray(std::size_t count, bool zeroed = false) noexcept {
  static_assert(alignof(T) <= kBlockAlignment);
  if (count > SIZE_MAX / sizeof(T)) return BlockArray<T>();
  return BlockArray<T>(static_cast<T*>(AllocateBlock(count * sizeof(T), zeroed)));
}

}  // namespace kelvo::memory
