#include "gst/detail/HostSample.h"

namespace kelvo::gst::detail {

HostSample::HostSample() : CMediaSample(nullptr, nullptr, 0) {
  // Every raw video frame stands on its own.
  SetSyncPoint(TRUE);
}

void HostSample::Set(BYTE* data, long size, const REFERENCE_TIME* start,
                     const REFERENCE_TIME* stop) {
  SetPointer(data, size);
  REFERENCE_TIME from = start ? *start : 0;
  REFERENCE_TIME to = stop ? *stop : from;
  SetTime(start ? &from : nullptr, start && stop ? &to : nullptr);
}

}  // namespace kelvo::gst::detail
