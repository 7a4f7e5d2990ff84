// One-level wavelet analysis and synthesis: exact values on a hand-worked
// block, perfect reconstruction with every built-in bank, every compiled
// SIMD target bit-identical to the scalar reference, and the statuses.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/denoise/detail/WaveletBanks.h"
#include "imaging/primitives/Primitives.h"
#include "imaging/primitives/reference/WaveletReference.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr float kSentinel = -12345.0f;

// A float plane with a frame of `pad` samples on every side; At(x, y) may be
// negative down to -pad.
struct Plane {
  Plane(int w, int h, int pad, float fill = kSentinel)
      : width(w),
        height(h),
        pad(pad),
        stride(w + 2 * pad),
        data(static_cast<size_t>(stride) * (h + 2 * pad), fill) {}
  float* At(int x, int y) { return &data[static_cast<size_t>(y + pad) * stride + (x + pad)]; }
  int Step() const { return stride * 4; }
  void Randomise(std::mt19937& rng) {
    std::uniform_real_distribution<float> dist(-100.0f, 300.0f);
    for (float& v : data) v = dist(rng);
  }
  int width, height, pad, stride;
  std::vector<float> data;
};

struct Filters {
  std::vector<float> low, high;
  int lenLow, anchorLow, lenHigh, anchorHigh;
};

struct Bands {
  Bands(int bw, int bh, int pad)
      : a(bw, bh, pad), x(bw, bh, pad), y(bw, bh, pad), xy(bw, bh, pad) {}
  Plane a, x, y, xy;
};

std::vector<uint8_t> Bytes(const Plane& p) {
  std::vector<uint8_t> out(p.data.size() * 4);
  std::memcpy(out.data(), p.data.data(), out.size());
  return out;
}

IppStatus Forward(const Filters& f, Plane& src, Bands& b, int bw, int bh) {
  IppiWTFwdSpec_32f_C1R* spec = nullptr;
  IppStatus st = ippiWTFwdInitAlloc_32f_C1R(&spec, f.low.data(), f.lenLow, f.anchorLow,
                                            f.high.data(), f.lenHigh, f.anchorHigh);
  if (st != ippStsNoErr) return st;
  int size = 0;
  ippiWTFwdGetBufSize_C1R(spec, &size);
  std::vector<Ipp8u> buffer(static_cast<size_t>(size));
  st = ippiWTFwd_32f_C1R(src.At(0, 0), src.Step(), b.a.At(0, 0), b.a.Step(), b.x.At(0, 0),
                         b.x.Step(), b.y.At(0, 0), b.y.Step(), b.xy.At(0, 0), b.xy.Step(),
                         IppiSize{bw, bh}, spec, buffer.data());
  ippiWTFwdFree_32f_C1R(spec);
  return st;
}

// Synthesis of the bw x bh bands seen from (at, at).
IppStatus Inverse(const Filters& f, Bands& b, Plane& dst, int bw, int bh, int at = 0) {
  IppiWTInvSpec_32f_C1R* spec = nullptr;
  IppStatus st = ippiWTInvInitAlloc_32f_C1R(&spec, f.low.data(), f.lenLow, f.anchorLow,
                                            f.high.data(), f.lenHigh, f.anchorHigh);
  if (st != ippStsNoErr) return st;
  int size = 0;
  ippiWTInvGetBufSize_C1R(spec, &size);
  std::vector<Ipp8u> buffer(static_cast<size_t>(size));
  st = ippiWTInv_32f_C1R(b.a.At(at, at), b.a.Step(), b.x.At(at, at), b.x.Step(), b.y.At(at, at),
                         b.y.Step(), b.xy.At(at, at), b.xy.Step(), IppiSize{bw, bh}, dst.At(0, 0),
                         dst.Step(), spec, buffer.data());
  ippiWTInvFree_32f_C1R(spec);
  return st;
}

Filters FwdFilters(const detail::WaveletBank& bank) {
  const int L = bank.length;
  return {{bank.fwdLow, bank.fwdLow + L}, {bank.fwdHigh, bank.fwdHigh + L}, L, L / 2, L, L / 2};
}
Filters InvFilters(const detail::WaveletBank& bank) {
  const int L = bank.length;
  return {
      {bank.invLow, bank.invLow + L}, {bank.invHigh, bank.invHigh + L}, L, L / 2 - 1, L, L / 2 - 1};
}

TEST(WaveletPrimitives, HaarBlockGivesHandWorkedBands) {
  const detail::WaveletBank* haar = detail::FindWaveletBank(0);
  ASSERT_NE(haar, nullptr);
  Plane src(2, 2, 2, 0.0f);
  *src.At(0, 0) = 1.0f;
  *src.At(1, 0) = 2.0f;
  *src.At(0, 1) = 3.0f;
  *src.At(1, 1) = 5.0f;
  Bands b(1, 1, 0);
  ASSERT_EQ(Forward(FwdFilters(*haar), src, b, 1, 1), ippStsNoErr);
  EXPECT_FLOAT_EQ(*b.a.At(0, 0), 2.75f);   // lowpass both ways: the mean
  EXPECT_FLOAT_EQ(*b.x.At(0, 0), -0.75f);  // highpass along rows
  EXPECT_FLOAT_EQ(*b.y.At(0, 0), -1.25f);  // highpass along columns
  EXPECT_FLOAT_EQ(*b.xy.At(0, 0), 0.25f);  // highpass both ways

  Plane out(2, 2, 0);
  ASSERT_EQ(Inverse(InvFilters(*haar), b, out, 1, 1), ippStsNoErr);
  EXPECT_FLOAT_EQ(*out.At(0, 0), 1.0f);
  EXPECT_FLOAT_EQ(*out.At(1, 0), 2.0f);
  EXPECT_FLOAT_EQ(*out.At(0, 1), 3.0f);
  EXPECT_FLOAT_EQ(*out.At(1, 1), 5.0f);
}

// Analysis of a region wider than needed gives bands with real samples
// around the central part, which is what synthesis reads; the synthesis of
// the central part must return the source.
TEST(WaveletPrimitives, EveryBuiltInBankReconstructsItsInput) {
  int count = 0;
  const detail::WaveletBank* banks = detail::BuiltInWaveletBanks(&count);
  ASSERT_EQ(count, 25);
  std::mt19937 rng(7);
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(banks[i].type);
    const int bw = 13, bh = 9, m = 8;  // m band samples of context on every side
    Plane src(2 * (bw + 2 * m), 2 * (bh + 2 * m), 16);
    src.Randomise(rng);
    Bands b(bw + 2 * m, bh + 2 * m, 0);
    ASSERT_EQ(Forward(FwdFilters(banks[i]), src, b, bw + 2 * m, bh + 2 * m), ippStsNoErr);
    Plane out(2 * bw, 2 * bh, 0);
    ASSERT_EQ(Inverse(InvFilters(banks[i]), b, out, bw, bh, m), ippStsNoErr);
    float worst = 0.0f;
    for (int y = 0; y < 2 * bh; ++y) {
      for (int x = 0; x < 2 * bw; ++x) {
        worst = std::max(worst, std::fabs(*out.At(x, y) - *src.At(x + 2 * m, y + 2 * m)));
      }
    }
    EXPECT_LT(worst, 2e-3f);  // samples up to 300: a few float ulps
  }
}

// Awkward sizes (one sample, odd, wider than a processing strip) and uneven
// filters (different lengths and anchors) against the scalar reference, bit
// for bit, with sentinels around every output left untouched.
TEST(WaveletPrimitives, EveryTargetMatchesTheScalarReference) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> tap(-1.0f, 1.0f);
  Filters uneven{{}, {}, 5, 1, 3, 2};
  for (int k = 0; k < 5; ++k) uneven.low.push_back(tap(rng));
  for (int k = 0; k < 3; ++k) uneven.high.push_back(tap(rng));
  const detail::WaveletBank* sym4 = detail::FindWaveletBank(12);
  const detail::WaveletBank* coif2 = detail::FindWaveletBank(21);
  const std::vector<std::pair<Filters, Filters>> filterSets = {
      {FwdFilters(*sym4), InvFilters(*sym4)},
      {FwdFilters(*coif2), InvFilters(*coif2)},
      {uneven, uneven}};
  // 1100 and 1200 columns: one analysis strip, and two with a narrow second.
  const IppiSize sizes[] = {{1, 1}, {3, 5}, {17, 9}, {1100, 3}, {1200, 2}, {2, 37}};
  const int pad = 16;
  for (const auto& [fwd, inv] : filterSets) {
    for (const IppiSize size : sizes) {
      SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
      Plane src(2 * size.width, 2 * size.height, pad);
      src.Randomise(rng);
      Bands expected(size.width, size.height, 2);
      reference::WTFwd(src.At(0, 0), src.Step(), expected.a.At(0, 0), expected.a.Step(),
                       expected.x.At(0, 0), expected.x.Step(), expected.y.At(0, 0),
                       expected.y.Step(), expected.xy.At(0, 0), expected.xy.Step(), size,
                       {fwd.low.data(), fwd.lenLow, fwd.anchorLow},
                       {fwd.high.data(), fwd.lenHigh, fwd.anchorHigh});
      // Synthesis input: bands with random samples everywhere around.
      Bands in(size.width, size.height, pad);
      in.a.Randomise(rng);
      in.x.Randomise(rng);
      in.y.Randomise(rng);
      in.xy.Randomise(rng);
      Plane expectedOut(2 * size.width, 2 * size.height, 2);
      reference::WTInv(in.a.At(0, 0), in.a.Step(), in.x.At(0, 0), in.x.Step(), in.y.At(0, 0),
                       in.y.Step(), in.xy.At(0, 0), in.xy.Step(), size, expectedOut.At(0, 0),
                       expectedOut.Step(), {inv.low.data(), inv.lenLow, inv.anchorLow},
                       {inv.high.data(), inv.lenHigh, inv.anchorHigh});
      kelvo::testing::ForEachTarget([&](const char*) {
        Bands got(size.width, size.height, 2);
        ASSERT_EQ(Forward(fwd, src, got, size.width, size.height), ippStsNoErr);
        EXPECT_EQ(Bytes(got.a), Bytes(expected.a));
        EXPECT_EQ(Bytes(got.x), Bytes(expected.x));
        EXPECT_EQ(Bytes(got.y), Bytes(expected.y));
        EXPECT_EQ(Bytes(got.xy), Bytes(expected.xy));
        Plane out(2 * size.width, 2 * size.height, 2);
        ASSERT_EQ(Inverse(inv, in, out, size.width, size.height), ippStsNoErr);
        EXPECT_EQ(Bytes(out), Bytes(expectedOut));
      });
    }
  }
}

TEST(WaveletPrimitives, StatusesForBadArguments) {
  const float taps[4] = {0.25f, 0.25f, 0.25f, 0.25f};
  IppiWTFwdSpec_32f_C1R* fwd = reinterpret_cast<IppiWTFwdSpec_32f_C1R*>(1);
  EXPECT_EQ(ippiWTFwdInitAlloc_32f_C1R(&fwd, taps, 4, 4, taps, 4, 2), ippStsSizeErr);
  EXPECT_EQ(fwd, nullptr);
  EXPECT_EQ(ippiWTFwdInitAlloc_32f_C1R(&fwd, taps, 0, 0, taps, 4, 2), ippStsSizeErr);
  EXPECT_EQ(ippiWTFwdInitAlloc_32f_C1R(&fwd, nullptr, 4, 2, taps, 4, 2), ippStsNullPtrErr);
  EXPECT_EQ(ippiWTFwdInitAlloc_32f_C1R(nullptr, taps, 4, 2, taps, 4, 2), ippStsNullPtrErr);

  IppiWTInvSpec_32f_C1R* inv = nullptr;
  ASSERT_EQ(ippiWTFwdInitAlloc_32f_C1R(&fwd, taps, 4, 2, taps, 4, 2), ippStsNoErr);
  ASSERT_EQ(ippiWTInvInitAlloc_32f_C1R(&inv, taps, 4, 1, taps, 4, 1), ippStsNoErr);
  int size = 0;
  EXPECT_EQ(ippiWTFwdGetBufSize_C1R(fwd, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippiWTFwdGetBufSize_C1R(reinterpret_cast<const IppiWTFwdSpec_32f_C1R*>(inv), &size),
            ippStsContextMatchErr);
  EXPECT_EQ(ippiWTInvGetBufSize_C1R(reinterpret_cast<const IppiWTInvSpec_32f_C1R*>(fwd), &size),
            ippStsContextMatchErr);
  ASSERT_EQ(ippiWTFwdGetBufSize_C1R(fwd, &size), ippStsNoErr);
  std::vector<Ipp8u> buffer(static_cast<size_t>(size));
  Plane src(8, 8, 4, 1.0f);
  Plane band(4, 4, 0, kSentinel);
  float* d = band.At(0, 0);
  const int st = band.Step();
  EXPECT_EQ(ippiWTFwd_32f_C1R(nullptr, src.Step(), d, st, d, st, d, st, d, st, {4, 4}, fwd,
                              buffer.data()),
            ippStsNullPtrErr);
  EXPECT_EQ(
      ippiWTFwd_32f_C1R(src.At(0, 0), src.Step(), d, st, d, st, d, st, d, st, {4, 4}, fwd, nullptr),
      ippStsNullPtrErr);
  EXPECT_EQ(ippiWTFwd_32f_C1R(src.At(0, 0), src.Step(), d, st, d, st, d, st, d, st, {0, 4}, fwd,
                              buffer.data()),
            ippStsSizeErr);
  EXPECT_EQ(ippiWTFwd_32f_C1R(src.At(0, 0), src.Step(), d, st, d, st, d, st, d, st, {4, 4},
                              reinterpret_cast<const IppiWTFwdSpec_32f_C1R*>(inv), buffer.data()),
            ippStsContextMatchErr);
  EXPECT_EQ(ippiWTInv_32f_C1R(d, st, d, st, d, st, d, st, {4, -1}, src.At(0, 0), src.Step(), inv,
                              buffer.data()),
            ippStsSizeErr);
  EXPECT_EQ(ippiWTInv_32f_C1R(d, st, d, st, d, st, d, st, {2, 2}, src.At(0, 0), src.Step(),
                              reinterpret_cast<const IppiWTInvSpec_32f_C1R*>(fwd), buffer.data()),
            ippStsContextMatchErr);
  for (float v : band.data) EXPECT_EQ(v, kSentinel);  // failed calls write nothing

  EXPECT_EQ(ippiWTFwdFree_32f_C1R(reinterpret_cast<IppiWTFwdSpec_32f_C1R*>(inv)),
            ippStsContextMatchErr);
  EXPECT_EQ(ippiWTFwdFree_32f_C1R(fwd), ippStsNoErr);
  EXPECT_EQ(ippiWTInvFree_32f_C1R(inv), ippStsNoErr);
  EXPECT_EQ(ippiWTFwdFree_32f_C1R(nullptr), ippStsNullPtrErr);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
