#pragma once

namespace KelvoLibImageProcessing {

class BitmapData;

// Turns an image of 12-bit samples held in 16-bit words (format 3 or 1) into
// the 8-bit image of the same layout (format 2 or 0): every sample v becomes
// min(255, floor(v * 255/4095 + 0.5)), and values of 4095 and above become
// 255. The destination must already be allocated with the same size.
//
// Failures (IPException, "OpImg16to8bit::Execute"), in order: a null image
// (code 4), a format pair other than 3 -> 2 or 1 -> 0 (2), different sizes
// (1), a null pixel buffer (5).
class OpImg16to8bit {
 public:
  void Execute(const BitmapData* source, BitmapData* destination);
};

}  // namespace KelvoLibImageProcessing
