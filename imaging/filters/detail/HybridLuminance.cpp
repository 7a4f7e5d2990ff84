#include "imaging/filters/detail/HybridLuminance.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <mutex>

#include "imaging/core/IPException.h"
#include "imaging/filters/detail/FilterRows.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {
namespace {

// The mask's test as the summed-table form computes it: the window sum is an
// exact integer in double, divided by the window's pixel count.
inline bool Marked(int sample, long long sum, int count, float threshold) {
  const double mean = static_cast<double>(sum) / static_cast<double>(count);
  const float diff = static_cast<float>(static_cast<double>(sample) - mean);
  return diff < -threshold || diff > threshold;
}

// First sum in [0, maxSum + 1] at which "diff > threshold" stops holding
// (diff never grows with the sum, so the test holds on a prefix).
int FirstNotAbove(int sample, int count, int maxSum, float threshold) {
  int lo = 0, hi = maxSum + 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const double mean = static_cast<double>(mid) / static_cast<double>(count);
    if (static_cast<float>(static_cast<double>(sample) - mean) > threshold) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Last sum in [-1, maxSum] before "diff < -threshold" starts to hold (it holds
// on a suffix).
int LastNotBelow(int sample, int count, int maxSum, float threshold) {
  int lo = 0, hi = maxSum + 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const double mean = static_cast<double>(mid) / static_cast<double>(count);
    if (static_cast<float>(static_cast<double>(sample) - mean) < -threshold) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo - 1;
}

// True when every tap but the centre one (height / 2, width / 2) has the bits
// of one value, which goes to offTap; the centre tap goes to centreTap.
bool UniformOffCentre(const float* kernel, int width, int height, float& offTap, float& centreTap) {
  const int centre = (height / 2) * width + width / 2;
  const int count = width * height;
  if (count < 2) return false;
  offTap = kernel[centre == 0 ? 1 : 0];
  centreTap = kernel[centre];
  for (int i = 0; i < count; ++i) {
    if (i != centre && std::bit_cast<uint32_t>(kernel[i]) != std::bit_cast<uint32_t>(offTap))
      return false;
  }
  return true;
}

// IntegerMaskBounds takes some ten thousand float tests, a visible share of a
// small frame's sharpening, and every frame asks for the same window and
// threshold: the last answer is kept.
bool RememberedMaskBounds(int count, float threshold, int& markAbove, int& markBelow) {
  struct Answer {
    int count = 0;
    uint32_t thresholdBits = 0;
    bool valid = false, integer = false;
    int above = 0, below = 0;
  };
  static std::mutex lock;
  static Answer last;
  const uint32_t bits = std::bit_cast<uint32_t>(threshold);
  {
    const std::lock_guard<std::mutex> hold(lock);
    if (last.valid && last.count == count && last.thresholdBits == bits) {
      markAbove = last.above;
      markBelow = last.below;
      return last.integer;
    }
  }
  Answer a;
  a.count = count;
  a.thresholdBits = bits;
  a.valid = true;
  a.integer = IntegerMaskBounds(count, threshold, a.above, a.below);
  markAbove = a.above;
  markBelow = a.below;
  const std::lock_guard<std::mutex> hold(lock);
  last = a;
  return a.integer;
}

}  // namespace

bool IntegerMaskBounds(int count, float threshold, int& markAbove, int& markBelow) {
  if (count < 1 || !(threshold >= 0.0f)) return false;
  const int maxSum = 255 * count;
  // For each sample the marked sums are a prefix (diff above the threshold)
  // and a suffix (diff below minus the threshold). The integer test needs
  // both edges to move by exactly `count` per sample step; the two extreme
  // samples fix the constants and every sample is then checked.
  markAbove = 255 * count - FirstNotAbove(255, count, maxSum, threshold);
  markBelow = -LastNotBelow(0, count, maxSum, threshold);
  for (int sample = 0; sample < 256; ++sample) {
    const int edgeAbove = std::clamp(count * sample - markAbove, 0, maxSum + 1);
    const int edgeBelow = std::clamp(count * sample - markBelow, -1, maxSum);
    if (FirstNotAbove(sample, count, maxSum, threshold) != edgeAbove) return false;
    if (LastNotBelow(sample, count, maxSum, threshold) != edgeBelow) return false;
  }
  return true;
}

void SharpenLuminance8(const uint8_t* lum, int lumStride, uint8_t* out, int outStride, int width,
                       int height, const HybridLuminanceParams& p, const char* where) {
  if (width < 1 || height < 1) return;
  const std::size_t w = static_cast<std::size_t>(width);
  auto sourceRow = [&](int y) { return RowAt(lum, lumStride, y); };

  const bool highPass = p.highPass != nullptr;
  const int hpW = highPass ? p.highPassWidth : 1;
  const int hpH = highPass ? p.highPassHeight : 1;
  const int hpHalfW = hpW / 2, hpHalfH = hpH / 2;
  // The pipeline's high-pass has one tap everywhere but the centre: its
  // source rows are then kept as products with that tap.
  float offTap = 0.0f, centreTap = 0.0f;
  const bool uniform = highPass && UniformOffCentre(p.highPass, hpW, hpH, offTap, centreTap);
  const int blurHalf = p.blurSize / 2;
  const int R = p.halfSize;
  // Rows of the high-pass result needed ahead of and behind the row being
  // finished.
  const int lead = std::max(R, p.blurSize - 1 - blurHalf);
  const int reach = std::max(R, blurHalf);
  // Float copies of the source rows (or their products with the common tap)
  // for the high-pass (its whole window)
  // and of the high-pass rows for the blur and the mask window, with the
  // high-pass bytes beside them.
  // The uniform high-pass makes up to four rows at a time (each product row
  // read once for all), so its rings hold three rows more: the later rows'
  // products and bytes are made early.
  constexpr int kGroup = 4;
  const int pairExtra = uniform ? kGroup - 1 : 0;
  const int ringA = highPass ? hpH + pairExtra : 0;
  // (one more than the window needs: the row that leaves the column sums
  // is read as the next row's window moves on).
  const int ringB = std::max(p.blurSize, reach + 2 + lead) + pairExtra;

  const int windowCount = (2 * R + 1) * (2 * R + 1);
  int markAbove = 0, markBelow = 0;
  const bool integerMask = RememberedMaskBounds(windowCount, p.threshold, markAbove, markBelow);
  const float onePlusA = 1.0f + p.amount;

  // Rows [begin, end) of the output. The source is only read, so a band
  // computes the high-pass rows around it for itself, exactly as a band
  // above or below computes them for its own rows.
  auto band = [&](int begin, int end) {
    auto floatRows =
        kelvo::memory::AllocateArray<float>(w * static_cast<std::size_t>(ringA + ringB));
    auto sums = kelvo::memory::AllocateArray<int32_t>(w);
    auto bytes = kelvo::memory::AllocateArray<uint8_t>(
        w * static_cast<std::size_t>(2 + (highPass ? ringB : 0)));
    const std::size_t pointers =
        static_cast<std::size_t>(std::max({hpH + pairExtra, p.blurSize, 1}));
    auto rowPointers = kelvo::memory::AllocateArray<const float*>(pointers);
    auto bytePointers =
        kelvo::memory::AllocateArray<const uint8_t*>(2 * static_cast<std::size_t>(R) + 1);
    if (!floatRows || !sums || !bytes || !rowPointers || !bytePointers)
      throw IPException(ErrorCode::kAllocationFailed, where);
    float* ringSource = floatRows.get();
    float* ringHigh = floatRows.get() + w * static_cast<std::size_t>(ringA);
    uint8_t* maskRow = bytes.get();
    uint8_t* blurRow = bytes.get() + w;
    uint8_t* ringBytes = bytes.get() + 2 * w;
    // Without a high-pass the high-pass rows are the source rows.
    auto highRow = [&](int y) -> const uint8_t* {
      return highPass ? ringBytes + w * static_cast<std::size_t>(y % ringB) : sourceRow(y);
    };

    const int first = std::max(begin - reach, 0);
    const int last = std::min(end - 1 + lead, height - 1);
    int widened = std::max(first - hpHalfH, 0);  // next source row for ringSource
    int madeUpTo = -1;  // high-pass rows made early with a row above, up to this one
    auto produce = [&](int y) {
      const int from = hpHalfW, to = width - hpHalfW;
      auto convolved = [&](int r) { return r >= hpHalfH && r < height - hpHalfH && from < to; };
      // Only the columns the convolution leaves keep the source.
      auto frame = [&](int r) {
        uint8_t* row = ringBytes + w * static_cast<std::size_t>(r % ringB);
        if (convolved(r)) {
          std::memcpy(row, sourceRow(r), static_cast<std::size_t>(from));
          std::memcpy(row + to, sourceRow(r) + to, static_cast<std::size_t>(width - to));
        } else {
          std::memcpy(row, sourceRow(r), w);
        }
        return row;
      };
      if (highPass && y > madeUpTo) {
        uint8_t* row = frame(y);
        // Rows made together must all be convolved and within this band.
        int group = 1;
        if (uniform && convolved(y)) {
          for (int g : {kGroup, 2}) {
            if (y + g - 1 <= last && convolved(y + g - 1)) {
              group = g;
              break;
            }
          }
        }
        const int need = std::min(height - 1, y + group - 1 + hpHalfH);
        for (; widened <= need; ++widened) {
          float* ring = ringSource + w * static_cast<std::size_t>(widened % ringA);
          if (uniform) {
            WidenScaled(sourceRow(widened), ring, w, offTap);
          } else {
            WidenToFloat(sourceRow(widened), ring, w);
          }
        }
        if (group > 1) {
          for (int j = 0; j < hpH + group - 1; ++j) {
            rowPointers[j] =
                ringSource + w * static_cast<std::size_t>((y + group - 1 + hpHalfH - j) % ringA);
          }
          const uint8_t* centres[kGroup];
          uint8_t* outs[kGroup];
          for (int r = 0; r < group; ++r) {
            const int at = y + group - 1 - r;
            centres[r] = sourceRow(at);
            outs[r] = at == y ? row : frame(at);
          }
          ConvolveRowsNarrowUniform(rowPointers.get(), centres, group, centreTap, hpW, hpH, from,
                                    to, outs, 255.0f);
          madeUpTo = y + group - 1;
        } else if (convolved(y)) {
          for (int ky = 0; ky < hpH; ++ky) {
            rowPointers[ky] = ringSource + w * static_cast<std::size_t>((y + hpHalfH - ky) % ringA);
          }
          if (uniform) {
            ConvolveRowNarrowUniform(rowPointers.get(), sourceRow(y), centreTap, hpW, hpH, from, to,
                                     row, 255.0f);
          } else {
            ConvolveRowNarrow(rowPointers.get(), p.highPass, hpW, hpH, from, to, row, 255.0f);
          }
        }
      }
      WidenToFloat(highRow(y), ringHigh + w * static_cast<std::size_t>(y % ringB), w);
    };

    int sumsTop = -1, sumsBottom = -1;  // the window rows that sums holds
    auto finish = [&](int y) {
      const uint8_t* high = highRow(y);
      uint8_t* o = RowAt(out, outStride, y);
      const int y0 = std::max(y - R, 0), y1 = std::min(y + R, height - 1);
      const int rows = y1 - y0 + 1;
      const bool blurRowInside = y >= blurHalf && y < height - blurHalf;
      if (blurRowInside) {
        for (int ky = 0; ky < p.blurSize; ++ky) {
          rowPointers[ky] = ringHigh + w * static_cast<std::size_t>((y + blurHalf - ky) % ringB);
        }
      }
      // The column sums of the window move with it: a row enters at the
      // bottom and one leaves at the top, and the integers come out as a
      // fresh sum would give them.
      const int moveTop = y0 - sumsTop, moveBottom = y1 - sumsBottom;
      if (sumsTop >= 0 && (moveTop == 0 || moveTop == 1) && (moveBottom == 0 || moveBottom == 1)) {
        if (moveTop == 1 || moveBottom == 1) {
          SlideColumnSums(sums.get(), moveBottom == 1 ? highRow(y1) : nullptr,
                          moveTop == 1 ? highRow(sumsTop) : nullptr, w);
        }
      } else {
        for (int r = y0; r <= y1; ++r) bytePointers[r - y0] = highRow(r);
        ColumnSums(bytePointers.get(), rows, w, sums.get());
      }
      sumsTop = y0;
      sumsBottom = y1;
      // Columns whose blur and window are both whole: one pass does all
      // three steps; the columns around them (and rows without a whole
      // window) take the step-by-step path below.
      int fusedFirst = 0, fusedLast = 0;
      if (integerMask && blurRowInside && rows == 2 * R + 1 && reach < width - reach) {
        fusedFirst = reach;
        fusedLast = width - reach;
        FinishHybridRow(rowPointers.get(), p.blur, p.blurSize, sums.get(), high, o, fusedFirst,
                        fusedLast, R, windowCount, markAbove, markBelow, onePlusA, p.amount);
      }
      auto stepwise = [&](int from, int to) {
        if (from >= to) return;
        // Blur: the interior from the float rows, the frame keeps the
        // high-pass.
        std::memcpy(blurRow + from, high + from, static_cast<std::size_t>(to - from));
        const int bFirst = std::max(blurHalf, from), bLast = std::min(width - blurHalf, to);
        if (blurRowInside && bFirst < bLast) {
          ConvolveRowNarrow(rowPointers.get(), p.blur, p.blurSize, p.blurSize, bFirst, bLast,
                            blurRow, 255.0f);
        }
        for (int x = from; x < to; ++x) {
          const int x0 = std::max(x - R, 0), x1 = std::min(x + R, width - 1);
          long long sum = 0;
          for (int i = x0; i <= x1; ++i) sum += sums[i];
          maskRow[x] = Marked(high[x], sum, (x1 - x0 + 1) * rows, p.threshold) ? 255 : 0;
        }
        std::memcpy(o + from, high + from, static_cast<std::size_t>(to - from));
        ApplyUnsharpRow(o + from, blurRow + from, maskRow + from,
                        static_cast<std::size_t>(to - from), onePlusA, p.amount, 255.0f);
      };
      if (fusedFirst < fusedLast) {
        stepwise(0, fusedFirst);
        stepwise(fusedLast, width);
      } else {
        stepwise(0, width);
      }
    };

    int finished = begin;
    for (int y = first; y <= last; ++y) {
      produce(y);
      for (; finished < end && (finished + lead <= y || y == last); ++finished) finish(finished);
    }
  };

  // Each band recomputes the reach + lead high-pass rows around it; bands
  // of several times that keep the repeated work small.
  const int grain = std::max(kelvo::BandRows(static_cast<long>(width)), 8 * (reach + lead + 1));
  kelvo::ParallelRows(height, grain, band);
}

}  // namespace KelvoLibImageProcessing::detail
