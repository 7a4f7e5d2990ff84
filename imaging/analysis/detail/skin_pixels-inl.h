// The skin map's row kernel per SIMD target.
//
// The gate works on whole byte vectors: the gate, the luminance and the
// division-free tests are exact in 8-bit arithmetic (see the comments
// below), the colour totals go through SumsOf8. A vector that still holds a
// candidate then goes through the ratio rules on 32-bit lanes, read back
// from the first level of cache: the three channel ratios are float
// divisions, which are correctly rounded on every target, so each lane sees
// the very quotients of the per-pixel rules and the comparisons decide
// exactly as they do. Tails run the same steps on a one-lane tag.

#if defined(KELVO_ANALYSIS_SKIN_PIXELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KELVO_ANALYSIS_SKIN_PIXELS_INL_H_
#undef KELVO_ANALYSIS_SKIN_PIXELS_INL_H_
#else
#define KELVO_ANALYSIS_SKIN_PIXELS_INL_H_
#endif

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hwy/highway.h"
#include "imaging/analysis/detail/SkinPixels.h"

HWY_BEFORE_NAMESPACE();
namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The gated colours of one step, zero in the lanes that fail the gate.
template <class D8>
struct GatedColours {
  hn::Vec<D8> b, g, r;
};

// 40X >= 39R gives a ratio X / R of at least 0.975, which rounds to at
// least 0.975f, the highest limit. The high-green rule keeps a pixel with
// B / R >= 0.8f only when G / R is below 0.8f (R <= 200), 0.85f (R <= 220),
// 0.9f (R <= 250) or 0.95f: 5B >= 4R and 20G >= T R with T = 16, 17, 18 or
// 19 give ratios at least 0.8 and T / 20, rounded at least 0.8f and the float
// nearest T / 20, which is that bound. Either way the rules fail.
template <class D16>
HWY_INLINE auto FailsNearGrey(D16 d16, hn::Vec<D16> b, hn::Vec<D16> g, hn::Vec<D16> r) {
  const auto r39 = hn::Mul(r, hn::Set(d16, uint16_t{39}));
  const auto k40 = hn::Set(d16, uint16_t{40});
  const auto nearGrey = hn::Or(hn::Not(hn::Lt(hn::Mul(g, k40), r39)),
                               hn::Not(hn::Lt(hn::Mul(b, k40), r39)));
  const auto one = hn::Set(d16, uint16_t{1});
  auto t = hn::Set(d16, uint16_t{16});
  t = hn::Add(t, hn::IfThenElseZero(hn::Gt(r, hn::Set(d16, uint16_t{200})), one));
  t = hn::Add(t, hn::IfThenElseZero(hn::Gt(r, hn::Set(d16, uint16_t{220})), one));
  t = hn::Add(t, hn::IfThenElseZero(hn::Gt(r, hn::Set(d16, uint16_t{250})), one));
  const auto highGreen =
      hn::And(hn::Not(hn::Lt(hn::Mul(b, hn::Set(d16, uint16_t{5})), hn::ShiftLeft<2>(r))),
              hn::Not(hn::Lt(hn::Mul(g, hn::Set(d16, uint16_t{20})), hn::Mul(t, r))));
  return hn::Or(nearGrey, highGreen);
}

// FailsNearGrey for a vector of bytes, computed on 16-bit halves.
template <class D16, class D8>
HWY_INLINE hn::Vec<D8> FailsNearGreyHalf(D16 d16, D8 d8, hn::Vec<D8> b, hn::Vec<D8> g,
                                         hn::Vec<D8> r) {
  const hn::Rebind<int16_t, D16> di16;
  const auto fails =
      FailsNearGrey(d16, hn::PromoteTo(d16, b), hn::PromoteTo(d16, g), hn::PromoteTo(d16, r));
  return hn::DemoteTo(d8, hn::BitCast(di16, hn::IfThenElseZero(fails, hn::Set(d16, 1))));
}

template <class D8>
HWY_INLINE auto FailsNearGreyBytes(D8 d8, hn::Vec<D8> b, hn::Vec<D8> g, hn::Vec<D8> r) {
#if HWY_TARGET != HWY_SCALAR
  if constexpr (hn::MaxLanes(d8) > 1) {
    const hn::Half<D8> dh;
    const hn::Rebind<uint16_t, decltype(dh)> d16;
    const auto lo = FailsNearGreyHalf(d16, dh, hn::LowerHalf(dh, b), hn::LowerHalf(dh, g),
                                      hn::LowerHalf(dh, r));
    const auto hi = FailsNearGreyHalf(d16, dh, hn::UpperHalf(dh, b), hn::UpperHalf(dh, g),
                                      hn::UpperHalf(dh, r));
    return hn::Gt(hn::Combine(d8, hi, lo), hn::Zero(d8));
  } else
#endif
  {
    const hn::Rebind<uint16_t, D8> d16;
    return hn::Gt(FailsNearGreyHalf(d16, d8, b, g, r), hn::Zero(d8));
  }
}

template <class D8>
HWY_INLINE GatedColours<D8> GateStep(D8 d8, const uint8_t* p, int minLum, uint8_t* lum,
                                     uint8_t* mask, uint64_t& count, bool& anyKept) {
  using V = hn::Vec<D8>;
  V b, g, r;
  hn::LoadInterleaved3(d8, p, b, g, r);
  const V one = hn::Set(d8, uint8_t{1});
  // 4G >= R for R > 30 is G >= ceil(R / 4) = floor((R - 1) / 4) + 1, that is
  // G > (R - 1) >> 2; R - 1 wraps only for R = 0, which the first test
  // rejects.
  const V quarter = hn::ShiftRight<2>(hn::Sub(r, one));
  const auto gate = hn::And(hn::Gt(r, hn::Set(d8, uint8_t{30})),
                            hn::And(hn::Gt(g, quarter), hn::Gt(b, quarter)));
  // (B + 2G + R) >> 2 = floor((floor((B + R) / 2) + G) / 2): the dropped
  // half of the inner floor never carries into the outer one. A floor
  // average is the rounding average less the low bit of the sum.
  const V br = hn::Sub(hn::AverageRound(b, r), hn::And(hn::Xor(b, r), one));
  const V l = hn::Sub(hn::AverageRound(br, g), hn::And(hn::Xor(br, g), one));
  hn::StoreU(l, d8, lum);
  // R - G > G - B is R + B > 2G, that is ceil((R + B) / 2) > G for integer G.
  auto keep = hn::And(gate, hn::Gt(hn::AverageRound(r, b), g));
  // Tests of the ratio rules that need no division, each failing only
  // pixels the rules fail (quotients are rounded monotonically):
  // G >= R or B >= R gives a ratio of at least 1, above every limit;
  // 3G < R or 3B < R a ratio of at most the float nearest 1/3, below 0.35;
  // 4B < 3G gives B / G <= 3/4 - 1/1020, which rounds below 0.75.
  // A saturated 3G or 3B is at least 255, so at least R, as the sum is. And
  // 4B >= 3G is B >= ceil(3G / 4) = G - floor(G / 4).
  const V g3 = hn::SaturatedAdd(hn::SaturatedAdd(g, g), g);
  const V b3 = hn::SaturatedAdd(hn::SaturatedAdd(b, b), b);
  keep = hn::And(keep, hn::And(hn::Lt(g, r), hn::Lt(b, r)));
  keep = hn::AndNot(hn::Or(hn::Gt(r, g3), hn::Gt(r, b3)), keep);
  keep = hn::AndNot(hn::Lt(b, hn::Sub(g, hn::ShiftRight<2>(g))), keep);
  keep = hn::AndNot(hn::Gt(g, hn::Set(d8, uint8_t{240})), keep);
  keep = hn::AndNot(hn::Gt(b, hn::Set(d8, uint8_t{230})), keep);
  if (minLum > 255) {
    keep = hn::FirstN(d8, 0);
  } else if (minLum > 0) {
    keep = hn::And(keep, hn::Gt(l, hn::Set(d8, static_cast<uint8_t>(minLum - 1))));
  }
  // The 16-bit tests only for vectors that still hold a candidate.
  if (!hn::AllFalse(d8, keep)) keep = hn::AndNot(FailsNearGreyBytes(d8, b, g, r), keep);
  anyKept = !hn::AllFalse(d8, keep);
  hn::StoreU(hn::VecFromMask(d8, keep), d8, mask);
  count += hn::CountTrue(d8, gate);
  return {hn::IfThenElseZero(gate, b), hn::IfThenElseZero(gate, g), hn::IfThenElseZero(gate, r)};
}

// The float bounds of the rules, and for the two rules tuned against double
// constants the float that stands in for the double: for a float x,
// x < d exactly when x < c, with c the least float not below d (every float
// below c is below d, by the choice of c), and x >= d exactly when x >= c.
struct SkinBounds {
  float below07;  // stands in for the double 0.7
  float below04;  // stands in for the double 0.4
};

inline float LeastFloatNotBelow(double d) {
  float f = static_cast<float>(d);
  if (static_cast<double>(f) < d) f = std::nextafter(f, HUGE_VALF);
  return f;
}

// The ratio rules for the set mask bytes of one step. The cast limit is not
// known yet (it needs the whole frame's gate), but it lies in [0.9f, 0.975f]
// and decides only through max(G / R, B / R) < limit: a pixel below 0.9f
// passes it whatever the limit, one at 0.975f or above fails it. The rest
// are marked 1, for SkinResolveRow to decide once the limit is known.
template <class DI>
HWY_INLINE void TestStep(DI di, const uint8_t* p, const SkinBounds& k, uint8_t* mask,
                         uint64_t& sure, uint64_t& undecided) {
  const hn::Rebind<uint8_t, DI> d8;
  const hn::Rebind<float, DI> df;
  const auto candidate = hn::Gt(hn::PromoteTo(di, hn::LoadU(d8, mask)), hn::Zero(di));
  if (hn::AllFalse(di, candidate)) return;
  hn::Vec<decltype(d8)> b8, g8, r8;
  hn::LoadInterleaved3(d8, p, b8, g8, r8);
  const auto bi = hn::PromoteTo(di, b8);
  const auto gi = hn::PromoteTo(di, g8);
  const auto ri = hn::PromoteTo(di, r8);
  const auto bf = hn::ConvertTo(df, bi);
  const auto gf = hn::ConvertTo(df, gi);
  const auto rf = hn::ConvertTo(df, ri);
  // Lanes that are no candidate may divide by zero; their result is masked.
  const auto gr = hn::Div(gf, rf);
  const auto br = hn::Div(bf, rf);
  const auto bg = hn::Div(bf, gf);
  const auto c = [df](float v) { return hn::Set(df, v); };
  const auto ic = [di](int v) { return hn::Set(di, v); };
  const auto rAbove = [&](int v) { return hn::RebindMask(df, hn::Gt(ri, ic(v))); };
  const auto rBelow = [&](int v) { return hn::RebindMask(df, hn::Lt(ri, ic(v))); };

  const auto pale = hn::RebindMask(
      df, hn::And(hn::Gt(gi, ic(199)), hn::Gt(bi, ic(199))));  // G >= 200 and B >= 200
  auto ok = hn::RebindMask(df, candidate);
  ok = hn::And(ok, hn::And(hn::Ge(gr, c(0.35f)), hn::Ge(br, c(0.35f))));
  ok = hn::And(ok, hn::And(hn::Ge(bg, c(0.75f)), hn::Le(bg, c(1.3f))));
  ok = hn::And(ok, hn::Or(rAbove(199), hn::Lt(hn::Sub(bg, br), c(0.5f))));

  // Saturated red.
  auto reject = hn::And(rAbove(250), hn::And(hn::Lt(gr, c(k.below07)), hn::Lt(br, c(0.6f))));
  reject = hn::Or(reject, hn::And(rAbove(210), hn::And(hn::Lt(gr, c(k.below04)),
                                                       hn::Lt(br, c(0.4f)))));
  // Dark neutral.
  const auto bgNeutral = hn::And(hn::Gt(bg, c(0.9f)), hn::Lt(bg, c(1.02f)));
  const auto grDark = hn::And(hn::Ge(gr, c(k.below07)), hn::Lt(gr, c(0.8f)));
  const auto brDark = hn::And(hn::Ge(br, c(0.7f)), hn::Lt(br, c(0.8f)));
  reject = hn::Or(reject, hn::And(hn::And(rAbove(50), rBelow(90)),
                                  hn::And(hn::And(grDark, brDark), bgNeutral)));
  // Greyish low red.
  const auto grMid = hn::And(hn::Gt(gr, c(0.75f)), hn::Lt(gr, c(0.85f)));
  const auto grHigh = hn::And(hn::Ge(gr, c(0.8f)), hn::Lt(gr, c(0.9f)));
  const auto bgGrey = hn::And(hn::Ge(bg, c(0.8f)), hn::Le(bg, c(0.95f)));
  const auto bgGreyWide = hn::And(hn::Ge(bg, c(0.75f)), hn::Le(bg, c(0.95f)));
  reject = hn::Or(reject, hn::And(hn::And(rAbove(74), rBelow(90)), hn::And(grMid, bgGrey)));
  reject = hn::Or(reject, hn::And(hn::And(rAbove(89), rBelow(120)), hn::And(grHigh, bgGrey)));
  reject = hn::Or(reject, hn::And(hn::And(rAbove(39), rBelow(75)), hn::And(grMid, bgGreyWide)));
  // High green share.
  const auto br085 = hn::Lt(br, c(0.85f));
  auto highOk = hn::Lt(br, c(0.8f));
  highOk = hn::Or(highOk, hn::And(rAbove(250), hn::And(hn::Lt(gr, c(0.95f)), hn::Lt(br, c(0.9f)))));
  highOk = hn::Or(highOk, hn::And(rAbove(220), hn::And(hn::Lt(gr, c(0.9f)), br085)));
  highOk = hn::Or(highOk, hn::And(rAbove(200), hn::And(hn::Lt(gr, c(0.85f)), br085)));
  reject = hn::Or(reject, hn::AndNot(highOk, hn::Ge(gr, c(0.8f))));

  ok = hn::AndNot(reject, ok);
  // Both ratios below the limit is their larger one below it; lanes that are
  // no candidate may hold any quotient, but ok is clear there.
  const auto most = hn::Max(gr, br);
  const auto below09 = hn::Lt(most, c(0.9f));
  const auto passes = hn::Or(hn::And(pale, hn::Lt(most, c(0.875f))), hn::AndNot(pale, below09));
  const auto keep = hn::RebindMask(di, hn::And(ok, passes));
  const auto open = hn::RebindMask(
      di, hn::And(ok, hn::AndNot(pale, hn::AndNot(below09, hn::Lt(most, c(0.975f))))));
  const auto bytes = hn::Or(hn::IfThenElseZero(keep, ic(255)), hn::IfThenElseZero(open, ic(1)));
  hn::StoreU(hn::DemoteTo(d8, bytes), d8, mask);
  sure += hn::CountTrue(di, keep);
  undecided += hn::CountTrue(di, open);
}

inline void SkinGateRowImpl(const uint8_t* pixels, int width, int minLum, uint8_t* lum,
                            uint8_t* mask, SkinGateSums& sums) {
  const hn::ScalableTag<uint8_t> d8;
  const hn::CappedTag<uint8_t, 1> d1;
  const hn::ScalableTag<int32_t> di;
  const hn::CappedTag<int32_t, 1> di1;
  const SkinBounds k{LeastFloatNotBelow(0.7), LeastFloatNotBelow(0.4)};
  const size_t n = hn::Lanes(d8);
  const size_t ni = hn::Lanes(di);
  const size_t count = static_cast<size_t>(width);
  uint64_t gated = 0;
  size_t x = 0;
  if constexpr (hn::MaxLanes(d8) >= 8) {
    // Eight bytes at a time into 64-bit lanes: a row of any width fits.
    const hn::Repartition<uint64_t, decltype(d8)> d64;
    auto b = hn::Zero(d64), g = hn::Zero(d64), r = hn::Zero(d64);
    for (; x + n <= count; x += n) {
      bool any = false;
      const auto c = GateStep(d8, pixels + 3 * x, minLum, lum + x, mask + x, gated, any);
      b = hn::Add(b, hn::SumsOf8(c.b));
      g = hn::Add(g, hn::SumsOf8(c.g));
      r = hn::Add(r, hn::SumsOf8(c.r));
      if (any) {
        for (size_t i = 0; i < n; i += ni) {
          TestStep(di, pixels + 3 * (x + i), k, mask + x + i, sums.skin, sums.undecided);
        }
      }
    }
    sums.b += hn::GetLane(hn::SumOfLanes(d64, b));
    sums.g += hn::GetLane(hn::SumOfLanes(d64, g));
    sums.r += hn::GetLane(hn::SumOfLanes(d64, r));
  }
  for (; x < count; ++x) {
    bool any = false;
    const auto c = GateStep(d1, pixels + 3 * x, minLum, lum + x, mask + x, gated, any);
    sums.b += hn::GetLane(c.b);
    sums.g += hn::GetLane(c.g);
    sums.r += hn::GetLane(c.r);
    if (any) TestStep(di1, pixels + 3 * x, k, mask + x, sums.skin, sums.undecided);
  }
  sums.count += gated;
}

}  // namespace KelvoLibImageProcessing::detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
