// Image analysis on a 1920 x 1080 frame: the luminance histogram of a
// three-channel 8-bit frame, the summed-area table of a mask, connected
// regions of a skin-like mask and the 8-bit contrast stretch, each beside
// its OpenCV peer (single-threaded). The skin map runs as the snapshot
// pipeline runs it, on $KELVO_BENCH_PHOTOS/photo-WxH.bgr when present.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "imaging/analysis/Histogram.h"
#include "imaging/analysis/OpContrastStretch.h"
#include "imaging/analysis/Regions.h"
#include "imaging/analysis/SkinMap.h"
#include "imaging/analysis/SumAreaTable.h"
#include "imaging/core/BitmapData.h"
#include "imaging/primitives/Threads.h"

#if KELVO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace KelvoLibImageProcessing;

constexpr int kW = 1920;
constexpr int kH = 1080;

// A frame with smooth gradients and noise, so every histogram bin is busy.
const BitmapData& Frame() {
  static const BitmapData frame = [] {
    BitmapData image(kW, kH);
    std::mt19937 rng(99);
    for (int y = 0; y < kH; ++y) {
      uint8_t* row = image.GetData() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
      for (int x = 0; x < kW; ++x) {
        const int n = static_cast<int>(rng() % 17) - 8;
        const int b = 40 + 150 * y / kH + n, g = 30 + 200 * x / kW + n,
                  r = 200 - 120 * x / kW + 60 * y / kH + n;
        row[3 * x + 0] = static_cast<uint8_t>(std::clamp(b, 0, 255));
        row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
        row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
      }
    }
    return image;
  }();
  return frame;
}

// A skin-like mask: a few large soft-edged blobs (faces, arms) with ragged
// borders and holes, and a few thousand specks of one to a few pixels.
const std::vector<uint8_t>& SkinMask() {
  static const std::vector<uint8_t> mask = [] {
    std::vector<uint8_t> m(static_cast<std::size_t>(kW) * kH, 0);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    struct Blob {
      float cx, cy, rx, ry;
    };
    const Blob blobs[] = {{600, 400, 180, 240},
                          {1300, 450, 150, 200},
                          {900, 900, 400, 120},
                          {200, 850, 90, 160},
                          {1650, 200, 110, 80}};
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        for (const Blob& b : blobs) {
          const float dx = (x - b.cx) / b.rx, dy = (y - b.cy) / b.ry;
          const float d = dx * dx + dy * dy;
          // Ragged edge: pixels near the rim are in with falling odds.
          if (d < 0.85f || (d < 1.15f && u(rng) < (1.15f - d) / 0.3f)) {
            // Holes (eyes, shadows) inside the blob.
            if (u(rng) > 0.01f) m[static_cast<std::size_t>(y) * kW + x] = 255;
          }
        }
      }
    }
    for (int i = 0; i < 6000; ++i) {
      const int x = static_cast<int>(rng() % (kW - 3)), y = static_cast<int>(rng() % (kH - 3));
      const int size = 1 + static_cast<int>(rng() % 3);
      for (int dy = 0; dy < size; ++dy)
        for (int dx = 0; dx < size; ++dx) m[static_cast<std::size_t>(y + dy) * kW + x + dx] = 255;
    }
    return m;
  }();
  return mask;
}

void SetPixels(benchmark::State& state, int bytesPerPixel) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kW * kH * bytesPerPixel);
}

void BM_HistogramLum_8u(benchmark::State& state) {
  const BitmapData& frame = Frame();
  Histogram h;
  for (auto _ : state) {
    h.Initialize(&frame, 256, true);
    benchmark::DoNotOptimize(h.DataLuminance());
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_HistogramLum_8u)->Name("BM_HistogramLum_8u/1920x1080");

void BM_SumAreaTable(benchmark::State& state) {
  const auto& mask = SkinMask();
  SumAreaTable t;
  for (auto _ : state) {
    t.Initialize(mask.data(), kW, kH, kW);
    benchmark::DoNotOptimize(t.GetTable());
  }
  SetPixels(state, 1);
}
BENCHMARK(BM_SumAreaTable)->Name("BM_SumAreaTable_8u/1920x1080");

void BM_Regions(benchmark::State& state) {
  const auto& mask = SkinMask();
  const int minSize = static_cast<int>(std::lround(static_cast<float>(kW * kH) * 0.00004f));
  Regions r;
  for (auto _ : state) {
    r.Initialize(kW, kH, mask.data(), kW, minSize, false);
    benchmark::DoNotOptimize(r.GetLabelMap());
  }
  state.counters["regions"] = r.GetRegionCount();
  state.counters["specks"] = r.GetSpeckCount();
  SetPixels(state, 1);
}
BENCHMARK(BM_Regions)->Name("BM_Regions_SkinMask/1920x1080")->Unit(benchmark::kMillisecond);

// The photograph of that size, or a synthesised frame with a skin-toned
// face on a shaded background.
BitmapData SkinFrame(int w, int h, bool& photo) {
  BitmapData image(w, h);
  photo = false;
  if (const char* dir = std::getenv("KELVO_BENCH_PHOTOS")) {
    const std::string path =
        std::string(dir) + "/photo-" + std::to_string(w) + "x" + std::to_string(h) + ".bgr";
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      const std::size_t bytes = static_cast<std::size_t>(w) * h * 3;
      photo = std::fread(image.GetData(), 1, bytes, f) == bytes;
      std::fclose(f);
    }
  }
  if (photo) return image;
  std::mt19937 rng(5);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.GetData() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
    for (int x = 0; x < w; ++x) {
      const int n = static_cast<int>(rng() % 9) - 4;
      const float dx = (x - 0.5f * w) / (0.2f * w), dy = (y - 0.45f * h) / (0.3f * h);
      const bool face = dx * dx + dy * dy < 1.0f;
      const int b = (face ? 120 : 80 + 60 * y / h) + n, g = (face ? 150 : 70 + 40 * x / w) + n,
                r = (face ? 205 : 60 + 30 * x / w) + n;
      row[3 * x + 0] = static_cast<uint8_t>(std::clamp(b, 0, 255));
      row[3 * x + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
      row[3 * x + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
    }
  }
  return image;
}

void BM_SkinMap(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  bool photo = false;
  const BitmapData frame = SkinFrame(w, h, photo);
  const kelvo::ScopedThreads threads(static_cast<int>(state.range(2)));
  float fraction = 0.0f;
  for (auto _ : state) {
    SkinMap map;
    map.Initialize(&frame, 0, false, 0.76f, 30.0f, 60.0f);
    fraction = map.SkinFraction();
    benchmark::DoNotOptimize(fraction);
    benchmark::DoNotOptimize(map.SkinMeanLuminance());
    benchmark::DoNotOptimize(map.SkinLumClipLevel(10));
  }
  state.counters["skin"] = fraction;
  state.SetLabel(photo ? "photo" : "synthetic");
}
BENCHMARK(BM_SkinMap)
    ->ArgNames({"w", "h", "threads"})
    ->ArgsProduct({{640}, {480}, {1, 2}})
    ->ArgsProduct({{1920}, {1080}, {1, 2}})
    ->ArgsProduct({{4000}, {3000}, {1, 2}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_ContrastStretch_8u(benchmark::State& state) {
  const BitmapData& frame = Frame();
  BitmapData out(kW, kH);
  for (auto _ : state) {
    OpContrastStretch::Execute(&frame, &out, 255, 0.01953125f, 0.0859375f, 100.0f, 90.0f);
    benchmark::DoNotOptimize(out.GetData());
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_ContrastStretch_8u)->Name("BM_OpContrastStretch_8u/1920x1080");

#if KELVO_HAVE_OPENCV

cv::Mat FrameMat() {
  const BitmapData& frame = Frame();
  return cv::Mat(kH, kW, CV_8UC3, const_cast<uint8_t*>(frame.GetData()),
                 static_cast<std::size_t>(frame.GetStride()));
}

void BM_OpenCV_calcHist3(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat frame = FrameMat();
  const int histSize = 256;
  const float range[] = {0.0f, 256.0f};
  const float* ranges = range;
  cv::Mat hist[3];
  for (auto _ : state) {
    for (int c = 0; c < 3; ++c) {
      cv::calcHist(&frame, 1, &c, cv::Mat(), hist[c], 1, &histSize, &ranges);
    }
    benchmark::DoNotOptimize(hist[2].data);
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_OpenCV_calcHist3)->Name("BM_OpenCV_calcHist3_8u/1920x1080");

void BM_OpenCV_integral(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat mask(kH, kW, CV_8UC1, const_cast<uint8_t*>(SkinMask().data()));
  cv::Mat sum;
  for (auto _ : state) {
    cv::integral(mask, sum, CV_32S);
    benchmark::DoNotOptimize(sum.data);
  }
  SetPixels(state, 1);
}
BENCHMARK(BM_OpenCV_integral)->Name("BM_OpenCV_integral_8u/1920x1080");

void BM_OpenCV_connectedComponents(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat mask(kH, kW, CV_8UC1, const_cast<uint8_t*>(SkinMask().data()));
  cv::Mat labels, stats, centroids;
  int n = 0;
  for (auto _ : state) {
    n = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 4, CV_32S);
    benchmark::DoNotOptimize(labels.data);
  }
  state.counters["components"] = n;
  SetPixels(state, 1);
}
BENCHMARK(BM_OpenCV_connectedComponents)
    ->Name("BM_OpenCV_connectedComponentsWithStats4/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_OpenCV_LUT(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat frame = FrameMat();
  cv::Mat lut(1, 256, CV_8UC1);
  for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = static_cast<uint8_t>(255 - i);
  cv::Mat out;
  for (auto _ : state) {
    cv::LUT(frame, lut, out);
    benchmark::DoNotOptimize(out.data);
  }
  SetPixels(state, 3);
}
BENCHMARK(BM_OpenCV_LUT)->Name("BM_OpenCV_LUT_8u/1920x1080");

#endif

}  // namespace
