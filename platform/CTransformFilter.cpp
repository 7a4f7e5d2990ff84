#include "platform/CTransformFilter.h"

#include <new>

// ---- CTransformInputPin --------------------------------------------------------

CTransformInputPin::CTransformInputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr,
                                       LPCWSTR name)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, phr, name),
      m_pTransformFilter(filter) {}

HRESULT CTransformInputPin::CheckConnect(IPin* pPin) {
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* pmt) {
  HRESULT hr = m_pTransformFilter->CheckInputType(pmt);
  if (hr != S_OK) return hr;
  // With the output already connected, the pair must still be a valid transform.
  if (m_pTransformFilter->m_pOutput != nullptr && m_pTransformFilter->m_pOutput->IsConnected())
    hr =
        m_pTransformFilter->CheckTransform(pmt, &m_pTransformFilter->m_pOutput->CurrentMediaType());
  return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, pmt);
}

HRESULT CTransformInputPin::CheckStreaming() {
  if (m_pTransformFilter->m_pOutput == nullptr || !m_pTransformFilter->m_pOutput->IsConnected())
    return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* pSample) {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  const HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  return m_pTransformFilter->Receive(pSample);
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  return m_pTransformFilter->EndOfStream();
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || m_pTransformFilter->m_pOutput == nullptr ||
      !m_pTransformFilter->m_pOutput->IsConnected())
    return VFW_E_NOT_CONNECTED;
  const HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || m_pTransformFilter->m_pOutput == nullptr ||
      !m_pTransformFilter->m_pOutput->IsConnected())
    return VFW_E_NOT_CONNECTED;
  const HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                            double dRate) {
  CBasePin::NewSegment(tStart, tStop, dRate);
  return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

// ---- CTransformOutputPin -------------------------------------------------------

CTransformOutputPin::CTransformOutputPin(LPCTSTR objectName, CTransformFilter* filter, HRESULT* phr,
                                         LPCWSTR name)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, name),
      m_pTransformFilter(filter) {}

// The output can only be connected once the input type is known.
HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
  if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
    return E_UNEXPECTED;
  const HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
  const HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* pmt) {
  if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
    return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), pmt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
  const HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* pMediaType) {
  if (m_pTransformFilter->m_pInput == nullptr || !m_pTransformFilter->m_pInput->IsConnected())
    return VFW_S_NO_MORE_ITEMS;
  return m_pTransformFilter->GetMediaType(position, pMediaType);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
  return m_pTransformFilter->DecideBufferSize(pAlloc, pProps);
}

// ---- CTransformFilter ----------------------------------------------------------

CTransformFilter::CTransformFilter(LPCTSTR name, LPUNKNOWN outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

// Pins are made on first request, as they call back into the derived filter.
CBasePin* CTransformFilter::GetPin(int n) {
  CAutoLock lock(&m_csFilter);
  if (m_pInput == nullptr) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow)
        CTransformInputPin(KELVO_W("Transform input pin"), this, &hr, KELVO_W("Input"));
    if (m_pInput == nullptr) return nullptr;
    m_pOutput = new (std::nothrow)
        CTransformOutputPin(KELVO_W("Transform output pin"), this, &hr, KELVO_W("Output"));
    if (m_pOutput == nullptr) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) return m_pInput;
  if (n == 1) return m_pOutput;
  return nullptr;
}

STDMETHODIMP CTransformFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if (m_pInput == nullptr || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
    return S_OK;
  }
  // Decommitting the input allocator releases a streaming thread waiting for
  // a buffer; then wait for Receive to finish before stopping the output.
  m_pInput->Inactive();
  CAutoLock receiving(&m_csReceive);
  m_pOutput->Inactive();
  const HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
  }
  return hr;
}

STDMETHODIMP CTransformFilter::Pause() {
  CAutoLock lock(&m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) return S_OK;
  if (m_pInput == nullptr || !m_pInput->IsConnected()) {
    // Nothing will arrive: tell downstream at once.
    if (m_pOutput != nullptr && m_pOutput->IsConnected() && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = true;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock receiving(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = false;
  return hr;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample,
                                                 IMediaSample** ppOutSample) {
  *ppOutSample = nullptr;
  IMediaSample* out = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  REFERENCE_TIME start = 0, stop = 0;
  hr = pSample->GetTime(&start, &stop);
  if (hr == S_OK) {
    out->SetTime(&start, &stop);
  } else if (hr == VFW_S_NO_STOP_TIME) {
    out->SetTime(&start, nullptr);
  }
  out->SetSyncPoint(pSample->IsSyncPoint() == S_OK);
  out->SetDiscontinuity(pSample->IsDiscontinuity() == S_OK || m_bSampleSkipped);
  out->SetPreroll(pSample->IsPreroll() == S_OK);
  LONGLONG mediaStart = 0, mediaStop = 0;
  if (pSample->GetMediaTime(&mediaStart, &mediaStop) == S_OK)
    out->SetMediaTime(&mediaStart, &mediaStop);
  *ppOutSample = out;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
  IMediaSample* out = nullptr;
  HRESULT hr = InitializeOutputSample(pSample, &out);
  if (FAILED(hr)) return hr;
  hr = Transform(pSample, out);
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(out);
    m_bSampleSkipped = false;
  } else if (hr == S_FALSE) {
    // The transform chose to drop this sample: not an error upstream.
    m_bSampleSkipped = true;
    hr = S_OK;
  }
  out->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream() {
  return m_pOutput->DeliverEndOfStream();
}
HRESULT CTransformFilter::BeginFlush() {
  return m_pOutput->DeliverBeginFlush();
}
HRESULT CTransformFilter::EndFlush() {
  return m_pOutput->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (m_pOutput == nullptr || !m_pOutput->IsConnected()) return S_OK;
  return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
}
