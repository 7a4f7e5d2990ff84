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

// Every run end of a row of width >= 1 pixels, left to right, as RunEndBytes
// gives them from column 1 on: each column whose pixel does not belong with
// its left neighbour, then width. ends holds at least width entries;
// returns how many were written.
int RowRunEndsBytes(const uint8_t* row, int width, bool maskCompare, int32_t* ends) noexcept;

}  // namespace KelvoLibImageProcessing::detail
