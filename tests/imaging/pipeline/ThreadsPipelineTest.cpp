// The whole snapshot pipeline gives the same bytes on 1, 2, 3 and 7 threads,
// from a single pixel to a full-HD photograph-like frame with a skin-toned
// face (so every stage, the skin map included, does real work). The suite
// runs once with SIMD and once without.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/primitives/Threads.h"

namespace KelvoLibImageProcessing {
namespace {

std::vector<uint8_t> Photo(int w, int h) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
  std::mt19937 rng(17);
  std::normal_distribution<float> noise(0.0f, 5.0f);
  const float cx = 0.5f * w, cy = 0.45f * h, rx = 0.2f * w + 1, ry = 0.3f * h + 1;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const float u = static_cast<float>(x) / w, v = static_cast<float>(y) / h;
      float b = 60 + 80 * v + 15 * std::sin(50 * u), g = 50 + 60 * v, r = 40 + 50 * u;
      const float dx = (x - cx) / rx, dy = (y - cy) / ry;
      if (dx * dx + dy * dy < 1.0f) {
        b = 110;
        g = 140;
        r = 200;
      }
      const float n = noise(rng);
      uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * w + x) * 3;
      p[0] = static_cast<uint8_t>(std::clamp(b + n, 0.0f, 255.0f));
      p[1] = static_cast<uint8_t>(std::clamp(g + n, 0.0f, 255.0f));
      p[2] = static_cast<uint8_t>(std::clamp(r + n, 0.0f, 255.0f));
    }
  }
  return pixels;
}

TEST(ThreadsPipelineTest, EnhancementIsTheSameOnAnyCount) {
  struct Size {
    int w, h;
  };
  for (Size s : {Size{1, 1}, Size{3, 5}, Size{641, 479}, Size{1920, 1080}}) {
    SCOPED_TRACE(::testing::Message() << s.w << "x" << s.h);
    const std::vector<uint8_t> input = Photo(s.w, s.h);
    const auto run = [&](int threads) {
      kelvo::SetThreads(threads);
      std::vector<uint8_t> out(input.size(), 0x5A);
      EnhanceAnySize(s.w, s.h, input.data(), 3 * s.w, out.data(), 3 * s.w);
      return out;
    };
    const std::vector<uint8_t> one = run(1);
    EXPECT_NE(one, input);  // the pipeline changed the picture
    for (int threads : {2, 3, 7}) EXPECT_TRUE(run(threads) == one) << threads << " threads";
  }
  kelvo::SetThreads(0);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
