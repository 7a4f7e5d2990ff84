#include "python/src/ImageFiles.h"

#include <exception>
#include <optional>
#include <vector>

#include "host/ImageFormat.h"
#include "host/ImageMetadata.h"
#include "host/PngFile.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/ImageFileInfo.h"
#include "tools/kelvo-enhance/EnhanceJob.h"

namespace py = pybind11;

namespace kelvo::python {

namespace {

using kelvo::host::ImageFormat;

ImageFormat TypeOf(const std::string& file) {
  const std::optional<ImageFormat> format = kelvo::host::FormatFromName(file);
  if (!format) throw py::value_error("not a .bmp, .jpg, .jpeg or .png file name: " + file);
  return *format;
}

}  // namespace

py::dict EnhanceFile(const std::string& input, const std::string& output,
                     const KelvoLibImageProcessing::EnhanceOptions& options, int quality,
                     int64_t maxPixels) {
  if (quality < 1 || quality > 100) throw py::value_error("quality must be from 1 to 100");
  if (maxPixels < 1) throw py::value_error("max_pixels must be at least 1");
  kelvo::enhance::EnhanceJob job;
  job.input = input;
  job.output = output;
  job.inType = TypeOf(input);
  job.outType = TypeOf(output);
  kelvo::enhance::EnhanceSettings settings;
  settings.options = options;
  settings.quality = quality;
  settings.maxPixels = maxPixels;
  kelvo::enhance::EnhanceOutcome outcome;
  {
    py::gil_scoped_release release;
    outcome = kelvo::enhance::RunEnhanceJob(job, settings);
  }
  py::dict result;
  result["written"] = outcome.written;
  result["error"] = outcome.error;
  py::list warnings;
  for (const std::string& w : outcome.warnings) warnings.append(w);
  result["warnings"] = warnings;
  result["report"] = outcome.enhanced ? py::cast(outcome.report) : py::none();
  return result;
}

py::tuple ImageSize(const std::string& file, bool decode) {
  const ImageFormat type = TypeOf(file);
  int width = 0, height = 0;
  std::string error;
  {
    py::gil_scoped_release release;
    try {
      if (type == ImageFormat::Png) {
        if (decode) {
          kelvo::host::BgrImage image;
          kelvo::host::ImageMetadata metadata;
          error = kelvo::host::ReadPng(file, &image, &metadata);
          width = image.width;
          height = image.height;
        } else {
          error = kelvo::host::ReadPngSize(file, &width, &height);
        }
      } else {
        const int fileType = type == ImageFormat::Bmp ? KelvoLibImageProcessing::kFileBmp
                                                     : KelvoLibImageProcessing::kFileJpg;
        if (decode) {
          KelvoLibImageProcessing::BitmapData image;
          image.Load(file.c_str(), fileType);
          width = image.GetWidth();
          height = image.GetHeight();
        } else {
          KelvoLibImageProcessing::ReadImageSize(file.c_str(), fileType, &width, &height);
        }
      }
    } catch (const KelvoLibImageProcessing::IPException& e) {
      error = file + ": " + e.what();
    } catch (const std::exception& e) {
      error = file + ": " + e.what();
    }
  }
  if (!error.empty()) throw py::value_error(error);
  return py::make_tuple(width, height);
}

}  // namespace kelvo::python
