// Enhancement at any size: the mirror padding, the pass-through of valid
// sizes to PipelineSnapshot::Execute, awkward sizes, layouts and failures.
#include "imaging/pipeline/EnhanceAnySize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/pipeline/detail/MirrorPad.h"

namespace KelvoLibImageProcessing {
namespace {

// A skin-toned gradient with texture, so that every stage has work to do.
std::vector<uint8_t> Picture(int width, int height, int stride, uint32_t seed = 5) {
  std::vector<uint8_t> pixels(static_cast<std::size_t>(stride) * height, 0xEE);
  std::mt19937 rng(seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const int n = static_cast<int>(rng() % 31) - 15;
      const int base = 40 + (150 * (x + y)) / (width + height);
      uint8_t* p = &pixels[static_cast<std::size_t>(y) * stride + 3 * x];
      p[0] = static_cast<uint8_t>(std::clamp(base - 20 + n, 0, 255));
      p[1] = static_cast<uint8_t>(std::clamp(base + n, 0, 255));
      p[2] = static_cast<uint8_t>(std::clamp(base + 45 + n, 0, 255));
    }
  }
  return pixels;
}

std::vector<uint8_t> Bytes(const BitmapData& image) {
  return {image.GetData(), image.GetData() + image.GetHeight() * image.GetStride()};
}

// The mirror by walking: bounce off the edges until inside.
int BouncedIndex(int i, int size) {
  if (size == 1) return 0;
  while (i < 0 || i >= size) i = i < 0 ? -i : 2 * (size - 1) - i;
  return i;
}

TEST(EnhanceAnySizeTest, PaddingIsTheBorderExtensionsMirror) {
  // The same samples as OpExtendBorder's mirror to the right and below, also
  // where it has to fold: a 3 x 2 image padded by 5. (The padding at other
  // sizes is checked through the whole enhancement below.)
  const int w = 3, h = 2, pad = 5, fw = w + 2 * pad;
  std::vector<uint8_t> frame(static_cast<std::size_t>(3 * fw) * (h + 2 * pad));
  const std::vector<uint8_t> source = Picture(w, h, 3 * w);
  for (int y = 0; y < h; ++y) {
    std::memcpy(&frame[((y + pad) * fw + pad) * 3], &source[y * 3 * w], 3 * w);
  }
  OpExtendBorder().Execute(3, w, h, &frame[(pad * fw + pad) * 3], 3 * fw, pad, pad,
                           OpExtendBorder::PaddingMirror);
  std::vector<uint8_t> padded(static_cast<std::size_t>(3 * (w + pad)) * (h + pad));
  detail::MirrorPadBGR(source.data(), w, h, 3 * w, padded.data(), w + pad, h + pad, 3 * (w + pad));
  for (int y = 0; y < h + pad; ++y) {
    EXPECT_EQ(0, std::memcmp(&padded[y * 3 * (w + pad)], &frame[((y + pad) * fw + pad) * 3],
                             3 * (w + pad)));
  }
}

TEST(EnhanceAnySizeTest, ValidSizeIsExactlyExecute) {
  const int w = 128, h = 96;
  const std::vector<uint8_t> pixels = Picture(w, h, 3 * w);
  const BitmapData input(w, h, kFormatBGR8, pixels.data(), 3 * w);
  EnhanceOptions plain;
  EnhanceOptions partial;
  partial.doNoise = false;
  partial.doSkin = false;
  partial.gammaLimit = 1.5f;
  for (const EnhanceOptions& options : {plain, partial}) {
    PipelineSnapshot pipeline(w, h, kFormatBGR8);
    pipeline.SetDoSkin(options.doSkin);
    pipeline.SetDoNoise(options.doNoise);
    pipeline.SetGammaLimit(options.gammaLimit);
    BitmapData expected(w, h);
    pipeline.Execute(&input, &expected);
    const PipelineSnapshot::Report& want = pipeline.GetReport();

    BitmapData output;  // initialised by EnhanceAnySize
    const PipelineSnapshot::Report got = EnhanceAnySize(input, output, options);
    EXPECT_EQ(Bytes(output), Bytes(expected));
    EXPECT_EQ(got.finalLow, want.finalLow);
    EXPECT_EQ(got.finalHigh, want.finalHigh);
    EXPECT_EQ(got.opacity, want.opacity);
    EXPECT_EQ(got.skinRatio, want.skinRatio);

    BitmapData inPlace(w, h, kFormatBGR8, pixels.data(), 3 * w);
    EnhanceAnySize(inPlace, inPlace, options);
    EXPECT_EQ(Bytes(inPlace), Bytes(expected));
    std::vector<uint8_t> raw = pixels;
    EnhanceAnySize(w, h, raw.data(), 3 * w, raw.data(), 3 * w, options);
    EXPECT_EQ(raw, Bytes(expected));
  }
}

TEST(EnhanceAnySizeTest, AwkwardSizesAreThePaddedPipelineCroppedBack) {
  const int sizes[][2] = {{1, 1}, {2, 2}, {3, 5}, {63, 64}, {641, 481}, {854, 480}};
  for (const auto& s : sizes) {
    const int w = s[0], h = s[1], pw = PipelineSide(w), ph = PipelineSide(h);
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    EXPECT_FALSE(IsPipelineSize(w, h));
    const std::vector<uint8_t> pixels = Picture(w, h, 3 * w);
    const BitmapData input(w, h, kFormatBGR8, pixels.data(), 3 * w);
    BitmapData output;
    const PipelineSnapshot::Report report = EnhanceAnySize(input, output);
    ASSERT_EQ(output.GetWidth(), w);
    ASSERT_EQ(output.GetHeight(), h);

    // The padded picture built the plain way, through the pipeline.
    BitmapData padded(pw, ph);
    for (int y = 0; y < ph; ++y) {
      for (int x = 0; x < pw; ++x) {
        std::memcpy(padded.GetData() + y * padded.GetStride() + 3 * x,
                    &pixels[(BouncedIndex(y, h) * w + BouncedIndex(x, w)) * 3], 3);
      }
    }
    PipelineSnapshot pipeline(pw, ph, kFormatBGR8);
    pipeline.Execute(&padded, &padded);
    EXPECT_EQ(report.finalHigh, pipeline.GetReport().finalHigh);
    EXPECT_EQ(report.opacity, pipeline.GetReport().opacity);
    bool changed = false;
    for (int y = 0; y < h; ++y) {
      const uint8_t* got = output.GetData() + y * output.GetStride();
      ASSERT_EQ(0, std::memcmp(got, padded.GetData() + y * padded.GetStride(), 3 * w)) << y;
      changed = changed || std::memcmp(got, &pixels[y * 3 * w], 3 * w) != 0;
    }
    EXPECT_TRUE(changed);
  }
}

TEST(EnhanceAnySizeTest, StridedRawBuffersGiveThePackedResult) {
  const int w = 67, h = 70, in = 3 * w + 13, out = 3 * w + 7;
  const std::vector<uint8_t> packed = Picture(w, h, 3 * w);
  std::vector<uint8_t> expected(packed.size());
  EnhanceAnySize(w, h, packed.data(), 3 * w, expected.data(), 3 * w);

  std::vector<uint8_t> strided(static_cast<std::size_t>(in) * h, 0xEE);
  for (int y = 0; y < h; ++y) std::memcpy(&strided[y * in], &packed[y * 3 * w], 3 * w);
  std::vector<uint8_t> result(static_cast<std::size_t>(out) * h, 0x5A);
  EnhanceAnySize(w, h, strided.data(), in, result.data(), out);
  for (int y = 0; y < h; ++y) {
    ASSERT_EQ(0, std::memcmp(&result[y * out], &expected[y * 3 * w], 3 * w)) << y;
    for (int i = 3 * w; i < out; ++i) ASSERT_EQ(result[y * out + i], 0x5A) << y;
  }
  // A BitmapData with a wide stride, in place.
  BitmapData image(w, h, kFormatBGR8, strided.data(), in);
  EnhanceAnySize(image, image);
  for (int y = 0; y < h; ++y) {
    ASSERT_EQ(0, std::memcmp(image.GetData() + y * in, &expected[y * 3 * w], 3 * w)) << y;
  }
}

TEST(EnhanceAnySizeTest, SizesAndFailures) {
  EXPECT_EQ(PipelineSide(1), 64);
  EXPECT_EQ(PipelineSide(64), 64);
  EXPECT_EQ(PipelineSide(65), 68);
  EXPECT_EQ(PipelineSide(0), 0);
  EXPECT_EQ(PipelineSide(1 << 30), 0);
  EXPECT_TRUE(IsPipelineSize(64, 68));
  EXPECT_FALSE(IsPipelineSize(60, 68));

  const auto code = [](auto&& call) {
    try {
      call();
    } catch (const IPException& e) {
      EXPECT_STREQ(std::strstr(e.what(), " - ") + 3, "EnhanceAnySize");
      return e.GetCode();
    }
    return -1;
  };
  std::vector<uint8_t> buffer(3 * 8 * 8, 7);
  uint8_t* p = buffer.data();
  EXPECT_EQ(code([&] { EnhanceAnySize(8, 8, nullptr, 24, p, 24); }), 5);
  EXPECT_EQ(code([&] { EnhanceAnySize(0, 8, p, 24, p, 24); }), 0);
  EXPECT_EQ(code([&] { EnhanceAnySize(1 << 30, 1, p, 24, p, 24); }), 0);
  EXPECT_EQ(code([&] { EnhanceAnySize(8, 8, p, 23, p, 24); }), 6);
  EXPECT_EQ(code([&] { EnhanceAnySize(8, 8, p, 24, p, 20); }), 6);
  EXPECT_EQ(buffer, std::vector<uint8_t>(buffer.size(), 7));

  BitmapData empty, grey(8, 8, kFormatGray8, nullptr, 8), output(8, 8);
  const std::vector<uint8_t> before = Bytes(output);
  EXPECT_EQ(code([&] { EnhanceAnySize(empty, output); }), 5);
  EXPECT_EQ(code([&] { EnhanceAnySize(grey, output); }), 2);
  EXPECT_EQ(Bytes(output), before);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
