#pragma once

// Which stills the frame grab filter writes on a given frame.
//
// The element has to tell applications which files are complete and which
// frame each holds, but the filter reports nothing back: it writes its files
// and returns S_OK. The element therefore keeps a copy of everything it has
// handed to the filter (main grab settings, queued requests, frame rate) and
// applies the filter's own timing rule to each frame's start time before the
// frame is delivered. The rule is evaluated with the same double arithmetic as
// the filter, so the prediction and the filter's decision cannot disagree;
// the filter itself stays untouched.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::gst {

struct StillTarget {
  std::string fileName;  // UTF-8
  double time = 0.0;     // requested stream time, seconds
  bool enhance = false;
  bool main = false;     // the main grab rather than a queued request
};

class StillSchedule {
 public:
  // Half the frame period rounded to 10 us, as the filter computes it.
  static double HalfFrameFor(int framesPerSecond);

  void SetFrameRate(int framesPerSecond);
  double HalfFrame() const { return halfFrame_; }

  // armed: the filter has both the grab switch on and an output name.
  void SetMain(bool armed, double grabTime, bool enhance, std::string fileName);
  void AddRequest(StillTarget request);

  // The stills the filter writes on a frame starting at `start` (100-ns
  // units), in the order it writes them: the main grab first, then the due
  // requests in queue order.
  std::vector<StillTarget> DueAt(int64_t start) const;
  // Records that the stills DueAt returned for this frame were written.
  void MarkWritten(int64_t start);

  bool MainPending() const { return mainArmed_ && !grabDone_; }
  bool GrabDone() const { return grabDone_; }
  const std::vector<StillTarget>& Requests() const { return requests_; }

 private:
  bool RequestDue(const StillTarget& r, double t) const;

  double halfFrame_ = 0.0;
  bool mainArmed_ = false;
  double grabTime_ = 0.0;
  bool mainEnhance_ = false;
  std::string mainFile_;
  bool grabDone_ = false;
  std::vector<StillTarget> requests_;
};

}  // namespace kelvo::gst
