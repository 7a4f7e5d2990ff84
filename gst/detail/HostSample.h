#pragma once

// A media sample that lends the filter a frame the element already holds:
// GetPointer returns the mapped GStreamer buffer, so nothing is copied. The
// host owns the object; reference counting is honoured but never deletes it.

#include "platform/Windows.h"

namespace kelvo::gst::detail {

class HostSample final : public IMediaSample {
 public:
  // start == nullptr: the sample carries no time (the filter passes it on and
  // never grabs from it).
  void Set(BYTE* data, long size, const REFERENCE_TIME* start, const REFERENCE_TIME* stop);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(long) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(long) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(long length) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

  virtual ~HostSample() = default;

 private:
  ULONG refs_ = 1;
  BYTE* data_ = nullptr;
  long size_ = 0;
  long length_ = 0;
  bool hasStart_ = false;
  bool hasStop_ = false;
  REFERENCE_TIME start_ = 0;
  REFERENCE_TIME stop_ = 0;
  bool discontinuity_ = false;
};

}  // namespace kelvo::gst::detail
