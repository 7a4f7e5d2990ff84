#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// The end of the run of 8-bit pixels that belong together with their left
// neighbour, scanning from x (1 <= x <= width): the first column that does
// not, or width. Pixels belong together when they are equal, or with
// maskCompare when both are zero or both are non-zero. Dispatched to the SIMD
// target that start-up chose; every target gives RunEndBytesReference's
// answer.
int RunEndBytes(const uint8_t* row, int x, int width, bool maskCompare) noexcept;

}  // namespace KelvoLibImageProcessing::detail
