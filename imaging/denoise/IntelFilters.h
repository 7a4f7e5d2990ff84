#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

// Square median filter of a single-channel image over a rectangular region.
//
// The mask side maskSize must be odd (an even size is refused by the
// primitive: code 15); its radius is r = maskSize / 2 and its anchor the
// centre. Samples within r of an image edge always keep their source value
// (the edge frame of the whole image is copied from the source); other
// destination samples outside the region are not written. Source and
// destination are distinct buffers of the same size; steps are in bytes.
//
// 16-bit samples hold 12-bit data: they are filtered as signed 16-bit
// values and every destination sample of the image is clamped to 0..4095
// afterwards.
class IntelFilters {
 public:
  // Region form: x0, y0, x1, y1 are the region's inclusive corners.
  static void FilterMedianC1(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                             int height, int maskSize, int x0, int y0, int x1, int y1);
  static void FilterMedianC1(const uint16_t* src, int srcStep, uint16_t* dst, int dstStep,
                             int width, int height, int maskSize, int x0, int y0, int x1, int y1);

  // Whole-image form: the region (0, 0, width - 1, height - 1).
  static void FilterMedianC1(const uint8_t* src, int srcStep, uint8_t* dst, int dstStep, int width,
                             int height, int maskSize);
  static void FilterMedianC1(const uint16_t* src, int srcStep, uint16_t* dst, int dstStep,
                             int width, int height, int maskSize);

  // Rows y0 .. y0 + rows - 1 of the whole-image form's result, written to
  // out (its first row is row y0), for a caller that uses a few rows at a
  // time while they are in the cache. Runs on the calling thread's thread
  // count like the whole-image form. Code 5 for a null buffer, code 8 for
  // rows outside the image, code 11 for an even or non-positive mask.
  static void FilterMedianRows(const uint8_t* src, int srcStep, int width, int height, int maskSize,
                               int y0, int rows, uint8_t* out, int outStep);
};

}  // namespace KelvoLibImageProcessing
