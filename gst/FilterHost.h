#pragma once

// Hosts one frame grab filter inside the GStreamer element, through the
// filter's COM interfaces only: it is created through the module's class
// factory, connected between the two pins of a host filter with a YUY2 type,
// put into the running state and fed one media sample per buffer.
//
// The filter module is linked in statically (kelvo_filter_static) and its
// DllGetClassObject is called directly, so the plugin is one self-contained
// file and needs no registration step; the filter still only ever sees the
// calls a graph would make.
//
// The host registers a still sink on the filter: the filter decides which
// frames are due and hands over each still it takes, and the host collects
// copies of them for the element to write (TakeStills) once no lock is held.

#include <memory>
#include <string>

#include <vector>

#include "filter/IFrameGrabFilter.h"
#include "gst/detail/HostSample.h"
#include "gst/detail/StillCollector.h"
#include "platform/Windows.h"

namespace kelvo::gst {

namespace detail {
class HostFilter;
}  // namespace detail

class FilterHost {
 public:
  // Nullptr and a message when the filter cannot be created.
  static std::unique_ptr<FilterHost> Create(std::string* error);
  ~FilterHost();
  FilterHost(const FilterHost&) = delete;
  FilterHost& operator=(const FilterHost&) = delete;

  // Connects the filter for packed YUY2 frames of the given size and rate
  // (fpsN/fpsD, 0/1 when unknown) and starts it. On refusal returns false
  // with the reason; the filter is left disconnected.
  bool Connect(int width, int height, int fpsN, int fpsD, std::string* error);
  // Stops the filter and breaks both connections. Safe to call again.
  void Disconnect();
  bool Connected() const { return connected_; }
  // The frame size connected for.
  int Width() const { return width_; }
  int Height() const { return height_; }

  HRESULT SetGrabParams(double grabTime, bool grabEnabled, bool enhance);
  HRESULT SetFileName(const std::string& utf8);
  HRESULT AddSnapshot(const std::string& utf8, double time, bool enhance);
  HRESULT SetFrameRate(int framesPerSecond);

  // Hands one frame to the filter's input pin. start == nullptr: no time.
  HRESULT Deliver(BYTE* data, long size, const REFERENCE_TIME* start, const REFERENCE_TIME* stop);
  // The stills the filter took since the last call, in the order it took
  // them (the main grab first, then the due requests in queue order).
  std::vector<detail::TakenStill> TakeStills();

  // Row step the filter reads YUY2 frames with: 2 bytes a pixel, rows
  // padded to 4 bytes as in a bitmap (so only odd widths are padded, which
  // GStreamer pads the same way).
  static int FrameStride(int width) { return (width * 2 + 3) & ~3; }
  // Frame size the filter expects for width x height YUY2.
  static long FrameBytes(int width, int height) {
    return static_cast<long>(FrameStride(width)) * height;
  }

 private:
  FilterHost() = default;

  IBaseFilter* filter_ = nullptr;
  IFrameGrabFilter* control_ = nullptr;
  IFileSinkFilter* sink_ = nullptr;
  IPin* input_ = nullptr;
  IPin* output_ = nullptr;
  IMemInputPin* inputMem_ = nullptr;
  IFrameGrabStillOutput* stillOutput_ = nullptr;
  detail::StillCollector* collector_ = nullptr;  // counted reference
  detail::HostFilter* pins_ = nullptr;  // counted reference
  detail::HostSample sample_;
  bool connected_ = false;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace kelvo::gst
