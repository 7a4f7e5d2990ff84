// Full convolution kernels, compiled once per target (see
// detail/Dispatch.h). Included only by ConvFull.cpp.

#if defined(KELVO_PRIMITIVES_CONV_FULL_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_PRIMITIVES_CONV_FULL_INL_H_
#undef KELVO_PRIMITIVES_CONV_FULL_INL_H_
#else
#define KELVO_PRIMITIVES_CONV_FULL_INL_H_
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "hwy/highway.h"

#ifndef KELVO_PRIMITIVES_CONV_ARGS_DEFINED
#define KELVO_PRIMITIVES_CONV_ARGS_DEFINED
namespace kelvo::primitives::detail {

// Arguments of one float full convolution, already checked.
struct ConvArgs {
  const float* src1;
  int step1, w1, h1;
  const float* src2;
  int step2, w2, h2;
  float* dst;
  int dstStep;
  int ch;
  int yBegin, yEnd;  // the output rows to compute
  // The output shares no byte with either input, so an output may be
  // written twice (the 3x3 path's last vector of a row overlaps the one
  // before it) and the kernel may be read once for all rows.
  bool disjoint;
};

}  // namespace kelvo::primitives::detail
#endif

HWY_BEFORE_NAMESPACE();
namespace kelvo::primitives::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class T>
HWY_INLINE T* Advance(T* p, ptrdiff_t bytes) {
  using Byte = std::conditional_t<std::is_const_v<T>, const uint8_t, uint8_t>;
  return reinterpret_cast<T*>(reinterpret_cast<Byte*>(p) + bytes);
}

// Output samples i .. i + lanes - 1 of row y (sample index = x * ch + c).
// Terms are added in memory order of the second image (row by row, each
// left to right); with kCheckX a term whose first-image column falls
// outside the image is skipped, which is only exact on a one-lane tag where
// the test is the same for every lane. Without kCheckX every tap must be
// inside for every lane. Each term is a Mul followed by an Add.
// `taps(s2, kx)` gives the second image's values for tap column kx, lane by
// lane.
template <bool kCheckX, class D, class Taps>
HWY_INLINE hn::Vec<D> ConvSamples(D d, const detail::ConvArgs& a, int y, ptrdiff_t i,
                                  const Taps& taps) {
  auto acc = hn::Zero(d);
  const int ch = a.ch;
  const ptrdiff_t x = i / ch;  // pixel of the first lane (one-lane: the only lane)
  for (int ky = 0; ky < a.h2; ++ky) {
    const int sy = y - ky;
    if (sy < 0 || sy >= a.h1) continue;
    const float* s1 = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * sy) + i;
    const float* s2 = Advance(a.src2, static_cast<ptrdiff_t>(a.step2) * ky);
    for (int kx = 0; kx < a.w2; ++kx) {
      if (kCheckX && (x - kx < 0 || x - kx >= a.w1)) continue;
      const auto term = hn::Mul(hn::LoadU(d, s1 - static_cast<ptrdiff_t>(kx) * ch), taps(s2, kx));
      acc = hn::Add(acc, term);
    }
  }
  return acc;
}

// kU neighbouring vectors of the interior at once (starts i + u * adv):
// the same terms in the same order per output, but kU independent sums keep
// both adders busy.
template <int kU, class D, class Taps>
HWY_INLINE void ConvSamplesN(D d, const detail::ConvArgs& a, int y, ptrdiff_t i, ptrdiff_t adv,
                             const Taps& taps, float* out) {
  hn::Vec<D> acc[kU];
  for (int u = 0; u < kU; ++u) acc[u] = hn::Zero(d);
  const int ch = a.ch;
  for (int ky = 0; ky < a.h2; ++ky) {
    const int sy = y - ky;
    if (sy < 0 || sy >= a.h1) continue;
    const float* s1 = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * sy) + i;
    const float* s2 = Advance(a.src2, static_cast<ptrdiff_t>(a.step2) * ky);
    for (int kx = 0; kx < a.w2; ++kx) {
      const auto k = taps(s2, kx);
      const float* p = s1 - static_cast<ptrdiff_t>(kx) * ch;
      for (int u = 0; u < kU; ++u) acc[u] = hn::Add(acc[u], hn::Mul(hn::LoadU(d, p + u * adv), k));
    }
  }
  // Stored in order; overlapping C3 lanes hold equal values anyway.
  for (int u = 0; u < kU; ++u) hn::StoreU(acc[u], d, out + i + u * adv);
}

// Lane j of every vector holds channel j % 3 (vectors start at channel 0).
alignas(64) inline constexpr int32_t kChannelOfLane[64] = {
    0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1,
    2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};

// Lane j of a C3 vector belongs to pixel j / 3 of the vector.
alignas(64) inline constexpr int32_t kPixelOfLane3[64] = {
    0,  0,  0,  1,  1,  1,  2,  2,  2,  3,  3,  3,  4,  4,  4,  5,  5,  5,  6,  6,  6,  7,
    7,  7,  8,  8,  8,  9,  9,  9,  10, 10, 10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14,
    14, 15, 15, 15, 16, 16, 16, 17, 17, 17, 18, 18, 18, 19, 19, 19, 20, 20, 20, 21};

// Border samples [i0, i1) of row y (i0 a whole pixel) on full vectors: the
// rows of the first image are first copied into `scratch` with zeros around
// them, so every load is in bounds, and a term whose column lies outside
// the image is replaced by +0 before it is added. The running sum starts at
// +0 and so is never -0, hence adding +0 leaves it exactly as skipping the
// term would.
template <class D, class Taps>
HWY_INLINE void ConvBorder(D d, const detail::ConvArgs& a, int y, ptrdiff_t i0, ptrdiff_t i1,
                           ptrdiff_t advance, const Taps& taps, float* scratch, float* out) {
  const int ch = a.ch;
  const hn::RebindToSigned<D> di;
  const ptrdiff_t lanes = static_cast<ptrdiff_t>(hn::Lanes(d));
  const ptrdiff_t origin = i0 - static_cast<ptrdiff_t>(a.w2 - 1) * ch;
  const ptrdiff_t span = i1 - origin + lanes;
  const ptrdiff_t rowSamples = static_cast<ptrdiff_t>(a.w1) * ch;
  // scratch row r holds first-image row y - ky for the r-th valid ky.
  int kyBegin = std::max(0, y - a.h1 + 1);
  int kyEnd = std::min(a.h2, y + 1);
  for (int ky = kyBegin; ky < kyEnd; ++ky) {
    const float* src = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * (y - ky));
    float* dstRow = scratch + (ky - kyBegin) * span;
    // Samples [origin, origin + span) of the row, zero outside [0, rowSamples).
    const ptrdiff_t from = std::clamp<ptrdiff_t>(-origin, 0, span);
    const ptrdiff_t to = std::clamp<ptrdiff_t>(rowSamples - origin, from, span);
    std::fill(dstRow, dstRow + from, 0.0f);
    std::copy(src + origin + from, src + origin + to, dstRow + from);
    std::fill(dstRow + to, dstRow + span, 0.0f);
  }
  const auto pixelOfLane = ch == 1 ? hn::Iota(di, 0) : hn::LoadU(di, kPixelOfLane3);
  HWY_ALIGN float tmp[64];
  for (ptrdiff_t i = i0; i < i1; i += advance) {
    const auto xs = hn::Add(hn::Set(di, static_cast<int32_t>(i / ch)), pixelOfLane);
    auto acc = hn::Zero(d);
    for (int ky = kyBegin; ky < kyEnd; ++ky) {
      const float* s1 = scratch + (ky - kyBegin) * span + (i - origin);
      const float* s2 = Advance(a.src2, static_cast<ptrdiff_t>(a.step2) * ky);
      for (int kx = 0; kx < a.w2; ++kx) {
        const auto inside =
            hn::AndNot(hn::Lt(xs, hn::Set(di, kx)), hn::Lt(xs, hn::Set(di, kx + a.w1)));
        const auto term = hn::Mul(hn::LoadU(d, s1 - static_cast<ptrdiff_t>(kx) * ch), taps(s2, kx));
        acc = hn::Add(acc, hn::IfThenElseZero(hn::RebindMask(d, inside), term));
      }
    }
    hn::Store(acc, d, tmp);
    const ptrdiff_t count = std::min(advance, i1 - i);
    for (ptrdiff_t k = 0; k < count; ++k) out[i + k] = tmp[k];
  }
}

// The 3x3 single-channel case (the convolution the library runs most) has
// its own path: the nine taps stay in registers, several output rows are
// computed together so that each source row loaded serves up to three of
// them, and the four border columns of a row are computed one by one
// instead of through a zero-padded copy. Every output still adds its nine
// terms as above: rows of the kernel top to bottom, each left to right, a
// Mul and then an Add, terms outside the image skipped.

// One output pixel (x, y), any position.
HWY_INLINE float Conv3x3Pixel(const detail::ConvArgs& a, const float* k, int y, int x) {
  float acc = 0.0f;
  for (int ky = 0; ky < 3; ++ky) {
    const int sy = y - ky;
    if (sy < 0 || sy >= a.h1) continue;
    const float* row = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * sy);
    for (int kx = 0; kx < 3; ++kx) {
      const int sx = x - kx;
      if (sx < 0 || sx >= a.w1) continue;
      const float term = row[sx] * k[ky * 3 + kx];
      acc = acc + term;
    }
  }
  return acc;
}

// kR output rows whose three source rows all lie inside the image, kC
// vectors of each from column i. rows[j] is source row y0 - 2 + j for the
// first output row y0, so output row r adds rows r + 2, r + 1, r in turn;
// walking the source rows downwards keeps that order for every output.
template <int kR, int kC, class D>
HWY_INLINE void Conv3x3Block(D d, const float* const* rows, const hn::Vec<D>* k, ptrdiff_t i,
                             float* const* outs) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(d));
  hn::Vec<D> acc[kR][kC];
  HWY_UNROLL(8)
  for (int r = 0; r < kR; ++r) {
    HWY_UNROLL(8)
    for (int c = 0; c < kC; ++c) acc[r][c] = hn::Zero(d);
  }
  HWY_UNROLL(8)
  for (int j = kR + 1; j >= 0; --j) {
    HWY_UNROLL(3)
    for (int kx = 0; kx < 3; ++kx) {
      hn::Vec<D> v[kC];
      HWY_UNROLL(8)
      for (int c = 0; c < kC; ++c) v[c] = hn::LoadU(d, rows[j] + i + c * n - kx);
      HWY_UNROLL(8)
      for (int r = 0; r < kR; ++r) {
        const int ky = r + 2 - j;
        if (ky < 0 || ky > 2) continue;
        HWY_UNROLL(8)
        for (int c = 0; c < kC; ++c) acc[r][c] = hn::Add(acc[r][c], hn::Mul(v[c], k[ky * 3 + kx]));
      }
    }
  }
  HWY_UNROLL(8)
  for (int r = 0; r < kR; ++r) {
    HWY_UNROLL(8)
    for (int c = 0; c < kC; ++c) hn::StoreU(acc[r][c], d, outs[r] + i + c * n);
  }
}

// Columns [2, w1) of kR rows from y0 (all inside, see Conv3x3Block), on
// vectors; needs w1 - 2 >= lanes. The last vector ends at column w1 and may
// recompute outputs of the one before it, identically.
template <int kR, class D>
HWY_INLINE void Conv3x3Rows(D d, const detail::ConvArgs& a, const hn::Vec<D>* k, int y0) {
  constexpr int kC = kR == 1 ? 4 : 8 / kR;
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(d));
  const float* rows[kR + 2];
  float* outs[kR];
  for (int j = 0; j < kR + 2; ++j) {
    rows[j] = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * (y0 - 2 + j));
  }
  for (int r = 0; r < kR; ++r)
    outs[r] = Advance(a.dst, static_cast<ptrdiff_t>(a.dstStep) * (y0 + r));
  const ptrdiff_t end = a.w1;
  ptrdiff_t i = 2;
  for (; i + kC * n <= end; i += kC * n) Conv3x3Block<kR, kC>(d, rows, k, i, outs);
  for (; i + n <= end; i += n) Conv3x3Block<kR, 1>(d, rows, k, i, outs);
  if (i < end) Conv3x3Block<kR, 1>(d, rows, k, end - n, outs);
}

// Columns [2, w1) of any one row, on vectors (w1 - 2 >= lanes): only the
// kernel rows whose source row lies inside the image.
template <class D>
HWY_INLINE void Conv3x3AnyRow(D d, const detail::ConvArgs& a, const hn::Vec<D>* k, int y) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(hn::Lanes(d));
  const int kyBegin = std::max(0, y - a.h1 + 1), kyEnd = std::min(3, y + 1);
  float* out = Advance(a.dst, static_cast<ptrdiff_t>(a.dstStep) * y);
  const ptrdiff_t end = a.w1;
  auto at = [&](ptrdiff_t i) {
    auto acc = hn::Zero(d);
    for (int ky = kyBegin; ky < kyEnd; ++ky) {
      const float* row = Advance(a.src1, static_cast<ptrdiff_t>(a.step1) * (y - ky)) + i;
      for (int kx = 0; kx < 3; ++kx) {
        acc = hn::Add(acc, hn::Mul(hn::LoadU(d, row - kx), k[ky * 3 + kx]));
      }
    }
    hn::StoreU(acc, d, out + i);
  };
  ptrdiff_t i = 2;
  for (; i + n <= end; i += n) at(i);
  if (i < end) at(end - n);
}

HWY_INLINE void ConvFull3x3C1(const detail::ConvArgs& a) {
  const hn::ScalableTag<float> d;
  const int lanes = static_cast<int>(hn::Lanes(d));
  float kv[9];
  for (int ky = 0; ky < 3; ++ky) {
    const float* row = Advance(a.src2, static_cast<ptrdiff_t>(a.step2) * ky);
    for (int kx = 0; kx < 3; ++kx) kv[ky * 3 + kx] = row[kx];
  }
  hn::Vec<decltype(d)> k[9];
  for (int t = 0; t < 9; ++t) k[t] = hn::Set(d, kv[t]);
  const int ow = a.w1 + 2;
  const bool vectors = a.w1 - 2 >= lanes;
  // The columns not covered by vectors: the two on either side, or all.
  auto pixels = [&](int y) {
    float* out = Advance(a.dst, static_cast<ptrdiff_t>(a.dstStep) * y);
    if (!vectors) {
      for (int x = 0; x < ow; ++x) out[x] = Conv3x3Pixel(a, kv, y, x);
      return;
    }
    out[0] = Conv3x3Pixel(a, kv, y, 0);
    out[1] = Conv3x3Pixel(a, kv, y, 1);
    out[ow - 2] = Conv3x3Pixel(a, kv, y, ow - 2);
    out[ow - 1] = Conv3x3Pixel(a, kv, y, ow - 1);
  };
  constexpr int kR = 4;
  int y = a.yBegin;
  while (y < a.yEnd) {
    if (vectors && y >= 2 && y + kR <= a.h1 && y + kR <= a.yEnd) {
      Conv3x3Rows<kR>(d, a, k, y);
      for (int r = 0; r < kR; ++r) pixels(y + r);
      y += kR;
      continue;
    }
    if (vectors) Conv3x3AnyRow(d, a, k, y);
    pixels(y);
    ++y;
  }
}

HWY_NOINLINE void ConvFullFloat(const detail::ConvArgs& a) {
  if (a.ch == 1 && a.w2 == 3 && a.h2 == 3 && a.disjoint) {
    ConvFull3x3C1(a);
    return;
  }
  const int ow = a.w1 + a.w2 - 1;
  const int oh = a.h1 + a.h2 - 1;
  const int ch = a.ch;
  const hn::ScalableTag<float> d;
  const hn::CappedTag<float, 1> d1;
  const hn::RebindToSigned<decltype(d)> di;
  const ptrdiff_t lanes = static_cast<ptrdiff_t>(hn::Lanes(d));
  // C3 vectors advance by whole pixels; the lanes past `advance` are
  // recomputed, identically, by the next vector. A vector narrower than a
  // pixel leaves everything to the one-lane path.
  const ptrdiff_t advance = ch == 1 ? lanes : lanes / 3 * 3;
  const auto phase = hn::LoadU(di, kChannelOfLane);
  const auto isC0 = hn::RebindMask(d, hn::Eq(phase, hn::Zero(di)));
  const auto isC1 = hn::RebindMask(d, hn::Eq(phase, hn::Set(di, 1)));
  auto tapsC1 = [&](const float* s2, int kx) { return hn::Set(d, s2[kx]); };
  auto tapsC3 = [&](const float* s2, int kx) {
    const float* k = s2 + kx * 3;
    return hn::IfThenElse(isC0, hn::Set(d, k[0]),
                          hn::IfThenElse(isC1, hn::Set(d, k[1]), hn::Set(d, k[2])));
  };
  // Pixels [xBegin, xEnd) see every column of the second image.
  const int xBegin = std::min(a.w2 - 1, ow);
  const int xEnd = a.w1;
  // Scratch for the border vectors: one zero-padded stretch per kernel row.
  constexpr ptrdiff_t kScratch = 8192;
  HWY_ALIGN float scratch[kScratch];
  const ptrdiff_t borderSpan = 2 * static_cast<ptrdiff_t>(a.w2 - 1) * ch + 3 * lanes;
  const bool vectorBorder = advance > 0 && borderSpan * a.h2 <= kScratch;
  (void)oh;
  for (int y = a.yBegin; y < a.yEnd; ++y) {
    float* out = Advance(a.dst, static_cast<ptrdiff_t>(a.dstStep) * y);
    auto border = [&](ptrdiff_t i0, ptrdiff_t i1) {
      if (i0 >= i1) return;
      if (ch == 1) {
        ConvBorder(d, a, y, i0, i1, advance, tapsC1, scratch, out);
      } else {
        ConvBorder(d, a, y, i0, i1, advance, tapsC3, scratch, out);
      }
    };
    auto one = [&](ptrdiff_t i) {
      const int c = static_cast<int>(i % ch);
      auto taps = [&](const float* s2, int kx) { return hn::Set(d1, s2[kx * ch + c]); };
      hn::StoreU(ConvSamples<true>(d1, a, y, i, taps), d1, out + i);
    };
    ptrdiff_t i = 0;
    if (vectorBorder) {
      border(0, static_cast<ptrdiff_t>(xBegin) * ch);
      i = static_cast<ptrdiff_t>(xBegin) * ch;
    }
    for (; i < static_cast<ptrdiff_t>(xBegin) * ch; ++i) one(i);
    if (xEnd > xBegin && advance > 0) {
      const ptrdiff_t interiorEnd = static_cast<ptrdiff_t>(xEnd) * ch;
      if (ch == 1) {
        for (; i + 7 * advance + lanes <= interiorEnd; i += 8 * advance) {
          ConvSamplesN<8>(d, a, y, i, advance, tapsC1, out);
        }
        for (; i + lanes <= interiorEnd; i += advance) {
          hn::StoreU(ConvSamples<false>(d, a, y, i, tapsC1), d, out + i);
        }
      } else {
        for (; i + 3 * advance + lanes <= interiorEnd; i += 4 * advance) {
          ConvSamplesN<4>(d, a, y, i, advance, tapsC3, out);
        }
        for (; i + lanes <= interiorEnd; i += advance) {
          hn::StoreU(ConvSamples<false>(d, a, y, i, tapsC3), d, out + i);
        }
      }
    }
    if (vectorBorder) {
      border(i, static_cast<ptrdiff_t>(ow) * ch);
      i = static_cast<ptrdiff_t>(ow) * ch;
    }
    for (; i < static_cast<ptrdiff_t>(ow) * ch; ++i) one(i);
  }
}

}  // namespace kelvo::primitives::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // include guard
