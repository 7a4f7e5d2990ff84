// Framed bands, sample input and output, detail rows edited during the
// synthesis and detail bands shrunk during the analysis all give exactly
// what the plain route gives: float plane in, dense bands edited through the
// pyramid, float plane out, rounded to samples afterwards. The finest level,
// which reads its rows from the source padded on the fly, gives the bands of
// the one-level primitive on an input padded in memory. Checked on every
// SIMD target, on even and odd sizes, with the built-in banks and with
// custom taps whose small margins make the synthesis prepare band frames.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/denoise/Wavelets.h"
#include "imaging/denoise/detail/WaveletBanks.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/primitives/Primitives.h"
#include "tests/imaging/primitives/TargetLoop.h"

namespace KelvoLibImageProcessing {
namespace {

struct Setup {
  int type;  // built-in bank
  int levels;
  int border;  // > 0: the bank's taps set as custom taps with this border
  int padding;
};

void Configure(Wavelets& wt, const Setup& s) {
  wt.Initialize(s.type, s.levels, s.padding);
  if (s.border > 0) {
    const detail::WaveletBank* b = detail::FindWaveletBank(s.type);
    wt.SetWaveletsParams(s.border, b->fwdLow, b->fwdHigh, b->invLow, b->invHigh, b->length,
                         b->length / 2, b->length / 2 - 1);
  }
}

// Level- and band-dependent soft thresholding with a sign flip on some rows,
// so an edit applied twice, skipped or applied to the wrong band shows.
void Edit(int level, int band, float* row, int count) {
  const float t = 0.75f + static_cast<float>(level) + 0.5f * static_cast<float>(band);
  for (int i = 0; i < count; ++i) {
    const float v = row[i];
    row[i] = (std::fabs(v) <= t) ? 0.0f : (v > 0 ? v - t : -(v + t));
    if (band == 2) row[i] = -row[i] * 0.5f;
  }
}

template <class T>
std::vector<T> Samples(int w, int h, int top, std::mt19937& rng) {
  std::vector<T> v(static_cast<size_t>(w) * h);
  std::uniform_int_distribution<int> noise(-20, 20);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int base = (x * top) / (2 * w) + ((x / 7 + y / 5) % 3) * top / 8 + noise(rng);
      v[static_cast<size_t>(y) * w + x] = static_cast<T>(std::clamp(base, 0, top));
    }
  }
  return v;
}

// The plain route, as floats and as samples.
template <class T>
std::vector<T> Plain(const Setup& s, const std::vector<T>& in, int w, int h, bool edit,
                     const Wavelets::RowEdit& how = Edit) {
  std::vector<float> plane(in.begin(), in.end());
  Wavelets wt;
  Configure(wt, s);
  wt.Decompose(plane.data(), w * 4, w, h);
  if (edit) {
    int* widths = nullptr;
    int* heights = nullptr;
    float** bands = wt.GetMRAPyramid(&widths, &heights);
    for (int k = 0; k < s.levels; ++k) {
      const int bw = (widths[k] + 1) / 2, bh = (heights[k] + 1) / 2;
      for (int b = 1; b < 4; ++b) {
        for (int y = 0; y < bh; ++y) how(k, b, bands[4 * k + b] + static_cast<size_t>(y) * bw, bw);
      }
    }
  }
  wt.Reconstruct(plane.data(), w * 4, w, h);
  std::vector<T> out(in.size());
  detail::FloatsToSamples(plane.data(), out.data(), out.size());
  return out;
}

// leftOut, when set, asks for only the band samples the synthesis reads
// and is told whether samples were left out.
template <class T>
std::vector<T> Routed(const Setup& s, const std::vector<T>& in, int w, int h, bool framed,
                      bool edit, const float* shrink = nullptr, bool soft = true,
                      bool* leftOut = nullptr) {
  Wavelets wt;
  Configure(wt, s);
  wt.SetFramedBands(framed);
  wt.SetDetailShrink(shrink, soft);
  wt.SetOnlyReadBands(leftOut != nullptr);
  // Rows wider than the image, so a write past a row shows.
  const int stride = w + 5;
  std::vector<T> src(static_cast<size_t>(stride) * h, T(7));
  for (int y = 0; y < h; ++y) {
    std::copy(in.begin() + static_cast<ptrdiff_t>(y) * w,
              in.begin() + static_cast<ptrdiff_t>(y + 1) * w,
              src.begin() + static_cast<ptrdiff_t>(y) * stride);
  }
  wt.DecomposeSamples(src.data(), stride * static_cast<int>(sizeof(T)), w, h);
  if (leftOut != nullptr) *leftOut = wt.LeftOutUnreadBands();
  std::vector<T> dst(static_cast<size_t>(stride) * h, T(9));
  if (edit) {
    wt.ReconstructSamples(dst.data(), stride * static_cast<int>(sizeof(T)), w, h, Edit);
  } else {
    wt.ReconstructSamples(dst.data(), stride * static_cast<int>(sizeof(T)), w, h);
  }
  std::vector<T> out(in.size());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      out[static_cast<size_t>(y) * w + x] = dst[static_cast<size_t>(y) * stride + x];
    }
    for (int x = w; x < stride; ++x) EXPECT_EQ(dst[static_cast<size_t>(y) * stride + x], T(9));
  }
  return out;
}

template <class T>
void CompareRoutes(int top) {
  // Haar with borders 1 and 2: the margin leaves the finest synthesis room
  // but not the coarser ones (or, odd, not even the finest).
  const Setup setups[] = {
      {12, 4, 0, 2},                // the noise reduction's preset
      {12, 3, 0, 1},                // periodic padding
      {12, 3, 0, 2}, {0, 2, 0, 2},  // Haar
      {0, 3, 2, 2},  {0, 2, 1, 2}, {0, 1, 1, 0}, {12, 3, 8, 2},
  };
  const std::pair<int, int> sizes[] = {{64, 64},  {68, 36},  {37, 29},  {130, 98},
                                       {257, 66}, {300, 260}, {90, 35}, {198, 134}};
  std::mt19937 rng(11);
  kelvo::testing::ForEachTarget([&](const char*) {
    for (const Setup& s : setups) {
      for (auto [w, h] : sizes) {
        if (w < (1 << s.levels) || h < (1 << s.levels)) continue;
        SCOPED_TRACE(::testing::Message() << "type " << s.type << " levels " << s.levels
                                          << " border " << s.border << " size " << w << "x" << h);
        const std::vector<T> in = Samples<T>(w, h, top, rng);
        const std::vector<T> other = Samples<T>(w, h, top, rng);
        for (bool edit : {false, true}) {
          const std::vector<T> expected = Plain(s, in, w, h, edit);
          for (bool framed : {false, true}) {
            EXPECT_EQ(Routed(s, in, w, h, framed, edit), expected)
                << (framed ? "framed" : "dense") << (edit ? ", edited" : "");
          }
        }
        // Shrinking in the analysis against thresholding the bands through
        // the pyramid, soft and hard; level- and band-dependent thresholds,
        // so a band shrunk with another's threshold shows.
        std::vector<float> t(3 * static_cast<size_t>(s.levels));
        for (size_t i = 0; i < t.size(); ++i) t[i] = 0.5f + 1.25f * static_cast<float>(i % 5);
        for (bool soft : {true, false}) {
          const Wavelets::RowEdit shrink = [&](int level, int band, float* row, int count) {
            detail::ShrinkCoefficients(row, static_cast<size_t>(count), t[3 * level + band - 1],
                                       soft);
          };
          const std::vector<T> expected = Plain(s, in, w, h, true, shrink);
          for (bool framed : {false, true}) {
            EXPECT_EQ(Routed(s, in, w, h, framed, false, t.data(), soft), expected)
                << (framed ? "framed" : "dense") << (soft ? ", soft" : ", hard") << " shrink";
          }
          // Only the samples the synthesis reads: left out wherever the
          // interior and the margin are even (odd sizes give frames or
          // duplicated samples some level reads, so all are computed).
          // A whole decomposition of other samples first, so that memory
          // the pyramid reuses does not already hold the samples left out.
          bool leftOut = false;
          Routed(s, other, w, h, true, false, t.data(), soft);
          EXPECT_EQ(Routed(s, in, w, h, true, false, t.data(), soft, &leftOut), expected)
              << "only read samples" << (soft ? ", soft" : ", hard") << " shrink";
          if (s.type == 12 && s.border == 0) {
            EXPECT_EQ(leftOut, w % 2 == 0 && h % 2 == 0);
          }
        }
      }
    }
  });
}

TEST(WaveletBandLayout, SampleRoutesMatchThePlainRoute) {
  CompareRoutes<uint8_t>(255);
  CompareRoutes<uint16_t>(4095);
}

// The finest level's bands against the one-level primitive on the input
// padded in memory as the decomposition once did: the margin around the
// image, then the level's frame (after duplicating an odd last column and
// row). Every padding method, odd and even sizes and margins.
TEST(WaveletBandLayout, FinestLevelMatchesAnInputPaddedInMemory) {
  struct Case {
    int type, levels, border, padding, w, h;
  };
  const Case cases[] = {
      {12, 4, 0, OpExtendBorder::PaddingMirror, 68, 36},
      {12, 2, 0, OpExtendBorder::PaddingPeriodic, 37, 29},
      {12, 3, 0, OpExtendBorder::PaddingReplicate, 64, 70},
      {12, 2, 0, OpExtendBorder::PaddingZero, 41, 33},
      {0, 1, 3, OpExtendBorder::PaddingMirror, 17, 9},  // odd margin: odd padded size
      {0, 2, 1, OpExtendBorder::PaddingMirror, 6, 5},   // margins wider than the image
  };
  std::mt19937 rng(5);
  kelvo::testing::ForEachTarget([&](const char*) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message()
                   << "type " << c.type << " padding " << c.padding << " " << c.w << "x" << c.h);
      const std::vector<uint8_t> in = Samples<uint8_t>(c.w, c.h, 255, rng);
      Wavelets wt;
      const ::KelvoLibImageProcessing::Setup setup{c.type, c.levels, c.border, c.padding};
      Configure(wt, setup);
      wt.DecomposeSamples(in.data(), c.w, c.w, c.h);
      int* widths = nullptr;
      float** bands = wt.GetMRAPyramid(&widths, nullptr);
      const int m = wt.GetMargin(), b = wt.GetBorderBase();
      const int w0 = c.w + 2 * m, h0 = c.h + 2 * m;
      ASSERT_EQ(widths[0], w0);
      const int step = w0 + 2 * b + 1;
      std::vector<float> work(static_cast<size_t>(step) * (h0 + 2 * b + 1), -1.0f);
      float* origin = work.data() + static_cast<size_t>(b) * step + b;
      for (int y = 0; y < c.h; ++y) {
        for (int x = 0; x < c.w; ++x) {
          origin[static_cast<size_t>(y + m) * step + x + m] = in[static_cast<size_t>(y) * c.w + x];
        }
      }
      OpExtendBorder extend;
      extend.Execute(1, c.w, c.h, origin + static_cast<size_t>(m) * step + m, step * 4, m, m,
                     c.padding);
      for (int y = 0; y < h0 && w0 % 2 != 0; ++y) {
        origin[static_cast<size_t>(y) * step + w0] = origin[static_cast<size_t>(y) * step + w0 - 1];
      }
      const int ew = w0 + w0 % 2, eh = h0 + h0 % 2;
      for (int x = 0; x < ew && h0 % 2 != 0; ++x) {
        origin[static_cast<size_t>(h0) * step + x] = origin[static_cast<size_t>(h0 - 1) * step + x];
      }
      extend.Execute(1, ew, eh, origin, step * 4, b, b, c.padding);

      const detail::WaveletBank* bank = detail::FindWaveletBank(c.type);
      const int len = wt.GetTapLength();
      IppiWTFwdSpec_32f_C1R* spec = nullptr;
      ASSERT_EQ(ippiWTFwdInitAlloc_32f_C1R(&spec, bank->fwdLow, len, len / 2, bank->fwdHigh, len,
                                           len / 2),
                ippStsNoErr);
      int bytes = 0;
      ippiWTFwdGetBufSize_C1R(spec, &bytes);
      std::vector<Ipp8u> buffer(static_cast<size_t>(bytes));
      const int bw = (w0 + 1) / 2, bh = (h0 + 1) / 2;
      std::vector<float> expected(4 * static_cast<size_t>(bw) * bh);
      float* e = expected.data();
      const size_t n = static_cast<size_t>(bw) * bh;
      ASSERT_EQ(ippiWTFwd_32f_C1R(origin, step * 4, e, bw * 4, e + n, bw * 4, e + 2 * n, bw * 4,
                                  e + 3 * n, bw * 4, IppiSize{bw, bh}, spec, buffer.data()),
                ippStsNoErr);
      ippiWTFwdFree_32f_C1R(spec);
      for (int band = 0; band < 4; ++band) {
        EXPECT_EQ(std::vector<float>(bands[band], bands[band] + n),
                  std::vector<float>(e + band * n, e + (band + 1) * n))
            << "band " << band;
      }
    }
  });
}

// Framed bands reconstruct into floats exactly as dense ones.
TEST(WaveletBandLayout, FramedBandsReconstructFloatsExactly) {
  std::mt19937 rng(3);
  kelvo::testing::ForEachTarget([&](const char*) {
    for (auto [w, h] : {std::pair{64, 64}, {99, 71}, {200, 48}}) {
      std::vector<float> in(static_cast<size_t>(w) * h);
      std::uniform_real_distribution<float> d(-50.0f, 300.0f);
      for (float& v : in) v = d(rng);
      std::vector<float> results[2];
      for (int framed = 0; framed < 2; ++framed) {
        Wavelets wt;
        wt.SetFramedBands(framed == 1);
        wt.Decompose(in.data(), w * 4, w, h);
        results[framed].assign(in.size(), 0.0f);
        wt.Reconstruct(results[framed].data(), w * 4, w, h);
        EXPECT_EQ(wt.GetBandStep(0) % 4, 0);
      }
      EXPECT_EQ(results[0], results[1]) << w << "x" << h;
    }
  });
}

}  // namespace
}  // namespace KelvoLibImageProcessing
