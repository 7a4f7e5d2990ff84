// The snapshot pipeline's contrast stretch stage on a photograph: the
// luminance histogram with its statistics, the stretch itself, and the two
// together, at 640 x 480 and 1920 x 1080. Photographs come from
// $KELVO_BENCH_PHOTOS/photo-WxH.bgr; without them a smooth synthetic frame
// with mild noise stands in.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/analysis/Histogram.h"
#include "imaging/analysis/OpContrastStretch.h"
#include "imaging/core/BitmapData.h"

namespace {

using namespace KelvoLibImageProcessing;

std::vector<uint8_t> LoadOrMake(int w, int h, bool& photo) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
  photo = false;
  if (const char* dir = std::getenv("KELVO_BENCH_PHOTOS")) {
    const std::string name =
        std::string(dir) + "/photo-" + std::to_string(w) + "x" + std::to_string(h) + ".bgr";
    if (FILE* f = std::fopen(name.c_str(), "rb")) {
      photo = std::fread(pixels.data(), 1, pixels.size(), f) == pixels.size();
      std::fclose(f);
    }
  }
  if (!photo) {
    uint32_t state = 99;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w * 3; ++x) {
        state = state * 1664525u + 1013904223u;
        const int v = (x / 3 * 200 / w + y * 150 / h) % 256 + static_cast<int>(state >> 29) - 4;
        pixels[static_cast<std::size_t>(y) * w * 3 + x] = static_cast<uint8_t>(v < 0     ? 0
                                                                               : v > 255 ? 255
                                                                                         : v);
      }
    }
  }
  return pixels;
}

// 0: histogram and the pipeline's queries; 1: the stretch; 2: both.
void BM_StretchStage(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int part = static_cast<int>(state.range(2));
  bool photo = false;
  const std::vector<uint8_t> pixels = LoadOrMake(w, h, photo);
  BitmapData a(w, h, kFormatBGR8, pixels.data(), w * 3);
  BitmapData b(w, h, kFormatBGR8, nullptr, w * 3);
  for (auto _ : state) {
    if (part != 1) {
      Histogram histogram;
      histogram.Initialize(&a, 256, true);
      benchmark::DoNotOptimize(histogram.GetClipPointHigh(0.01, true));
      benchmark::DoNotOptimize(histogram.MeanLuminance());
      benchmark::DoNotOptimize(histogram.MeanRed());
      benchmark::DoNotOptimize(histogram.DataCumulativeLum());
    }
    if (part != 0) OpContrastStretch::Execute(&a, &b, 255, 0.01953125f, 0.0625f, 100.0f, 90.0f);
    benchmark::DoNotOptimize(b.GetData());
  }
  state.SetLabel(photo ? "photo" : "synthetic");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * w * h * 3);
}
BENCHMARK(BM_StretchStage)
    ->ArgNames({"w", "h", "part"})
    ->ArgsProduct({{640}, {480}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StretchStage)
    ->ArgNames({"w", "h", "part"})
    ->ArgsProduct({{1920}, {1080}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
