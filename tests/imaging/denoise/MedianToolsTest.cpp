#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "imaging/core/IPException.h"
#include "imaging/denoise/IntelFilters.h"
#include "imaging/denoise/UtilitiesFloat.h"
#include "imaging/primitives/Threads.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;

uint32_t NextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// ---- UtilitiesFloat::Median --------------------------------------------

float MedianOf(std::vector<float> v) {
  return UtilitiesFloat::Median(v.data(), static_cast<int>(v.size()));
}

TEST(UtilitiesFloatMedian, SmallArraysAndTheEvenCountRule) {
  EXPECT_EQ(MedianOf({3, 1, 2}), 2.0f);
  EXPECT_EQ(MedianOf({4, 1, 3, 2}), 3.0f);  // the larger middle value for n <= 11
  EXPECT_EQ(MedianOf({7.5f}), 7.5f);
  EXPECT_EQ(MedianOf(std::vector<float>(21, 0.25f)), 0.25f);
  // Twelve values whose first pivot (the middle value 6) has exactly six
  // values before it: the search stops there with the smaller middle value.
  EXPECT_EQ(MedianOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), 6.0f);
  // The same values in descending order end in the final sort: the larger.
  EXPECT_EQ(MedianOf({12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}), 7.0f);
}

TEST(UtilitiesFloatMedian, MatchesASortedMedianOnRandomArrays) {
  uint32_t state = 12345;
  for (int n = 1; n <= 301; n += 6) {
    for (int distinct : {3, 1000000}) {  // many ties, then almost none
      std::vector<float> v(n);
      for (float& x : v) x = static_cast<float>(NextRandom(state) % distinct) * 0.5f;
      std::vector<float> sorted = v;
      std::sort(sorted.begin(), sorted.end());
      // The search reorders the array in place and must keep its values.
      const float median = UtilitiesFloat::Median(v.data(), n);
      std::sort(v.begin(), v.end());
      EXPECT_EQ(v, sorted);
      if (n % 2 == 1) {
        EXPECT_EQ(median, sorted[n / 2]) << "n " << n;
      } else {
        EXPECT_TRUE(median == sorted[n / 2 - 1] || median == sorted[n / 2]) << "n " << n;
      }
    }
  }
}

TEST(UtilitiesFloatMedian, EmptyArrayAndNaNs) {
  float one = 1.0f;
  EXPECT_TRUE(Failures("UtilitiesFloat::MedianDivideAndConquer")(
      [&] { UtilitiesFloat::Median(&one, 0); }, 26, ": unexpected sorting error"));
  // NaN orders after every number, so the search ends and the numbers win.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(MedianOf({nan, 1, 2}), 1.0f);
  std::vector<float> many(41);
  for (int i = 0; i < 41; ++i) many[i] = (i % 7 == 0) ? nan : static_cast<float>(i);
  const float median = MedianOf(many);
  EXPECT_FALSE(std::isnan(median));
}

// ---- IntelFilters::FilterMedianC1 --------------------------------------

// Brute-force median of the mask around (x, y); all samples inside the image.
template <typename T>
T BruteMedian(const std::vector<T>& img, int width, int x, int y, int mask) {
  const int r = mask / 2;
  std::vector<int> v;
  for (int j = -r; j <= r; ++j)
    for (int i = -r; i <= r; ++i) v.push_back(img[(y + j) * width + x + i]);
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return static_cast<T>(v[v.size() / 2]);
}

TEST(IntelFiltersMedian, WholeImageMatchesABruteForceMedian) {
  const int w = 23, h = 19;
  uint32_t state = 99;
  for (int mask : {3, 5, 7}) {
    std::vector<uint8_t> src(w * h);
    for (uint8_t& s : src) s = static_cast<uint8_t>(NextRandom(state));
    std::vector<uint8_t> dst(w * h, 0);
    IntelFilters::FilterMedianC1(src.data(), w, dst.data(), w, w, h, mask);
    const int r = mask / 2;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const bool frame = x < r || y < r || x >= w - r || y >= h - r;
        const uint8_t expected = frame ? src[y * w + x] : BruteMedian(src, w, x, y, mask);
        ASSERT_EQ(dst[y * w + x], expected) << "mask " << mask << " at " << x << "," << y;
      }
    }
  }
}

// A mask of 1 copies the region only.
TEST(IntelFiltersMedian, RegionFormWritesOnlyTheRegionAndTheFrame) {
  const int w = 20, h = 14;
  uint32_t state = 5;
  std::vector<uint8_t> src(w * h);
  for (uint8_t& s : src) s = static_cast<uint8_t>(NextRandom(state));
  // Two regions: one well inside (direct path), one touching the corner
  // (padded path). Steps wider than the rows.
  const int step = w + 3;
  std::vector<uint8_t> srcPadded(step * h, 0);
  for (int y = 0; y < h; ++y) std::copy_n(&src[y * w], w, &srcPadded[y * step]);
  struct Region {
    int x0, y0, x1, y1;
  };
  for (auto [mask, reg] : {std::pair{5, Region{4, 3, 12, 9}}, std::pair{5, Region{0, 0, 6, 5}},
                           std::pair{1, Region{2, 1, 5, 3}}}) {
    const int r = mask / 2;
    std::vector<uint8_t> dst(step * h, 0xEE);
    IntelFilters::FilterMedianC1(srcPadded.data(), step, dst.data(), step, w, h, mask, reg.x0,
                                 reg.y0, reg.x1, reg.y1);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const bool frame = x < r || y < r || x >= w - r || y >= h - r;
        const bool inside = x >= reg.x0 && x <= reg.x1 && y >= reg.y0 && y <= reg.y1;
        uint8_t expected = 0xEE;
        if (frame) {
          expected = src[y * w + x];
        } else if (inside) {
          expected = BruteMedian(src, w, x, y, mask);
        }
        ASSERT_EQ(dst[y * step + x], expected) << x << "," << y;
      }
      for (int x = w; x < step; ++x) ASSERT_EQ(dst[y * step + x], 0xEE);
    }
  }
}

// Any block of rows, taken on its own into a buffer of its own, holds
// exactly those rows of the whole-image median: at the top and bottom
// edges, inside, and where the image is too narrow or short for any mask
// to fit; on several threads as on one.
TEST(IntelFiltersMedian, RowBlocksMatchTheWholeImage) {
  uint32_t state = 17;
  struct Size {
    int w, h;
  };
  for (const Size size : {Size{70, 37}, Size{4, 9}, Size{9, 3}}) {
    const int w = size.w, h = size.h, step = w + 5;
    std::vector<uint8_t> src(static_cast<size_t>(step) * h);
    for (uint8_t& s : src) s = static_cast<uint8_t>(NextRandom(state));
    for (int mask : {1, 3, 5, 7}) {
      std::vector<uint8_t> whole(src.size(), 0);
      IntelFilters::FilterMedianC1(src.data(), step, whole.data(), step, w, h, mask);
      for (int threads : {1, 2}) {
        kelvo::ScopedThreads scope(threads);
        for (int rows : {1, 2, 5, 16, h}) {
          for (int y0 = 0; y0 + rows <= h; y0 += std::max(1, rows / 2 + 1)) {
            const int outStep = w + 2;
            std::vector<uint8_t> out(static_cast<size_t>(outStep) * rows, 0xEE);
            IntelFilters::FilterMedianRows(src.data(), step, w, h, mask, y0, rows, out.data(),
                                           outStep);
            for (int y = 0; y < rows; ++y) {
              for (int x = 0; x < outStep; ++x) {
                const int expected = x < w ? whole[(y0 + y) * step + x] : 0xEE;
                ASSERT_EQ(out[y * outStep + x], expected)
                    << w << "x" << h << " mask " << mask << " rows " << y0 << "+" << rows << " at "
                    << x << "," << y0 + y;
              }
            }
          }
        }
      }
    }
  }
  std::vector<uint8_t> src(64, 1), out(64, 0);
  const Failures fails("IntelFilters::FilterMedianRows");
  EXPECT_TRUE(
      fails([&] { IntelFilters::FilterMedianRows(nullptr, 8, 8, 8, 3, 0, 1, out.data(), 8); }, 5));
  EXPECT_TRUE(fails(
      [&] { IntelFilters::FilterMedianRows(src.data(), 8, 8, 8, 3, 7, 2, out.data(), 8); }, 8));
  EXPECT_TRUE(fails(
      [&] { IntelFilters::FilterMedianRows(src.data(), 8, 8, 8, 3, -1, 2, out.data(), 8); }, 8));
  EXPECT_TRUE(fails(
      [&] { IntelFilters::FilterMedianRows(src.data(), 8, 8, 8, 4, 0, 2, out.data(), 8); }, 11));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 0; }));
}

TEST(IntelFiltersMedian, SixteenBitClampsTheWholeImageTo12Bits) {
  const int w = 10, h = 9;
  std::vector<uint16_t> src(w * h, 1000);
  src[0] = 5000;          // edge frame: copied, then clamped
  src[4 * w + 4] = 4000;  // interior speckle: removed
  std::vector<uint16_t> dst(w * h, 0);
  IntelFilters::FilterMedianC1(src.data(), w * 2, dst.data(), w * 2, w, h, 3);
  EXPECT_EQ(dst[0], 4095);
  EXPECT_EQ(dst[4 * w + 4], 1000);
  EXPECT_EQ(dst[w * h - 1], 1000);
}

TEST(IntelFiltersMedian, Failures) {
  const int w = 8, h = 8;
  std::vector<uint8_t> src(w * h, 1), dst(w * h, 0);
  std::vector<uint16_t> src16(w * h, 1), dst16(w * h, 0);
  const Failures fails("IntelFilters::FilterMedianC1");
  EXPECT_TRUE(fails([&] { IntelFilters::FilterMedianC1(src.data(), w, dst.data(), w, w, h, 4); },
                    15, "::ippiFilterMedian_8u_C1R"));
  EXPECT_TRUE(fails(
      [&] { IntelFilters::FilterMedianC1(src16.data(), 2 * w, dst16.data(), 2 * w, w, h, 2); }, 15,
      "::ippiFilterMedian_16s_C1R"));
  // Absent buffers and regions outside the image.
  EXPECT_TRUE(fails([&] { IntelFilters::FilterMedianC1(nullptr, w, dst.data(), w, w, h, 3); }, 5));
  EXPECT_TRUE(fails(
      [&] { IntelFilters::FilterMedianC1(src.data(), w, dst.data(), w, w, h, 3, 0, 0, w, h - 1); },
      8));
  EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 0; }));
}

}  // namespace
}  // namespace KelvoLibImageProcessing
