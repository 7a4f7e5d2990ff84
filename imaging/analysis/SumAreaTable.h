#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

// Summed-area table of an 8-bit mask: counts the set (non-zero) mask pixels of
// any axis-aligned rectangle in four look-ups.
//
// Rectangles are given by their inclusive corners (x0, y0) top left and
// (x1, y1) bottom right. The table covers a region of the mask (the whole
// mask by default); for (x, y) in the region, entry (x, y) counts the set
// pixels from the region's top-left corner to (x, y), and every entry outside
// the region is 0.
//
// Failures throw IPException: code 5 null mask, 6 stride below width, 0 width
// or height below 1, 8 region not inside the mask or empty, 12 allocation
// failed, 9 a query outside the region.
//
// A table that was never built or has been released has an empty region:
// every rectangle and point query is outside it (code 9), and the column and
// row histograms have nothing to count (code 25, "Requested data not
// available").
class SumAreaTable {
 public:
  SumAreaTable() noexcept = default;
  // Builds over the whole mask.
  SumAreaTable(const uint8_t* mask, int width, int height, int stride);
  // Builds over the region (x0, y0)-(x1, y1).
  SumAreaTable(const uint8_t* mask, int width, int height, int stride, int x0, int y0, int x1,
               int y1);

  SumAreaTable(const SumAreaTable&) = delete;
  SumAreaTable& operator=(const SumAreaTable&) = delete;
  SumAreaTable(SumAreaTable&&) noexcept = default;
  SumAreaTable& operator=(SumAreaTable&&) noexcept = default;

  // Builds the table in one pass over the region. Whatever an earlier build
  // held is released first, also when this one fails.
  void Initialize(const uint8_t* mask, int width, int height, int stride);
  void Initialize(const uint8_t* mask, int width, int height, int stride, int x0, int y0, int x1,
                  int y1);

  // Set pixels in the rectangle; it must lie inside the region and be
  // non-empty.
  uint32_t ROIPixels(int x0, int y0, int x1, int y1) const;
  // Set pixels from (0, 0) to (x, y); only for a region starting at the
  // origin, with 0 <= x <= region x1 and 0 <= y <= region y1.
  uint32_t ROIPixels(int x, int y) const;

  // Set pixels per column (width entries) and per row (height entries) within
  // the region, 0 outside it. Built on first use, then returned unchanged; the
  // arrays belong to the table.
  const uint32_t* HistogramX();
  const uint32_t* HistogramY();

  // Set pixels per column x0..x1 between rows y0 and y1 (width entries, 0
  // outside x0..x1), and per row y0..y1 between columns x0 and x1 (height
  // entries). The buffer belongs to the table and every call rewrites it.
  const uint32_t* HistogramRoiX(int x0, int y0, int x1, int y1);
  const uint32_t* HistogramRoiY(int x0, int y0, int x1, int y1);

  // Frees the table and all histogram arrays; the region becomes empty.
  void Release() noexcept;

  int GetWidth() const noexcept { return width_; }
  int GetHeight() const noexcept { return height_; }
  int GetX0() const noexcept { return x0_; }
  int GetY0() const noexcept { return y0_; }
  int GetX1() const noexcept { return x1_; }
  int GetY1() const noexcept { return y1_; }
  // Row-major width x height entries, or null when not built.
  const uint32_t* GetTable() const noexcept { return table_.get(); }

 private:
  bool InsideRegion(int x0, int y0, int x1, int y1) const noexcept;
  // The four-look-up count, for a rectangle already known to be valid.
  uint32_t Count(int x0, int y0, int x1, int y1) const noexcept;

  int width_ = 0;
  int height_ = 0;
  int x0_ = 0;
  int y0_ = 0;
  int x1_ = -1;
  int y1_ = -1;
  kelvo::memory::BlockArray<uint32_t> table_;
  std::size_t capacity_ = 0;  // entries the table's memory holds
  kelvo::memory::BlockArray<uint32_t> histX_;
  kelvo::memory::BlockArray<uint32_t> histY_;
  kelvo::memory::BlockArray<uint32_t> roiX_;
  kelvo::memory::BlockArray<uint32_t> roiY_;
};

}  // namespace KelvoLibImageProcessing
