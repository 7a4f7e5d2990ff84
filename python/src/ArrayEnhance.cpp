#include "python/src/ArrayEnhance.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/primitives/ParallelRows.h"
#include "python/src/ChannelSwap.h"

namespace py = pybind11;

namespace kelvo::python {

namespace {

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::EnhanceAnySize;
using KelvoLibImageProcessing::EnhanceOptions;
using KelvoLibImageProcessing::PipelineSnapshot;

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(a.shape(i));
  }
  if (a.ndim() == 1) text += ",";
  return text + ")";
}

// Copies a strided H x W x 3 array into rows of 3 * width bytes, reversing
// the channel order when swap is set.
void CopyIn(const uint8_t* base, py::ssize_t rowStep, py::ssize_t pixelStep,
            py::ssize_t channelStep, py::ssize_t width, py::ssize_t height, bool swap,
            uint8_t* out) {
  if (!swap && pixelStep == 3 && channelStep == 1) {
    for (py::ssize_t y = 0; y < height; ++y) {
      std::memcpy(out + y * 3 * width, base + y * rowStep, static_cast<size_t>(3 * width));
    }
    return;
  }
  if (swap && pixelStep == 3 && channelStep == 1) {
    for (py::ssize_t y = 0; y < height; ++y) {
      SwapOuterChannels(base + y * rowStep, out + y * 3 * width, static_cast<size_t>(3 * width));
    }
    return;
  }
  const py::ssize_t c0 = swap ? 2 * channelStep : 0;
  const py::ssize_t c2 = swap ? 0 : 2 * channelStep;
  for (py::ssize_t y = 0; y < height; ++y) {
    const uint8_t* p = base + y * rowStep;
    uint8_t* d = out + y * 3 * width;
    for (py::ssize_t x = 0; x < width; ++x, p += pixelStep, d += 3) {
      d[0] = p[c0];
      d[1] = p[channelStep];
      d[2] = p[c2];
    }
  }
}

}  // namespace

py::tuple EnhanceArray(const py::handle& image, const EnhanceOptions& options,
                       const std::string& channels) {
  bool rgb = false;
  if (channels == "rgb") {
    rgb = true;
  } else if (channels != "bgr") {
    throw py::value_error("channels must be \"rgb\" or \"bgr\", not \"" + channels + "\"");
  }
  if (!py::isinstance<py::array>(image)) {
    throw py::type_error("image must be a numpy array of uint8 (H x W x 3), not " +
                         std::string(py::str(py::type::of(image).attr("__name__"))));
  }
  const auto a = py::reinterpret_borrow<py::array>(image);
  if (a.dtype().kind() != 'u' || a.dtype().itemsize() != 1) {
    throw py::type_error("image must have dtype uint8, not " + std::string(py::str(a.dtype())));
  }
  if (a.ndim() != 3 || a.shape(2) != 3) {
    throw py::value_error("image must have shape (height, width, 3), not " + ShapeText(a));
  }
  const py::ssize_t height = a.shape(0), width = a.shape(1);
  if (height < 1 || width < 1) {
    throw py::value_error("image must be at least 1 x 1 pixels, not " + ShapeText(a));
  }
  if (width > INT_MAX / 3 || height > INT_MAX / 3) {
    throw py::value_error("image is too large: a side may have at most " +
                          std::to_string(INT_MAX / 3) + " pixels, and the shape is " +
                          ShapeText(a));
  }
  const int w = static_cast<int>(width), h = static_cast<int>(height);

  // The image is copied once, into a work image of the pipeline's own
  // layout, which the pipeline then enhances in place (at the sizes it
  // takes as they are, without a copy of its own) and which becomes the
  // result's memory: one copy in, none out, and RGB swapped on the way in
  // and back in place. Both passes only move memory, so they run on row
  // bands on the library's threads, as the pipeline's own stages do: one
  // core cannot draw the memory's whole bandwidth.
  auto work = std::make_unique<BitmapData>();
  const auto* in = static_cast<const uint8_t*>(a.data());
  const py::ssize_t s0 = a.strides(0), s1 = a.strides(1), s2 = a.strides(2);
  PipelineSnapshot::Report report;
  {
    py::gil_scoped_release release;
    work->Initialize(w, h, KelvoLibImageProcessing::kFormatBGR8, nullptr, 3 * w);
    uint8_t* data = work->GetData();
    const int grain = kelvo::BandRows(3L * w);
    kelvo::ParallelRows(h, grain, [&](int begin, int end) {
      CopyIn(in + begin * s0, s0, s1, s2, width, end - begin, rgb, data + begin * 3 * width);
    });
    report = EnhanceAnySize(*work, *work, options);
    if (rgb) {
      kelvo::ParallelRows(h, grain, [&](int begin, int end) {
        uint8_t* rows = data + begin * 3 * width;
        SwapOuterChannels(rows, rows, static_cast<size_t>(3 * width * (end - begin)));
      });
    }
  }
  BitmapData* pixels = work.get();
  py::capsule keeper(pixels, [](void* p) { delete static_cast<BitmapData*>(p); });
  work.release();  // the capsule owns it now
  py::array_t<uint8_t> result({height, width, py::ssize_t{3}},
                              {py::ssize_t{pixels->GetStride()}, py::ssize_t{3}, py::ssize_t{1}},
                              pixels->GetData(), keeper);
  return py::make_tuple(result, report);
}

}  // namespace kelvo::python
