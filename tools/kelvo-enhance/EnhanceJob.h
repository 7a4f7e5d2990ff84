#pragma once

// One image of a kelvo-enhance run: read it, turn it upright, enhance it,
// write it with its blocks. Images of one run share nothing but their
// settings, so any number of them can run side by side, each on one thread.

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "host/ImageFormat.h"

namespace kelvo::enhance {

struct EnhanceSettings {
  KelvoLibImageProcessing::EnhanceOptions options;
  int64_t maxPixels = 0;
  int quality = 95;  // JPEG output; BitmapData::SaveJpg's
};

struct EnhanceJob {
  std::string input;
  std::string output;
  kelvo::host::ImageFormat inType = kelvo::host::ImageFormat::Bmp;
  kelvo::host::ImageFormat outType = kelvo::host::ImageFormat::Bmp;
};

struct EnhanceOutcome {
  bool written = false;
  // When not written: why, in a sentence that names the file where the
  // reason alone would not ("cannot read the input: ...").
  std::string error;
  // Blocks that could not be read or carried; the image was still written.
  std::vector<std::string> warnings;
  // Set once the enhancement ran.
  bool enhanced = false;
  KelvoLibImageProcessing::PipelineSnapshot::Report report;
};

// Runs one image. Never throws: every failure is in the outcome.
EnhanceOutcome RunEnhanceJob(const EnhanceJob& job, const EnhanceSettings& settings) noexcept;

}  // namespace kelvo::enhance
