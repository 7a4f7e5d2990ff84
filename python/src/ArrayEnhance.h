#pragma once

// kelvo.enhance: a numpy array through the snapshot enhancement.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "imaging/pipeline/EnhanceAnySize.h"

namespace kelvo::python {

// Checks image (an H x W x 3 uint8 array, any strides) and returns the
// enhanced copy as a new C-contiguous array with the report. TypeError for
// a non-array or another dtype, ValueError for another shape or channel
// order name; the library's IPExceptions pass through to the module's
// translator. The GIL is released while pixels are touched.
pybind11::tuple EnhanceArray(const pybind11::handle& image,
                             const KelvoLibImageProcessing::EnhanceOptions& options,
                             const std::string& channels);

}  // namespace kelvo::python
