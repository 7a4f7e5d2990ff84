#include "imaging/primitives/reference/WaveletReference.h"

#include <algorithm>
#include <vector>

#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::reference {
namespace {

// One analysis output: sum_k t[k] * x(2n + a - k), x given as a function.
template <class Sample>
float Analyse(const WaveletFilter& f, int n, Sample x) {
  float acc = 0.0f;
  for (int k = 0; k < f.length; ++k) acc = acc + f.taps[k] * x(2 * n + f.anchor - k);
  return acc;
}

// One synthesis output from two bands: the upsampled band is zero at odd
// positions, the products with those zeros are added like any other term.
template <class LowBand, class HighBand>
float Synthesise(const WaveletFilter& lo, const WaveletFilter& hi, int m, LowBand uLow,
                 HighBand uHigh) {
  float accLow = 0.0f;
  for (int k = 0; k < lo.length; ++k) {
    const int i = m + lo.anchor - k;
    const float u = (i % 2 == 0) ? uLow(i / 2) : 0.0f;
    accLow = accLow + lo.taps[k] * u;
  }
  float accHigh = 0.0f;
  for (int k = 0; k < hi.length; ++k) {
    const int i = m + hi.anchor - k;
    const float u = (i % 2 == 0) ? uHigh(i / 2) : 0.0f;
    accHigh = accHigh + hi.taps[k] * u;
  }
  return accLow + accHigh;
}

}  // namespace

void WTFwd(const Ipp32f* src, int srcStep, Ipp32f* approx, int approxStep, Ipp32f* detailX,
           int detailXStep, Ipp32f* detailY, int detailYStep, Ipp32f* detailXY, int detailXYStep,
           IppiSize dstRoi, WaveletFilter low, WaveletFilter high) {
  const int bw = dstRoi.width;
  const int bh = dstRoi.height;
  // Source rows the column pass reaches: 2n + a - k over both filters.
  const int rowLo = std::min(low.anchor - low.length + 1, high.anchor - high.length + 1);
  const int rowHi = 2 * (bh - 1) + std::max(low.anchor, high.anchor);
  const int rows = rowHi - rowLo + 1;
  std::vector<float> rowLow(static_cast<size_t>(rows) * bw);
  std::vector<float> rowHigh(static_cast<size_t>(rows) * bw);
  for (int r = rowLo; r <= rowHi; ++r) {
    const float* x = RowAt(src, srcStep, r);
    for (int n = 0; n < bw; ++n) {
      const auto sample = [x](int i) { return x[i]; };
      rowLow[static_cast<size_t>(r - rowLo) * bw + n] = Analyse(low, n, sample);
      rowHigh[static_cast<size_t>(r - rowLo) * bw + n] = Analyse(high, n, sample);
    }
  }
  for (int n = 0; n < bh; ++n) {
    for (int c = 0; c < bw; ++c) {
      const auto fromLow = [&](int r) { return rowLow[static_cast<size_t>(r - rowLo) * bw + c]; };
      const auto fromHigh = [&](int r) { return rowHigh[static_cast<size_t>(r - rowLo) * bw + c]; };
      RowAt(approx, approxStep, n)[c] = Analyse(low, n, fromLow);
      RowAt(detailX, detailXStep, n)[c] = Analyse(low, n, fromHigh);
      RowAt(detailY, detailYStep, n)[c] = Analyse(high, n, fromLow);
      RowAt(detailXY, detailXYStep, n)[c] = Analyse(high, n, fromHigh);
    }
  }
}

void WTInv(const Ipp32f* approx, int approxStep, const Ipp32f* detailX, int detailXStep,
           const Ipp32f* detailY, int detailYStep, const Ipp32f* detailXY, int detailXYStep,
           IppiSize srcRoi, Ipp32f* dst, int dstStep, WaveletFilter low, WaveletFilter high) {
  const int bw = srcRoi.width;
  const int bh = srcRoi.height;
  // Band columns the row pass reaches: (m + a - k) / 2 for even m + a - k.
  const int lo = std::min(low.anchor - low.length + 1, high.anchor - high.length + 1);
  const int hi = std::max(low.anchor, high.anchor);
  const int colLo = (lo >= 0) ? (lo + 1) / 2 : -((-lo) / 2);
  const int colHi = (2 * bw - 1 + hi) / 2;
  const int cols = colHi - colLo + 1;
  const int outH = 2 * bh;
  // Column synthesis: the row-lowpass and row-highpass signals at full height.
  std::vector<float> lowRows(static_cast<size_t>(outH) * cols);
  std::vector<float> highRows(static_cast<size_t>(outH) * cols);
  for (int r = 0; r < outH; ++r) {
    for (int c = colLo; c <= colHi; ++c) {
      const auto a = [&](int n) { return RowAt(approx, approxStep, n)[c]; };
      const auto dy = [&](int n) { return RowAt(detailY, detailYStep, n)[c]; };
      const auto dx = [&](int n) { return RowAt(detailX, detailXStep, n)[c]; };
      const auto dxy = [&](int n) { return RowAt(detailXY, detailXYStep, n)[c]; };
      lowRows[static_cast<size_t>(r) * cols + (c - colLo)] = Synthesise(low, high, r, a, dy);
      highRows[static_cast<size_t>(r) * cols + (c - colLo)] = Synthesise(low, high, r, dx, dxy);
    }
  }
  for (int r = 0; r < outH; ++r) {
    float* y = RowAt(dst, dstStep, r);
    const float* lr = &lowRows[static_cast<size_t>(r) * cols];
    const float* hr = &highRows[static_cast<size_t>(r) * cols];
    for (int m = 0; m < 2 * bw; ++m) {
      y[m] = Synthesise(
          low, high, m, [&](int n) { return lr[n - colLo]; }, [&](int n) { return hr[n - colLo]; });
    }
  }
}

}  // namespace KelvoLibImageProcessing::reference
