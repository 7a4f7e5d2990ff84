#pragma once

// Turning a photo upright by its EXIF orientation.
//
// A camera held sideways stores the picture as the sensor saw it and
// records how to show it; the enhancement must see the picture the way it
// is shown (the skin analysis and the sharpening are not rotation-blind at
// the borders), and the copy is stored upright with orientation 1.

#include "imaging/core/BitmapData.h"

namespace kelvo::enhance {

// The picture stored in `stored` (pixel format 2) as it is to be shown
// under TIFF/EXIF orientation 1 to 8: 2 mirrored left to right, 3 turned
// half round, 4 mirrored top to bottom, 5 mirrored along the main diagonal,
// 6 turned a quarter clockwise, 7 mirrored along the other diagonal, 8 turned
// a quarter anticlockwise. Orientations 5 to 8 swap width and height. The
// result has stride 3 * width. Any other value is taken as 1. Throws
// IPException when the new image cannot be allocated.
KelvoLibImageProcessing::BitmapData Upright(const KelvoLibImageProcessing::BitmapData& stored,
                                            int orientation);

}  // namespace kelvo::enhance
