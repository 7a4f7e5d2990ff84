#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing {

// Fills a frame of padding pixels around an image that already sits inside a
// larger buffer, so that filters and the wavelet transform can read beyond
// the image edges.
//
// `data` points at the first image pixel (not the first buffer byte),
// `stride` is the row step in bytes, pixels hold `channels` interleaved
// samples. The caller guarantees padX pixels left and right of every row,
// padY rows above and below, and that one full row step counted from column
// -padX of every padded row lies inside the buffer: the top and bottom
// padding rows are written as whole rows of one row step each, so bytes
// beyond the padded row are copied along.
//
// Columns are padded first (every image row, edge outwards), then rows (edge
// outwards), so the corners take the padded values of the edge rows.
//
// Padding wider than the image: periodic padding repeats the period (the
// image width or height) as often as needed, and mirror padding keeps
// reflecting about the edge pixels (period 2 * (size - 1); a single row or
// column is simply repeated). Every padding pixel is thus a copy of an image
// pixel and nothing outside the padded frame is read or written. The
// wavelet transform relies on this: its margins exceed small images.
//
// Failures (IPException, where-string "OpExtendBorder::Execute"), in order:
// width or height below 1 (code 0), null data (5), stride below width times
// the sample size (6), channels below 1 (11, "...(channels)"), a negative
// padding amount (11, "...(padding amount)"), a method outside 0..3 (11,
// "...(padding method)"). Nothing is written before the checks pass.
class OpExtendBorder {
 public:
  enum PaddingMethod : int {
    PaddingZero = 0,       // zero bytes
    PaddingPeriodic = 1,   // k outside one edge takes k - 1 in from the other
    PaddingMirror = 2,     // reflection about the edge pixel, not repeating it
    PaddingReplicate = 3,  // the edge pixel itself
  };

  void Execute(int channels, int width, int height, uint8_t* data, int stride, int padX, int padY,
               int method);
  void Execute(int channels, int width, int height, uint16_t* data, int stride, int padX, int padY,
               int method);
  void Execute(int channels, int width, int height, float* data, int stride, int padX, int padY,
               int method);

  // The image position (0 .. size - 1) whose value position i of a padded
  // row or column takes, or -1 where the padding is zero; positions inside
  // give themselves. size must be at least 1.
  static int SourcePosition(int i, int size, int method) noexcept;

  // The same padding in both directions.
  void Execute(int channels, int width, int height, uint8_t* data, int stride, int pad,
               int method) {
    Execute(channels, width, height, data, stride, pad, pad, method);
  }
  void Execute(int channels, int width, int height, uint16_t* data, int stride, int pad,
               int method) {
    Execute(channels, width, height, data, stride, pad, pad, method);
  }
};

}  // namespace KelvoLibImageProcessing
