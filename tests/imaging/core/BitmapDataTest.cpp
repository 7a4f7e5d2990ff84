#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::CodeOf;

TEST(BitmapDataTest, DimensionsAreCheckedBeforeFormat) {
  BitmapData b;
  EXPECT_EQ(CodeOf([&] { b.Initialize(0, 5, 9, nullptr, 100); }), 0);
  EXPECT_EQ(CodeOf([&] { b.Initialize(10, 1, 3, nullptr, 59); }), 6);
  // The shape is stored before the stride check failed.
  EXPECT_EQ(b.GetWidth(), 10);
  EXPECT_EQ(b.GetStride(), 59);
  EXPECT_EQ(b.GetFormat(), 3);
  EXPECT_EQ(b.GetData(), nullptr);
  EXPECT_EQ(CodeOf([&] { b.Initialize(10, 1, -1, nullptr, 60); }), 2);
  // 3 * width does not fit an int: refused as a stride failure, no overflow.
  EXPECT_EQ(CodeOf([] { BitmapData big(800000000, 1); }), 6);
}

TEST(BitmapDataTest, ReinitialiseFromOwnPixels) {
  // Flipping an image in place: the source is the container's own buffer,
  // which must stay readable until the copy is done.
  const std::vector<uint8_t> src = {1, 1, 1, 2, 2, 2, 3, 3, 3};
  BitmapData b(1, 3, kFormatBGR8, src.data(), 3);
  b.Initialize(1, 3, kFormatBGR8, b.GetData(), 3, true);
  EXPECT_EQ(b.GetData()[0], 3);
  EXPECT_EQ(b.GetData()[3], 2);
  EXPECT_EQ(b.GetData()[6], 1);
  b.Initialize(1, 3, kFormatBGR8, b.GetData(), 3);
  EXPECT_EQ(b.GetData()[0], 3);
  EXPECT_EQ(b.GetData()[6], 1);
}

TEST(BitmapDataTest, CopyDataSmallerStride) {
  std::vector<uint8_t> src(32 * 2);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
  BitmapData a(10, 2, 2, src.data(), 32);
  BitmapData b(10, 2, 2, nullptr, 30);
  UtilitiesGeneral::CopyData(&a, &b);
  EXPECT_EQ(std::memcmp(b.GetData(), src.data(), 30), 0);
  EXPECT_EQ(std::memcmp(b.GetData() + 30, src.data() + 32, 30), 0);
  // A container onto itself is a no-op even without pixels (a failed stride
  // check leaves the shape stored and the buffer null).
  BitmapData noPixels;
  EXPECT_EQ(CodeOf([&] { noPixels.Initialize(4, 4, 2, nullptr, 1); }), 6);
  UtilitiesGeneral::CopyData(&noPixels, &noPixels);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&noPixels, &b); }), 1);
}

TEST(BitmapDataTest, CopyDataChecksInOrder) {
  BitmapData a(4, 2);
  a.FillWhite();
  BitmapData gray(4, 2, kFormatGray8, nullptr, 4);
  BitmapData wider(5, 2);
  BitmapData empty;
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(nullptr, &a); }), 4);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&a, nullptr); }), 4);
  // Formats before dimensions, source dimensions before the destination's.
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&gray, &wider); }), 3);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&empty, &gray); }), 0);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&a, &wider); }), 1);
  // Same shape, destination without pixels.
  BitmapData shapeOnly;
  EXPECT_EQ(CodeOf([&] { shapeOnly.Initialize(4, 2, kFormatBGR8, nullptr, 11); }), 6);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&a, &shapeOnly); }), 5);
  EXPECT_EQ(CodeOf([&] { UtilitiesGeneral::CopyData(&shapeOnly, &a); }), 5);

  BitmapData b(4, 2);
  b.FillBlack();
  UtilitiesGeneral::CopyData(&a, &b);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(b.GetData()[i], 255) << i;
}

TEST(BitmapDataTest, FillReleaseAndMove) {
  BitmapData a(3, 2, kFormatBGR16, nullptr, 20);
  EXPECT_EQ(a.GetNumChannels(), 3);
  EXPECT_EQ(a.GetBytesPerChannel(), 2);
  a.FillWhite();  // the whole stride, padding included
  for (int i = 0; i < 40; ++i) ASSERT_EQ(a.GetData()[i], 255) << i;
  a.FillBlack();
  for (int i = 0; i < 40; ++i) ASSERT_EQ(a.GetData()[i], 0) << i;

  BitmapData b(std::move(a));
  EXPECT_EQ(a.GetData(), nullptr);
  EXPECT_EQ(a.GetWidth(), 0);
  EXPECT_EQ(b.GetWidth(), 3);
  EXPECT_EQ(b.GetStride(), 20);
  EXPECT_EQ(b.GetFormat(), kFormatBGR16);

  b.Release();
  EXPECT_EQ(b.GetData(), nullptr);
  EXPECT_EQ(b.GetWidth(), 0);
  EXPECT_EQ(b.GetHeight(), 0);
  EXPECT_EQ(b.GetStride(), 0);
  b.FillWhite();  // nothing to fill, and no crash

  BitmapData unknown;
  EXPECT_EQ(CodeOf([&] { unknown.Initialize(2, 2, 7, nullptr, 100); }), 2);
  EXPECT_EQ(unknown.GetNumChannels(), 0);
  EXPECT_EQ(unknown.GetBytesPerChannel(), 0);
}

TEST(IPExceptionTest, Texts) {
  EXPECT_STREQ(IPException(ErrorCode::kInvalidDimensions, "BitmapData::Initialize").what(),
               "IPException: Invalid image dimension(s) - BitmapData::Initialize");
  IPException unknown(static_cast<ErrorCode>(99), "X::Y");
  EXPECT_EQ(unknown.GetCode(), 99);
  EXPECT_STREQ(unknown.what(), "IPException: Unknown error - X::Y");
  std::string longWhere(3000, 'w');
  IPException cut(ErrorCode::kGeneral, longWhere.c_str());
  EXPECT_EQ(std::strlen(cut.what()), 1023u);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
