#pragma once

// One framegrab run: decodes the input through GStreamer, hands the frames to
// kelvoframegrab elements and writes every still in one forward pass.
//
// Speed: the pass starts with a seek to the key frame at or before the first
// still and seeks forward again when the next still lies far ahead, and it
// stops as soon as every still is written. Seeking never changes the frame a
// still holds: each seek snaps back to a key frame no later than the first
// frame the timing rule could take for the target (see SeekPoint), and
// every frame from that key frame on is decoded and reaches the filter with
// its true stream time. A key frame right at the target costs no frame
// before it; a target between key frames costs the frames from the last key
// frame on, which decoding needs anyway.
//
// The main still and the snapshots go to two separate elements: a filter
// stops its main grab once any still of its own is written, and a snapshot
// earlier than the main still must not cancel it.

#include <string>

#include "tools/framegrab/FrameGrabOptions.h"

namespace kelvo::framegrab {

// The process exit status, as the usage text documents it. kExitOutput also
// covers a still the element reports it could not write: the run goes on
// and the status says so at the end. kExitDamaged: every still was written,
// but at least one holds a frame the decoder delivered damaged. When several
// apply, the most severe wins: usage, input, output, not written, damaged.
enum ExitCode {
  kExitOk = 0,
  kExitInput = 1,
  kExitUsage = 2,
  kExitOutput = 3,
  kExitNotWritten = 4,
  kExitDamaged = 5
};

// The more severe of two exit statuses.
int WorseExit(int a, int b);

class GrabSession {
 public:
  static constexpr double kSeekGap = 3.0;  // decode through shorter gaps instead of seeking

  explicit GrabSession(const Options& options) : options_(options) {}
  // Runs the whole job and returns the process exit status.
  int Run();

 private:
  const Options& options_;
};

inline constexpr double kLargestHalfFrame = 0.5;  // seconds, at 1 frame per second
inline constexpr double kRequestLead = 0.005;     // a request's interval opens this early
inline constexpr double kSeekMargin = 0.001;      // for rounding to stream time units
inline constexpr double kPeriodShare = 0.75;      // see SeekPoint

// Where to seek (snapping back to a key frame) for a still at `target`
// seconds: the main still or a request, with the half frame the grab
// element uses and the frame period the caps declare (0 when unknown: a
// variable rate, or no caps yet, and the seek point is then the earliest
// time a frame could be taken at).
double SeekPoint(double target, bool main, double halfFrame, double period);

// The bundled sample clip: installed copy first, then the source tree's.
std::string BundledSamplePath();

}  // namespace kelvo::framegrab
