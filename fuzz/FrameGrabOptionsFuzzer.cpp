// libFuzzer target: framegrab's command-line parser on arbitrary argument
// lists. The input is split at NUL bytes into arguments (a final empty piece
// is dropped, so "a\0" is one argument). Every list must either parse into
// options that keep the parser's promises or be refused with a reason;
// anything else (a crash, a sanitizer report, an exception, a hang) is a
// finding.
//
// Needs tools/framegrab/FrameGrabOptions.cpp only (and the header-only
// tools/common/PixelLimit.h); no GStreamer.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/framegrab/FrameGrabOptions.h"

using kelvo::framegrab::Options;
using kelvo::framegrab::ParseOptions;
using kelvo::framegrab::Still;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty()) args.push_back(current);

  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (options.maxPixels < 1) std::abort();
  if (options.help || options.version) return 0;
  for (const std::string& input : options.inputs)
    if (input == "-") std::abort();
  // Something is always grabbed (stills, or regular ones named by a
  // pattern), in time order, with at most one main still.
  if (options.stills.empty() && !(options.every > 0.0 && !options.pattern.empty())) std::abort();
  if (options.quality < 1 || options.quality > 100 || options.jobs < 1) std::abort();
  int mains = 0;
  for (size_t i = 0; i < options.stills.size(); ++i) {
    const Still& s = options.stills[i];
    if (s.file.empty() || s.file == "-" || !std::isfinite(s.time) || s.time < 0.0) std::abort();
    if (i > 0 && options.stills[i - 1].time > s.time) std::abort();
    mains += s.main ? 1 : 0;
  }
  if (mains > 1) std::abort();
  return 0;
}
