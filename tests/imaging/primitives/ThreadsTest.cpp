// Every primitive that splits its rows into bands gives the same bytes on
// 1, 2, 3 and 7 threads, on sizes from a single pixel to a full-HD frame
// (odd sizes leave short last bands), with sentinels around every output.
// The suite runs once with SIMD and once without.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/Threads.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace {

using kelvo::testing::TestImage;

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{1, 1}, {3, 5}, {641, 479}, {1920, 1080}};
constexpr int kCounts[] = {2, 3, 7};

// Restores the default count however a test ends.
struct DefaultThreadsAfter {
  ~DefaultThreadsAfter() { kelvo::SetThreads(0); }
};

// The bytes of every image given, one after the other.
template <class... T>
std::vector<uint8_t> Raw(const TestImage<T>&... images) {
  std::vector<uint8_t> out;
  const auto add = [&](const auto& image) {
    const auto* p = reinterpret_cast<const uint8_t*>(image.Raw().data());
    out.insert(out.end(), p, p + image.Raw().size() * sizeof(image.Raw()[0]));
  };
  (add(images), ...);
  return out;
}

// run() computes into fresh outputs and returns their bytes; every count
// must give what one thread gives.
void ExpectSameOnEveryCount(const char* what, Size s,
                            const std::function<std::vector<uint8_t>()>& run) {
  DefaultThreadsAfter restore;
  SCOPED_TRACE(::testing::Message() << what << " " << s.w << "x" << s.h);
  kelvo::SetThreads(1);
  const std::vector<uint8_t> one = run();
  for (int count : kCounts) {
    kelvo::SetThreads(count);
    EXPECT_TRUE(run() == one) << count << " threads";
  }
}

template <class T>
TestImage<T> Random(Size s, int channels, int border, double lo, double hi, uint32_t seed) {
  TestImage<T> image(s.w, s.h, channels, border);
  std::mt19937 rng(seed);
  image.FillRandom(rng, lo, hi);
  return image;
}

TEST(ThreadsTest, NeighbourhoodFiltersAreTheSameOnAnyCount) {
  ippStaticInit();
  for (Size s : kSizes) {
    const auto src8 = Random<Ipp8u>(s, 1, 2, 0, 255, 1);
    const auto src8c3 = Random<Ipp8u>(s, 3, 2, 0, 255, 2);
    const auto src16 = Random<Ipp16s>(s, 1, 2, -4096, 4095, 3);
    const IppiSize roi{s.w, s.h};
    ExpectSameOnEveryCount("median 3x3 and 5x5 8u, 5x5 16s", s, [&] {
      TestImage<Ipp8u> m3(s.w, s.h, 1, 1), m5(s.w, s.h, 1, 1);
      TestImage<Ipp16s> m16(s.w, s.h, 1, 1);
      EXPECT_EQ(ippiFilterMedian_8u_C1R(src8.Roi(), src8.Step(), m3.Roi(), m3.Step(), roi,
                                        IppiSize{3, 3}, IppiPoint{1, 1}),
                ippStsNoErr);
      EXPECT_EQ(ippiFilterMedian_8u_C1R(src8.Roi(), src8.Step(), m5.Roi(), m5.Step(), roi,
                                        IppiSize{5, 5}, IppiPoint{2, 2}),
                ippStsNoErr);
      EXPECT_EQ(ippiFilterMedian_16s_C1R(src16.Roi(), src16.Step(), m16.Roi(), m16.Step(), roi,
                                         IppiSize{5, 5}, IppiPoint{2, 2}),
                ippStsNoErr);
      return Raw(m3, m5, m16);
    });
    ExpectSameOnEveryCount("gauss 5x5 8u C1 and C3", s, [&] {
      TestImage<Ipp8u> c1(s.w, s.h, 1, 1), c3(s.w, s.h, 3, 1);
      EXPECT_EQ(
          ippiFilterGauss_8u_C1R(src8.Roi(), src8.Step(), c1.Roi(), c1.Step(), roi, ippMskSize5x5),
          ippStsNoErr);
      EXPECT_EQ(ippiFilterGauss_8u_C3R(src8c3.Roi(), src8c3.Step(), c3.Roi(), c3.Step(), roi,
                                       ippMskSize5x5),
                ippStsNoErr);
      return Raw(c1, c3);
    });
    ExpectSameOnEveryCount("laplace and sharpen 8u C3", s, [&] {
      TestImage<Ipp8u> lap(s.w, s.h, 3, 1), sharp(s.w, s.h, 3, 1);
      EXPECT_EQ(ippiFilterLaplace_8u_C3R(src8c3.Roi(), src8c3.Step(), lap.Roi(), lap.Step(), roi,
                                         ippMskSize3x3),
                ippStsNoErr);
      EXPECT_EQ(
          ippiFilterSharpen_8u_C3R(src8c3.Roi(), src8c3.Step(), sharp.Roi(), sharp.Step(), roi),
          ippStsNoErr);
      return Raw(lap, sharp);
    });
  }
}

TEST(ThreadsTest, FullConvolutionsAreTheSameOnAnyCount) {
  ippStaticInit();
  for (Size s : kSizes) {
    const auto src1 = Random<Ipp32f>(s, 1, 0, -100.0, 100.0, 4);
    const auto src3 = Random<Ipp32f>(s, 3, 0, -100.0, 100.0, 5);
    const auto k3 = Random<Ipp32f>(Size{3, 3}, 1, 0, -1.0, 1.0, 6);
    const auto k5 = Random<Ipp32f>(Size{5, 5}, 3, 0, -1.0, 1.0, 7);
    ExpectSameOnEveryCount("conv full 3x3 32f C1", s, [&] {
      TestImage<Ipp32f> dst(s.w + 2, s.h + 2, 1, 1);
      EXPECT_EQ(ippiConvFull_32f_C1R(src1.Roi(), src1.Step(), {s.w, s.h}, k3.Roi(), k3.Step(),
                                     {3, 3}, dst.Roi(), dst.Step()),
                ippStsNoErr);
      return Raw(dst);
    });
    ExpectSameOnEveryCount("conv full 5x5 32f C3", s, [&] {
      TestImage<Ipp32f> dst(s.w + 4, s.h + 4, 3, 1);
      EXPECT_EQ(ippiConvFull_32f_C3R(src3.Roi(), src3.Step(), {s.w, s.h}, k5.Roi(), k5.Step(),
                                     {5, 5}, dst.Roi(), dst.Step()),
                ippStsNoErr);
      return Raw(dst);
    });
  }
}

TEST(ThreadsTest, ColourAndFrameConversionsAreTheSameOnAnyCount) {
  ippStaticInit();
  for (Size s : kSizes) {
    const auto bgr = Random<Ipp8u>(s, 3, 0, 0, 255, 8);
    const IppiSize roi{s.w, s.h};
    ExpectSameOnEveryCount("to YUV and back", s, [&] {
      TestImage<Ipp8u> y(s.w, s.h), u(s.w, s.h), v(s.w, s.h), back(s.w, s.h, 3);
      Ipp8u* planes[3] = {y.Roi(), u.Roi(), v.Roi()};
      EXPECT_EQ(ippiRGBToYUV_8u_C3P3R(bgr.Roi(), bgr.Step(), planes, y.Step(), roi), ippStsNoErr);
      const Ipp8u* in[3] = {y.Roi(), u.Roi(), v.Roi()};
      EXPECT_EQ(ippiYUVToRGB_8u_P3C3R(in, y.Step(), back.Roi(), back.Step(), roi), ippStsNoErr);
      return Raw(y, u, v, back);
    });
    // Packed 4:2:2 comes in pixel pairs.
    const Size pairs{s.w + s.w % 2, s.h};
    const auto yuy2 = Random<Ipp8u>(pairs, 2, 0, 0, 255, 9);
    ExpectSameOnEveryCount("4:2:2 to BGR", pairs, [&] {
      TestImage<Ipp8u> dst(pairs.w, pairs.h, 3);
      EXPECT_EQ(ippiYCbCr422ToBGR_8u_C2C3R(yuy2.Roi(), yuy2.Step(), dst.Roi(), dst.Step(),
                                           {pairs.w, pairs.h}),
                ippStsNoErr);
      return Raw(dst);
    });
  }
}

TEST(ThreadsTest, WaveletLevelsAreTheSameOnAnyCount) {
  ippStaticInit();
  // Unequal lengths and anchors, so every reach of the filters is used.
  const float low[] = {0.0322f, -0.0126f, -0.0992f, 0.2979f, 0.8037f, 0.4976f, -0.0296f, -0.0757f};
  const float high[] = {-0.0757f, 0.0296f, 0.4976f, -0.8037f, 0.2979f, 0.0992f};
  IppiWTFwdSpec_32f_C1R* fwd = nullptr;
  IppiWTInvSpec_32f_C1R* inv = nullptr;
  ASSERT_EQ(ippiWTFwdInitAlloc_32f_C1R(&fwd, low, 8, 3, high, 6, 2), ippStsNoErr);
  ASSERT_EQ(ippiWTInvInitAlloc_32f_C1R(&inv, low, 8, 4, high, 6, 1), ippStsNoErr);
  int fwdBytes = 0, invBytes = 0;
  ASSERT_EQ(ippiWTFwdGetBufSize_C1R(fwd, &fwdBytes), ippStsNoErr);
  ASSERT_EQ(ippiWTInvGetBufSize_C1R(inv, &invBytes), ippStsNoErr);
  constexpr int kReach = 8;
  for (Size s : kSizes) {
    // s is the size of each band; the source is twice as large.
    const auto src = Random<Ipp32f>(Size{2 * s.w, 2 * s.h}, 1, 2 * kReach, -50.0, 200.0, 10);
    const auto band = Random<Ipp32f>(s, 1, kReach, -50.0, 200.0, 11);
    ExpectSameOnEveryCount("forward level", s, [&] {
      std::vector<TestImage<Ipp32f>> out(4, TestImage<Ipp32f>(s.w, s.h, 1, 1));
      std::vector<Ipp8u> buffer(static_cast<size_t>(fwdBytes));
      EXPECT_EQ(ippiWTFwd_32f_C1R(src.Roi(), src.Step(), out[0].Roi(), out[0].Step(), out[1].Roi(),
                                  out[1].Step(), out[2].Roi(), out[2].Step(), out[3].Roi(),
                                  out[3].Step(), {s.w, s.h}, fwd, buffer.data()),
                ippStsNoErr);
      return Raw(out[0], out[1], out[2], out[3]);
    });
    ExpectSameOnEveryCount("inverse level", s, [&] {
      TestImage<Ipp32f> dst(2 * s.w, 2 * s.h, 1, 1);
      std::vector<Ipp8u> buffer(static_cast<size_t>(invBytes));
      EXPECT_EQ(ippiWTInv_32f_C1R(band.Roi(), band.Step(), band.Roi(), band.Step(), band.Roi(),
                                  band.Step(), band.Roi(), band.Step(), {s.w, s.h}, dst.Roi(),
                                  dst.Step(), inv, buffer.data()),
                ippStsNoErr);
      return Raw(dst);
    });
  }
  ippiWTFwdFree_32f_C1R(fwd);
  ippiWTInvFree_32f_C1R(inv);
}

// A worker's own count must not leak to other threads (an element with a
// threads setting beside an application using the library), and nested
// scopes must restore what they found.
TEST(ThreadsTest, ScopedCountsBelongToTheirThread) {
  DefaultThreadsAfter restore;
  kelvo::SetThreads(2);
  if (kelvo::Threads() == 1) GTEST_SKIP() << "built without threads";
  int seenElsewhere = 0;
  {
    const kelvo::ScopedThreads outer(5);
    EXPECT_EQ(kelvo::Threads(), 5);
    {
      const kelvo::ScopedThreads inner(3);
      EXPECT_EQ(kelvo::Threads(), 3);
      const kelvo::ScopedThreads none(0);
      EXPECT_EQ(kelvo::Threads(), 3);
      std::thread other([&] { seenElsewhere = kelvo::Threads(); });
      other.join();
    }
    EXPECT_EQ(kelvo::Threads(), 5);
  }
  EXPECT_EQ(seenElsewhere, 2);
  EXPECT_EQ(kelvo::Threads(), 2);
}

// Callers that use fewer threads than the default for small jobs must see
// every way a count is chosen, and only those.
TEST(ThreadsTest, AChosenCountIsToldFromTheDefault) {
  DefaultThreadsAfter restore;
  kelvo::SetThreads(0);
  const bool fromEnvironment = std::getenv("KELVO_THREADS") != nullptr &&
                               std::atoi(std::getenv("KELVO_THREADS")) > 0;
  EXPECT_EQ(kelvo::ThreadCountChosen(), fromEnvironment);
  kelvo::SetThreads(3);
  EXPECT_TRUE(kelvo::ThreadCountChosen());
  kelvo::SetThreads(0);
  bool seenElsewhere = true;
  {
    const kelvo::ScopedThreads scoped(2);
    EXPECT_TRUE(kelvo::ThreadCountChosen());
    std::thread other([&] { seenElsewhere = kelvo::ThreadCountChosen(); });
    other.join();
  }
  EXPECT_EQ(seenElsewhere, fromEnvironment);
  EXPECT_EQ(kelvo::ThreadCountChosen(), fromEnvironment);
}

}  // namespace
