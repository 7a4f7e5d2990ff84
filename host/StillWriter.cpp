#include "host/StillWriter.h"

#include <cstring>
#include <exception>
#include <filesystem>
#include <new>

#include "imaging/core/IPException.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/EnhanceAnySize.h"

namespace kelvo::host {

namespace {

using KelvoLibImageProcessing::EnhanceAnySize;
using KelvoLibImageProcessing::IPException;

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Runs the snapshot enhancement on the still's pixels (any size: sizes the
// pipeline does not take are padded and cropped back), leaving the result in
// *enhanced with rows of 3 * width bytes. Empty on success, else why not.
std::string Enhance(const Still& still, std::vector<uint8_t>* enhanced) {
  const int rowBytes = still.width * 3;
  try {
    enhanced->resize(still.pixels.size());
    EnhanceAnySize(still.width, still.height, still.pixels.data(), rowBytes, enhanced->data(),
                   rowBytes);
    return {};
  } catch (const IPException& e) {
    return std::string("the enhancement failed: ") + e.what();
  } catch (const std::bad_alloc&) {
    return "the enhancement failed: out of memory";
  } catch (...) {
    return "the enhancement failed";
  }
}

}  // namespace

StillResult StillWriter::Write(const Still& still) const noexcept {
  StillResult result;
  try {
    const size_t bytes = static_cast<size_t>(still.width > 0 ? still.width : 0) * 3 *
                         static_cast<size_t>(still.height > 0 ? still.height : 0);
    if (still.width <= 0 || still.height <= 0 || still.pixels.size() < bytes) {
      result.reason = Quoted(still.fileName) + ": the still holds no complete frame";
      return result;
    }
    const uint8_t* pixels = still.pixels.data();
    std::vector<uint8_t> enhanced;
    if (still.enhance) {
      const std::string failure = Enhance(still, &enhanced);
      if (failure.empty()) {
        pixels = enhanced.data();
        result.enhanced = true;
      } else {
        result.warning = Quoted(still.fileName) + " was written unenhanced: " + failure;
      }
    }
    result.reason =
        kelvo::io::WriteJpegBgr(PathOf(still.fileName), pixels, still.width, still.height, kQuality);
    result.written = result.reason.empty();
  } catch (const std::bad_alloc&) {
    result.written = false;
    result.reason = Quoted(still.fileName) + ": out of memory";
  } catch (...) {
    result.written = false;
    result.reason = Quoted(still.fileName) + ": the still could not be written";
  }
  return result;
}

}  // namespace kelvo::host
