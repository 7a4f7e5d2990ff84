// Noise reduction as the snapshot pipeline drives it, beside OpenCV's
// non-local means; and one level of wavelet analysis and synthesis beside a
// plain copy of the same plane (the memory bandwidth floor) and the scalar
// reference.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <hwy/targets.h>

#include "imaging/core/BitmapData.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "imaging/denoise/Wavelets.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/filters/detail/ColourConvert.h"
#include "imaging/denoise/detail/WaveletBanks.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/Threads.h"
#include "imaging/primitives/reference/WaveletReference.h"

#if KELVO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/photo.hpp>
#endif

namespace {

using namespace KelvoLibImageProcessing;

// A photograph-like picture: smooth colour gradients, a few hard-edged
// shapes, fine texture, and sensor-like noise.
BitmapData SyntheticPhoto(int w, int h) {
  BitmapData image(w, h);
  std::mt19937 rng(1234);
  std::normal_distribution<float> noise(0.0f, 4.0f);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.GetData() + static_cast<ptrdiff_t>(y) * image.GetStride();
    for (int x = 0; x < w; ++x) {
      const float u = static_cast<float>(x) / w, v = static_cast<float>(y) / h;
      float b = 60 + 120 * v, g = 80 + 100 * u, r = 150 - 60 * u * v;
      const float dx = u - 0.35f, dy = v - 0.5f;
      if (dx * dx + dy * dy < 0.04f) {  // a disc
        b = 40;
        g = 90;
        r = 200;
      }
      if (u > 0.6f && u < 0.85f && v > 0.2f && v < 0.7f) {  // a textured block
        const float t = 30.0f * std::sin(x * 0.7f) * std::sin(y * 0.5f);
        b = 180 + t;
        g = 170 + t;
        r = 160 + t;
      }
      const float n = noise(rng);
      const float px[3] = {b + n, g + n + noise(rng) * 0.5f, r + n};
      for (int c = 0; c < 3; ++c) {
        row[3 * x + c] = static_cast<uint8_t>(std::fmin(255.0f, std::fmax(0.0f, px[c] + 0.5f)));
      }
    }
  }
  return image;
}

void ConfigureAsPipeline(OpReduceNoiseWavelets& op) {
  static const float y[12] = {1.4f, 1.4f, 1.4f, 0.9f, 0.9f, 0.9f, 0.2f, 0.2f, 0.2f, 0, 0, 0};
  static const float cb[12] = {6.67f, 6.67f, 6.67f, 6.27f, 6.27f, 6.27f,
                               5.87f, 5.87f, 5.87f, 5.47f, 5.47f, 5.47f};
  static const float cr[12] = {4.76f, 4.76f, 4.76f, 4.47f, 4.47f, 4.47f,
                               4.19f, 4.19f, 4.19f, 3.9f,  3.9f,  3.9f};
  op.SetWaveletPreset();
  op.SetReductionType(OpReduceNoiseWavelets::LumThresholdChromaMedian);
  op.SetChromaMedianSize(5);
  op.SetThresholdParams(y, cb, cr);
}

void BM_ReduceNoiseWavelets(benchmark::State& state, int w, int h) {
  BitmapData source = SyntheticPhoto(w, h);
  BitmapData destination(w, h);
  OpReduceNoiseWavelets op;
  ConfigureAsPipeline(op);
  for (auto _ : state) {
    op.Execute(&source, &destination);
    benchmark::DoNotOptimize(destination.GetData());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(w) * h * 3);
}
BENCHMARK_CAPTURE(BM_ReduceNoiseWavelets, 1920x1080, 1920, 1080)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReduceNoiseWavelets, 640x480, 640, 480)->Unit(benchmark::kMillisecond);

// The same on one and on two threads, wall time, with the CPU time of every
// thread of the process: their ratio shows how much of the second core the
// stage uses and how much it loses to waiting.
void BM_ReduceNoiseWaveletsThreads(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  kelvo::SetThreads(static_cast<int>(state.range(2)));
  BM_ReduceNoiseWavelets(state, w, h);
  kelvo::SetThreads(0);
}
BENCHMARK(BM_ReduceNoiseWaveletsThreads)
    ->ArgNames({"w", "h", "threads"})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Args({4000, 3000, 1})
    ->Args({4000, 3000, 2})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The same on each compiled SIMD target the processor runs: wider vectors
// are not always faster here, the kernels' unaligned loads split cache lines.
void BM_ReduceNoiseWaveletsTarget(benchmark::State& state, int64_t target) {
  const std::vector<int64_t> available = hwy::SupportedAndGeneratedTargets();
  if (std::find(available.begin(), available.end(), target) == available.end()) {
    state.SkipWithError("target not available");
    return;
  }
  hwy::SetSupportedTargetsForTest(target);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
  BitmapData source = SyntheticPhoto(1920, 1080);
  BitmapData destination(1920, 1080);
  OpReduceNoiseWavelets op;
  ConfigureAsPipeline(op);
  for (auto _ : state) {
    op.Execute(&source, &destination);
    benchmark::DoNotOptimize(destination.GetData());
  }
  hwy::SetSupportedTargetsForTest(0);
  hwy::GetChosenTarget().Update(hwy::SupportedTargets());
}
BENCHMARK_CAPTURE(BM_ReduceNoiseWaveletsTarget, AVX3_1920x1080, HWY_AVX3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReduceNoiseWaveletsTarget, AVX2_1920x1080, HWY_AVX2)
    ->Unit(benchmark::kMillisecond);

#if KELVO_HAVE_OPENCV
void BM_OpenCV_fastNlMeansDenoisingColored(benchmark::State& state, int w, int h) {
  cv::setNumThreads(1);
  BitmapData source = SyntheticPhoto(w, h);
  const cv::Mat in(h, w, CV_8UC3, source.GetData(), static_cast<size_t>(source.GetStride()));
  cv::Mat out;
  for (auto _ : state) {
    cv::fastNlMeansDenoisingColored(in, out, 3, 3, 7, 21);
    benchmark::DoNotOptimize(out.data);
  }
}
// About 3 s per call at 1080p: one call per repetition, three repetitions.
BENCHMARK_CAPTURE(BM_OpenCV_fastNlMeansDenoisingColored, 1920x1080, 1920, 1080)
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCV_fastNlMeansDenoisingColored, 640x480, 640, 480)
    ->Iterations(2)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
#endif

// One wavelet level on the level-0 plane of a 1080p frame with the pipeline's
// margin: 2176 x 1336 samples, Symlet 4.
constexpr int kPlaneW = 2176, kPlaneH = 1336, kFrame = 16;

struct WaveletPlanes {
  WaveletPlanes()
      : stride(kPlaneW + 2 * kFrame),
        source(static_cast<size_t>(stride) * (kPlaneH + 2 * kFrame)),
        bands(4 * static_cast<size_t>(kPlaneW / 2 + 2 * kFrame) * (kPlaneH / 2 + 2 * kFrame)) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> d(0.0f, 255.0f);
    for (float& v : source) v = d(rng);
    for (float& v : bands) v = d(rng);
  }
  float* Src() { return source.data() + static_cast<size_t>(kFrame) * stride + kFrame; }
  int BandStride() const { return kPlaneW / 2 + 2 * kFrame; }
  float* Band(int b) {
    const size_t size = static_cast<size_t>(BandStride()) * (kPlaneH / 2 + 2 * kFrame);
    return bands.data() + b * size + static_cast<size_t>(kFrame) * BandStride() + kFrame;
  }
  int stride;
  std::vector<float> source;
  std::vector<float> bands;
};

void BM_WTFwd_Sym4(benchmark::State& state) {
  const detail::WaveletBank* bank = detail::FindWaveletBank(12);
  WaveletPlanes p;
  IppiWTFwdSpec_32f_C1R* spec = nullptr;
  ippiWTFwdInitAlloc_32f_C1R(&spec, bank->fwdLow, 8, 4, bank->fwdHigh, 8, 4);
  int size = 0;
  ippiWTFwdGetBufSize_C1R(spec, &size);
  Ipp8u* buffer = ippsMalloc_8u(size);
  const int bs = p.BandStride() * 4;
  for (auto _ : state) {
    ippiWTFwd_32f_C1R(p.Src(), p.stride * 4, p.Band(0), bs, p.Band(1), bs, p.Band(2), bs, p.Band(3),
                      bs, IppiSize{kPlaneW / 2, kPlaneH / 2}, spec, buffer);
    benchmark::ClobberMemory();
  }
  ippsFree(buffer);
  ippiWTFwdFree_32f_C1R(spec);
  state.SetBytesProcessed(state.iterations() * int64_t{kPlaneW} * kPlaneH * 4);
}
BENCHMARK(BM_WTFwd_Sym4)->Name("BM_WTFwd_Sym4/2176x1336")->Unit(benchmark::kMillisecond);

void BM_WTInv_Sym4(benchmark::State& state) {
  const detail::WaveletBank* bank = detail::FindWaveletBank(12);
  WaveletPlanes p;
  IppiWTInvSpec_32f_C1R* spec = nullptr;
  ippiWTInvInitAlloc_32f_C1R(&spec, bank->invLow, 8, 3, bank->invHigh, 8, 3);
  int size = 0;
  ippiWTInvGetBufSize_C1R(spec, &size);
  Ipp8u* buffer = ippsMalloc_8u(size);
  const int bs = p.BandStride() * 4;
  for (auto _ : state) {
    ippiWTInv_32f_C1R(p.Band(0), bs, p.Band(1), bs, p.Band(2), bs, p.Band(3), bs,
                      IppiSize{kPlaneW / 2, kPlaneH / 2}, p.Src(), p.stride * 4, spec, buffer);
    benchmark::ClobberMemory();
  }
  ippsFree(buffer);
  ippiWTInvFree_32f_C1R(spec);
  state.SetBytesProcessed(state.iterations() * int64_t{kPlaneW} * kPlaneH * 4);
}
BENCHMARK(BM_WTInv_Sym4)->Name("BM_WTInv_Sym4/2176x1336")->Unit(benchmark::kMillisecond);

void BM_WTFwd_Sym4_Reference(benchmark::State& state) {
  const detail::WaveletBank* bank = detail::FindWaveletBank(12);
  WaveletPlanes p;
  const int bs = p.BandStride() * 4;
  for (auto _ : state) {
    reference::WTFwd(p.Src(), p.stride * 4, p.Band(0), bs, p.Band(1), bs, p.Band(2), bs, p.Band(3),
                     bs, IppiSize{kPlaneW / 2, kPlaneH / 2}, {bank->fwdLow, 8, 4},
                     {bank->fwdHigh, 8, 4});
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_WTFwd_Sym4_Reference)
    ->Name("BM_WTFwd_Sym4_Reference/2176x1336")
    ->Unit(benchmark::kMillisecond);

// The decomposition of a 1080p luminance plane as the noise reduction runs
// it (framed bands shrunk on the way), with every band sample computed or
// (only:1) only those its reconstruction reads.
void BM_DecomposeLuminance(benchmark::State& state) {
  const int w = 1920, h = 1080;
  std::vector<uint8_t> plane(static_cast<size_t>(w) * h);
  std::mt19937 rng(3);
  for (uint8_t& v : plane) v = static_cast<uint8_t>(rng() % 220 + 16);
  static const float thresholds[12] = {1.4f, 1.4f, 1.4f, 0.9f, 0.9f, 0.9f, 0.2f, 0.2f, 0.2f, 0, 0, 0};
  for (auto _ : state) {
    Wavelets wt;
    wt.SetFramedBands(true);
    wt.SetDetailShrink(thresholds, true);
    wt.SetOnlyReadBands(state.range(0) != 0);
    wt.DecomposeSamples(plane.data(), w, w, h);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DecomposeLuminance)->ArgName("only")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Synthesised luminance rows (floats) with chroma planes to BGR, 16 rows
// of 1920 at a time as the reduction does: rounded to a plane first and
// converted (fused:0), or converted from the floats (fused:1).
void BM_LuminanceRowsToBgr(benchmark::State& state) {
  const int w = 1920, rows = 16;
  std::vector<float> y(static_cast<size_t>(w) * rows);
  std::vector<uint8_t> planes(3 * static_cast<size_t>(w) * rows), bgr(3 * y.size());
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> d(-5.0f, 260.0f);
  for (float& v : y) v = d(rng);
  for (uint8_t& v : planes) v = static_cast<uint8_t>(rng());
  for (auto _ : state) {
    if (state.range(0) != 0) {
      detail::FloatYCbCrRowsToRgb8(rows, y.data(), w * 4, planes.data() + y.size(),
                                   planes.data() + 2 * y.size(), w, bgr.data(), 3 * w, w);
    } else {
      detail::FloatsToSamples(y.data(), planes.data(), y.size());
      detail::YCbCrRowsToRgb8(rows, planes.data(), w, bgr.data(), 3 * w, w, rows);
    }
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_LuminanceRowsToBgr)->ArgName("fused")->Arg(0)->Arg(1);

// The bandwidth floor: copying the plane once.
void BM_CopyPlane(benchmark::State& state) {
  std::vector<float> a(static_cast<size_t>(kPlaneW) * kPlaneH, 1.0f), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size() * sizeof(float));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kPlaneW} * kPlaneH * 4);
}
BENCHMARK(BM_CopyPlane)->Name("BM_CopyPlane_32f/2176x1336")->Unit(benchmark::kMillisecond);

}  // namespace
