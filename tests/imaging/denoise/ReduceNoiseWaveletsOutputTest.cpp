// Output of the wavelet noise reduction in every reduction type and depth,
// with odd band sizes on the way down the pyramid, wide destination rows and
// in-place runs, on photo-like pictures. Each case checks what a correct
// reduction must do: it brings a noisy picture closer to the same picture
// without noise, keeps 12-bit samples in range and the destination's row
// padding untouched, gives the same bytes in place as into a second image
// and on a second run of the same object, and gives the same bytes on every
// SIMD target this processor runs. A failure names the case and the first
// differing sample.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/denoise/IntelFilters.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "imaging/denoise/Wavelets.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

using Op = OpReduceNoiseWavelets;

// Photo-like content: colour gradients, a disc with hard edges, a striped
// block, sensor-like noise and a few clipped pixels. A fixed LCG keeps the
// picture the same on every standard library.
BitmapData Picture(int w, int h, int format, int padBytes, uint32_t seed, bool noisy = true) {
  const bool deep = format == kFormatBGR16;
  const int bytes = deep ? 2 : 1;
  BitmapData image(w, h, format, nullptr, 3 * w * bytes + padBytes);
  uint32_t state = seed;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 24) % 25) - 12;
  };
  const int top = deep ? 4095 : 255;
  const int scale = deep ? 16 : 1;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int dx = x - w / 3, dy = y - h / 2;
      int px[3] = {50 + (150 * y) / h, 70 + (120 * x) / w, 160 - (80 * x * y) / (w * h)};
      if (dx * dx + dy * dy < (h * h) / 16) {
        px[0] = 30;
        px[1] = 90;
        px[2] = 220;
      }
      if (x > (3 * w) / 5 && x < (4 * w) / 5 && ((x / 3 + y / 2) % 4) < 2) {
        for (int& v : px) v += 60;
      }
      const int common = next();
      for (int c = 0; c < 3; ++c) {
        const int noise = common + next() / 3;
        int v = (px[c] + (noisy ? noise : 0)) * scale;
        if ((x * 7 + y * 13) % 97 == 0) v = (c == 1) ? top : 0;
        v = std::clamp(v, 0, top);
        uint8_t* row = image.GetData() + static_cast<ptrdiff_t>(y) * image.GetStride();
        if (deep) {
          reinterpret_cast<uint16_t*>(row)[3 * x + c] = static_cast<uint16_t>(v);
        } else {
          row[3 * x + c] = static_cast<uint8_t>(v);
        }
      }
    }
  }
  return image;
}

int RowSamples(const BitmapData& image) {
  return 3 * image.GetWidth();
}

int Sample(const BitmapData& image, int x, int y) {
  const uint8_t* row = image.GetData() + static_cast<ptrdiff_t>(y) * image.GetStride();
  return image.GetFormat() == kFormatBGR16 ? reinterpret_cast<const uint16_t*>(row)[x] : row[x];
}

// Empty when a and b hold the same samples, else where they first differ.
std::string FirstDifference(const BitmapData& a, const BitmapData& b) {
  for (int y = 0; y < a.GetHeight(); ++y) {
    for (int x = 0; x < RowSamples(a); ++x) {
      if (Sample(a, x, y) != Sample(b, x, y)) {
        return "pixel (" + std::to_string(x / 3) + ", " + std::to_string(y) + ") channel " +
               std::to_string(x % 3) + ": " + std::to_string(Sample(a, x, y)) + " vs " +
               std::to_string(Sample(b, x, y));
      }
    }
  }
  return "";
}

// Mean absolute difference of two images' samples where the picture
// without noise is smooth (within 3 levels of 8 bits over the 7 x 7
// neighbourhood): medians may round off hard edges and stripes, but where
// there is nothing but noise a reduction must come closer to the truth.
double SmoothAreaError(const BitmapData& a, const BitmapData& clean) {
  const int tolerance = clean.GetFormat() == kFormatBGR16 ? 48 : 3;
  double sum = 0.0;
  long count = 0;
  for (int y = 3; y < a.GetHeight() - 3; ++y) {
    for (int x = 9; x < RowSamples(a) - 9; ++x) {
      int lo = Sample(clean, x, y), hi = lo;
      for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -9; dx <= 9; dx += 3) {
          const int v = Sample(clean, x + dx, y + dy);
          lo = std::min(lo, v);
          hi = std::max(hi, v);
        }
      }
      if (hi - lo > tolerance) continue;
      sum += std::abs(Sample(a, x, y) - Sample(clean, x, y));
      ++count;
    }
  }
  return count == 0 ? 0.0 : sum / static_cast<double>(count);
}

constexpr float kLumY[12] = {1.4f, 1.4f, 1.4f, 0.9f, 0.9f, 0.9f, 0.2f, 0.2f, 0.2f, 0, 0, 0};
constexpr float kLumCb[12] = {6.67f, 6.67f, 6.67f, 6.27f, 6.27f, 6.27f,
                              5.87f, 5.87f, 5.87f, 5.47f, 5.47f, 5.47f};
constexpr float kLumCr[12] = {4.76f, 4.76f, 4.76f, 4.47f, 4.47f, 4.47f,
                              4.19f, 4.19f, 4.19f, 3.9f,  3.9f,  3.9f};

struct Case {
  const char* name;
  int w, h, format, padBytes;
  bool inPlace;
  int type, dataType, median;  // median 0: keep the default
  bool customThresholds;
};

void Configure(Op& op, const Case& c) {
  op.SetWaveletPreset();
  op.SetDataReductionType(c.type, c.dataType);
  if (c.median > 0) op.SetChromaMedianSize(c.median);
  if (c.type == Op::ThresholdAdaptive) {
    const float bright[12] = {0.5f, 0.5f, 0.5f, 0.3f, 0.3f, 0.3f, 0.1f, 0.1f, 0.1f, 0, 0, 0};
    op.SetThresholdAdaptiveParams(1, kLumCb, kLumCr, kLumY, bright, bright, bright, 40.0f, 200.0f);
  } else if (c.customThresholds) {
    op.SetThresholdParams(kLumY, kLumCb, kLumCr);
  }
}

// The case's result on the current SIMD target, after the checks that need
// no other target.
BitmapData Run(const Case& c) {
  const uint32_t seed = static_cast<uint32_t>(c.w * 31 + c.h);
  const BitmapData noisy = Picture(c.w, c.h, c.format, c.padBytes, seed);
  const BitmapData clean = Picture(c.w, c.h, c.format, c.padBytes, seed, false);
  Op op;
  Configure(op, c);
  // Destination rows 8 bytes wider than needed, padding set to a sentinel.
  const int stride = noisy.GetStride() + 8;
  BitmapData out(c.w, c.h, c.format, nullptr, stride);
  std::fill(out.GetData(), out.GetData() + static_cast<size_t>(stride) * c.h, uint8_t{0xA5});
  op.Execute(&noisy, &out);

  const int rowBytes = RowSamples(out) * (c.format == kFormatBGR16 ? 2 : 1);
  bool paddingKept = true;
  for (int y = 0; y < c.h; ++y) {
    const uint8_t* row = out.GetData() + static_cast<ptrdiff_t>(y) * stride;
    paddingKept = paddingKept &&
                  std::all_of(row + rowBytes, row + stride, [](uint8_t v) { return v == 0xA5; });
  }
  EXPECT_TRUE(paddingKept) << c.name << ": row padding written";
  if (c.format == kFormatBGR16) {
    int top = 0;
    for (int y = 0; y < c.h; ++y) {
      for (int x = 0; x < RowSamples(out); ++x) top = std::max(top, Sample(out, x, y));
    }
    EXPECT_LE(top, 4095) << c.name << ": beyond 12 bits";
  }
  const double before = SmoothAreaError(noisy, clean);
  const double after = SmoothAreaError(out, clean);
  if (c.type == Op::LumThresholdChromaWaveletMedian) {
    // The chroma bands' median blends towards a median rather than
    // shrinking, so on fine grain it may only hold its ground.
    EXPECT_LT(after, before * 1.01) << c.name << ": adds noise";
  } else {
    EXPECT_LT(after, before) << c.name << ": no closer to the picture without noise";
  }

  // A second run of the same object reuses its cached state; in place the
  // source is read before it is overwritten.
  BitmapData again(c.w, c.h, c.format, nullptr, noisy.GetStride());
  op.Execute(&noisy, &again);
  EXPECT_EQ(FirstDifference(out, again), "") << c.name << ": second run differs";
  if (c.inPlace) {
    BitmapData inPlace = Picture(c.w, c.h, c.format, c.padBytes, seed);
    Op fresh;
    Configure(fresh, c);
    fresh.Execute(&inPlace, &inPlace);
    EXPECT_EQ(FirstDifference(out, inPlace), "") << c.name << ": in place differs";
  }
  return out;
}

// Every case on every SIMD target; targets after the first must match it.
void Check(const std::vector<Case>& cases) {
  std::vector<BitmapData> first;
  kelvo::testing::ForEachTarget([&](const char* target) {
    for (size_t i = 0; i < cases.size(); ++i) {
      BitmapData out = Run(cases[i]);
      if (first.size() < cases.size()) {
        first.push_back(std::move(out));
      } else {
        EXPECT_EQ(FirstDifference(first[i], out), "")
            << cases[i].name << ": " << target << " differs from the first target";
      }
    }
  });
}

constexpr int k8 = kFormatBGR8;
constexpr int k16 = kFormatBGR16;

// The snapshot pipeline's configuration: luminance thresholds, a 5 x 5
// median of the chroma planes.
TEST(ReduceNoiseWaveletsOutput, PipelineConfiguration) {
  Check({
      {"64x64", 64, 64, k8, 0, false, 0, 0, 5, true},
      {"132x100", 132, 100, k8, 4, false, 0, 0, 5, true},
      {"200x68", 200, 68, k8, 0, false, 0, 0, 5, true},
      {"644x484 in place", 644, 484, k8, 0, true, 0, 0, 5, true},
      {"1000x76", 1000, 76, k8, 5, false, 0, 0, 5, true},
  });
}

TEST(ReduceNoiseWaveletsOutput, OtherMediansAndDepths) {
  Check({
      {"median 3", 132, 100, k8, 0, false, 0, 0, 3, true},
      {"median 9", 132, 100, k8, 0, false, 0, 0, 9, true},
      {"median 1", 68, 72, k8, 0, false, 0, 0, 1, true},
      {"16-bit", 132, 100, k16, 6, false, 0, 0, 5, true},
      {"16-bit in place", 96, 200, k16, 0, true, 0, 0, 5, true},
  });
}

TEST(ReduceNoiseWaveletsOutput, OtherReductionTypes) {
  Check({
      {"wavelet median 8-bit", 132, 100, k8, 0, false, 1, 0, 0, true},
      {"wavelet median 16-bit", 96, 200, k16, 0, false, 1, 0, 0, false},
      {"threshold built-in 8-bit", 132, 100, k8, 0, false, 2, 0, 0, false},
      {"threshold 16-bit", 132, 100, k16, 0, false, 2, 0, 0, true},
      {"threshold BGR", 200, 68, k8, 0, false, 2, 1, 0, true},
      {"adaptive 8-bit", 132, 100, k8, 0, false, 3, 0, 0, false},
      {"adaptive BGR 16-bit", 96, 200, k16, 0, true, 3, 1, 0, false},
  });
}

// The chroma-median type put together from its parts one whole plane at a
// time: planes, chroma medians, the luminance decomposed, every detail band
// thresholded, reconstructed, back to BGR. The reduction, which converts
// the luminance to BGR block by block as the synthesis finishes it and runs
// its bands on several threads, must give the same bytes.
template <class T>
BitmapData ComposedChromaMedian(const BitmapData& source) {
  const int w = source.GetWidth(), h = source.GetHeight();
  const size_t area = static_cast<size_t>(w) * h;
  const int planeStride = w * static_cast<int>(sizeof(T));
  std::vector<T> planes(3 * area), result(3 * area);
  if constexpr (sizeof(T) == 1) {
    OpConvertRGBtoYCbCr().ConvertUChar(h, source.GetData(), source.GetStride(), planes.data(),
                                       planeStride, w, true);
  } else {
    OpConvertRGBtoYCbCr().ConvertUShort(h, reinterpret_cast<const uint16_t*>(source.GetData()),
                                        source.GetStride(), planes.data(), planeStride, w, true);
  }
  for (int c = 1; c < 3; ++c) {
    IntelFilters::FilterMedianC1(planes.data() + c * area, planeStride, result.data() + c * area,
                                 planeStride, w, h, 5);
  }
  Wavelets wt;
  wt.DecomposeSamples(planes.data(), planeStride, w, h);
  int* widths = nullptr;
  int* heights = nullptr;
  float** bands = wt.GetMRAPyramid(&widths, &heights);
  for (int k = 0; k < wt.GetLevels(); ++k) {
    const size_t n = static_cast<size_t>((widths[k] + 1) / 2) * ((heights[k] + 1) / 2);
    for (int b = 1; b < 4; ++b)
      detail::ShrinkCoefficients(bands[4 * k + b], n, kLumY[3 * k + b - 1], true);
  }
  wt.ReconstructSamples(result.data(), planeStride, w, h);
  BitmapData out(w, h, source.GetFormat(), nullptr, source.GetStride());
  if constexpr (sizeof(T) == 1) {
    OpConvertYCbCrtoRGB().ConvertUChar(h, result.data(), planeStride, out.GetData(),
                                       out.GetStride(), w, true);
  } else {
    OpConvertYCbCrtoRGB().ConvertUShort(h, result.data(), planeStride,
                                        reinterpret_cast<uint16_t*>(out.GetData()), out.GetStride(),
                                        w, true);
  }
  return out;
}

TEST(ReduceNoiseWaveletsOutput, FusedStepsMatchTheComposedStepsOnAnyThreadCount) {
  const Case cases[] = {
      {"8-bit", 644, 484, k8, 0, false, 0, 0, 5, true},
      {"16-bit", 200, 136, k16, 0, false, 0, 0, 5, true},
      {"8-bit threshold", 644, 484, k8, 0, false, 2, 0, 0, true},
  };
  for (const Case& c : cases) {
    const BitmapData noisy = Picture(c.w, c.h, c.format, 0, 7);
    const auto reduce = [&](int threads) {
      kelvo::ScopedThreads scope(threads);
      Op op;
      Configure(op, c);
      BitmapData out(c.w, c.h, c.format, nullptr, noisy.GetStride());
      op.Execute(&noisy, &out);
      return out;
    };
    const BitmapData one = reduce(1);
    if (c.type == Op::LumThresholdChromaMedian) {
      const BitmapData composed = c.format == k8 ? ComposedChromaMedian<uint8_t>(noisy)
                                                 : ComposedChromaMedian<uint16_t>(noisy);
      EXPECT_EQ(FirstDifference(one, composed), "") << c.name << ": differs from the composition";
    }
    for (int threads : {2, 3}) {
      EXPECT_EQ(FirstDifference(one, reduce(threads)), "")
          << c.name << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
