#include "imaging/analysis/reference/SumAreaReference.h"

namespace KelvoLibImageProcessing::reference {

void AccumulateMaskRowReference(const uint8_t* mask, const uint32_t* above, uint32_t* row,
                                int count) {
  uint32_t run = 0;
  for (int i = 0; i < count; ++i) {
    run += mask[i] != 0 ? 1u : 0u;
    row[i] = (above != nullptr ? above[i] : 0u) + run;
  }
}

}  // namespace KelvoLibImageProcessing::reference
