// Exact output of the wavelet noise reduction, pinned as checksums of whole
// images: every reduction type and depth, odd band sizes on the way down the
// pyramid, wide destination rows and in-place runs, on photo-like pictures.
// Every SIMD target this processor runs must give the same bytes, so each
// case is repeated per target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

using Op = OpReduceNoiseWavelets;

// Photo-like content: colour gradients, a disc with hard edges, a striped
// block, sensor-like noise and a few clipped pixels. A fixed LCG keeps the
// picture the same on every standard library.
BitmapData Picture(int w, int h, int format, int padBytes, uint32_t seed) {
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
        int v = (px[c] + common + next() / 3) * scale;
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

// FNV-1a over the pixel bytes of every row (row padding left out).
uint64_t Checksum(const BitmapData& image) {
  const int rowBytes = 3 * image.GetWidth() * (image.GetFormat() == kFormatBGR16 ? 2 : 1);
  uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < image.GetHeight(); ++y) {
    const uint8_t* row = image.GetData() + static_cast<ptrdiff_t>(y) * image.GetStride();
    for (int i = 0; i < rowBytes; ++i) hash = (hash ^ row[i]) * 1099511628211ull;
  }
  return hash;
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
  uint64_t expected;
};

uint64_t Run(const Case& c) {
  Op op;
  op.SetWaveletPreset();
  op.SetDataReductionType(c.type, c.dataType);
  if (c.median > 0) op.SetChromaMedianSize(c.median);
  if (c.type == Op::ThresholdAdaptive) {
    const float bright[12] = {0.5f, 0.5f, 0.5f, 0.3f, 0.3f, 0.3f, 0.1f, 0.1f, 0.1f, 0, 0, 0};
    op.SetThresholdAdaptiveParams(1, kLumCb, kLumCr, kLumY, bright, bright, bright, 40.0f,
                                  200.0f);
  } else if (c.customThresholds) {
    op.SetThresholdParams(kLumY, kLumCb, kLumCr);
  }
  BitmapData in = Picture(c.w, c.h, c.format, c.padBytes, static_cast<uint32_t>(c.w * 31 + c.h));
  if (c.inPlace) {
    op.Execute(&in, &in);
    return Checksum(in);
  }
  BitmapData out(c.w, c.h, c.format, nullptr, in.GetStride() + 8);
  op.Execute(&in, &out);
  // A second run on the same object reuses its cached state.
  BitmapData again(c.w, c.h, c.format, nullptr, in.GetStride());
  op.Execute(&in, &again);
  EXPECT_EQ(Checksum(out), Checksum(again)) << c.name << ": second run differs";
  return Checksum(out);
}

void ExpectPinned(const std::vector<Case>& cases) {
  kelvo::testing::ForEachTarget([&](const char*) {
    for (const Case& c : cases) {
      const uint64_t got = Run(c);
      EXPECT_EQ(got, c.expected) << c.name << ": got 0x" << std::hex << got << "ull";
    }
  });
}

constexpr int k8 = kFormatBGR8;
constexpr int k16 = kFormatBGR16;

// The snapshot pipeline's configuration: luminance thresholds, a 5 x 5
// median of the chroma planes.
TEST(ReduceNoiseWaveletsOutput, PipelineConfiguration) {
  ExpectPinned({
      {"64x64", 64, 64, k8, 0, false, 0, 0, 5, true, 0xa713c2552baf0edcull},
      {"132x100", 132, 100, k8, 4, false, 0, 0, 5, true, 0xeb202af3f61e54cfull},
      {"200x68", 200, 68, k8, 0, false, 0, 0, 5, true, 0x4b7f54e5d886479cull},
      {"644x484 in place", 644, 484, k8, 0, true, 0, 0, 5, true, 0xfdce0750228fcc2ull},
      {"1000x76", 1000, 76, k8, 5, false, 0, 0, 5, true, 0x3bd712400eec255bull},
  });
}

TEST(ReduceNoiseWaveletsOutput, OtherMediansAndDepths) {
  ExpectPinned({
      {"median 3", 132, 100, k8, 0, false, 0, 0, 3, true, 0xa61ae4046ef6a3faull},
      {"median 9", 132, 100, k8, 0, false, 0, 0, 9, true, 0x2c832eb258f0abc4ull},
      {"median 1", 68, 72, k8, 0, false, 0, 0, 1, true, 0x69584da11ded6cabull},
      {"16-bit", 132, 100, k16, 6, false, 0, 0, 5, true, 0xb68ae0003cd6e1e5ull},
      {"16-bit in place", 96, 200, k16, 0, true, 0, 0, 5, true, 0xce02838cfd186f64ull},
  });
}

TEST(ReduceNoiseWaveletsOutput, OtherReductionTypes) {
  ExpectPinned({
      {"wavelet median 8-bit", 132, 100, k8, 0, false, 1, 0, 0, true, 0xb93b4c77768c86fdull},
      {"wavelet median 16-bit", 96, 200, k16, 0, false, 1, 0, 0, false, 0xe0cace30c9a0554ull},
      {"threshold built-in 8-bit", 132, 100, k8, 0, false, 2, 0, 0, false, 0xf911662882924b90ull},
      {"threshold 16-bit", 132, 100, k16, 0, false, 2, 0, 0, true, 0x41facd625fd96177ull},
      {"threshold BGR", 200, 68, k8, 0, false, 2, 1, 0, true, 0xea7f66a5451735beull},
      {"adaptive 8-bit", 132, 100, k8, 0, false, 3, 0, 0, false, 0x93108bdeaeb7cd63ull},
      {"adaptive BGR 16-bit", 96, 200, k16, 0, true, 3, 1, 0, false, 0x8b1bb3f0ebfc660full},
  });
}

}  // namespace
}  // namespace KelvoLibImageProcessing
