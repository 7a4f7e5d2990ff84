// The skin map's area kernels against their per-pixel references on awkward
// sizes and boxes: masks with long clear runs (the eight-byte skips), set
// bytes other than 255, boxes that start and end inside a group of eight or
// a labelled run, and sentinels after the planes and around the boxes. The
// run kernels get the runs of a labelling, the references its label map.
#include "imaging/analysis/detail/SkinAreas.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "imaging/analysis/Regions.h"
#include "imaging/analysis/reference/SkinAreasReference.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr uint8_t kSentinel = 0x5A;
constexpr int kTail = 16;  // sentinel bytes after every plane

struct Planes {
  int width = 0, height = 0;
  std::vector<uint8_t> mask, lum;
  std::vector<uint8_t> values;  // labelled into regions
};

// Skin in rectangles on a clear background, a few set bytes that are not
// 255, values from a small set so that a box holds several regions.
Planes MakePlanes(int width, int height, std::mt19937& rng) {
  Planes p;
  p.width = width;
  p.height = height;
  const std::size_t area = static_cast<std::size_t>(width) * height;
  p.mask.assign(area + kTail, kSentinel);
  p.lum.assign(area + kTail, kSentinel);
  p.values.assign(area, 0);
  std::fill(p.mask.begin(), p.mask.begin() + static_cast<std::ptrdiff_t>(area), 0);
  for (int blob = 0; blob < 3; ++blob) {
    const int x0 = static_cast<int>(rng() % width), y0 = static_cast<int>(rng() % height);
    const int x1 = std::min(width - 1, x0 + static_cast<int>(rng() % 12));
    const int y1 = std::min(height - 1, y0 + static_cast<int>(rng() % 5));
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) p.mask[static_cast<std::size_t>(y) * width + x] = 255;
    }
  }
  for (std::size_t i = 0; i < area; ++i) {
    if (rng() % 29 == 0) p.mask[i] = static_cast<uint8_t>(1 + rng() % 254);
    p.lum[i] = static_cast<uint8_t>(rng());
    p.values[i] = static_cast<uint8_t>(rng() % 5 < 3 ? 0 : rng() % 3);
  }
  return p;
}

std::vector<detail::AreaBox> Boxes(int width, int height, std::mt19937& rng) {
  std::vector<detail::AreaBox> boxes = {{0, 0, width - 1, height - 1}};
  for (int i = 0; i < 6; ++i) {
    const int x0 = static_cast<int>(rng() % width), y0 = static_cast<int>(rng() % height);
    const int x1 = x0 + static_cast<int>(rng() % (width - x0));
    const int y1 = y0 + static_cast<int>(rng() % (height - y0));
    boxes.push_back({x0, y0, x1, y1});
  }
  return boxes;
}

TEST(SkinAreasTest, KernelsMatchTheirReferencesOnAwkwardSizesAndBoxes) {
  std::mt19937 rng(16);
  int absorbed = 0;
  for (int width : {1, 7, 8, 9, 15, 16, 17, 33, 70}) {
    for (int height : {1, 2, 5, 11}) {
      SCOPED_TRACE(::testing::Message() << width << " x " << height);
      const Planes p = MakePlanes(width, height, rng);
      Regions map(width, height, p.values.data(), width, 2, false);
      Regions runs;
      runs.InitializeRuns(width, height, p.values.data(), width, 2, false);
      ASSERT_EQ(runs.GetLabelMap(), nullptr);
      const int32_t* labels = map.GetLabelMap();
      for (const detail::AreaBox& box : Boxes(width, height, rng)) {
        SCOPED_TRACE(::testing::Message()
                     << "box " << box.x0 << "," << box.y0 << " - " << box.x1 << "," << box.y1);
        // Labels of kept regions, and -1 for the pixels of dropped ones.
        const int32_t label = static_cast<int32_t>(rng() % 4) - 1;

        std::vector<uint8_t> painted, expected;
        EXPECT_EQ(detail::MaxMaskedLuminance(p.mask.data(), p.lum.data(), width, box),
                  reference::MaxMaskedLuminanceReference(p.mask.data(), p.lum.data(), width, box));

        const int minLum = static_cast<int>(rng() % 257);
        painted = p.mask;
        expected = p.mask;
        detail::FillLabelFrom(runs, p.lum.data(), width, box, label, minLum, painted.data());
        reference::FillLabelFromReference(labels, p.lum.data(), width, box, label,
                                          minLum, expected.data());
        EXPECT_EQ(painted, expected);

        // The float sums are compared exactly: the kernel must add in the
        // reference's order.
        std::vector<float> scratch(static_cast<std::size_t>(width) + 1, -1.0f);
        const detail::LumMoments got =
            detail::MaskedLuminanceMoments(p.mask.data(), p.lum.data(), width, box, scratch.data());
        const detail::LumMoments want =
            reference::MaskedLuminanceMomentsReference(p.mask.data(), p.lum.data(), width, box);
        EXPECT_EQ(got.count, want.count);
        EXPECT_EQ(got.sum, want.sum);
        EXPECT_EQ(got.sumSquares, want.sumSquares);
        EXPECT_EQ(scratch.back(), -1.0f);
      }

      // A choice of the kept regions, each painted in a box of its own
      // that may cut it or lie beside it, over the values it was found in;
      // then scattered set pixels (255) on a clear ground, and the same with
      // a minimum that makes single pixels specks, which the ground (a
      // region of value 0) takes in.
      std::vector<uint8_t> sparse(p.values.size(), 0);
      for (uint8_t& v : sparse) v = rng() % 9 == 0 ? 255 : 0;
      for (const auto& [minSize, values] :
           {std::pair{2, &p.values}, std::pair{2, &std::as_const(sparse)},
            std::pair{200, &std::as_const(sparse)}}) {
        SCOPED_TRACE(::testing::Message() << "minSize " << minSize);
        Regions paintMap(width, height, values->data(), width, minSize, false);
        Regions paintRuns;
        paintRuns.InitializeRuns(width, height, values->data(), width, minSize, false);
        const int kept = paintRuns.GetRegionCount();
        std::vector<uint8_t> chosen(static_cast<std::size_t>(kept) + 1);
        std::vector<detail::AreaBox> boxes = Boxes(width, height, rng);
        boxes.resize(chosen.size(), boxes.front());
        std::vector<uint8_t> expected(p.mask.size(), 0);
        std::copy(p.mask.begin() + static_cast<std::ptrdiff_t>(width) * height, p.mask.end(),
                  expected.begin() + static_cast<std::ptrdiff_t>(width) * height);
        for (int label = 0; label < kept; ++label) {
          chosen[static_cast<std::size_t>(label)] = rng() % 3 != 0 ? 1 : 0;
          if (chosen[static_cast<std::size_t>(label)] != 0) {
            reference::PaintLabelReference(paintMap.GetLabelMap(), width,
                                           boxes[static_cast<std::size_t>(label)], label,
                                           expected.data());
          }
        }
        std::vector<uint8_t> painted = *values;
        painted.resize(p.mask.size(), kSentinel);
        detail::PaintChosen(paintRuns, chosen.data(), boxes.data(), painted.data());
        EXPECT_EQ(painted, expected);
        absorbed += paintRuns.GetSpeckCount();
      }
    }
  }
  EXPECT_GT(absorbed, 10);
}

TEST(SkinAreasTest, HistogramsMatchTheReferenceOnPaddedRows) {
  std::mt19937 rng(61);
  for (int width : {1, 3, 8, 9, 23, 64, 65}) {
    for (int height : {1, 4, 9}) {
      SCOPED_TRACE(::testing::Message() << width << " x " << height);
      const Planes p = MakePlanes(width, height, rng);
      const int stride = 3 * width + 5;
      std::vector<uint8_t> pixels(static_cast<std::size_t>(stride) * height);
      for (uint8_t& v : pixels) v = static_cast<uint8_t>(rng());
      uint32_t lum[256 + 1], red[256 + 1], lumWant[256], redWant[256];
      lum[256] = red[256] = 0xDEADBEEF;
      uint64_t sum = 5, sumWant = 5;  // both add to what is there
      const uint32_t count = detail::SkinHistograms(p.mask.data(), p.lum.data(), pixels.data(),
                                                    stride, width, height, lum, red, sum);
      const uint32_t countWant = reference::SkinHistogramsReference(
          p.mask.data(), p.lum.data(), pixels.data(), stride, width, height, lumWant, redWant,
          sumWant);
      EXPECT_EQ(count, countWant);
      EXPECT_EQ(sum, sumWant);
      EXPECT_EQ(std::memcmp(lum, lumWant, sizeof lumWant), 0);
      EXPECT_EQ(std::memcmp(red, redWant, sizeof redWant), 0);
      EXPECT_EQ(lum[256], 0xDEADBEEFu);
      EXPECT_EQ(red[256], 0xDEADBEEFu);
    }
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
