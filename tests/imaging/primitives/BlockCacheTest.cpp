// The block cache behind every frame-sized buffer of the library: alignment,
// zeroing, reuse of freed blocks whole or split, eviction (on freeing and
// before a fresh block is mapped) and trimming.
// Reuse is checked only when caching is on (it is off under AddressSanitizer
// so that a use after free is still reported).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "imaging/primitives/BlockCache.h"

namespace {

using namespace kelvo::memory;

constexpr std::size_t kMiB = 1024 * 1024;

bool Aligned(const void* p) {
  return reinterpret_cast<std::uintptr_t>(p) % kBlockAlignment == 0;
}

bool AllZero(const uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

class BlockCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { TrimBlockCache(); }
  void TearDown() override { TrimBlockCache(); }
  static bool Caching() { return GetBlockCacheStats().capBytes > 0; }
};

TEST_F(BlockCacheTest, BlocksOfEverySizeAreAlignedAndWritableAndOverflowsFail) {
  for (std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{4096},
                            256 * kMiB / 1024 - 1, 256 * kMiB / 1024, 3 * kMiB + 5, 9 * kMiB}) {
    SCOPED_TRACE(bytes);
    auto* p = static_cast<uint8_t*>(AllocateBlock(bytes));
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(Aligned(p));
    std::memset(p, 0xA5, bytes == 0 ? 1 : bytes);
    FreeBlock(p);
  }
  FreeBlock(nullptr);
  EXPECT_FALSE(AllocateArray<double>(SIZE_MAX / 4));
  EXPECT_EQ(AllocateBlock(SIZE_MAX - 8), nullptr);
}

TEST_F(BlockCacheTest, ZeroedBlocksAreZeroEvenWhenRecycled) {
  constexpr std::size_t n = 3 * kMiB;
  auto* first = static_cast<uint8_t*>(AllocateBlock(n, true));
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(AllZero(first, n));
  std::memset(first, 0xFF, n);
  FreeBlock(first);
  auto* second = static_cast<uint8_t*>(AllocateBlock(n, true));
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(AllZero(second, n));
  FreeBlock(second);

  auto small = AllocateArray<uint32_t>(1000, true);
  ASSERT_TRUE(small);
  EXPECT_TRUE(AllZero(reinterpret_cast<uint8_t*>(small.get()), 4000));
}

TEST_F(BlockCacheTest, AFreedLargeBlockServesTheNextRequestItFits) {
  if (!Caching()) GTEST_SKIP() << "caching is off in this build";
  void* a = AllocateBlock(6 * kMiB);
  ASSERT_NE(a, nullptr);
  FreeBlock(a);
  const BlockCacheStats before = GetBlockCacheStats();
  EXPECT_EQ(before.cachedBlocks, 1u);
  EXPECT_GE(before.cachedBytes, 6 * kMiB);

  void* b = AllocateBlock(5 * kMiB);  // fits, and wastes less than half
  EXPECT_EQ(b, a);
  const BlockCacheStats during = GetBlockCacheStats();
  EXPECT_EQ(during.reuses, before.reuses + 1);
  EXPECT_EQ(during.cachedBlocks, 0u);
  EXPECT_GE(during.liveLargeBytes, 5 * kMiB);
  FreeBlock(b);
}

TEST_F(BlockCacheTest, ASmallRequestTakesOnlyItsPartOfALargerBlockAndThePartsJoinAgain) {
  if (!Caching()) GTEST_SKIP() << "caching is off in this build";
  auto* big = static_cast<uint8_t*>(AllocateBlock(16 * kMiB));
  ASSERT_NE(big, nullptr);
  std::memset(big, 0x5A, 16 * kMiB);
  FreeBlock(big);
  const BlockCacheStats before = GetBlockCacheStats();
  auto* quarter = static_cast<uint8_t*>(AllocateBlock(4 * kMiB));
  auto* rest = static_cast<uint8_t*>(AllocateBlock(3 * kMiB, true));
  ASSERT_NE(quarter, nullptr);
  ASSERT_NE(rest, nullptr);
  const BlockCacheStats split = GetBlockCacheStats();
  EXPECT_EQ(split.fresh, before.fresh);  // both came out of the freed block
  EXPECT_EQ(split.cachedBlocks, 1u);
  // The parts do not overlap, and the one asked zeroed is zero.
  EXPECT_TRUE(quarter + 4 * kMiB <= rest || rest + 3 * kMiB <= quarter);
  EXPECT_TRUE(AllZero(rest, 3 * kMiB));
  std::memset(quarter, 1, 4 * kMiB);
  std::memset(rest, 2, 3 * kMiB);
  EXPECT_LE(split.liveLargeBytes + split.cachedBytes, before.cachedBytes);
  FreeBlock(rest);
  FreeBlock(quarter);
  // Joined again: the whole block serves a request of its size.
  EXPECT_EQ(GetBlockCacheStats().cachedBlocks, 1u);
  void* again = AllocateBlock(16 * kMiB);
  EXPECT_EQ(again, big);
  EXPECT_EQ(GetBlockCacheStats().fresh, before.fresh);
  FreeBlock(again);
  void* larger = AllocateBlock(20 * kMiB);  // no cached block is big enough
  EXPECT_EQ(GetBlockCacheStats().fresh, before.fresh + 1);
  FreeBlock(larger);

  // Memory made ready ahead serves later requests the same way.
  TrimBlockCache();
  PrefaultBlocks(12 * kMiB);
  const BlockCacheStats ready = GetBlockCacheStats();
  EXPECT_GE(ready.cachedBytes, 12 * kMiB);
  auto* a = static_cast<uint8_t*>(AllocateBlock(5 * kMiB, true));
  auto* b = static_cast<uint8_t*>(AllocateBlock(5 * kMiB));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetBlockCacheStats().fresh, ready.fresh);
  EXPECT_TRUE(AllZero(a, 5 * kMiB));
  FreeBlock(a);
  FreeBlock(b);

  // Only mapped (stopped from the start): buffers far smaller than the
  // block are parts of it, and join up into it again when freed.
  TrimBlockCache();
  const std::atomic<bool> stopped{true};
  PrefaultBlocks(12 * kMiB, &stopped);
  const BlockCacheStats mapped = GetBlockCacheStats();
  EXPECT_GE(mapped.cachedBytes, 12 * kMiB);
  std::vector<uint8_t*> parts;
  for (std::size_t bytes : {2 * kMiB - 100, kMiB, 3 * kMiB}) {
    parts.push_back(static_cast<uint8_t*>(AllocateBlock(bytes, true)));
    ASSERT_NE(parts.back(), nullptr);
    EXPECT_TRUE(AllZero(parts.back(), bytes));
    std::memset(parts.back(), 7, bytes);
  }
  EXPECT_EQ(GetBlockCacheStats().fresh, mapped.fresh);
  for (uint8_t* p : parts) FreeBlock(p);
  EXPECT_EQ(GetBlockCacheStats().cachedBlocks, 1u);
  EXPECT_EQ(GetBlockCacheStats().cachedBytes, mapped.cachedBytes);
}

TEST_F(BlockCacheTest, TheCacheStaysWithinItsCapAndTrimEmptiesIt) {
  if (!Caching()) GTEST_SKIP() << "caching is off in this build";
  const std::size_t cap = GetBlockCacheStats().capBytes;
  std::vector<void*> blocks;
  for (std::size_t total = 0; total <= cap + 16 * kMiB; total += 8 * kMiB) {
    blocks.push_back(AllocateBlock(8 * kMiB));
    ASSERT_NE(blocks.back(), nullptr);
  }
  for (void* p : blocks) FreeBlock(p);
  const BlockCacheStats full = GetBlockCacheStats();
  EXPECT_LE(full.cachedBytes, cap);
  EXPECT_GT(full.cachedBlocks, 0u);
  EXPECT_EQ(full.liveLargeBytes, 0u);
  // A request that no cached block serves, with the blocks in use, gives
  // back what would take the total over the cap, oldest first, and keeps
  // what fits beside them.
  const std::size_t want = cap / 2 + 8 * kMiB;
  void* held = AllocateBlock(cap / 4);
  void* fresh = AllocateBlock(want);
  ASSERT_NE(held, nullptr);
  ASSERT_NE(fresh, nullptr);
  const BlockCacheStats after = GetBlockCacheStats();
  EXPECT_LE(after.liveLargeBytes + after.cachedBytes, cap + 2 * kMiB);
  EXPECT_GT(after.cachedBlocks, 0u);
  FreeBlock(fresh);
  FreeBlock(held);
  TrimBlockCache();
  EXPECT_EQ(GetBlockCacheStats().cachedBlocks, 0u);
  EXPECT_EQ(GetBlockCacheStats().cachedBytes, 0u);
}

TEST_F(BlockCacheTest, ThreadsShareItSafely) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 50; ++i) {
        const std::size_t n = static_cast<std::size_t>(300 * 1024 + 4096 * ((i + t) % 7));
        auto v = AllocateArray<float>(n);
        std::fill(v.get(), v.get() + n, 1.5f);
        auto a = AllocateArray<int32_t>(static_cast<std::size_t>(400 * 1024 + 1000 * t));
        a[0] = i;
        EXPECT_EQ(v[n - 1], 1.5f);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(GetBlockCacheStats().liveLargeBytes, 0u);
}

}  // namespace
