#pragma once

namespace KelvoLibImageProcessing {

class BitmapData;

class UtilitiesGeneral {
 public:
  // Copies the pixels of source into destination, which must have the same
  // format and size. Checks, in order: both pointers (code 4), formats (3),
  // source dimensions (0), destination dimensions (1); copying a container
  // onto itself does nothing; then both buffers (5).
  static void CopyData(const BitmapData* source, BitmapData* destination);
};

}  // namespace KelvoLibImageProcessing
