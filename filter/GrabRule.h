#pragma once

// The frame grab filter's timing rule, in one place: the filter decides with
// it, and hosts that need to know when a request can no longer be served (to
// write the frame on screen instead) ask it too. Every comparison is the
// filter's own double arithmetic, so a host and the filter never disagree.

namespace kelvo::filter {

// Half the frame period in seconds, rounded to 10 us, from whole frames per
// second: 30 gives 0.01667, 25 gives 0.02. Rates below 1 have no period.
inline double HalfFrameFor(int framesPerSecond) {
  if (framesPerSecond <= 0) return 0.0;
  return ((100000 / framesPerSecond + 1) >> 1) / 100000.0;
}

// The main grab fires on the first frame starting at t with
// t + halfFrame >= grabTime (once enabled and not yet done).
inline bool MainGrabReached(double t, double grabTime, double halfFrame) {
  return t + halfFrame >= grabTime;
}

// A request for time T is served by a frame starting at t inside the open
// interval (T - 0.005, T - 0.005 + 2 * halfFrame).
inline bool RequestDue(double t, double T, double halfFrame) {
  const double l = (halfFrame - 0.005) + T;
  return l - halfFrame < t && t < l + halfFrame;
}

// True once a frame starting at t lies at or past the end of the request's
// interval: no later frame can serve it.
inline bool RequestWindowClosed(double t, double T, double halfFrame) {
  const double l = (halfFrame - 0.005) + T;
  return !(t < l + halfFrame);
}

}  // namespace kelvo::filter
