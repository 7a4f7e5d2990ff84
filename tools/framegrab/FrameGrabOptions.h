#pragma once

// Command line of framegrab:
//   framegrab [INPUT] [--at SECONDS] [-o FILE] [--enhance]
//             [--snapshot SECONDS:FILE[:enhance]]... [--max-pixels N] [--quiet]
//   framegrab --help | --version
//
// Parsing looks at the text only; whether the files can be read and
// written is checked by the run (StillTargets.h).

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/PixelLimit.h"

namespace kelvo::framegrab {

struct Still {
  double time = 0.0;  // seconds of stream time
  std::string file;
  bool enhance = false;
  bool main = false;  // the main still (--at / -o), else a --snapshot
};

struct Options {
  std::string input;  // empty: the bundled sample
  std::vector<Still> stills;  // in time order, the main still first on ties
  int64_t maxPixels = kelvo::tools::kDefaultMaxPixels;  // larger frames are refused
  bool quiet = false;
  bool help = false;
  bool version = false;
};

// The latest time a still may be asked for: seeks and buffer times are
// nanoseconds in a signed 64-bit integer, so 2^63 - 1 ns, in whole seconds
// (about 292 years). Later times, negative ones, NaN and infinities are
// refused as arguments; nothing converts them to integers.
inline constexpr double kMaxSeconds = static_cast<double>(INT64_MAX / 1'000'000'000);

// Default main still when no still is asked for at all.
inline constexpr const char* kDefaultOutput = "still.jpg";

// Parses argv; false with a one-line reason on bad arguments.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// Parses "SECONDS:FILE[:enhance]".
bool ParseSnapshot(const std::string& text, Still* still, std::string* error);

const char* UsageText();

}  // namespace kelvo::framegrab
