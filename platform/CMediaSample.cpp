#include "platform/CMediaSample.h"

#include "platform/CMediaType.h"
#include "platform/CMemAllocator.h"

CMediaSample::CMediaSample(CMemAllocator* allocator, BYTE* buffer, long length)
    : m_allocator(allocator), m_buffer(buffer), m_length(length), m_actual(length) {}

CMediaSample::~CMediaSample() {
  DeleteMediaType(m_type);
}

STDMETHODIMP CMediaSample::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMediaSample)) {
    *ppv = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CMediaSample::AddRef() {
  return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) CMediaSample::Release() {
  const long left = --m_cRef;
  // An allocator's sample goes back to its free list; one without an
  // allocator stays with its creator.
  if (left == 0 && m_allocator != nullptr) m_allocator->ReleaseBuffer(this);
  return static_cast<ULONG>(left);
}

STDMETHODIMP CMediaSample::GetPointer(BYTE** ppBuffer) {
  if (ppBuffer == nullptr) return E_POINTER;
  *ppBuffer = m_buffer;
  return S_OK;
}

STDMETHODIMP_(long) CMediaSample::GetSize() {
  return m_length;
}

STDMETHODIMP CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  if (!m_hasStart) return VFW_E_SAMPLE_TIME_NOT_SET;
  if (pTimeStart == nullptr) return E_POINTER;
  *pTimeStart = m_start;
  if (pTimeEnd != nullptr) *pTimeEnd = m_hasStop ? m_stop : m_start + 1;
  return m_hasStop ? S_OK : VFW_S_NO_STOP_TIME;
}

STDMETHODIMP CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
  m_hasStart = pTimeStart != nullptr;
  m_hasStop = pTimeStart != nullptr && pTimeEnd != nullptr;
  if (m_hasStart) m_start = *pTimeStart;
  if (m_hasStop) m_stop = *pTimeEnd;
  return S_OK;
}

STDMETHODIMP CMediaSample::IsSyncPoint() {
  return m_syncPoint ? S_OK : S_FALSE;
}
STDMETHODIMP CMediaSample::SetSyncPoint(BOOL value) {
  m_syncPoint = value != FALSE;
  return S_OK;
}
STDMETHODIMP CMediaSample::IsPreroll() {
  return m_preroll ? S_OK : S_FALSE;
}
STDMETHODIMP CMediaSample::SetPreroll(BOOL value) {
  m_preroll = value != FALSE;
  return S_OK;
}
STDMETHODIMP_(long) CMediaSample::GetActualDataLength() {
  return m_actual;
}
STDMETHODIMP CMediaSample::SetActualDataLength(long length) {
  if (length < 0 || length > m_length) return VFW_E_BUFFER_OVERFLOW;
  m_actual = length;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
  if (ppMediaType == nullptr) return E_POINTER;
  if (m_type == nullptr) {
    *ppMediaType = nullptr;
    return S_FALSE;
  }
  *ppMediaType = CreateMediaType(m_type);
  return *ppMediaType != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
  DeleteMediaType(m_type);
  m_type = nullptr;
  if (pMediaType == nullptr) return S_OK;
  m_type = CreateMediaType(pMediaType);
  return m_type != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CMediaSample::IsDiscontinuity() {
  return m_discontinuity ? S_OK : S_FALSE;
}
STDMETHODIMP CMediaSample::SetDiscontinuity(BOOL value) {
  m_discontinuity = value != FALSE;
  return S_OK;
}

STDMETHODIMP CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (!m_hasMediaTime) return VFW_E_MEDIA_TIME_NOT_SET;
  if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
  *pTimeStart = m_mediaStart;
  *pTimeEnd = m_mediaStop;
  return S_OK;
}

STDMETHODIMP CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
  if (pTimeStart == nullptr) {
    m_hasMediaTime = false;
    return S_OK;
  }
  if (pTimeEnd == nullptr) return E_POINTER;
  m_hasMediaTime = true;
  m_mediaStart = *pTimeStart;
  m_mediaStop = *pTimeEnd;
  return S_OK;
}

HRESULT CMediaSample::SetPointer(BYTE* buffer, long length) {
  if (length < 0) return E_INVALIDARG;
  m_buffer = buffer;
  m_length = length;
  m_actual = length;
  return S_OK;
}

void CMediaSample::ResetProperties() {
  m_hasStart = m_hasStop = m_hasMediaTime = false;
  m_syncPoint = m_preroll = m_discontinuity = false;
  m_actual = m_length;
  DeleteMediaType(m_type);
  m_type = nullptr;
}
