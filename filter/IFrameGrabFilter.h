#pragma once

// The frame grab filter's control interface and the records it exchanges.
// Hosts obtain it with QueryInterface(IID_IFrameGrabFilter) on the filter.

#include "filter/FrameGrabFilterIds.h"
#include "platform/Windows.h"

// Main grab settings. grabTime is in seconds of stream time.
struct GrabParams {
  double grabTime;
  bool grabEnabled;
  bool enhance;
};

// A queued snapshot: written from the frame whose start time lies in the
// open interval (time - 0.005, time - 0.005 + frame period).
struct SnapshotRequest {
  WCHAR fileName[260];  // zero-terminated
  double time;          // seconds of stream time
  bool enhance;
};

struct IFrameGrabFilter : public IUnknown {
  // Copies the current settings out. E_POINTER for a null pointer.
  STDMETHOD(GetGrabParams)(GrabParams* params) PURE;
  // Replaces the settings; marks the persisted state dirty.
  STDMETHOD(SetGrabParams)(GrabParams params) PURE;
  // Queues a copy of the request. E_POINTER for null, E_INVALIDARG when the
  // name is not terminated within its 260 characters.
  STDMETHOD(AddSnapshot)(SnapshotRequest* request) PURE;
  // Sets half the frame period from a rate in frames per second.
  // E_INVALIDARG for rates of 0 or below.
  STDMETHOD(SetFrameRate)(int framesPerSecond) PURE;
};
