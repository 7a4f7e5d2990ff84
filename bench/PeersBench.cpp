// The three primitives that are held level with OpenCV, each beside its peer
// on the same input, single-threaded: the summed-area table of a mask
// against cv::integral, the 8-bit table look-up of the contrast stretch
// against cv::LUT, and the 3x3 float full convolution against cv::filter2D.
// bench/peer-primitives runs them interleaved and prints the ratios of the
// medians.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "imaging/analysis/SumAreaTable.h"
#include "imaging/analysis/detail/StretchMap.h"
#include "imaging/primitives/Primitives.h"

#if KELVO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using KelvoLibImageProcessing::SumAreaTable;

// A mask of soft blobs with ragged edges, like the skin map gives.
std::vector<uint8_t> Mask(int w, int h) {
  std::vector<uint8_t> m(static_cast<std::size_t>(w) * h);
  std::mt19937 rng(5);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int cx = (x * 8 / w) % 2, cy = (y * 6 / h) % 2;
      const bool in = (cx ^ cy) != 0 ? rng() % 16 != 0 : rng() % 16 == 0;
      m[static_cast<std::size_t>(y) * w + x] = in ? 255 : 0;
    }
  }
  return m;
}

std::vector<uint8_t> Bytes(std::size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(11);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> Table() {
  std::vector<uint8_t> t(256);
  for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i * i / 255);
  return t;
}

std::vector<float> Floats(std::size_t n) {
  std::vector<float> v(n);
  std::mt19937 rng(13);
  std::uniform_real_distribution<float> u(0.0f, 255.0f);
  for (float& f : v) f = u(rng);
  return v;
}

void BM_Peer_SumAreaTable(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<uint8_t> mask = Mask(w, h);
  SumAreaTable t;
  for (auto _ : state) {
    t.Initialize(mask.data(), w, h, w);
    benchmark::DoNotOptimize(t.GetTable());
  }
}

void BM_Peer_StretchLookup(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::size_t n = static_cast<std::size_t>(w) * h * 3;
  const std::vector<uint8_t> src = Bytes(n), table = Table();
  std::vector<uint8_t> dst(n);
  for (auto _ : state) {
    KelvoLibImageProcessing::detail::MapBytes(src.data(), dst.data(), n, table.data());
    benchmark::ClobberMemory();
  }
}

void BM_Peer_ConvFull3x3(benchmark::State& state) {
  ippStaticInit();
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<float> src = Floats(static_cast<std::size_t>(w) * h);
  const std::vector<float> kernel(9, 1.0f / 9.0f);
  std::vector<float> dst(static_cast<std::size_t>(w + 2) * (h + 2));
  for (auto _ : state) {
    ippiConvFull_32f_C1R(src.data(), w * 4, IppiSize{w, h}, kernel.data(), 12, IppiSize{3, 3},
                         dst.data(), (w + 2) * 4);
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Peer_SumAreaTable)->Args({1920, 1080})->Args({640, 480});
BENCHMARK(BM_Peer_StretchLookup)->Args({1920, 1080})->Args({640, 480});
BENCHMARK(BM_Peer_ConvFull3x3)->Args({640, 480});

#if KELVO_HAVE_OPENCV

void BM_Peer_OpenCV_integral(benchmark::State& state) {
  cv::setNumThreads(1);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  std::vector<uint8_t> mask = Mask(w, h);
  const cv::Mat m(h, w, CV_8UC1, mask.data());
  cv::Mat sum;
  for (auto _ : state) {
    cv::integral(m, sum, CV_32S);
    benchmark::DoNotOptimize(sum.data);
  }
}

void BM_Peer_OpenCV_LUT(benchmark::State& state) {
  cv::setNumThreads(1);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  std::vector<uint8_t> src = Bytes(static_cast<std::size_t>(w) * h * 3), table = Table();
  const cv::Mat s(h, w, CV_8UC3, src.data()), lut(1, 256, CV_8UC1, table.data());
  cv::Mat out(h, w, CV_8UC3);
  for (auto _ : state) {
    cv::LUT(s, lut, out);
    benchmark::DoNotOptimize(out.data);
  }
}

void BM_Peer_OpenCV_filter2D3x3(benchmark::State& state) {
  cv::setNumThreads(1);
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  std::vector<float> src = Floats(static_cast<std::size_t>(w) * h);
  const cv::Mat s(h, w, CV_32FC1, src.data());
  const cv::Mat kernel(3, 3, CV_32F, cv::Scalar(1.0 / 9.0));
  cv::Mat out(h, w, CV_32FC1);
  for (auto _ : state) {
    cv::filter2D(s, out, CV_32F, kernel, cv::Point(-1, -1), 0, cv::BORDER_CONSTANT);
    benchmark::DoNotOptimize(out.data);
  }
}

BENCHMARK(BM_Peer_OpenCV_integral)->Args({1920, 1080})->Args({640, 480});
BENCHMARK(BM_Peer_OpenCV_LUT)->Args({1920, 1080})->Args({640, 480});
BENCHMARK(BM_Peer_OpenCV_filter2D3x3)->Args({640, 480});

#endif

}  // namespace
