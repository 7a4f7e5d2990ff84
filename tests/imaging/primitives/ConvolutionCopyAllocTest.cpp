// Full convolution, the float copy and the allocators.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/primitives/Primitives.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

using kelvo::testing::TestImage;

// Full convolution in double, rounded half up and saturated for integers.
template <class T>
TestImage<T> ExpectedConvInt(const TestImage<T>& a, const TestImage<T>& k, int divisor) {
  const int ow = a.Width() + k.Width() - 1, oh = a.Height() + k.Height() - 1;
  TestImage<T> out(ow, oh, a.Channels());
  const double lo = std::is_same_v<T, Ipp8u> ? 0 : -32768;
  const double hi = std::is_same_v<T, Ipp8u> ? 255 : 32767;
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      for (int c = 0; c < a.Channels(); ++c) {
        double s = 0;
        for (int j = 0; j < a.Height(); ++j)
          for (int i = 0; i < a.Width(); ++i) {
            const int u = x - i, v = y - j;
            if (u >= 0 && v >= 0 && u < k.Width() && v < k.Height())
              s += static_cast<double>(a.At(i, j, c)) * k.At(u, v, c);
          }
        out.At(x, y, c) = static_cast<T>(std::clamp(std::floor(s / divisor + 0.5), lo, hi));
      }
  return out;
}

template <class T, class Fn>
void CheckConvInt(Fn fn, int channels, double lo, double hi, int divisor) {
  std::mt19937 rng(channels * 10 + divisor);
  for (auto [w1, h1, w2, h2] : {std::array{1, 1, 1, 1},
                                {7, 3, 3, 3},
                                {4, 5, 5, 5},
                                {2, 9, 9, 2},
                                {11, 4, 1, 3},
                                {9, 4, 1, 1}}) {
    TestImage<T> a(w1, h1, channels, 0, 3), k(w2, h2, channels, 0, 1);
    a.FillRandom(rng, lo, hi);
    k.FillRandom(rng, lo / 8, hi / 8);
    TestImage<T> out(w1 + w2 - 1, h1 + h2 - 1, channels);
    ASSERT_EQ(fn(a.Roi(), a.Step(), IppiSize{w1, h1}, k.Roi(), k.Step(), IppiSize{w2, h2},
                 out.Roi(), out.Step(), divisor),
              ippStsNoErr);
    EXPECT_TRUE(kelvo::testing::SameBytes(out, ExpectedConvInt(a, k, divisor)))
        << w1 << "x" << h1 << " * " << w2 << "x" << h2 << " / " << divisor;
  }
}

TEST(ConvFull, IntegerVariantsRoundAndSaturate) {
  for (int divisor : {1, 2, 7}) {
    CheckConvInt<Ipp8u>(ippiConvFull_8u_C1R, 1, 0, 255, divisor);
    CheckConvInt<Ipp8u>(ippiConvFull_8u_C3R, 3, 0, 255, divisor);
    CheckConvInt<Ipp16s>(ippiConvFull_16s_C1R, 1, -2000, 2000, divisor);
    CheckConvInt<Ipp16s>(ippiConvFull_16s_C3R, 3, -32768, 32767, divisor);
  }
}

// The float sum runs over the second image in memory order, term by term.
TestImage<Ipp32f> ExpectedConvFloat(const TestImage<Ipp32f>& a, const TestImage<Ipp32f>& k) {
  const int ow = a.Width() + k.Width() - 1, oh = a.Height() + k.Height() - 1;
  TestImage<Ipp32f> out(ow, oh, a.Channels());
  for (int y = 0; y < oh; ++y)
    for (int x = 0; x < ow; ++x)
      for (int c = 0; c < a.Channels(); ++c) {
        float s = 0;
        for (int v = 0; v < k.Height(); ++v)
          for (int u = 0; u < k.Width(); ++u) {
            const int i = x - u, j = y - v;
            if (i < 0 || j < 0 || i >= a.Width() || j >= a.Height()) continue;
            const float p = a.At(i, j, c) * k.At(u, v, c);
            s = s + p;
          }
        out.At(x, y, c) = s;
      }
  return out;
}

TEST(ConvFull, FloatOrderIsFixed) {
  std::mt19937 rng(2);
  for (int ch : {1, 3}) {
    for (auto [w1, h1, w2, h2] :
         {std::array{1, 1, 1, 1}, {13, 5, 3, 3}, {6, 6, 9, 9}, {3, 2, 5, 5}, {40, 3, 9, 1}}) {
      TestImage<Ipp32f> a(w1, h1, ch, 0, 2), k(w2, h2, ch, 0, 1);
      a.FillRandom(rng, -100, 100);
      k.FillRandom(rng, -1, 1);
      TestImage<Ipp32f> out(w1 + w2 - 1, h1 + h2 - 1, ch);
      const auto fn = ch == 1 ? ippiConvFull_32f_C1R : ippiConvFull_32f_C3R;
      ASSERT_EQ(fn(a.Roi(), a.Step(), {w1, h1}, k.Roi(), k.Step(), {w2, h2}, out.Roi(), out.Step()),
                0);
      EXPECT_TRUE(kelvo::testing::SameBytes(out, ExpectedConvFloat(a, k)))
          << ch << "ch " << w1 << "x" << h1 << " * " << w2 << "x" << h2;
    }
  }
}

TEST(ConvFull, StatusCodes) {
  Ipp8u b[64] = {};
  Ipp16s s[64] = {};
  Ipp32f f[64] = {};
  EXPECT_EQ(ippiConvFull_8u_C1R(b, 4, {0, 1}, b, 4, {1, 1}, b + 32, 4, 1), ippStsSizeErr);
  EXPECT_EQ(ippiConvFull_8u_C3R(b, 4, {1, 1}, b, 4, {1, -1}, b + 32, 4, 1), ippStsSizeErr);
  EXPECT_EQ(ippiConvFull_16s_C1R(s, 4, {1, 1}, s, 4, {1, 1}, s + 32, 4, 0), ippStsSizeErr);
  EXPECT_EQ(ippiConvFull_16s_C3R(s, 4, {1, 1}, s, 4, {1, 1}, s + 32, 4, -2), ippStsSizeErr);
  EXPECT_EQ(ippiConvFull_32f_C1R(f, 4, {2, 0}, f, 4, {1, 1}, f + 32, 4), ippStsSizeErr);
  EXPECT_EQ(ippiConvFull_8u_C1R(nullptr, 4, {1, 1}, b, 4, {1, 1}, b + 32, 4, 1), ippStsNullPtrErr);
  EXPECT_EQ(ippiConvFull_16s_C3R(s, 4, {1, 1}, nullptr, 4, {1, 1}, s + 32, 4, 1), ippStsNullPtrErr);
  EXPECT_EQ(ippiConvFull_32f_C3R(f, 4, {1, 1}, f, 4, {1, 1}, nullptr, 4), ippStsNullPtrErr);
  for (Ipp8u v : b) EXPECT_EQ(v, 0);
}

TEST(Copy32f, HonoursBothStepsAndStatus) {
  std::mt19937 rng(4);
  TestImage<Ipp32f> src(7, 3, 1, 0, 5), dst(7, 3, 1, 0, 1);
  src.FillRandom(rng, -1, 1);
  ASSERT_EQ(ippiCopy_32f_C1R(src.Roi(), src.Step(), dst.Roi(), dst.Step(), {7, 3}), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) EXPECT_EQ(dst.At(x, y), src.At(x, y));
  EXPECT_EQ(dst.Raw().back(), TestImage<Ipp32f>::Sentinel());
  EXPECT_EQ(ippiCopy_32f_C1R(nullptr, 4, dst.Roi(), 4, {1, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiCopy_32f_C1R(src.Roi(), 4, nullptr, 4, {1, 1}), ippStsNullPtrErr);
  EXPECT_EQ(ippiCopy_32f_C1R(src.Roi(), 4, dst.Roi(), 4, {0, 1}), ippStsSizeErr);
  EXPECT_EQ(ippiCopy_32f_C1R(src.Roi(), 4, dst.Roi(), 4, {1, 0}), ippStsSizeErr);
}

TEST(Allocation, AlignedFirstPixelAndStep) {
  struct Alloc {
    void* (*fn)(int, int, int*);
    int bytesPerPixel;
  };
  const Alloc allocs[] = {
      {[](int w, int h, int* s) -> void* { return ippiMalloc_8u_C1(w, h, s); }, 1},
      {[](int w, int h, int* s) -> void* { return ippiMalloc_8u_C3(w, h, s); }, 3},
      {[](int w, int h, int* s) -> void* { return ippiMalloc_16u_C3(w, h, s); }, 6},
      {[](int w, int h, int* s) -> void* { return ippiMalloc_16s_C3(w, h, s); }, 6}};
  for (const Alloc& a : allocs) {
    for (auto [w, h] : {std::pair{1, 1}, {31, 3}, {33, 2}, {640, 7}}) {
      int step = -1;
      void* p = a.fn(w, h, &step);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
      EXPECT_EQ(step % 32, 0);
      EXPECT_GE(step, w * a.bytesPerPixel);
      EXPECT_LT(step, w * a.bytesPerPixel + 32);
      std::memset(p, 0xAB, static_cast<size_t>(step) * h);  // whole block is usable
      ippiFree(p);
    }
    int step = 0;
    EXPECT_EQ(a.fn(0, 5, &step), nullptr);
    EXPECT_EQ(a.fn(5, -1, &step), nullptr);
  }
  ippiFree(nullptr);
}

TEST(Allocation, SignalBlock) {
  for (int len : {1, 31, 32, 1000}) {
    Ipp8u* p = ippsMalloc_8u(len);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 32, 0u);
    std::memset(p, 1, static_cast<size_t>(len));
    ippsFree(p);
  }
  EXPECT_EQ(ippsMalloc_8u(0), nullptr);
  EXPECT_EQ(ippsMalloc_8u(-4), nullptr);
  ippsFree(nullptr);
}

}  // namespace
