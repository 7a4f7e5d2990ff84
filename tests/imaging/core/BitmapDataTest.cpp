#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"

namespace KelvoLibImageProcessing {
namespace {

template <class F>
int CodeOf(F&& f) {
  try {
    f();
  } catch (const IPException& e) {
    return e.GetCode();
  }
  return -1;
}

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
}

TEST(BitmapDataTest, ReverseRows) {
  const std::vector<uint8_t> src = {1, 1, 1, 2, 2, 2, 3, 3, 3};
  BitmapData b;
  b.Initialize(1, 3, 2, src.data(), 3, true);
  EXPECT_EQ(b.GetData()[0], 3);
  EXPECT_EQ(b.GetData()[3], 2);
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

TEST(IPExceptionTest, Texts) {
  EXPECT_STREQ(IPException(0, "BitmapData::Initialize").what(),
               "IPException: Invalid image dimension(s) - BitmapData::Initialize");
  IPException unknown(99, "X::Y");
  EXPECT_EQ(unknown.GetCode(), 99);
  EXPECT_STREQ(unknown.what(), "IPException: Unknown error - X::Y");
  std::string longWhere(3000, 'w');
  IPException cut(26, longWhere.c_str());
  EXPECT_EQ(std::strlen(cut.what()), 1023u);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
