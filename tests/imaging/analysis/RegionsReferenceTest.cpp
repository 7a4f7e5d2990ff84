// Regions against the plain pixel-by-pixel labelling: label maps, records
// (boxes, counts, values, neighbours, numbering), discarded and speck counts
// on noise, stripes, nested shapes and masks with specks, for 8-bit and
// 32-bit values, with and without mask comparison, on awkward sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/analysis/Regions.h"
#include "imaging/analysis/detail/RunEnd.h"
#include "imaging/analysis/reference/RegionsReference.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

bool SameRecord(const RegionRecord& a, const RegionRecord& b) {
  return std::memcmp(&a, &b, sizeof(RegionRecord)) == 0;
}

// Returns the number of specks, so that callers can tell their absorption
// was exercised.
template <class T>
int ExpectSameAsReference(int width, int height, const std::vector<T>& values, int strideElems,
                          int minSize, bool maskCompare) {
  SCOPED_TRACE(testing::Message() << width << "x" << height << " minSize " << minSize
                                  << " maskCompare " << maskCompare);
  const int stride = strideElems * static_cast<int>(sizeof(T));
  Regions r(width, height, values.data(), stride, minSize, maskCompare);
  const reference::RegionsReferenceResult ref =
      reference::LabelRegionsReference(width, height, values.data(), stride, minSize, maskCompare);
  if (r.GetRegionCount() != static_cast<int>(ref.regions.size())) {
    ADD_FAILURE() << r.GetRegionCount() << " regions, expected " << ref.regions.size();
    return ref.specks;
  }
  EXPECT_EQ(r.GetDiscardedCount(), ref.discarded);
  EXPECT_EQ(r.GetSpeckCount(), ref.specks);
  for (int i = 0; i < r.GetRegionCount(); ++i) {
    EXPECT_TRUE(SameRecord(r.GetRegions()[i], ref.regions[i])) << "region " << i;
  }
  const int32_t* map = r.GetLabelMap();
  int wrong = 0;
  for (std::size_t i = 0; i < ref.labelMap.size() && wrong < 5; ++i) {
    if (map[i] != ref.labelMap[i]) {
      ADD_FAILURE() << "pixel " << i << ": " << map[i] << " expected " << ref.labelMap[i];
      ++wrong;
    }
  }
  // The same labelling kept as runs: the same regions, and runs that cover
  // each row and carry the label map's labels.
  if constexpr (sizeof(T) == 1) {
    Regions runs;
    runs.InitializeRuns(width, height, values.data(), stride, minSize, maskCompare);
    EXPECT_EQ(runs.GetRegionCount(), r.GetRegionCount());
    EXPECT_EQ(runs.GetSpeckCount(), ref.specks);
    for (int i = 0; i < std::min(runs.GetRegionCount(), r.GetRegionCount()); ++i) {
      EXPECT_TRUE(SameRecord(runs.GetRegions()[i], ref.regions[i])) << "region " << i;
    }
    std::vector<int32_t> expanded(ref.labelMap.size(), INT32_MIN);
    for (int y = 0; y < height; ++y) {
      int count = 0;
      const RegionRun* row = runs.GetRuns(y, count);
      int x = 0;
      for (int i = 0; i < count; ++i) {
        if (row[i].x0 != x || row[i].x1 <= row[i].x0) {
          ADD_FAILURE() << "row " << y << " run " << i << " is not next to the one before";
          return ref.specks;
        }
        for (; x < row[i].x1; ++x) expanded[static_cast<std::size_t>(y) * width + x] = row[i].label;
      }
      EXPECT_EQ(x, width) << "row " << y;
    }
    EXPECT_EQ(expanded, ref.labelMap);
  }
  return ref.specks;
}

// Values of a few kinds: noise of `levels` values, stripes and blocks with
// noise, rings, and a sparse mask of specks on blobs.
template <class T>
std::vector<T> Pattern(int kind, int width, int height, int strideElems, std::mt19937& rng) {
  std::vector<T> v(static_cast<std::size_t>(strideElems) * height, static_cast<T>(77));
  const int levels = 2 + static_cast<int>(rng() % 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int value = 0;
      switch (kind) {
        case 0:
          value = static_cast<int>(rng() % static_cast<unsigned>(levels));
          break;
        case 1:
          value = rng() % 10 == 0 ? static_cast<int>(rng() % 3) : ((x / 5) + (y / 3)) % levels;
          break;
        case 2: {
          const int dx = x - width / 2, dy = y - height / 2;
          value = ((dx * dx + dy * dy) / 9) % levels + (rng() % 40 == 0 ? 1 : 0);
          break;
        }
        default: {
          const int dx = x % 23 - 11, dy = y % 17 - 8;
          value = (dx * dx + dy * dy < 50 && rng() % 20 != 0) || rng() % 50 == 0 ? 255 : 0;
          break;
        }
      }
      v[static_cast<std::size_t>(y) * strideElems + x] = static_cast<T>(value * (1 + kind));
    }
  }
  return v;
}

TEST(RegionsReferenceTest, EightBitValuesMatchThePixelLabelling) {
  std::mt19937 rng(31);
  int withSpecks = 0;
  for (int trial = 0; trial < 160; ++trial) {
    const int width = 1 + static_cast<int>(rng() % 90);
    const int height = 1 + static_cast<int>(rng() % 60);
    const int strideElems = width + static_cast<int>(rng() % 5);
    const auto values = Pattern<uint8_t>(trial % 4, width, height, strideElems, rng);
    const int minSizes[] = {0, 1, 3, 40, 150, 450};
    const int minSize = minSizes[rng() % 6];
    withSpecks +=
        ExpectSameAsReference(width, height, values, strideElems, minSize, trial % 3 == 0) > 0;
  }
  EXPECT_GT(withSpecks, 5);
}

// Shapes whose regions run across many bands of rows and join only far
// below where they start: a square spiral of one-pixel arms, combs whose
// teeth meet in a bar at the bottom, U shapes nested in each other, blocks
// tied by a single pixel, pixels touching only at corners, and a few
// values other than 0 and 1.
std::vector<uint8_t> SeamShapes(int width, int height, std::mt19937& rng) {
  std::vector<uint8_t> v(static_cast<std::size_t>(width) * height, 0);
  const auto set = [&](int x, int y, uint8_t value) {
    if (x >= 0 && x < width && y >= 0 && y < height) v[static_cast<std::size_t>(y) * width + x] = value;
  };
  // The spiral in the left third: arms two pixels apart.
  {
    int x0 = 0, y0 = 0, x1 = width / 3 - 1, y1 = height - 1;
    while (x0 <= x1 && y0 <= y1) {
      for (int x = x0; x <= x1; ++x) set(x, y0, 1);
      for (int y = y0; y <= y1; ++y) set(x1, y, 1);
      for (int x = x1; x >= x0 + 2; --x) set(x, y1, 1);
      for (int y = y1; y >= y0 + 2; --y) set(x0 + 2, y, 1);
      x0 += 2;
      y0 += 2;
      x1 -= 2;
      y1 -= 2;
      set(x0, y0 - 1, 1);
    }
  }
  // Nested U shapes, a comb and corner-touching steps in the middle third.
  const int mid = width / 3, right = 2 * width / 3;
  for (int k = 0; k < 6; ++k) {
    const int l = mid + 2 * k, r = right - 1 - 2 * k, bottom = height - 1 - 2 * k;
    for (int y = 1 + k; y <= bottom; ++y) {
      set(l, y, 1);
      set(r, y, 1);
    }
    for (int x = l; x <= r; ++x) set(x, bottom, 1);
  }
  for (int x = mid + 14; x < right - 14; x += 3) {
    for (int y = 3; y < height / 2; ++y) set(x, y, 2);
  }
  for (int x = mid + 14; x < right - 14; ++x) set(x, height / 2, 2);
  for (int i = 0; i < height / 3; ++i) set(mid + 14 + i, height / 2 + 2 + i, 1);
  // Two blocks on the right tied by single pixels, one on each row.
  for (int y = 0; y < height; ++y) {
    for (int x = right; x < width; ++x) {
      const bool upper = y < height / 2 - 1, lower = y > height / 2;
      if ((upper || lower) && x != (right + width) / 2) set(x, y, 1);
    }
  }
  set((right + width) / 2 + 1, height / 2 - 1, 1);
  set((right + width) / 2 + 1, height / 2, 1);
  // Scattered specks.
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (rng() % 97 == 0) v[i] = static_cast<uint8_t>(rng() % 3);
  }
  return v;
}

TEST(RegionsReferenceTest, EveryThreadCountLabelsRegionsAcrossBandSeams) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  std::mt19937 rng(44);
  // The widths make bands of 512, 28, 3 and 1 rows.
  const int sizes[][2] = {{64, 1200}, {1210, 160}, {12000, 40}, {40000, 9}};
  for (const auto& size : sizes) {
    const auto values = SeamShapes(size[0], size[1], rng);
    for (int threads : {1, 2, 3, 7}) {
      SCOPED_TRACE(testing::Message() << threads << " threads");
      kelvo::SetThreads(threads);
      for (bool maskCompare : {false, true}) {
        ExpectSameAsReference(size[0], size[1], values, size[0], 40, maskCompare);
      }
    }
  }
}

// The vector run-end finder of every target against the plain one, from
// every start column of rows of every width up to 200 (each row its own
// allocation of exactly its width, so a read past it shows under the
// sanitizers): runs of 1 to 80 pixels, values that differ only in being zero
// or not, and breaks in the last lanes before the row's end.
TEST(RegionsReferenceTest, RunEndFinderMatchesThePlainScanOnEveryTarget) {
  std::mt19937 rng(33);
  std::vector<std::vector<uint8_t>> rows;
  for (int width = 1; width <= 200; ++width) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<uint8_t> row(static_cast<std::size_t>(width));
      uint8_t v = 0;
      for (int x = 0; x < width;) {
        const int run =
            kind == 0 ? 1 + static_cast<int>(rng() % 4) : 1 + static_cast<int>(rng() % 80);
        v = kind == 2 ? static_cast<uint8_t>(v == 0 ? 1 + rng() % 255 : 0)
                      : static_cast<uint8_t>(rng() % 3 == 0 ? 0 : 1 + rng() % 2);
        for (int i = 0; i < run && x < width; ++i, ++x) {
          // Within a run of non-zero pixels the value may still change.
          row[static_cast<std::size_t>(x)] =
              v != 0 && kind != 2 && rng() % 16 == 0 ? static_cast<uint8_t>(1 + rng() % 255) : v;
        }
      }
      rows.push_back(std::move(row));
    }
  }
  int checked = 0, broken = 0;
  kelvo::testing::ForEachTarget([&](const char*) {
    for (const auto& row : rows) {
      const int width = static_cast<int>(row.size());
      for (int x = 1; x <= width; ++x) {
        for (const bool mask : {false, true}) {
          const int want = reference::RunEndBytesReference(row.data(), x, width, mask);
          ASSERT_EQ(detail::RunEndBytes(row.data(), x, width, mask), want)
              << "width " << width << " from " << x << " mask " << mask;
          ++checked;
          broken += want < width;
        }
      }
      // The whole row's ends at once: the chain of single finds from 0,
      // and nothing written past the row's width.
      for (const bool mask : {false, true}) {
        std::vector<int32_t> want;
        for (int x = 0; x < width;) {
          x = reference::RunEndBytesReference(row.data(), x + 1, width, mask);
          want.push_back(x);
        }
        std::vector<int32_t> ends(static_cast<std::size_t>(width) + 4, -7);
        const int count = detail::RowRunEndsBytes(row.data(), width, mask, ends.data());
        ASSERT_EQ(std::vector<int32_t>(ends.begin(), ends.begin() + count), want)
            << "width " << width << " mask " << mask;
        EXPECT_EQ(ends[static_cast<std::size_t>(width)], -7);
      }
    }
  });
  EXPECT_GT(broken, checked / 4);
  EXPECT_LT(broken, checked);
}

TEST(RegionsReferenceTest, ThirtyTwoBitValuesMatchThePixelLabelling) {
  std::mt19937 rng(32);
  for (int trial = 0; trial < 60; ++trial) {
    const int width = 1 + static_cast<int>(rng() % 70);
    const int height = 1 + static_cast<int>(rng() % 50);
    const int strideElems = width + static_cast<int>(rng() % 3);
    auto values = Pattern<int32_t>(trial % 4, width, height, strideElems, rng);
    for (auto& v : values) v = v * 100003 - 7;
    ExpectSameAsReference(width, height, values, strideElems, static_cast<int>(rng() % 200),
                          trial % 2 == 0);
  }
}

TEST(RegionsReferenceTest, LabelOverflowMatchesThePixelLabelling) {
  // A checkerboard of 1000 x 600 makes 600000 one-pixel regions, more than
  // the provisional labels; a band of stripes below joins some of them.
  const int width = 1000, height = 620;
  std::vector<uint8_t> v(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      v[static_cast<std::size_t>(y) * width + x] =
          static_cast<uint8_t>(y < 600 ? ((x + y) % 2) * 9 : (x / 3) % 2 * 9);
    }
  }
  // (A minimum of 0 or 1 would keep every one-pixel region, and the sort of
  // that many equal keys takes minutes.)
  ExpectSameAsReference(width, height, v, width, 2, false);
  ExpectSameAsReference(width, height, v, width, 300, true);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
