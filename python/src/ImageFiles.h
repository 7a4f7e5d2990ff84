#pragma once

// The image files of a batch: kelvo-enhance's own job for a photo, and the
// check that an existing output is a whole image.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "imaging/pipeline/EnhanceAnySize.h"

namespace kelvo::python {

// Enhances the photo in input into output as kelvo-enhance does (upright,
// blocks carried, written safely). Returns a dict: "written" (bool),
// "error" (str, empty when written), "warnings" (list of str) and "report"
// (the Report once the enhancement ran, else None). Never raises for a bad
// file; ValueError for a name that is not .bmp, .jpg, .jpeg or .png.
pybind11::dict EnhanceFile(const std::string& input, const std::string& output,
                           const KelvoLibImageProcessing::EnhanceOptions& options, int quality,
                           int64_t maxPixels);

// The width and height of the image in file. With decode, the whole image
// is decoded first, so a file cut short or damaged is refused; without, only
// the header is read. ValueError with the reason when the file is not a
// readable .bmp, .jpg, .jpeg or .png image.
pybind11::tuple ImageSize(const std::string& file, bool decode);

}  // namespace kelvo::python
