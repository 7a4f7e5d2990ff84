#include "imaging/analysis/detail/StretchTables.h"

#include <algorithm>
#include <cmath>

namespace KelvoLibImageProcessing::detail {

namespace {

// The float 0.001 widened to double (0.0010000000474974513).
constexpr double kRampOffset = static_cast<double>(0.001f);
constexpr double kKneeLowEnd = static_cast<double>(0.001f);
constexpr double kKneeHighEnd = static_cast<double>(0.999f);
constexpr float kKneeGrowth = 1.414f;

// Truncation toward zero of a clip product. Clip fractions outside [0, 1)
// give indices outside the table; they are kept (the loops below clip their
// ranges to the table) but limited so they stay integers. Not a number
// gives 0.
int TruncIndex(double value) {
  if (!(value == value)) return 0;
  value = std::min(std::max(value, -1.0e9), 1.0e9);
  return static_cast<int>(value);
}

struct Clips {
  int lo;
  int hi;
};

// lo = trunc(n * lowClip), hi = trunc(n * (1 - highClip)); when they meet or
// cross, the clips are dropped: lo = 0 and hi = droppedHigh.
//
// Both products are float operations on float operands, rounded to float
// before the truncation: 255 * (1 - 0.2f) is 204 in float but 203.99999... in
// double, and the clip point decides a whole table entry.
Clips ClipIndices(float n, float lowClip, float highClip, int droppedHigh) {
  const float lowProduct = n * lowClip;
  const float highProduct = n * (1.0f - highClip);
  Clips c{TruncIndex(static_cast<double>(lowProduct)),
          TruncIndex(static_cast<double>(highProduct))};
  if (c.lo >= c.hi) c = Clips{0, droppedHigh};
  return c;
}

// Fills table[0..lo] with 0 and table[hi..last] with white (white last, so
// it wins where the two meet), and returns the ramp's index range lo+1..hi-1
// clipped to the table.
template <class T>
void FillEnds(T* table, int size, Clips c, T white, int& first, int& last) {
  for (int i = 0; i <= std::min(c.lo, size - 1); ++i) table[i] = 0;
  for (int i = std::max(c.hi, 0); i < size; ++i) table[i] = white;
  first = std::max(c.lo + 1, 0);
  last = std::min(c.hi - 1, size - 1);
}

// The soft-knee curve f(x, p) = g (x - m) / ((2 g |x - m|)^p + 1)^(1/p) + 0.5.
double Knee(double x, double p, double g, double m) {
  const double d = x - m;
  const double base = 2.0 * g * std::fabs(d);
  const double powered = std::pow(base, p);
  if (std::isinf(powered) && !std::isinf(p)) {
    // Far outside the ramp a large exponent overflows
    // base^p, which would leave inf / inf and put mid-grey at the ends. There
    // 1 is negligible beside base^p, the root is base itself and g (x - m) /
    // base is exactly -0.5 or +0.5: the curve has reached black or white.
    return d < 0.0 ? 0.0 : 1.0;
  }
  return g * d / std::pow(powered + 1.0, 1.0 / p) + 0.5;
}

}  // namespace

void BuildStretchTable8To8(int maxValue, float lowClip, float highClip, uint8_t* table) {
  const float n = static_cast<float>(maxValue);
  const Clips c = ClipIndices(n, lowClip, highClip, maxValue);
  int first, last;
  FillEnds<uint8_t>(table, 256, c, static_cast<uint8_t>(maxValue), first, last);
  const float s = static_cast<float>(static_cast<double>(n) / (c.hi - c.lo));
  for (int i = first; i <= last; ++i) {
    const int k = i - c.lo;
    float v = static_cast<float>(k * static_cast<double>(s) + kRampOffset);
    if (v > n) v = n;
    table[i] = static_cast<uint8_t>(static_cast<int>(v));
  }
}

void BuildStretchTable8To16(int maxValue, float lowClip, float highClip, uint16_t* table) {
  const float n = static_cast<float>(maxValue);
  const Clips c = ClipIndices(n, lowClip, highClip, 255);
  int first, last;
  FillEnds<uint16_t>(table, 256, c, static_cast<uint16_t>(maxValue), first, last);
  const float s = static_cast<float>(255.0 / (c.hi - c.lo));
  const double step = static_cast<double>(n) * static_cast<double>(s) / 255.0;
  for (int i = first; i <= last; ++i) {
    const int k = i - c.lo;
    float v = static_cast<float>(k * step + kRampOffset);
    if (v > n) v = n;
    table[i] = static_cast<uint16_t>(static_cast<int>(v));
  }
}

void BuildStretchTable16To8(int maxValue, float lowClip, float highClip, uint8_t* table) {
  const float n = static_cast<float>(maxValue);
  const Clips c = ClipIndices(n, lowClip, highClip, maxValue);
  int first, last;
  FillEnds<uint8_t>(table, 65536, c, 255, first, last);
  const float s = static_cast<float>(static_cast<double>(n) / (c.hi - c.lo));
  const double t = static_cast<double>(s) * 255.0 / static_cast<double>(n);
  for (int i = first; i <= last; ++i) {
    const int k = i - c.lo;
    double v = k * t + kRampOffset;
    v = std::min(std::max(v, 0.0), 255.0);
    table[i] = static_cast<uint8_t>(static_cast<int>(v));
  }
}

void BuildStretchTable16To16(int maxValue, float lowClip, float highClip, float kneeLow,
                             float kneeHigh, uint16_t* table) {
  if (maxValue < 1) {
    // No range to spread over: every sample becomes the (empty) maximum.
    std::fill(table, table + 65536, static_cast<uint16_t>(std::max(maxValue, 0)));
    return;
  }
  const float n = static_cast<float>(maxValue);
  Clips c = ClipIndices(n, lowClip, highClip, maxValue);
  // A steep ramp that starts near black keeps its top end: the high clip is
  // dropped.
  if (c.lo < maxValue / 16 && static_cast<float>(static_cast<double>(n) / (c.hi - c.lo)) >= 8.0f) {
    c.hi = maxValue;
  }
  const double a = static_cast<double>(c.lo) / static_cast<double>(n);
  const double b = static_cast<double>(c.hi) / static_cast<double>(n);
  const double g = 1.0 / (b - a);
  const double m = (a + b) / 2.0;

  // Raise each exponent until its end of the curve comes within 0.001 of 0
  // (or 1); an exponent that overflows to infinity ends its search.
  float pLow = kneeLow;
  while (!std::isinf(pLow) && Knee(0.0, pLow, g, m) > kKneeLowEnd) pLow = pLow * kKneeGrowth;
  float pHigh = kneeHigh;
  while (!std::isinf(pHigh) && Knee(1.0, pHigh, g, m) < kKneeHighEnd) {
    pHigh = pHigh * kKneeGrowth;
  }

  table[0] = 0;
  const double step = 1.0 / 4095.0;
  double x = 0.0;
  const double nd = static_cast<double>(n);
  for (int i = 1; i < maxValue; ++i) {
    x += step;
    const float p = x >= m ? pHigh : pLow;
    double y = Knee(x, p, g, m) * nd;
    if (!(y >= 0.0)) y = 0.0;
    if (y > nd) y = nd;
    table[i] = static_cast<uint16_t>(static_cast<int>(y));
  }
  std::fill(table + maxValue, table + 65536, static_cast<uint16_t>(maxValue));
}

}  // namespace KelvoLibImageProcessing::detail
