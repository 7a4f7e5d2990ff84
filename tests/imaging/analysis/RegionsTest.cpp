#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/analysis/Regions.h"
#include "imaging/analysis/detail/RegionSort.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::ThrowsIPException;

std::vector<int32_t> LabelMap(const Regions& r) {
  const int32_t* m = r.GetLabelMap();
  return std::vector<int32_t>(m, m + static_cast<std::size_t>(r.GetWidth() * r.GetHeight()));
}

void ExpectBox(const RegionRecord& r, int minX, int minY, int maxX, int maxY, int count) {
  EXPECT_EQ(r.minX, minX);
  EXPECT_EQ(r.minY, minY);
  EXPECT_EQ(r.maxX, maxX);
  EXPECT_EQ(r.maxY, maxY);
  EXPECT_EQ(r.pixelCount, count);
}

TEST(RegionsTest, ArmsOfAUMerge) {
  const uint8_t v[] = {1, 0, 1, 1, 1, 1};
  Regions r(3, 2, v, 3, 1, false);
  ASSERT_EQ(r.GetRegionCount(), 2);
  ExpectBox(r.GetRegions()[0], 0, 0, 2, 1, 5);
  EXPECT_EQ(r.GetRegions()[0].value, 1);
  // The folded right arm passes its neighbour (the zero's label) to the root.
  EXPECT_EQ(r.GetRegions()[0].neighbourLabel, 1);
  ExpectBox(r.GetRegions()[1], 1, 0, 1, 0, 1);
  EXPECT_EQ(LabelMap(r), (std::vector<int32_t>{0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(r.GetDiscardedCount(), 0);
  EXPECT_EQ(r.GetSpeckCount(), 0);
}

// Four regions of two pixels each: the region sort numbers them 1, 2, 0, 3
// by provisional label (pivot swaps, no comparison moves equal keys).
TEST(RegionsTest, EqualPixelCountsFollowTheRegionSort) {
  const uint8_t v[] = {10, 10, 20, 20, 30, 30, 40, 40};
  Regions r(8, 1, v, 8, 1, false);
  ASSERT_EQ(r.GetRegionCount(), 4);
  EXPECT_EQ(LabelMap(r), (std::vector<int32_t>{2, 2, 0, 0, 1, 1, 3, 3}));
  EXPECT_EQ(r.GetRegions()[0].value, 20);
  EXPECT_EQ(r.GetRegions()[1].value, 30);
  EXPECT_EQ(r.GetRegions()[2].value, 10);
  EXPECT_EQ(r.GetRegions()[3].value, 40);
}

// The procedure written the obvious recursive way; the library's version
// keeps its own stack and must order ties identically.
void RecursiveSort(std::vector<int32_t>& k, std::vector<int32_t>& c, int left, int right) {
  while (left < right) {
    std::swap(k[left], k[(left + right) / 2]);
    std::swap(c[left], c[(left + right) / 2]);
    int last = left;
    for (int i = left + 1; i <= right; ++i) {
      if (k[i] > k[left]) {
        ++last;
        std::swap(k[last], k[i]);
        std::swap(c[last], c[i]);
      }
    }
    std::swap(k[left], k[last]);
    std::swap(c[left], c[last]);
    RecursiveSort(k, c, left, last - 1);
    left = last + 1;
  }
}

TEST(RegionsTest, RegionSortOrdersTiesLikeTheRecursiveProcedure) {
  std::mt19937 rng(3);
  for (int n : {0, 1, 2, 3, 7, 64, 1000, 5000}) {
    for (int spread : {1, 3, 50, 100000}) {
      std::vector<int32_t> keys(static_cast<std::size_t>(n)), comp(keys.size());
      for (int i = 0; i < n; ++i) {
        keys[static_cast<std::size_t>(i)] = static_cast<int32_t>(rng() % spread);
        comp[static_cast<std::size_t>(i)] = i;
      }
      std::vector<int32_t> k2 = keys, c2 = comp;
      detail::RegionSort(keys.data(), comp.data(), n);
      RecursiveSort(k2, c2, 0, n - 1);
      ASSERT_EQ(comp, c2) << n << " " << spread;
      ASSERT_EQ(keys, k2);
      for (int i = 1; i < n; ++i) ASSERT_GE(keys[i - 1], keys[i]);
    }
  }
  // Already ordered and reversed input: deep for a naive recursion.
  std::vector<int32_t> keys(200000), comp(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    keys[i] = static_cast<int32_t>(i);
    comp[i] = static_cast<int32_t>(i);
  }
  detail::RegionSort(keys.data(), comp.data(), static_cast<int>(keys.size()));
  EXPECT_EQ(keys.front(), 199999);
  EXPECT_EQ(comp.back(), 0);
}

TEST(RegionsTest, NothingSurvivesAnUnreachableMinimum) {
  // Regions of 1, 2 and 3 pixels; minSize 200 gives speckSize 2.
  const uint8_t v[] = {1, 2, 2, 3, 3, 3};
  Regions r(6, 1, v, 6, 200, false);
  EXPECT_EQ(r.GetSpeckSize(), 2);
  EXPECT_EQ(r.GetRegionCount(), 0);
  EXPECT_EQ(r.GetSpeckCount(), 1);
  EXPECT_EQ(r.GetDiscardedCount(), 2);
  EXPECT_EQ(LabelMap(r), (std::vector<int32_t>{-2, -1, -1, -1, -1, -1}));
  int count = -1;
  r.GetRegionsBB(count);
  EXPECT_EQ(count, 0);
  const int32_t* box = r.GetRegionsMapBB();
  EXPECT_EQ(std::vector<int32_t>(box, box + 6), LabelMap(r));
}

// A 20 x 20 region of ones (minSize 300, speckSize 3) with small zero specks.
TEST(RegionsTest, SpecksAreAbsorbedByKeptNeighbours) {
  const int w = 20, h = 20;
  std::vector<uint8_t> v(static_cast<std::size_t>(w * h), 1);
  auto at = [&](int x, int y) -> uint8_t& { return v[static_cast<std::size_t>(y * w + x)]; };
  at(0, 0) = 0;             // corner: no neighbour before it, stays -2
  at(10, 10) = 0;           // single speck: filled from the left
  at(4, 3) = at(5, 3) = 0;  // horizontal pair: the second reads the filled first
  at(0, 8) = at(0, 9) = 0;  // vertical pair at the row start: filled from above
  at(15, 15) = 2;           // a different value, also a speck
  Regions r(w, h, v.data(), w, 300, false);
  ASSERT_EQ(r.GetRegionCount(), 1);
  EXPECT_EQ(r.GetSpeckCount(), 5);
  EXPECT_EQ(r.GetDiscardedCount(), 0);
  const auto map = LabelMap(r);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(map[static_cast<std::size_t>(y * w + x)], (x == 0 && y == 0) ? -2 : 0)
          << x << "," << y;
    }
  }
  // The box map keeps the unabsorbed speck's -2.
  const int32_t* box = r.GetRegionsMapBB();
  EXPECT_EQ(box[0], -2);
  EXPECT_EQ(box[1], 0);
}

// A discarded region is marked by each of its labels' own pixel counts: the
// merged arm of a U has none left after folding, so its pixels count as a
// speck and are absorbed, while the rest of the U stays -1.
TEST(RegionsTest, FoldedLabelsOfDiscardedRegionsAreSpecks) {
  const int w = 30, h = 30;
  std::vector<uint8_t> v(static_cast<std::size_t>(w * h), 0);
  auto at = [&](int x, int y) -> uint8_t& { return v[static_cast<std::size_t>(y * w + x)]; };
  at(10, 10) = at(12, 10) = 1;
  at(10, 11) = at(11, 11) = at(12, 11) = 1;
  Regions r(w, h, v.data(), w, 300, false);
  ASSERT_EQ(r.GetRegionCount(), 1);
  const auto map = LabelMap(r);
  auto m = [&](int x, int y) { return map[static_cast<std::size_t>(y * w + x)]; };
  EXPECT_EQ(m(10, 10), -1);
  EXPECT_EQ(m(12, 10), 0);
  EXPECT_EQ(m(10, 11), -1);
  EXPECT_EQ(m(11, 11), -1);
  EXPECT_EQ(m(12, 11), -1);
  EXPECT_EQ(m(11, 10), 0);
  EXPECT_EQ(r.GetDiscardedCount(), 1);
  EXPECT_EQ(r.GetSpeckCount(), 1);
}

TEST(RegionsTest, ZeroMinimumKeepsFoldedLabelsAfterRealRegions) {
  const uint8_t v[] = {1, 0, 1, 1, 1, 1};
  Regions r(3, 2, v, 3, 0, false);
  ASSERT_EQ(r.GetRegionCount(), 3);
  ExpectBox(r.GetRegions()[0], 0, 0, 2, 1, 5);
  ExpectBox(r.GetRegions()[1], 1, 0, 1, 0, 1);
  ExpectBox(r.GetRegions()[2], INT_MAX, INT_MAX, -1, -1, 0);
  EXPECT_EQ(LabelMap(r), (std::vector<int32_t>{0, 1, 0, 0, 0, 0}));
  int count = 0;
  const RegionRecord* bb = r.GetRegionsBB(count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(bb[0].pixelCount, 5);
  EXPECT_EQ(bb[1].pixelCount, 1);
  EXPECT_EQ(bb[2].pixelCount, 0);  // the empty record sorts last
}

// Pixel order: zeros (13), block (12), L (10). Box areas: 30, 12, 30; the
// region sort puts the L first among the tied 30s.
TEST(RegionsTest, BoundingBoxOrderAndMap) {
  const uint8_t v[] = {
      2, 0, 1, 1, 1, 1, 0,  //
      2, 0, 1, 1, 1, 1, 0,  //
      2, 0, 1, 1, 1, 1, 0,  //
      2, 0, 0, 0, 0, 0, 0,  //
      2, 2, 2, 2, 2, 2, 0,  //
  };
  Regions r(7, 5, v, 7, 1, false);
  ASSERT_EQ(r.GetRegionCount(), 3);
  EXPECT_EQ(r.GetRegions()[0].value, 0);
  EXPECT_EQ(r.GetRegions()[1].value, 1);
  EXPECT_EQ(r.GetRegions()[2].value, 2);
  int count = 0;
  const RegionRecord* bb = r.GetRegionsBB(count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(bb[0].value, 2);
  EXPECT_EQ(bb[1].value, 0);
  EXPECT_EQ(bb[2].value, 1);
  EXPECT_EQ(std::vector<int32_t>(r.GetBoxOrder(), r.GetBoxOrder() + 3),
            (std::vector<int32_t>{2, 0, 1}));
  EXPECT_EQ(r.GetRegionsBB(count), bb);  // built once
  const int32_t* box = r.GetRegionsMapBB();
  for (int i = 0; i < 35; ++i) {
    EXPECT_EQ(box[i], v[i] == 2 ? 0 : (v[i] == 0 ? 1 : 2)) << i;
  }
  EXPECT_EQ(r.GetRegionsMapBB(), box);
}

// A checkerboard of 1000 x 501 pixels makes 501,000 one-pixel regions: the
// last 1,001 pixels all land in the overflow label, which is the only region
// of at least 2 pixels.
TEST(RegionsTest, OverflowLabelCollectsEveryLaterRegion) {
  const int w = 1000, h = 501;
  std::vector<uint8_t> v(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v[static_cast<std::size_t>(y * w + x)] = (x + y) % 2;
  Regions r(w, h, v.data(), w, 2, false);
  ASSERT_EQ(r.GetRegionCount(), 1);
  const RegionRecord& o = r.GetRegions()[0];
  ExpectBox(o, 0, 499, 999, 500, 1001);
  EXPECT_EQ(o.value, 0);  // pixel (999, 499) started it
  EXPECT_EQ(r.GetDiscardedCount(), Regions::kMaxLabels - 1);
  const auto map = LabelMap(r);
  EXPECT_EQ(map[499 * w + 998], -1);
  EXPECT_EQ(map[499 * w + 999], 0);
  for (int x = 0; x < w; ++x) EXPECT_EQ(map[static_cast<std::size_t>(500 * w + x)], 0);
}

TEST(RegionsTest, ReleaseAndMisuse) {
  const uint8_t v[] = {1, 2};
  Regions r(2, 1, v, 2, 1, false);
  r.Release();
  EXPECT_EQ(r.GetRegionCount(), 0);
  EXPECT_EQ(r.GetLabelMap(), nullptr);
  int count = -1;
  EXPECT_EQ(r.GetRegionsBB(count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(ThrowsIPException([&] { r.GetRegionsMapBB(); }, 25, "Regions::GetRegionsMapBB"));
  EXPECT_TRUE(ThrowsIPException(
      [&] { r.Initialize(2, 1, static_cast<const uint8_t*>(nullptr), 2, 1, false); }, 5,
      "Regions::Initialize"));
  EXPECT_TRUE(
      ThrowsIPException([&] { r.Initialize(2, 1, v, 1, 1, false); }, 6, "Regions::Initialize"));
  EXPECT_TRUE(
      ThrowsIPException([&] { r.Initialize(0, 1, v, 2, 1, false); }, 0, "Regions::Initialize"));
  // A second Initialize replaces the first one's tables.
  r.Initialize(2, 1, v, 2, 1, false);
  r.GetRegionsMapBB();
  const uint8_t same[] = {4, 4};
  r.Initialize(2, 1, same, 2, 1, false);
  EXPECT_EQ(r.GetRegionCount(), 1);
  EXPECT_EQ(r.GetRegionsMapBB()[1], 0);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
