#pragma once

// One framegrab run: decodes the input through GStreamer, hands the frames to
// kelvoframegrab elements and writes every still in one forward pass.
//
// Speed: the pass starts with an accurate seek to shortly before the first
// still and seeks forward again when the next still lies far ahead, and it
// stops as soon as every still is written. Seeking never changes the frame a
// still holds: each seek lands kSeekLead seconds before the target, which is
// more than any frame the timing rule can pick before it (half a frame period
// for the main still, 5 ms for a snapshot), and seeks are accurate, so every
// candidate frame still reaches the filter with its true stream time.
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
  static constexpr double kSeekLead = 1.0;  // seconds before a target
  static constexpr double kSeekGap = 3.0;   // decode through shorter gaps instead of seeking

  explicit GrabSession(const Options& options) : options_(options) {}
  // Runs the whole job and returns the process exit status.
  int Run();

 private:
  const Options& options_;
};

// The bundled sample clip: installed copy first, then the source tree's.
std::string BundledSamplePath();

}  // namespace kelvo::framegrab
