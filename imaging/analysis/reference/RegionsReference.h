#pragma once

#include <cstdint>
#include <vector>

#include "imaging/analysis/Regions.h"

namespace KelvoLibImageProcessing::reference {

// What Regions::Initialize builds, by the plain pixel-by-pixel labelling:
// each pixel joins its left and upper neighbours' provisional labels, merged
// labels are folded into their roots, the kept regions are sorted by pixel
// count, and specks are absorbed by a kept left or upper neighbour.
struct RegionsReferenceResult {
  std::vector<int32_t> labelMap;
  std::vector<RegionRecord> regions;
  int discarded = 0;
  int specks = 0;
};

RegionsReferenceResult LabelRegionsReference(int width, int height, const uint8_t* values,
                                             int stride, int minSize, bool maskCompare);
RegionsReferenceResult LabelRegionsReference(int width, int height, const int32_t* values,
                                             int stride, int minSize, bool maskCompare);

// The plain form of detail::RunEndBytes: eight bytes at a time, then one by
// one.
int RunEndBytesReference(const uint8_t* row, int x, int width, bool maskCompare) noexcept;

}  // namespace KelvoLibImageProcessing::reference
