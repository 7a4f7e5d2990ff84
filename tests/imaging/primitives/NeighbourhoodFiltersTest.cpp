// Gauss, Laplace, Sharpen and Median against plain kernels written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "imaging/primitives/Primitives.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

using kelvo::testing::TestImage;

struct Kernel {
  int size;
  std::vector<int> taps;
  int divisor;
};

const Kernel kGauss3{3, {1, 2, 1, 2, 4, 2, 1, 2, 1}, 16};
const Kernel kGauss5{
    5,
    {2, 7, 12, 7, 2, 7, 31, 52, 31, 7, 12, 52, 127, 52, 12, 7, 31, 52, 31, 7, 2, 7, 12, 7, 2},
    571};
const Kernel kLaplace3{3, {-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1};
const Kernel kLaplace5{
    5,
    {-1, -3, -4, -3, -1, -3, 0, 6, 0, -3, -4, 6, 20, 6, -4, -3, 0, 6, 0, -3, -1, -3, -4, -3, -1},
    1};
const Kernel kSharpen{3, {-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8};

// Rounds half toward positive infinity, then saturates to T.
template <class T>
T RoundSat(double v) {
  const double lo = std::is_same_v<T, Ipp8u> ? 0 : -32768;
  const double hi = std::is_same_v<T, Ipp8u> ? 255 : 32767;
  return static_cast<T>(std::clamp(std::floor(v + 0.5), lo, hi));
}

template <class T>
TestImage<T> ExpectedFilter(const TestImage<T>& src, const Kernel& k, int w, int h) {
  TestImage<T> out(w, h, src.Channels());
  const int r = k.size / 2;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < src.Channels(); ++c) {
        double sum = 0;
        for (int j = -r; j <= r; ++j)
          for (int i = -r; i <= r; ++i)
            sum +=
                k.taps[(j + r) * k.size + (i + r)] * static_cast<double>(src.At(x + i, y + j, c));
        out.At(x, y, c) = RoundSat<T>(sum / k.divisor);
      }
  return out;
}

template <class T, class Fn>
void CheckFilter(Fn fn, const Kernel& k, int channels, double lo, double hi) {
  std::mt19937 rng(k.size * 100 + channels);
  for (auto [w, h] : {std::pair{1, 1}, {5, 3}, {13, 7}, {40, 2}}) {
    TestImage<T> src(w, h, channels, k.size / 2, 5);
    src.FillRandom(rng, lo, hi);
    TestImage<T> dst(w, h, channels);
    ASSERT_EQ(fn(src.Roi(), src.Step(), dst.Roi(), dst.Step(), IppiSize{w, h}), ippStsNoErr);
    EXPECT_TRUE(kelvo::testing::SameBytes(dst, ExpectedFilter(src, k, w, h)))
        << w << "x" << h << " kernel " << k.size;
  }
}

// Random 16-bit samples over the whole range reach both saturation ends; a
// narrow range checks the unsaturated sums and the rounding of halves.
TEST(FixedFilters, MatchPlainKernels) {
  for (IppiMaskSize m : {ippMskSize3x3, ippMskSize5x5}) {
    SCOPED_TRACE(m);
    const bool small = m == ippMskSize3x3;
    const Kernel& gauss = small ? kGauss3 : kGauss5;
    const Kernel& laplace = small ? kLaplace3 : kLaplace5;
    CheckFilter<Ipp8u>([m](auto... a) { return ippiFilterGauss_8u_C1R(a..., m); }, gauss, 1, 0,
                       255);
    CheckFilter<Ipp8u>([m](auto... a) { return ippiFilterGauss_8u_C3R(a..., m); }, gauss, 3, 0,
                       255);
    CheckFilter<Ipp8u>([m](auto... a) { return ippiFilterLaplace_8u_C3R(a..., m); }, laplace, 3, 0,
                       255);
    for (const auto& [lo, hi] : {std::pair{-32768, 32767}, {0, 4095}})
      CheckFilter<Ipp16s>([m](auto... a) { return ippiFilterLaplace_16s_C3R(a..., m); }, laplace, 3,
                          lo, hi);
  }
  CheckFilter<Ipp8u>(ippiFilterSharpen_8u_C3R, kSharpen, 3, 0, 255);
  CheckFilter<Ipp16s>(ippiFilterSharpen_16s_C3R, kSharpen, 3, -32768, 32767);
  CheckFilter<Ipp16s>(ippiFilterSharpen_16s_C3R, kSharpen, 3, -50, 50);
}

TEST(FixedFilters, StatusCodes) {
  Ipp8u b8[256] = {};
  Ipp16s b16[256] = {};
  const IppiSize ok{2, 2};
  for (IppiSize bad : {IppiSize{0, 2}, IppiSize{2, 0}, IppiSize{-1, -1}}) {
    EXPECT_EQ(ippiFilterGauss_8u_C1R(b8 + 64, 16, b8 + 160, 16, bad, ippMskSize3x3), ippStsSizeErr);
    EXPECT_EQ(ippiFilterGauss_8u_C3R(b8 + 64, 32, b8 + 160, 16, bad, ippMskSize5x5), ippStsSizeErr);
    EXPECT_EQ(ippiFilterLaplace_8u_C3R(b8 + 64, 32, b8 + 160, 16, bad, ippMskSize3x3),
              ippStsSizeErr);
    EXPECT_EQ(ippiFilterLaplace_16s_C3R(b16 + 64, 32, b16 + 160, 16, bad, ippMskSize3x3),
              ippStsSizeErr);
    EXPECT_EQ(ippiFilterSharpen_8u_C3R(b8 + 64, 32, b8 + 160, 16, bad), ippStsSizeErr);
    EXPECT_EQ(ippiFilterSharpen_16s_C3R(b16 + 64, 32, b16 + 160, 16, bad), ippStsSizeErr);
  }
  EXPECT_EQ(ippiFilterGauss_8u_C1R(b8 + 64, 16, b8 + 160, 16, ok, static_cast<IppiMaskSize>(44)),
            ippStsSizeErr);
  EXPECT_EQ(
      ippiFilterLaplace_16s_C3R(b16 + 64, 32, b16 + 160, 16, ok, static_cast<IppiMaskSize>(0)),
      ippStsSizeErr);
  EXPECT_EQ(ippiFilterGauss_8u_C1R(nullptr, 16, b8, 16, ok, ippMskSize3x3), ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterGauss_8u_C3R(b8 + 64, 16, nullptr, 16, ok, ippMskSize3x3), ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterLaplace_8u_C3R(nullptr, 16, b8, 16, ok, ippMskSize5x5), ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterLaplace_16s_C3R(b16 + 64, 16, nullptr, 16, ok, ippMskSize5x5),
            ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterSharpen_8u_C3R(nullptr, 16, b8, 16, ok), ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterSharpen_16s_C3R(b16 + 64, 16, nullptr, 16, ok), ippStsNullPtrErr);
  for (Ipp8u v : b8) EXPECT_EQ(v, 0);
}

// ---- Median ---------------------------------------------------------------

template <class T>
TestImage<T> ExpectedMedian(const TestImage<T>& src, int w, int h, IppiSize m, IppiPoint a) {
  TestImage<T> out(w, h);
  std::vector<T> win;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      win.clear();
      for (int j = 0; j < m.height; ++j)
        for (int i = 0; i < m.width; ++i) win.push_back(src.At(x - a.x + i, y - a.y + j));
      std::nth_element(win.begin(), win.begin() + win.size() / 2, win.end());
      out.At(x, y) = win[win.size() / 2];
    }
  return out;
}

template <class T, class Fn>
void CheckMedian(Fn fn, double lo, double hi) {
  std::mt19937 rng(sizeof(T));
  struct Case {
    IppiSize mask;
    IppiPoint anchor;
  };
  const Case cases[] = {{{1, 1}, {0, 0}}, {{3, 3}, {1, 1}}, {{5, 5}, {2, 2}},
                        {{7, 7}, {3, 3}}, {{3, 3}, {0, 2}}, {{5, 5}, {4, 0}},
                        {{3, 5}, {1, 2}}, {{5, 1}, {3, 0}}, {{1, 7}, {0, 6}}};
  for (const Case& c : cases) {
    for (auto [w, h] : {std::pair{1, 1}, {6, 2}, {19, 5}, {35, 3}}) {
      // Border large enough for any anchor of these masks.
      TestImage<T> src(w, h, 1, 7, 3);
      src.FillRandom(rng, lo, hi);
      TestImage<T> dst(w, h);
      ASSERT_EQ(fn(src.Roi(), src.Step(), dst.Roi(), dst.Step(), IppiSize{w, h}, c.mask, c.anchor),
                ippStsNoErr);
      EXPECT_TRUE(kelvo::testing::SameBytes(dst, ExpectedMedian(src, w, h, c.mask, c.anchor)))
          << "mask " << c.mask.width << "x" << c.mask.height << " anchor " << c.anchor.x << ","
          << c.anchor.y << " roi " << w << "x" << h;
    }
  }
}

TEST(FilterMedian, EveryMaskShapeAndAnchor) {
  CheckMedian<Ipp8u>(ippiFilterMedian_8u_C1R, 0, 255);
  CheckMedian<Ipp16s>(ippiFilterMedian_16s_C1R, -32768, 32767);
  CheckMedian<Ipp16s>(ippiFilterMedian_16s_C1R, 0, 4);  // many ties
}

// Rows wider than a vector of any target, with every remainder, so the
// whole-vector loop and the ragged end (a vector overlapping the last one,
// or partial vectors on narrow rows) all meet the plain median; odd and even
// heights, as 5 x 5 rows are filtered in pairs.
template <class T, class Fn>
void CheckMedianWideRows(Fn fn, double lo, double hi) {
  std::mt19937 rng(7 * sizeof(T));
  const IppiSize masks[] = {{3, 3}, {5, 5}};
  kelvo::testing::ForEachTarget([&](const char*) {
    for (const IppiSize mask : masks) {
      for (const IppiPoint anchor : {IppiPoint{mask.width / 2, mask.height / 2}, IppiPoint{0, 1}}) {
        for (int w : {15, 16, 17, 31, 33, 63, 64, 65, 100, 127, 128, 129, 150}) {
          const int h = 1 + w % 4;
          TestImage<T> src(w, h, 1, 5, 3);
          src.FillRandom(rng, lo, hi);
          TestImage<T> dst(w, h);
          ASSERT_EQ(fn(src.Roi(), src.Step(), dst.Roi(), dst.Step(), IppiSize{w, h}, mask, anchor),
                    ippStsNoErr);
          EXPECT_TRUE(kelvo::testing::SameBytes(dst, ExpectedMedian(src, w, h, mask, anchor)))
              << "mask " << mask.width << " anchor " << anchor.x << "," << anchor.y << " width "
              << w;
        }
      }
    }
  });
}

TEST(FilterMedian, WideRowsOnEveryTarget) {
  CheckMedianWideRows<Ipp8u>(ippiFilterMedian_8u_C1R, 0, 255);
  CheckMedianWideRows<Ipp8u>(ippiFilterMedian_8u_C1R, 10, 13);  // many ties
  CheckMedianWideRows<Ipp16s>(ippiFilterMedian_16s_C1R, -32768, 32767);
}

TEST(FilterMedian, StatusCodes) {
  Ipp8u b8[400] = {};
  Ipp16s b16[400] = {};
  const IppiSize roi{2, 2};
  EXPECT_EQ(ippiFilterMedian_8u_C1R(b8 + 100, 20, b8 + 300, 20, roi, {4, 3}, {1, 1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_8u_C1R(b8 + 100, 20, b8 + 300, 20, roi, {3, 2}, {1, 1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_16s_C1R(b16 + 100, 20, b16 + 300, 20, roi, {3, 3}, {3, 1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_16s_C1R(b16 + 100, 20, b16 + 300, 20, roi, {3, 3}, {1, -1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_8u_C1R(b8 + 100, 20, b8 + 300, 20, roi, {0, 0}, {0, 0}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_8u_C1R(b8 + 100, 20, b8 + 300, 20, {0, 2}, {3, 3}, {1, 1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_16s_C1R(b16 + 100, 20, b16 + 300, 20, {2, -3}, {3, 3}, {1, 1}),
            ippStsSizeErr);
  EXPECT_EQ(ippiFilterMedian_8u_C1R(nullptr, 20, b8, 20, roi, {3, 3}, {1, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiFilterMedian_16s_C1R(b16 + 100, 20, nullptr, 20, roi, {3, 3}, {1, 1}),
            ippStsNullPtrErr);
  for (Ipp8u v : b8) EXPECT_EQ(v, 0);
  for (Ipp16s v : b16) EXPECT_EQ(v, 0);
}

}  // namespace
