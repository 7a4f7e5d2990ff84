// Filtering, sharpening, blending and median tools at 1920 x 1080, 8-bit
// three-channel, single-threaded, beside their plain references and OpenCV
// peers.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/denoise/IntelFilters.h"
#include "imaging/filters/OpBlend.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/filters/OpSharpen.h"
#include "imaging/filters/reference/ColourReference.h"
#include "imaging/primitives/Primitives.h"

#if KELVO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using namespace KelvoLibImageProcessing;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// A photograph-like frame: smooth colour gradients, a few edges and mild
// noise, the same on every run.
std::vector<uint8_t> Frame(int channels) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(kWidth) * kHeight * channels);
  uint32_t state = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < channels; ++c) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>((state >> 24) % 9) - 4;
        int v = (x * (c + 1) / 9 + y / (c + 2)) % 200 + 20;
        if ((x / 120 + y / 90) % 2 == 0) v += 30;
        pixels[(static_cast<std::size_t>(y) * kWidth + x) * channels + c] =
            static_cast<uint8_t>(std::min(255, std::max(0, v + noise)));
      }
    }
  }
  return pixels;
}

const std::vector<uint8_t>& FrameBgr() {
  static const std::vector<uint8_t> frame = Frame(3);
  return frame;
}

void SetSize(benchmark::State& state, int channels) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * channels);
}

// ---- Sharpening: the pipeline's hybrid unsharp mask --------------------------

void BM_SharpenHybrid_8u(benchmark::State& state) {
  ippStaticInit();
  BitmapData a(kWidth, kHeight, kFormatBGR8, FrameBgr().data(), kWidth * 3);
  BitmapData b(kWidth, kHeight, kFormatBGR8, nullptr, kWidth * 3);
  OpSharpen sharpen;
  std::vector<float> kernel(25);
  const uint32_t bits = 0xBC4CCCCBu;
  std::memcpy(&kernel[0], &bits, sizeof(float));
  for (float& k : kernel) k = kernel[0];
  kernel[12] = 1.3f;
  sharpen.SetUnsharpMaskHybridParams(20.0f, 1.25f, 0.3f);
  sharpen.SetHighPassLumKernel(5, 5, kernel.data());
  sharpen.SetApplyHighPass(true);
  for (auto _ : state) {
    sharpen.Run(&a, &b, UnsharpMaskHybrid);
    benchmark::DoNotOptimize(b.GetData());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_SharpenHybrid_8u)
    ->Name("BM_SharpenHybrid_8u/1920x1080")
    ->Unit(benchmark::kMillisecond);

// ---- Screen self-blend ----------------------------------------------------

void BM_BlendScreen_8u(benchmark::State& state) {
  ippStaticInit();
  BitmapData a(kWidth, kHeight, kFormatBGR8, FrameBgr().data(), kWidth * 3);
  BitmapData b(kWidth, kHeight, kFormatBGR8, nullptr, kWidth * 3);
  OpBlend blend;
  for (auto _ : state) {
    blend.Execute(&a, &b, Screen, 0.3f);
    benchmark::DoNotOptimize(b.GetData());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_BlendScreen_8u)->Name("BM_BlendScreen_8u/1920x1080")->Unit(benchmark::kMillisecond);

// ---- Colour conversion ------------------------------------------------------

void BM_ConvertToYCbCr_8u(benchmark::State& state) {
  ippStaticInit();
  const bool planar = state.range(0) != 0;
  std::vector<uint8_t> out(FrameBgr().size());
  const int dstStride = planar ? kWidth : kWidth * 3;
  for (auto _ : state) {
    OpConvertRGBtoYCbCr::ConvertUChar(kHeight, FrameBgr().data(), kWidth * 3, out.data(), dstStride,
                                      kWidth, planar);
    benchmark::DoNotOptimize(out.data());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_ConvertToYCbCr_8u)
    ->Name("BM_ConvertToYCbCr_8u/1920x1080")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToYCbCr_8u)
    ->Name("BM_ConvertToYCbCr_8u_planar/1920x1080")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_ConvertToRgb_8u(benchmark::State& state) {
  ippStaticInit();
  const bool planar = state.range(0) != 0;
  std::vector<uint8_t> ycc(FrameBgr().size()), out(FrameBgr().size());
  const int yccStride = planar ? kWidth : kWidth * 3;
  OpConvertRGBtoYCbCr::ConvertUChar(kHeight, FrameBgr().data(), kWidth * 3, ycc.data(), yccStride,
                                    kWidth, planar);
  for (auto _ : state) {
    OpConvertYCbCrtoRGB::ConvertUChar(kHeight, ycc.data(), yccStride, out.data(), kWidth * 3,
                                      kWidth, planar);
    benchmark::DoNotOptimize(out.data());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_ConvertToRgb_8u)
    ->Name("BM_ConvertToRgb_8u/1920x1080")
    ->Arg(0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToRgb_8u)
    ->Name("BM_ConvertToRgb_8u_planar/1920x1080")
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

void BM_ConvertToYCbCr_8u_Reference(benchmark::State& state) {
  std::vector<uint8_t> out(FrameBgr().size());
  for (auto _ : state) {
    reference::RgbToYCbCr8(kHeight, FrameBgr().data(), kWidth * 3, out.data(), kWidth * 3, kWidth,
                           false);
    benchmark::DoNotOptimize(out.data());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_ConvertToYCbCr_8u_Reference)
    ->Name("BM_ConvertToYCbCr_8u_Reference/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_ConvertToRgb_8u_Reference(benchmark::State& state) {
  std::vector<uint8_t> ycc(FrameBgr().size()), out(FrameBgr().size());
  reference::RgbToYCbCr8(kHeight, FrameBgr().data(), kWidth * 3, ycc.data(), kWidth * 3, kWidth,
                         false);
  for (auto _ : state) {
    reference::YCbCrToRgb8(kHeight, ycc.data(), kWidth * 3, out.data(), kWidth * 3, kWidth, false);
    benchmark::DoNotOptimize(out.data());
  }
  SetSize(state, 3);
}
BENCHMARK(BM_ConvertToRgb_8u_Reference)
    ->Name("BM_ConvertToRgb_8u_Reference/1920x1080")
    ->Unit(benchmark::kMillisecond);

// ---- Median ------------------------------------------------------------------

void BM_Median5x5_8u(benchmark::State& state) {
  ippStaticInit();
  static const std::vector<uint8_t> grey = Frame(1);
  std::vector<uint8_t> out(grey.size());
  for (auto _ : state) {
    IntelFilters::FilterMedianC1(grey.data(), kWidth, out.data(), kWidth, kWidth, kHeight, 5);
    benchmark::DoNotOptimize(out.data());
  }
  SetSize(state, 1);
}
BENCHMARK(BM_Median5x5_8u)->Name("BM_MedianTool5x5_8u/1920x1080")->Unit(benchmark::kMillisecond);

// ---- OpenCV peers ---------------------------------------------------------------

#if KELVO_HAVE_OPENCV
cv::Mat CvFrame() {
  return cv::Mat(kHeight, kWidth, CV_8UC3, const_cast<uint8_t*>(FrameBgr().data())).clone();
}

void BM_OpenCV_GaussianBlur5_addWeighted(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat src = CvFrame();
  cv::Mat blur, out;
  for (auto _ : state) {
    cv::GaussianBlur(src, blur, cv::Size(5, 5), 0);
    cv::addWeighted(src, 1.3, blur, -0.3, 0, out);
    benchmark::DoNotOptimize(out.data);
  }
  SetSize(state, 3);
}
BENCHMARK(BM_OpenCV_GaussianBlur5_addWeighted)
    ->Name("BM_OpenCV_GaussianBlur5_addWeighted/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_OpenCV_LUT(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat src = CvFrame();
  cv::Mat lut(1, 256, CV_8U), out;
  for (int i = 0; i < 256; ++i)
    lut.at<uint8_t>(i) = static_cast<uint8_t>(255 - (255 - i) * (255 - i) / 255);
  for (auto _ : state) {
    cv::LUT(src, lut, out);
    benchmark::DoNotOptimize(out.data);
  }
  SetSize(state, 3);
}
BENCHMARK(BM_OpenCV_LUT)->Name("BM_OpenCV_LUT/1920x1080")->Unit(benchmark::kMillisecond);

void BM_OpenCV_cvtColor_YCrCb(benchmark::State& state) {
  cv::setNumThreads(1);
  const cv::Mat src = CvFrame();
  cv::Mat out;
  for (auto _ : state) {
    cv::cvtColor(src, out, cv::COLOR_BGR2YCrCb);
    benchmark::DoNotOptimize(out.data);
  }
  SetSize(state, 3);
}
BENCHMARK(BM_OpenCV_cvtColor_YCrCb)
    ->Name("BM_OpenCV_cvtColor_BGR2YCrCb/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_OpenCV_cvtColor_Back(benchmark::State& state) {
  cv::setNumThreads(1);
  cv::Mat ycc, out;
  cv::cvtColor(CvFrame(), ycc, cv::COLOR_BGR2YCrCb);
  for (auto _ : state) {
    cv::cvtColor(ycc, out, cv::COLOR_YCrCb2BGR);
    benchmark::DoNotOptimize(out.data);
  }
  SetSize(state, 3);
}
BENCHMARK(BM_OpenCV_cvtColor_Back)
    ->Name("BM_OpenCV_cvtColor_YCrCb2BGR/1920x1080")
    ->Unit(benchmark::kMillisecond);

void BM_OpenCV_medianBlur5(benchmark::State& state) {
  cv::setNumThreads(1);
  static const std::vector<uint8_t> grey = Frame(1);
  const cv::Mat src(kHeight, kWidth, CV_8U, const_cast<uint8_t*>(grey.data()));
  cv::Mat out;
  for (auto _ : state) {
    cv::medianBlur(src, out, 5);
    benchmark::DoNotOptimize(out.data);
  }
  SetSize(state, 1);
}
BENCHMARK(BM_OpenCV_medianBlur5)
    ->Name("BM_OpenCV_medianBlur5_tool/1920x1080")
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace
