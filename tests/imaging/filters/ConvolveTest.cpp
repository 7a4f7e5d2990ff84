#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/filters/OpConvolve.h"
#include "imaging/filters/OpFilterGaussian.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;
using testing_support::RandomSamples;

// ---- Gaussian kernel -------------------------------------------------------

TEST(GaussianKernel, CentreEdgeCornerValuesUnitSumAndThreeChannelLayout) {
  OpFilterGaussian small(3, 0.5f, 0.0f);
  const float* k = small.GetKernel();
  EXPECT_NEAR(k[4], 0.61935f, 5e-6f);
  EXPECT_NEAR(k[1], 0.08382f, 5e-6f);
  EXPECT_NEAR(k[0], 0.011344f, 5e-7f);
  EXPECT_EQ(k[1], k[3]);
  EXPECT_EQ(k[0], k[8]);
  EXPECT_EQ(small.GetHalfSize(), 1);

  OpFilterGaussian big(9, 2.0f, 0.0f);
  EXPECT_NEAR(big.GetKernel()[40], 0.041683f, 5e-7f);

  for (int n = 3; n <= 21; n += 2) {
    OpFilterGaussian g(n, 0.3f * n, 0.0f);
    float sum = 0.0f;
    for (int i = 0; i < n * n; ++i) {
      sum += g.GetKernel()[i];
      ASSERT_EQ(g.GetKernelC3()[3 * i], g.GetKernel()[i]);
      ASSERT_EQ(g.GetKernelC3()[3 * i + 2], g.GetKernel()[i]);
    }
    EXPECT_NEAR(sum, 1.0f, 1e-5f) << n;
  }
}

TEST(GaussianKernel, InitializeRefusesSizesAndDeviations) {
  const Failures fails("OpFilterGaussian::Initialize");
  for (int size : {1, 2, 4, 22, 23}) {
    EXPECT_TRUE(fails([&] { OpFilterGaussian g(size, 1.0f, 0.0f); }, 26,
                      ": kernel size must be odd and between 3 and 21"));
  }
  for (float sigma : {0.0f, -1.0f}) {  // judged before the size
    EXPECT_TRUE(fails([&] { OpFilterGaussian g(4, sigma, 0.0f); }, 26,
                      ": standard deviation must be non-zero and positive"));
  }
}

// ---- Convolution geometry ---------------------------------------------------

TEST(Convolve, KernelIsCentredAndTheFrameKeepsTheInput) {
  const int w = 68, h = 64, stride = 72;
  const auto src = RandomSamples<uint8_t>(stride * h, 255, 1);
  // 3 x 5 kernel (width 3, height 5) with one tap at row 0, column 0:
  // out(x, y) = src(x + 1, y + 2).
  std::vector<float> kernel(15, 0.0f);
  kernel[0] = 1.0f;
  std::vector<uint8_t> dst(stride * h, 0xEE);
  OpConvolve conv;
  conv.ExecuteC1(src.data(), stride, dst.data(), stride, w, h, kernel.data(), 3, 5);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool frame = x < 1 || x >= w - 1 || y < 2 || y >= h - 2;
      const int expected = frame ? src[y * stride + x] : src[(y + 2) * stride + x + 1];
      ASSERT_EQ(dst[y * stride + x], expected) << x << "," << y;
    }
    for (int x = w; x < stride; ++x) ASSERT_EQ(dst[y * stride + x], 0xEE);
  }
  EXPECT_FALSE(conv.HoldsBuffers());
  EXPECT_EQ(conv.GetFullWidth(), w + 2);
  EXPECT_EQ(conv.GetFullHeight(), h + 4);
}

TEST(Convolve, ExactSumsRoundAndClamp) {
  const int w = 64, h = 64;
  // Sums of powers of two are exact in float, so every path must agree.
  const auto src = RandomSamples<uint8_t>(w * h, 255, 2);
  const float kernel[9] = {0.25f, 0.5f, 0.25f, 0.5f, 1.0f, 0.5f, -0.25f, -0.5f, -0.25f};
  std::vector<uint8_t> dst(w * h);
  OpConvolve conv;
  conv.ExecuteC1(src.data(), w, dst.data(), w, w, h, kernel, 3, 3);
  for (int y = 1; y < h - 1; ++y) {
    for (int x = 1; x < w - 1; ++x) {
      double v = 0.0;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) v += kernel[i * 3 + j] * src[(y + 1 - i) * w + (x + 1 - j)];
      const int expected = v > 255 ? 255 : (v < 0 ? 0 : static_cast<int>(v + 0.5));
      ASSERT_EQ(dst[y * w + x], expected) << x << "," << y;
    }
  }
  // 16-bit data holds 12 bits: a result above 4095 is stored as 4095.
  std::vector<uint16_t> src16(w * h, 3000), dst16(w * h, 0);
  const float doubling[1] = {2.0f};
  conv.ExecuteC1(src16.data(), w * 2, dst16.data(), w * 2, w, h, doubling, 1, 1);
  EXPECT_EQ(dst16[5 * w + 5], 4095);
  EXPECT_EQ(dst16[0], 4095);  // a 1 x 1 kernel has no frame
}

TEST(Convolve, GaussianFrameAndConstantInterior) {
  const int w = 64, h = 72;
  BitmapData image(w, h, kFormatBGR8, nullptr, w * 3);
  std::fill(image.GetData(), image.GetData() + w * h * 3, uint8_t{77});
  const auto noise = RandomSamples<uint8_t>(w * 3, 255, 3);
  std::copy(noise.begin(), noise.end(), image.GetData());  // noisy top row
  BitmapData out(w, h, kFormatBGR8, nullptr, w * 3);
  OpFilterGaussian gauss(9, 2.0f, 0.0f);
  gauss.Execute(&image, &out);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w * 3; ++x) {
      const int px = x / 3;
      const bool frame = px < 4 || px >= w - 4 || y < 4 || y >= h - 4;
      if (frame) {
        ASSERT_EQ(out.GetData()[y * w * 3 + x], image.GetData()[y * w * 3 + x]);
      } else if (y >= 9) {
        ASSERT_EQ(out.GetData()[y * w * 3 + x], 77) << x << "," << y;  // out of the noise's reach
      }
    }
  }
  // In place gives the same bytes.
  gauss.Execute(&image);
  EXPECT_EQ(std::vector<uint8_t>(image.GetData(), image.GetData() + w * h * 3),
            std::vector<uint8_t>(out.GetData(), out.GetData() + w * h * 3));
}

TEST(Convolve, ElevenByElevenRunsPlaneByPlaneLikeSeparateChannels) {
  const int w = 64, h = 64, n = 11;
  const auto src = RandomSamples<uint16_t>(w * h * 3, 4095, 4);
  // A different kernel per channel, interleaved.
  std::vector<float> kernelC3(3 * n * n);
  std::vector<std::vector<float>> planes(3, std::vector<float>(n * n));
  for (int k = 0; k < n * n; ++k) {
    for (int c = 0; c < 3; ++c) {
      const float v = static_cast<float>((k * (c + 3)) % 17) / 300.0f;
      kernelC3[3 * k + c] = v;
      planes[c][k] = v;
    }
  }
  std::vector<uint16_t> dst(w * h * 3, 0);
  OpConvolve conv;
  conv.ExecuteC3(src.data(), w * 6, dst.data(), w * 6, w, h, kernelC3.data(), n, n);
  EXPECT_FALSE(conv.HoldsBuffers());
  for (int c = 0; c < 3; ++c) {
    std::vector<uint16_t> plane(w * h), out(w * h);
    for (int i = 0; i < w * h; ++i) plane[i] = src[3 * i + c];
    conv.ExecuteC1(plane.data(), w * 2, out.data(), w * 2, w, h, planes[c].data(), n, n);
    for (int i = 0; i < w * h; ++i)
      ASSERT_EQ(dst[3 * i + c], out[i]) << "channel " << c << " at " << i;
  }
}

TEST(Convolve, InterleavedThreeChannelMatchesSeparateChannelsUpToNine) {
  const int w = 64, h = 64;
  const auto src = RandomSamples<uint8_t>(w * h * 3, 255, 5);
  OpFilterGaussian gauss(5, 1.0f, 0.0f);
  std::vector<uint8_t> dst(w * h * 3);
  gauss.ExecuteC3(src.data(), w * 3, dst.data(), w * 3, w, h);
  for (int c = 0; c < 3; ++c) {
    std::vector<uint8_t> plane(w * h), out(w * h);
    for (int i = 0; i < w * h; ++i) plane[i] = src[3 * i + c];
    gauss.ExecuteC1(plane.data(), w, out.data(), w, w, h);
    for (int i = 0; i < w * h; ++i) ASSERT_NEAR(dst[3 * i + c], out[i], 1) << c << " " << i;
  }
}

TEST(Convolve, IntegerKernels) {
  const int w = 64, h = 64;
  std::vector<uint8_t> src(w * h * 3, 10), dst(w * h * 3, 0);
  src[3 * (10 * w + 10)] = 200;
  const std::vector<uint8_t> ones(27, 1);
  OpConvolve conv;
  conv.ExecuteC3(src.data(), w * 3, dst.data(), w * 3, w, h, ones.data(), 3, 3);
  EXPECT_EQ(dst[3 * (20 * w + 20)], 90);
  EXPECT_EQ(dst[3 * (10 * w + 11)], 255);  // 8 * 10 + 200 saturates
  EXPECT_EQ(dst[3 * (10 * w + 11) + 1], 90);
  EXPECT_EQ(dst[0], 10);  // frame
  EXPECT_FALSE(conv.HoldsBuffers());

  std::vector<uint16_t> src16(w * h, 100), dst16(w * h, 0);
  src16[30 * w + 30] = 1000;
  const int16_t laplace[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
  conv.ExecuteC1(src16.data(), w * 2, dst16.data(), w * 2, w, h, laplace, 3, 3);
  EXPECT_EQ(dst16[30 * w + 30], 3600);
  EXPECT_EQ(dst16[30 * w + 31], 65536 - 900);  // the signed word -900, unchanged
  EXPECT_EQ(dst16[20 * w + 20], 0);
  EXPECT_EQ(dst16[0], 100);

  // A single 100 under a sharpening kernel: its neighbours respond -100, the
  // signed word 65436 when read unsigned.
  std::vector<uint16_t> spike(w * h, 0), out(w * h, 0);
  spike[10 * w + 10] = 100;
  const int16_t sharpen[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
  conv.ExecuteC1(spike.data(), w * 2, out.data(), w * 2, w, h, sharpen, 3, 3);
  EXPECT_EQ(out[10 * w + 10], 500);
  EXPECT_EQ(out[10 * w + 11], 65436);
  EXPECT_EQ(static_cast<int16_t>(out[11 * w + 10]), -100);
}

TEST(Convolve, ChecksInOrderLeaveTheDestinationUntouched) {
  OpConvolve conv;
  const float k[9] = {};
  BitmapData a(64, 64, kFormatBGR8, nullptr, 192);
  BitmapData b16(64, 64, kFormatBGR16, nullptr, 384);
  BitmapData tall(64, 68, kFormatBGR8, nullptr, 192);
  const Failures fails("OpConvolve::Execute");
  EXPECT_TRUE(fails([&] { conv.Execute(&a, nullptr, k, 3, 3); }, 4));
  EXPECT_TRUE(fails([&] { conv.Execute(&a, &b16, k, 3, 3); }, 3));
  EXPECT_TRUE(fails([&] { conv.Execute(&a, &tall, k, 3, 3); }, 1));
  // Sizes that are not multiples of 4, or narrower than 64.
  for (auto [w, h] : {std::pair{60, 64}, std::pair{64, 66}, std::pair{63, 64}}) {
    BitmapData in(w, h), out(w, h);
    EXPECT_TRUE(fails([&] { conv.Execute(&in, &out, k, 3, 3); }, 0)) << w << "x" << h;
  }
  const uint8_t k8[9] = {};
  const int16_t k16[9] = {};
  EXPECT_TRUE(fails([&] { conv.Execute(&b16, &b16, k8, 3, 3); }, 2));
  EXPECT_TRUE(fails([&] { conv.Execute(&a, &a, k16, 3, 3); }, 2));
  conv.Execute(&a, &a, k, 3, 3);  // 64 x 64 is accepted

  const int w = 64, h = 64;
  std::vector<uint8_t> src(w * h * 3, 1), dst(w * h * 3, 0);
  const float* none = nullptr;
  const Failures c1("OpConvolve::ExecuteC1"), c3("OpConvolve::ExecuteC3");
  EXPECT_TRUE(c3([&] { conv.ExecuteC3(src.data(), w * 3, nullptr, w * 3, w, h, k, 3, 3); }, 5));
  EXPECT_TRUE(
      c3([&] { conv.ExecuteC3(src.data(), w * 3 - 1, dst.data(), w * 3, w, h, none, 3, 3); }, 6));
  EXPECT_TRUE(c1([&] { conv.ExecuteC1(src.data(), w, dst.data(), w, 62, h, none, 3, 3); }, 0));
  EXPECT_TRUE(
      c1([&] { conv.ExecuteC1(src.data(), w, dst.data(), w, w, h, none, 3, 3); }, 11, "(kernel)"));
  EXPECT_TRUE(c3([&] { conv.ExecuteC3(src.data(), w * 3, dst.data(), w * 3, w, h, k, 0, 3); }, 11,
                 "(kernel)"));
  EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 0; }));
}

TEST(Convolve, PrimitiveFailuresReleaseTheWorkBuffers) {
  OpConvolve conv;
  const float k[121] = {1};
  std::vector<float> image(64 * 64 * 3, 1.0f);
  float* p = image.data();
  const Failures c1("OpConvolve::ConvolveFloatC1"), c3("OpConvolve::ConvolveFloatC3");
  // A zero width reaches the primitive, which refuses it.
  EXPECT_TRUE(
      c1([&] { conv.ConvolveFloatC1(p, 256, 0, 64, k, 3, 3); }, 15, "(ippiConvFull_32f_C1R)"));
  EXPECT_FALSE(conv.HoldsBuffers());
  EXPECT_TRUE(
      c3([&] { conv.ConvolveFloatC3(p, 768, 0, 64, k, 3, 3); }, 15, "(ippiConvFull_32f_C3R)"));
  EXPECT_FALSE(conv.HoldsBuffers());
  EXPECT_TRUE(c3([&] { conv.ConvolveFloatC3(p, 768, 64, 64, nullptr, 11, 11); }, 5));
  EXPECT_TRUE(c1([&] { conv.ConvolveFloatC1(nullptr, 256, 64, 64, k, 3, 3); }, 5));
  EXPECT_FALSE(conv.HoldsBuffers());
}

}  // namespace
}  // namespace KelvoLibImageProcessing
