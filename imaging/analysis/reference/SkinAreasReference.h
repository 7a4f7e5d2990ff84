#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/analysis/detail/SkinAreas.h"

namespace KelvoLibImageProcessing::reference {

// The skin map's area loops (detail/SkinAreas.h) written pixel by pixel.

void PaintLabelReference(const int32_t* labels, int width, detail::AreaBox box, int32_t label,
                         uint8_t* mask);
uint8_t MaxMaskedLuminanceReference(const uint8_t* mask, const uint8_t* lum, int width,
                                    detail::AreaBox box);
void FillLabelFromReference(const int32_t* labels, const uint8_t* lum, int width,
                            detail::AreaBox box, int32_t label, int minLum, uint8_t* mask);
detail::LumMoments MaskedLuminanceMomentsReference(const uint8_t* mask, const uint8_t* lum,
                                                   int width, detail::AreaBox box);
uint32_t SkinHistogramsReference(const uint8_t* mask, const uint8_t* lum, const uint8_t* pixels,
                                 std::ptrdiff_t strideBytes, int width, int height,
                                 uint32_t* lumHistogram, uint32_t* redHistogram,
                                 uint64_t& lumSum);

}  // namespace KelvoLibImageProcessing::reference
