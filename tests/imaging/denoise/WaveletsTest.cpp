// The multi-level wavelet transform: reconstruction for every bank and
// padding method (also into the decomposed buffer), exact bands of a constant
// image, custom banks and every failure.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/core/IPException.h"
#include "imaging/denoise/Wavelets.h"
#include "imaging/denoise/detail/WaveletBanks.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

using kelvo::test::Failures;

std::vector<float> RandomPlane(int w, int h, int strideFloats, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(0.0f, 255.0f);
  std::vector<float> out(static_cast<size_t>(strideFloats) * h, -1.0f);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) out[static_cast<size_t>(y) * strideFloats + x] = dist(rng);
  }
  return out;
}

TEST(Wavelets, EveryBankAndPaddingReconstructsEvenAndOddSizes) {
  int count = 0;
  const detail::WaveletBank* banks = detail::BuiltInWaveletBanks(&count);
  const int sizes[][2] = {{20, 16}, {21, 17}};
  for (int i = 0; i < count; ++i) {
    for (int method = 0; method < 4; ++method) {
      for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << "type " << banks[i].type << " method " << method << " "
                                        << size[0] << "x" << size[1]);
        const int w = size[0], h = size[1], strideFloats = w + 3;
        const std::vector<float> source = RandomPlane(w, h, strideFloats, 3u + i);
        Wavelets wt;
        wt.Initialize(banks[i].type, 3, method);
        wt.Decompose(source.data(), strideFloats * 4, w, h);
        std::vector<float> out(source.size(), -7.0f);
        wt.Reconstruct(out.data(), strideFloats * 4, w, h);
        // Into the decomposed buffer itself: the bands no longer read it.
        std::vector<float> inPlace = source;
        Wavelets again;
        again.Initialize(banks[i].type, 3, method);
        again.Decompose(inPlace.data(), strideFloats * 4, w, h);
        again.Reconstruct(inPlace.data(), strideFloats * 4, w, h);
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < strideFloats; ++x) {
            const size_t at = static_cast<size_t>(y) * strideFloats + x;
            if (x < w) {
              ASSERT_NEAR(out[at], source[at], 2e-3f) << x << "," << y;
              ASSERT_EQ(inPlace[at], out[at]);
            } else {
              ASSERT_EQ(out[at], -7.0f);  // beyond the width: untouched
            }
          }
        }
      }
    }
  }
}

TEST(Wavelets, HaarOnAConstantImageGivesExactBands) {
  for (int method : {2, 3}) {
    const int w = 37, h = 20;  // odd width exercises the duplicated column
    std::vector<float> plane(static_cast<size_t>(w) * h, 77.25f);
    Wavelets wt(method, 3, 0);
    wt.Decompose(plane.data(), w * 4, w, h);
    int* widths = nullptr;
    float** bands = wt.GetMRAPyramid(&widths, nullptr);
    int* heights = nullptr;
    wt.GetMRAPyramid(nullptr, &heights);
    for (int k = 0; k < 3; ++k) {
      const size_t n = static_cast<size_t>((widths[k] + 1) / 2) * ((heights[k] + 1) / 2);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(bands[4 * k][i], 77.25f) << "level " << k;
        ASSERT_EQ(bands[4 * k + 1][i], 0.0f);
        ASSERT_EQ(bands[4 * k + 2][i], 0.0f);
        ASSERT_EQ(bands[4 * k + 3][i], 0.0f);
      }
    }
  }
}

// Caller-supplied taps equal to a built-in bank give the same bits.
TEST(Wavelets, CustomTapsBehaveLikeTheBuiltInBank) {
  const detail::WaveletBank* sym4 = detail::FindWaveletBank(12);
  const int w = 40, h = 34;
  const std::vector<float> source = RandomPlane(w, h, w, 9);
  Wavelets builtIn(2, 2, 12);
  Wavelets custom(2, 2, 0);
  custom.SetWaveletsParams(16, sym4->fwdLow, sym4->fwdHigh, sym4->invLow, sym4->invHigh, 8, 4, 3);
  EXPECT_EQ(custom.GetWaveletType(), 100);
  EXPECT_EQ(custom.GetMargin(), 32);
  builtIn.Decompose(source.data(), w * 4, w, h);
  custom.Decompose(source.data(), w * 4, w, h);
  float** a = builtIn.GetMRAPyramid(nullptr, nullptr);
  float** b = custom.GetMRAPyramid(nullptr, nullptr);
  EXPECT_EQ(std::memcmp(a[7], b[7], sizeof(float) * 20 * 17), 0);
  std::vector<float> outA(source.size()), outB(source.size());
  builtIn.Reconstruct(outA.data(), w * 4, w, h);
  custom.Reconstruct(outB.data(), w * 4, w, h);
  EXPECT_EQ(outA, outB);
}

TEST(Wavelets, SizeRulesAndSingleUse) {
  std::vector<float> plane(16 * 16, 3.0f);
  float* p = plane.data();
  const Failures decompose("Wavelets::Decompose"), reconstruct("Wavelets::Reconstruct");
  Wavelets ok(2, 4, 12);
  ok.Decompose(p, 64, 16, 16);
  EXPECT_TRUE(ok.IsDecomposed());
  EXPECT_TRUE(decompose([&] { ok.Decompose(p, 64, 16, 16); }, 26,
                        ": this routine can only be called once"));

  Wavelets narrow(2, 4, 12);
  EXPECT_TRUE(decompose([&] { narrow.Decompose(p, 64, 15, 16); }, 0));
  EXPECT_FALSE(narrow.IsDecomposed());
  EXPECT_TRUE(decompose([&] { narrow.Decompose(nullptr, 64, 16, 16); }, 5));
  EXPECT_TRUE(decompose([&] { narrow.Decompose(p, 60, 16, 16); }, 6));
  EXPECT_TRUE(Failures("Wavelets::GetMRAPyramid")([&] { narrow.GetMRAPyramid(nullptr, nullptr); },
                                                  26, ": must call Decompose() first"));
  EXPECT_TRUE(reconstruct([&] { narrow.Reconstruct(p, 64, 16, 16); }, 0));
  EXPECT_TRUE(reconstruct([&] { ok.Reconstruct(nullptr, 64, 16, 16); }, 5));
  EXPECT_TRUE(reconstruct([&] { ok.Reconstruct(p, 60, 16, 16); }, 6));
  EXPECT_TRUE(reconstruct([&] { ok.Reconstruct(p, 64, 16, 14); }, 0));
}

TEST(Wavelets, InitializeAndCustomTapFailures) {
  Wavelets wt;
  const Failures init("Wavelets::Initialize"), params("Wavelets::SetWaveletsParams");
  for (int type : {5, 22, 100, -1}) {
    EXPECT_TRUE(
        init([&] { wt.Initialize(type, 4, 2); }, 26, ": invalid or unimplemented wavelet type"));
  }
  EXPECT_TRUE(init([&] { wt.Initialize(12, 0, 2); }, 26, ": invalid number of levels"));
  const float t[4] = {0.5f, 0.5f, 0.5f, 0.5f};
  EXPECT_TRUE(params([&] { wt.SetWaveletsParams(4, t, nullptr, t, t, 2, 1, 0); }, 5));
  EXPECT_TRUE(params([&] { wt.SetWaveletsParams(4, t, t, t, t, 1, 0, 0); }, 11));
  EXPECT_TRUE(params([&] { wt.SetWaveletsParams(4, t, t, t, t, 2, 2, 0); }, 11));
  EXPECT_TRUE(params([&] { wt.SetWaveletsParams(4, t, t, t, t, 2, 1, -1); }, 11));
  EXPECT_TRUE(params([&] { wt.SetWaveletsParams(-1, t, t, t, t, 2, 1, 0); }, 11));
  EXPECT_EQ(wt.GetWaveletType(), 12);  // failures leave the bank alone
}

}  // namespace
}  // namespace KelvoLibImageProcessing
