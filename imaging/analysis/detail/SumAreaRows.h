#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// One row of a summed-area table: row[i] = (above[i], or 0 when above is
// null) + the number of non-zero bytes among mask[0..i], for i < count.
// Dispatched to the SIMD target that start-up chose; every target gives the
// same counts as AccumulateMaskRowReference.
void AccumulateMaskRow(const uint8_t* mask, const uint32_t* above, uint32_t* row, int count);

}  // namespace KelvoLibImageProcessing::detail
