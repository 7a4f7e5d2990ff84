#pragma once

// An optional host extension of the frame grab filter: a still sink.
//
// By default the filter enhances and writes every still itself, inline on
// the streaming thread. A host that wants to write the stills its own way
// (another format, a worker thread, its own reporting) registers a sink on
// the filter through IFrameGrabStillOutput. The filter still decides, with
// its own timing rule, which frames are due; for each still it takes it then
// converts the frame and hands it to the sink instead of enhancing and
// writing it. The sink is called on the streaming thread, inside Transform,
// once per still in the order the filter serves them (the main grab first,
// then the due requests in queue order); the frame is only valid during the
// call, so a sink that writes later must copy it.
//
// Obtain the interface with QueryInterface(IID_IFrameGrabStillOutput) on
// the filter. The filter holds a reference to the sink until another sink or
// null is set, or the filter is destroyed.

#include <cstdint>

#include "filter/FrameGrabFilterIds.h"
#include "platform/Windows.h"

// One still the filter has taken.
struct FrameGrabStill {
  // The frame: width x height blue-green-red triples, rows of exactly
  // 3 * width bytes, top row first. Never enhanced: the sink decides.
  const uint8_t* pixels;
  int width;
  int height;
  LPCWSTR fileName;      // where the host asked for it (zero-terminated)
  double requestedTime;  // grab time or request time, seconds of stream time
  double frameTime;      // start time of the frame, seconds of stream time
  BOOL enhance;          // enhancement asked for (and the processor has SSE2)
  BOOL mainGrab;         // TRUE: the main grab; FALSE: a queued request
};

struct IFrameGrabStillSink : public IUnknown {
  // Takes one still. S_OK when the sink has written it or taken it to write;
  // a failure code when it could not, which the filter counts as a failed
  // still. Either way the main grab or the request is consumed.
  STDMETHOD(TakeStill)(const FrameGrabStill* still) PURE;
};

struct IFrameGrabStillOutput : public IUnknown {
  // Registers the sink (null: the filter writes its stills itself again).
  STDMETHOD(SetStillSink)(IFrameGrabStillSink* sink) PURE;
  // Stills taken since the filter was created that were not written: a sink
  // refused them or the filter's own writer failed.
  STDMETHOD(GetFailedStills)(LONG* count) PURE;
};

// The event the filter sends to its graph when it could not write a still
// itself (a folder gone, a full disk): param1 is the still's result code,
// param2 is 1 for the main grab and 0 for a request. The stream goes on.
#define EC_FRAMEGRAB_STILL_FAILED (EC_USER + 0x4b01)
