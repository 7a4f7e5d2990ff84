#include "imaging/denoise/IntelFilters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "imaging/core/IPException.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr const char* kWhere = "IntelFilters::FilterMedianC1";

// Calls the median primitive on (srcAt, dstAt) for a region of the given
// size; 16-bit samples go to the signed primitive.
IppStatus CallMedian(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, IppiSize roi,
                     IppiSize mask, IppiPoint anchor) {
  return ippiFilterMedian_8u_C1R(src, srcStep, dst, dstStep, roi, mask, anchor);
}
IppStatus CallMedian(const uint16_t* src, int srcStep, uint16_t* dst, int dstStep, IppiSize roi,
                     IppiSize mask, IppiPoint anchor) {
  return ippiFilterMedian_16s_C1R(reinterpret_cast<const Ipp16s*>(src), srcStep,
                                  reinterpret_cast<Ipp16s*>(dst), dstStep, roi, mask, anchor);
}

template <typename T>
void FilterMedian(const T* src, int srcStep, T* dst, int dstStep, int width, int height,
                  int maskSize, int x0, int y0, int x1, int y1, const char* primitiveWhere) {
  // Absent buffers (code 5) and a region that leaves the
  // image (code 8) are reported instead of being read or written; an empty
  // or inverted region is left to the primitive (code 15).
  if (src == nullptr || dst == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (width < 1 || height < 1 || x0 < 0 || y0 < 0 || x1 >= width || y1 >= height) {
    throw IPException(ErrorCode::kInvalidRegion, kWhere);
  }
  const int r = maskSize > 0 ? maskSize / 2 : 0;

  // Within r of an image edge the result is the source sample (the edge
  // frame is copied below), so normally the primitive only filters the part
  // of the region whose masks stay inside the image, reading the source in
  // place. When that part is empty, the region as given goes to the
  // primitive from a zero-framed copy, so that a bad region or mask is still
  // reported by it.
  const int fx0 = std::max(x0, r), fy0 = std::max(y0, r);
  const int fx1 = std::min(x1, width - 1 - r), fy1 = std::min(y1, height - 1 - r);
  const IppiSize mask{maskSize, maskSize};
  const IppiPoint anchor{r, r};
  if (fx1 >= fx0 && fy1 >= fy0) {
    const IppiSize roi{fx1 - fx0 + 1, fy1 - fy0 + 1};
    const T* from = RowAt(src, srcStep, fy0) + fx0;
    T* to = RowAt(dst, dstStep, fy0) + fx0;
    detail::GuardForeign(primitiveWhere, [&] {
      detail::CheckStatus(CallMedian(from, srcStep, to, dstStep, roi, mask, anchor),
                          primitiveWhere);
    });
  } else {
    const std::size_t paddedWidth =
        static_cast<std::size_t>(width) + 2 * static_cast<std::size_t>(r);
    const std::size_t paddedHeight =
        static_cast<std::size_t>(height) + 2 * static_cast<std::size_t>(r);
    kelvo::memory::BlockArray<T> padded =
        kelvo::memory::AllocateArray<T>(paddedWidth * paddedHeight, true);
    if (!padded) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    for (int y = 0; y < height; ++y) {
      std::memcpy(padded.get() + (y + r) * paddedWidth + r, RowAt(src, srcStep, y),
                  static_cast<std::size_t>(width) * sizeof(T));
    }
    const int fromStep = static_cast<int>(paddedWidth * sizeof(T));
    const T* from = padded.get() + (y0 + r) * paddedWidth + (x0 + r);
    const IppiSize roi{x1 - x0 + 1, y1 - y0 + 1};
    T* to = RowAt(dst, dstStep, y0) + x0;
    detail::GuardForeign(primitiveWhere, [&] {
      detail::CheckStatus(CallMedian(from, fromStep, to, dstStep, roi, mask, anchor),
                          primitiveWhere);
    });
  }

  // Edge frame of the whole image from the source.
  const int rows = std::min(r, height);
  const int cols = std::min(r, width);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(T);
  for (int y = 0; y < rows; ++y) {
    std::memcpy(RowAt(dst, dstStep, y), RowAt(src, srcStep, y), rowBytes);
    std::memcpy(RowAt(dst, dstStep, height - 1 - y), RowAt(src, srcStep, height - 1 - y), rowBytes);
  }
  for (int y = rows; y < height - rows; ++y) {
    const T* s = RowAt(src, srcStep, y);
    T* d = RowAt(dst, dstStep, y);
    for (int x = 0; x < cols; ++x) {
      d[x] = s[x];
      d[width - 1 - x] = s[width - 1 - x];
    }
  }

  if constexpr (sizeof(T) == 2) {
    // 12-bit data, read as the signed samples the primitive works on.
    for (int y = 0; y < height; ++y) {
      T* d = RowAt(dst, dstStep, y);
      for (int x = 0; x < width; ++x) {
        const int v = static_cast<int16_t>(d[x]);
        d[x] = static_cast<T>(std::clamp(v, 0, 4095));
      }
    }
  }
}

}  // namespace

void IntelFilters::FilterMedianC1(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep,
                                  int width, int height, int maskSize, int x0, int y0, int x1,
                                  int y1) {
  FilterMedian(src, srcStep, dst, dstStep, width, height, maskSize, x0, y0, x1, y1,
               "IntelFilters::FilterMedianC1::ippiFilterMedian_8u_C1R");
}

void IntelFilters::FilterMedianC1(const uint16_t* src, int srcStep, uint16_t* dst, int dstStep,
                                  int width, int height, int maskSize, int x0, int y0, int x1,
                                  int y1) {
  FilterMedian(src, srcStep, dst, dstStep, width, height, maskSize, x0, y0, x1, y1,
               "IntelFilters::FilterMedianC1::ippiFilterMedian_16s_C1R");
}

void IntelFilters::FilterMedianRows(const uint8_t* src, int srcStep, int width, int height,
                                    int maskSize, int y0, int rows, uint8_t* out, int outStep) {
  constexpr const char* kRowsWhere = "IntelFilters::FilterMedianRows";
  if (src == nullptr || out == nullptr) throw IPException(ErrorCode::kNullData, kRowsWhere);
  if (width < 1 || height < 1 || rows < 1 || y0 < 0 || y0 > height - rows) {
    throw IPException(ErrorCode::kInvalidRegion, kRowsWhere);
  }
  if (maskSize < 1 || maskSize % 2 == 0) throw IPException(ErrorCode::kInvalidInput, kRowsWhere);
  const int r = maskSize / 2;
  const int y1 = y0 + rows;
  // Rows and columns within r of an edge keep their source samples, as in
  // the whole-image form; the rest is the primitive's median, which reads
  // the source in place.
  const int fy0 = std::max(y0, r), fy1 = std::min(y1, height - r);
  const bool interior = width > 2 * r && fy1 > fy0;
  for (int y = y0; y < y1; ++y) {
    if (interior && y >= fy0 && y < fy1) continue;
    std::memcpy(RowAt(out, outStep, y - y0), RowAt(src, srcStep, y), static_cast<size_t>(width));
  }
  if (!interior) return;
  constexpr const char* kPrimitiveWhere = "IntelFilters::FilterMedianRows::ippiFilterMedian_8u_C1R";
  uint8_t* to = RowAt(out, outStep, fy0 - y0);
  detail::GuardForeign(kPrimitiveWhere, [&] {
    detail::CheckStatus(CallMedian(RowAt(src, srcStep, fy0) + r, srcStep, to + r, outStep,
                                   IppiSize{width - 2 * r, fy1 - fy0}, IppiSize{maskSize, maskSize},
                                   IppiPoint{r, r}),
                        kPrimitiveWhere);
  });
  for (int y = fy0; y < fy1; ++y) {
    const uint8_t* s = RowAt(src, srcStep, y);
    uint8_t* d = RowAt(out, outStep, y - y0);
    for (int x = 0; x < r; ++x) {
      d[x] = s[x];
      d[width - 1 - x] = s[width - 1 - x];
    }
  }
}

void IntelFilters::FilterMedianC1(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep,
                                  int width, int height, int maskSize) {
  FilterMedianC1(src, srcStep, dst, dstStep, width, height, maskSize, 0, 0, width - 1, height - 1);
}

void IntelFilters::FilterMedianC1(const uint16_t* src, int srcStep, uint16_t* dst, int dstStep,
                                  int width, int height, int maskSize) {
  FilterMedianC1(src, srcStep, dst, dstStep, width, height, maskSize, 0, 0, width - 1, height - 1);
}

}  // namespace KelvoLibImageProcessing
