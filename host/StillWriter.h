#pragma once

// The one writer of the stills a host takes from the frame grab filter.
//
// A host registers a still sink on the filter; the sink copies each still
// out of the filter (its pixels are only valid during the call) into a
// Still, and the host hands that to a StillWriter once it holds no lock a
// state change or a setting needs: enhancing and encoding take a while, and
// writing may fail slowly. The writer runs the photo enhancement when the
// still asks for it and saves a baseline JPEG of quality 88 through the
// safe writer (a temporary beside the target, renamed over it when
// complete), so a failed still leaves its target as it was.
//
// A frame that cannot be enhanced (the library refuses it, memory runs out)
// is written unenhanced with a warning rather than dropped: a still the user
// asked for is worth more than its enhancement.
//
// A Still owns everything it needs and the writer keeps no state between
// stills, so a host may write them on any thread, one worker or several.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::host {

// One still, copied out of the filter.
struct Still {
  // width x height blue-green-red triples, rows of exactly 3 * width bytes,
  // top row first; never enhanced.
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
  std::string fileName;       // UTF-8
  bool enhance = false;       // run the photo enhancement before saving
  bool mainGrab = false;      // the main grab rather than a queued request
  double requestedTime = 0.0; // grab time or request time, seconds of stream time
  double frameTime = 0.0;     // start of the frame the still holds, seconds
  // Taken by the host because the filter's interval held no frame: the frame
  // on screen at the requested time (the last one starting at or before it).
  bool onScreen = false;
};

struct StillResult {
  bool written = false;
  bool enhanced = false;
  // Empty when written; else why not, naming the file, with the system's
  // reason where there is one.
  std::string reason;
  // Set when the still was written unenhanced although enhancement was
  // asked for: why the enhancement failed.
  std::string warning;
};

class StillWriter {
 public:
  static constexpr int kQuality = 88;

  // Enhances (when asked) and writes one still. Never throws.
  StillResult Write(const Still& still) const noexcept;
};

}  // namespace kelvo::host
