#pragma once

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// Sorts keys[0..count) into decreasing order, moving companion[] in step.
//
// Regions with equal keys are numbered by exactly this procedure, so it is
// kept as it stands: take the middle entry as the pivot (swapped to the
// front), move every entry with a strictly greater key behind it, put the
// pivot in its place, sort the greater part, and go on with the rest. Equal
// keys are never moved past each other by a comparison.
//
// The greater part is sorted through an explicit stack rather than by
// recursion, so adversarial key orders cannot exhaust the call stack; the two
// parts are disjoint, so the order in which they are finished does not change
// the result.
void RegionSort(int32_t* keys, int32_t* companion, int count);

}  // namespace KelvoLibImageProcessing::detail
