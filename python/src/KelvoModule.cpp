// kelvo._kelvo: the compiled half of the Python package kelvo. The package
// re-exports what users call; the names with a leading underscore serve
// kelvo.batch.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <exception>
#include <string>

#include "imaging/core/IPException.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/primitives/Threads.h"
#include "python/src/ArrayEnhance.h"
#include "python/src/ImageFiles.h"
#include "python/src/ReportDict.h"
#include "tools/common/PixelLimit.h"

namespace py = pybind11;

namespace {

using KelvoLibImageProcessing::EnhanceOptions;
using KelvoLibImageProcessing::IPException;
using kelvo::python::BoolField;
using kelvo::python::FloatField;
using kelvo::python::kBoolFields;
using kelvo::python::kFloatFields;
using kelvo::python::ReportDict;
using kelvo::python::TimesDict;
using Report = KelvoLibImageProcessing::PipelineSnapshot::Report;
using StageTimes = KelvoLibImageProcessing::PipelineSnapshot::StageTimes;

// kelvo.Error is a plain Python class (kelvo/_errors.py) so that it pickles
// with its code and where-string, which a Dask worker's failure needs.
py::handle ErrorType() {
  static py::handle type =
      py::object(py::module_::import("kelvo._errors").attr("Error")).release();  // kept for good
  return type;
}

void RaiseError(const IPException& e) {
  const char* text = e.what();
  const char* message = IPException::Message(e.GetCode());
  const size_t prefix = std::strlen(message);
  const char* where = std::strncmp(text, message, prefix) == 0 ? text + prefix : text;
  py::object error = ErrorType()(py::str(text), e.GetCode(), py::str(where));
  PyErr_SetObject(ErrorType().ptr(), error.ptr());
}

EnhanceOptions Options(bool skin, bool noise, bool stretch, bool sharpen) {
  EnhanceOptions options;
  options.doSkin = skin;
  options.doNoise = noise;
  options.doLStretch = stretch;
  options.doSharp = sharpen;
  return options;
}

constexpr const char* kEnhanceDoc =
    R"(enhance(image, *, skin=True, noise=True, stretch=True, sharpen=True, channels='rgb')
--

Enhance a photo or a grabbed frame the way the frame grabber does: skin
analysis, wavelet noise reduction, contrast stretch, luminance sharpening
and a Screen self-blend. Returns (enhanced, report).

image
    A numpy array of dtype uint8 and shape (height, width, 3), of any size
    from 1 x 1, in any layout (views, crops, flipped or stepped slices);
    the array is not changed.
skin, noise, stretch, sharpen
    Switch the stages off one by one (the blend always runs).
channels
    "rgb" (the default: imageio, PIL, scikit-image, matplotlib) or "bgr"
    (OpenCV). The result has the same channel order.

enhanced
    A new C-contiguous uint8 array of the same shape, exactly the pixels
    kelvo-enhance writes for the same image.
report
    A kelvo.Report: what the pipeline measured and decided, and the time
    of each stage (report.times, milliseconds); report.to_dict() gives both
    as a dict.

Raises TypeError for an image that is not a uint8 numpy array, ValueError
for another shape or channels name, and kelvo.Error (with .code and .where)
when the library refuses the image or runs out of memory.

The GIL is released while the library works, so calls from several threads
run side by side, each on one core. Each call copies the image once, into
the memory that becomes the result, and the library enhances it there.)";

}  // namespace

PYBIND11_MODULE(_kelvo, m) {
  m.doc() = "The compiled part of kelvo; use the package kelvo.";
  m.attr("__version__") = KELVO_VERSION;

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const IPException& e) {
      RaiseError(e);
    }
  });

  py::class_<StageTimes>(m, "StageTimes",
                         "Wall-clock time of each stage of one enhancement, in milliseconds; a "
                         "stage that was switched off took 0.")
      .def_readonly("copy_in", &StageTimes::copyIn, "Work images and the copy of the input.")
      .def_readonly("skin", &StageTimes::skin, "Skin map and its statistics.")
      .def_readonly("noise", &StageTimes::noise, "Wavelet noise reduction.")
      .def_readonly("stretch", &StageTimes::stretch, "Histogram, decision and contrast stretch.")
      .def_readonly("sharpen", &StageTimes::sharpen, "Hybrid unsharp mask.")
      .def_readonly("blend", &StageTimes::blend, "Screen self-blend.")
      .def_readonly("copy_out", &StageTimes::copyOut, "Copy into the output.")
      .def_readonly("total", &StageTimes::total, "The whole enhancement.")
      .def("to_dict", &TimesDict, "The times as a dict of milliseconds.")
      .def("__repr__", [](const StageTimes& t) {
        return "StageTimes(" + std::string(py::str(TimesDict(t))) + ")";
      });

  auto report = py::class_<Report>(
      m, "Report",
      "What one enhancement measured and decided, and how long each stage took.\n\n"
      "Luminances and clips are on the pipeline's own scale; quantities of a stage "
      "that did not run stay 0. to_dict() gives every attribute, the times as a "
      "nested dict under \"times\".");
  for (const FloatField& f : kFloatFields) {
    report.def_property_readonly(
        f.name, [member = f.member](const Report& r) { return static_cast<double>(r.*member); },
        f.doc);
  }
  for (const BoolField& f : kBoolFields) {
    report.def_property_readonly(
        f.name, [member = f.member](const Report& r) { return r.*member; }, f.doc);
  }
  report.def_readonly("times", &Report::times, "The stage times (kelvo.StageTimes).")
      .def("to_dict", &ReportDict, "The report as a dict (the times under \"times\").")
      .def("__repr__", [](const Report& r) {
        return "Report(skin_ratio=" + std::to_string(r.skinRatio) +
               ", opacity=" + std::to_string(r.opacity) +
               ", total_ms=" + std::to_string(r.times.total) + ")";
      });

  // enhance's docstring opens with its signature as users call it (the
  // generated one would name the image a "handle").
  py::options plainSignature;
  plainSignature.disable_function_signatures();
  m.def(
      "enhance",
      [](const py::handle& image, bool skin, bool noise, bool stretch, bool sharpen,
         const std::string& channels) {
        return kelvo::python::EnhanceArray(image, Options(skin, noise, stretch, sharpen), channels);
      },
      py::arg("image"), py::kw_only(), py::arg("skin") = true, py::arg("noise") = true,
      py::arg("stretch") = true, py::arg("sharpen") = true, py::arg("channels") = "rgb",
      kEnhanceDoc);
  plainSignature.enable_function_signatures();

  m.def(
      "_enhance_file",
      [](const std::string& input, const std::string& output, bool skin, bool noise, bool stretch,
         bool sharpen, int quality, int64_t maxPixels, int threads) {
        if (threads < 0) throw py::value_error("threads must be 0 (the library's count) or more");
        // The count for this call's thread only: other threads of the
        // process keep theirs.
        const kelvo::ScopedThreads scoped(threads);
        return kelvo::python::EnhanceFile(input, output, Options(skin, noise, stretch, sharpen),
                                          quality, maxPixels);
      },
      py::arg("input"), py::arg("output"), py::kw_only(), py::arg("skin") = true,
      py::arg("noise") = true, py::arg("stretch") = true, py::arg("sharpen") = true,
      py::arg("quality") = 95, py::arg("max_pixels") = kelvo::tools::kDefaultMaxPixels,
      py::arg("threads") = 0,
      "Enhance the photo in input into output as kelvo-enhance does, on threads library "
      "threads (0: the library's count); a dict with written, error, warnings and report.");

  m.def("_image_size", &kelvo::python::ImageSize, py::arg("file"), py::kw_only(),
        py::arg("decode") = false,
        "(width, height) of a .bmp, .jpg or .png file; decode=True decodes it all first. "
        "ValueError when it cannot be read.");
}
