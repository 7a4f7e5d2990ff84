// Skin map: the image's colour cast, the area grouping with hole filling, the
// clip levels, 16-bit input and the failures. The pixel rules and the
// candidate threshold are checked against their plain reference in
// SkinPixelsTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/analysis/SkinMap.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/Threads.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;

struct Bgr {
  uint8_t b, g, r;
};

// Skin tones that pass every rule (gr < 0.8, bg - br < 0.5).
constexpr Bgr kSkin{120, 150, 200};
constexpr Bgr kBackground{180, 90, 40};  // blue: fails the skin test

BitmapData MakeImage(int width, int height, Bgr fill) {
  BitmapData image(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.GetData() + y * image.GetStride();
    for (int x = 0; x < width; ++x) {
      row[3 * x] = fill.b;
      row[3 * x + 1] = fill.g;
      row[3 * x + 2] = fill.r;
    }
  }
  return image;
}

void SetPixel(BitmapData& image, int x, int y, Bgr p) {
  uint8_t* q = image.GetData() + y * image.GetStride() + 3 * x;
  q[0] = p.b;
  q[1] = p.g;
  q[2] = p.r;
}

// Runs FindSkinMap on five copies of a row of pixels through a map of the
// same size; returns the first row of the mask.
std::vector<uint8_t> FindOnRow(const std::vector<Bgr>& row) {
  constexpr int kRows = 5;
  BitmapData image = MakeImage(static_cast<int>(row.size()), kRows, kBackground);
  for (int y = 0; y < kRows; ++y) {
    for (std::size_t i = 0; i < row.size(); ++i) SetPixel(image, static_cast<int>(i), y, row[i]);
  }
  SkinMap map;
  map.Initialize(&image, 0, false, 0.76f, 30.0f, 60.0f);
  map.FindSkinMap(image.GetData(), image.GetStride(), 0.0f, 0.76f, 30.0f, 60.0f);
  return {map.GetSkinMask(), map.GetSkinMask() + row.size()};
}

TEST(SkinMapFindTest, ImageColourSetsTheCastLimit) {
  // br 0.94: skin only while the cast limit is above 0.94.
  constexpr Bgr kBlueish{188, 150, 200};
  // Greenish passing pixels (both ratios >= 1): limit 0.975.
  std::vector<Bgr> row(20, Bgr{120, 130, 100});
  row[0] = kBlueish;
  EXPECT_EQ(FindOnRow(row)[0], 255);
  // Reddish passing pixels: limit 0.9.
  std::fill(row.begin() + 1, row.end(), Bgr{60, 120, 200});
  EXPECT_EQ(FindOnRow(row)[0], 0);
  // Pixels failing the gate (R 30) do not colour the image.
  std::fill(row.begin() + 1, row.end(), Bgr{200, 10, 30});
  row[1] = row[2] = row[3] = {120, 130, 100};
  EXPECT_EQ(FindOnRow(row)[0], 255);
}

// A 100 x 100 mask (minimum region size 0, area threshold 10 pixels) with a
// 30 x 30 skin square holding a dark 4 x 4 hole, a 20 x 20 square holding a
// bright hole, and a 9-pixel blob that is too small to open an area.
struct MaskScene {
  std::vector<uint8_t> mask = std::vector<uint8_t>(100 * 100, 0);
  std::vector<uint8_t> lum = std::vector<uint8_t>(100 * 100, 30);
  void Fill(std::vector<uint8_t>& plane, int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y <= y1; ++y) {
      for (int x = x0; x <= x1; ++x) plane[y * 100 + x] = v;
    }
  }
  MaskScene() {
    Fill(mask, 50, 50, 79, 79, 255);
    Fill(lum, 50, 50, 79, 79, 100);
    // Holes of 15 pixels: a 4 x 4 block whose corner pixel is skin, so the
    // brightest skin within the hole's box is 100.
    Fill(mask, 60, 60, 63, 63, 0);
    Fill(lum, 60, 60, 63, 63, 74);  // below 0.75 * 100: stays a hole
    Fill(mask, 63, 63, 63, 63, 255);
    Fill(lum, 63, 63, 63, 63, 100);
    Fill(mask, 10, 10, 29, 29, 255);
    Fill(lum, 10, 10, 29, 29, 100);
    Fill(mask, 15, 15, 18, 18, 0);
    Fill(lum, 15, 15, 18, 18, 80);  // 75 or brighter: filled
    Fill(mask, 18, 18, 18, 18, 255);
    Fill(lum, 18, 18, 18, 18, 100);
    Fill(mask, 90, 5, 92, 7, 255);
  }
};

TEST(SkinMapStatsTest, GroupsAreasFillsBrightHolesAndMeasures) {
  MaskScene s;
  SkinMap map(s.mask.data(), s.lum.data(), 100, 100);
  ASSERT_EQ(map.GetSkinAreaCount(), 2);
  const uint8_t* m = map.GetSkinMask();
  EXPECT_EQ(m[16 * 100 + 16], 255);  // bright hole filled
  EXPECT_EQ(m[61 * 100 + 61], 0);    // dark hole kept
  EXPECT_EQ(m[6 * 100 + 91], 0);     // small blob dropped
  EXPECT_EQ(m[55 * 100 + 55], 255);
  EXPECT_EQ(map.SkinPixelCount(), 885u + 400u);
  EXPECT_FLOAT_EQ(map.SkinFraction(), 0.1285f);

  std::vector<SkinMap::Box> boxes;
  std::vector<int> counts;
  std::vector<float> means;
  ASSERT_EQ(map.GetSkinRegionsLum(0, boxes, counts, means), 2);
  // Areas in decreasing box size.
  EXPECT_EQ(boxes[0].x0, 50);
  EXPECT_EQ(boxes[0].y1, 79);
  EXPECT_EQ(boxes[1].x0, 10);
  EXPECT_EQ(boxes[1].x1, 29);
  // Area pixel counts are those of the regions (the filled hole is not
  // added); the means cover the filled hole.
  EXPECT_EQ(counts[0], 885);
  EXPECT_EQ(counts[1], 385);
  EXPECT_FLOAT_EQ(means[0], 100.0f);
  EXPECT_FLOAT_EQ(means[1], (385 * 100 + 15 * 80) / 400.0f);
  EXPECT_EQ(map.CountSkinRegions(500), 1);
  EXPECT_EQ(map.GetSkinRegions(1000, boxes, counts), 0);
  EXPECT_TRUE(boxes.empty());

  SkinMap::Box box;
  int count = 0;
  float mean = 0, stdDev = -1;
  bool bright = true;
  ASSERT_TRUE(map.GetBrightestSkinRegion(box, count, mean, stdDev, bright));
  EXPECT_EQ(box.x0, 50);
  EXPECT_FLOAT_EQ(mean, 100.0f);
  EXPECT_FLOAT_EQ(stdDev, 0.0f);
  EXPECT_FALSE(bright);

  // Skin mean over the final mask: 885 + 385 pixels at 100, 15 at 80.
  EXPECT_FLOAT_EQ(map.SkinMeanLuminance(), (1270 * 100 + 15 * 80) / 1285.0f);

  EXPECT_TRUE(Failures("SkinMap::ComputeStats")([&] { map.ComputeStats(); }, 26,
                                                ": this routine may only be called once"));
}

TEST(SkinMapStatsTest, BrightFlagCountsEverythingFromLevel249Up) {
  std::vector<uint8_t> mask(20 * 20, 255);
  std::vector<uint8_t> lum(20 * 20, 100);
  lum[5 * 20 + 5] = 255;  // saturated highlights only, none in bin 249
  lum[5 * 20 + 6] = 255;
  SkinMap map(mask.data(), lum.data(), 20, 20);
  SkinMap::Box box;
  int count = 0;
  float mean = 0, stdDev = 0;
  bool bright = false;
  ASSERT_TRUE(map.GetBrightestSkinRegion(box, count, mean, stdDev, bright));
  EXPECT_TRUE(bright);
  EXPECT_EQ(count, 400);

  std::fill(lum.begin(), lum.end(), 100);
  SkinMap dull(mask.data(), lum.data(), 20, 20);
  ASSERT_TRUE(dull.GetBrightestSkinRegion(box, count, mean, stdDev, bright));
  EXPECT_FALSE(bright);
}

TEST(SkinMapStatsTest, ClipLevels) {
  // Skin luminances 200 (5 pixels) and 250 (1 pixel).
  std::vector<uint8_t> mask(10 * 10, 0);
  std::vector<uint8_t> lum(10 * 10, 10);
  for (int i = 0; i < 6; ++i) {
    mask[i * 11] = 255;
    lum[i * 11] = i == 0 ? 250 : 200;
  }
  SkinMap map(mask.data(), lum.data(), 10, 10);
  // Stops at 250 with 1 > 0; the excess is below 3.
  EXPECT_EQ(map.SkinLumClipLevel(0), 250);
  // Count 1: runs on to 200 with 6, 5 too many: one bin back up.
  EXPECT_EQ(map.SkinLumClipLevel(1), 201);
  EXPECT_EQ(map.SkinLumClipLevel(0.5), 201);  // trunc(6 * 0.5) = 3
  EXPECT_EQ(map.SkinLumClipLevel(6), 0);      // never exceeded: bin 0
  // No red histogram from a mask.
  EXPECT_TRUE(Failures("SkinMap::SkinRedClipLevel")([&] { map.SkinRedClipLevel(0); }, 25));
}

// 64 x 64 blue image with a 24 x 24 skin square and a 10 x 5 white patch.
BitmapData SkinSquareImage() {
  BitmapData image = MakeImage(64, 64, kBackground);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 10; ++x) SetPixel(image, x, y, {255, 255, 255});
  }
  for (int y = 20; y < 44; ++y) {
    for (int x = 20; x < 44; ++x) SetPixel(image, x, y, kSkin);
  }
  SetPixel(image, 30, 30, {130, 160, 210});  // one brighter, redder pixel
  return image;
}

TEST(SkinMapTest, FindsCleansAndMeasuresASkinSquare) {
  BitmapData image = SkinSquareImage();
  SkinMap map;
  map.Initialize(&image, 0, false, 0.76f, 30.0f, 60.0f);
  EXPECT_EQ(map.GetBitDepth(), 8);
  EXPECT_EQ(map.GetSkinAreaCount(), 1);
  // The 5 x 5 median takes three pixels off each corner of the square.
  EXPECT_EQ(map.SkinPixelCount(), 576u - 12u);
  EXPECT_FLOAT_EQ(map.SkinFraction(), 564.0f / 4096.0f);
  const uint8_t* m = map.GetSkinMask();
  EXPECT_EQ(m[20 * 64 + 20], 0);
  EXPECT_EQ(m[20 * 64 + 21], 0);
  EXPECT_EQ(m[20 * 64 + 22], 255);
  EXPECT_EQ(m[21 * 64 + 21], 255);
  EXPECT_EQ(m[19 * 64 + 30], 0);
  EXPECT_EQ(m[2 * 64 + 2], 0);  // white: too much green and blue
  // L of kSkin = (120 + 300 + 200) >> 2 = 155; the redder pixel 165.
  EXPECT_FLOAT_EQ(map.SkinMeanLuminance(), (563 * 155 + 165) / 564.0f);
  EXPECT_EQ(map.SkinLumClipLevel(0), 165);
  EXPECT_EQ(map.SkinRedClipLevel(0), 210);
  EXPECT_EQ(map.SkinRedClipLevel(1), 201);  // 563 at 200: back up one
  EXPECT_EQ(map.GetLuminanceMap()[63 * 64 + 63], (180 + 180 + 40) >> 2);

  std::vector<SkinMap::Box> boxes;
  std::vector<int> counts;
  std::vector<float> means;
  // Luminance range 100 .. 255: the top 16 levels already hold the 50 white
  // pixels (at least 41 wanted), so the bright level is 238 and the skin
  // (155) is not bright.
  EXPECT_EQ(map.GetSkinRegionsBright(0, 0.1f, 0.01f, boxes, counts, means), 0);
  EXPECT_TRUE(boxes.empty());
  // Wanting 20 % of the pixels reaches down to the background's level 100:
  // the bright level is 99 and the square qualifies.
  EXPECT_EQ(map.GetSkinRegionsBright(0, 0.1f, 0.2f, boxes, counts, means), 1);
  EXPECT_EQ(counts[0], 564);
  EXPECT_NEAR(means[0], (563 * 155 + 165) / 564.0f, 1e-3);
}

TEST(SkinMapTest, SixteenBitInputIsReducedAndScaledBack) {
  BitmapData image8 = SkinSquareImage();
  BitmapData image16(64, 64, kFormatBGR16, nullptr, 64 * 6);
  for (int y = 0; y < 64; ++y) {
    const uint8_t* s = image8.GetData() + y * image8.GetStride();
    auto* d = reinterpret_cast<uint16_t*>(image16.GetData() + y * image16.GetStride());
    // v * 4095 / 255 reduces back to v exactly.
    for (int i = 0; i < 3 * 64; ++i)
      d[i] = static_cast<uint16_t>(std::lround(s[i] * 4095.0 / 255.0));
  }
  SkinMap map8(&image8, 0, false, 0.76f, 30.0f, 60.0f);
  SkinMap map16(&image16, 0, false, 0.76f, 30.0f * 16.0f, 60.0f * 16.0f);
  EXPECT_EQ(map16.GetBitDepth(), 12);
  EXPECT_EQ(map16.SkinPixelCount(), map8.SkinPixelCount());
  EXPECT_FLOAT_EQ(map16.SkinMeanLuminance(), 16.0f * map8.SkinMeanLuminance());
  EXPECT_EQ(map16.SkinLumClipLevel(0), 165 * 16);
}

TEST(SkinMapTest, TooLittleSkinHasNoAreasAndNoTable) {
  BitmapData image = MakeImage(64, 64, kBackground);
  for (int y = 10; y < 12; ++y) {
    for (int x = 10; x < 12; ++x) SetPixel(image, x, y, kSkin);  // 4 < 4.096
  }
  SkinMap map(&image, 0, false);
  EXPECT_EQ(map.GetSkinAreaCount(), 0);
  EXPECT_EQ(map.SkinFraction(), 0.0f);
  EXPECT_EQ(map.SkinPixelCount(), 0u);
  SkinMap::Box box;
  int count = 0;
  float mean = 0, stdDev = 0;
  bool bright = false;
  EXPECT_FALSE(map.GetBrightestSkinRegion(box, count, mean, stdDev, bright));
  EXPECT_EQ(map.CountSkinRegions(0), 0);
}

TEST(SkinMapTest, FailuresReleaseWhatWasBuilt) {
  BitmapData image = SkinSquareImage();
  SkinMap map(&image, 0, false);
  ASSERT_NE(map.GetSkinMask(), nullptr);

  const Failures init("SkinMap::Initialize");
  const auto initialize = [&](const BitmapData* source, int camera) {
    return [&map, source, camera] { map.Initialize(source, camera, false, 0.76f, 30.0f, 60.0f); };
  };
  EXPECT_TRUE(init(initialize(&image, 2), 26, ": unsupported camera type"));
  EXPECT_EQ(map.GetSkinMask(), nullptr);
  EXPECT_EQ(map.GetLuminanceMap(), nullptr);
  EXPECT_EQ(map.GetWidth(), 0);
  EXPECT_EQ(map.SkinFraction(), 0.0f);

  BitmapData gray(64, 64, kFormatGray8, nullptr, 64);
  BitmapData empty;
  EXPECT_TRUE(init(initialize(nullptr, 0), 4));
  EXPECT_TRUE(init(initialize(&gray, 0), 2));
  EXPECT_TRUE(init(initialize(&empty, 0), 0));
  EXPECT_TRUE(init([&] { SkinMap bad(&image, -1); }, 26, ": unsupported camera type"));
  const uint8_t bytes[4] = {0, 0, 0, 0};
  EXPECT_TRUE(Failures("SkinMap::SkinMap")([&] { SkinMap bad(bytes, nullptr, 2, 2); }, 5));
  EXPECT_TRUE(Failures("SkinMap::SkinMap")([&] { SkinMap bad(bytes, bytes, 0, 2); }, 0));
  SkinMap unset;
  std::vector<SkinMap::Box> boxes;
  std::vector<int> counts;
  std::vector<float> means;
  EXPECT_TRUE(Failures("SkinMap::GetSkinRegionsBright")(
      [&] { unset.GetSkinRegionsBright(0, 0.1f, 0.1f, boxes, counts, means); }, 26,
      ": calculation of dynamic range failed"));
}

}  // namespace
}  // namespace KelvoLibImageProcessing

namespace KelvoLibImageProcessing {
namespace {

// Noisy skin-toned blobs on random colours: every pass of the map (gate,
// ratio rules, the 5 x 5 majority, regions, histograms) has ragged edges to
// work on, across the borders of every band.
BitmapData BlobImage(int width, int height, uint32_t seed) {
  BitmapData image(width, height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> any(0, 255), jitter(-28, 28);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.GetData() + static_cast<std::size_t>(y) * image.GetStride();
    for (int x = 0; x < width; ++x) {
      const float u = static_cast<float>(x) / width, v = static_cast<float>(y) / height;
      const float d1 = (u - 0.3f) * (u - 0.3f) / 0.04f + (v - 0.4f) * (v - 0.4f) / 0.09f;
      const float d2 = (u - 0.75f) * (u - 0.75f) / 0.01f + (v - 0.7f) * (v - 0.7f) / 0.02f;
      if (d1 < 1.0f || d2 < 1.0f) {
        row[3 * x] = static_cast<uint8_t>(std::clamp(110 + jitter(rng), 0, 255));
        row[3 * x + 1] = static_cast<uint8_t>(std::clamp(145 + jitter(rng), 0, 255));
        row[3 * x + 2] = static_cast<uint8_t>(std::clamp(205 + jitter(rng), 0, 255));
      } else {
        for (int c = 0; c < 3; ++c) row[3 * x + c] = static_cast<uint8_t>(any(rng));
      }
    }
  }
  return image;
}

// Skin in shapes that cross many bands of rows and join only far from
// where they start, thick enough to outlast the 5 x 5 majority: a square
// spiral, nested U shapes, a comb whose teeth meet at the bottom, two
// blocks tied by a three-pixel bridge, and a face with dark and bright
// holes (eyes, a highlight) on a grey ground.
BitmapData SeamImage(int width, int height, uint32_t seed) {
  std::vector<uint8_t> skin(static_cast<std::size_t>(width) * height, 0);
  const auto fill = [&](int x0, int y0, int x1, int y1, uint8_t kind) {
    for (int y = std::max(y0, 0); y <= std::min(y1, height - 1); ++y) {
      for (int x = std::max(x0, 0); x <= std::min(x1, width - 1); ++x) {
        skin[static_cast<std::size_t>(y) * width + x] = kind;
      }
    }
  };
  constexpr int kArm = 5, kStep = 2 * kArm + 2;
  for (int x0 = 0, y0 = 0, x1 = width / 3, y1 = height - 1; x0 + kStep < x1 && y0 + kStep < y1;
       x0 += kStep, y0 += kStep, x1 -= kStep, y1 -= kStep) {
    fill(x0, y0, x1, y0 + kArm - 1, 1);
    fill(x1 - kArm + 1, y0, x1, y1, 1);
    fill(x0 + kStep - kArm, y1 - kArm + 1, x1, y1, 1);
    fill(x0 + kStep - kArm, y0 + kStep - kArm, x0 + kStep - 1, y1, 1);
    fill(x0 + kStep - kArm, y0 + kStep - kArm, x0 + kStep + kArm, y0 + kStep - 1, 1);
  }
  const int mid = width / 3 + 8, right = 2 * width / 3;
  for (int k = 0; k < 4; ++k) {
    const int l = mid + 2 * kArm * k, r = right - 2 * kArm * k, bottom = height / 2 - 2 * kArm * k;
    fill(l, 4 * kArm * k, l + kArm - 1, bottom, 1);
    fill(r - kArm + 1, 4 * kArm * k, r, bottom, 1);
    fill(l, bottom - kArm + 1, r, bottom, 1);
  }
  for (int x = mid; x + kArm < right; x += 2 * kArm) fill(x, height / 2 + 8, x + kArm - 1, height - 12, 1);
  fill(mid, height - 12, right, height - 8, 1);
  fill(right + 8, 0, width - 1, height / 3, 1);
  fill(right + 8, height / 3 + 3, width - 1, height / 2, 1);
  fill((right + width) / 2, height / 3, (right + width) / 2 + 2, height / 3 + 3, 1);
  fill(right + 8, height / 2 + 8, width - 1, height - 1, 1);
  fill(right + 30, height / 2 + 30, right + 40, height / 2 + 36, 2);   // an eye
  fill(right + 60, height / 2 + 30, right + 70, height / 2 + 36, 2);   // an eye
  fill(right + 45, height / 2 + 60, right + 50, height / 2 + 75, 3);   // a highlight

  BitmapData image(width, height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> jitter(-20, 20);
  const auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
  for (int y = 0; y < height; ++y) {
    uint8_t* row = image.GetData() + static_cast<std::size_t>(y) * image.GetStride();
    for (int x = 0; x < width; ++x) {
      const int j = jitter(rng);
      int b = 90, g = 92, r = 95;  // grey ground
      switch (skin[static_cast<std::size_t>(y) * width + x]) {
        case 1: b = 110, g = 145, r = 205; break;
        case 2: b = 25, g = 25, r = 30; break;
        case 3: b = 245, g = 248, r = 252; break;
        default: break;
      }
      row[3 * x] = clamp(b + j);
      row[3 * x + 1] = clamp(g + j / 2);
      row[3 * x + 2] = clamp(r + j / 3);
    }
  }
  return image;
}

struct SkinResult {
  std::vector<uint8_t> mask, lum;
  uint32_t count = 0;
  float mean = 0.0f;
  int areas = 0;
  std::vector<int> clips;
  // Every area's mean luminance, then the brightest one's deviation.
  std::vector<float> moments;

  bool operator==(const SkinResult& o) const {
    return mask == o.mask && lum == o.lum && count == o.count &&
           std::memcmp(&mean, &o.mean, sizeof mean) == 0 && areas == o.areas && clips == o.clips &&
           moments == o.moments;
  }
};

SkinResult Analyse(const BitmapData& image, bool useMeanLuminance) {
  SkinMap map;
  map.Initialize(&image, 0, useMeanLuminance, 0.76f, 30.0f, 60.0f);
  const std::size_t area =
      static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(image.GetHeight());
  SkinResult r;
  r.mask.assign(map.GetSkinMask(), map.GetSkinMask() + area);
  r.lum.assign(map.GetLuminanceMap(), map.GetLuminanceMap() + area);
  r.count = map.SkinPixelCount();
  r.mean = map.SkinMeanLuminance();
  r.areas = map.GetSkinAreaCount();
  std::vector<SkinMap::Box> boxes;
  std::vector<int> counts;
  map.GetSkinRegionsLum(0, boxes, counts, r.moments);
  SkinMap::Box box;
  int pixels = 0;
  float mean = 0.0f, deviation = 0.0f;
  bool bright = false;
  if (map.GetBrightestSkinRegion(box, pixels, mean, deviation, bright)) {
    r.moments.push_back(deviation);
  }
  for (int level : {0, 1, 10, 50}) {
    r.clips.push_back(map.SkinLumClipLevel(level));
    r.clips.push_back(map.SkinRedClipLevel(level));
  }
  return r;
}

TEST(SkinMapThreadsTest, EveryThreadCountGivesTheSameMap) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  // Blobs, then shapes whose regions cross band seams in awkward ways.
  const int sizes[][3] = {{1, 1, 0},     {3, 5, 0},      {641, 479, 0}, {1920, 1080, 0},
                          {5, 4000, 0},  {640, 480, 1},  {1283, 721, 1}};
  uint32_t seed = 5;
  for (const auto& size : sizes) {
    const BitmapData image =
        size[2] == 0 ? BlobImage(size[0], size[1], seed++) : SeamImage(size[0], size[1], seed++);
    for (bool useMean : {false, true}) {
      SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1] << " mean " << useMean);
      kelvo::SetThreads(1);
      const SkinResult one = Analyse(image, useMean);
      if (size[0] * size[1] > 300000) {
        // The blobs are found, with areas; otherwise the comparison is idle.
        EXPECT_GT(one.count, 0.05 * size[0] * size[1]);
        EXPECT_GE(one.areas, 1);
      }
      for (int count : {2, 3, 7}) {
        kelvo::SetThreads(count);
        EXPECT_TRUE(Analyse(image, useMean) == one) << count << " threads";
      }
    }
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
