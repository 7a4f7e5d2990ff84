#pragma once

// The one writer of the stills a host takes from the frame grab filter.
//
// A host registers a still sink on the filter; the sink copies each still
// out of the filter (its pixels are only valid during the call) into a
// Still, and the host hands that to a StillWriter once it holds no lock a
// state change or a setting needs: enhancing and encoding take a while, and
// writing may fail slowly. The writer runs the photo enhancement when the
// still asks for it, scales the result when a size is asked for, and saves
// it in the format the file name's extension names (a baseline JPEG of
// quality 88 unless told otherwise, a PNG or a BMP) through the safe writer
// (a temporary beside the target, renamed over it when complete), so a
// failed still leaves its target as it was.
//
// JPEG and PNG stills of a host that names the source (or gives its
// creation time) say where they came from, in EXIF, where exif, exiftool
// and photo managers look: an APP1 block in a JPEG, an eXIf chunk in a PNG
// (the same block in both, rather than PNG text chunks that only some
// tools show and none map to EXIF). ImageDescription holds the source
// file's name, UserComment the frame's stream time ("stream time
// 0:01:02.500 (62.500 s)"), and DateTimeOriginal, SubSecTimeOriginal and
// OffsetTimeOriginal "+00:00" the frame's date and time in UTC (creation
// time plus frame time) when the container gives a creation time. A host
// that knows neither (the GStreamer element) writes the same bytes as the
// filter's own JPEG path.
//
// A frame that cannot be enhanced (the library refuses it, memory runs out)
// is written unenhanced with a warning rather than dropped: a still the user
// asked for is worth more than its enhancement.
//
// A Still owns everything it needs and the writer keeps no state between
// stills, so a host may write them on any thread, one worker or several.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/StillPixels.h"
#include "imaging/pipeline/PipelineSnapshot.h"

namespace kelvo::host {

// One still, copied out of the filter.
struct Still {
  // width x height blue-green-red triples, rows of exactly 3 * width bytes,
  // top row first; never enhanced.
  StillPixels pixels;
  int width = 0;
  int height = 0;
  std::string fileName;        // UTF-8; .jpg/.jpeg, .png or .bmp, in any case
  bool enhance = false;        // run the photo enhancement before saving
  bool mainGrab = false;       // the main grab rather than a queued request
  double requestedTime = 0.0;  // grab time or request time, seconds of stream time
  double frameTime = 0.0;      // start of the frame the still holds, seconds
  // Taken by the host because the filter's interval held no frame: the frame
  // on screen at the requested time (the last one starting at or before it).
  bool onScreen = false;

  int quality = 88;  // JPEG quality 1..100; PNG and BMP ignore it
  // The size written: 0 keeps the frame's. With only one side given the
  // other keeps the aspect ratio (rounded to the nearest pixel, at least 1);
  // with both, exactly that size; above 2^28 pixels it is refused.
  // Scaling runs after the enhancement.
  int scaleWidth = 0;
  int scaleHeight = 0;
  std::string
      sourceName;  // recorded in the still's metadata when not empty (base name of the input)
  // UTC seconds since 1970 at which the stream starts, when the container
  // gives a creation time; the frame's date is this plus frameTime.
  std::optional<int64_t> creationTime;
  bool keepPixels = false;  // return the final (enhanced, scaled) pixels in StillResult::pixels
  bool writeFile = true;    // false: no file, only the pixels (fileName may be empty)
  // Threads the enhancement may use for this still; 0: the library's count.
  // Applies to the writing thread only, so hosts with settings of their own
  // do not change each other's.
  int threads = 0;
};

struct StillResult {
  // True when the file was written; false also when the still asked for no
  // file (writeFile false), in which case an empty reason is success.
  bool written = false;
  bool enhanced = false;
  // What the enhancement measured and decided, when it ran.
  std::optional<KelvoLibImageProcessing::PipelineSnapshot::Report> report;
  // Empty when written; else why not, naming the file, with the system's
  // reason where there is one.
  std::string reason;
  // Set when the still was written unenhanced although enhancement was
  // asked for: why the enhancement failed.
  std::string warning;

  // The final pixels (enhanced when that succeeded, scaled) when the still
  // asked to keep them: blue-green-red, rows of exactly 3 * width bytes,
  // top row first. Empty otherwise, or when the still failed before them.
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
};

class StillWriter {
 public:
  static constexpr int kQuality = 88;

  // Enhances (when asked), scales (when asked) and writes one still. Never
  // throws.
  StillResult Write(const Still& still) const noexcept;
};

}  // namespace kelvo::host
