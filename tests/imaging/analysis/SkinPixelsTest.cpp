// The skin map's row kernels on every compiled SIMD target against the plain
// per-pixel rules: every colour through the gate and the ratio rules, pixels
// on the rule boundaries, and whole masks of photo-like and noisy images of
// awkward sizes.
#include "imaging/analysis/detail/SkinPixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/analysis/SkinMap.h"
#include "imaging/analysis/reference/SkinReference.h"
#include "imaging/core/BitmapData.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::testing::ForEachTarget;

constexpr uint8_t kSentinel = 0x5A;

// Rows of 256 pixels, one per (g, r) pair, with B running 0..255 along the
// row: every colour once.
std::vector<uint8_t> EveryColourRow(int g, int r) {
  std::vector<uint8_t> row(3 * 256);
  for (int b = 0; b < 256; ++b) {
    row[3 * b] = static_cast<uint8_t>(b);
    row[3 * b + 1] = static_cast<uint8_t>(g);
    row[3 * b + 2] = static_cast<uint8_t>(r);
  }
  return row;
}

// What the row kernel must leave for every colour, from the plain per-pixel
// rules, indexed by (R << 16) | (G << 8) | B: 255 for skin under any cast
// limit, 1 for skin under some, 0 for none (luminance aside).
const std::vector<uint8_t>& ExpectedMarks() {
  static const std::vector<uint8_t> marks = [] {
    std::vector<uint8_t> m(1 << 24, 0);
    for (int r = 31; r < 256; ++r) {
      for (int g = (r + 3) / 4; g <= 240; ++g) {
        for (int b = (r + 3) / 4; b <= 230; ++b) {
          uint8_t mark = 0;
          if (reference::PassesSkinTestReference(b, g, r, 0.9f)) {
            mark = 255;
          } else if (reference::PassesSkinTestReference(b, g, r, 0.975f)) {
            mark = 1;
          }
          m[(static_cast<std::size_t>(r) << 16) | (g << 8) | b] = mark;
        }
      }
    }
    return m;
  }();
  return marks;
}

TEST(SkinPixelsTest, RowKernelMatchesThePixelRulesForEveryColour) {
  const std::vector<uint8_t>& marks = ExpectedMarks();
  // Masks of every colour with no luminance bound, for the resolving below.
  std::vector<uint8_t> gated(static_cast<std::size_t>(1) << 24);
  ForEachTarget([&](const char*) {
    for (int minLum : {0, 1, 30, 47, 60, 255, 256}) {
      SCOPED_TRACE(minLum);
      int mismatches = 0;
      for (int r = 0; r < 256 && mismatches == 0; ++r) {
        for (int g = 0; g < 256 && mismatches == 0; ++g) {
          const std::vector<uint8_t> row = EveryColourRow(g, r);
          // One pixel past the row keeps its sentinel.
          std::vector<uint8_t> lum(257, kSentinel), mask(257, kSentinel);
          detail::SkinGateSums sums;
          detail::SkinGateRow(row.data(), 256, minLum, lum.data(), mask.data(), sums);
          detail::SkinGateSums expected;
          for (int b = 0; b < 256; ++b) {
            const int l = (b + 2 * g + r) >> 2;
            const uint8_t mark =
                l >= minLum ? marks[(static_cast<std::size_t>(r) << 16) | (g << 8) | b] : 0;
            if (r > 30 && 4 * g >= r && 4 * b >= r) {
              expected.b += b;
              expected.g += g;
              expected.r += r;
              ++expected.count;
            }
            expected.skin += mark == 255 ? 1 : 0;
            expected.undecided += mark == 1 ? 1 : 0;
            if (lum[b] != l || mask[b] != mark) {
              ADD_FAILURE() << "b " << b << " g " << g << " r " << r << ": lum "
                            << int{lum[b]} << " mask " << int{mask[b]};
              ++mismatches;
            }
          }
          EXPECT_EQ(lum[256], kSentinel);
          EXPECT_EQ(mask[256], kSentinel);
          if (sums.b != expected.b || sums.g != expected.g || sums.r != expected.r ||
              sums.count != expected.count || sums.skin != expected.skin ||
              sums.undecided != expected.undecided) {
            ADD_FAILURE() << "sums differ for g " << g << " r " << r;
            ++mismatches;
          }
          if (minLum == 0) {
            std::copy(mask.begin(), mask.begin() + 256,
                      gated.begin() + ((static_cast<std::ptrdiff_t>(r) << 16) | (g << 8)));
          }
        }
      }
    }
  });

  // The cast limit's extremes, a value between, and the float just below and
  // above a limit the ratios can hit exactly (0.9 is never exact; 0.9375 is
  // 15/16).
  const float limits[] = {0.9f, 0.9375f, std::nextafter(0.9375f, 0.0f),
                          std::nextafter(0.9375f, 1.0f), 0.9512345f, 0.975f};
  for (float castLimit : limits) {
    SCOPED_TRACE(castLimit);
    int mismatches = 0;
    for (int r = 0; r < 256 && mismatches == 0; ++r) {
      for (int g = 0; g < 256 && mismatches == 0; ++g) {
        const std::vector<uint8_t> row = EveryColourRow(g, r);
        const std::size_t at = (static_cast<std::size_t>(r) << 16) | (g << 8);
        std::vector<uint8_t> mask(gated.begin() + static_cast<std::ptrdiff_t>(at),
                                  gated.begin() + static_cast<std::ptrdiff_t>(at + 256));
        mask.push_back(1);  // past the row: never looked at
        const int kept = detail::SkinResolveRow(row.data(), 256, castLimit, mask.data());
        int expectedKept = 0;
        for (int b = 0; b < 256; ++b) {
          bool skin = marks[at + b] == 255;
          if (marks[at + b] == 1) {
            skin = reference::PassesSkinTestReference(b, g, r, castLimit);
            expectedKept += skin ? 1 : 0;
          }
          if (mask[b] != (skin ? 255 : 0)) {
            ADD_FAILURE() << "b " << b << " g " << g << " r " << r;
            ++mismatches;
          }
        }
        EXPECT_EQ(kept, expectedKept);
        EXPECT_EQ(mask[256], 1);
      }
    }
  }
}

// A photo-like frame: soft skin-toned blobs with shading and noise on a
// background of varying cast, with a share of saturated and grey pixels.
BitmapData PhotoLike(int width, int height, std::mt19937& rng) {
  BitmapData image(width, height);
  std::uniform_int_distribution<int> noise(-12, 12);
  const int castR = static_cast<int>(rng() % 60), castB = static_cast<int>(rng() % 60);
  const float cx = static_cast<float>(rng() % static_cast<unsigned>(width));
  const float cy = static_cast<float>(rng() % static_cast<unsigned>(height));
  const float rad = 2.0f + static_cast<float>(rng() % 40);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.GetData() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
    for (int x = 0; x < width; ++x) {
      int b = 60 + castB + (x * 3 + y) % 80, g = 70 + (y * 5) % 90, r = 50 + castR + (x * 7) % 120;
      const float dx = (x - cx) / rad, dy = (y - cy) / rad;
      if (dx * dx + dy * dy < 1.0f) {
        const int shade = static_cast<int>(40.0f * (dx * dx + dy * dy));
        b = 130 - shade;
        g = 160 - shade;
        r = 215 - shade;
      }
      const unsigned pick = rng() % 50;
      if (pick == 0) b = g = r = 250;
      if (pick == 1) b = g = r = static_cast<int>(rng() % 256);
      const int n = noise(rng);
      row[3 * x] = static_cast<uint8_t>(std::clamp(b + n, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g + n, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r + n, 0, 255));
    }
  }
  return image;
}

TEST(SkinPixelsTest, WholeMasksMatchTheReferenceOnAwkwardSizes) {
  ForEachTarget([](const char*) {
    std::mt19937 rng(2024);
    for (auto [width, height] : kelvo::testing::AwkwardSizes()) {
      for (int kind = 0; kind < 2; ++kind) {
        BitmapData image = PhotoLike(width, height, rng);
        if (kind == 1) {
          // Pure noise: every rule, every cast.
          for (int y = 0; y < height; ++y) {
            uint8_t* row = image.GetData() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
            for (int i = 0; i < 3 * width; ++i) row[i] = static_cast<uint8_t>(rng());
          }
        }
        SkinMap map;
        map.Initialize(&image, 0, false, 0.76f, 30.0f, 60.0f);
        const std::size_t area = static_cast<std::size_t>(width) * height;
        for (float meanLum : {0.0f, 40.0f, 70.0f, 400.0f}) {
          SCOPED_TRACE(testing::Message() << width << "x" << height << " kind " << kind
                                          << " mean " << meanLum);
          std::vector<uint8_t> expected(area, kSentinel);
          const int expectedCount = reference::FindSkinMapReference(
              image.GetData(), image.GetStride(), width, height, meanLum, 0.76f, 30.0f, 60.0f,
              expected.data());
          const int count =
              map.FindSkinMap(image.GetData(), image.GetStride(), meanLum, 0.76f, 30.0f, 60.0f);
          EXPECT_EQ(count, expectedCount);
          EXPECT_TRUE(std::equal(expected.begin(), expected.end(), map.GetSkinMask()));
        }
      }
    }
  });
}

}  // namespace
}  // namespace KelvoLibImageProcessing
