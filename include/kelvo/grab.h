#pragma once

// The Kelvo grab library: stills of chosen frames of a video file, decoded
// by GStreamer and taken by the frame grab filter's rules, in one forward
// pass over the file.
//
// Which frame a time names:
//  - a request at T takes the frame starting in (T - 5 ms, T - 5 ms + one
//    frame period); when none does, the frame on screen at T (the last frame
//    starting at or before T);
//  - the main still at T takes the first frame starting at most half a frame
//    period before T, or later; in the last half frame of the video, the
//    last frame;
//  - a frame number N (counted from 0 in presentation order) is the frame at
//    N / rate in a file that declares a constant rate; in one that does not,
//    the frames are counted from the start.
//
// Every still goes through the hosts' still writer: the format follows the
// file name's extension (.jpg/.jpeg, .png, .bmp), written to a temporary
// beside the target and renamed over it when complete.
//
// The library never prints and never ends the process: what goes wrong with
// the input as a whole is an Error, what goes wrong with one still is in
// that Still, and warnings go to Options::onWarning. It keeps no state
// between calls; several Grab calls may run at once on different threads.
//
// The library carries the kelvoframegrab element itself and initialises
// GStreamer when needed. A process that loaded the element's plug-in file
// before its first Grab gets an Error: one element type per process.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/pipeline/PipelineSnapshot.h"

namespace kelvo::grab {

// One still asked for.
struct Request {
  double time = 0.0;   // seconds of stream time
  int64_t frame = -1;  // >= 0: a frame number (from 0, presentation order) instead of time
  std::string file;    // where to write; empty: pixels only (Still::pixels)
  bool enhance = false;
  bool main = false;   // the main grab rather than a queued snapshot
};

// What the enhancement of a still measured and decided, and how long each
// stage took: the image library's snapshot report.
using EnhanceReport = KelvoLibImageProcessing::PipelineSnapshot::Report;

// Why a still was not taken.
enum class Failure {
  None,
  Write,       // its file could not be written (Still::error says why)
  BeyondEnd,   // its time or frame lies beyond the end of the video
  NotTaken,    // inside the video, yet no frame was taken for it
  Decoding,    // decoding stopped (an error of the input) before its frame
};

// One still as taken, or not.
struct Still {
  Request request;
  bool taken = false;           // false: error says why (no such frame, could not write...)
  std::string error;
  Failure failure = Failure::None;
  std::vector<uint8_t> pixels;  // final blue-green-red pixels, top row first, rows of 3*width bytes (when asked)
  int width = 0, height = 0;
  double requestedTime = 0.0;   // the request's time; for a frame number, the time it was found at
  double frameTime = 0.0;       // start of the frame taken, seconds of stream time
  std::string rule;             // "interval" or "on-screen"
  bool enhanced = false;        // written enhanced (enhancement asked for and done)
  bool damaged = false;         // its frame came right after the decoder lost data
  double sharpness = -1.0;      // when Options::sharpest > 0
  int64_t frameNumber = -1;     // when known (asked for by number, or counted)
  std::optional<EnhanceReport> report;  // when enhanced
};

// Regular stills over a stretch of the video: every `every` seconds from
// `from` to `to` (both inclusive; `to` < 0: to the end of the video), named
// by StillName(pattern, index, time, input). Added to the requests of a
// Grab call, after them.
struct Interval {
  double every = 0.0;  // 0: none
  double from = 0.0;
  double to = -1.0;
  std::string pattern;
  bool enhance = false;
};

struct Options {
  int64_t maxPixels = 100'000'000;  // larger frames refused
  bool keepPixels = false;          // fill Still::pixels
  int sharpest = 0;                 // N: take the sharpest frame within N frames either side
  int quality = 88;                 // JPEG quality 1..100
  int scaleWidth = 0, scaleHeight = 0;  // 0: keep; one side only: keep the aspect ratio
  Interval interval;
  // Threads the enhancement of each still may use; 0: the image library's
  // count (KELVO_THREADS, or the cores). 1 also writes each still on the
  // thread that decodes, instead of beside it, so that a grab held to one
  // thread (and one decoder thread) keeps to one core: what a batch that
  // runs one grab per core expects.
  int threads = 0;
  // Threads the video decoder may use, for decoders that can be told (the
  // libav ones); 0: the decoder's own choice (about one per core).
  int decoderThreads = 0;
  // A pass in which nothing happens for this long (no frame decoded, no
  // still written, no word from the decoder) is stopped with an Error
  // rather than left to wait for ever: a broken file can leave a decoder
  // waiting for data that never comes.
  double stallSeconds = 60.0;
  // Called for each still once it and every still before it (in the order
  // Grab returns them) are complete, on the thread that called Grab.
  std::function<void(const Still&)> onStill;
  // The share of the work done so far, 0 to 1, from the thread that called Grab.
  std::function<void(double fraction)> onProgress;
  // Warnings of the decoder (each kind once, with a count when repeated) and
  // notes on the run as a whole, one line each, on the thread that called Grab.
  std::function<void(const std::string&)> onWarning;
};

// The input cannot be used at all: it cannot be read, holds no video, its
// frames are too large, or the requests cannot be written where asked.
class Error : public std::runtime_error {
 public:
  enum class Kind {
    Input,      // the input: missing, unreadable, not decodable, no video, too large
    Arguments,  // the requests: a bad time, an output that cannot be a still, one file twice
    Output,     // an output folder missing or not writable
  };
  Error(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// Grabs every request from one input in one pass. Throws Error when the input
// cannot be used at all; per-still failures are in Still::taken/error. The
// stills come back in time order, the main still first on a tie.
std::vector<Still> Grab(const std::string& path, const std::vector<Request>& requests,
                        const Options& options = {});

// The times of an interval: every `every` seconds from `from` to `to`, both
// included. Empty when every <= 0 or to < from.
std::vector<double> EveryTimes(double every, double from, double to);

// The file name of a regular still: in `pattern`, %d or %0Nd is the index
// (from 1), %t the time in seconds with milliseconds ("12.500"), {name} the
// input's base name without its extension, %% a percent sign.
std::string StillName(const std::string& pattern, int64_t index, double time,
                      const std::string& input);

// Makes the missing folders on the way to `file`, one level at a time (a
// name that exists and is not a folder is Error Kind::Arguments; a folder
// that cannot be made, Kind::Output). Grab does this itself for the stills
// of an Interval.
void MakeFolders(const std::string& file);

// What a video file declares, read without decoding it through.
struct StreamInfo {
  double duration = -1.0;   // seconds; < 0 when unknown
  double frameRate = 0.0;   // frames per second; 0 when not constant (or not declared)
  int width = 0, height = 0;
  std::optional<int64_t> creationTime;  // UTC seconds since 1970, when the container says
};
// Throws Error (Kind::Input) when the file cannot be read as a video.
StreamInfo Inspect(const std::string& path, int64_t maxPixels = 100'000'000);

// The latest time a still may be asked for: stream times are nanoseconds in
// a signed 64-bit integer (about 292 years).
inline constexpr double kMaxSeconds = static_cast<double>(INT64_MAX / 1'000'000'000);

// Parses a time: seconds ("12.5"), MM:SS[.mmm], HH:MM:SS[.mmm], or a frame
// number ("1500f"). False with the reason in *why on anything else.
bool ParseTime(const std::string& text, double* seconds, int64_t* frame, std::string* why);

}  // namespace kelvo::grab
