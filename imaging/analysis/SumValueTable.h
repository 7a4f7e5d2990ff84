#pragma once

#include <cstdint>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

// Summed table of sample values (8-bit, 16-bit or float): sums, labelled
// pixel counts and means over any axis-aligned rectangle in four look-ups.
//
// Rectangles are given by their inclusive corners (x0, y0) top left and
// (x1, y1) bottom right. The table covers a region of the image (the whole
// image by default); entries outside the region are 0. Strides are in bytes.
//
// With labels (InitializeAlpha) only the samples whose label byte equals the
// label value are summed, and a second table counts those pixels; such a
// table always covers the whole image.
//
// Failures throw IPException: code 5 null value or label pointer, 6 stride
// below width x bytes per value (or label stride below width), 0 width or
// height below 1, 8 region not inside the image or empty, 12 allocation
// failed, 9 a query outside the region. A table that was never built or has
// been released has an empty region, so every query fails with code 9.
class SumValueTable {
 public:
  SumValueTable() noexcept = default;
  SumValueTable(const uint8_t* values, int width, int height, int stride);
  SumValueTable(const uint8_t* values, int width, int height, int stride, int x0, int y0, int x1,
                int y1);
  SumValueTable(const uint16_t* values, int width, int height, int stride);
  SumValueTable(const uint16_t* values, int width, int height, int stride, int x0, int y0, int x1,
                int y1);
  SumValueTable(const float* values, int width, int height, int stride);
  SumValueTable(const float* values, int width, int height, int stride, int x0, int y0, int x1,
                int y1);
  SumValueTable(const uint8_t* values, int width, int height, int stride, const uint8_t* labels,
                int labelStride, uint8_t labelValue);
  SumValueTable(const uint16_t* values, int width, int height, int stride, const uint8_t* labels,
                int labelStride, uint8_t labelValue);

  SumValueTable(const SumValueTable&) = delete;
  SumValueTable& operator=(const SumValueTable&) = delete;
  SumValueTable(SumValueTable&&) noexcept = default;
  SumValueTable& operator=(SumValueTable&&) noexcept = default;

  // Unlabelled tables, running row sums kept in double. Whatever an earlier
  // build held is released first, also when this one fails.
  void Initialize(const uint8_t* values, int width, int height, int stride);
  void Initialize(const uint8_t* values, int width, int height, int stride, int x0, int y0, int x1,
                  int y1);
  void Initialize(const uint16_t* values, int width, int height, int stride);
  void Initialize(const uint16_t* values, int width, int height, int stride, int x0, int y0, int x1,
                  int y1);
  void Initialize(const float* values, int width, int height, int stride);
  void Initialize(const float* values, int width, int height, int stride, int x0, int y0, int x1,
                  int y1);

  // Labelled tables over the whole image, running row sums kept in a 32-bit
  // integer and converted to double when stored.
  void InitializeAlpha(const uint8_t* values, int width, int height, int stride,
                       const uint8_t* labels, int labelStride, uint8_t labelValue);
  void InitializeAlpha(const uint16_t* values, int width, int height, int stride,
                       const uint8_t* labels, int labelStride, uint8_t labelValue);

  // Sum of the (labelled) samples in the rectangle.
  double ROIValue(int x0, int y0, int x1, int y1) const;
  // Labelled pixels in the rectangle; without labels, its area.
  uint32_t ROIAlpha(int x0, int y0, int x1, int y1) const;
  // ROIValue / ROIAlpha, or 0.0 when ROIAlpha is 0.
  double ROIMean(int x0, int y0, int x1, int y1) const;

  // Frees values and alpha; the region becomes empty.
  void Release() noexcept;

  int GetWidth() const noexcept { return width_; }
  int GetHeight() const noexcept { return height_; }
  bool HasAlpha() const noexcept { return hasAlpha_; }
  int GetX0() const noexcept { return x0_; }
  int GetY0() const noexcept { return y0_; }
  int GetX1() const noexcept { return x1_; }
  int GetY1() const noexcept { return y1_; }
  // Row-major width x height entries, or null when not built (alpha: when
  // built without labels).
  const double* GetValues() const noexcept { return values_.get(); }
  const uint32_t* GetAlpha() const noexcept { return alpha_.get(); }

 private:
  template <class T>
  void Build(const T* values, int width, int height, int stride, int x0, int y0, int x1, int y1);
  template <class T>
  void BuildAlpha(const T* values, int width, int height, int stride, const uint8_t* labels,
                  int labelStride, uint8_t labelValue);
  bool InsideRegion(int x0, int y0, int x1, int y1) const noexcept;

  int width_ = 0;
  int height_ = 0;
  bool hasAlpha_ = false;
  int x0_ = 0;
  int y0_ = 0;
  int x1_ = -1;
  int y1_ = -1;
  kelvo::memory::BlockArray<double> values_;
  kelvo::memory::BlockArray<uint32_t> alpha_;
};

}  // namespace KelvoLibImageProcessing
