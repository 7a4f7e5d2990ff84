// kelvo._grab: the grab library for the package kelvo, a module of its own
// so that the enhancement works where the grab library is not installed.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelvo/grab.h"
#include "python/src/ChannelSwap.h"
#include "python/src/ReportDict.h"

namespace py = pybind11;

namespace {

namespace grab = kelvo::grab;

// The still's pixels as an H x W x 3 array that owns them: the vector moves
// into the array's keeper, so nothing is copied; for RGB the two outer
// channels are exchanged where they lie.
py::object PixelsArray(grab::Still& still, bool rgb) {
  if (!still.taken || still.pixels.empty()) return py::none();
  auto* pixels = new std::vector<uint8_t>(std::move(still.pixels));
  if (rgb) kelvo::python::SwapOuterChannels(pixels->data(), pixels->data(), pixels->size());
  py::capsule keeper(pixels, [](void* v) { delete static_cast<std::vector<uint8_t>*>(v); });
  const py::ssize_t h = still.height, w = still.width;
  return py::array_t<uint8_t>({h, w, py::ssize_t{3}}, {3 * w, py::ssize_t{3}, py::ssize_t{1}},
                              pixels->data(), keeper);
}

py::dict StillDict(grab::Still& still, bool rgb) {
  py::dict d;
  d["time"] = still.request.time;
  d["file"] = still.request.file;
  d["taken"] = still.taken;
  d["error"] = still.error;
  d["requested_time"] = still.requestedTime;
  d["frame_time"] = still.frameTime;
  d["rule"] = still.rule;
  d["enhanced"] = still.enhanced;
  d["damaged"] = still.damaged;
  d["frame_number"] = still.frameNumber;
  d["report"] = still.report ? py::object(kelvo::python::ReportDict(*still.report)) : py::none();
  d["image"] = PixelsArray(still, rgb);
  return d;
}

// Runs Grab without the GIL; the input's refusal becomes GrabError (or
// ValueError for requests it cannot take), the decoder's warnings Python
// RuntimeWarnings.
std::vector<grab::Still> RunGrab(const std::string& path,
                                 const std::vector<grab::Request>& requests,
                                 grab::Options options) {
  std::vector<std::string> warnings;
  options.onWarning = [&warnings](const std::string& text) { warnings.push_back(text); };
  std::vector<grab::Still> stills;
  bool failed = false;
  grab::Error::Kind kind = grab::Error::Kind::Input;
  std::string why;
  {
    py::gil_scoped_release release;
    try {
      stills = grab::Grab(path, requests, options);
    } catch (const grab::Error& e) {
      failed = true;
      kind = e.kind();
      why = e.what();
    }
  }
  for (const std::string& w : warnings) {
    if (PyErr_WarnEx(PyExc_RuntimeWarning, w.c_str(), 1) != 0) throw py::error_already_set();
  }
  if (failed) {
    if (kind == grab::Error::Kind::Arguments) throw py::value_error(why);
    py::object type = py::module_::import("kelvo._errors").attr("GrabError");
    py::object error = type(why, kind == grab::Error::Kind::Input ? "input" : "output");
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
  }
  return stills;
}

// The settings both grab functions share.
grab::Options RunOptions(int64_t maxPixels, int threads, int decoderThreads, double stallSeconds) {
  if (threads < 0) throw py::value_error("threads must be 0 (the library's count) or more");
  if (decoderThreads < 0)
    throw py::value_error("decoder_threads must be 0 (the decoder's choice) or more");
  if (!(stallSeconds > 0.0)) throw py::value_error("stall_seconds must be above 0");
  grab::Options options;
  options.maxPixels = maxPixels;
  options.threads = threads;
  options.decoderThreads = decoderThreads;
  options.stallSeconds = stallSeconds;
  return options;
}

bool IsRgb(const std::string& channels) {
  if (channels == "rgb") return true;
  if (channels == "bgr") return false;
  throw py::value_error("channels must be \"rgb\" or \"bgr\", not \"" + channels + "\"");
}

}  // namespace

PYBIND11_MODULE(_grab, m) {
  m.doc() = "The grab library for kelvo; use kelvo.grab and kelvo.grab_to_files.";

  m.def(
      "grab",
      [](const std::string& path, const std::vector<double>& times, bool enhance,
         const std::string& channels, int64_t maxPixels, int threads, int decoderThreads,
         double stallSeconds) {
        const bool rgb = IsRgb(channels);
        // No file: the stills come back as pixels only.
        std::vector<grab::Request> requests(times.size());
        for (size_t i = 0; i < times.size(); ++i) {
          requests[i].time = times[i];
          requests[i].enhance = enhance;
        }
        grab::Options options = RunOptions(maxPixels, threads, decoderThreads, stallSeconds);
        options.keepPixels = true;
        std::vector<grab::Still> stills = RunGrab(path, requests, options);
        py::list result;
        for (grab::Still& s : stills) result.append(StillDict(s, rgb));
        return result;
      },
      py::arg("path"), py::arg("times"), py::kw_only(), py::arg("enhance") = false,
      py::arg("channels") = "rgb", py::arg("max_pixels") = int64_t{100'000'000},
      py::arg("threads") = 0, py::arg("decoder_threads") = 0, py::arg("stall_seconds") = 60.0);

  m.def(
      "grab_to_files",
      [](const std::string& path, const std::vector<std::pair<double, std::string>>& targets,
         bool enhance, int quality, int64_t maxPixels, int threads, int decoderThreads,
         double stallSeconds) {
        std::vector<grab::Request> requests;
        for (const auto& [time, file] : targets) {
          if (file.empty())
            throw py::value_error("an empty file name for the still at " + std::to_string(time) +
                                  " s");
          grab::Request r;
          r.time = time;
          r.file = file;
          r.enhance = enhance;
          requests.push_back(r);
        }
        if (quality < 1 || quality > 100) throw py::value_error("quality must be from 1 to 100");
        grab::Options options = RunOptions(maxPixels, threads, decoderThreads, stallSeconds);
        options.quality = quality;
        std::vector<grab::Still> stills = RunGrab(path, requests, options);
        py::list result;
        for (grab::Still& s : stills) result.append(StillDict(s, true));
        return result;
      },
      py::arg("path"), py::arg("targets"), py::kw_only(), py::arg("enhance") = false,
      py::arg("quality") = 88, py::arg("max_pixels") = int64_t{100'000'000},
      py::arg("threads") = 0, py::arg("decoder_threads") = 0, py::arg("stall_seconds") = 60.0);

  m.def(
      "inspect",
      [](const std::string& path) {
        grab::StreamInfo info;
        std::string why;
        {
          py::gil_scoped_release release;
          try {
            info = grab::Inspect(path);
          } catch (const grab::Error& e) {
            why = e.what();
          }
        }
        if (!why.empty()) {
          py::object type = py::module_::import("kelvo._errors").attr("GrabError");
          py::object error = type(why, "input");
          PyErr_SetObject(type.ptr(), error.ptr());
          throw py::error_already_set();
        }
        py::dict d;
        d["duration"] = info.duration;
        d["frame_rate"] = info.frameRate;
        d["width"] = info.width;
        d["height"] = info.height;
        return d;
      },
      py::arg("path"));

  m.def("every_times", &grab::EveryTimes, py::arg("every"), py::arg("start"), py::arg("end"));
  m.def("still_name", &grab::StillName, py::arg("pattern"), py::arg("index"), py::arg("time"),
        py::arg("input"));
}
