#include "gst/detail/HostSample.h"

namespace kelvo::gst::detail {

void HostSample::Set(BYTE* data, long size, const REFERENCE_TIME* start,
                     const REFERENCE_TIME* stop) {
  data_ = data;
  size_ = size;
  length_ = size;
  hasStart_ = start != nullptr;
  start_ = start ? *start : 0;
  hasStop_ = start != nullptr && stop != nullptr;
  stop_ = hasStop_ ? *stop : start_;
}

STDMETHODIMP HostSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IMediaSample) {
    *ppv = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) HostSample::AddRef() { return ++refs_; }
STDMETHODIMP_(ULONG) HostSample::Release() { return refs_ > 1 ? --refs_ : 1; }

STDMETHODIMP HostSample::GetPointer(BYTE** ppBuffer) {
  if (!ppBuffer) return E_POINTER;
  *ppBuffer = data_;
  return S_OK;
}

STDMETHODIMP_(long) HostSample::GetSize() { return size_; }

STDMETHODIMP HostSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!pTimeStart || !pTimeEnd) return E_POINTER;
  if (!hasStart_) return VFW_E_SAMPLE_TIME_NOT_SET;
  *pTimeStart = start_;
  if (!hasStop_) {
    *pTimeEnd = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *pTimeEnd = stop_;
  return S_OK;
}

STDMETHODIMP HostSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  Set(data_, size_, pTimeStart, pTimeEnd);
  return S_OK;
}

STDMETHODIMP HostSample::IsSyncPoint() { return S_OK; }
STDMETHODIMP HostSample::SetSyncPoint(BOOL) { return S_OK; }
STDMETHODIMP HostSample::IsPreroll() { return S_FALSE; }
STDMETHODIMP HostSample::SetPreroll(BOOL) { return S_OK; }
STDMETHODIMP_(long) HostSample::GetActualDataLength() { return length_; }

STDMETHODIMP HostSample::SetActualDataLength(long length) {
  if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
  length_ = length;
  return S_OK;
}

// The frame format never changes within a connection; a caps change
// reconnects the filter instead.
STDMETHODIMP HostSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  if (!ppMediaType) return E_POINTER;
  *ppMediaType = nullptr;
  return S_FALSE;
}

STDMETHODIMP HostSample::SetMediaType(AM_MEDIA_TYPE*) { return E_NOTIMPL; }
STDMETHODIMP HostSample::IsDiscontinuity() { return discontinuity_ ? S_OK : S_FALSE; }

STDMETHODIMP HostSample::SetDiscontinuity(BOOL bDiscontinuity) {
  discontinuity_ = bDiscontinuity != FALSE;
  return S_OK;
}

STDMETHODIMP HostSample::GetMediaTime(LONGLONG*, LONGLONG*) { return VFW_E_MEDIA_TIME_NOT_SET; }
STDMETHODIMP HostSample::SetMediaTime(LONGLONG*, LONGLONG*) { return E_NOTIMPL; }

}  // namespace kelvo::gst::detail
