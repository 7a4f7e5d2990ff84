#pragma once

// The progress of a many-image run, drawn on one line of standard error
// when it is a terminal, and nothing otherwise (a log or a pipe gets only
// the messages). Messages printed while the bar shows go above it. Safe to
// call from any number of threads.

#include <mutex>
#include <string>

namespace kelvo::enhance {

class ProgressBar {
 public:
  // total images; the bar is drawn only when standard error is a terminal.
  explicit ProgressBar(size_t total);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Prints line (a newline is added) on standard error, above the bar.
  void Print(const std::string& line);
  // One more image finished; name is the one just done.
  void Advance(const std::string& name);
  // Clears the bar, leaving the terminal as it was before it.
  void Finish();

 private:
  void DrawLocked();
  void ClearLocked();

  std::mutex mutex_;
  size_t total_;
  size_t done_ = 0;
  std::string last_;
  bool enabled_;
  bool drawn_ = false;
};

}  // namespace kelvo::enhance
