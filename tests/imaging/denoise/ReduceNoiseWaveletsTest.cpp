// Wavelet noise reduction: size and format rules, the thresholding rule,
// transparency with zero thresholds, the built-in thresholds on 8-bit data,
// the adaptive type over dark, bright and edge areas, the setters' failures
// and the noise estimate. What each reduction type does to a noisy picture
// is checked in ReduceNoiseWaveletsOutputTest.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::ExpectIPException;

using Op = OpReduceNoiseWavelets;

// A smooth gradient with a step and uniform noise, 8-bit or 12-bit.
BitmapData NoisyImage(int w, int h, int format, unsigned seed, int noise = 6) {
  const bool deep = format == kFormatBGR16;
  BitmapData image(w, h, format, nullptr, w * (deep ? 6 : 3));
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> n(-noise, noise);
  const int scale = deep ? 16 : 1;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int base = 40 + (x * 120) / w + (y > h / 2 ? 60 : 0);
      for (int c = 0; c < 3; ++c) {
        const int v = std::clamp((base + 10 * c + n(rng)) * scale, 0, deep ? 4095 : 255);
        if (deep) {
          reinterpret_cast<uint16_t*>(image.GetData() + y * image.GetStride())[3 * x + c] =
              static_cast<uint16_t>(v);
        } else {
          image.GetData()[y * image.GetStride() + 3 * x + c] = static_cast<uint8_t>(v);
        }
      }
    }
  }
  return image;
}

std::vector<uint8_t> Pixels(const BitmapData& image) {
  const uint8_t* p = image.GetData();
  return std::vector<uint8_t>(p, p + static_cast<size_t>(image.GetStride()) * image.GetHeight());
}

TEST(ReduceNoiseWavelets, ThresholdRuleSoftAndHard) {
  float soft[] = {1.0f, -1.4f, 2.0f, -3.0f, 1.4f, 0.0f};
  Op::ThresholdCoefficients(soft, 6, 1.4f, 1);
  const float expectedSoft[] = {0.0f, 0.0f, 2.0f - 1.4f, -3.0f + 1.4f, 0.0f, 0.0f};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(soft[i], expectedSoft[i]) << i;
  EXPECT_NEAR(soft[2], 0.6f, 1e-6f);
  EXPECT_NEAR(soft[3], -1.6f, 1e-6f);

  float hard[] = {1.0f, -1.4f, 2.0f, -3.0f};
  Op::ThresholdCoefficients(hard, 4, 1.4f, 0);
  const float expectedHard[] = {0.0f, 0.0f, 2.0f, -3.0f};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(hard[i], expectedHard[i]) << i;

  float zero[] = {0.25f, -7.0f, 0.0f};  // a threshold of 0 keeps non-zero values
  Op::ThresholdCoefficients(zero, 3, 0.0f, 1);
  EXPECT_EQ(zero[0], 0.25f);
  EXPECT_EQ(zero[1], -7.0f);
  EXPECT_EQ(zero[2], 0.0f);
}

TEST(ReduceNoiseWavelets, SizeFormatAndStrideRules) {
  Op op;
  const std::string where = "OpReduceNoiseWavelets::Execute";
  for (const auto& size : {std::pair{63, 64}, std::pair{66, 64}, std::pair{64, 60}}) {
    BitmapData a(size.first, size.second), b(size.first, size.second);
    ExpectIPException([&] { op.Execute(&a, &b); }, 0,
                      "IPException: Invalid image dimension(s) - " + where);
  }
  BitmapData ok = NoisyImage(64, 64, kFormatBGR8, 1);
  BitmapData out(64, 64);
  EXPECT_TRUE(op.Execute(&ok, &out));

  BitmapData deep(64, 64, kFormatBGR16, nullptr, 6 * 64);
  BitmapData gray(64, 64, kFormatGray8, nullptr, 64);
  BitmapData gray2(64, 64, kFormatGray8, nullptr, 64);
  BitmapData small(64, 68);
  BitmapData empty;
  ExpectIPException([&] { op.Execute(nullptr, &out); }, 4,
                    "IPException: Null image data pointer - " + where);
  ExpectIPException([&] { op.Execute(&ok, &deep); }, 3,
                    "IPException: Images have mismatched pixel formats - " + where);
  ExpectIPException([&] { op.Execute(&ok, &small); }, 1,
                    "IPException: Images have mismatched dimensions - " + where);
  ExpectIPException([&] { op.Execute(&gray, &gray2); }, 2,
                    "IPException: Invalid or unsupported pixel format - " + where);
}

// Zero thresholds on blue, green, red planes: every type but 0 and 1 gives
// back the input exactly (the float round trip stays well within rounding).
TEST(ReduceNoiseWavelets, ZeroThresholdsReturnTheInput) {
  const std::vector<float> zeros(12, 0.0f);
  for (int format : {kFormatBGR8, kFormatBGR16}) {
    for (int type : {Op::Threshold, Op::ThresholdAdaptive}) {
      SCOPED_TRACE(testing::Message() << "format " << format << " type " << type);
      Op op;
      op.SetDataReductionType(type, Op::DataBGR);
      if (type == Op::ThresholdAdaptive) {
        op.SetThresholdAdaptiveParams(1, zeros.data(), zeros.data(), zeros.data(), zeros.data(),
                                      zeros.data(), zeros.data(), 50.0f, 150.0f);
      } else {
        op.SetThresholdParams(zeros.data(), zeros.data(), zeros.data());
      }
      BitmapData in = NoisyImage(96, 68 + 4, format, 2);
      BitmapData out(in.GetWidth(), in.GetHeight(), format, nullptr, in.GetStride());
      op.Execute(&in, &out);
      EXPECT_EQ(Pixels(out), Pixels(in));
      // In place: the image is read completely before it is written.
      BitmapData same(in.GetWidth(), in.GetHeight(), format, in.GetData(), in.GetStride());
      op.Execute(&same, &same);
      EXPECT_EQ(Pixels(same), Pixels(in));
    }
  }
}

double NoiseAroundRowMeans(const BitmapData& image, int channel) {
  // Mean absolute difference between horizontally adjacent samples: the
  // test image is smooth along rows apart from its noise.
  double sum = 0;
  int count = 0;
  for (int y = 4; y < image.GetHeight() - 4; ++y) {
    const uint8_t* row = image.GetData() + y * image.GetStride();
    for (int x = 4; x < image.GetWidth() - 5; ++x) {
      sum += std::abs(row[3 * x + channel] - row[3 * (x + 1) + channel]);
      ++count;
    }
  }
  return sum / count;
}

// On 8-bit data under type 2 the built-in thresholds act divided by 16: the
// same as setting those values explicitly, and unlike the undivided values.
TEST(ReduceNoiseWavelets, BuiltInThresholdsAreScaledForEightBitData) {
  BitmapData in = NoisyImage(128, 96, kFormatBGR8, 3);
  Op builtIn;
  BitmapData a(128, 96);
  builtIn.Execute(&in, &a);

  float scaled[3][12], raw[3][12];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 12; ++i) {
      raw[c][i] = builtIn.GetThresholds(c)[i];
      scaled[c][i] = raw[c][i] / 16.0f;
    }
  }
  Op explicitScaled;
  explicitScaled.SetThresholdParams(scaled[0], scaled[1], scaled[2]);
  BitmapData b(128, 96);
  explicitScaled.Execute(&in, &b);
  EXPECT_EQ(Pixels(a), Pixels(b));

  Op explicitRaw;
  explicitRaw.SetThresholdParams(raw[0], raw[1], raw[2]);
  BitmapData c(128, 96);
  explicitRaw.Execute(&in, &c);
  EXPECT_NE(Pixels(a), Pixels(c));
  EXPECT_LT(NoiseAroundRowMeans(c, 1), NoiseAroundRowMeans(a, 1));
}

// Three zones 256 pixels wide and 192 high: dark and flat, bright and flat, dark with
// strong stripes (edges everywhere). Dark thresholds are huge, bright ones
// zero: the dark flat zone is flattened, the bright zone and the edge zone
// keep their samples.
TEST(ReduceNoiseWavelets, AdaptiveDarkBrightAndEdgeAreas) {
  const int w = 768, h = 192;
  BitmapData in(w, h);
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> noise(-4, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      int v;
      if (x < 256) {
        v = 30;
      } else if (x < 512) {
        v = 220;
      } else {
        v = ((x / 4) % 2 == 0) ? 10 : 60;
      }
      for (int c = 0; c < 3; ++c)
        in.GetData()[y * in.GetStride() + 3 * x + c] = static_cast<uint8_t>(v + noise(rng));
    }
  }
  const std::vector<float> dark(12, 1000.0f), bright(12, 0.0f);
  Op op;
  op.SetDataReductionType(Op::ThresholdAdaptive, Op::DataBGR);
  op.SetThresholdAdaptiveParams(1, dark.data(), dark.data(), dark.data(), bright.data(),
                                bright.data(), bright.data(), 64.0f, 192.0f);
  BitmapData out(w, h);
  op.Execute(&in, &out);

  int darkSpread = 0, brightDiff = 0, edgeDiff = 0;
  // Rows and columns well inside each zone: the coarsest level's filters
  // reach about 60 pixels, and near the top and bottom the edge map (which
  // leaves out a 3-pixel frame) covers less than half of the coarse
  // rectangles.
  for (int y = 64; y < 128; ++y) {
    for (int x = 0; x < w; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int a = in.GetData()[y * in.GetStride() + 3 * x + c];
        const int b = out.GetData()[y * out.GetStride() + 3 * x + c];
        if (x >= 64 && x < 192) darkSpread = std::max(darkSpread, std::abs(b - 30));
        if (x >= 320 && x < 448) brightDiff = std::max(brightDiff, std::abs(a - b));
        if (x >= 576 && x < 704) edgeDiff = std::max(edgeDiff, std::abs(a - b));
      }
    }
  }
  EXPECT_LE(darkSpread, 1);  // the noise of +-4 is gone
  EXPECT_EQ(brightDiff, 0);
  EXPECT_EQ(edgeDiff, 0);
}

TEST(ReduceNoiseWavelets, RawMapsOfTheAdaptiveType) {
  BitmapData in(64, 64);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = in.GetData() + y * in.GetStride() + 3 * x;
      p[0] = 10;                                       // blue
      p[1] = static_cast<uint8_t>(x < 32 ? 20 : 21);   // green
      p[2] = static_cast<uint8_t>(y < 32 ? 41 : 200);  // red: an edge at row 32
    }
  }
  const std::vector<float> t(12, 1.0f);
  Op op;
  op.SetReductionType(Op::ThresholdAdaptive);
  op.SetThresholdAdaptiveParams(1, t.data(), t.data(), t.data(), t.data(), t.data(), t.data(),
                                10.0f, 200.0f);
  BitmapData out(64, 64);
  op.Execute(&in, &out);
  // (10 + 2 * 20 + 41) / 4 = 22.75 -> 23; (10 + 42 + 41) / 4 = 23.25 -> 23;
  // (10 + 42 + 200) / 4 = 63.
  EXPECT_EQ(op.GetLumMap()[5 * 64 + 5], 23);
  EXPECT_EQ(op.GetLumMap()[5 * 64 + 40], 23);
  EXPECT_EQ(op.GetLumMap()[40 * 64 + 40], 63);
  EXPECT_EQ(op.GetColourMap()[40 * 64 + 40], 190);
  // Rows 29 .. 35 see both halves (within 3 rows of the edge); others not.
  EXPECT_EQ(op.GetEdgeMap()[28 * 64 + 20], 0);
  EXPECT_EQ(op.GetEdgeMap()[29 * 64 + 20], 255);
  EXPECT_EQ(op.GetEdgeMap()[34 * 64 + 20], 255);
  EXPECT_EQ(op.GetEdgeMap()[35 * 64 + 20], 0);
  EXPECT_EQ(op.GetEdgeMap()[30 * 64 + 2], 0);  // outside the tested frame
  EXPECT_EQ(op.GetEdgeMap()[1 * 64 + 20], 0);   // too close to the border
}

TEST(ReduceNoiseWavelets, SettersRefuseBadValuesAndKeepTheOldOnes) {
  Op op;
  ExpectIPException([&] { op.SetDataReductionType(Op::LumThresholdChromaMedian, Op::DataBGR); }, 26,
                    "IPException: OpReduceNoiseWavelets::SetDataReductionType: ONLY reduction type "
                    "Threshold and ThresholdAdaptive are supported for BGR data");
  op.SetReductionType(Op::LumThresholdChromaMedian);  // accepted for Y/Cb/Cr
  op.SetDataReductionType(Op::Threshold, Op::DataBGR);
  ExpectIPException([&] { op.SetReductionType(Op::LumThresholdChromaMedian); }, 26,
                    "IPException: OpReduceNoiseWavelets::SetReductionType: ONLY reduction type "
                    "Threshold and ThresholdAdaptive are supported for BGR data");
  ExpectIPException([&] { op.SetReductionType(Op::LumThresholdChromaWaveletMedian); }, 26,
                    "IPException: OpReduceNoiseWavelets::SetReductionType: ONLY reduction type "
                    "Threshold and ThresholdAdaptive are supported for BGR data");
  EXPECT_EQ(op.GetReductionType(), Op::Threshold);  // a refused type changes nothing
  op.SetDataReductionType(Op::Threshold, Op::DataYCbCr);
  ExpectIPException([&] { op.SetReductionType(7); }, 11,
                    "IPException: Invalid input - OpReduceNoiseWavelets::SetReductionType");

  const std::vector<float> t(12, 1.0f);
  ExpectIPException(
      [&] {
        op.SetThresholdAdaptiveParams(1, t.data(), t.data(), t.data(), t.data(), t.data(), t.data(),
                                      100.0f, 100.0f);
      },
      26,
      "IPException: OpReduceNoiseWavelets::SetThresholdAdaptiveParams: minLum must be less than "
      "maxLum");
  ExpectIPException(
      [&] { op.SetThresholdParams(t.data(), nullptr, t.data()); }, 5,
      "IPException: Null raw data pointer - OpReduceNoiseWavelets::SetThresholdParams");
  ExpectIPException([&] { op.SetChromaMedianSize(4); }, 11,
                    "IPException: Invalid input - OpReduceNoiseWavelets::SetChromaMedianSize");
  EXPECT_EQ(op.GetChromaMedianSize(), 9);  // a refused size changes nothing
}

TEST(ReduceNoiseWavelets, EstimateNoiseIsTheScaledMedianOfTheInterior) {
  // Three 5 x 5 bands, margin 1: 27 interior values |x| = 1 .. 27 with
  // large values on the margin that must be left out.
  std::vector<float> bands[3];
  int next = 1;
  for (auto& band : bands) {
    band.assign(25, 1000.0f);
    for (int y = 1; y < 4; ++y) {
      for (int x = 1; x < 4; ++x) {
        band[y * 5 + x] = (next % 2 == 0) ? -static_cast<float>(next) : static_cast<float>(next);
        ++next;
      }
    }
  }
  Op op;
  const float sigma = op.EstimateNoise(5, 5, bands[0].data(), bands[1].data(), bands[2].data(), 1);
  EXPECT_FLOAT_EQ(sigma, static_cast<float>(14 * 1.4825797080993652));
  ExpectIPException(
      [&] { op.EstimateNoise(2, 2, bands[0].data(), bands[1].data(), bands[2].data(), 1); }, 0,
      "IPException: Invalid image dimension(s) - OpReduceNoiseWavelets::EstimateNoise");
}

}  // namespace
}  // namespace KelvoLibImageProcessing
