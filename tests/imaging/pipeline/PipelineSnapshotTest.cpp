// The snapshot pipeline end to end: stage wiring, the report, the switches,
// frames built to trigger the decision rules, and the filter's entry point.
#include "imaging/pipeline/PipelineSnapshot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"
#include "imaging/filters/OpBlend.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/pipeline/RunSnapshotPipeline.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::CodeOf;
using kelvo::test::ExpectIPException;

constexpr int kW = 128;
constexpr int kH = 96;

// Paints a rectangle (inclusive corners) in a colour with uniform texture of
// +-spread per channel (deterministic: mt19937's raw output is fixed by the
// standard).
void PaintRect(BitmapData& image, int x0, int y0, int x1, int y1, int b, int g, int r,
               int spread = 0, uint32_t seed = 3) {
  std::mt19937 rng(seed);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      uint8_t* p = image.GetData() + y * image.GetStride() + 3 * x;
      const int n = spread == 0 ? 0 : static_cast<int>(rng() % (2 * spread + 1)) - spread;
      p[0] = static_cast<uint8_t>(std::clamp(b + n, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(g + n, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(r + n, 0, 255));
    }
  }
}

// A whole frame of the given mean colour and texture.
BitmapData Textured(int b, int g, int r, int spread) {
  BitmapData image(kW, kH);
  PaintRect(image, 0, 0, kW - 1, kH - 1, b, g, r, spread, 7);
  return image;
}

std::vector<uint8_t> Bytes(const BitmapData& image) {
  return {image.GetData(), image.GetData() + image.GetHeight() * image.GetStride()};
}

PipelineSnapshot::Report RunPipeline(PipelineSnapshot& pipeline, const BitmapData& input,
                                     BitmapData& output) {
  pipeline.Execute(&input, &output);
  return pipeline.GetReport();
}

TEST(PipelineSnapshotTest, FailuresLeaveTheOutputUntouched) {
  PipelineSnapshot p(kW, kH, 2);
  BitmapData image = Textured(90, 100, 110, 20);
  ExpectIPException([&] { p.Execute(nullptr, &image); }, 4, "PipelineSnapshot::Execute");
  EXPECT_THROW(p.Execute(&image, nullptr), IPException);

  // A 16-bit input fails in the first copy.
  BitmapData wide(kW, kH, kFormatBGR16, nullptr, kW * 6);
  std::memset(wide.GetData(), 0, static_cast<std::size_t>(kH) * kW * 6);
  const std::vector<uint8_t> before = Bytes(image);
  ExpectIPException([&] { p.Execute(&wide, &image); }, 3, "UtilitiesGeneral::CopyData");
  EXPECT_EQ(Bytes(image), before);

  // The stages refuse sizes that are not multiples of 4.
  BitmapData odd(kW - 2, kH);
  odd.FillBlack();
  BitmapData oddOut(kW - 2, kH);
  oddOut.FillWhite();
  EXPECT_THROW(p.Execute(&odd, &oddOut), IPException);
  EXPECT_EQ(oddOut.GetData()[0], 255);
}

TEST(PipelineSnapshotTest, AllSwitchesOffStillBlendsAtHalfOpacity) {
  const BitmapData input = Textured(60, 110, 170, 40);
  PipelineSnapshot p(kW, kH, 2);
  p.SetPresetNone();
  BitmapData out(kW, kH);
  const PipelineSnapshot::Report r = RunPipeline(p, input, out);
  EXPECT_EQ(r.opacity, 0.5f);
  EXPECT_EQ(r.skinRatio, 0.0f);
  EXPECT_EQ(r.finalHigh, 0.0f);
  EXPECT_EQ(r.times.skin, 0.0);
  EXPECT_EQ(r.times.noise, 0.0);

  BitmapData expected(kW, kH);
  UtilitiesGeneral::CopyData(&input, &expected);
  OpBlend().Execute(&expected, &expected, Screen, 0.5f);
  EXPECT_EQ(Bytes(out), Bytes(expected));
  // Screen brightens: a mid grey sample moves up.
  EXPECT_GT(out.GetData()[1], input.GetData()[1]);
}

TEST(PipelineSnapshotTest, WithoutStretchOpacityStaysHalfAndSharpeningRuns) {
  const BitmapData input = Textured(60, 110, 170, 40);
  PipelineSnapshot p(kW, kH, 2);
  p.SetDoLStretch(false);
  p.SetDoNoise(false);
  BitmapData sharpened(kW, kH);
  PipelineSnapshot::Report r = RunPipeline(p, input, sharpened);
  EXPECT_EQ(r.opacity, 0.5f);
  EXPECT_FALSE(r.lowKey);
  EXPECT_EQ(r.hiClip1, 0.0f);  // no histogram was built
  EXPECT_EQ(r.origMean, 0.0f);

  p.SetDoSharp(false);
  BitmapData plain(kW, kH);
  RunPipeline(p, input, plain);
  EXPECT_NE(Bytes(sharpened), Bytes(plain));
}

// The stages read the frame in place when it has the work images' layout
// and write the output directly: neither may change what the caller sees.
TEST(PipelineSnapshotTest, LayoutsOfInputAndOutputDoNotChangeTheResult) {
  BitmapData input = Textured(70, 120, 160, 30);
  PaintRect(input, 30, 20, 80, 70, 120, 150, 200, 10);
  const std::vector<uint8_t> original = Bytes(input);
  const int padded = kW * 3 + 8;

  for (const bool all : {true, false}) {
    SCOPED_TRACE(all ? "all stages" : "no stage");
    PipelineSnapshot p(kW, kH, 2);
    if (!all) p.SetPresetNone();
    BitmapData reference(kW, kH);
    p.Execute(&input, &reference);
    EXPECT_EQ(Bytes(input), original);  // the source is never written

    // A padded source is copied in first; same result.
    BitmapData wideIn(kW, kH, kFormatBGR8, nullptr, padded);
    UtilitiesGeneral::CopyData(&input, &wideIn);
    BitmapData out(kW, kH);
    p.Execute(&wideIn, &out);
    EXPECT_EQ(Bytes(out), Bytes(reference));

    // A padded output gets the same pixels and keeps its padding.
    BitmapData wideOut(kW, kH, kFormatBGR8, nullptr, padded);
    std::memset(wideOut.GetData(), 0x5A, static_cast<std::size_t>(kH) * padded);
    p.Execute(&input, &wideOut);
    for (int y = 0; y < kH; ++y) {
      const uint8_t* row = wideOut.GetData() + y * padded;
      ASSERT_EQ(std::memcmp(row, reference.GetData() + y * kW * 3, kW * 3), 0) << y;
      for (int i = kW * 3; i < padded; ++i) ASSERT_EQ(row[i], 0x5A);
    }

    // The frame as its own output, plain and padded: the stages may write
    // over it, never before they have read it.
    BitmapData same(kW, kH);
    UtilitiesGeneral::CopyData(&input, &same);
    p.Execute(&same, &same);
    EXPECT_EQ(Bytes(same), Bytes(reference));
    UtilitiesGeneral::CopyData(&input, &wideIn);
    p.Execute(&wideIn, &wideIn);
    for (int y = 0; y < kH; ++y) {
      ASSERT_EQ(std::memcmp(wideIn.GetData() + y * padded, reference.GetData() + y * kW * 3, kW * 3),
                0)
          << y;
    }
  }

  // Outputs that cannot take the result are refused by the final copy, after
  // the stages, and are left as they were.
  PipelineSnapshot p(kW, kH, 2);
  BitmapData deep(kW, kH, kFormatBGR16, nullptr, kW * 6);
  std::memset(deep.GetData(), 0x11, static_cast<std::size_t>(kH) * kW * 6);
  ExpectIPException([&] { p.Execute(&input, &deep); }, 3, "UtilitiesGeneral::CopyData");
  EXPECT_EQ(deep.GetData()[0], 0x11);
  BitmapData small(kW / 2, kH);
  small.FillWhite();
  EXPECT_EQ(CodeOf([&] { p.Execute(&input, &small); }), 1);
  EXPECT_EQ(small.GetData()[0], 255);
  EXPECT_EQ(Bytes(input), original);
}

TEST(PipelineSnapshotTest, TintedFrameIsAColourCast) {
  // Blue cast (means 150, 120, 100 for blue, green, red): not skin-coloured.
  const BitmapData input = Textured(150, 120, 100, 40);
  PipelineSnapshot p(kW, kH, 2);
  BitmapData out(kW, kH);
  const PipelineSnapshot::Report r = RunPipeline(p, input, out);
  EXPECT_TRUE(r.colourCast);
  EXPECT_EQ(r.skinRatio, 0.0f);
  EXPECT_EQ(r.finalLow, 0.05859375f);
  EXPECT_EQ(r.opacity, 0.1f);
  EXPECT_LE(r.finalHigh, 0.18032789f);

  // The stretch moved the samples: below the low clip they become black.
  p.SetDoLStretch(false);
  BitmapData unstretched(kW, kH);
  RunPipeline(p, input, unstretched);
  EXPECT_NE(Bytes(out), Bytes(unstretched));
}

TEST(PipelineSnapshotTest, DarkLowKeyFrameIsNotSharpened) {
  // Luminance packed into 20 .. 60: central 80 % spans far fewer than 128
  // levels and averages below 60.
  const BitmapData input = Textured(40, 40, 40, 20);
  PipelineSnapshot p(kW, kH, 2);
  BitmapData out(kW, kH);
  const PipelineSnapshot::Report r = RunPipeline(p, input, out);
  EXPECT_TRUE(r.lowKey);
  EXPECT_LT(r.midRatio, 0.5f);
  EXPECT_LT(r.midAve, 60.0f);
  EXPECT_EQ(r.finalHigh, 0.0f);
  EXPECT_EQ(r.opacity, 0.2f);
  EXPECT_EQ(r.times.sharpen, 0.0);

  p.SetDoSharp(false);
  BitmapData unsharpened(kW, kH);
  RunPipeline(p, input, unsharpened);
  EXPECT_EQ(Bytes(out), Bytes(unsharpened));
}

TEST(PipelineSnapshotTest, LargeBrightSkinAreaSkipsTheBlend) {
  // A face-sized skin area (L about 155) on a dark blue background.
  BitmapData input = Textured(120, 60, 30, 10);
  PaintRect(input, 24, 12, 103, 83, 120, 150, 200, 6);
  PipelineSnapshot p(kW, kH, 2);
  BitmapData out(kW, kH);
  const PipelineSnapshot::Report r = RunPipeline(p, input, out);
  EXPECT_GT(r.skinRatio, 0.4f);
  EXPECT_GT(r.skinMean, 120.0f);
  EXPECT_GT(r.skinClip, 0.0f);
  EXPECT_EQ(r.opacity, 0.0f);

  // With the skin analysis off the same frame gets no skin quantities.
  p.SetDoSkin(false);
  const PipelineSnapshot::Report noSkin = RunPipeline(p, input, out);
  EXPECT_EQ(noSkin.skinRatio, 0.0f);
  EXPECT_EQ(noSkin.skinClip, 0.0f);
  EXPECT_NE(noSkin.opacity, 0.0f);
}

TEST(PipelineSnapshotTest, LargeDarkSkinAreaKeepsTheBlackPoint) {
  // Dark skin (L about 41) over half of a mid-grey frame.
  BitmapData input = Textured(110, 110, 110, 25);
  PaintRect(input, 0, 0, 63, 95, 30, 34, 68, 3);
  PipelineSnapshot p(kW, kH, 2);
  BitmapData out(kW, kH);
  const PipelineSnapshot::Report r = RunPipeline(p, input, out);
  EXPECT_GE(r.skinRatio, 0.05f);
  EXPECT_LT(r.skinMean, 55.0f);
  EXPECT_EQ(r.finalLow, 0.01953125f);
  EXPECT_GT(r.skinClip, 0.0f);
  // Skin rules ran: the limit was chosen from the skin mean.
  EXPECT_GT(r.skinLim, 0.0f);
  EXPECT_LE(r.finalHigh, 0.18032789f);
}

// A copy of the frame is enhanced, at a size the pipeline takes and at one
// it needs padded for; the frame is left as it was.
TEST(RunSnapshotPipelineTest, EnhancesACopyAtAnySizeAndLeavesTheFrame) {
  BitmapData frame = Textured(70, 120, 160, 30);
  PaintRect(frame, 30, 20, 80, 70, 120, 150, 200, 10);
  const std::vector<uint8_t> original = Bytes(frame);
  for (const auto& [w, h, stride] : {std::array{kW, kH, 3 * kW}, {33, 31, 99}}) {
    SCOPED_TRACE(w);
    uint8_t* enhanced = nullptr;
    ASSERT_TRUE(RunSnapshotPipeline(w, h, stride, frame.GetData(), &enhanced));
    ASSERT_NE(enhanced, nullptr);
    EXPECT_EQ(Bytes(frame), original);
    BitmapData expected;
    EnhanceAnySize(BitmapData(w, h, kFormatBGR8, frame.GetData(), stride), expected);
    EXPECT_EQ(std::memcmp(enhanced, expected.GetData(), static_cast<std::size_t>(h) * stride), 0);
    FreeSnapshotImage(enhanced);
  }
}

TEST(RunSnapshotPipelineTest, FailuresAreReportedNotThrown) {
  BitmapData frame = Textured(70, 120, 160, 30);
  uint8_t* enhanced = reinterpret_cast<uint8_t*>(&frame);  // must be reset
  EXPECT_FALSE(RunSnapshotPipeline(kW, kH, 3 * kW, nullptr, &enhanced));
  EXPECT_FALSE(RunSnapshotPipeline(kW, kH, 3 * kW - 1, frame.GetData(), &enhanced));
  EXPECT_FALSE(RunSnapshotPipeline(0, kH, 0, frame.GetData(), &enhanced));
  EXPECT_EQ(enhanced, nullptr);
  EXPECT_FALSE(RunSnapshotPipeline(kW, kH, 3 * kW, frame.GetData(), nullptr));
}

}  // namespace
}  // namespace KelvoLibImageProcessing
