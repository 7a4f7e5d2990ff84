#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/filters/detail/ColourConvert.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/filters/reference/ColourReference.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;
using testing_support::ForEachTarget;
using testing_support::RandomSamples;

using Triple = std::array<int, 3>;

Triple Forward8(int b, int g, int r) {
  const uint8_t bgr[3] = {static_cast<uint8_t>(b), static_cast<uint8_t>(g),
                          static_cast<uint8_t>(r)};
  uint8_t ycc[3] = {0, 0, 0};
  OpConvertRGBtoYCbCr::ConvertUChar(1, bgr, 3, ycc, 3, 1, false);
  return {ycc[0], ycc[1], ycc[2]};
}

Triple Inverse8(int y, int cb, int cr) {
  const uint8_t ycc[3] = {static_cast<uint8_t>(y), static_cast<uint8_t>(cb),
                          static_cast<uint8_t>(cr)};
  uint8_t bgr[3] = {0, 0, 0};
  OpConvertYCbCrtoRGB::ConvertUChar(1, ycc, 3, bgr, 3, 1, false);
  return {bgr[0], bgr[1], bgr[2]};
}

TEST(ColourConvert, BlackAndWhiteHitTheEndsOfTheLuminanceRange) {
  EXPECT_EQ(Forward8(0, 0, 0), (Triple{16, 128, 128}));
  EXPECT_EQ(Forward8(255, 255, 255), (Triple{234, 128, 128}));  // not 235
  EXPECT_EQ(Inverse8(16, 128, 128), (Triple{0, 0, 0}));
  EXPECT_EQ(Inverse8(234, 128, 128), (Triple{255, 255, 255}));
  EXPECT_EQ(Inverse8(235, 128, 128), (Triple{255, 255, 255}));
  // Inputs below the range behave as its lower end.
  EXPECT_EQ(Inverse8(3, 128, 128), Inverse8(16, 128, 128));
  EXPECT_EQ(Inverse8(100, 0, 255), Inverse8(100, 16, 239));
}

TEST(ColourConvert, SaturatedPrimariesClampAndComeBackOneShort) {
  const Triple blue = Forward8(255, 0, 0);
  EXPECT_EQ(blue[1], 239);  // clamped from just above 240
  EXPECT_EQ(Inverse8(blue[0], blue[1], blue[2])[0], 254);
  const Triple red = Forward8(0, 0, 255);
  EXPECT_EQ(red[2], 239);
  EXPECT_EQ(Inverse8(red[0], red[1], red[2])[2], 254);
}

TEST(ColourConvert, EightBitRoundTripStaysWithinTwoOverAColourGrid) {
  // Every colour on a grid of step 5 (every primary and secondary among
  // them), converted as one planar image.
  std::vector<uint8_t> bgr;
  for (int b = 0; b <= 255; b += 5)
    for (int g = 0; g <= 255; g += 5)
      for (int r = 0; r <= 255; r += 5) bgr.insert(bgr.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
  const int width = static_cast<int>(bgr.size() / 3);
  std::vector<uint8_t> planes(bgr.size());
  std::vector<uint8_t> back(bgr.size());
  OpConvertRGBtoYCbCr::ConvertUChar(1, bgr.data(), width * 3, planes.data(), width, width, true);
  OpConvertYCbCrtoRGB::ConvertUChar(1, planes.data(), width, back.data(), width * 3, width, true);
  int worst = 0;
  for (std::size_t i = 0; i < bgr.size(); ++i) worst = std::max(worst, std::abs(back[i] - bgr[i]));
  EXPECT_LE(worst, 2);
}

TEST(ColourConvert, SixteenBitRangesAndRoundTrip) {
  const uint16_t black[3] = {0, 0, 0};
  const uint16_t white[3] = {4095, 4095, 4095};
  uint16_t ycc[3];
  OpConvertRGBtoYCbCr::ConvertUShort(1, black, 6, ycc, 6, 1, false);
  EXPECT_EQ(ycc[0], 256);
  EXPECT_EQ(ycc[1], 2048);
  EXPECT_EQ(ycc[2], 2048);
  uint16_t back[3];
  OpConvertYCbCrtoRGB::ConvertUShort(1, ycc, 6, back, 6, 1, false);
  EXPECT_EQ(back[0], 0);
  OpConvertRGBtoYCbCr::ConvertUShort(1, white, 6, ycc, 6, 1, false);
  EXPECT_LE(ycc[0], 3760);
  EXPECT_EQ(ycc[1], 2048);
  OpConvertYCbCrtoRGB::ConvertUShort(1, ycc, 6, back, 6, 1, false);
  EXPECT_EQ(back[0], 4095);
  EXPECT_EQ(back[2], 4095);
  // Results beyond 4095 saturate.
  const uint16_t top[3] = {3760, 3840, 3840};
  OpConvertYCbCrtoRGB::ConvertUShort(1, top, 6, back, 6, 1, false);
  EXPECT_EQ(back[0], 4095);
  EXPECT_EQ(back[2], 4095);
}

TEST(ColourConvert, ExecuteChecksInOrder) {
  BitmapData gray(64, 64, kFormatGray8, nullptr, 64);
  BitmapData gray16(64, 64, kFormatGray16, nullptr, 128);
  BitmapData bgr8(64, 64, kFormatBGR8, nullptr, 192);
  BitmapData bgr16(64, 64, kFormatBGR16, nullptr, 384);
  BitmapData shorter(64, 60, kFormatBGR8, nullptr, 192);
  BitmapData empty;
  for (bool forward : {true, false}) {
    const Failures fails(forward ? "OpConvertRGBtoYCbCr::Execute" : "OpConvertYCbCrtoRGB::Execute");
    const auto run = [forward](const BitmapData* in, BitmapData* out) {
      return [=] {
        if (forward) {
          OpConvertRGBtoYCbCr::Execute(in, out, false);
        } else {
          OpConvertYCbCrtoRGB::Execute(in, out, false);
        }
      };
    };
    EXPECT_TRUE(fails(run(&gray, &gray16), 2));
    EXPECT_TRUE(fails(run(&bgr8, &gray), 2));
    EXPECT_TRUE(fails(run(&bgr8, &bgr16), 3));
    EXPECT_TRUE(fails(run(&bgr8, &shorter), 1));
    EXPECT_TRUE(fails(run(nullptr, &bgr8), 4));
    EXPECT_TRUE(fails(run(&empty, &empty), 2));
  }
}

TEST(ColourConvert, ExecutePlanarUsesAThirdOfTheStrideRoundedDown) {
  // Stride 200 is not a multiple of 3: planes are 66 bytes apart per row.
  const int width = 64, height = 64, stride = 200;
  std::vector<uint8_t> pixels = RandomSamples<uint8_t>(stride * height, 255, 7);
  BitmapData in(width, height, kFormatBGR8, pixels.data(), stride);
  BitmapData out(width, height, kFormatBGR8, nullptr, stride);
  std::fill(out.GetData(), out.GetData() + stride * height, uint8_t{0xA5});
  OpConvertRGBtoYCbCr::Execute(&in, &out, true);

  std::vector<uint8_t> expected(stride * height, 0xA5);
  reference::RgbToYCbCr8(height, pixels.data(), stride, expected.data(), stride / 3, width, true);
  EXPECT_EQ(std::vector<uint8_t>(out.GetData(), out.GetData() + stride * height), expected);

  BitmapData back(width, height, kFormatBGR8, nullptr, stride);
  OpConvertYCbCrtoRGB::Execute(&out, &back, true);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 3; ++x)
      ASSERT_LE(std::abs(back.GetData()[y * stride + x] - pixels[y * stride + x]), 2);
}

// Every SIMD target against the plain loops, on widths that leave every
// possible tail, with outputs pre-filled with a sentinel so stray writes show.
template <typename T>
void CompareWithReference(bool planar, uint32_t maximum) {
  const int height = 3;
  for (int width : {1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 63, 67, 64, 129, 200}) {
    const int interleavedStride = (width * 3 + 5) * static_cast<int>(sizeof(T));
    const int yccStride = planar ? (width + 3) * static_cast<int>(sizeof(T)) : interleavedStride;
    const std::size_t yccSamples = (planar ? 3u : 1u) * height * yccStride / sizeof(T);
    const std::vector<T> bgr =
        RandomSamples<T>(height * interleavedStride / sizeof(T), maximum, width);
    const std::vector<T> ycc = RandomSamples<T>(yccSamples, maximum, width + 100);
    const T sentinel = static_cast<T>(0xA5A5);

    std::vector<T> expectForward(yccSamples, sentinel);
    std::vector<T> expectInverse(bgr.size(), sentinel);
    if constexpr (sizeof(T) == 1) {
      reference::RgbToYCbCr8(height, bgr.data(), interleavedStride, expectForward.data(), yccStride,
                             width, planar);
      reference::YCbCrToRgb8(height, ycc.data(), yccStride, expectInverse.data(), interleavedStride,
                             width, planar);
    } else {
      reference::RgbToYCbCr16(height, bgr.data(), interleavedStride, expectForward.data(),
                              yccStride, width, planar);
      reference::YCbCrToRgb16(height, ycc.data(), yccStride, expectInverse.data(),
                              interleavedStride, width, planar);
    }
    ForEachTarget([&](const char*) {
      std::vector<T> forward(yccSamples, sentinel);
      std::vector<T> inverse(bgr.size(), sentinel);
      if constexpr (sizeof(T) == 1) {
        OpConvertRGBtoYCbCr::ConvertUChar(height, bgr.data(), interleavedStride, forward.data(),
                                          yccStride, width, planar);
        OpConvertYCbCrtoRGB::ConvertUChar(height, ycc.data(), yccStride, inverse.data(),
                                          interleavedStride, width, planar);
      } else {
        OpConvertRGBtoYCbCr::ConvertUShort(height, bgr.data(), interleavedStride, forward.data(),
                                           yccStride, width, planar);
        OpConvertYCbCrtoRGB::ConvertUShort(height, ycc.data(), yccStride, inverse.data(),
                                           interleavedStride, width, planar);
      }
      ASSERT_EQ(forward, expectForward) << "width " << width;
      ASSERT_EQ(inverse, expectInverse) << "width " << width;
    });
  }
}

TEST(ColourConvert, EveryTargetMatchesThePlainLoops) {
  for (bool planar : {false, true}) {
    SCOPED_TRACE(planar ? "planar" : "interleaved");
    CompareWithReference<uint8_t>(planar, 255);
    CompareWithReference<uint16_t>(planar, 4095);
    // Beyond 12 bits the forward path wraps and clamps; still identical.
    CompareWithReference<uint16_t>(planar, 65535);
  }
}

// Every 8-bit colour, forward, on every target against the plain loops,
// which clamp every component: the vector kernels leave out the clamps that
// these inputs cannot reach.
TEST(ColourConvert, EveryEightBitColourConvertsAsThePlainLoops) {
  std::vector<uint8_t> bgr(3 * 256 * 256), expected(bgr.size()), out(bgr.size());
  for (int r = 0; r < 256; ++r) {
    for (int i = 0; i < 256 * 256; ++i) {
      bgr[3 * i] = static_cast<uint8_t>(i & 255);
      bgr[3 * i + 1] = static_cast<uint8_t>(i >> 8);
      bgr[3 * i + 2] = static_cast<uint8_t>(r);
    }
    reference::RgbToYCbCr8(256, bgr.data(), 3 * 256, expected.data(), 3 * 256, 256, false);
    ForEachTarget([&](const char*) {
      OpConvertRGBtoYCbCr::ConvertUChar(256, bgr.data(), 3 * 256, out.data(), 3 * 256, 256, false);
      ASSERT_EQ(out, expected) << "red " << r;
    });
  }
}

// Luminance handed over as the wavelet synthesis's floats: the same bytes as
// rounding them to a plane first and converting the planes, on every target
// and tail, for floats on and beside every rounding edge, out of range, and
// not a number.
TEST(ColourConvert, FloatLuminanceMatchesRoundingToAPlaneFirst) {
  const int height = 3;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> spread(-40.0f, 300.0f);
  std::uniform_int_distribution<int> whole(-3, 258);
  for (int width : {1, 7, 16, 17, 63, 64, 65, 129, 200}) {
    const int yStride = (width + 3) * 4;
    const int cStride = width + 5;
    const int dstStride = width * 3 + 4;
    std::vector<float> y(static_cast<size_t>(yStride / 4) * height);
    for (size_t i = 0; i < y.size(); ++i) {
      const float k = static_cast<float>(whole(rng));
      switch (i % 6) {
        case 0: y[i] = spread(rng); break;
        case 1: y[i] = k + 0.5f; break;
        case 2: y[i] = std::nextafter(k + 0.5f, -1000.0f); break;
        case 3: y[i] = k; break;
        case 4: y[i] = std::nextafter(k, -1000.0f); break;
        default: y[i] = (i % 12 == 5) ? std::numeric_limits<float>::quiet_NaN() : 1e9f; break;
      }
    }
    // Planar Y, Cb, Cr for the plain loops: Y rounded as the synthesis does.
    const std::vector<uint8_t> chroma = RandomSamples<uint8_t>(
        2 * static_cast<size_t>(cStride) * height, 255, width);
    std::vector<uint8_t> planes(3 * static_cast<size_t>(cStride) * height);
    for (int r = 0; r < height; ++r) {
      detail::FloatsToSamples(y.data() + static_cast<size_t>(r) * (yStride / 4),
                              planes.data() + static_cast<size_t>(r) * cStride, width);
    }
    std::copy(chroma.begin(), chroma.end(), planes.begin() + static_cast<ptrdiff_t>(cStride) * height);
    std::vector<uint8_t> expected(static_cast<size_t>(dstStride) * height, 0xA5);
    reference::YCbCrToRgb8(height, planes.data(), cStride, expected.data(), dstStride, width, true);
    ForEachTarget([&](const char*) {
      std::vector<uint8_t> out(expected.size(), 0xA5);
      detail::FloatYCbCrRowsToRgb8(height, y.data(), yStride, chroma.data(),
                                   chroma.data() + static_cast<size_t>(cStride) * height, cStride,
                                   out.data(), dstStride, width);
      ASSERT_EQ(out, expected) << "width " << width;
    });
  }
}

TEST(ColourConvert, EmptySizesConvertNothing) {
  uint8_t src[3] = {1, 2, 3};
  uint8_t dst[3] = {9, 9, 9};
  OpConvertRGBtoYCbCr::ConvertUChar(0, src, 3, dst, 3, 1, false);
  OpConvertYCbCrtoRGB::ConvertUChar(1, src, 3, dst, 3, 0, true);
  OpConvertRGBtoYCbCr::ConvertUChar(1, src, 3, dst, 3, -4, false);
  EXPECT_EQ(dst[0], 9);
  EXPECT_EQ(dst[2], 9);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
