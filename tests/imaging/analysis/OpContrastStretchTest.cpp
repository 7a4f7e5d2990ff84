#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "imaging/analysis/OpContrastStretch.h"
#include "imaging/analysis/detail/StretchMap.h"
#include "imaging/analysis/detail/StretchTables.h"
#include "imaging/core/BitmapData.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/primitives/TargetLoop.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::ThrowsIPException;

// Every 8-bit value once: a 256 x 1 single-channel image.
BitmapData Ramp8() {
  std::vector<uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[static_cast<std::size_t>(i)] = static_cast<uint8_t>(i);
  return BitmapData(256, 1, kFormatGray8, v.data(), 256);
}

// Every 16-bit value once: a 256 x 256 single-channel image.
BitmapData Ramp16() {
  std::vector<uint16_t> v(65536);
  for (int i = 0; i < 65536; ++i) v[static_cast<std::size_t>(i)] = static_cast<uint16_t>(i);
  return BitmapData(256, 256, kFormatGray16, v.data(), 512);
}

// The curve as a table: the stretched value of every source value.
template <class D>
std::vector<int> Table(const BitmapData& dst, int entries) {
  std::vector<int> t(static_cast<std::size_t>(entries));
  for (int i = 0; i < entries; ++i) {
    D v;
    std::memcpy(&v, dst.GetData() + static_cast<std::size_t>(i) * sizeof(D), sizeof(D));
    t[static_cast<std::size_t>(i)] = v;
  }
  return t;
}

std::vector<int> Stretch8To8(float lowClip, float highClip, int maxValue = 255) {
  BitmapData src = Ramp8();
  BitmapData dst(256, 1, kFormatGray8, nullptr, 256);
  OpContrastStretch::Execute(&src, &dst, maxValue, lowClip, highClip);
  return Table<uint8_t>(dst, 256);
}

// Each curve is black up to its low clip, white from its high clip, and
// rises monotonically between.
TEST(OpContrastStretchTest, EightBitRampsBetweenTheClipPoints) {
  // The pipeline's skin-derived high clip, float(74 / 255) halved: hi 218.
  const float skinClip = static_cast<float>(74.0 / 255.0) * 0.5f;
  const struct {
    float lowClip, highClip;
    int lastBlack, firstWhite;
    std::vector<std::pair<int, int>> values;
  } cases[] = {
      {0.05859375f, 0.0f, 14, 255, {{15, 1}, {16, 2}, {254, 253}}},
      {0.01953125f, 0.005f, 4, 253, {{5, 1}, {252, 253}}},  // k = 248, s = float(255 / 249)
      // The clip points are float products: 255 * (1 - 0.2f) is 204 in float
      // (203.99999... in double), so the ramp runs over 128 steps, not 127;
      // in double t[77] would be 2.
      {0.3f, 0.2f, 76, 204, {{77, 1}}},
      {0.0f, skinClip, 0, 218, {}},
      // The pipeline's largest high clip (1 - 1/1.22 as a float, halved).
      {0.0234375f, 0.18032789f, 5, 209, {{6, 1}, {208, 253}}},  // k = 203, s = 1.25
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lowClip << " " << c.highClip);
    const auto t = Stretch8To8(c.lowClip, c.highClip);
    for (int i = 0; i < 256; ++i) {
      const int v = t[static_cast<std::size_t>(i)];
      const int want = i <= c.lastBlack ? 0 : i >= c.firstWhite ? 255 : std::clamp(v, 1, 254);
      EXPECT_EQ(v, want) << i;
      EXPECT_GE(v, i > 0 ? t[static_cast<std::size_t>(i - 1)] : 0) << i;
    }
    for (auto [i, v] : c.values) EXPECT_EQ(t[static_cast<std::size_t>(i)], v) << i;
  }
  // Zero clips, or clips that cross (lo 127 >= hi 101), leave the identity.
  std::vector<int> identity(256);
  for (int i = 0; i < 256; ++i) identity[static_cast<std::size_t>(i)] = i;
  EXPECT_EQ(Stretch8To8(0.0f, 0.0f), identity);
  EXPECT_EQ(Stretch8To8(0.5f, 0.6f), identity);
}

TEST(OpContrastStretchTest, EightToSixteenBitRamp) {
  BitmapData src = Ramp8();
  BitmapData dst(256, 1, kFormatGray16, nullptr, 512);
  OpContrastStretch::Execute(&src, &dst, 255, 0.05859375f, 0.0f);
  const auto t = Table<uint16_t>(dst, 256);
  // With maxValue 255 the ramp is the 8-bit one.
  EXPECT_EQ(t, Stretch8To8(0.05859375f, 0.0f));
  // Dropped clips: hi is 255 in this path.
  OpContrastStretch::Execute(&src, &dst, 255, 0.5f, 0.6f);
  const auto id = Table<uint16_t>(dst, 256);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(id[static_cast<std::size_t>(i)], i);
}

TEST(OpContrastStretchTest, SixteenToEightBitRamp) {
  BitmapData src = Ramp16();
  BitmapData dst(256, 256, kFormatGray8, nullptr, 256);
  OpContrastStretch::Execute(&src, &dst, 4095, 0.0f, 0.0f);
  const auto t = Table<uint8_t>(dst, 65536);
  // s = 1, t = 255 / 4095: table[i] = trunc(i * 255 / 4095 + 0.001).
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[16], 0);
  EXPECT_EQ(t[17], 1);
  EXPECT_EQ(t[4094], 254);
  EXPECT_EQ(t[4095], 255);
  EXPECT_EQ(t[65535], 255);  // beyond 12 bits: white, no range check per sample
}

std::vector<int> Knee16(int maxValue, float lowClip, float highClip, float kneeLow = 100.0f,
                        float kneeHigh = 90.0f) {
  BitmapData src = Ramp16();
  BitmapData dst(256, 256, kFormatGray16, nullptr, 512);
  OpContrastStretch::Execute(&src, &dst, maxValue, lowClip, highClip, kneeLow, kneeHigh);
  return Table<uint16_t>(dst, 65536);
}

TEST(OpContrastStretchTest, SoftKneeEndpointsAndShape) {
  const auto t = Knee16(4095, 0.0f, 0.0f);  // a = 0, b = 1, m = 0.5
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[4095], 4095);
  EXPECT_EQ(t[65535], 4095);
  // The searched exponents (100 -> 399.76, 90 -> 359.8) bring both ends
  // within 0.001 of 0 and 1: f(1/4095) = 0.000994.
  EXPECT_EQ(t[1], 4);
  EXPECT_GE(t[4094], 4090);
  // A straight line through the middle.
  EXPECT_NEAR(t[1024], 1024, 2);
  EXPECT_NEAR(t[2048], 2048, 1);
  EXPECT_NEAR(t[3072], 3072, 2);
  for (int i = 1; i < 65536; ++i)
    ASSERT_GE(t[static_cast<std::size_t>(i)], t[static_cast<std::size_t>(i - 1)]) << i;
}

TEST(OpContrastStretchTest, SoftKneeClipsBendIntoBlackAndWhite) {
  // lo = trunc(4095 * 0.25) = 1023, hi = trunc(4095 * 0.75) = 3071.
  const auto t = Knee16(4095, 0.25f, 0.25f);
  // At the clip points the curve is 0.5 (1 - 2^(-1/p)) from black and white.
  EXPECT_GT(t[1023], 0);
  EXPECT_LE(t[1023], 20);
  EXPECT_LT(t[3071], 4095);
  EXPECT_GE(t[3071], 4075);
  EXPECT_NEAR(t[2047], 2047, 2);
  EXPECT_EQ(t[100], 0);
  EXPECT_EQ(t[4000], 4095);
  for (int i = 1; i < 65536; ++i)
    ASSERT_GE(t[static_cast<std::size_t>(i)], t[static_cast<std::size_t>(i - 1)]) << i;
}

// lo 2046, hi 2048: g = 2047.5, so far from the ramp (2g|x - m|)^100 is
// beyond the double range. The ends must still be black and white, not the
// mid-grey that inf / inf would give.
TEST(OpContrastStretchTest, SoftKneeOfANarrowRampStaysBlackAndWhiteAtTheEnds) {
  const auto t = Knee16(4095, 0.4998f, 0.4998f);
  // Low side (exponent 100): overflowing powers, black.
  EXPECT_EQ(t[1], 0);
  EXPECT_EQ(t[1000], 0);
  EXPECT_EQ(t[2000], 0);
  // High side (exponent 90 stays finite): the curve itself rounds to just
  // below 1, so the table ends one below white.
  EXPECT_GE(t[3000], 4094);
  EXPECT_GE(t[4094], 4094);
  EXPECT_EQ(t[4095], 4095);
}

TEST(OpContrastStretchTest, SoftKneeDropsTheHighClipOfASteepRampNearBlack) {
  // lo 0 < 4095 / 16 and 4095 / hi = 4095 / 409 >= 8: hi becomes 4095, so
  // the curve is the unclipped one.
  EXPECT_EQ(Knee16(4095, 0.0f, 0.9f), Knee16(4095, 0.0f, 0.0f));
  // A gentler ramp keeps its clip.
  const auto kept = Knee16(4095, 0.0f, 0.5f);  // hi 2047
  EXPECT_GE(kept[2047], 4070);
  EXPECT_LT(kept[2047], 4095);
  EXPECT_EQ(kept[3000], 4095);
}

TEST(OpContrastStretchTest, ChecksInOrderLeaveTheDestinationUntouched) {
  const char* kWhere = "OpContrastStretch::Execute";
  const char* kChannels = "OpContrastStretch::Execute: must have same number of color components";
  BitmapData gray(4, 2, kFormatGray8, nullptr, 4);
  BitmapData bgr(4, 2, kFormatBGR8, nullptr, 12);
  BitmapData bgrSmall(3, 2, kFormatBGR8, nullptr, 9);
  BitmapData gray16(4, 2, kFormatGray16, nullptr, 8);
  gray.FillWhite();
  bgr.FillWhite();
  EXPECT_TRUE(ThrowsIPException(
      [&] { OpContrastStretch::Execute(nullptr, &gray, 255, 0.1f, 0.1f); }, 4, kWhere));
  EXPECT_TRUE(ThrowsIPException(
      [&] { OpContrastStretch::Execute(&gray, nullptr, 255, 0.1f, 0.1f); }, 4, kWhere));
  EXPECT_TRUE(ThrowsIPException([&] { OpContrastStretch::Execute(&gray, &bgr, 255, 0.1f, 0.1f); },
                                3, kChannels));
  EXPECT_TRUE(ThrowsIPException([&] { OpContrastStretch::Execute(&bgr, &gray, 255, 0.1f, 0.1f); },
                                3, kChannels));
  // Channels are checked before dimensions.
  EXPECT_TRUE(ThrowsIPException(
      [&] { OpContrastStretch::Execute(&bgrSmall, &gray, 255, 0.1f, 0.1f); }, 3, kChannels));
  EXPECT_TRUE(ThrowsIPException(
      [&] { OpContrastStretch::Execute(&bgrSmall, &bgr, 255, 0.1f, 0.1f); }, 1, kWhere));
  // Different sample sizes with the same channels are a path, not an error.
  EXPECT_NO_THROW(OpContrastStretch::Execute(&gray16, &gray, 255, 0.1f, 0.1f));
  gray.FillWhite();
  EXPECT_TRUE(ThrowsIPException(
      [&] { OpContrastStretch::Execute(&gray16, &gray16, 4095, 0.0f, 0.0f, 0.0f, 90.0f); }, 11,
      kWhere));
  BitmapData empty;
  EXPECT_TRUE(ThrowsIPException([&] { OpContrastStretch::Execute(&empty, &gray, 255, 0.1f, 0.1f); },
                                1, kWhere));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(gray.GetData()[i], 255);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(bgr.GetData()[i], 255);
}

// The byte look-up on every SIMD target against the plain table[sample], with
// tables that are not ramps (every entry distinct, so a sample answered by
// the wrong part shows), on counts that leave every tail, also in place.
TEST(OpContrastStretchTest, ByteLookUpMatchesThePlainTableOnEveryTarget) {
  uint8_t table[256];
  uint32_t state = 7;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
  for (int i = 255; i > 0; --i) {
    state = state * 1664525u + 1013904223u;
    std::swap(table[i], table[(state >> 8) % static_cast<uint32_t>(i + 1)]);
  }
  for (std::size_t count : {0, 1, 15, 16, 17, 63, 64, 65, 255, 256, 300, 1000}) {
    std::vector<uint8_t> src(count);
    for (std::size_t i = 0; i < count; ++i) {
      state = state * 1664525u + 1013904223u;
      src[i] = static_cast<uint8_t>(i < 256 ? i : state >> 24);
    }
    std::vector<uint8_t> expected(count + 1, 0xEE);
    for (std::size_t i = 0; i < count; ++i) expected[i] = table[src[i]];
    kelvo::testing::ForEachTarget([&](const char*) {
      std::vector<uint8_t> dst(count + 1, 0xEE);
      detail::MapBytes(src.data(), dst.data(), count, table);
      ASSERT_EQ(dst, expected) << count;
      std::vector<uint8_t> inPlace = src;
      inPlace.push_back(0xEE);
      detail::MapBytes(inPlace.data(), inPlace.data(), count, table);
      ASSERT_EQ(inPlace, expected) << count;
    });
  }
}

// A three-channel image of awkward width with padded rows, stretched into a
// second image and in place, equals the curve applied sample by sample on any
// thread count (tall enough for several bands); the row padding keeps its
// bytes.
TEST(OpContrastStretchTest, EightBitImageEqualsTheCurvePerSampleOnEveryTarget) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  const int w = 37, h = 1400, stride = w * 3 + 7;
  std::vector<uint8_t> pixels(static_cast<std::size_t>(stride) * h);
  uint32_t state = 3;
  for (uint8_t& p : pixels) {
    state = state * 1664525u + 1013904223u;
    p = static_cast<uint8_t>(state >> 24);
  }
  uint8_t curve[256];
  detail::BuildStretchTable8To8(255, 0.01953125f, 0.0625f, curve);
  for (int threads : {1, 2, 3}) {
    kelvo::SetThreads(threads);
    kelvo::testing::ForEachTarget([&](const char*) {
      BitmapData src(w, h, kFormatBGR8, pixels.data(), stride);
      BitmapData dst(w, h, kFormatBGR8, pixels.data(), stride);
      OpContrastStretch::Execute(&src, &dst, 255, 0.01953125f, 0.0625f, 100.0f, 90.0f);
      OpContrastStretch::Execute(&src, &src, 255, 0.01953125f, 0.0625f, 100.0f, 90.0f);
      for (int y = 0; y < h; ++y) {
        for (int i = 0; i < stride; ++i) {
          const uint8_t in = pixels[static_cast<std::size_t>(y) * stride + i];
          const uint8_t want = i < w * 3 ? curve[in] : in;
          ASSERT_EQ(dst.GetData()[y * dst.GetStride() + i], want) << y << " " << i;
          ASSERT_EQ(src.GetData()[y * src.GetStride() + i], want) << y << " " << i;
        }
      }
    });
  }
}

// Rows that overlap other rows (the destination one row below the source in
// the same buffer) are mapped in order, row after row, whatever the thread
// count: each row is read after the row above was written over it.
TEST(OpContrastStretchTest, OverlappingRowsAreMappedInOrder) {
  struct RestoreThreads {
    ~RestoreThreads() { kelvo::SetThreads(0); }
  } restore;
  const int samples = 40, stride = 48, rows = 2000;
  std::vector<uint8_t> start(static_cast<std::size_t>(stride) * (rows + 1));
  uint32_t state = 11;
  for (uint8_t& p : start) {
    state = state * 1664525u + 1013904223u;
    p = static_cast<uint8_t>(state >> 24);
  }
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>((i * 7 + 3) & 255);
  std::vector<uint8_t> expected = start;
  for (int y = 0; y < rows; ++y) {
    for (int i = 0; i < samples; ++i) {
      const std::size_t at = static_cast<std::size_t>(y) * stride + i;
      expected[at + stride] = table[expected[at]];
    }
  }
  for (int threads : {1, 2, 3}) {
    kelvo::SetThreads(threads);
    std::vector<uint8_t> buffer = start;
    detail::MapByteRows(buffer.data(), stride, buffer.data() + stride, stride, samples, rows,
                        table);
    ASSERT_EQ(buffer, expected) << threads << " threads";
    // Downwards (destination above the source) each row reads its own
    // unwritten source too.
    buffer = start;
    std::vector<uint8_t> up = start;
    for (int y = 0; y < rows; ++y) {
      for (int i = 0; i < samples; ++i) {
        const std::size_t at = static_cast<std::size_t>(y) * stride + i;
        up[at] = table[up[at + stride]];
      }
    }
    detail::MapByteRows(buffer.data() + stride, stride, buffer.data(), stride, samples, rows,
                        table);
    ASSERT_EQ(buffer, up) << threads << " threads";
  }
}

}  // namespace
}  // namespace KelvoLibImageProcessing
