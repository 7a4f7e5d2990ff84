// The vector row kernels of convolution and sharpening on every SIMD target
// against their plain loops, on counts that leave every tail.

#include <gtest/gtest.h>

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

template <typename T>
void CheckMaskAndApply(uint32_t sampleMax, float applyMax) {
  const int halfSize = 2;
  for (int count : kCounts) {
    const int width = count + 2 * halfSize + 1;
    const auto samples = RandomSamples<T>(width, sampleMax, count);
    // Running sums of plausible windows: integers, as a table over samples holds.
    std::vector<double> below(width), above(width);
    double runBelow = 0.0, runAbove = 0.0;
    Lcg lcg(count);
    for (int x = 0; x < width; ++x) {
      runAbove += static_cast<double>(lcg.Next() % (sampleMax + 1)) * 2.0;
      runBelow = runAbove * 2.5;
      above[x] = runAbove;
      below[x] = runBelow;
    }
    const int first = halfSize + 1;
    const int last = width - halfSize;
    for (float threshold : {0.0f, 3.0f, 20.0f}) {
      std::vector<uint8_t> expected(width, 0x5A);
      reference::HybridMaskRow(samples.data(), below.data(), above.data(), expected.data(), first,
                               last, halfSize, 15.0, threshold);
      ForEachTarget([&](const char*) {
        std::vector<uint8_t> mask(width, 0x5A);
        detail::HybridMaskRow(samples.data(), below.data(), above.data(), mask.data(), first, last,
                              halfSize, 15.0, threshold);
        ASSERT_EQ(mask, expected) << count << " " << threshold;
      });
    }
    const auto blur = RandomSamples<T>(count, sampleMax, count + 1);
    const auto mask = RandomSamples<uint8_t>(count, 1, count + 2);
    std::vector<T> expected(samples.begin(), samples.begin() + count);
    reference::ApplyUnsharpRow(expected.data(), blur.data(), mask.data(), count, 1.0f + 0.3f, 0.3f,
                               applyMax);
    ForEachTarget([&](const char*) {
      std::vector<T> y(samples.begin(), samples.begin() + count);
      detail::ApplyUnsharpRow(y.data(), blur.data(), mask.data(), count, 1.0f + 0.3f, 0.3f,
                              applyMax);
      ASSERT_EQ(y, expected) << count;
    });
  }
}

TEST(FilterRows, HybridMaskAndApplyMatchThePlainLoops) {
  CheckMaskAndApply<uint8_t>(255, 255.0f);
  CheckMaskAndApply<uint16_t>(4095, 65535.0f);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
