#include "imaging/analysis/detail/SkinAreas.h"

#include <algorithm>
#include <cstring>

#include "imaging/analysis/Regions.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing::detail {
namespace {

std::size_t RowStart(int width, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
}

// True when the eight bytes at p are all zero.
bool EightClear(const uint8_t* p) {
  uint64_t eight;
  std::memcpy(&eight, p, 8);
  return eight == 0;
}

// Hints are free to point anywhere, but these stay inside the planes.
inline void Fetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace

void PrefetchMarked(const uint8_t* mask, int width, const uint8_t* pixels, const uint8_t* lum) {
  constexpr int kGroup = 64;
  for (int x = 0; x < width; x += kGroup) {
    const int n = std::min(kGroup, width - x);
    uint64_t any = 0;
    int i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t eight;
      std::memcpy(&eight, mask + x + i, 8);
      any |= eight;
    }
    for (; i < n; ++i) any |= mask[x + i];
    if (any == 0) continue;
    const uint8_t* p = pixels + 3 * static_cast<std::size_t>(x);
    const int bytes = 3 * n;
    for (int b = 0; b < bytes; b += 64) Fetch(p + b);
    Fetch(p + bytes - 1);
    if (lum != nullptr) {
      Fetch(lum + x);
      Fetch(lum + x + n - 1);
    }
  }
}

// The part of each run of `label` in the rows and columns of the box, as
// [x0, x1) column ranges of row y.
template <class Visit>
void ForEachRun(const Regions& regions, AreaBox box, int32_t label, Visit visit) {
  for (int y = box.y0; y <= box.y1; ++y) {
    int count = 0;
    const RegionRun* runs = regions.GetRuns(y, count);
    for (int i = 0; i < count; ++i) {
      if (runs[i].label != label) continue;
      const int x0 = std::max(runs[i].x0, box.x0);
      const int x1 = std::min(runs[i].x1, box.x1 + 1);
      if (x0 < x1) visit(y, x0, x1);
    }
  }
}

void PaintChosen(const Regions& regions, const uint8_t* chosen, const AreaBox* boxes,
                 uint8_t* mask) {
  const int width = regions.GetWidth();
  const RegionRecord* records = regions.GetRegions();
  // A speck taken in by a region keeps its own value, so only without
  // specks do a region's runs hold nothing but its value.
  const bool clearGround = regions.GetSpeckCount() == 0;
  // Rows are independent; each band rewrites its own.
  kelvo::ParallelRows(regions.GetHeight(), kelvo::BandRows(width), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      uint8_t* row = mask + RowStart(width, y);
      int count = 0;
      const RegionRun* runs = regions.GetRuns(y, count);
      // The runs cover the row: each writes its own bytes, clear around the
      // part inside its region's box when the region is chosen. Bytes
      // that already hold what would be written are left: a region of
      // value 0 that is not chosen (most of a frame), and the part inside
      // the box of a chosen region of value 255.
      for (int i = 0; i < count; ++i) {
        const RegionRun& r = runs[i];
        const int32_t value = r.label >= 0 && clearGround ? records[r.label].value : -1;
        if (value == 0 && chosen[r.label] == 0) continue;
        int x0 = r.x1, x1 = r.x1;
        if (r.label >= 0 && chosen[r.label] != 0) {
          const AreaBox& b = boxes[r.label];
          if (y >= b.y0 && y <= b.y1) {
            x0 = std::min(std::max(r.x0, b.x0), r.x1);
            x1 = std::max(std::min(r.x1, b.x1 + 1), x0);
          }
        }
        std::memset(row + r.x0, 0, static_cast<std::size_t>(x0 - r.x0));
        if (value != 255) std::memset(row + x0, 0xFF, static_cast<std::size_t>(x1 - x0));
        std::memset(row + x1, 0, static_cast<std::size_t>(r.x1 - x1));
      }
    }
  });
}

uint8_t MaxMaskedLuminance(const uint8_t* mask, const uint8_t* lum, int width, AreaBox box) {
  uint8_t maxLum = 0;
  const int span = box.x1 - box.x0 + 1;
  for (int y = box.y0; y <= box.y1; ++y) {
    const uint8_t* __restrict m = mask + RowStart(width, y) + box.x0;
    const uint8_t* __restrict l = lum + RowStart(width, y) + box.x0;
    uint8_t rowMax = 0;
    for (int i = 0; i < span; ++i) {
      const uint8_t v = static_cast<uint8_t>(l[i] & (0u - (m[i] != 0 ? 1u : 0u)));
      rowMax = v > rowMax ? v : rowMax;
    }
    maxLum = std::max(maxLum, rowMax);
  }
  return maxLum;
}

void FillLabelFrom(const Regions& regions, const uint8_t* lum, int width, AreaBox box,
                   int32_t label, int minLum, uint8_t* mask) {
  ForEachRun(regions, box, label, [&](int y, int x0, int x1) {
    const uint8_t* __restrict l = lum + RowStart(width, y);
    uint8_t* __restrict m = mask + RowStart(width, y);
    for (int x = x0; x < x1; ++x) {
      m[x] = static_cast<uint8_t>(m[x] | (0u - static_cast<unsigned>(l[x] >= minLum)));
    }
  });
}

// The float sums must add the set pixels one by one in row order, so each
// row's luminances are first gathered without branches, then summed.
LumMoments MaskedLuminanceMoments(const uint8_t* mask, const uint8_t* lum, int width, AreaBox box,
                                  float* scratch) {
  LumMoments moments;
  for (int y = box.y0; y <= box.y1; ++y) {
    const uint8_t* __restrict m = mask + RowStart(width, y);
    const uint8_t* __restrict l = lum + RowStart(width, y);
    // The box's next row, fetched while this one is summed: a box is a
    // short span of each row, too short for the hardware to fetch ahead.
    if (y < box.y1) {
      for (int x = box.x0; x <= box.x1; x += 64) {
        Fetch(m + width + x);
        Fetch(l + width + x);
      }
    }
    float* __restrict out = scratch;
    int k = 0;
    int x = box.x0;
    for (; x + 8 <= box.x1 + 1; x += 8) {
      if (EightClear(m + x)) continue;
      for (int i = x; i < x + 8; ++i) {
        out[k] = static_cast<float>(l[i]);
        k += m[i] != 0 ? 1 : 0;
      }
    }
    for (; x <= box.x1; ++x) {
      out[k] = static_cast<float>(l[x]);
      k += m[x] != 0 ? 1 : 0;
    }
    for (int i = 0; i < k; ++i) {
      const float v = scratch[i];
      moments.sum += v;
      moments.sumSquares += v * v;
    }
    moments.count += k;
  }
  return moments;
}

uint32_t SkinHistograms(const uint8_t* mask, const uint8_t* lum, const uint8_t* pixels,
                        std::ptrdiff_t strideBytes, int width, int height, uint32_t* lumHistogram,
                        uint32_t* redHistogram, uint64_t& lumSum) {
  // Neighbouring skin pixels mostly share their levels: four partial
  // histograms per channel keep the increments of one bin from waiting on
  // each other. Counts add up the same in any order.
  uint32_t lumParts[4][256] = {};
  uint32_t redParts[4][256] = {};
  uint64_t sum = 0;
  uint32_t count = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* m = mask + RowStart(width, y);
    const uint8_t* l = lum + RowStart(width, y);
    const uint8_t* p = RowAt(pixels, strideBytes, y);
    if (y + 1 < height) {
      PrefetchMarked(m + width, width, RowAt(pixels, strideBytes, y + 1), l + width);
    }
    // Most of a frame is not skin: 32, then eight clear bytes are passed
    // over at once; the eight pixels of any other group are counted without
    // branches, as skin borders make the tests unpredictable.
    const auto countEight = [&](int x) {
      if (EightClear(m + x)) return;
      for (int i = x; i < x + 8; ++i) {
        const uint32_t set = m[i] != 0 ? 1u : 0u;
        lumParts[i & 3][l[i]] += set;
        redParts[i & 3][p[3 * i + 2]] += set;
        sum += set * l[i];
        count += set;
      }
    };
    int x = 0;
    for (; x + 32 <= width; x += 32) {
      uint64_t words[4];
      std::memcpy(words, m + x, sizeof words);
      if ((words[0] | words[1] | words[2] | words[3]) == 0) continue;
      for (int g = x; g < x + 32; g += 8) countEight(g);
    }
    for (; x + 8 <= width; x += 8) countEight(x);
    for (; x < width; ++x) {
      if (m[x] == 0) continue;
      ++lumParts[x & 3][l[x]];
      ++redParts[x & 3][p[3 * x + 2]];
      sum += l[x];
      ++count;
    }
  }
  for (int i = 0; i < 256; ++i) {
    lumHistogram[i] = lumParts[0][i] + lumParts[1][i] + lumParts[2][i] + lumParts[3][i];
    redHistogram[i] = redParts[0][i] + redParts[1][i] + redParts[2][i] + redParts[3][i];
  }
  lumSum += sum;
  return count;
}

}  // namespace KelvoLibImageProcessing::detail
