// Scaling a still: the sizes asked for, and pixels that are averages when
// shrinking and interpolations when enlarging.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/Scale.h"

namespace {

using kelvo::host::ScaleBgr;
using kelvo::host::ScaledSize;

struct Size {
  int width, height;
};

Size Scaled(int w, int h, int sw, int sh) {
  Size s{-1, -1};
  const std::string error = ScaledSize(w, h, sw, sh, &s.width, &s.height);
  EXPECT_EQ(error, "") << w << "x" << h << " to " << sw << "x" << sh;
  return s;
}

// Grey pixels in one row, as blue-green-red.
std::vector<uint8_t> GreyRow(const std::vector<int>& values) {
  std::vector<uint8_t> row;
  for (const int v : values) row.insert(row.end(), 3, static_cast<uint8_t>(v));
  return row;
}

std::vector<int> Blues(const std::vector<uint8_t>& bgr) {
  std::vector<int> values;
  for (size_t i = 0; i < bgr.size(); i += 3) values.push_back(bgr[i]);
  return values;
}

TEST(ScaledSize, OneSideKeepsTheAspectBothSidesAreExactAndAbsurdSizesAreRefused) {
  const struct {
    int w, h, sw, sh, ew, eh;
  } cases[] = {
      {1920, 1080, 640, 0, 640, 360},  // width alone
      {1920, 1080, 0, 360, 640, 360},  // height alone
      {1000, 333, 500, 0, 500, 167},   // 166.5 rounds up
      {1000, 331, 500, 0, 500, 166},   // 165.5 rounds up too, 165.4 would not
      {999, 500, 0, 3, 6, 3},          // 5.994
      {1000, 1, 10, 0, 10, 1},         // 0.01 is still one pixel
      {1, 1000, 0, 10, 1, 10},        {100, 50, 30, 70, 30, 70},  // both: exactly, aspect ignored
      {123, 45, 0, 0, 123, 45},                                   // neither: kept
      {16, 9, 32, 0, 32, 18},                                     // enlarging
  };
  for (const auto& c : cases) {
    const Size s = Scaled(c.w, c.h, c.sw, c.sh);
    EXPECT_EQ(s.width, c.ew) << c.w << "x" << c.h << " to " << c.sw << "x" << c.sh;
    EXPECT_EQ(s.height, c.eh) << c.w << "x" << c.h << " to " << c.sw << "x" << c.sh;
  }

  int w = 7, h = 7;
  EXPECT_NE(ScaledSize(100, 100, -1, 0, &w, &h), "");
  EXPECT_NE(ScaledSize(0, 100, 10, 0, &w, &h), "");
  const std::string tooLarge = ScaledSize(100, 100, 20000, 20000, &w, &h);
  EXPECT_NE(tooLarge.find("20000 x 20000"), std::string::npos) << tooLarge;
  // The kept side would overflow an int if computed carelessly.
  EXPECT_NE(ScaledSize(1, 2000000000, 2000000000, 0, &w, &h), "");
  EXPECT_NE(ScaledSize(1, 1, 0, 2147483647, &w, &h), "");
  EXPECT_EQ(w, 7) << "a refused size changes nothing";
  EXPECT_EQ(ScaledSize(1, 1, 16384, 16384, &w, &h), "");
  EXPECT_NE(ScaledSize(1, 1, 16384, 16385, &w, &h), "");
}

TEST(ScaleBgr, ShrinkingAveragesAreasAndEnlargingInterpolates) {
  // Three pixels into two: each output covers one and a half.
  EXPECT_EQ(Blues(ScaleBgr(GreyRow({0, 90, 180}).data(), 3, 1, 9, 2, 1)),
            (std::vector<int>{30, 150}));
  // Two into four: centres at -1/4, 1/4, 3/4, 5/4 of the source.
  EXPECT_EQ(Blues(ScaleBgr(GreyRow({0, 100}).data(), 2, 1, 6, 4, 1)),
            (std::vector<int>{0, 25, 75, 100}));
  // Vertically too: a column of two into one averages, halves rounded up.
  EXPECT_EQ(Blues(ScaleBgr(GreyRow({10, 21}).data(), 1, 2, 3, 1, 1)), (std::vector<int>{16}));

  // An integer shrink is the mean of each block, channel by channel, and the
  // source rows are read at their stride.
  const int w = 12, h = 9, stride = w * 3 + 5;
  std::vector<uint8_t> src(static_cast<size_t>(stride) * h, 0xEE);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x)
      src[y * stride + x] = static_cast<uint8_t>((x * 37 + y * 91) % 256);
  const std::vector<uint8_t> out = ScaleBgr(src.data(), w, h, stride, 4, 3);
  ASSERT_EQ(out.size(), 4u * 3 * 3);
  for (int oy = 0; oy < 3; ++oy)
    for (int ox = 0; ox < 4; ++ox)
      for (int c = 0; c < 3; ++c) {
        int sum = 0;
        for (int y = oy * 3; y < oy * 3 + 3; ++y)
          for (int x = ox * 3; x < ox * 3 + 3; ++x) sum += src[y * stride + x * 3 + c];
        EXPECT_EQ(out[(oy * 4 + ox) * 3 + c], (2 * sum + 9) / 18) << ox << "," << oy << " " << c;
      }

  // A flat picture stays flat at any size, up or down, odd or even.
  const std::vector<uint8_t> flat(37 * 23 * 3, 201);
  for (const Size s : {Size{10, 7}, Size{80, 50}, Size{1, 1}, Size{37, 1}, Size{200, 3}}) {
    const std::vector<uint8_t> scaled = ScaleBgr(flat.data(), 37, 23, 37 * 3, s.width, s.height);
    ASSERT_EQ(scaled.size(), static_cast<size_t>(s.width) * s.height * 3);
    EXPECT_EQ(scaled, std::vector<uint8_t>(scaled.size(), 201)) << s.width << "x" << s.height;
  }

  // The same size is the picture itself, without the row padding.
  const std::vector<uint8_t> same = ScaleBgr(src.data(), w, h, stride, w, h);
  for (int y = 0; y < h; ++y)
    EXPECT_TRUE(std::equal(same.begin() + y * w * 3, same.begin() + (y + 1) * w * 3,
                           src.begin() + y * stride));
}

}  // namespace
