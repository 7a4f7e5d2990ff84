#include "imaging/analysis/SumAreaTable.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "imaging/analysis/detail/OwnedArray.h"
#include "imaging/analysis/detail/SumAreaRows.h"
#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing {

namespace {
constexpr const char* kWhereInit = "SumAreaTable::Initialize";
constexpr const char* kWhereRoi = "SumAreaTable::ROIPixels";

}  // namespace

SumAreaTable::SumAreaTable(const uint8_t* mask, int width, int height, int stride) {
  Initialize(mask, width, height, stride);
}

SumAreaTable::SumAreaTable(const uint8_t* mask, int width, int height, int stride, int x0, int y0,
                           int x1, int y1) {
  Initialize(mask, width, height, stride, x0, y0, x1, y1);
}

void SumAreaTable::Initialize(const uint8_t* mask, int width, int height, int stride) {
  Initialize(mask, width, height, stride, 0, 0, width - 1, height - 1);
}

void SumAreaTable::Initialize(const uint8_t* mask, int width, int height, int stride, int x0,
                              int y0, int x1, int y1) {
  // A rebuild of the same size (one per frame) reuses the table's memory
  // rather than paying for fresh pages every time.
  kelvo::memory::BlockArray<uint32_t> reuse = std::move(table_);
  const std::size_t reuseCapacity = capacity_;
  Release();
  if (mask == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  if (stride < width) throw IPException(ErrorCode::kInvalidStride, kWhereInit);
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhereInit);
  if (x0 < 0 || x1 >= width || x0 > x1 || y0 < 0 || y1 >= height || y0 > y1) {
    throw IPException(ErrorCode::kInvalidRegion, kWhereInit);
  }

  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  kelvo::memory::BlockArray<uint32_t> table;
  std::size_t capacity = reuseCapacity;
  if (reuse && reuseCapacity >= w * h) {
    table = std::move(reuse);
  } else {
    reuse.reset();
    table = detail::AllocateArray<uint32_t>(w * h);
    if (!table) throw IPException(ErrorCode::kAllocationFailed, kWhereInit);
    capacity = w * h;
  }

  uint32_t* t = table.get();
  // Entries outside the region are 0: whole rows above and below it, and the
  // columns left and right of it in its rows.
  std::fill(t, t + static_cast<std::size_t>(y0) * w, 0u);
  std::fill(t + static_cast<std::size_t>(y1 + 1) * w, t + h * w, 0u);
  for (int y = y0; y <= y1; ++y) {
    uint32_t* row = t + static_cast<std::size_t>(y) * w;
    std::fill(row, row + x0, 0u);
    std::fill(row + x1 + 1, row + w, 0u);
  }

  for (int y = y0; y <= y1; ++y) {
    const uint8_t* m = mask + static_cast<std::ptrdiff_t>(y) * stride;
    uint32_t* row = t + static_cast<std::size_t>(y) * w;
    detail::AccumulateMaskRow(m + x0, y == y0 ? nullptr : row - w + x0, row + x0, x1 - x0 + 1);
  }

  width_ = width;
  height_ = height;
  x0_ = x0;
  y0_ = y0;
  x1_ = x1;
  y1_ = y1;
  table_ = std::move(table);
  capacity_ = capacity;
}

bool SumAreaTable::InsideRegion(int x0, int y0, int x1, int y1) const noexcept {
  return x0 >= x0_ && x1 <= x1_ && x0 <= x1 && y0 >= y0_ && y1 <= y1_ && y0 <= y1;
}

uint32_t SumAreaTable::Count(int x0, int y0, int x1, int y1) const noexcept {
  // Entries left of and above the region are 0, so testing against 0 rather
  // than the region's corner is exact for any region.
  const std::size_t w = static_cast<std::size_t>(width_);
  const uint32_t* t = table_.get();
  const std::size_t r1 = static_cast<std::size_t>(y1) * w;
  uint32_t result = t[r1 + static_cast<std::size_t>(x1)];
  if (x0 > 0) result -= t[r1 + static_cast<std::size_t>(x0 - 1)];
  if (y0 > 0) {
    const std::size_t r0 = static_cast<std::size_t>(y0 - 1) * w;
    result -= t[r0 + static_cast<std::size_t>(x1)];
    if (x0 > 0) result += t[r0 + static_cast<std::size_t>(x0 - 1)];
  }
  return result;
}

uint32_t SumAreaTable::ROIPixels(int x0, int y0, int x1, int y1) const {
  if (!InsideRegion(x0, y0, x1, y1)) throw IPException(ErrorCode::kOutsideRegion, kWhereRoi);
  return Count(x0, y0, x1, y1);
}

uint32_t SumAreaTable::ROIPixels(int x, int y) const {
  if (!table_ || x0_ >= 1 || y0_ >= 1 || x < 0 || x > x1_ || y < 0 || y > y1_) {
    throw IPException(ErrorCode::kOutsideRegion, kWhereRoi);
  }
  return table_[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                static_cast<std::size_t>(x)];
}

const uint32_t* SumAreaTable::HistogramX() {
  constexpr const char* kWhere = "SumAreaTable::HistogramX";
  if (histX_) return histX_.get();
  if (!table_) throw IPException(ErrorCode::kDataNotAvailable, kWhere);
  auto hist = detail::AllocateZeroed<uint32_t>(static_cast<std::size_t>(width_));
  if (!hist) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  for (int x = x0_; x <= x1_; ++x) hist[static_cast<std::size_t>(x)] = Count(x, y0_, x, y1_);
  histX_ = std::move(hist);
  return histX_.get();
}

const uint32_t* SumAreaTable::HistogramY() {
  constexpr const char* kWhere = "SumAreaTable::HistogramY";
  if (histY_) return histY_.get();
  if (!table_) throw IPException(ErrorCode::kDataNotAvailable, kWhere);
  auto hist = detail::AllocateZeroed<uint32_t>(static_cast<std::size_t>(height_));
  if (!hist) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  for (int y = y0_; y <= y1_; ++y) hist[static_cast<std::size_t>(y)] = Count(x0_, y, x1_, y);
  histY_ = std::move(hist);
  return histY_.get();
}

const uint32_t* SumAreaTable::HistogramRoiX(int x0, int y0, int x1, int y1) {
  constexpr const char* kWhere = "SumAreaTable::HistogramRoiX";
  if (!table_) throw IPException(ErrorCode::kOutsideRegion, kWhere);
  if (!roiX_) {
    roiX_ = detail::AllocateArray<uint32_t>(static_cast<std::size_t>(width_));
    if (!roiX_) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  }
  if (!InsideRegion(x0, y0, x1, y1)) throw IPException(ErrorCode::kOutsideRegion, kWhere);
  std::fill(roiX_.get(), roiX_.get() + width_, 0u);
  for (int x = x0; x <= x1; ++x) roiX_[static_cast<std::size_t>(x)] = Count(x, y0, x, y1);
  return roiX_.get();
}

const uint32_t* SumAreaTable::HistogramRoiY(int x0, int y0, int x1, int y1) {
  constexpr const char* kWhere = "SumAreaTable::HistogramRoiY";
  if (!table_) throw IPException(ErrorCode::kOutsideRegion, kWhere);
  if (!roiY_) {
    roiY_ = detail::AllocateArray<uint32_t>(static_cast<std::size_t>(height_));
    if (!roiY_) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  }
  if (!InsideRegion(x0, y0, x1, y1)) throw IPException(ErrorCode::kOutsideRegion, kWhere);
  std::fill(roiY_.get(), roiY_.get() + height_, 0u);
  for (int y = y0; y <= y1; ++y) roiY_[static_cast<std::size_t>(y)] = Count(x0, y, x1, y);
  return roiY_.get();
}

void SumAreaTable::Release() noexcept {
  table_.reset();
  histX_.reset();
  histY_.reset();
  roiX_.reset();
  roiY_.reset();
  capacity_ = 0;
  width_ = 0;
  height_ = 0;
  x0_ = 0;
  y0_ = 0;
  x1_ = -1;
  y1_ = -1;
}

}  // namespace KelvoLibImageProcessing
