// The skin mask's 5 x 5 majority against the median filter it stands in for,
// on masks of 0 and 255 of every density, sizes down to one pixel and widths
// around the vector lengths, on every compiled SIMD target.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/analysis/detail/MaskMajority.h"
#include "imaging/denoise/IntelFilters.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

TEST(MaskMajorityTest, MatchesTheMedianFilterOnMasks) {
  std::vector<int> widths;
  for (int width = 1; width <= 40; ++width) widths.push_back(width);
  for (int width : {63, 67, 68, 69, 131, 200}) widths.push_back(width);
  kelvo::testing::ForEachTarget([&](const char*) {
    std::mt19937 rng(55);
    for (int height = 1; height <= 12; ++height) {
      for (int width : widths) {
        for (int percent : {3, 30, 48, 52, 70, 97}) {
          SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << percent << "%");
          const std::size_t area = static_cast<std::size_t>(width) * height;
          std::vector<uint8_t> mask(area);
          for (auto& m : mask) m = rng() % 100 < static_cast<unsigned>(percent) ? 255 : 0;
          std::vector<uint8_t> expected(area, 0x5A), got(area, 0x5A);
          IntelFilters::FilterMedianC1(mask.data(), width, expected.data(), width, width, height,
                                       5);
          detail::MaskMajority5x5(mask.data(), got.data(), width, height);
          EXPECT_EQ(got, expected);
        }
      }
    }
  });
}

}  // namespace
}  // namespace KelvoLibImageProcessing
