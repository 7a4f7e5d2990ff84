#pragma once

// A media sample that lends the filter a frame the host already holds:
// GetPointer returns the caller's memory (a mapped GStreamer buffer), so
// nothing is copied. It belongs to the host, not to an allocator, and is
// reused for every frame.

#include "platform/CMediaSample.h"

namespace kelvo::gst::detail {

class HostSample final : public CMediaSample {
 public:
  HostSample();

  // Points the sample at one frame. start == nullptr: the sample carries no
  // time (the filter passes it on and never grabs from it); stop ==
  // nullptr: a start time only.
  void Set(BYTE* data, long size, const REFERENCE_TIME* start, const REFERENCE_TIME* stop);
};

}  // namespace kelvo::gst::detail
