#include "host/StillWriter.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>

#include "host/ImageFormat.h"
#include "host/ImageMetadata.h"
#include "host/Scale.h"
#include "imaging/core/IPException.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/primitives/Threads.h"

#if KELVO_HOST_IMAGE_FILES
#include "host/ExifBlock.h"
#endif

namespace kelvo::host {

namespace {

using KelvoLibImageProcessing::EnhanceAnySize;
using KelvoLibImageProcessing::IPException;

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

// How messages name the still: its file, or "the still" when it has none.
std::string NameOf(const Still& still) {
  return still.writeFile || !still.fileName.empty() ? Quoted(still.fileName) : "the still";
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

void AddWarning(StillResult* result, const std::string& warning) {
  if (!result->warning.empty()) result->warning += "; ";
  result->warning += warning;
}

// Runs the snapshot enhancement on the still's pixels (any size: sizes the
// pipeline does not take are padded and cropped back), leaving the result in
// *enhanced with rows of 3 * width bytes and its report in *report. Empty on
// success, else why not.
std::string Enhance(const Still& still, StillPixels* enhanced,
                    std::optional<KelvoLibImageProcessing::PipelineSnapshot::Report>* report) {
  const int rowBytes = still.width * 3;
  try {
    enhanced->resize(still.pixels.size());
    *report = EnhanceAnySize(still.width, still.height, still.pixels.data(), rowBytes,
                             enhanced->data(), rowBytes);
    return {};
  } catch (const IPException& e) {
    return std::string("the enhancement failed: ") + e.what();
  } catch (const std::bad_alloc&) {
    return "the enhancement failed: out of memory";
  } catch (...) {
    return "the enhancement failed";
  }
}

// The EXIF block that says where a still came from, for a host that told
// us (a source name or a creation time); empty otherwise, so a host that
// knows neither writes the same bytes as the filter's own JPEG path.
ImageMetadata OriginOf(const Still& still, int width, int height, StillResult* result) {
  ImageMetadata metadata;
  if (still.sourceName.empty() && !still.creationTime) return metadata;
#if KELVO_HOST_IMAGE_FILES
  int64_t dateTimeMs = 0;
  const int64_t* dateTime = nullptr;
  // Seconds since 1970 in an int64 reach far beyond any date EXIF can
  // write; only the sum with the frame time needs guarding.
  if (still.creationTime && std::isfinite(still.frameTime) && std::fabs(still.frameTime) < 1e12 &&
      std::llabs(*still.creationTime) < int64_t{1} << 50) {
    dateTimeMs = *still.creationTime * 1000 + std::llround(still.frameTime * 1000.0);
    dateTime = &dateTimeMs;
  }
  ExifBlock exif;
  std::string error;
  if (!exif.CreateForStill(still.sourceName, still.frameTime, width, height, dateTime, &error) ||
      !exif.Serialise(&metadata.exif, &error)) {
    AddWarning(result, NameOf(still) + " was written without its origin: " + error);
    metadata.exif.clear();
  }
#else
  (void)width;
  (void)height;
  (void)result;
#endif
  return metadata;
}

}  // namespace

StillResult StillWriter::Write(const Still& still) const noexcept {
  StillResult result;
  const kelvo::ScopedThreads threads(still.threads);
  try {
    const size_t bytes = static_cast<size_t>(still.width > 0 ? still.width : 0) * 3 *
                         static_cast<size_t>(still.height > 0 ? still.height : 0);
    if (still.width <= 0 || still.height <= 0 || still.pixels.size() < bytes) {
      result.reason = NameOf(still) + ": the still holds no complete frame";
      return result;
    }
    // Everything that can be refused is checked before the enhancement,
    // which is the slow part.
    ImageFormat format = ImageFormat::Jpeg;
    if (still.writeFile) {
      const std::optional<ImageFormat> named = FormatFromName(still.fileName);
      if (!named) {
        result.reason = UnknownFormatReason(still.fileName);
        return result;
      }
      format = *named;
      if (format == ImageFormat::Jpeg && (still.quality < 1 || still.quality > 100)) {
        result.reason = NameOf(still) + ": JPEG quality " + std::to_string(still.quality) +
                        " is outside 1 to 100";
        return result;
      }
    }
    int outWidth = still.width, outHeight = still.height;
    const std::string sizeError = ScaledSize(still.width, still.height, still.scaleWidth,
                                             still.scaleHeight, &outWidth, &outHeight);
    if (!sizeError.empty()) {
      result.reason = NameOf(still) + ": " + sizeError;
      return result;
    }

    const uint8_t* pixels = still.pixels.data();
    StillPixels enhanced;
    if (still.enhance) {
      const std::string failure = Enhance(still, &enhanced, &result.report);
      if (failure.empty()) {
        pixels = enhanced.data();
        result.enhanced = true;
      } else {
        AddWarning(&result, NameOf(still) + " was written unenhanced: " + failure);
      }
    }
    std::vector<uint8_t> scaled;
    if (outWidth != still.width || outHeight != still.height) {
      scaled = ScaleBgr(pixels, still.width, still.height, static_cast<size_t>(still.width) * 3,
                        outWidth, outHeight);
      pixels = scaled.data();
      StillPixels().swap(enhanced);
    }

    if (still.writeFile) {
      ImageMetadata metadata;
      if (format != ImageFormat::Bmp) metadata = OriginOf(still, outWidth, outHeight, &result);
      BgrView view;
      view.pixels = pixels;
      view.width = outWidth;
      view.height = outHeight;
      view.stride = static_cast<size_t>(outWidth) * 3;
      std::vector<std::string> warnings;
      result.reason =
          WriteImage(PathOf(still.fileName), view, format, still.quality, metadata, &warnings);
      result.written = result.reason.empty();
      for (const std::string& w : warnings) AddWarning(&result, NameOf(still) + ": " + w);
      if (!result.written) return result;
    }
    if (still.keepPixels) {
      if (!scaled.empty()) {
        result.pixels = std::move(scaled);
      } else if (!enhanced.empty() && result.enhanced) {
        result.pixels.assign(enhanced.begin(), enhanced.end());
      } else {
        result.pixels.assign(still.pixels.begin(), still.pixels.begin() + static_cast<std::ptrdiff_t>(bytes));
      }
      result.width = outWidth;
      result.height = outHeight;
    }
  } catch (const std::bad_alloc&) {
    result.written = false;
    result.reason = NameOf(still) + ": out of memory";
  } catch (...) {
    result.written = false;
    result.reason = NameOf(still) + ": the still could not be written";
  }
  return result;
}

}  // namespace kelvo::host
