#include "host/Scale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>

namespace kelvo::host {

namespace {

// The source samples one output sample of an axis is made of: first source
// index and one weight per source index from there, summing to 1.
struct Taps {
  int first = 0;
  std::vector<double> weights;
};

// Shrinking: output i covers source [i * in / out, (i + 1) * in / out).
// Measured in 1/out of a source pixel every edge is a whole number, so the
// overlaps are exact and each weight is overlap / in.
std::vector<Taps> AreaTaps(int in, int out) {
  std::vector<Taps> taps(static_cast<size_t>(out));
  const int64_t span = in;
  for (int i = 0; i < out; ++i) {
    const int64_t begin = static_cast<int64_t>(i) * in;
    const int64_t end = begin + span;
    const int first = static_cast<int>(begin / out);
    const int last = static_cast<int>((end - 1) / out);
    taps[i].first = first;
    for (int j = first; j <= last; ++j) {
      const int64_t lo = std::max(begin, static_cast<int64_t>(j) * out);
      const int64_t hi = std::min(end, static_cast<int64_t>(j + 1) * out);
      taps[i].weights.push_back(static_cast<double>(hi - lo) / static_cast<double>(in));
    }
  }
  return taps;
}

// Enlarging: output centre i + 1/2 sits at source (i + 1/2) * in / out - 1/2,
// held as the exact fraction ((2i + 1) in - out) / (2 out); before the first
// centre and after the last the edge pixel is repeated.
std::vector<Taps> LinearTaps(int in, int out) {
  std::vector<Taps> taps(static_cast<size_t>(out));
  const int64_t den = 2 * static_cast<int64_t>(out);
  for (int i = 0; i < out; ++i) {
    const int64_t num = (2 * static_cast<int64_t>(i) + 1) * in - out;
    if (num <= 0) {
      taps[i].first = 0;
      taps[i].weights = {1.0};
      continue;
    }
    const int j = static_cast<int>(num / den);
    const double frac = static_cast<double>(num % den) / static_cast<double>(den);
    if (j >= in - 1 || frac == 0.0) {
      taps[i].first = std::min(j, in - 1);
      taps[i].weights = {1.0};
    } else {
      taps[i].first = j;
      taps[i].weights = {1.0 - frac, frac};
    }
  }
  return taps;
}

std::vector<Taps> AxisTaps(int in, int out) {
  if (out < in) return AreaTaps(in, out);
  if (out > in) return LinearTaps(in, out);
  std::vector<Taps> taps(static_cast<size_t>(out));
  for (int i = 0; i < out; ++i) taps[i] = {i, {1.0}};
  return taps;
}

}  // namespace

std::string ScaledSize(int width, int height, int scaleWidth, int scaleHeight, int* outWidth,
                       int* outHeight) {
  if (width <= 0 || height <= 0) return "there is no picture to scale";
  if (scaleWidth < 0 || scaleHeight < 0)
    return "cannot scale to a negative size (" + std::to_string(scaleWidth) + " x " +
           std::to_string(scaleHeight) + ")";
  int64_t w = scaleWidth, h = scaleHeight;
  if (w == 0 && h == 0) {
    w = width;
    h = height;
  } else if (h == 0) {
    // height * w / width, halves rounded up, in whole numbers.
    h = std::max<int64_t>(1, (2 * static_cast<int64_t>(height) * w + width) / (2 * int64_t{width}));
  } else if (w == 0) {
    w = std::max<int64_t>(1,
                          (2 * static_cast<int64_t>(width) * h + height) / (2 * int64_t{height}));
  }
  if (w > kMaxScaledPixels || h > kMaxScaledPixels || w * h > kMaxScaledPixels) {
    return "cannot scale to " + std::to_string(w) + " x " + std::to_string(h) +
           " pixels, more than the limit of " + std::to_string(kMaxScaledPixels);
  }
  *outWidth = static_cast<int>(w);
  *outHeight = static_cast<int>(h);
  return {};
}

std::vector<uint8_t> ScaleBgr(const uint8_t* bgr, int width, int height, size_t stride,
                              int outWidth, int outHeight) {
  const size_t outRow = static_cast<size_t>(outWidth) * 3;
  std::vector<uint8_t> out(outRow * static_cast<size_t>(outHeight));
  if (outWidth == width && outHeight == height) {
    for (int y = 0; y < height; ++y)
      std::memcpy(&out[static_cast<size_t>(y) * outRow], bgr + static_cast<size_t>(y) * stride,
                  outRow);
    return out;
  }
  const std::vector<Taps> across = AxisTaps(width, outWidth);
  const std::vector<Taps> down = AxisTaps(height, outHeight);

  // Source rows scaled across, kept while output rows still need them: the
  // rows an output row needs only ever move down, so a window suffices and
  // each source row is scaled across once.
  std::deque<std::vector<double>> window;
  std::vector<std::vector<double>> spare;  // rows left behind, reused
  int windowFirst = 0;
  auto scaleAcross = [&](int y) {
    std::vector<double> row;
    if (spare.empty()) {
      row.resize(outRow);
    } else {
      row = std::move(spare.back());
      spare.pop_back();
    }
    const uint8_t* src = bgr + static_cast<size_t>(y) * stride;
    double* dst = row.data();
    for (int x = 0; x < outWidth; ++x, dst += 3) {
      const Taps& t = across[x];
      const double* w = t.weights.data();
      const uint8_t* s = src + static_cast<size_t>(t.first) * 3;
      double b = 0.0, g = 0.0, r = 0.0;
      for (size_t k = 0; k < t.weights.size(); ++k, s += 3) {
        b += w[k] * static_cast<double>(s[0]);
        g += w[k] * static_cast<double>(s[1]);
        r += w[k] * static_cast<double>(s[2]);
      }
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
    }
    return row;
  };

  std::vector<double> sum(outRow);
  for (int y = 0; y < outHeight; ++y) {
    const Taps& t = down[y];
    while (!window.empty() && windowFirst < t.first) {
      spare.push_back(std::move(window.front()));
      window.pop_front();
      ++windowFirst;
    }
    if (window.empty()) windowFirst = t.first;
    while (windowFirst + static_cast<int>(window.size()) <
           t.first + static_cast<int>(t.weights.size()))
      window.push_back(scaleAcross(windowFirst + static_cast<int>(window.size())));
    std::fill(sum.begin(), sum.end(), 0.0);
    for (size_t k = 0; k < t.weights.size(); ++k) {
      const double* row = window[static_cast<size_t>(t.first - windowFirst) + k].data();
      const double w = t.weights[k];
      for (size_t i = 0; i < outRow; ++i) sum[i] += w * row[i];
    }
    uint8_t* dst = &out[static_cast<size_t>(y) * outRow];
    for (size_t i = 0; i < outRow; ++i)
      dst[i] = static_cast<uint8_t>(std::clamp(std::floor(sum[i] + 0.5), 0.0, 255.0));
  }
  return out;
}

}  // namespace kelvo::host
