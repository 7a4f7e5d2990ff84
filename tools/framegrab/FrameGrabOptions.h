#pragma once

// Command line of framegrab (see UsageText for every option).
//
// Parsing looks at the text only; whether the files can be read and
// written is checked by the run.

#include <cstdint>
#include <string>
#include <vector>

#include "grab/TimeText.h"
#include "tools/common/PixelLimit.h"

namespace kelvo::framegrab {

struct Still {
  double time = 0.0;   // seconds of stream time
  int64_t frame = -1;  // >= 0: a frame number instead of a time
  std::string file;    // may hold {name}, the input's base name
  bool enhance = false;
  bool main = false;  // the main still (--at / -o), else a --snapshot
};

struct Options {
  std::vector<std::string> inputs;  // empty: the bundled sample
  std::vector<Still> stills;  // in time order (frame numbers as time 0), the main still first on ties
  // --every: regular stills named by `pattern` (-o), from `from` to `to`
  // (inclusive; < 0: to the end of each input).
  double every = 0.0;
  double from = 0.0;
  double to = -1.0;
  std::string pattern;
  bool everyEnhance = false;
  std::string folder;  // -o FOLDER/: made when missing

  int quality = 88;
  int scaleWidth = 0, scaleHeight = 0;
  int sharpest = 0;
  int jobs = 1;
  int decoderThreads = 0;  // 0: the decoder's own choice
  bool json = false;
  int64_t maxPixels = kelvo::tools::kDefaultMaxPixels;  // larger frames are refused
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// The latest time a still may be asked for: seeks and buffer times are
// nanoseconds in a signed 64-bit integer, so 2^63 - 1 ns, in whole seconds
// (about 292 years). Later times, negative ones, NaN and infinities are
// refused as arguments; nothing converts them to integers.
inline constexpr double kMaxSeconds = kelvo::grab::detail::kLatest;

// Default main still when no still is asked for at all.
inline constexpr const char* kDefaultOutput = "still.jpg";

// The most stills either side --sharpest compares, and the most inputs at once.
inline constexpr int kMostSharpest = 50;
inline constexpr int kMostJobs = 64;
inline constexpr int kMostDecoderThreads = 256;

// Parses argv; false with a one-line reason on bad arguments.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// Parses "T=FILE[:enhance]" or "T:FILE[:enhance]" (the second only for
// times without colons: seconds and frame numbers).
bool ParseSnapshot(const std::string& text, Still* still, std::string* error);

const char* UsageText();

// What {name} in an output name stands for: the input's file name without
// its folder and extension.
std::string BaseName(const std::string& input);

}  // namespace kelvo::framegrab
