#pragma once

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// Sets edges[i] to 255 where the 7 x 7 neighbourhood of a width x height
// plane (rows packed) spans `threshold` or more levels, for centres at least
// 3 pixels inside the plane; other entries are left as they are. rowMax and
// rowMin are work planes of the same size. The range is computed separably:
// each row's 7-wide maximum and minimum, then the 7-high ones of those.
void MarkRangeEdges7x7(const uint8_t* plane, int width, int height, int threshold,
                       uint8_t* rowMax, uint8_t* rowMin, uint8_t* edges);

}  // namespace KelvoLibImageProcessing::detail
