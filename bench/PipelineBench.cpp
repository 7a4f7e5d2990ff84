// The whole snapshot pipeline on photographs, with the time of each stage,
// on one thread and on two.
//
// Photographs are read at run time from $KELVO_BENCH_PHOTOS/photo-WxH.bgr
// (raw 8-bit blue-green-red, top row first; bench/enhance-bench makes them
// from scikit-image's sample photographs). Without them a synthesised
// photo-like frame is used: smooth shading, a skin-toned face, texture and
// sensor noise, so that every stage has real work to do.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/primitives/Threads.h"

namespace {

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::PipelineSnapshot;

bool LoadRaw(int w, int h, BitmapData& image) {
  const char* dir = std::getenv("KELVO_BENCH_PHOTOS");
  if (dir == nullptr) return false;
  const std::string path =
      std::string(dir) + "/photo-" + std::to_string(w) + "x" + std::to_string(h) + ".bgr";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  const std::size_t bytes = static_cast<std::size_t>(w) * h * 3;
  const bool ok = std::fread(image.GetData(), 1, bytes, f) == bytes;
  std::fclose(f);
  return ok;
}

void Synthesise(int w, int h, BitmapData& image) {
  std::mt19937 rng(1234);
  std::normal_distribution<float> noise(0.0f, 4.0f);
  const float cx = 0.55f * w, cy = 0.45f * h, rx = 0.18f * w, ry = 0.3f * h;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.GetData() + static_cast<std::size_t>(y) * image.GetStride();
    for (int x = 0; x < w; ++x) {
      const float u = static_cast<float>(x) / w, v = static_cast<float>(y) / h;
      // Background: a soft blue-grey gradient with some texture.
      float b = 70 + 60 * v + 12 * std::sin(40 * u) * std::sin(30 * v);
      float g = 60 + 50 * v + 10 * std::sin(25 * u + 3 * v);
      float r = 50 + 40 * u;
      const float dx = (x - cx) / rx, dy = (y - cy) / ry;
      const float d = dx * dx + dy * dy;
      if (d < 1.0f) {  // the face: shaded skin tones
        const float shade = 1.0f - 0.35f * d;
        b = 120 * shade;
        g = 150 * shade;
        r = 205 * shade;
      }
      const float n = noise(rng);
      row[3 * x] = static_cast<uint8_t>(std::fmin(std::fmax(b + n, 0.0f), 255.0f));
      row[3 * x + 1] = static_cast<uint8_t>(std::fmin(std::fmax(g + n, 0.0f), 255.0f));
      row[3 * x + 2] = static_cast<uint8_t>(std::fmin(std::fmax(r + n, 0.0f), 255.0f));
    }
  }
}

void BM_PipelineSnapshot(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  // 0: the library's default count.
  kelvo::SetThreads(static_cast<int>(state.range(2)));
  BitmapData frame(w, h);
  const bool photo = LoadRaw(w, h, frame);
  if (!photo) Synthesise(w, h, frame);
  BitmapData work(w, h);
  PipelineSnapshot pipeline(w, h, KelvoLibImageProcessing::kFormatBGR8);
  PipelineSnapshot::StageTimes sum;
  // The CPU time of every thread of the process, not only the timing one:
  // on a shared machine it shows the work apart from the waiting.
  const auto processCpuMs = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
  };
  const double cpuStart = processCpuMs();
  for (auto _ : state) {
    pipeline.Execute(&frame, &work);
    benchmark::DoNotOptimize(work.GetData());
    const PipelineSnapshot::StageTimes& t = pipeline.GetReport().times;
    sum.copyIn += t.copyIn;
    sum.skin += t.skin;
    sum.noise += t.noise;
    sum.stretch += t.stretch;
    sum.sharpen += t.sharpen;
    sum.blend += t.blend;
    sum.copyOut += t.copyOut;
    sum.total += t.total;
  }
  const double cpuMs = processCpuMs() - cpuStart;
  const double n = static_cast<double>(state.iterations());
  state.counters["process_cpu_ms"] = cpuMs / n;
  state.counters["total_ms"] = sum.total / n;
  state.counters["copy_ms"] = (sum.copyIn + sum.copyOut) / n;
  state.counters["skin_ms"] = sum.skin / n;
  state.counters["noise_ms"] = sum.noise / n;
  state.counters["stretch_ms"] = sum.stretch / n;
  state.counters["sharpen_ms"] = sum.sharpen / n;
  state.counters["blend_ms"] = sum.blend / n;
  state.SetLabel(photo ? "photo" : "synthetic");
  kelvo::SetThreads(0);
}

// threads 1 and 2 side by side give the speed-up on two cores.
BENCHMARK(BM_PipelineSnapshot)
    ->ArgsProduct({{640}, {480}, {1, 2}})
    ->ArgsProduct({{1920}, {1080}, {1, 2}})
    ->ArgsProduct({{4000}, {3000}, {1, 2}})
    ->ArgNames({"w", "h", "threads"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
