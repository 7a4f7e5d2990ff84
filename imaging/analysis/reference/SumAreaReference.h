#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::reference {

// The plain loop of detail::AccumulateMaskRow: a running count of the set
// mask bytes, added to the row above.
void AccumulateMaskRowReference(const uint8_t* mask, const uint32_t* above, uint32_t* row,
                                int count);

}  // namespace KelvoLibImageProcessing::reference
