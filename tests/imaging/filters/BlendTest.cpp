#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/filters/OpBlend.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;
using testing_support::ForEachTarget;
using testing_support::RandomSamples;

// A 64 x 64 bitmap whose first samples are the given values, the rest 0.
BitmapData MakeImage(int format, const std::vector<int>& firstSamples, int width = 64,
                     int height = 64) {
  BitmapData image(width, height, format, nullptr, width * BytesPerPixel(format));
  image.FillBlack();
  for (std::size_t i = 0; i < firstSamples.size(); ++i) {
    if (format == kFormatBGR16) {
      reinterpret_cast<uint16_t*>(image.GetData())[i] = static_cast<uint16_t>(firstSamples[i]);
    } else {
      image.GetData()[i] = static_cast<uint8_t>(firstSamples[i]);
    }
  }
  return image;
}

int Sample(const BitmapData& image, int i) {
  if (image.GetFormat() == kFormatBGR16)
    return reinterpret_cast<const uint16_t*>(image.GetData())[i];
  return image.GetData()[i];
}

TEST(BlendTables, EntriesAndRefusedDepths) {
  OpBlend blend;
  EXPECT_EQ(blend.GetTableBitDepth(), 0);
  blend.Allocate(8);
  EXPECT_EQ(blend.GetTableBitDepth(), 8);
  // {sample, multiply, screen}
  for (auto [at, multiply, screen] : {std::array{0, 0, 0}, std::array{64, 16, 112},
                                      std::array{128, 64, 192}, std::array{255, 255, 255}}) {
    EXPECT_EQ(blend.GetMultiplyEntry(at), multiply) << at;
    EXPECT_EQ(blend.GetScreenEntry(at), screen) << at;
  }
  EXPECT_EQ(blend.GetOverlayEntry(127), 127);
  EXPECT_EQ(blend.GetOverlayEntry(128), 128);
  EXPECT_EQ(blend.GetOverlayEntry(255), 255);

  blend.Allocate(16);
  EXPECT_EQ(blend.GetScreenEntry(4095), 4095);
  EXPECT_EQ(blend.GetMultiplyEntry(2048), 1024);  // 2048^2 / 4095 = 1024.25
  EXPECT_EQ(blend.GetOverlayEntry(2047), 2047);   // 2 * 1023.25 + 0.5, truncated
  // Refused twice (the refusal drops the tables), then a valid depth builds anew.
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(Failures("OpBlend::Allocate")([&] { blend.Allocate(12); }, 10));
    EXPECT_EQ(blend.GetTableBitDepth(), 0);
  }
  blend.Allocate(8);
  EXPECT_EQ(blend.GetScreenEntry(64), 112);
}

TEST(BlendSelf, ScreenLiftsMidTonesByTheOpacityAndKeepsBlackAndWhite) {
  const std::vector<int> in = {0, 64, 128, 200, 255};
  for (auto [opacity, expected] :
       {std::pair<float, std::vector<int>>{0.3f, {0, 78, 147, 213, 255}},
        std::pair<float, std::vector<int>>{0.1f, {0, 69, 134, 204, 255}}}) {
    BitmapData image = MakeImage(kFormatBGR8, in);
    OpBlend blend;
    blend.Execute(&image, opacity);  // Screen in place
    for (std::size_t i = 0; i < in.size(); ++i)
      EXPECT_EQ(Sample(image, static_cast<int>(i)), expected[i]);
    EXPECT_EQ(Sample(image, 3 * 64 * 64 - 1), 0);
  }
  // Without a mode: Overlay at 0.2.
  const std::vector<uint8_t> noise = RandomSamples<uint8_t>(64 * 64 * 3, 255, 3);
  BitmapData input(64, 64, kFormatBGR8, noise.data(), 64 * 3);
  BitmapData byDefault(64, 64), overlay(64, 64);
  OpBlend blend;
  blend.Execute(&input, &byDefault);
  blend.Execute(&input, &overlay, Overlay, 0.2f);
  EXPECT_EQ(std::memcmp(byDefault.GetData(), overlay.GetData(), 64 * 64 * 3), 0);
}

// Every sample of an 8-bit self-blend depends on its own value only: on an
// image of awkward width with padded rows, stretched into a second image and
// in place on every SIMD target, each sample equals what a ramp of all 256
// values gives for its value, and the row padding stays untouched.
TEST(BlendSelf, EightBitSamplesFollowTheirValueOnEveryTarget) {
  const int w = 68, h = 64, stride = w * 3 + 9;
  const std::vector<uint8_t> noise =
      RandomSamples<uint8_t>(static_cast<std::size_t>(stride) * h, 255, 5);
  for (float opacity : {0.3f, 0.5f, 0.77f, 1.0f}) {
    for (BlendMode mode : {Screen, Overlay}) {
      std::vector<int> ramp(256);
      for (int i = 0; i < 256; ++i) ramp[i] = i;
      BitmapData rampImage = MakeImage(kFormatBGR8, ramp);
      OpBlend reference;
      reference.Execute(&rampImage, &rampImage, mode, opacity);
      ForEachTarget([&](const char*) {
        BitmapData src(w, h, kFormatBGR8, noise.data(), stride);
        BitmapData dst(w, h, kFormatBGR8, noise.data(), stride);
        OpBlend blend;
        blend.Execute(&src, &dst, mode, opacity);
        BitmapData same(w, h, kFormatBGR8, noise.data(), stride);
        blend.Execute(&same, &same, mode, opacity);
        for (int y = 0; y < h; ++y) {
          for (int i = 0; i < dst.GetStride(); ++i) {
            const uint8_t in = src.GetData()[y * src.GetStride() + i];
            const uint8_t want = i < w * 3 ? rampImage.GetData()[in] : in;
            ASSERT_EQ(dst.GetData()[y * dst.GetStride() + i], want) << y << " " << i;
            ASSERT_EQ(same.GetData()[y * same.GetStride() + i], want) << y << " " << i;
          }
        }
      });
    }
  }
}

TEST(BlendSelf, OpacityZeroCopiesAndOutOfRangeFails) {
  const std::vector<uint8_t> pixels = RandomSamples<uint8_t>(192 * 64, 255, 4);
  BitmapData input(64, 64, kFormatBGR8, pixels.data(), 192);
  BitmapData output(64, 64, kFormatBGR8, nullptr, 192);
  OpBlend blend;
  blend.Execute(&input, &output, Multiply, 0.0f);  // the mode is not looked at
  EXPECT_EQ(std::vector<uint8_t>(output.GetData(), output.GetData() + 192 * 64), pixels);
  for (float bad : {1.0001f, -0.1f}) {
    EXPECT_TRUE(Failures("OpBlend::Execute")([&] { blend.Execute(&input, &output, Screen, bad); },
                                             11, "(opacity value)"));
  }
}

TEST(BlendSelf, ChecksInOrder) {
  OpBlend blend;
  BitmapData a8 = MakeImage(kFormatBGR8, {});
  BitmapData b16 = MakeImage(kFormatBGR16, {});
  BitmapData small8 = MakeImage(kFormatBGR8, {}, 64, 60);
  BitmapData odd8a = MakeImage(kFormatBGR8, {}, 66, 64);
  BitmapData odd8b = MakeImage(kFormatBGR8, {}, 66, 64);
  BitmapData gray = MakeImage(kFormatGray8, {});
  const Failures fails("OpBlend::Execute");
  EXPECT_TRUE(fails([&] { blend.Execute(nullptr, &a8, Screen, 2.0f); }, 4));
  EXPECT_TRUE(fails([&] { blend.Execute(&a8, &b16, Screen, 2.0f); }, 3));
  EXPECT_TRUE(fails([&] { blend.Execute(&a8, &small8, Screen, 2.0f); }, 1));
  EXPECT_TRUE(fails([&] { blend.Execute(&odd8a, &odd8b, Screen, 2.0f); }, 0));
  EXPECT_TRUE(fails([&] { blend.Execute(&a8, &a8, Multiply, 0.5f); }, 11, "(blend mode)"));
  EXPECT_TRUE(fails([&] { blend.Execute(&gray, &gray, Screen, 0.5f); }, 2));
  EXPECT_EQ(blend.GetTableBitDepth(), 0);

  // With an opacity map. The 24-bit refusal comes before the mode is looked at.
  std::vector<float> map(64 * 64, 0.5f);
  EXPECT_TRUE(
      fails([&] { blend.Execute(&b16, &b16, Screen, nullptr, 256); }, 11, "(opacity pointer)"));
  EXPECT_TRUE(
      fails([&] { blend.Execute(&b16, &b16, Screen, map.data(), 0); }, 11, "(opacity pointer)"));
  EXPECT_TRUE(fails([&] { blend.Execute(&a8, &a8, static_cast<BlendMode>(9), map.data(), 256); }, 2,
                    ": opacity map is not supported for 24-bit data"));
  EXPECT_TRUE(fails([&] { blend.Execute(&b16, &b16, Luminosity, map.data(), 256); }, 11,
                    ": opacity map is not supported for blend mode 'Luminosity'"));
  EXPECT_TRUE(
      fails([&] { blend.Execute(&b16, &b16, Color, map.data(), 256); }, 11, "(blend mode)"));
}

TEST(BlendSelf, OpacityMapOnSixteenBitImages) {
  // Samples 1000 in every channel; map: -0.5, 1.7, 0.5, then 0.
  BitmapData input = MakeImage(kFormatBGR16, std::vector<int>(64 * 64 * 3, 1000));
  BitmapData output = MakeImage(kFormatBGR16, {});
  std::vector<float> map(64 * 64, 0.0f);
  map[0] = -0.5f;
  map[1] = 1.7f;
  map[2] = 0.5f;
  OpBlend blend;
  blend.Execute(&input, &output, Multiply, map.data(), 64 * 4);
  blend.Allocate(16);
  const int table = blend.GetMultiplyEntry(1000);  // 1000^2 / 4095 = 244.2
  EXPECT_EQ(table, 244);
  EXPECT_EQ(Sample(output, 0), 1000);   // acts as 0: copied
  EXPECT_EQ(Sample(output, 3), table);  // acts as 1: the table value
  EXPECT_EQ(Sample(output, 8), 622);    // 244 * 0.5 + 1000 * 0.5
  EXPECT_EQ(Sample(output, 3 * 4095), 1000);
}

// Row bands of the self-blend give the one-thread bytes, into another image
// and in place, at 8 and 16 bits; the images are tall enough for many bands.
TEST(BlendSelf, AnyThreadCountGivesTheOneThreadBytes) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  const int w = 68, h = 1204;
  for (int format : {kFormatBGR8, kFormatBGR16}) {
    const int stride = w * BytesPerPixel(format) + 8;
    const uint32_t maximum = format == kFormatBGR8 ? 255 : 4095;
    const std::vector<uint8_t> bytes =
        format == kFormatBGR8
            ? RandomSamples<uint8_t>(static_cast<std::size_t>(stride) * h, maximum, 41)
            : [&] {
                const auto samples =
                    RandomSamples<uint16_t>(static_cast<std::size_t>(stride / 2) * h, maximum, 41);
                std::vector<uint8_t> b(samples.size() * 2);
                std::memcpy(b.data(), samples.data(), b.size());
                return b;
              }();
    const BitmapData src(w, h, format, bytes.data(), stride);
    std::vector<uint8_t> one;
    for (int threads : {1, 2, 3, 7}) {
      kelvo::SetThreads(threads);
      OpBlend blend;
      BitmapData dst(w, h, format, nullptr, stride);
      blend.Execute(&src, &dst, Screen, 0.3f);
      BitmapData same(w, h, format, bytes.data(), stride);
      blend.Execute(&same, &same, Screen, 0.3f);
      const std::vector<uint8_t> got(dst.GetData(), dst.GetData() + stride * h);
      if (threads == 1) {
        one = got;
        EXPECT_NE(one, bytes);
      }
      for (int y = 0; y < h; ++y) {
        ASSERT_EQ(std::memcmp(dst.GetData() + y * stride, one.data() + y * stride,
                              static_cast<std::size_t>(w) * BytesPerPixel(format)),
                  0)
            << format << " " << threads << " threads, row " << y;
        ASSERT_EQ(std::memcmp(same.GetData() + y * stride, one.data() + y * stride,
                              static_cast<std::size_t>(w) * BytesPerPixel(format)),
                  0)
            << format << " " << threads << " threads in place, row " << y;
      }
    }
  }
}

TEST(BlendSelf, SixteenBitSamplesAboveTwelveBitsReadAsFullScale) {
  BitmapData image = MakeImage(kFormatBGR16, {5000, 4095, 2048});
  OpBlend blend;
  blend.Execute(&image, &image, Screen, 0.5f);
  EXPECT_EQ(Sample(image, 0), 4095);
  EXPECT_EQ(Sample(image, 1), 4095);
  EXPECT_EQ(Sample(image, 2), 2560);  // screen 3071.75 -> 3072; 3072 * 0.5 + 2048 * 0.5
}

// Reference of one two-image blend sample, straight from the mode table.
int ExpectedTwo(int a, int b, BlendMode mode, float o, float F, int H) {
  const float m = static_cast<float>(a) * static_cast<float>(b) / F;
  float f = m;
  if (mode == Screen) f = static_cast<float>(a + b) - m;
  if (mode == Overlay) f = a <= H ? 2.0f * m : 2.0f * (static_cast<float>(a + b) - m) - F;
  const float v = static_cast<float>(a) * (1.0f - o) + f * o;
  if (v > F) return static_cast<int>(F);
  if (v < 0.0f) return 0;
  return static_cast<int>(v + 0.5f);
}

TEST(BlendTwo, ModesOnThreeAndOneChannel) {
  const int w = 64, h = 64;
  const auto a8 = RandomSamples<uint8_t>(w * h * 3, 255, 10);
  const auto b8 = RandomSamples<uint8_t>(w * h * 3, 255, 11);
  const auto a16 = RandomSamples<uint16_t>(w * h * 3, 4095, 12);
  const auto b16 = RandomSamples<uint16_t>(w * h * 3, 4095, 13);
  OpBlend blend;
  for (BlendMode mode : {Multiply, Screen, Overlay}) {
    std::vector<uint8_t> out8(w * h * 3);
    std::vector<uint16_t> out16(w * h * 3);
    blend.Execute(a8.data(), w * 3, b8.data(), w * 3, out8.data(), w * 3, w, h, mode, 0.7f);
    blend.Execute(a16.data(), w * 6, b16.data(), w * 6, out16.data(), w * 6, w, h, mode, 0.7f);
    for (int i = 0; i < w * h * 3; ++i) {
      ASSERT_EQ(out8[i], ExpectedTwo(a8[i], b8[i], mode, 0.7f, 255.0f, 127)) << mode << " " << i;
      ASSERT_EQ(out16[i], ExpectedTwo(a16[i], b16[i], mode, 0.7f, 4095.0f, 2047))
          << mode << " " << i;
    }
    std::vector<uint8_t> c1(w * h);
    blend.ExecuteC1(a8.data(), w, b8.data(), w, c1.data(), w, w, h, mode, 0.25f);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(c1[y * w + x],
                  ExpectedTwo(a8[y * w + x], b8[y * w + x], mode, 0.25f, 255.0f, 127));
  }
  // Overlay's two halves meet at H: a = 127 takes 2m, a = 128 the screen side.
  std::vector<uint8_t> a(w * h * 3, 127), b(w * h * 3, 200), out(w * h * 3);
  a[1] = 128;
  blend.Execute(a.data(), w * 3, b.data(), w * 3, out.data(), w * 3, w, h, Overlay, 1.0f);
  EXPECT_EQ(out[0], 199);  // 2 * 127 * 200 / 255 = 199.2
  EXPECT_EQ(out[1], 200);  // 2 * (328 - 100.39) - 255 = 200.2
}

TEST(BlendTwo, ChecksInOrderAndOpacityZero) {
  const int w = 64, h = 64, s3 = w * 3;
  std::vector<uint8_t> a(w * h * 3, 10), b(w * h * 3, 20), out(w * h * 3, 0);
  std::vector<uint16_t> a16(w * h * 3, 10), b16(w * h * 3, 20), out16(w * h * 3, 0);
  OpBlend blend;
  const Failures fails("OpBlend::Execute");
  const auto run = [&](int strideB, int width, BlendMode mode, float opacity) {
    return [&, strideB, width, mode, opacity] {
      blend.Execute(a.data(), s3, b.data(), strideB, out.data(), s3, width, h, mode, opacity);
    };
  };
  EXPECT_TRUE(fails(
      [&] { blend.Execute(a.data(), s3, nullptr, s3, out.data(), s3, w, h, Screen, 2.0f); }, 5));
  EXPECT_TRUE(fails(run(s3 - 1, w, Screen, 2.0f), 6));
  EXPECT_TRUE(fails(
      [&] {
        blend.Execute(a16.data(), s3, b16.data(), 2 * s3, out16.data(), 2 * s3, w, h, Screen, 0.5f);
      },
      6));
  EXPECT_TRUE(fails(run(s3, 60, Screen, 2.0f), 0));
  EXPECT_TRUE(fails(run(s3, w, Screen, 2.0f), 11, "(opacity value)"));
  EXPECT_TRUE(fails(run(s3, w, static_cast<BlendMode>(5), 0.5f), 11, "(blend mode)"));
  EXPECT_EQ(out[0], 0);
  // Opacity 0 copies the base before the range or the mode is looked at.
  run(s3, w, static_cast<BlendMode>(5), 0.0f)();
  EXPECT_EQ(out, a);

  const Failures failsC1("OpBlend::ExecuteC1");
  EXPECT_TRUE(
      failsC1([&] { blend.ExecuteC1(a.data(), w, b.data(), w, out.data(), w, w, h, Screen, 1.5f); },
              11, "(opacity value)"));
  EXPECT_TRUE(failsC1(
      [&] {
        blend.ExecuteC1(a16.data(), w * 2, b16.data(), w * 2, out16.data(), w * 2, w, h, Screen,
                        1.5f);
      },
      11, ": (opacity value)"));
  EXPECT_TRUE(failsC1(
      [&] { blend.ExecuteC1(a.data(), w, b.data(), w, out.data(), w, w, h, Luminosity, 0.5f); }, 11,
      "(blend mode)"));
  EXPECT_TRUE(failsC1(
      [&] { blend.ExecuteC1(a.data(), w - 1, b.data(), w, out.data(), w, w, h, Screen, 0.5f); },
      6));
}

TEST(BlendTwo, LuminosityAndColorMixOnYCbCrPlanes) {
  const int w = 64, h = 64;
  const auto base = RandomSamples<uint8_t>(w * h * 3, 255, 20);
  const auto layer = RandomSamples<uint8_t>(w * h * 3, 255, 21);
  std::vector<uint8_t> baseYcc(w * h * 3), layerYcc(w * h * 3);
  OpConvertRGBtoYCbCr::ConvertUChar(h, base.data(), w * 3, baseYcc.data(), w, w, true);
  OpConvertRGBtoYCbCr::ConvertUChar(h, layer.data(), w * 3, layerYcc.data(), w, w, true);
  OpBlend blend;
  const float o = 0.6f;
  for (BlendMode mode : {Luminosity, Color}) {
    std::vector<uint8_t> out(w * h * 3);
    blend.Execute(base.data(), w * 3, layer.data(), w * 3, out.data(), w * 3, w, h, mode, o);
    // Luminosity mixes the Y plane, Color the Cb and Cr planes; the other
    // planes stay the base's.
    std::vector<uint8_t> mixed = baseYcc;
    for (int i = 0; i < w * h * 3; ++i) {
      if ((mode == Luminosity) != (i < w * h)) continue;
      const float v =
          static_cast<float>(layerYcc[i]) * o + static_cast<float>(baseYcc[i]) * (1.0f - o);
      mixed[i] = static_cast<uint8_t>(v + 0.5f);
    }
    std::vector<uint8_t> expected(w * h * 3);
    OpConvertYCbCrtoRGB::ConvertUChar(h, mixed.data(), w, expected.data(), w * 3, w, true);
    EXPECT_EQ(out, expected) << mode;
  }
  const auto base16 = RandomSamples<uint16_t>(w * h * 3, 4095, 22);
  std::vector<uint16_t> out16(w * h * 3), expected16(w * h * 3), ycc16(w * h * 3);
  blend.Execute(base16.data(), w * 6, base16.data(), w * 6, out16.data(), w * 6, w, h, Color, o);
  OpConvertRGBtoYCbCr::ConvertUShort(h, base16.data(), w * 6, ycc16.data(), w * 2, w, true);
  OpConvertYCbCrtoRGB::ConvertUShort(h, ycc16.data(), w * 2, expected16.data(), w * 6, w, true);
  EXPECT_EQ(out16, expected16);  // blending an image with itself: a plain round trip
  std::vector<uint8_t> scratch(w * h * 3, 0);
  EXPECT_TRUE(Failures("OpBlend::ApplyHLS")(
      [&] {
        blend.ApplyHLS(base.data(), w * 3, layer.data(), w * 3, scratch.data(), w * 3, Screen, o);
      },
      11, "(blend mode)"));
  // Opacity 0.5 on Luminosity: the Y plane is the rounded mean.
  std::vector<uint8_t> same(w * h * 3);
  blend.Execute(base.data(), w * 3, base.data(), w * 3, same.data(), w * 3, w, h, Luminosity, 0.5f);
  std::vector<uint8_t> roundTrip(w * h * 3);
  OpConvertYCbCrtoRGB::ConvertUChar(h, baseYcc.data(), w, roundTrip.data(), w * 3, w, true);
  EXPECT_EQ(same, roundTrip);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
