#include "tools/kelvo-enhance/ProgressBar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

namespace kelvo::enhance {

namespace {

constexpr int kBarCells = 30;

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

ProgressBar::ProgressBar(size_t total) : total_(total), enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { Finish(); }

void ProgressBar::Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  std::fprintf(stderr, "%s\n", line.c_str());
  if (enabled_ && done_ < total_) DrawLocked();
  std::fflush(stderr);
}

void ProgressBar::Advance(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  last_ = name;
  if (enabled_) DrawLocked();
}

void ProgressBar::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearLocked();
  enabled_ = false;
}

void ProgressBar::DrawLocked() {
  const size_t filled = total_ == 0 ? kBarCells : done_ * kBarCells / total_;
  std::string line = "[";
  line.append(filled, '#');
  line.append(kBarCells - filled, '.');
  line += "] " + std::to_string(done_) + "/" + std::to_string(total_);
  if (!last_.empty()) line += "  " + last_;
  // One line only: a wrapped bar could not be redrawn in place.
  const size_t columns = static_cast<size_t>(TerminalColumns());
  if (line.size() >= columns) line.resize(columns - 1);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::ClearLocked() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace kelvo::enhance
