#include "imaging/primitives/BlockCache.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#ifdef _WIN32
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_BLOCK_CACHE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_BLOCK_CACHE_SANITIZED 1
#endif
#endif

namespace kelvo::memory {
namespace {

constexpr std::size_t kLargeBlock = 256 * 1024;
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
// At 4000 x 3000 this keeps the skin analysis' 138 MB block for the work
// image and the noise reduction (94 MB not mapped afresh) with the peak
// unchanged (217 MB); at 256 the peak reached 250 MB with prefaulting.
[[maybe_unused]] constexpr std::size_t kDefaultCapMiB = 224;  // unused when sanitized
// Far beyond any image; a request above it is a size computation gone wrong
// and fails here rather than in the system allocator (which, under
// AddressSanitizer, aborts instead of returning null).
constexpr std::size_t kMaxBlock =
    static_cast<std::size_t>(std::min<std::uint64_t>(std::uint64_t{1} << 39, SIZE_MAX / 4));
constexpr int kMaxCached = 64;
constexpr std::uint64_t kMagic = 0x6b656c766f626c6bULL;  // "kelvoblk"

// Sits in front of every block; its size keeps the data 64-byte aligned.
struct alignas(kBlockAlignment) Header {
  std::uint64_t magic;
  std::size_t capacity;  // usable bytes after the header
  std::size_t mapped;    // bytes mapped by hand, 0 for the system heap
  void* base;            // what the system returned
};
static_assert(sizeof(Header) == kBlockAlignment);

Header* HeaderOf(void* block) {
  return reinterpret_cast<Header*>(static_cast<unsigned char*>(block) - sizeof(Header));
}
void* DataOf(Header* h) {
  return reinterpret_cast<unsigned char*>(h) + sizeof(Header);
}

std::size_t RoundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

void* HeapAlloc(std::size_t bytes) {
  bytes = RoundUp(bytes, kBlockAlignment);
#ifdef _WIN32
  return _aligned_malloc(bytes, kBlockAlignment);
#else
  return std::aligned_alloc(kBlockAlignment, bytes);  // size must be a multiple of the alignment
#endif
}

void HeapFree(void* p) {
#ifdef _WIN32
  _aligned_free(p);
#else
  std::free(p);
#endif
}

#if defined(__linux__) && !defined(KELVO_BLOCK_CACHE_SANITIZED)
// Makes the pages of a fresh mapping present in one call rather than one
// fault each. Kernels before 5.14 refuse it; the pages then come on first
// touch as before.
void Populate(void* start, std::size_t length) {
#ifdef MADV_POPULATE_WRITE
  madvise(start, length, MADV_POPULATE_WRITE);
#else
  (void)start;
  (void)length;
#endif
}
#endif

// A block straight from the system; `zeroed` is set when the system promises
// zero-filled memory.
Header* SystemBlock(std::size_t bytes, bool& zeroed) {
  zeroed = false;
  if (bytes > SIZE_MAX - sizeof(Header) - 2 * kHugePage) return nullptr;
  const std::size_t total = sizeof(Header) + bytes;
#if defined(__linux__) && !defined(KELVO_BLOCK_CACHE_SANITIZED)
  if (bytes >= kLargeBlock) {
    // Every large block is mapped on 2 MiB boundaries in whole huge pages.
    // On virtual machines each first touch of a 4 KiB page can cost ~20 us,
    // so a 1080p plane of just under 2 MiB in small pages took 10 ms to
    // touch, and 0.7 ms as one huge page. The rounding costs at most one
    // huge page per block, and the blocks are kept, split and reused. The
    // pages still come on first touch: making them present at once would
    // also commit the parts of a block a stage never writes.
    const std::size_t length = RoundUp(total, kHugePage);
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    unsigned char* start = static_cast<unsigned char*>(raw);
    const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(raw);
    const std::size_t head = RoundUp(addr, kHugePage) - addr;
    if (head > 0) munmap(raw, head);
    if (kHugePage - head > 0) munmap(start + head + length, kHugePage - head);
    start += head;
    madvise(start, length, MADV_HUGEPAGE);
    Header* h = reinterpret_cast<Header*>(start);
    *h = Header{kMagic, length - sizeof(Header), length, start};
    zeroed = true;
    return h;
  }
#endif
  void* raw = HeapAlloc(total);
  if (raw == nullptr) return nullptr;
  Header* h = static_cast<Header*>(raw);
  *h = Header{kMagic, bytes, 0, raw};
  return h;
}

void SystemFree(Header* h) {
#if defined(__linux__)
  if (h->mapped != 0) {
    munmap(h->base, h->mapped);
    return;
  }
#endif
  HeapFree(h->base);
}

// The capacity of a block SystemBlock would map for a large request.
std::size_t FreshCapacity(std::size_t bytes) {
#if defined(__linux__) && !defined(KELVO_BLOCK_CACHE_SANITIZED)
  return RoundUp(sizeof(Header) + bytes, kHugePage) - sizeof(Header);
#else
  return bytes;
#endif
}

std::size_t ReadCap() {
#ifdef KELVO_BLOCK_CACHE_SANITIZED
  return 0;
#else
  const char* env = std::getenv("KELVO_BLOCK_CACHE_MB");
  if (env == nullptr || *env == '\0') return kDefaultCapMiB << 20;
  char* end = nullptr;
  const unsigned long long mib = std::strtoull(env, &end, 10);
  if (*end != '\0' || mib > (SIZE_MAX >> 21)) return kDefaultCapMiB << 20;
  return static_cast<std::size_t>(mib) << 20;
#endif
}

class Cache {
 public:
  // A cached block that fits `bytes` without wasting more than half of it
  // (or no larger than a fresh block for it would be), the smallest such;
  // null when none. Then a fresh block will be mapped,
  // and cached blocks, oldest first, go back to the system (returned in
  // `evicted`, to be freed outside the lock) while the blocks in use, the
  // cached ones and the new one together would exceed the cap: a cached
  // block that the request cannot use would otherwise only add to the
  // process's peak (a large photograph's blocks alone can reach the cap).
  Header* Take(std::size_t bytes, Header** evicted, int& evictedCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    evictedCount = 0;
    int best = -1;
    for (int i = 0; i < count_; ++i) {
      const std::size_t c = entries_[i]->capacity;
      if (c >= bytes && (bytes >= c / 2 || c <= FreshCapacity(bytes)) &&
          (best < 0 || c < entries_[best]->capacity))
        best = i;
    }
    if (best < 0) {
      if (Header* h = SplitOff(FreshCapacity(bytes) + sizeof(Header))) {
        ++stats_.reuses;
        stats_.liveLargeBytes += h->capacity;
        return h;
      }
      ++stats_.fresh;
      while (count_ > 0 && stats_.liveLargeBytes + cached_ + bytes > cap_) {
        evicted[evictedCount++] = entries_[0];
        RemoveAt(0);
      }
      return nullptr;
    }
    Header* h = entries_[best];
    RemoveAt(best);
    ++stats_.reuses;
    stats_.liveLargeBytes += h->capacity;
    return h;
  }

  void CountFresh(Header* h) {
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.liveLargeBytes += h->capacity;
  }

  // Keeps `h`; returns the blocks to give back to the system (outside the
  // lock), oldest first, in `evicted`.
  int Put(Header* h, Header** evicted) {
    std::lock_guard<std::mutex> lock(mutex_);
    stats_.liveLargeBytes -= h->capacity;
    h = Merge(h);
    int n = 0;
    if (h->capacity > cap_ || stats_.liveLargeBytes + h->capacity > cap_) {
      evicted[n++] = h;
      return n;
    }
    while (count_ > 0 && (count_ == kMaxCached || cached_ + h->capacity > cap_ ||
                          stats_.liveLargeBytes + cached_ + h->capacity > cap_)) {
      evicted[n++] = entries_[0];
      RemoveAt(0);
    }
    entries_[count_++] = h;
    cached_ += h->capacity;
    return n;
  }

  int TakeAll(Header** out) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int n = count_;
    for (int i = 0; i < n; ++i) out[i] = entries_[i];
    count_ = 0;
    cached_ = 0;
    return n;
  }

  BlockCacheStats Stats() {
    std::lock_guard<std::mutex> lock(mutex_);
    BlockCacheStats s = stats_;
    s.capBytes = cap_;
    s.cachedBlocks = static_cast<std::size_t>(count_);
    s.cachedBytes = cached_;
    return s;
  }

  bool Enabled() const { return cap_ > 0; }

 private:
  // The front `length` bytes of the smallest cached mapped block longer than
  // that, as a block of their own; the rest stays cached in its place. Both
  // parts start on a 2 MiB boundary (lengths of mapped blocks are whole
  // huge pages), so each can be unmapped alone. Null when no block is long
  // enough. A large block freed by one stage so serves the differently
  // sized buffers of the next without new memory being mapped and touched.
  Header* SplitOff(std::size_t length) {
    int pick = -1;
    for (int i = 0; i < count_; ++i) {
      const Header* e = entries_[i];
      if (e->mapped > length && (pick < 0 || e->mapped < entries_[pick]->mapped)) pick = i;
    }
    if (pick < 0) return nullptr;
    Header* h = entries_[pick];
    auto* rest = reinterpret_cast<Header*>(reinterpret_cast<unsigned char*>(h) + length);
    *rest = Header{kMagic, h->mapped - length - sizeof(Header), h->mapped - length, rest};
    cached_ -= h->capacity - rest->capacity;
    entries_[pick] = rest;
    h->mapped = length;
    h->capacity = length - sizeof(Header);
    return h;
  }

  // Joins a freed mapped block with the cached blocks right before and
  // after it in memory (parts split off one mapping, or mappings the system
  // placed side by side) and returns the joined block, which then is no
  // longer in the cache; the pieces of a split block so become one again.
  Header* Merge(Header* h) {
    if (h->mapped == 0) return h;
    for (int i = 0; i < count_;) {
      Header* e = entries_[i];
      auto* es = reinterpret_cast<unsigned char*>(e);
      auto* hs = reinterpret_cast<unsigned char*>(h);
      if (e->mapped == 0 || (es + e->mapped != hs && hs + h->mapped != es)) {
        ++i;
        continue;
      }
      RemoveAt(i);
      Header* low = es < hs ? e : h;
      Header* high = low == e ? h : e;
      const std::size_t length = e->mapped + h->mapped;
      high->magic = 0;
      low->mapped = length;
      low->capacity = length - sizeof(Header);
      low->base = low;
      h = low;
      i = 0;  // the joined block may now touch another
    }
    return h;
  }

  // Entries stay in the order they were freed, oldest first.
  void RemoveAt(int i) {
    cached_ -= entries_[i]->capacity;
    for (int j = i + 1; j < count_; ++j) entries_[j - 1] = entries_[j];
    --count_;
  }

  std::mutex mutex_;
  const std::size_t cap_ = ReadCap();
  Header* entries_[kMaxCached] = {};
  int count_ = 0;
  std::size_t cached_ = 0;
  BlockCacheStats stats_;
};

Cache& TheCache() {
  // Never destroyed: blocks may be freed by other static destructors.
  static Cache* cache = new Cache();
  return *cache;
}

bool IsLarge(const Header* h) {
  return h->capacity >= kLargeBlock;
}

}  // namespace

void* AllocateBlock(std::size_t bytes, bool zeroed) noexcept {
  if (bytes == 0) bytes = 1;
  if (bytes > kMaxBlock) return nullptr;
  if (bytes >= kLargeBlock) {
    Cache& cache = TheCache();
    if (cache.Enabled()) {
      Header* evicted[kMaxCached];
      int n = 0;
      if (Header* h = cache.Take(bytes, evicted, n)) {
        if (zeroed) std::memset(DataOf(h), 0, bytes);
        return DataOf(h);
      }
      for (int i = 0; i < n; ++i) {
        evicted[i]->magic = 0;
        SystemFree(evicted[i]);
      }
    }
    bool clean = false;
    Header* h = SystemBlock(bytes, clean);
    if (h == nullptr) return nullptr;
    if (cache.Enabled()) cache.CountFresh(h);
    if (zeroed && !clean) std::memset(DataOf(h), 0, bytes);
    return DataOf(h);
  }
  bool clean = false;
  Header* h = SystemBlock(bytes, clean);
  if (h == nullptr) return nullptr;
  if (zeroed && !clean) std::memset(DataOf(h), 0, bytes);
  return DataOf(h);
}

void FreeBlock(void* block) noexcept {
  if (block == nullptr) return;
  Header* h = HeaderOf(block);
  if (h->magic != kMagic) return;  // not ours: leaking beats corrupting the heap
  Cache& cache = TheCache();
  if (!IsLarge(h) || !cache.Enabled()) {
    h->magic = 0;
    SystemFree(h);
    return;
  }
  Header* evicted[kMaxCached + 1];
  const int n = cache.Put(h, evicted);
  for (int i = 0; i < n; ++i) {
    evicted[i]->magic = 0;
    SystemFree(evicted[i]);
  }
}

void PrefaultBlocks(std::size_t bytes, const std::atomic<bool>* stop) noexcept {
#if defined(__linux__) && !defined(KELVO_BLOCK_CACHE_SANITIZED)
  Cache& cache = TheCache();
  if (!cache.Enabled() || bytes < kLargeBlock || bytes > kMaxBlock) return;
  if (cache.Stats().cachedBytes >= bytes) return;
  bool clean = false;
  Header* h = SystemBlock(bytes, clean);
  if (h == nullptr) return;
  // In huge pages, so that a caller that needs the memory now waits at
  // most for one of them.
  auto* start = reinterpret_cast<unsigned char*>(h);
  for (std::size_t done = 0; done < h->mapped; done += kHugePage) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) break;
    Populate(start + done, std::min(kHugePage, h->mapped - done));
  }
  cache.CountFresh(h);
  Header* evicted[kMaxCached + 1];
  const int n = cache.Put(h, evicted);
  for (int i = 0; i < n; ++i) {
    evicted[i]->magic = 0;
    SystemFree(evicted[i]);
  }
#else
  (void)bytes;
  (void)stop;
#endif
}

void TrimBlockCache() noexcept {
  Header* all[kMaxCached];
  const int n = TheCache().TakeAll(all);
  for (int i = 0; i < n; ++i) {
    all[i]->magic = 0;
    SystemFree(all[i]);
  }
}

BlockCacheStats GetBlockCacheStats() noexcept {
  return TheCache().Stats();
}

}  // namespace kelvo::memory
