// The contrast mask of the hybrid unsharp masks: clipped windows at the
// edges, the threshold equality case and the per-mean threshold table.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

#include "imaging/filters/detail/HybridMask.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using testing_support::ForEachTarget;
using testing_support::RandomSamples;

TEST(HybridMask, CornerWindowIsClippedToTwoByTwo) {
  // (0, 0) with half size 1 averages 2 x 2 pixels: 100 against 73, 73, 74
  // differs by exactly 20 (not marked); against 72, 73, 73 by 20.5 (marked).
  for (auto [right, below, diagonal, marked] :
       {std::tuple{73, 73, 74, 0}, std::tuple{72, 73, 73, 255}}) {
    std::vector<uint8_t> plane(8 * 6, 73);
    plane[0] = 100;
    plane[1] = static_cast<uint8_t>(right);
    plane[8] = static_cast<uint8_t>(below);
    plane[9] = static_cast<uint8_t>(diagonal);
    std::vector<uint8_t> mask(8 * 6, 0x77);
    detail::BuildHybridMask(plane.data(), 8, 8, 6, 1, 20.0f, nullptr, mask.data());
    EXPECT_EQ(mask[0], marked);
    EXPECT_EQ(mask[8 * 6 - 1], 0);  // flat far corner
  }
}

// Brute force: every window clipped by hand, mean in double, difference
// rounded to float.
template <typename T>
std::vector<uint8_t> BruteMask(const std::vector<T>& plane, int width, int height, int r,
                               float threshold, const float* table) {
  std::vector<uint8_t> mask(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double sum = 0.0;
      int n = 0;
      for (int j = std::max(y - r, 0); j <= std::min(y + r, height - 1); ++j) {
        for (int i = std::max(x - r, 0); i <= std::min(x + r, width - 1); ++i) {
          sum += plane[j * width + i];
          ++n;
        }
      }
      const double mean = sum / n;
      const float d = static_cast<float>(plane[y * width + x] - mean);
      const float t = table != nullptr
                          ? table[static_cast<int>(std::clamp(mean, 0.0, 65535.0) + 0.5)]
                          : threshold;
      mask[y * width + x] = (d < -t || d > t) ? 255 : 0;
    }
  }
  return mask;
}

TEST(HybridMask, MatchesBruteForceOnEveryTarget) {
  for (auto [width, height, r] :
       {std::tuple{37, 9, 1}, std::tuple{70, 12, 4}, std::tuple{5, 7, 3}}) {
    const auto plane8 = RandomSamples<uint8_t>(width * height, 255, width);
    const auto plane16 = RandomSamples<uint16_t>(width * height, 4095, height);
    const auto expect8 = BruteMask(plane8, width, height, r, 30.0f, nullptr);
    const auto expect16 = BruteMask(plane16, width, height, r, 400.0f, nullptr);
    ForEachTarget([&](const char*) {
      std::vector<uint8_t> mask8(width * height), mask16(width * height);
      detail::BuildHybridMask(plane8.data(), width, width, height, r, 30.0f, nullptr, mask8.data());
      detail::BuildHybridMask(plane16.data(), width * 2, width, height, r, 400.0f, nullptr,
                              mask16.data());
      ASSERT_EQ(mask8, expect8) << width;
      ASSERT_EQ(mask16, expect16) << width;
    });
  }
}

TEST(HybridMask, ThresholdTableIsReadAtTheWindowMean) {
  const int width = 20, height = 10;
  const auto plane = RandomSamples<uint16_t>(width * height, 4095, 5);
  std::vector<float> table(65536);
  for (int i = 0; i < 65536; ++i) table[i] = i < 2048 ? 50.0f : 900.0f;
  std::vector<uint8_t> mask(width * height);
  detail::BuildHybridMask(plane.data(), width * 2, width, height, 2, 0.0f, table.data(),
                          mask.data());
  EXPECT_EQ(mask, BruteMask(plane, width, height, 2, 0.0f, table.data()));
  EXPECT_NE(mask, BruteMask(plane, width, height, 2, 50.0f, nullptr));
}

}  // namespace
}  // namespace KelvoLibImageProcessing
