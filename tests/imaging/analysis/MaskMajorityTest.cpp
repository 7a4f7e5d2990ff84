// The skin mask's 5 x 5 majority against the median filter it stands in for,
// on masks of 0 and 255 of every density, sizes down to one pixel.
#include "imaging/analysis/detail/MaskMajority.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/denoise/IntelFilters.h"

namespace KelvoLibImageProcessing {
namespace {

TEST(MaskMajorityTest, MatchesTheMedianFilterOnMasks) {
  std::mt19937 rng(55);
  for (int height = 1; height <= 12; ++height) {
    for (int width = 1; width <= 40; ++width) {
      for (int percent : {3, 30, 48, 52, 70, 97}) {
        SCOPED_TRACE(testing::Message() << width << "x" << height << " at " << percent << "%");
        const std::size_t area = static_cast<std::size_t>(width) * height;
        std::vector<uint8_t> mask(area);
        for (auto& m : mask) m = rng() % 100 < static_cast<unsigned>(percent) ? 255 : 0;
        std::vector<uint8_t> expected(area, 0x5A), got(area, 0x5A);
        IntelFilters::FilterMedianC1(mask.data(), width, expected.data(), width, width, height, 5);
        detail::MaskMajority5x5(mask.data(), got.data(), width, height);
        EXPECT_EQ(got, expected);
      }
    }
  }
}

TEST(MaskMajorityTest, ThirteenOfTwentyFiveSet) {
  // Exactly 12 and exactly 13 set pixels around the centre of a 5 x 5 mask.
  for (int set : {12, 13}) {
    std::vector<uint8_t> mask(25, 0);
    for (int i = 0; i < set; ++i) mask[(i * 7) % 25] = 255;
    std::vector<uint8_t> out(25, 0x5A);
    detail::MaskMajority5x5(mask.data(), out.data(), 5, 5);
    EXPECT_EQ(out[12], set >= 13 ? 255 : 0);
    for (int i = 0; i < 25; ++i) {
      if (i != 12) {
        EXPECT_EQ(out[i], mask[i]) << i;
      }
    }
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
