// The vector row kernels of convolution and sharpening on every SIMD target
// against their plain loops, on counts that leave every tail. The mask row
// is compared through the whole mask in HybridMaskTest.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/filters/detail/FilterRows.h"
#include "imaging/filters/reference/FilterRowsReference.h"
#include "tests/imaging/filters/FiltersTestSupport.h"

namespace KelvoLibImageProcessing {
namespace {

using testing_support::ForEachTarget;
using testing_support::Lcg;
using testing_support::RandomSamples;

const int kCounts[] = {1, 3, 7, 8, 15, 16, 17, 31, 33, 67};

// Floats around the clamp and rounding edges of 8-bit and 12-bit results.
std::vector<float> EdgeFloats(std::size_t count, float maximum, uint32_t seed) {
  const float edges[] = {-3.0f,   -0.4f,          -0.0f,         0.0f,           0.49f,
                         0.5f,    1.5f,           2.5f,          maximum - 0.5f, maximum - 0.51f,
                         maximum, maximum + 0.4f, maximum + 7.0f};
  Lcg lcg(seed);
  std::vector<float> v(count);
  for (std::size_t i = 0; i < count; ++i) {
    v[i] = (i % 3 == 0)
               ? edges[lcg.Next() % 13]
               : static_cast<float>(lcg.Next() % 100000) / 100000.0f * (maximum + 40.0f) - 20.0f;
  }
  return v;
}

template <typename T>
void CheckWidenAndNarrow(float maximum, uint32_t sampleMax) {
  for (int count : kCounts) {
    const auto samples = RandomSamples<T>(count, sampleMax, count);
    const auto floats = EdgeFloats(count, maximum, count + 7);
    std::vector<float> wideExpected(count + 2, -1.0f);
    std::vector<T> narrowExpected(count + 2, static_cast<T>(0xA5));
    reference::WidenToFloat(samples.data(), wideExpected.data(), count);
    reference::NarrowRound(floats.data(), narrowExpected.data(), count, maximum);
    ForEachTarget([&](const char*) {
      std::vector<float> wide(count + 2, -1.0f);
      std::vector<T> narrow(count + 2, static_cast<T>(0xA5));
      detail::WidenToFloat(samples.data(), wide.data(), count);
      detail::NarrowRound(floats.data(), narrow.data(), count, maximum);
      ASSERT_EQ(wide, wideExpected) << count;
      ASSERT_EQ(narrow, narrowExpected) << count;
    });
  }
}

TEST(FilterRows, WidenAndNarrowMatchThePlainLoops) {
  CheckWidenAndNarrow<uint8_t>(255.0f, 255);
  CheckWidenAndNarrow<uint16_t>(4095.0f, 65535);
}

// The 8-bit row also runs inside the streamed luminance comparison; the
// 16-bit one only here.
template <typename T>
void CheckApply(uint32_t sampleMax, float applyMax) {
  for (int count : kCounts) {
    const auto samples = RandomSamples<T>(count, sampleMax, count);
    const auto blur = RandomSamples<T>(count, sampleMax, count + 1);
    const auto mask = RandomSamples<uint8_t>(count, 1, count + 2);
    std::vector<T> expected = samples;
    reference::ApplyUnsharpRow(expected.data(), blur.data(), mask.data(), count, 1.0f + 0.3f, 0.3f,
                               applyMax);
    ForEachTarget([&](const char*) {
      std::vector<T> y = samples;
      detail::ApplyUnsharpRow(y.data(), blur.data(), mask.data(), count, 1.0f + 0.3f, 0.3f,
                              applyMax);
      ASSERT_EQ(y, expected) << count;
    });
  }
}

TEST(FilterRows, ApplyMatchesThePlainLoop) {
  CheckApply<uint8_t>(255, 255.0f);
  CheckApply<uint16_t>(4095, 65535.0f);
}

// The high-pass of a kernel with one tap off the centre, through rows of
// products with that tap, against the plain convolution of the byte rows
// and against the general vector convolution of the widened rows, on every
// target: kernels of 3 x 3, 5 x 5 and 7 x 3, the pipeline's taps and random
// ones, widths that leave every tail and one past the eight-vector step;
// the forms of two and four rows at once against plain rows.
TEST(FilterRows, UniformKernelConvolutionMatchesTheGeneralOne) {
  const int sizes[][2] = {{3, 3}, {5, 5}, {7, 3}};
  Lcg lcg(41);
  for (const auto& size : sizes) {
    const int kw = size[0], kh = size[1], hw = kw / 2;
    for (int variant = 0; variant < 2; ++variant) {
      // The pipeline's -0.0125 off the centre and 1.3 at it, or random taps.
      const float off =
          variant == 0 ? -0.0125f : static_cast<float>(lcg.Next() % 2001) / 997.0f - 1.0f;
      const float centre = variant == 0 ? 1.3f : static_cast<float>(lcg.Next() % 2001) / 331.0f;
      std::vector<float> kernel(static_cast<std::size_t>(kw * kh), off);
      kernel[static_cast<std::size_t>((kh / 2) * kw + hw)] = centre;
      for (int count : {1, 7, 17, 67, 300}) {
        const int width = count + 2 * hw;
        std::vector<std::vector<uint8_t>> bytes;
        std::vector<std::vector<float>> widened, products;
        std::vector<const uint8_t*> byteRows;
        std::vector<const float*> widenedRows, productRows;
        for (int ky = 0; ky < kh; ++ky) {
          bytes.push_back(RandomSamples<uint8_t>(width, 255, lcg.Next()));
          widened.emplace_back(width);
          products.emplace_back(width);
          reference::WidenToFloat(bytes.back().data(), widened.back().data(), width);
        }
        for (int ky = 0; ky < kh; ++ky) {
          byteRows.push_back(bytes[ky].data());
          widenedRows.push_back(widened[ky].data());
        }
        std::vector<uint8_t> expected(width, 7);
        reference::ConvolveRowNarrow(byteRows.data(), kernel.data(), kw, kh, hw, width - hw,
                                     expected.data(), 255.0f);
        // The several-row forms also make up to three rows below, from
        // source rows further down: stack[k .. k + kh) are the rows of
        // output k (stack[3 ..] are the rows above).
        std::vector<std::vector<uint8_t>> extra;
        for (int e = 0; e < 3; ++e) extra.push_back(RandomSamples<uint8_t>(width, 255, lcg.Next()));
        std::vector<const uint8_t*> stack;
        for (const auto& e : extra) stack.push_back(e.data());
        stack.insert(stack.end(), byteRows.begin(), byteRows.end());
        std::vector<std::vector<uint8_t>> expectedAt;
        for (int k = 0; k < 4; ++k) {
          expectedAt.emplace_back(width, 7);
          reference::ConvolveRowNarrow(stack.data() + k, kernel.data(), kw, kh, hw, width - hw,
                                       expectedAt.back().data(), 255.0f);
        }
        ForEachTarget([&](const char*) {
          productRows.clear();
          for (int ky = 0; ky < kh; ++ky) {
            detail::WidenScaled(bytes[ky].data(), products[ky].data(), width, off);
            productRows.push_back(products[ky].data());
          }
          std::vector<uint8_t> general(width, 7), uniform(width, 7);
          detail::ConvolveRowNarrow(widenedRows.data(), kernel.data(), kw, kh, hw, width - hw,
                                    general.data(), 255.0f);
          detail::ConvolveRowNarrowUniform(productRows.data(), bytes[kh / 2].data(), centre, kw, kh,
                                           hw, width - hw, uniform.data(), 255.0f);
          ASSERT_EQ(general, expected) << kw << "x" << kh << " " << count;
          ASSERT_EQ(uniform, expected) << kw << "x" << kh << " " << count;
          std::vector<std::vector<float>> extraProducts(3, std::vector<float>(width));
          std::vector<const float*> stackProducts;
          for (int e = 0; e < 3; ++e) {
            detail::WidenScaled(extra[e].data(), extraProducts[e].data(), width, off);
            stackProducts.push_back(extraProducts[e].data());
          }
          stackProducts.insert(stackProducts.end(), productRows.begin(), productRows.end());
          for (int rows : {2, 4}) {
            const int k0 = 4 - rows;
            std::vector<std::vector<uint8_t>> made(rows, std::vector<uint8_t>(width, 7));
            std::vector<const uint8_t*> centres;
            std::vector<uint8_t*> outs;
            for (int r = 0; r < rows; ++r) {
              centres.push_back(stack[k0 + r + kh / 2]);
              outs.push_back(made[r].data());
            }
            detail::ConvolveRowsNarrowUniform(stackProducts.data() + k0, centres.data(), rows,
                                              centre, kw, kh, hw, width - hw, outs.data(), 255.0f);
            for (int r = 0; r < rows; ++r) {
              ASSERT_EQ(made[r], expectedAt[k0 + r])
                  << kw << "x" << kh << " " << count << " row " << r << " of " << rows;
            }
          }
        });
      }
    }
  }
}

// Column sums moved down a window of five rows a row at a time (and grown
// and shrunk at the ends) against fresh sums of the window, on every target.
TEST(FilterRows, SlidingColumnSumsMatchFreshSums) {
  const int count = 67, height = 12;
  std::vector<std::vector<uint8_t>> rows;
  for (int y = 0; y < height; ++y) rows.push_back(RandomSamples<uint8_t>(count, 255, 90 + y));
  ForEachTarget([&](const char*) {
    std::vector<int32_t> sums(count, 0);
    int top = 0, bottom = -1;
    for (int y = 0; y < height; ++y) {
      const int y0 = std::max(y - 2, 0), y1 = std::min(y + 2, height - 1);
      for (; bottom < y1; ++bottom)
        detail::SlideColumnSums(sums.data(), rows[bottom + 1].data(), nullptr, count);
      for (; top < y0; ++top)
        detail::SlideColumnSums(sums.data(), nullptr, rows[top].data(), count);
      for (int i = 0; i < count; ++i) {
        int32_t fresh = 0;
        for (int r = y0; r <= y1; ++r) fresh += rows[r][i];
        ASSERT_EQ(sums[i], fresh) << y << " " << i;
      }
    }
  });
}

}  // namespace
}  // namespace KelvoLibImageProcessing
