// Primitives beside their scalar reference and their OpenCV peers,
// single-threaded, on 1920x1080 and 640x480 frames of random data.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/reference/ReferencePrimitives.h"

#if KELVO_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

namespace ref = kelvo::reference;

// A random image with a 4-pixel frame around the w x h region, so filters
// can read around it.
template <class T>
struct Frame {
  static constexpr int kBorder = 4;
  Frame(int w, int h, int channels, int lo, int hi) : width(w), height(h), ch(channels) {
    stepElems = (w + 2 * kBorder) * channels;
    data.resize(static_cast<size_t>(stepElems) * (h + 2 * kBorder));
    std::mt19937 rng(w * 31 + h);
    std::uniform_int_distribution<int> dist(lo, hi);
    for (T& v : data) v = static_cast<T>(dist(rng));
  }
  T* Roi() { return data.data() + static_cast<size_t>(kBorder) * stepElems + kBorder * ch; }
  int Step() const { return stepElems * static_cast<int>(sizeof(T)); }
  int width, height, ch, stepElems;
  std::vector<T> data;
};

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{1920, 1080}, {640, 480}};

void Register(const std::string& name, std::function<void(benchmark::State&, int, int)> fn) {
  for (Size s : kSizes) {
    benchmark::RegisterBenchmark(
        (name + "/" + std::to_string(s.w) + "x" + std::to_string(s.h)).c_str(),
        [fn, s](benchmark::State& st) {
          ippStaticInit();
          fn(st, s.w, s.h);
          st.SetItemsProcessed(st.iterations() * s.w * s.h);
        })
        ->Unit(benchmark::kMicrosecond);
  }
}

template <class T, class Call>
void RunFilter(benchmark::State& st, int w, int h, int ch, int lo, int hi, Call call) {
  Frame<T> src(w, h, ch, lo, hi), dst(w, h, ch, 0, 0);
  for (auto _ : st) {
    call(src.Roi(), src.Step(), dst.Roi(), dst.Step(), IppiSize{w, h});
    benchmark::ClobberMemory();
  }
}

#if KELVO_HAVE_OPENCV
template <class Call>
void RunCv(benchmark::State& st, int w, int h, int type, int dstType, Call call) {
  cv::setNumThreads(1);
  cv::Mat src(h, w, type), dst(h, w, dstType);
  cv::randu(src, 0, type == CV_16SC1 ? 4096 : 256);
  for (auto _ : st) {
    call(src, dst);
    benchmark::ClobberMemory();
  }
}
#endif

template <class T>
void ConvFloat(benchmark::State& st, int w, int h, int k, T fn) {
  Frame<float> src(w, h, 1, 0, 255);
  std::vector<float> kernel(static_cast<size_t>(k) * k, 1.0f / static_cast<float>(k * k));
  std::vector<float> out(static_cast<size_t>(w + k - 1) * (h + k - 1));
  for (auto _ : st) {
    fn(src.Roi(), src.Step(), IppiSize{w, h}, kernel.data(), k * 4, IppiSize{k, k}, out.data(),
       (w + k - 1) * 4);
    benchmark::ClobberMemory();
  }
}

const int kRegistered = [] {
  // ---- Frame conversion
  Register("BM_YCbCr422ToBGR", [](benchmark::State& st, int w, int h) {
    Frame<Ipp8u> src(w, h, 2, 0, 255), dst(w, h, 3, 0, 0);
    for (auto _ : st) {
      ippiYCbCr422ToBGR_8u_C2C3R(src.Roi(), src.Step(), dst.Roi(), dst.Step(), {w, h});
      benchmark::ClobberMemory();
    }
  });
  Register("BM_Reference_YCbCr422ToBGR", [](benchmark::State& st, int w, int h) {
    Frame<Ipp8u> src(w, h, 2, 0, 255), dst(w, h, 3, 0, 0);
    for (auto _ : st) {
      ref::YCbCr422ToBGR_8u_C2C3R(src.Roi(), src.Step(), dst.Roi(), dst.Step(), {w, h});
      benchmark::ClobberMemory();
    }
  });

  // ---- Colour conversion
  Register("BM_RGBToYUV", [](benchmark::State& st, int w, int h) {
    Frame<Ipp8u> src(w, h, 3, 0, 255), y(w, h, 1, 0, 0), u(w, h, 1, 0, 0), v(w, h, 1, 0, 0);
    Ipp8u* planes[3] = {y.Roi(), u.Roi(), v.Roi()};
    for (auto _ : st) {
      ippiRGBToYUV_8u_C3P3R(src.Roi(), src.Step(), planes, y.Step(), {w, h});
      benchmark::ClobberMemory();
    }
  });
  Register("BM_Reference_RGBToYUV", [](benchmark::State& st, int w, int h) {
    Frame<Ipp8u> src(w, h, 3, 0, 255), y(w, h, 1, 0, 0), u(w, h, 1, 0, 0), v(w, h, 1, 0, 0);
    Ipp8u* planes[3] = {y.Roi(), u.Roi(), v.Roi()};
    for (auto _ : st) {
      ref::RGBToYUV_8u_C3P3R(src.Roi(), src.Step(), planes, y.Step(), {w, h});
      benchmark::ClobberMemory();
    }
  });
  Register("BM_YUVToRGB", [](benchmark::State& st, int w, int h) {
    Frame<Ipp8u> dst(w, h, 3, 0, 255), y(w, h, 1, 0, 255), u(w, h, 1, 0, 255), v(w, h, 1, 0, 255);
    const Ipp8u* planes[3] = {y.Roi(), u.Roi(), v.Roi()};
    for (auto _ : st) {
      ippiYUVToRGB_8u_P3C3R(planes, y.Step(), dst.Roi(), dst.Step(), {w, h});
      benchmark::ClobberMemory();
    }
  });

  // ---- Median
  for (int m : {3, 5}) {
    const std::string k = std::to_string(m) + "x" + std::to_string(m);
    Register("BM_Median" + k + "_8u", [m](benchmark::State& st, int w, int h) {
      RunFilter<Ipp8u>(st, w, h, 1, 0, 255, [m](auto... a) {
        ippiFilterMedian_8u_C1R(a..., IppiSize{m, m}, IppiPoint{m / 2, m / 2});
      });
    });
    Register("BM_Reference_Median" + k + "_8u", [m](benchmark::State& st, int w, int h) {
      RunFilter<Ipp8u>(st, w, h, 1, 0, 255, [m](auto... a) {
        ref::FilterMedian_8u_C1R(a..., IppiSize{m, m}, IppiPoint{m / 2, m / 2});
      });
    });
  }
  Register("BM_Median5x5_16s", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp16s>(st, w, h, 1, 0, 4095, [](auto... a) {
      ippiFilterMedian_16s_C1R(a..., IppiSize{5, 5}, IppiPoint{2, 2});
    });
  });
  Register("BM_Reference_Median5x5_16s", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp16s>(st, w, h, 1, 0, 4095, [](auto... a) {
      ref::FilterMedian_16s_C1R(a..., IppiSize{5, 5}, IppiPoint{2, 2});
    });
  });

  // ---- Gauss and Laplace
  Register("BM_Gauss5x5_8u_C1", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 1, 0, 255,
                     [](auto... a) { ippiFilterGauss_8u_C1R(a..., ippMskSize5x5); });
  });
  Register("BM_Reference_Gauss5x5_8u_C1", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 1, 0, 255,
                     [](auto... a) { ref::FilterGauss_8u_C1R(a..., ippMskSize5x5); });
  });
  Register("BM_Gauss5x5_8u_C3", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 3, 0, 255,
                     [](auto... a) { ippiFilterGauss_8u_C3R(a..., ippMskSize5x5); });
  });
  Register("BM_Reference_Gauss5x5_8u_C3", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 3, 0, 255,
                     [](auto... a) { ref::FilterGauss_8u_C3R(a..., ippMskSize5x5); });
  });
  Register("BM_Laplace3x3_8u_C3", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 3, 0, 255,
                     [](auto... a) { ippiFilterLaplace_8u_C3R(a..., ippMskSize3x3); });
  });
  Register("BM_Reference_Laplace3x3_8u_C3", [](benchmark::State& st, int w, int h) {
    RunFilter<Ipp8u>(st, w, h, 3, 0, 255,
                     [](auto... a) { ref::FilterLaplace_8u_C3R(a..., ippMskSize3x3); });
  });

  // ---- Full convolution
  for (int k : {3, 5, 9}) {
    const std::string n = std::to_string(k) + "x" + std::to_string(k);
    Register("BM_ConvFull_32f_C1_" + n, [k](benchmark::State& st, int w, int h) {
      ConvFloat(st, w, h, k, ippiConvFull_32f_C1R);
    });
    Register("BM_Reference_ConvFull_32f_C1_" + n, [k](benchmark::State& st, int w, int h) {
      ConvFloat(st, w, h, k, ref::ConvFull_32f_C1R);
    });
  }

#if KELVO_HAVE_OPENCV
  Register("BM_OpenCV_cvtColorYUY2", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC2, CV_8UC3,
          [](cv::Mat& s, cv::Mat& d) { cv::cvtColor(s, d, cv::COLOR_YUV2BGR_YUY2); });
  });
  Register("BM_OpenCV_cvtColorYUV", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC3, CV_8UC3,
          [](cv::Mat& s, cv::Mat& d) { cv::cvtColor(s, d, cv::COLOR_BGR2YUV); });
  });
  Register("BM_OpenCV_cvtColorYUVToBGR", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC3, CV_8UC3,
          [](cv::Mat& s, cv::Mat& d) { cv::cvtColor(s, d, cv::COLOR_YUV2BGR); });
  });
  for (int m : {3, 5}) {
    Register("BM_OpenCV_medianBlur" + std::to_string(m) + "_8u", [m](benchmark::State& st, int w,
                                                                     int h) {
      RunCv(st, w, h, CV_8UC1, CV_8UC1, [m](cv::Mat& s, cv::Mat& d) { cv::medianBlur(s, d, m); });
    });
  }
  Register("BM_OpenCV_medianBlur5_16s", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_16SC1, CV_16SC1, [](cv::Mat& s, cv::Mat& d) { cv::medianBlur(s, d, 5); });
  });
  Register("BM_OpenCV_GaussianBlur5_8u_C1", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC1, CV_8UC1,
          [](cv::Mat& s, cv::Mat& d) { cv::GaussianBlur(s, d, cv::Size(5, 5), 0); });
  });
  Register("BM_OpenCV_GaussianBlur5_8u_C3", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC3, CV_8UC3,
          [](cv::Mat& s, cv::Mat& d) { cv::GaussianBlur(s, d, cv::Size(5, 5), 0); });
  });
  Register("BM_OpenCV_Laplacian3_8u_C3", [](benchmark::State& st, int w, int h) {
    RunCv(st, w, h, CV_8UC3, CV_8UC3,
          [](cv::Mat& s, cv::Mat& d) { cv::Laplacian(s, d, CV_8U, 3); });
  });
  for (int k : {3, 5, 9}) {
    Register("BM_OpenCV_filter2D_32f_" + std::to_string(k) + "x" + std::to_string(k),
             [k](benchmark::State& st, int w, int h) {
               cv::Mat kernel(k, k, CV_32F, cv::Scalar(1.0 / (k * k)));
               RunCv(st, w, h, CV_32FC1, CV_32FC1, [&kernel](cv::Mat& s, cv::Mat& d) {
                 cv::filter2D(s, d, CV_32F, kernel, cv::Point(-1, -1), 0, cv::BORDER_CONSTANT);
               });
             });
  }
#endif
  return 0;
}();

}  // namespace

// The one entry point of kelvo_bench (the other layers' files only register).
BENCHMARK_MAIN();
