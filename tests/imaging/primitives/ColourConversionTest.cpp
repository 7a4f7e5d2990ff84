// Frame conversion (packed 4:2:2 to BGR) and the RGB <-> YUV planar pair.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "imaging/primitives/Primitives.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

using kelvo::testing::TestImage;

int Clamp255(long v) {
  return static_cast<int>(std::clamp<long>(v, 0, 255));
}

// Straight from the fixed-point formulas, one pixel pair at a time.
void Expected422(const TestImage<Ipp8u>& src, TestImage<Ipp8u>& dst) {
  const int w = dst.Width();
  for (int y = 0; y < dst.Height(); ++y) {
    for (int x0 = 0; x0 < w; x0 += 2) {
      const int cb = src.At(2 * x0 + 1, y);
      const int cr = x0 + 1 < w ? src.At(2 * x0 + 3, y) : src.At(2 * x0 - 1, y);
      for (int x = x0; x < std::min(x0 + 2, w); ++x) {
        const long yy = src.At(2 * x, y);
        dst.At(x, y, 0) = static_cast<Ipp8u>(Clamp255((76284 * yy + 132186 * cb - 18140365) >> 16));
        dst.At(x, y, 1) =
            static_cast<Ipp8u>(Clamp255((76284 * yy - 53281 * cr - 25690 * cb + 8887730) >> 16));
        dst.At(x, y, 2) = static_cast<Ipp8u>(Clamp255((76284 * yy + 104595 * cr - 14608761) >> 16));
      }
    }
  }
}

std::vector<Ipp8u> Convert422(std::vector<Ipp8u> yuyv, int width) {
  std::vector<Ipp8u> bgr(3 * width, 0xEE);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(yuyv.data(), 2 * width, bgr.data(), 3 * width, {width, 1}),
            ippStsNoErr);
  return bgr;
}

TEST(YCbCr422ToBGR, StudioBlackAndWhite) {
  EXPECT_EQ(Convert422({16, 128, 16, 128}, 2), (std::vector<Ipp8u>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Convert422({235, 128, 235, 128}, 2), (std::vector<Ipp8u>(6, 254)));
  // Saturation at both ends: full blue chroma with white luma, full red with black.
  const std::vector<Ipp8u> hot = Convert422({255, 255, 255, 255}, 2);
  EXPECT_EQ(hot[0], 255);  // blue
  EXPECT_EQ(hot[2], 255);  // red
  EXPECT_EQ(Convert422({0, 128, 0, 128}, 2), (std::vector<Ipp8u>(6, 0)));
}

TEST(YCbCr422ToBGR, StatusCodesWriteNothing) {
  std::vector<Ipp8u> src(64, 128), dst(64, 0xEE);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(src.data(), 16, dst.data(), 24, {1, 2}), ippStsSizeErr);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(src.data(), 16, dst.data(), 24, {4, 0}), ippStsSizeErr);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(src.data(), 16, dst.data(), 24, {-4, 2}), ippStsSizeErr);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(nullptr, 16, dst.data(), 24, {4, 2}), ippStsNullPtrErr);
  EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(src.data(), 16, nullptr, 24, {4, 2}), ippStsNullPtrErr);
  EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](Ipp8u v) { return v == 0xEE; }));
}

TEST(YCbCr422ToBGR, RandomFramesWithWideStepsOnEveryTarget) {
  std::mt19937 rng(7);
  kelvo::testing::ForEachTarget([&](const char*) {
    for (int w : {2, 3, 5, 16, 31, 33, 64, 67}) {
      for (int h : {1, 4}) {
        TestImage<Ipp8u> src(2 * w, h, 1, 0, 5);
        src.FillRandom(rng, 0, 255);
        TestImage<Ipp8u> dst(w, h, 3), expected(w, h, 3);
        Expected422(src, expected);
        ASSERT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(src.Roi(), src.Step(), dst.Roi(), dst.Step(), {w, h}),
                  ippStsNoErr);
        ASSERT_TRUE(kelvo::testing::SameBytes(dst, expected)) << w << "x" << h;
      }
    }
  });
}

// The YUV pair against the stated real-valued weights: the fixed-point
// results may differ from exact rounding by at most one.
double Sat(double v) {
  return std::clamp(v, 0.0, 255.0);
}

TEST(RGBToYUV, MatchesRealWeightsWithinOne) {
  std::mt19937 rng(3);
  const int w = 37, h = 5;
  TestImage<Ipp8u> src(w, h, 3, 0, 4);
  src.FillRandom(rng, 0, 255);
  src.At(0, 0, 0) = 255, src.At(0, 0, 1) = 0, src.At(0, 0, 2) = 0;  // V saturates high
  src.At(1, 0, 0) = 0, src.At(1, 0, 1) = 255, src.At(1, 0, 2) = 0;  // V saturates low
  TestImage<Ipp8u> py(w, h), pu(w, h), pv(w, h);
  Ipp8u* planes[3] = {py.Roi(), pu.Roi(), pv.Roi()};
  ASSERT_EQ(ippiRGBToYUV_8u_C3P3R(src.Roi(), src.Step(), planes, py.Step(), {w, h}), ippStsNoErr);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double r = src.At(x, y, 0), g = src.At(x, y, 1), b = src.At(x, y, 2);
      const double yy = 0.299 * r + 0.587 * g + 0.114 * b;
      EXPECT_NEAR(py.At(x, y), Sat(yy), 1.0);
      EXPECT_NEAR(pu.At(x, y), Sat(0.492 * (b - yy) + 128), 1.0);
      EXPECT_NEAR(pv.At(x, y), Sat(0.877 * (r - yy) + 128), 1.0);
    }
  }
  EXPECT_EQ(pv.At(0, 0), 255);
  EXPECT_EQ(pv.At(1, 0), 0);
}

// Within one is not enough for greys: they must survive both ways exactly.
TEST(RGBToYUV, GreysAreExact) {
  TestImage<Ipp8u> grey(256, 1, 3), py(256, 1), pu(256, 1), pv(256, 1), back(256, 1, 3);
  for (int v = 0; v < 256; ++v)
    for (int c = 0; c < 3; ++c) grey.At(v, 0, c) = static_cast<Ipp8u>(v);
  Ipp8u* planes[3] = {py.Roi(), pu.Roi(), pv.Roi()};
  const Ipp8u* cplanes[3] = {py.Roi(), pu.Roi(), pv.Roi()};
  ASSERT_EQ(ippiRGBToYUV_8u_C3P3R(grey.Roi(), grey.Step(), planes, py.Step(), {256, 1}), 0);
  ASSERT_EQ(ippiYUVToRGB_8u_P3C3R(cplanes, py.Step(), back.Roi(), back.Step(), {256, 1}), 0);
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(py.At(v, 0), v);
    EXPECT_EQ(pu.At(v, 0), 128);
    EXPECT_EQ(pv.At(v, 0), 128);
  }
  EXPECT_TRUE(kelvo::testing::SameBytes(back, grey));
}

TEST(YUVToRGB, MatchesRealWeightsWithinOneAndSaturates) {
  std::mt19937 rng(5);
  const int w = 29, h = 3;
  TestImage<Ipp8u> py(w, h), pu(w, h), pv(w, h);
  py.FillRandom(rng, 0, 255), pu.FillRandom(rng, 0, 255), pv.FillRandom(rng, 0, 255);
  py.At(0, 0) = 255, pu.At(0, 0) = 255, pv.At(0, 0) = 255;
  py.At(1, 0) = 0, pu.At(1, 0) = 0, pv.At(1, 0) = 0;
  TestImage<Ipp8u> dst(w, h, 3, 0, 2);
  const Ipp8u* planes[3] = {py.Roi(), pu.Roi(), pv.Roi()};
  ASSERT_EQ(ippiYUVToRGB_8u_P3C3R(planes, py.Step(), dst.Roi(), dst.Step(), {w, h}), ippStsNoErr);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double Y = py.At(x, y), U = pu.At(x, y) - 128.0, V = pv.At(x, y) - 128.0;
      EXPECT_NEAR(dst.At(x, y, 0), Sat(Y + 1.140 * V), 1.0);
      EXPECT_NEAR(dst.At(x, y, 1), Sat(Y - 0.394 * U - 0.581 * V), 1.0);
      EXPECT_NEAR(dst.At(x, y, 2), Sat(Y + 2.032 * U), 1.0);
    }
  }
  EXPECT_EQ(dst.At(0, 0, 0), 255);
  EXPECT_EQ(dst.At(1, 0, 2), 0);
}

TEST(RGBToYUV, StatusCodes) {
  Ipp8u buf[64] = {};
  Ipp8u* planes[3] = {buf, buf + 16, buf + 32};
  Ipp8u* nullPlane[3] = {buf, nullptr, buf + 32};
  const Ipp8u* cplanes[3] = {buf, buf + 16, buf + 32};
  const Ipp8u* cnullPlane[3] = {buf, buf + 16, nullptr};
  EXPECT_EQ(ippiRGBToYUV_8u_C3P3R(buf, 12, planes, 4, {0, 1}), ippStsSizeErr);
  EXPECT_EQ(ippiRGBToYUV_8u_C3P3R(nullptr, 12, planes, 4, {4, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiRGBToYUV_8u_C3P3R(buf, 12, nullPlane, 4, {4, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiRGBToYUV_8u_C3P3R(buf, 12, nullptr, 4, {4, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiYUVToRGB_8u_P3C3R(cplanes, 4, buf + 48, 12, {1, -1}), ippStsSizeErr);
  EXPECT_EQ(ippiYUVToRGB_8u_P3C3R(cnullPlane, 4, buf + 48, 12, {1, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiYUVToRGB_8u_P3C3R(cplanes, 4, nullptr, 12, {1, 1}), ippStsNullPtrErr);
}

}  // namespace
