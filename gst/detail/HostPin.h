#pragma once

// The element's side of the two connections it makes with the frame grab
// filter, built on the framework's pins: a source pin that feeds the
// filter's input with one fixed video type, and a drain pin that takes the
// filter's output samples and drops them (the filter writes nothing into
// them; its stills are a side effect). Both belong to a HostFilter, which a
// graph would see as the filter upstream and downstream of the frame grab
// filter, so the frame grab filter gets the same calls as inside any graph.
//
// The filter runs alongside the frame grab filter (Pause/Run/Stop): the drain
// pin, like any input pin, takes samples only while its filter runs.

#include "platform/CBasePin.h"
#include "platform/CCritSec.h"
#include "platform/CMediaType.h"

namespace kelvo::gst::detail {

class HostFilter;

class HostSourcePin final : public CBaseOutputPin {
 public:
  HostSourcePin(HostFilter* filter, CCritSec* lock);

  // The one type this pin proposes and accepts; set while disconnected.
  HRESULT SetOffer(const AM_MEDIA_TYPE& type);

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pMediaType) override;
  // The peer's allocator is agreed on as usual, but marked read-only and
  // never committed: the host delivers samples that lend its own frames.
  HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;
  HRESULT Active() override { return S_OK; }
  HRESULT Inactive() override { return S_OK; }

 private:
  CMediaType offer_;
};

class HostDrainPin final : public CBaseInputPin {
 public:
  HostDrainPin(HostFilter* filter, CCritSec* lock);

  // Any video type.
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

  long ReceivedCount() const { return received_; }

 private:
  long received_ = 0;
};

class HostFilter final : public CBaseFilter {
 public:
  // A new host filter with one reference, or nullptr when out of memory.
  static HostFilter* Create();

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int n) override;

  HostSourcePin& Source() { return source_; }
  HostDrainPin& Drain() { return drain_; }

 private:
  HostFilter();

  CCritSec lock_;
  HostSourcePin source_;
  HostDrainPin drain_;
};

// Media type of packed YUY2 frames of width x height, rows padded to 4 bytes
// as in a bitmap; avgTimePerFrame 0 when the rate is unknown.
HRESULT MakeYuy2Type(int width, int height, REFERENCE_TIME avgTimePerFrame, CMediaType* type);

}  // namespace kelvo::gst::detail
