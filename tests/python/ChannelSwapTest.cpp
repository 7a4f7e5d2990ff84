#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "python/src/ChannelSwap.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

using kelvo::python::SwapOuterChannels;

// Every length from none to a few vectors' worth of pixels, so each target
// goes through whole vectors, a tail and the two together; into another
// buffer and in place, as the package uses it.
TEST(ChannelSwap, ExchangesOuterBytesOfEachPixelOnEveryTarget) {
  std::mt19937 random(5);
  std::vector<uint8_t> source(3 * 300);
  for (uint8_t& byte : source) byte = static_cast<uint8_t>(random());
  kelvo::testing::ForEachTarget([&](const char*) {
    for (size_t pixels = 0; pixels <= 300; pixels += pixels < 70 ? 1 : 37) {
      const size_t bytes = 3 * pixels;
      std::vector<uint8_t> expected(source.begin(), source.begin() + bytes);
      for (size_t i = 0; i < bytes; i += 3) std::swap(expected[i], expected[i + 2]);
      // One byte past the end must stay as it was.
      std::vector<uint8_t> out(bytes + 1, 0xA5);
      SwapOuterChannels(source.data(), out.data(), bytes);
      ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + bytes), expected) << pixels;
      ASSERT_EQ(out[bytes], 0xA5) << pixels;
      std::vector<uint8_t> same(source.begin(), source.begin() + bytes);
      SwapOuterChannels(same.data(), same.data(), bytes);
      ASSERT_EQ(same, expected) << pixels << " in place";
    }
  });
}

}  // namespace
