#pragma once

#include <cstdint>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

// One connected region: its bounding box, size and value.
struct RegionRecord {
  int32_t minX;            // leftmost column
  int32_t minY;            // top row
  int32_t maxX;            // rightmost column
  int32_t maxY;            // bottom row
  int32_t pixelCount;      // number of pixels
  int32_t value;           // the pixel value the region shares
  int32_t neighbourLabel;  // provisional label of the left (at a row start, upper) neighbour
                           // when the region was started; -1 for the first region
  int32_t rootLabel;       // while labelling: the equivalence root; afterwards the
                           // region's final index, or -1 (discarded) or -2 (speck)
};

// A stretch of one row whose pixels carry the same label of the label map.
struct RegionRun {
  int32_t x0;     // first column
  int32_t x1;     // one past the last column
  int32_t label;  // as in the label map
};

// Splits an image of 8-bit (or 32-bit) values into 4-connected regions of
// equal value, measures them, drops those smaller than a minimum size, lets
// tiny leftovers ("specks") be absorbed by a kept neighbour, and numbers the
// kept regions by decreasing pixel count (0 = largest).
//
// The label map holds per pixel the index of its kept region, -1 for a pixel
// in no kept region, or -2 for a pixel of a speck that no kept neighbour
// absorbed.
//
// At most kMaxLabels provisional labels are made per Initialize; further
// regions all collect in the last label, which never merges.
//
// Failures throw IPException code 12 when memory runs out. Initialize does not
// check its arguments: the caller passes a valid pixel pointer, width and
// height of at least 1 and a stride (in bytes) of at least width x bytes per
// value.
class Regions {
 public:
  static constexpr int kMaxLabels = 500000;

  Regions() noexcept = default;
  Regions(int width, int height, const uint8_t* values, int stride, int minSize, bool maskCompare);
  Regions(int width, int height, const int32_t* values, int stride, int minSize, bool maskCompare);

  Regions(const Regions&) = delete;
  Regions& operator=(const Regions&) = delete;
  Regions(Regions&&) noexcept = default;
  Regions& operator=(Regions&&) noexcept = default;

  // Sets the size, zeroes the region, discarded and speck counts, and makes a
  // label map filled with -1; every other table is freed.
  void Allocate(int width, int height);

  // Labels the image in one pass. With maskCompare two pixels belong together
  // when both are zero or both are non-zero, otherwise when they are equal.
  // Regions of fewer than minSize pixels are not kept; specks are those of
  // fewer than minSize / 100 pixels. Whatever an earlier Initialize built is
  // freed first.
  void Initialize(int width, int height, const uint8_t* values, int stride, int minSize,
                  bool maskCompare);
  void Initialize(int width, int height, const int32_t* values, int stride, int minSize,
                  bool maskCompare);

  // As Initialize, but the label map is kept as runs (GetRuns) instead of a
  // plane: GetLabelMap gives null and GetRegionsMapBB fails. For callers
  // that visit regions row by row; the plane costs four bytes a pixel to
  // write and to read back.
  void InitializeRuns(int width, int height, const uint8_t* values, int stride, int minSize,
                      bool maskCompare);
  // The runs of row y, left to right, covering the row; null with count 0
  // unless InitializeRuns built them.
  const RegionRun* GetRuns(int y, int& count) const noexcept;

  // The kept regions ordered by decreasing bounding-box area (regionCount
  // receives their number). Built on first use, then returned unchanged.
  const RegionRecord* GetRegionsBB(int& regionCount);
  // Per pixel, the box rank of its region (its index in GetRegionsBB's
  // order); pixels in no kept region keep their negative label (-1 or -2).
  // Built on first use, then returned unchanged.
  const int32_t* GetRegionsMapBB();

  // Frees everything and sets the region count to 0.
  void Release() noexcept;

  int GetWidth() const noexcept { return width_; }
  int GetHeight() const noexcept { return height_; }
  int GetMinSize() const noexcept { return minSize_; }
  int GetSpeckSize() const noexcept { return speckSize_; }
  bool GetMaskCompare() const noexcept { return maskCompare_; }
  int GetRegionCount() const noexcept { return regionCount_; }
  int GetDiscardedCount() const noexcept { return discardedCount_; }
  int GetSpeckCount() const noexcept { return speckCount_; }
  // The kept regions by decreasing pixel count; null before Initialize.
  const RegionRecord* GetRegions() const noexcept { return regions_.get(); }
  // width x height entries, row-major; null before Allocate.
  const int32_t* GetLabelMap() const noexcept { return labelMap_.get(); }
  // For each box rank, the region's index in pixel-count order; null until
  // GetRegionsBB.
  const int32_t* GetBoxOrder() const noexcept { return boxOrder_.get(); }

 private:
  template <class T>
  void Label(int width, int height, const T* values, int stride, int minSize, bool maskCompare,
             bool keepRuns);
  // Folds merged labels into their roots, keeps the large regions, sorts them
  // by decreasing pixel count and renumbers every label.
  void CompactRemapToTables(RegionRecord* records, int labelCount);

  int width_ = 0;
  int height_ = 0;
  int minSize_ = 0;
  int speckSize_ = 0;
  bool maskCompare_ = false;
  int regionCount_ = 0;
  int discardedCount_ = 0;
  int speckCount_ = 0;
  kelvo::memory::BlockArray<RegionRecord> regions_;
  kelvo::memory::BlockArray<RegionRecord> regionsByBox_;
  kelvo::memory::BlockArray<int32_t> boxOrder_;
  kelvo::memory::BlockArray<int32_t> boxMap_;
  kelvo::memory::BlockArray<int32_t> labelMap_;
  kelvo::memory::BlockArray<RegionRun> runs_;
  kelvo::memory::BlockArray<int32_t> runStart_;  // height + 1 offsets into runs_
};

}  // namespace KelvoLibImageProcessing
