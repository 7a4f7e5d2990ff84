#include "gst/StillSchedule.h"

#include <algorithm>

namespace kelvo::gst {

double StillSchedule::HalfFrameFor(int framesPerSecond) {
  if (framesPerSecond <= 0) return 0.0;  // the filter refuses such rates and keeps its value
  return static_cast<double>((100000 / framesPerSecond + 1) >> 1) / 100000.0;
}

void StillSchedule::SetFrameRate(int framesPerSecond) {
  if (framesPerSecond > 0) halfFrame_ = HalfFrameFor(framesPerSecond);
}

void StillSchedule::SetMain(bool armed, double grabTime, bool enhance, std::string fileName) {
  mainArmed_ = armed;
  grabTime_ = grabTime;
  mainEnhance_ = enhance;
  mainFile_ = std::move(fileName);
}

void StillSchedule::AddRequest(StillTarget request) {
  request.main = false;
  requests_.push_back(std::move(request));
}

bool StillSchedule::RequestDue(const StillTarget& r, double t) const {
  // Written exactly as the filter evaluates it: the open interval around
  // L = (halfFrame - 0.005) + T.
  const double l = (halfFrame_ - 0.005) + r.time;
  return l - halfFrame_ < t && t < l + halfFrame_;
}

std::vector<StillTarget> StillSchedule::DueAt(int64_t start) const {
  const double t = static_cast<double>(start) / 10000000.0;
  std::vector<StillTarget> due;
  if (mainArmed_ && !grabDone_ && t + halfFrame_ >= grabTime_)
    due.push_back({mainFile_, grabTime_, mainEnhance_, true});
  for (const StillTarget& r : requests_)
    if (RequestDue(r, t)) due.push_back(r);
  return due;
}

void StillSchedule::MarkWritten(int64_t start) {
  const double t = static_cast<double>(start) / 10000000.0;
  bool any = mainArmed_ && !grabDone_ && t + halfFrame_ >= grabTime_;
  const auto served = std::remove_if(requests_.begin(), requests_.end(),
                                     [&](const StillTarget& r) { return RequestDue(r, t); });
  any = any || served != requests_.end();
  requests_.erase(served, requests_.end());
  if (any) grabDone_ = true;
}

}  // namespace kelvo::gst
