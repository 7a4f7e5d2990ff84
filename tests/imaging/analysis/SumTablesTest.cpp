#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "hwy/targets.h"
#include "imaging/analysis/SumAreaTable.h"
#include "imaging/analysis/SumValueTable.h"
#include "imaging/analysis/detail/SumAreaRows.h"
#include "imaging/analysis/reference/SumAreaReference.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::ThrowsIPException;

// The 3 x 2 mask (1, 0, 5) / (0, 0, 7).
const uint8_t kMask[] = {1, 0, 5, 0, 0, 7};

TEST(SumAreaTableTest, SmallMaskQueriesAndHistograms) {
  SumAreaTable t(kMask, 3, 2, 3);
  EXPECT_EQ(t.ROIPixels(0, 0, 2, 1), 3u);
  EXPECT_EQ(t.ROIPixels(1, 0, 1, 1), 0u);
  EXPECT_EQ(t.ROIPixels(2, 0, 2, 1), 2u);
  EXPECT_EQ(t.ROIPixels(2, 1), 3u);
  EXPECT_EQ(t.ROIPixels(0, 1), 1u);
  const uint32_t* hx = t.HistogramX();
  EXPECT_EQ(std::vector<uint32_t>(hx, hx + 3), (std::vector<uint32_t>{1, 0, 2}));
  const uint32_t* hy = t.HistogramY();
  EXPECT_EQ(std::vector<uint32_t>(hy, hy + 2), (std::vector<uint32_t>{2, 1}));
  // Cached: the same arrays come back.
  EXPECT_EQ(t.HistogramX(), hx);
  EXPECT_EQ(t.HistogramY(), hy);
}

TEST(SumAreaTableTest, RegionOffTheOrigin) {
  SumAreaTable t(kMask, 3, 2, 3, 1, 1, 2, 1);
  const uint32_t* table = t.GetTable();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(table[i], 0u) << i;  // row 0
  EXPECT_EQ(table[3], 0u);                                   // column 0
  EXPECT_EQ(table[4], 0u);
  EXPECT_EQ(table[5], 1u);
  EXPECT_EQ(t.ROIPixels(1, 1, 2, 1), 1u);
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(0, 0, 2, 1); }, 9, "SumAreaTable::ROIPixels"));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(x, y); }, 9, "SumAreaTable::ROIPixels"));
    }
  }
  const uint32_t* hx = t.HistogramX();
  EXPECT_EQ(std::vector<uint32_t>(hx, hx + 3), (std::vector<uint32_t>{0, 0, 1}));
  const uint32_t* hy = t.HistogramY();
  EXPECT_EQ(std::vector<uint32_t>(hy, hy + 2), (std::vector<uint32_t>{0, 1}));
}

TEST(SumAreaTableTest, PointQueryLimits) {
  // A region at the origin that stops short of the mask's edge.
  SumAreaTable t(kMask, 3, 2, 3, 0, 0, 1, 0);
  EXPECT_EQ(t.ROIPixels(1, 0), 1u);
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(2, 0); }, 9, "SumAreaTable::ROIPixels"));
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(0, 1); }, 9, "SumAreaTable::ROIPixels"));
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(-1, 0); }, 9, "SumAreaTable::ROIPixels"));
}

// Random masks with padded strides, regions off the origin, every rectangle
// inside the region compared with a direct count.
TEST(SumAreaTableTest, MatchesDirectCountsOnRandomMasks) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 6; ++trial) {
    const int w = 5 + static_cast<int>(rng() % 9);
    const int h = 4 + static_cast<int>(rng() % 8);
    const int stride = w + static_cast<int>(rng() % 4);
    std::vector<uint8_t> mask(static_cast<std::size_t>(stride * h));
    for (auto& m : mask) m = (rng() % 3 == 0) ? static_cast<uint8_t>(1 + rng() % 255) : 0;
    const int rx0 = static_cast<int>(rng() % 3), ry0 = static_cast<int>(rng() % 3);
    const int rx1 = w - 1 - static_cast<int>(rng() % 2), ry1 = h - 1 - static_cast<int>(rng() % 2);
    SumAreaTable t(mask.data(), w, h, stride, rx0, ry0, rx1, ry1);
    auto direct = [&](int x0, int y0, int x1, int y1) {
      uint32_t n = 0;
      for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += mask[static_cast<std::size_t>(y * stride + x)] != 0;
      return n;
    };
    for (int y0 = ry0; y0 <= ry1; ++y0)
      for (int y1 = y0; y1 <= ry1; ++y1)
        for (int x0 = rx0; x0 <= rx1; ++x0)
          for (int x1 = x0; x1 <= rx1; ++x1)
            ASSERT_EQ(t.ROIPixels(x0, y0, x1, y1), direct(x0, y0, x1, y1))
                << trial << ": " << x0 << "," << y0 << "-" << x1 << "," << y1;
    const uint32_t* hx = t.HistogramX();
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(hx[x], (x >= rx0 && x <= rx1) ? direct(x, ry0, x, ry1) : 0u);
    }
    const uint32_t* hy = t.HistogramY();
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ(hy[y], (y >= ry0 && y <= ry1) ? direct(rx0, y, rx1, y) : 0u);
    }
  }
}

TEST(SumAreaTableTest, RectangleHistogramsReuseTheirBuffer) {
  const int w = 6, h = 5;
  std::vector<uint8_t> mask(static_cast<std::size_t>(w * h));
  for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = (i * 7) % 3 ? 1 : 0;
  SumAreaTable t(mask.data(), w, h, w);
  auto count = [&](int x0, int y0, int x1, int y1) {
    uint32_t n = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) n += mask[static_cast<std::size_t>(y * w + x)] != 0;
    return n;
  };
  const uint32_t* first = t.HistogramRoiX(0, 0, 5, 4);
  const uint32_t* second = t.HistogramRoiX(2, 1, 3, 3);
  EXPECT_EQ(first, second);
  for (int x = 0; x < w; ++x) {
    // The earlier, wider call's entries must not linger.
    EXPECT_EQ(second[x], (x >= 2 && x <= 3) ? count(x, 1, x, 3) : 0u) << x;
  }
  t.HistogramRoiY(0, 0, 5, 4);
  const uint32_t* ry = t.HistogramRoiY(1, 2, 4, 2);
  for (int y = 0; y < h; ++y) EXPECT_EQ(ry[y], y == 2 ? count(1, 2, 4, 2) : 0u) << y;
  EXPECT_TRUE(
      ThrowsIPException([&] { t.HistogramRoiX(3, 0, 2, 0); }, 9, "SumAreaTable::HistogramRoiX"));
  EXPECT_TRUE(
      ThrowsIPException([&] { t.HistogramRoiY(0, 0, 0, 5); }, 9, "SumAreaTable::HistogramRoiY"));
}

// Rebuilds reuse the table's memory: a smaller mask after a larger one, then a
// region off the origin in the same memory, must leave no stale counts.
TEST(SumAreaTableTest, RebuildsInReusedMemory) {
  std::vector<uint8_t> big(40 * 30, 1);
  SumAreaTable t(big.data(), 40, 30, 40);
  EXPECT_EQ(t.ROIPixels(39, 29), 1200u);
  t.Initialize(kMask, 3, 2, 3);
  EXPECT_EQ(t.ROIPixels(2, 1), 3u);
  EXPECT_EQ(t.ROIPixels(0, 0, 2, 1), 3u);
  t.Initialize(big.data(), 40, 30, 40, 5, 5, 20, 20);
  EXPECT_EQ(t.GetTable()[0], 0u);
  EXPECT_EQ(t.GetTable()[29 * 40 + 39], 0u);
  EXPECT_EQ(t.ROIPixels(5, 5, 20, 20), 256u);
  EXPECT_EQ(t.HistogramX()[4], 0u);
  EXPECT_EQ(t.HistogramX()[5], 16u);
}

TEST(SumAreaTableTest, BuildFailuresInCheckOrder) {
  SumAreaTable t;
  const char* kWhere = "SumAreaTable::Initialize";
  // A null pointer comes first even when everything else is wrong too.
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(nullptr, 0, 0, -1, 5, 5, 0, 0); }, 5, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 2); }, 6, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 0, 2, 3); }, 0, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 0, 3); }, 0, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 3, -1, 0, 2, 1); }, 8, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 3, 0, 0, 3, 1); }, 8, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 3, 2, 0, 1, 1); }, 8, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 3, 0, 0, 2, 2); }, 8, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(kMask, 3, 2, 3, 0, 1, 2, 0); }, 8, kWhere));
}

TEST(SumAreaTableTest, RejectsEmptyRectanglesAndEmptyTables) {
  SumAreaTable t(kMask, 3, 2, 3);
  // Never a wrapped-around count for a reversed rectangle.
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(2, 0, 1, 1); }, 9, "SumAreaTable::ROIPixels"));
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(0, 1, 2, 0); }, 9, "SumAreaTable::ROIPixels"));
  t.Release();
  EXPECT_EQ(t.GetTable(), nullptr);
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(0, 0, 0, 0); }, 9, "SumAreaTable::ROIPixels"));
  EXPECT_TRUE(ThrowsIPException([&] { t.ROIPixels(0, 0); }, 9, "SumAreaTable::ROIPixels"));
  EXPECT_TRUE(ThrowsIPException([&] { t.HistogramX(); }, 25, "SumAreaTable::HistogramX"));
  EXPECT_TRUE(ThrowsIPException([&] { t.HistogramY(); }, 25, "SumAreaTable::HistogramY"));
  EXPECT_TRUE(
      ThrowsIPException([&] { t.HistogramRoiX(0, 0, 0, 0); }, 9, "SumAreaTable::HistogramRoiX"));
  // A failed rebuild leaves nothing of the earlier table behind.
  SumAreaTable u(kMask, 3, 2, 3);
  EXPECT_TRUE(
      ThrowsIPException([&] { u.Initialize(kMask, 3, 2, 1); }, 6, "SumAreaTable::Initialize"));
  EXPECT_TRUE(ThrowsIPException([&] { u.ROIPixels(0, 0); }, 9, "SumAreaTable::ROIPixels"));
}

TEST(SumValueTableTest, EightBitSumsAreasAndMeans) {
  const uint8_t v[] = {10, 20, 30, 40};
  SumValueTable t(v, 2, 2, 2);
  EXPECT_FALSE(t.HasAlpha());
  EXPECT_EQ(t.ROIValue(0, 0, 1, 1), 100.0);
  EXPECT_EQ(t.ROIValue(1, 1, 1, 1), 40.0);
  EXPECT_EQ(t.ROIAlpha(0, 0, 1, 0), 2u);
  EXPECT_EQ(t.ROIMean(0, 0, 1, 1), 25.0);
}

TEST(SumValueTableTest, LabelledSumsCountsAndMeans) {
  const uint8_t v[] = {10, 20, 30, 40};
  const uint8_t labels[] = {1, 0, 1, 1};
  SumValueTable t(v, 2, 2, 2, labels, 2, 1);
  EXPECT_TRUE(t.HasAlpha());
  EXPECT_EQ(t.ROIValue(0, 0, 1, 1), 80.0);
  EXPECT_EQ(t.ROIAlpha(0, 0, 1, 1), 3u);
  EXPECT_EQ(t.ROIMean(0, 0, 1, 1), 80.0 / 3.0);
  EXPECT_EQ(t.ROIAlpha(1, 0, 1, 0), 0u);
  EXPECT_EQ(t.ROIMean(1, 0, 1, 0), 0.0);

  SumValueTable none(v, 2, 2, 2, labels, 2, 9);
  EXPECT_EQ(none.ROIAlpha(0, 0, 1, 1), 0u);
  EXPECT_EQ(none.ROIMean(0, 0, 1, 1), 0.0);
}

// 16-bit and float sums with padded, odd strides and a region off the origin,
// compared with direct sums; labelled 16-bit sums likewise.
TEST(SumValueTableTest, MatchesDirectSumsForEveryForm) {
  std::mt19937 rng(11);
  const int w = 9, h = 7;
  const int stride16 = 2 * w + 3;  // odd: rows are not 2-byte aligned
  const int strideF = 4 * w + 5;
  std::vector<uint8_t> b16(static_cast<std::size_t>(stride16 * h));
  std::vector<uint8_t> bF(static_cast<std::size_t>(strideF * h));
  std::vector<uint8_t> labels(static_cast<std::size_t>((w + 2) * h));
  std::vector<uint16_t> s16(static_cast<std::size_t>(w * h));
  std::vector<float> sF(static_cast<std::size_t>(w * h));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * w + x);
      s16[i] = static_cast<uint16_t>(rng() % 4096);
      sF[i] = static_cast<float>(rng() % 100000) / 7.0f;
      std::memcpy(&b16[static_cast<std::size_t>(y * stride16 + 2 * x)], &s16[i], 2);
      std::memcpy(&bF[static_cast<std::size_t>(y * strideF + 4 * x)], &sF[i], 4);
      labels[static_cast<std::size_t>(y * (w + 2) + x)] = static_cast<uint8_t>(rng() % 3);
    }
  }
  const auto* p16 = reinterpret_cast<const uint16_t*>(b16.data());
  const auto* pF = reinterpret_cast<const float*>(bF.data());
  SumValueTable t16(p16, w, h, stride16, 1, 2, 7, 6);
  SumValueTable tF(pF, w, h, strideF, 2, 1, 8, 5);
  SumValueTable tA(p16, w, h, stride16, labels.data(), w + 2, 2);
  for (int y0 = 0; y0 < h; ++y0)
    for (int y1 = y0; y1 < h; ++y1)
      for (int x0 = 0; x0 < w; ++x0)
        for (int x1 = x0; x1 < w; ++x1) {
          double sum16 = 0, sumF = 0, sumA = 0;
          uint32_t countA = 0;
          for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
              const std::size_t i = static_cast<std::size_t>(y * w + x);
              sum16 += s16[i];
              sumF += sF[i];
              if (labels[static_cast<std::size_t>(y * (w + 2) + x)] == 2) {
                sumA += s16[i];
                ++countA;
              }
            }
          if (x0 >= 1 && x1 <= 7 && y0 >= 2 && y1 <= 6) {
            ASSERT_EQ(t16.ROIValue(x0, y0, x1, y1), sum16);
          } else {
            ASSERT_TRUE(ThrowsIPException([&] { t16.ROIValue(x0, y0, x1, y1); }, 9,
                                          "SumValueTable::ROIValue"));
          }
          if (x0 >= 2 && y0 >= 1 && y1 <= 5) {
            // Float sums differ from a direct sum only by rounding order.
            ASSERT_NEAR(tF.ROIValue(x0, y0, x1, y1), sumF, 1e-6 * (1.0 + sumF));
          }
          ASSERT_EQ(tA.ROIValue(x0, y0, x1, y1), sumA);
          ASSERT_EQ(tA.ROIAlpha(x0, y0, x1, y1), countA);
        }
}

TEST(SumValueTableTest, FailuresInCheckOrder) {
  const uint8_t v8[] = {1, 2, 3, 4};
  const uint16_t v16[] = {1, 2, 3, 4};
  const float vf[] = {1, 2, 3, 4};
  SumValueTable t;
  const char* kInit = "SumValueTable::Initialize";
  const char* kAlpha = "SumValueTable::InitializeAlpha";
  EXPECT_TRUE(ThrowsIPException(
      [&] { t.Initialize(static_cast<const uint8_t*>(nullptr), 0, 0, -5); }, 5, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(v8, 2, 2, 1); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(v16, 2, 2, 3); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(vf, 2, 2, 7); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(vf, 0, 2, 8); }, 0, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(vf, -1, 2, 8); }, 0, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.Initialize(v16, 2, 2, 4, 0, 0, 1, 2); }, 8, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { t.InitializeAlpha(v8, 2, 2, 2, nullptr, 2, 1); }, 5, kAlpha));
  EXPECT_TRUE(ThrowsIPException([&] { t.InitializeAlpha(v16, 2, 2, 4, v8, 1, 1); }, 6, kAlpha));
  EXPECT_TRUE(ThrowsIPException([&] { t.InitializeAlpha(v16, 2, 2, 3, v8, 2, 1); }, 6, kAlpha));
  EXPECT_TRUE(ThrowsIPException([&] { t.InitializeAlpha(v16, 2, 0, 4, v8, 2, 1); }, 0, kAlpha));

  SumValueTable u(v8, 2, 2, 2);
  EXPECT_TRUE(ThrowsIPException([&] { u.ROIValue(1, 0, 0, 0); }, 9, "SumValueTable::ROIValue"));
  EXPECT_TRUE(ThrowsIPException([&] { u.ROIAlpha(0, 0, 0, 2); }, 9, "SumValueTable::ROIAlpha"));
  u.Release();
  EXPECT_TRUE(ThrowsIPException([&] { u.ROIMean(0, 0, 0, 0); }, 9, "SumValueTable::ROIValue"));
}

}  // namespace
}  // namespace KelvoLibImageProcessing

namespace KelvoLibImageProcessing {
namespace {

// Every compiled SIMD path of the row kernel against the plain loop, on every
// width from 1 to 70 (full vectors, tails, one-lane rows) and on rows of
// several 64-byte steps (counts carried from step to step), first and later
// rows, with sentinels beyond the row.
TEST(SumAreaTableTest, RowKernelMatchesReferenceOnEveryTarget) {
  std::mt19937 rng(23);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    SCOPED_TRACE(hwy::TargetName(target));
    std::vector<int> counts;
    for (int count = 1; count <= 70; ++count) counts.push_back(count);
    for (int count : {127, 128, 129, 200, 1921}) counts.push_back(count);
    for (int count : counts) {
      std::vector<uint8_t> mask(static_cast<std::size_t>(count));
      for (auto& m : mask) m = rng() % 2 ? static_cast<uint8_t>(rng()) : 0;
      std::vector<uint32_t> above(static_cast<std::size_t>(count));
      for (auto& a : above) a = rng() % 100000;
      for (bool first : {true, false}) {
        std::vector<uint32_t> got(static_cast<std::size_t>(count) + 1, 0xDEADBEEFu);
        std::vector<uint32_t> want = got;
        detail::AccumulateMaskRow(mask.data(), first ? nullptr : above.data(), got.data(), count);
        reference::AccumulateMaskRowReference(mask.data(), first ? nullptr : above.data(),
                                              want.data(), count);
        ASSERT_EQ(got, want) << count << " " << first;
      }
    }
  }
  hwy::SetSupportedTargetsForTest(0);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}

}  // namespace
}  // namespace KelvoLibImageProcessing
