// The streamed luminance work of the 8-bit hybrid unsharp mask on every SIMD
// target (which runs its row kernels on every tail), against plain
// whole-plane loops, on sizes smaller and larger than the kernels and
// windows, with noise, smooth photo-like planes and hard edges.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/filters/OpFilterGaussian.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/filters/detail/HybridLuminance.h"
#include "imaging/filters/reference/HybridLuminanceReference.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using testing_support::ForEachTarget;
using testing_support::Lcg;

float PipelineOffTap() {
  const uint32_t bits = 0xBC4CCCCBu;
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

struct Kernel {
  std::string name;
  int width, height;
  std::vector<float> taps;
};

std::vector<Kernel> HighPassKernels() {
  std::vector<Kernel> kernels;
  std::vector<float> pipeline(25, PipelineOffTap());
  pipeline[12] = 1.3f;
  kernels.push_back({"pipeline5x5", 5, 5, pipeline});
  std::vector<float> k3(9, -0.1f);
  k3[4] = 1.8f;
  kernels.push_back({"default3x3", 3, 3, k3});
  kernels.push_back({"uneven4x2", 4, 2, {-0.2f, 0.3f, 1.1f, -0.05f, 0.25f, -0.3f, 0.9f, -1.0f}});
  std::vector<float> k7(49);
  for (int i = 0; i < 49; ++i)
    k7[i] = i == 24 ? 2.0f : -1.0f / 48.0f + static_cast<float>(i % 5) * 0.001f;
  kernels.push_back({"wide7x7", 7, 7, k7});
  kernels.push_back({"row1x3", 3, 1, {-0.5f, 2.0f, -0.5f}});
  return kernels;
}

// 0: noise; 1: smooth gradients with mild noise; 2: hard blocks near black
// and white, which drive the results into both clamps.
std::vector<uint8_t> Plane(int width, int height, int kind, uint32_t seed) {
  Lcg lcg(seed);
  std::vector<uint8_t> p(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int noise = static_cast<int>(lcg.Next() % 9) - 4;
      int v = 0;
      if (kind == 0) v = static_cast<int>(lcg.Next() % 256);
      if (kind == 1) v = (x * 3 + y * 2) % 200 + 30 + noise;
      if (kind == 2) v = ((x / 3 + y / 2) % 2 ? 250 : 4) + noise;
      p[static_cast<std::size_t>(y) * width + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
  return p;
}

// Runs the streamed form on a plane stored with padded rows (the padding of
// the output and the whole source must stay untouched) and returns the
// sharpened plane.
std::vector<uint8_t> Streamed(const std::vector<uint8_t>& plane, int width, int height,
                              const detail::HybridLuminanceParams& p) {
  const int stride = width + 5;
  std::vector<uint8_t> lum(static_cast<std::size_t>(stride) * height, 0xA5);
  std::vector<uint8_t> out(static_cast<std::size_t>(stride) * height, 0x5A);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&lum[static_cast<std::size_t>(y) * stride],
                &plane[static_cast<std::size_t>(y) * width], width);
  }
  const std::vector<uint8_t> before = lum;
  detail::SharpenLuminance8(lum.data(), stride, out.data(), stride, width, height, p, "test");
  EXPECT_TRUE(lum == before) << "the source was written";
  std::vector<uint8_t> sharp(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = width; x < stride; ++x) {
      EXPECT_EQ(out[static_cast<std::size_t>(y) * stride + x], 0x5A);
    }
    std::memcpy(&sharp[static_cast<std::size_t>(y) * width],
                &out[static_cast<std::size_t>(y) * stride], width);
  }
  return sharp;
}

struct Hybrid {
  float threshold, radius, amount;
};

TEST(HybridLuminance, StreamedFormMatchesThePlainLoopsOnEveryTarget) {
  const std::vector<Kernel> kernels = HighPassKernels();
  const Hybrid settings[] = {{20.0f, 1.25f, 0.3f}, {10.0f, 4.5f, 0.8f}, {0.0f, 2.0f, 1.5f},
                             {7.3f, 1.0f, 0.3f},   {0.5f, 1.7f, 0.2f},  {300.0f, 1.25f, 0.3f}};
  const int sizes[][2] = {{1, 1},  {2, 7},   {5, 5},  {6, 3},   {9, 11}, {17, 4},
                          {23, 9}, {33, 17}, {64, 6}, {70, 13}, {131, 7}};
  int seed = 1;
  for (const Hybrid& s : settings) {
    // The Gaussian the sharpener builds for this radius.
    int k = static_cast<int>(2.0f * s.radius + 0.5f);
    if (k % 2 == 0) ++k;
    const OpFilterGaussian gaussian(k, static_cast<float>(k - 1) * 0.25f, 0.0f);
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      for (int kind = 0; kind < 3; ++kind) {
        const std::vector<uint8_t> plane = Plane(w, h, kind, static_cast<uint32_t>(seed++));
        for (std::size_t ki = 0; ki <= kernels.size(); ++ki) {
          const Kernel* kernel = ki < kernels.size() ? &kernels[ki] : nullptr;
          SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " kind " +
                       std::to_string(kind) + " kernel " + (kernel ? kernel->name : "none") +
                       " T " + std::to_string(s.threshold) + " r " + std::to_string(s.radius));
          detail::HybridLuminanceParams p;
          if (kernel != nullptr) {
            p.highPass = kernel->taps.data();
            p.highPassWidth = kernel->width;
            p.highPassHeight = kernel->height;
          }
          p.blur = gaussian.GetKernel();
          p.blurSize = k;
          p.halfSize = k / 2;
          p.threshold = s.threshold;
          p.amount = s.amount;
          std::vector<uint8_t> high = plane;
          const std::vector<uint8_t> expected = reference::SharpenLuminance8(
              high, w, h, p.highPass, p.highPassWidth, p.highPassHeight, p.blur, k, k / 2,
              s.threshold, s.amount);
          ForEachTarget([&](const char*) { ASSERT_EQ(Streamed(plane, w, h, p), expected); });
        }
      }
    }
  }
}

// Bands compute the high-pass rows around them for themselves; each row must
// come out as on one thread, at the first and last rows of every band too.
// The narrow tall planes cut into many bands and are also checked against
// the plain loops.
TEST(HybridLuminance, BandsGiveTheSameRowsOnAnyThreadCount) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  const std::vector<Kernel> kernels = HighPassKernels();
  const Hybrid settings[] = {{20.0f, 1.25f, 0.3f}, {10.0f, 4.5f, 0.8f}};
  const int sizes[][2] = {{1, 1}, {3, 5}, {641, 479}, {1920, 1080}, {40, 3001}, {7, 9001}};
  uint32_t seed = 77;
  for (const Hybrid& s : settings) {
    int k = static_cast<int>(2.0f * s.radius + 0.5f);
    if (k % 2 == 0) ++k;
    const OpFilterGaussian gaussian(k, static_cast<float>(k - 1) * 0.25f, 0.0f);
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      const std::vector<uint8_t> plane = Plane(w, h, static_cast<int>(seed % 3), seed);
      ++seed;
      for (const Kernel* kernel : {&kernels[0], &kernels[3], static_cast<const Kernel*>(nullptr)}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " kernel " +
                     (kernel ? kernel->name : "none") + " r " + std::to_string(s.radius));
        detail::HybridLuminanceParams p;
        if (kernel != nullptr) {
          p.highPass = kernel->taps.data();
          p.highPassWidth = kernel->width;
          p.highPassHeight = kernel->height;
        }
        p.blur = gaussian.GetKernel();
        p.blurSize = k;
        p.halfSize = k / 2;
        p.threshold = s.threshold;
        p.amount = s.amount;
        kelvo::SetThreads(1);
        const std::vector<uint8_t> one = Streamed(plane, w, h, p);
        if (w * h < 70000) {
          std::vector<uint8_t> high = plane;
          ASSERT_EQ(one, reference::SharpenLuminance8(high, w, h, p.highPass, p.highPassWidth,
                                                      p.highPassHeight, p.blur, k, k / 2,
                                                      s.threshold, s.amount));
        }
        for (int count : {2, 3, 7}) {
          kelvo::SetThreads(count);
          ASSERT_TRUE(Streamed(plane, w, h, p) == one) << count << " threads";
        }
      }
    }
  }
}

TEST(HybridLuminance, IntegerBoundsReproduceTheFloatTestForEverySampleAndSum) {
  int checked = 0;
  for (int count : {1, 4, 6, 9, 25, 81}) {
    for (float threshold : {0.0f, 0.5f, 7.3f, 20.0f, 20.111111f, 254.9f, 255.0f, 300.0f}) {
      int above = 0, below = 0;
      if (!detail::IntegerMaskBounds(count, threshold, above, below)) continue;
      ++checked;
      for (int sample = 0; sample < 256; ++sample) {
        for (int sum = 0; sum <= 255 * count; ++sum) {
          const double mean = static_cast<double>(sum) / static_cast<double>(count);
          const float d = static_cast<float>(static_cast<double>(sample) - mean);
          const bool expected = d < -threshold || d > threshold;
          const int m = count * sample - sum;
          ASSERT_EQ(m > above || m < below, expected)
              << count << " " << threshold << " " << sample << " " << sum;
        }
      }
    }
  }
  // The pipeline's window and threshold take the integer path.
  int above = 0, below = 0;
  EXPECT_TRUE(detail::IntegerMaskBounds(9, 20.0f, above, below));
  EXPECT_EQ(above, 180);
  EXPECT_EQ(below, -180);
  EXPECT_GT(checked, 30);
  EXPECT_FALSE(detail::IntegerMaskBounds(0, 20.0f, above, below));
  EXPECT_FALSE(detail::IntegerMaskBounds(9, -1.0f, above, below));
}

}  // namespace
}  // namespace KelvoLibImageProcessing
