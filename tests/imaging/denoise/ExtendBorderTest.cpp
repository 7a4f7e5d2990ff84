// Border extension of the three sample types and the 16-to-8-bit reduction.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/denoise/OpImg16to8bit.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;

// A buffer holding an image of width x height pixels of `channels` samples
// with exactly `pad` pixels of room on every side, surrounded by `guard`
// sentinel samples that no extension may touch.
template <class T>
struct Framed {
  Framed(int width, int height, int channels, int pad, int extraStride = 0)
      : w(width),
        h(height),
        ch(channels),
        pad(pad),
        rowSamples((width + 2 * pad) * channels + extraStride),
        data(static_cast<size_t>(rowSamples) * (height + 2 * pad) + 2 * kGuard, Sentinel()) {}
  static constexpr int kGuard = 64;
  static T Sentinel() { return static_cast<T>(99); }
  T* Image() { return &data[kGuard + static_cast<size_t>(pad) * rowSamples + pad * ch]; }
  T& At(int x, int y, int c = 0) {
    return Image()[static_cast<ptrdiff_t>(y) * rowSamples + x * ch + c];
  }
  int Stride() const { return rowSamples * static_cast<int>(sizeof(T)); }
  bool GuardsIntact() const {
    for (int i = 0; i < kGuard; ++i) {
      if (data[static_cast<size_t>(i)] != Sentinel() || data[data.size() - 1 - i] != Sentinel()) {
        return false;
      }
    }
    return true;
  }
  std::vector<T> PaddedRow(int y) {
    std::vector<T> out;
    for (int x = -pad; x < w + pad; ++x) out.push_back(At(x, y));
    return out;
  }
  int w, h, ch, pad, rowSamples;
  std::vector<T> data;
};

template <class T>
class ExtendBorderTyped : public testing::Test {};
using SampleTypes = testing::Types<uint8_t, uint16_t, float>;
TYPED_TEST_SUITE(ExtendBorderTyped, SampleTypes);

template <class T>
std::vector<T> Row(std::initializer_list<int> v) {
  std::vector<T> out;
  for (int x : v) out.push_back(static_cast<T>(x));
  return out;
}

template <class T>
std::vector<T> PadRow(std::initializer_list<int> row, int pad, int method) {
  Framed<T> f(static_cast<int>(row.size()), 1, 1, pad);
  int x = 0;
  for (int v : row) f.At(x++, 0) = static_cast<T>(v);
  OpExtendBorder().Execute(1, f.w, 1, f.Image(), f.Stride(), pad, 0, method);
  EXPECT_TRUE(f.GuardsIntact());
  return f.PaddedRow(0);
}

// Every method on one row; padding wider than the image repeats the period
// or keeps reflecting, and stays inside the frame.
TYPED_TEST(ExtendBorderTyped, EveryMethodOnOneRow) {
  using T = TypeParam;
  using O = OpExtendBorder;
  const struct {
    std::initializer_list<int> row;
    int pad, method;
    std::initializer_list<int> padded;
  } cases[] = {
      {{10, 20, 30}, 2, O::PaddingZero, {0, 0, 10, 20, 30, 0, 0}},
      {{10, 20, 30}, 2, O::PaddingPeriodic, {20, 30, 10, 20, 30, 10, 20}},
      {{10, 20, 30}, 2, O::PaddingMirror, {30, 20, 10, 20, 30, 20, 10}},
      {{10, 20, 30}, 2, O::PaddingReplicate, {10, 10, 10, 20, 30, 30, 30}},
      {{1, 2, 3}, 5, O::PaddingPeriodic, {2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2}},
      {{1, 2, 3}, 5, O::PaddingMirror, {2, 1, 2, 3, 2, 1, 2, 3, 2, 1, 2, 3, 2}},
      {{7}, 3, O::PaddingMirror, {7, 7, 7, 7, 7, 7, 7}},
      {{7}, 2, O::PaddingPeriodic, {7, 7, 7, 7, 7}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PadRow<T>(c.row, c.pad, c.method), Row<T>(c.padded)) << c.pad << " " << c.method;
  }
}

TYPED_TEST(ExtendBorderTyped, SinglePixelReplicatedOrFramedWithZeros) {
  using T = TypeParam;
  for (int method : {OpExtendBorder::PaddingReplicate, OpExtendBorder::PaddingZero}) {
    Framed<T> f(1, 1, 1, 2);
    f.At(0, 0) = static_cast<T>(42);
    OpExtendBorder().Execute(1, 1, 1, f.Image(), f.Stride(), 2, 2, method);
    for (int y = -2; y <= 2; ++y) {
      for (int x = -2; x <= 2; ++x) {
        const bool centre = (x == 0 && y == 0);
        const T expected =
            static_cast<T>((centre || method == OpExtendBorder::PaddingReplicate) ? 42 : 0);
        EXPECT_EQ(f.At(x, y), expected) << x << "," << y;
      }
    }
    EXPECT_TRUE(f.GuardsIntact());
  }
}

// Two channels, rows padded after columns: the corners take the padded
// values of the edge rows, whole pixels move together, and the whole row
// step (wider than the padded row) is copied along.
TYPED_TEST(ExtendBorderTyped, CornersAndWholeRowSteps) {
  using T = TypeParam;
  Framed<T> f(3, 2, 2, 1, /*extraStride=*/3);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      f.At(x, y, 0) = static_cast<T>(10 * y + x);
      f.At(x, y, 1) = static_cast<T>(100 + 10 * y + x);
    }
    // The bytes beyond the padded row, which row padding copies along.
    for (int i = 0; i < 3; ++i)
      f.Image()[y * f.rowSamples + (3 + 1) * 2 + i] = static_cast<T>(50 + y);
  }
  OpExtendBorder().Execute(2, 3, 2, f.Image(), f.Stride(), 1, 1, OpExtendBorder::PaddingMirror);
  // Mirror: row -1 is row 1, row 2 is row 0; column -1 is column 1, 3 is 1.
  EXPECT_EQ(f.At(-1, -1, 0), static_cast<T>(11));
  EXPECT_EQ(f.At(-1, -1, 1), static_cast<T>(111));
  EXPECT_EQ(f.At(3, -1, 0), static_cast<T>(11));
  EXPECT_EQ(f.At(-1, 2, 1), static_cast<T>(101));
  EXPECT_EQ(f.At(3, 2, 0), static_cast<T>(1));
  EXPECT_EQ(f.At(2, -1, 1), static_cast<T>(112));
  EXPECT_EQ(f.Image()[-1 * f.rowSamples + 4 * 2], static_cast<T>(51));
  EXPECT_EQ(f.Image()[2 * f.rowSamples + 4 * 2 + 2], static_cast<T>(50));
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(ExtendBorder, NoPaddingTouchesNothing) {
  Framed<float> f(4, 3, 1, 0);
  const std::vector<float> before = f.data;
  OpExtendBorder().Execute(1, 4, 3, f.Image(), f.Stride(), 0, 0, OpExtendBorder::PaddingMirror);
  EXPECT_EQ(f.data, before);
}

TEST(ExtendBorder, ChecksInTheirOrder) {
  std::vector<uint8_t> buf(64);
  uint8_t* p = buf.data() + 24;
  auto* p16 = reinterpret_cast<uint16_t*>(buf.data() + 24);
  OpExtendBorder op;
  const Failures fails("OpExtendBorder::Execute");
  EXPECT_TRUE(fails([&] { op.Execute(1, 0, 2, p, 4, 1, 1, 9); }, 0));
  EXPECT_TRUE(fails([&] { op.Execute(1, 2, 2, static_cast<uint8_t*>(nullptr), 4, 1, 1, 9); }, 5));
  EXPECT_TRUE(fails([&] { op.Execute(1, 4, 2, p16, 7, 1, 1, 0); }, 6));
  EXPECT_TRUE(fails([&] { op.Execute(0, 2, 2, p, 4, -1, 1, 9); }, 11, "(channels)"));
  EXPECT_TRUE(fails([&] { op.Execute(1, 2, 2, p, 4, 1, -1, 9); }, 11, "(padding amount)"));
  EXPECT_TRUE(fails([&] { op.Execute(1, 2, 2, p, 4, 1, 1, 4); }, 11, "(padding method)"));
  // The stride test counts samples of one channel only.
  op.Execute(3, 2, 1, p, 2, 0, 0, 0);
}

TEST(Img16to8bit, TableValuesForBothFormats) {
  const uint16_t samples[] = {0, 8, 9, 2048, 4094, 4095, 65535};
  const uint8_t expected[] = {0, 0, 1, 128, 255, 255, 255};
  BitmapData gray16(7, 1, kFormatGray16, samples, 14);
  BitmapData gray8(7, 1, kFormatGray8, nullptr, 8);
  OpImg16to8bit().Execute(&gray16, &gray8);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(gray8.GetData()[i], expected[i]) << samples[i];

  // Three channels, two rows with padded strides on both sides.
  const uint16_t bgr[] = {0, 9, 2048, 4095, 1, 100, 0, 0, 4094, 65535, 17, 33, 64, 4000, 0, 0};
  BitmapData bgr16(2, 2, kFormatBGR16, bgr, 16);
  BitmapData bgr8(2, 2, kFormatBGR8, nullptr, 8);
  OpImg16to8bit().Execute(&bgr16, &bgr8);
  const uint8_t row0[] = {0, 1, 128, 255, 0, 6};
  const uint8_t row1[] = {255, 255, 1, 2, 4, 249};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(bgr8.GetData()[i], row0[i]);
    EXPECT_EQ(bgr8.GetData()[8 + i], row1[i]);
  }
}

TEST(Img16to8bit, FailuresInTheirOrder) {
  BitmapData bgr16(4, 4, kFormatBGR16, nullptr, 24);
  BitmapData gray8(4, 4, kFormatGray8, nullptr, 4);
  BitmapData bgr8Small(4, 3, kFormatBGR8, nullptr, 12);
  const Failures fails("OpImg16to8bit::Execute");
  EXPECT_TRUE(fails([&] { OpImg16to8bit().Execute(nullptr, &gray8); }, 4));
  EXPECT_TRUE(fails([&] { OpImg16to8bit().Execute(&bgr16, &gray8); }, 2));
  EXPECT_TRUE(fails([&] { OpImg16to8bit().Execute(&bgr16, &bgr8Small); }, 1));
}

}  // namespace
}  // namespace KelvoLibImageProcessing
