// Every compiled SIMD path of every primitive against the scalar reference,
// on random images of awkward sizes; outputs start as a sentinel so any
// stray write shows. The median and the 4:2:2 conversion are checked on
// every target against their own brute-force oracles beside their other
// tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "hwy/targets.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/reference/ReferencePrimitives.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

namespace ref = kelvo::reference;
using kelvo::testing::ForEachTarget;
using kelvo::testing::SameBytes;
using kelvo::testing::TestImage;

// Runs `check(w, h, rng)` for every awkward size on every target.
template <class Check>
void OnAwkwardSizes(Check check) {
  ForEachTarget([&](const char*) {
    std::mt19937 rng(99);
    for (auto [w, h] : kelvo::testing::AwkwardSizes()) {
      check(w, h, rng);
      if (::testing::Test::HasFailure()) return;
    }
  });
}

TEST(SimdPaths, StaticInitHonoursSwitchAndIsIdempotent) {
  EXPECT_EQ(ippStaticInit(), ippStsNoErr);
  EXPECT_EQ(ippStaticInit(), ippStsNoErr);
  const char* v = std::getenv("KELVO_NO_SIMD");
  if (v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0) {
    EXPECT_EQ(hwy::SupportedTargets(), static_cast<int64_t>(HWY_STATIC_TARGET));
    EXPECT_EQ(hwy::SupportedAndGeneratedTargets().size(), 1u);
  }
}

TEST(SimdPaths, RGBToYUVAndBack) {
  OnAwkwardSizes([](int w, int h, std::mt19937& rng) {
    TestImage<Ipp8u> src(w, h, 3, 0, 2);
    src.FillRandom(rng, 0, 255);
    TestImage<Ipp8u> p[6] = {{w, h}, {w, h}, {w, h}, {w, h}, {w, h}, {w, h}};
    Ipp8u* pa[3] = {p[0].Roi(), p[1].Roi(), p[2].Roi()};
    Ipp8u* pb[3] = {p[3].Roi(), p[4].Roi(), p[5].Roi()};
    ASSERT_EQ(ippiRGBToYUV_8u_C3P3R(src.Roi(), src.Step(), pa, p[0].Step(), {w, h}), 0);
    ASSERT_EQ(ref::RGBToYUV_8u_C3P3R(src.Roi(), src.Step(), pb, p[0].Step(), {w, h}), 0);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(SameBytes(p[i], p[i + 3])) << w << "x" << h;
    // Random planes (not just the image of an RGB) exercise the saturation.
    for (int i = 0; i < 3; ++i) p[i].FillRandom(rng, 0, 255);
    const Ipp8u* ca[3] = {p[0].Roi(), p[1].Roi(), p[2].Roi()};
    TestImage<Ipp8u> a(w, h, 3, 0, 4), b(w, h, 3, 0, 4);
    ASSERT_EQ(ippiYUVToRGB_8u_P3C3R(ca, p[0].Step(), a.Roi(), a.Step(), {w, h}), 0);
    ASSERT_EQ(ref::YUVToRGB_8u_P3C3R(ca, p[0].Step(), b.Roi(), b.Step(), {w, h}), 0);
    ASSERT_TRUE(SameBytes(a, b)) << w << "x" << h;
  });
}

template <class T, class Fn, class RefFn>
void CompareFilter(Fn fn, RefFn refFn, int channels, int border, double lo, double hi) {
  OnAwkwardSizes([&](int w, int h, std::mt19937& rng) {
    TestImage<T> src(w, h, channels, border, 3);
    src.FillRandom(rng, lo, hi);
    TestImage<T> a(w, h, channels, 0, 2), b(w, h, channels, 0, 2);
    ASSERT_EQ(fn(src.Roi(), src.Step(), a.Roi(), a.Step(), IppiSize{w, h}), 0);
    ASSERT_EQ(refFn(src.Roi(), src.Step(), b.Roi(), b.Step(), IppiSize{w, h}), 0);
    ASSERT_TRUE(SameBytes(a, b)) << w << "x" << h;
  });
}

TEST(SimdPaths, GaussLaplaceSharpenCopy) {
  for (IppiMaskSize m : {ippMskSize3x3, ippMskSize5x5}) {
    SCOPED_TRACE(m);
    const int r = m == ippMskSize3x3 ? 1 : 2;
    CompareFilter<Ipp8u>([m](auto... a) { return ippiFilterGauss_8u_C1R(a..., m); },
                         [m](auto... a) { return ref::FilterGauss_8u_C1R(a..., m); }, 1, r, 0, 255);
    CompareFilter<Ipp8u>([m](auto... a) { return ippiFilterGauss_8u_C3R(a..., m); },
                         [m](auto... a) { return ref::FilterGauss_8u_C3R(a..., m); }, 3, r, 0, 255);
    CompareFilter<Ipp8u>([m](auto... a) { return ippiFilterLaplace_8u_C3R(a..., m); },
                         [m](auto... a) { return ref::FilterLaplace_8u_C3R(a..., m); }, 3, r, 0,
                         255);
    CompareFilter<Ipp16s>([m](auto... a) { return ippiFilterLaplace_16s_C3R(a..., m); },
                          [m](auto... a) { return ref::FilterLaplace_16s_C3R(a..., m); }, 3, r,
                          -32768, 32767);
  }
  CompareFilter<Ipp8u>(ippiFilterSharpen_8u_C3R, ref::FilterSharpen_8u_C3R, 3, 1, 0, 255);
  CompareFilter<Ipp16s>(ippiFilterSharpen_16s_C3R, ref::FilterSharpen_16s_C3R, 3, 1, -32768, 32767);
  CompareFilter<Ipp32f>(ippiCopy_32f_C1R, ref::Copy_32f_C1R, 1, 0, -5, 5);
}

template <class T, class Fn, class RefFn>
void CompareConv(Fn fn, RefFn refFn, int channels, double lo, double hi) {
  for (auto [kw, kh] : {std::pair{1, 1}, {3, 3}, {5, 5}, {9, 9}, {4, 2}}) {
    OnAwkwardSizes([&](int w, int h, std::mt19937& rng) {
      TestImage<T> a(w, h, channels, 0, 3), k(kw, kh, channels, 0, 1);
      a.FillRandom(rng, lo, hi);
      k.FillRandom(rng, lo / 4, hi / 4);
      const int ow = w + kw - 1, oh = h + kh - 1;
      TestImage<T> x(ow, oh, channels, 0, 2), y(ow, oh, channels, 0, 2);
      ASSERT_EQ(fn(a.Roi(), a.Step(), IppiSize{w, h}, k.Roi(), k.Step(), IppiSize{kw, kh}, x.Roi(),
                   x.Step()),
                0);
      ASSERT_EQ(refFn(a.Roi(), a.Step(), IppiSize{w, h}, k.Roi(), k.Step(), IppiSize{kw, kh},
                      y.Roi(), y.Step()),
                0);
      ASSERT_TRUE(SameBytes(x, y)) << w << "x" << h << " * " << kw << "x" << kh;
    });
  }
}

TEST(SimdPaths, ConvFull) {
  CompareConv<Ipp32f>(ippiConvFull_32f_C1R, ref::ConvFull_32f_C1R, 1, -10, 10);
  CompareConv<Ipp32f>(ippiConvFull_32f_C3R, ref::ConvFull_32f_C3R, 3, -10, 10);
  CompareConv<Ipp8u>([](auto... a) { return ippiConvFull_8u_C1R(a..., 1); },
                     [](auto... a) { return ref::ConvFull_8u_C1R(a..., 1); }, 1, 0, 255);
  CompareConv<Ipp8u>([](auto... a) { return ippiConvFull_8u_C3R(a..., 3); },
                     [](auto... a) { return ref::ConvFull_8u_C3R(a..., 3); }, 3, 0, 255);
  CompareConv<Ipp16s>([](auto... a) { return ippiConvFull_16s_C1R(a..., 1); },
                      [](auto... a) { return ref::ConvFull_16s_C1R(a..., 1); }, 1, -4000, 4000);
  CompareConv<Ipp16s>([](auto... a) { return ippiConvFull_16s_C3R(a..., 2); },
                      [](auto... a) { return ref::ConvFull_16s_C3R(a..., 2); }, 3, -4000, 4000);
}

// Terms outside the image are skipped, not multiplied by zero: an infinite
// kernel tap must not turn border outputs into NaN, and negative zeros must
// come out as the reference's (a sum of nothing but -0 terms is +0, as it
// starts from +0). Heights from 3 take the rows done one at a time and
// several at once.
TEST(SimdPaths, ConvFullSpecialValues) {
  const float inf = std::numeric_limits<float>::infinity();
  for (int ch : {1, 3}) {
    ForEachTarget([&](const char*) {
      for (int w : {1, 5, 23, 40}) {
        for (int h : {3, 7}) {
          for (bool zeros : {false, true}) {
            std::mt19937 rng(w);
            TestImage<Ipp32f> a(w, h, ch), k(3, 3, ch);
            if (zeros) {
              for (int yy = 0; yy < h; ++yy) {
                for (int xx = 0; xx < w; ++xx) {
                  for (int c = 0; c < ch; ++c) a.At(xx, yy, c) = -0.0f;
                }
              }
              k.FillRandom(rng, 0.5, 1);
            } else {
              a.FillRandom(rng, -2, 2);
              k.FillRandom(rng, -1, 1);
              k.At(2, 1, 0) = inf;
              a.At(0, 0, 0) = -0.0f;
            }
            TestImage<Ipp32f> x(w + 2, h + 2, ch), y(w + 2, h + 2, ch);
            const auto fn = ch == 1 ? ippiConvFull_32f_C1R : ippiConvFull_32f_C3R;
            const auto rf = ch == 1 ? ref::ConvFull_32f_C1R : ref::ConvFull_32f_C3R;
            ASSERT_EQ(fn(a.Roi(), a.Step(), {w, h}, k.Roi(), k.Step(), {3, 3}, x.Roi(), x.Step()),
                      0);
            ASSERT_EQ(rf(a.Roi(), a.Step(), {w, h}, k.Roi(), k.Step(), {3, 3}, y.Roi(), y.Step()),
                      0);
            ASSERT_TRUE(SameBytes(x, y)) << w << "x" << h << (zeros ? " zeros" : "");
            EXPECT_FALSE(std::isnan(x.At(0, 0, 0)));
            if (zeros) {
              EXPECT_FALSE(std::signbit(x.At(w / 2 + 1, h / 2 + 1, 0)));
            }
          }
        }
      }
    });
  }
}

}  // namespace
