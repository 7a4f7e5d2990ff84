// The streamed luminance work of the 8-bit hybrid unsharp mask and its row
// kernels on every SIMD target, against plain whole-plane loops, on sizes
// smaller and larger than the kernels and windows, with noise, smooth
// photo-like planes and hard edges.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/filters/OpFilterGaussian.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/filters/detail/HybridLuminance.h"
#include "imaging/filters/reference/HybridLuminanceReference.h"
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

// Runs the streamed form on a plane stored with padded rows (the padding
// must stay untouched) and returns {high-pass plane, sharpened plane}.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> Streamed(
    const std::vector<uint8_t>& plane, int width, int height,
    const detail::HybridLuminanceParams& p) {
  const int stride = width + 5;
  std::vector<uint8_t> lum(static_cast<std::size_t>(stride) * height, 0xA5);
  std::vector<uint8_t> out(static_cast<std::size_t>(stride) * height, 0x5A);
  for (int y = 0; y < height; ++y) {
    std::memcpy(&lum[static_cast<std::size_t>(y) * stride],
                &plane[static_cast<std::size_t>(y) * width], width);
  }
  detail::SharpenLuminance8(lum.data(), stride, out.data(), stride, width, height, p, "test");
  std::vector<uint8_t> high(plane.size()), sharp(plane.size());
  for (int y = 0; y < height; ++y) {
    for (int x = width; x < stride; ++x) {
      EXPECT_EQ(lum[static_cast<std::size_t>(y) * stride + x], 0xA5);
      EXPECT_EQ(out[static_cast<std::size_t>(y) * stride + x], 0x5A);
    }
    std::memcpy(&high[static_cast<std::size_t>(y) * width],
                &lum[static_cast<std::size_t>(y) * stride], width);
    std::memcpy(&sharp[static_cast<std::size_t>(y) * width],
                &out[static_cast<std::size_t>(y) * stride], width);
  }
  return {high, sharp};
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
          std::vector<uint8_t> expectedHigh = plane;
          const std::vector<uint8_t> expected = reference::SharpenLuminance8(
              expectedHigh, w, h, p.highPass, p.highPassWidth, p.highPassHeight, p.blur, k, k / 2,
              s.threshold, s.amount);
          ForEachTarget([&](const char*) {
            const auto [high, sharp] = Streamed(plane, w, h, p);
            ASSERT_EQ(high, expectedHigh);
            ASSERT_EQ(sharp, expected);
          });
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

TEST(HybridLuminance, RowKernelsMatchThePlainLoopsOnEveryTarget) {
  const std::vector<Kernel> kernels = HighPassKernels();
  for (int count : {1, 3, 15, 16, 17, 63, 64, 65, 129, 200}) {
    for (const Kernel& kernel : kernels) {
      // Taps reach hw to the right and (kernel.width - 1 - hw) to the left,
      // so an even-width kernel needs one sample more than it is wide.
      const int hw = kernel.width / 2;
      const int width = count + 2 * hw;
      std::vector<std::vector<float>> rows(kernel.height, std::vector<float>(width));
      Lcg lcg(static_cast<uint32_t>(count * 31 + kernel.width));
      for (auto& row : rows) {
        for (float& v : row) v = static_cast<float>(lcg.Next() % 256);
      }
      std::vector<const float*> pointers;
      for (const auto& row : rows) pointers.push_back(row.data());
      const int first = hw, last = hw + count;
      std::vector<uint8_t> expected(width, 0x11);
      for (int x = first; x < last; ++x) {
        float sum = 0.0f;
        for (int ky = 0; ky < kernel.height; ++ky) {
          for (int kx = 0; kx < kernel.width; ++kx) {
            sum = sum + pointers[ky][x + hw - kx] * kernel.taps[ky * kernel.width + kx];
          }
        }
        expected[x] = reference::RoundClamp255(sum);
      }
      ForEachTarget([&](const char*) {
        std::vector<uint8_t> out(width, 0x11);
        detail::ConvolveRowNarrow(pointers.data(), kernel.taps.data(), kernel.width, kernel.height,
                                  first, last, out.data(), 255.0f);
        ASSERT_EQ(out, expected) << kernel.name << " " << count;
      });
    }

    for (int halfSize : {1, 2, 4}) {
      const int width = count + 2 * halfSize;
      std::vector<std::vector<uint8_t>> rows(2 * halfSize + 1);
      for (std::size_t r = 0; r < rows.size(); ++r) {
        rows[r] = testing_support::RandomSamples<uint8_t>(width, 255, count + 7 * r);
      }
      std::vector<const uint8_t*> pointers;
      for (const auto& row : rows) pointers.push_back(row.data());
      std::vector<int32_t> sums(width);
      for (int x = 0; x < width; ++x) {
        for (const auto& row : rows) sums[x] += row[x];
      }
      const std::vector<uint8_t> samples =
          testing_support::RandomSamples<uint8_t>(width, 255, count);
      const int n = static_cast<int>(rows.size()) * (2 * halfSize + 1);
      for (int bound : {0, 45, 180, 400}) {
        std::vector<uint8_t> expected(width, 0x22);
        for (int x = halfSize; x < width - halfSize; ++x) {
          int window = 0;
          for (int j = -halfSize; j <= halfSize; ++j) window += sums[x + j];
          const int m = n * samples[x] - window;
          expected[x] = (m > bound || m < -bound - 3) ? 255 : 0;
        }
        ForEachTarget([&](const char*) {
          std::vector<int32_t> got(width, -1);
          detail::ColumnSums(pointers.data(), static_cast<int>(rows.size()), width, got.data());
          ASSERT_EQ(got, sums);
          std::vector<uint8_t> mask(width, 0x22);
          detail::SumMaskRow(sums.data(), samples.data(), mask.data(), halfSize, width - halfSize,
                             halfSize, n, bound, -bound - 3);
          ASSERT_EQ(mask, expected) << count << " " << halfSize << " " << bound;
        });
      }
    }
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
