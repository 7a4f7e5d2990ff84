#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/analysis/Histogram.h"
#include "imaging/core/BitmapData.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::ThrowsIPException;

// Appends pixel (blue, green, red).
void AddPixel(std::vector<uint8_t>& v, int b, int g, int r) {
  v.push_back(static_cast<uint8_t>(b));
  v.push_back(static_cast<uint8_t>(g));
  v.push_back(static_cast<uint8_t>(r));
}

// count pixels of grey level g (luminance bin g at 256 bins).
void AddGrey(std::vector<uint8_t>& v, int g, int count) {
  for (int i = 0; i < count; ++i) AddPixel(v, g, g, g);
}

TEST(HistogramTest, BinningOf16BitDataAt4096And256Bins) {
  // Pixels (b, g, r): (4095, 8, 7), (0, 4095, 16).
  const uint16_t px[] = {4095, 8, 7, 0, 4095, 16};
  Histogram full(px, 2, 1, 12, 4096, true);
  EXPECT_EQ(full.GetBinScale(), 1.0);
  EXPECT_EQ(full.DataBlue()[4095], 1u);
  EXPECT_EQ(full.DataGreen()[8], 1u);
  EXPECT_EQ(full.DataRed()[7], 1u);
  EXPECT_EQ(full.DataLuminance()[(4095 + 16 + 7) >> 2], 1u);
  EXPECT_EQ(full.DataLuminance()[(0 + 8190 + 16) >> 2], 1u);

  Histogram binned(px, 2, 1, 12, 256, true);
  EXPECT_EQ(binned.GetBinScale(), 1.0 / 16.0);
  EXPECT_EQ(binned.DataBlue()[255], 1u);  // 255.94 + 0.5 limited to 255
  EXPECT_EQ(binned.DataGreen()[1], 1u);   // 8 / 16 + 0.5 = 1
  EXPECT_EQ(binned.DataRed()[0], 1u);     // 7 / 16 + 0.5 = 0.94
  EXPECT_EQ(binned.DataRed()[1], 1u);     // 16 / 16 + 0.5
  // Luminance sum 4118: trunc(4118 / 64 + 0.5) = 64.
  EXPECT_EQ(binned.DataLuminance()[64], 1u);
  // The 16-bit image form picks 4096 bins.
  BitmapData img(2, 1, kFormatBGR16, px, 12);
  Histogram fromImage(&img);
  EXPECT_EQ(fromImage.GetBinCount(), 4096);
  EXPECT_FALSE(fromImage.HasLuminance());
  EXPECT_EQ(fromImage.DataBlue()[4095], 1u);
}

TEST(HistogramTest, OutOfRange16BitSamplesLandInTheLastBin) {
  const uint16_t px[] = {65535, 4096, 5000};
  Histogram h(px, 1, 1, 6, 4096, true);
  EXPECT_EQ(h.DataBlue()[4095], 1u);
  EXPECT_EQ(h.DataGreen()[4095], 1u);
  EXPECT_EQ(h.DataRed()[4095], 1u);
  EXPECT_EQ(h.DataLuminance()[4095], 1u);
}

TEST(HistogramTest, HighClipExcludingTheSaturatedBin) {
  std::vector<uint8_t> v;
  AddGrey(v, 255, 10);
  Histogram h(v.data(), 10, 1, 30, 256, true);
  // Bin 255 is left out: N' = 0, the scan runs through the empty bins to 0.
  EXPECT_EQ(h.GetClipPointHigh(static_cast<double>(0.01f), true), 255.0 / 256.0);
  // Not excluded: the top bin alone exceeds the threshold.
  EXPECT_EQ(h.GetClipPointHigh(static_cast<double>(0.01f), false), 0.0);
  // Low clip when all pixels sit in the top bin.
  EXPECT_EQ(h.GetClipPointLow(0.005), 255.0 / 256.0);
}

TEST(HistogramTest, ClipThresholdsFromWidenedFloats) {
  // 100 pixels: 98 at level 100, one at 10 and one at 200. float 0.01 widens
  // to 0.0099999998, so the threshold is trunc(0.99999998) = 0 and the single
  // pixel at either end is the clip bin; with an exact 0.01 it would be 1.
  std::vector<uint8_t> v;
  AddGrey(v, 10, 1);
  AddGrey(v, 100, 98);
  AddGrey(v, 200, 1);
  Histogram h(v.data(), 100, 1, 300, 256, true);
  const double f = static_cast<double>(0.01f);
  EXPECT_EQ(h.GetClipPointHigh(f), 55.0 / 256.0);
  EXPECT_EQ(h.GetClipPointHigh(0.01), 155.0 / 256.0);
  EXPECT_EQ(h.GetClipPointLow(f), 10.0 / 256.0);
  EXPECT_EQ(h.GetClipPointLow(0.01), 100.0 / 256.0);
  EXPECT_EQ(h.GetClipIndexHighLum(0.01f), 200);
  EXPECT_EQ(h.GetClipIndexLowLum(0.01f), 10);
  // Fraction 0.03: threshold 3; the scans pass both outliers and stop at 100.
  EXPECT_EQ(h.GetClipIndexHighLum(0.03f), 100);
  EXPECT_EQ(h.GetClipIndexLowLum(0.03f), 100);
  // Excluding only matters for bin 255, which is empty here.
  EXPECT_EQ(h.GetClipPointHigh(f, true), 55.0 / 256.0);
}

TEST(HistogramTest, ExcludedTopBinsScaleWithTheBinCount) {
  // 16-bit data at 4096 bins leaves out the top 16 bins (4080..4095).
  std::vector<uint16_t> px;
  px.resize(300, 4090);
  px.resize(600, 4079);
  Histogram h(px.data(), 200, 1, 1200, 4096, true);
  EXPECT_EQ(h.GetClipPointHigh(0.2, true), 16.0 / 4096.0);
  EXPECT_EQ(h.GetClipPointHigh(0.2, false), 5.0 / 4096.0);
  // 100 bins: fewer than 256, nothing left out.
  Histogram small(px.data(), 200, 1, 1200, 100, true);
  EXPECT_EQ(small.GetClipPointHigh(0.2, true), small.GetClipPointHigh(0.2, false));
}

TEST(HistogramTest, MediansScanOverEmptyBins) {
  // Five pixels at luminance 0, 0, 3, 7, 9: half = 2, reached at bin 0.
  std::vector<uint8_t> v;
  for (int g : {0, 0, 3, 7, 9}) AddGrey(v, g, 1);
  Histogram h(v.data(), 5, 1, 15, 256, true);
  EXPECT_EQ(h.MedianLuminance(), 0);
  // One pixel at 0 and three at 200: the scan crosses the empty bins.
  std::vector<uint8_t> w;
  AddGrey(w, 0, 1);
  AddGrey(w, 200, 3);
  Histogram g(w.data(), 4, 1, 12, 256, true);
  EXPECT_EQ(g.MedianLuminance(), 200);
  int32_t r, gr, b;
  g.MedianRGB(r, gr, b);
  EXPECT_EQ(r, 200);
  EXPECT_EQ(gr, 200);
  EXPECT_EQ(b, 200);
  Histogram binned(w.data(), 4, 1, 12, 64, true);
  EXPECT_EQ(binned.MedianLuminance(), 200);  // bin 50: trunc(50 / 0.25 + 0.5)
}

TEST(HistogramTest, MeansAndDeviationsInSampleUnits) {
  std::vector<uint8_t> v;
  AddGrey(v, 0, 2);
  AddGrey(v, 255, 2);
  Histogram h(v.data(), 4, 1, 12, 256, true);
  EXPECT_EQ(h.MeanLuminance(), 127.5);
  EXPECT_EQ(h.StdDevLuminance(), 127.5);
  double r, g, b;
  h.StdDevRGB(r, g, b);
  EXPECT_EQ(r, 127.5);
  h.MeanRGB(r, g, b);
  EXPECT_EQ(b, 127.5);
  Histogram binned(v.data(), 4, 1, 12, 128, true);
  EXPECT_EQ(binned.MeanRed(), 127.0);  // bin 127 / 0.5 * 0.5
  EXPECT_EQ(binned.StdDevRed(), 127.0);
}

TEST(HistogramTest, MaskedCounting) {
  std::vector<uint8_t> v;
  AddGrey(v, 50, 3);
  AddGrey(v, 90, 3);
  const uint8_t mask[] = {0, 1, 0, 255, 0, 0, 9, 9};  // 3 x 2 in a mask stride of 4
  Histogram h(v.data(), 3, 2, 9, mask, 4, 256, true);
  EXPECT_EQ(h.GetPixelCount(), 2);
  EXPECT_EQ(h.DataLuminance()[50], 1u);
  EXPECT_EQ(h.DataLuminance()[90], 1u);
  EXPECT_EQ(h.MeanLuminance(), 70.0);

  const uint8_t none[] = {0, 0, 0, 0, 0, 0};
  Histogram empty(v.data(), 3, 2, 9, none, 3, 256, true);
  EXPECT_EQ(empty.GetPixelCount(), 0);
  // No pixels: statistics are 0; a clip scan finds nothing above threshold 0.
  EXPECT_EQ(empty.MeanLuminance(), 0.0);
  EXPECT_EQ(empty.StdDevLuminance(), 0.0);
  EXPECT_EQ(empty.MedianLuminance(), 0);
  EXPECT_EQ(empty.GetClipIndexLowLum(0.1f), 255);
  EXPECT_EQ(empty.GetClipIndexHighLum(0.1f), 0);

  std::vector<uint16_t> px(6 * 3, 0);
  px[3 * 4 + 2] = 4000;  // red of pixel 4
  Histogram h16(px.data(), 3, 2, 18, mask, 4, 4096, false);
  EXPECT_EQ(h16.GetPixelCount(), 2);
  EXPECT_EQ(h16.DataRed()[0], 2u);
  EXPECT_EQ(h16.DataRed()[4000], 0u);  // pixel 4 is masked out
}

// The counting kernels (paired scratch tables, lookup bins) against a plain
// per-pixel count, on odd widths, padded strides, masks and several bin
// counts.
TEST(HistogramTest, MatchesPlainCountsOnRandomImages) {
  std::mt19937 rng(17);
  for (int bins : {256, 128, 100, 300, 1, 4096}) {
    for (int trial = 0; trial < 3; ++trial) {
      const int w = 1 + static_cast<int>(rng() % 37), h = 1 + static_cast<int>(rng() % 9);
      const int stride = 3 * w + static_cast<int>(rng() % 5);
      std::vector<uint8_t> v(static_cast<std::size_t>(stride * h));
      for (auto& p : v) p = static_cast<uint8_t>(rng());
      std::vector<uint8_t> mask(static_cast<std::size_t>((w + 1) * h));
      for (auto& m : mask) m = rng() % 2 ? static_cast<uint8_t>(rng()) : 0;
      for (bool masked : {false, true}) {
        Histogram hist = masked ? Histogram(v.data(), w, h, stride, mask.data(), w + 1, bins, true)
                                : Histogram(v.data(), w, h, stride, bins, true);
        std::vector<uint32_t> c(3 * static_cast<std::size_t>(bins)),
            l(static_cast<std::size_t>(bins));
        const double scale = bins >= 256 ? 1.0 : bins / 256.0;
        auto bin = [&](double x) { return std::min(static_cast<int>(x * scale + 0.5), bins - 1); };
        int n = 0;
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x) {
            if (masked && mask[static_cast<std::size_t>(y * (w + 1) + x)] == 0) continue;
            ++n;
            const uint8_t* p = &v[static_cast<std::size_t>(y * stride + 3 * x)];
            const int s = p[0] + 2 * p[1] + p[2];
            ++c[static_cast<std::size_t>(bin(p[2]))];
            ++c[static_cast<std::size_t>(bins + bin(p[1]))];
            ++c[static_cast<std::size_t>(2 * bins + bin(p[0]))];
            const int lb =
                bins >= 256 ? s >> 2 : std::min(static_cast<int>(s * scale * 0.25 + 0.5), bins - 1);
            ++l[static_cast<std::size_t>(lb)];
          }
        }
        ASSERT_EQ(hist.GetPixelCount(), n);
        ASSERT_EQ(std::vector<uint32_t>(hist.DataRed(), hist.DataRed() + 3 * bins), c)
            << bins << " " << masked;
        ASSERT_EQ(std::vector<uint32_t>(hist.DataLuminance(), hist.DataLuminance() + bins), l);
      }
    }
  }
}

TEST(HistogramTest, RectangleFormCountsTheSubImage) {
  // 4 x 3 image; grey level = 10 * (row * 4 + column).
  std::vector<uint8_t> v;
  for (int i = 0; i < 12; ++i) AddGrey(v, 10 * i, 1);
  BitmapData img(4, 3, kFormatBGR8, v.data(), 12);
  Histogram h;
  h.Initialize(&img, 1, 1, 2, 2, 256, true);
  EXPECT_EQ(h.GetPixelCount(), 4);
  for (int lvl : {50, 60, 90, 100}) EXPECT_EQ(h.DataLuminance()[lvl], 1u) << lvl;
  EXPECT_EQ(h.MeanLuminance(), 75.0);
  const char* kInit = "Histogram::Initialize";
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&img, -1, 0, 2, 2, 256, true); }, 8, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&img, 0, 0, 4, 2, 256, true); }, 8, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&img, 2, 0, 1, 2, 256, true); }, 8, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&img, 0, 1, 3, 0, 256, true); }, 8, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&img, 0, 0, 3, 3, 256, true); }, 8, kInit));
}

TEST(HistogramTest, CumulativeCountsAndCachedRange) {
  std::vector<uint8_t> v;
  AddGrey(v, 0, 1);
  AddGrey(v, 100, 2);
  AddGrey(v, 250, 3);
  Histogram h(v.data(), 6, 1, 18, 256, true);
  const uint32_t* cl = h.DataCumulativeLum();
  EXPECT_EQ(cl[0], 1u);
  EXPECT_EQ(cl[99], 1u);
  EXPECT_EQ(cl[100], 3u);
  EXPECT_EQ(cl[249], 3u);
  EXPECT_EQ(cl[255], 6u);
  EXPECT_EQ(h.DataCumulativeLum(), cl);
  const uint32_t* c = h.DataCumulative();
  EXPECT_EQ(c[100], 3u);        // red
  EXPECT_EQ(c[256 + 255], 6u);  // green
  EXPECT_EQ(c[512 + 99], 1u);   // blue
  // Threshold 0: high clip bin 250, low clip bin 0.
  EXPECT_EQ(h.DynamicRangeLum(0.0f), 250.0f / 256.0f);
  // Cached: a different fraction returns the first answer.
  EXPECT_EQ(h.DynamicRangeLum(0.4f), 250.0f / 256.0f);
}

TEST(HistogramTest, RGBClipIndicesAndPoints) {
  // Red spread 0..99, green all 200, blue all 7.
  std::vector<uint8_t> v;
  for (int i = 0; i < 100; ++i) AddPixel(v, 7, 200, i);
  Histogram h(v.data(), 100, 1, 300, 256, false);
  int32_t r, g, b;
  h.GetClipIndexHighRGB(0.05f, r, g, b);  // threshold 5 (trunc(5.0000001))
  EXPECT_EQ(r, 94);
  EXPECT_EQ(g, 200);
  EXPECT_EQ(b, 7);
  h.GetClipIndexLowRGB(0.05f, r, g, b);
  EXPECT_EQ(r, 5);
  double dr, dg, db;
  h.GetClipPointHighRGB(0.05, dr, dg, db);
  EXPECT_EQ(dr, 161.0 / 256.0);
  EXPECT_EQ(dg, 55.0 / 256.0);
  h.GetClipPointLowRGB(0.05, dr, dg, db);
  EXPECT_EQ(dr, 5.0 / 256.0);
  EXPECT_EQ(db, 7.0 / 256.0);
}

TEST(HistogramTest, CopyHasItsOwnCountsAndEmptyCaches) {
  std::vector<uint8_t> v;
  AddGrey(v, 30, 3);
  Histogram h(v.data(), 3, 1, 9, 256, true);
  EXPECT_EQ(h.DynamicRangeLum(0.0f), 0.0f);
  Histogram copy(&h);
  EXPECT_EQ(copy.GetBinCount(), 256);
  EXPECT_EQ(copy.GetPixelCount(), 3);
  ASSERT_TRUE(copy.HasLuminance());
  EXPECT_NE(copy.DataLuminance(), h.DataLuminance());
  EXPECT_EQ(copy.DataLuminance()[30], 3u);
  EXPECT_EQ(copy.MeanLuminance(), 30.0);
  h.Release();
  EXPECT_EQ(h.DataRed(), nullptr);
  EXPECT_EQ(copy.DataRed()[30], 3u);
  EXPECT_TRUE(ThrowsIPException([&] { Histogram c(&h); }, 5, "Histogram::Histogram"));
  EXPECT_TRUE(ThrowsIPException([&] { Histogram c(static_cast<const Histogram*>(nullptr)); }, 7,
                                "Histogram::Histogram"));
  Histogram noLum(v.data(), 3, 1, 9, 256, false);
  Histogram c2(noLum);
  EXPECT_FALSE(c2.HasLuminance());
  EXPECT_EQ(c2.DataGreen()[30], 3u);
}

TEST(HistogramTest, InitializeFailuresInCheckOrder) {
  const uint8_t px[6] = {};
  const uint16_t px16[6] = {};
  const uint8_t mask[2] = {1, 1};
  const char* kInit = "Histogram::Initialize";
  Histogram h;
  EXPECT_TRUE(ThrowsIPException(
      [&] { h.Initialize(static_cast<const uint8_t*>(nullptr), 0, 0, 0, 0, false); }, 5, kInit));
  EXPECT_TRUE(
      ThrowsIPException([&] { h.Initialize(px, 2, 1, 6, nullptr, 2, 256, false); }, 5, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 2, 1, 5, 0, false); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px16, 2, 1, 11, 0, false); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 2, 1, 6, mask, 1, 256, false); }, 6, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 0, 1, 6, 0, false); }, 0, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 2, -1, 6, 0, false); }, 0, kInit));
  // The pixel count is set before the bins check fails.
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 2, 1, 6, 0, false); }, 14, kInit));
  EXPECT_EQ(h.GetPixelCount(), 2);
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(px, 2, 1, 6, mask, 2, -3, false); }, 14, kInit));
  EXPECT_EQ(h.GetPixelCount(), 0);

  EXPECT_TRUE(ThrowsIPException(
      [&] { h.Initialize(static_cast<const BitmapData*>(nullptr), 256, true); }, 4, kInit));
  BitmapData gray(2, 1, kFormatGray8, px, 2);
  EXPECT_TRUE(ThrowsIPException([&] { h.Initialize(&gray, 256, true); }, 2, kInit));
  EXPECT_TRUE(ThrowsIPException([&] { Histogram bad(&gray); }, 2, "Histogram::Histogram"));
  EXPECT_TRUE(ThrowsIPException([&] { Histogram bad(&gray, 64); }, 2, kInit));
  EXPECT_TRUE(
      ThrowsIPException([&] { Histogram bad(static_cast<const BitmapData*>(nullptr)); }, 4, kInit));
}

TEST(HistogramTest, LuminanceOperationsNeedLuminance) {
  const uint8_t px[3] = {1, 2, 3};
  Histogram h(px, 1, 1, 3, 256, false);
  EXPECT_EQ(h.DataLuminance(), nullptr);
  EXPECT_TRUE(ThrowsIPException([&] { h.MeanLuminance(); }, 25, "Histogram::MeanLuminance"));
  EXPECT_TRUE(ThrowsIPException([&] { h.StdDevLuminance(); }, 25, "Histogram::StdDevLuminance"));
  EXPECT_TRUE(ThrowsIPException([&] { h.MedianLuminance(); }, 25, "Histogram::MedianLuminance"));
  EXPECT_TRUE(
      ThrowsIPException([&] { h.GetClipPointHigh(0.1, true); }, 25, "Histogram::GetClipPointHigh"));
  EXPECT_TRUE(ThrowsIPException([&] { h.GetClipPointLow(0.1); }, 25, "Histogram::GetClipPointLow"));
  EXPECT_TRUE(ThrowsIPException([&] { h.GetClipIndexHighLum(0.1f); }, 25,
                                "Histogram::GetClipIndexHighLum"));
  EXPECT_TRUE(
      ThrowsIPException([&] { h.GetClipIndexLowLum(0.1f); }, 25, "Histogram::GetClipIndexLowLum"));
  EXPECT_TRUE(
      ThrowsIPException([&] { h.DataCumulativeLum(); }, 25, "Histogram::DataCumulativeLum"));
  // Channel statistics still work.
  EXPECT_EQ(h.MeanBlue(), 1.0);
  h.Release();
  EXPECT_TRUE(ThrowsIPException([&] { h.MeanRed(); }, 25, "Histogram::MeanRed"));
  EXPECT_EQ(h.DataCumulative(), nullptr);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
