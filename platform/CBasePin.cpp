#include "platform/CBasePin.h"

#include <cstring>
#include <new>

#include "platform/CMemAllocator.h"
#include "platform/detail/Enumerators.h"
#include "platform/detail/WideString.h"

using kelvo::platform::detail::WideCopy;
using kelvo::platform::detail::WideTaskMemCopy;

// ---- CBasePin ------------------------------------------------------------------

CBasePin::CBasePin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*,
                   LPCWSTR pinName, PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_dir(dir), m_pLock(lock), m_pFilter(filter) {
  WideCopy(m_name, 128, pinName);
}

CBasePin::~CBasePin() {
  if (m_Connected != nullptr) m_Connected->Release();
}

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IPin)) return GetInterface(static_cast<IPin*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// A pin lives exactly as long as its filter.
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() {
  return m_pFilter->AddRef();
}
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() {
  return m_pFilter->Release();
}

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (pReceivePin == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  CMediaType partial;
  if (pmt != nullptr && FAILED(partial.Set(*pmt))) return E_OUTOFMEMORY;
  return AgreeMediaType(pReceivePin, &partial);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* partial) {
  if (!partial->IsPartiallySpecified()) return AttemptConnection(pReceivePin, partial);
  // The receiving pin's proposals first, then ours.
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int round = 0; round < 2; ++round) {
    IEnumMediaTypes* types = nullptr;
    const HRESULT hr = round == 0 ? pReceivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
    if (SUCCEEDED(hr) && types != nullptr) {
      const HRESULT tried = TryMediaTypes(pReceivePin, partial, types);
      types->Release();
      if (SUCCEEDED(tried)) return S_OK;
      if (tried != VFW_E_NO_ACCEPTABLE_TYPES) last = tried;
    }
  }
  return last;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* partial,
                                IEnumMediaTypes* pEnum) {
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  for (;;) {
    AM_MEDIA_TYPE* next = nullptr;
    ULONG fetched = 0;
    if (pEnum->Next(1, &next, &fetched) != S_OK || fetched != 1) return last;
    CMediaType candidate;
    const HRESULT copied = candidate.Set(*next);
    DeleteMediaType(next);
    if (FAILED(copied)) return copied;
    if (!candidate.MatchesPartial(partial)) continue;
    const HRESULT hr = AttemptConnection(pReceivePin, &candidate);
    if (SUCCEEDED(hr)) return hr;
    last = hr == VFW_E_TYPE_NOT_ACCEPTED || hr == E_FAIL || hr == E_INVALIDARG ? last : hr;
  }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  HRESULT hr = CheckConnect(pReceivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = pReceivePin;
    m_Connected->AddRef();
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr)) return hr;
        pReceivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr)) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  if (m_Connected != nullptr) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (pConnector == nullptr || pmt == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(pConnector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType mt;
  if (FAILED(mt.Set(*pmt))) {
    BreakConnect();
    return E_OUTOFMEMORY;
  }
  hr = CheckMediaType(&mt);
  if (hr != S_OK) {
    BreakConnect();
    return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
  }
  m_Connected = pConnector;
  m_Connected->AddRef();
  hr = SetMediaType(&mt);
  if (SUCCEEDED(hr)) hr = CompleteConnect(pConnector);
  if (FAILED(hr)) {
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
  }
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  if (m_Connected == nullptr) return S_FALSE;
  const HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected->Release();
  m_Connected = nullptr;
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
  if (pPin == nullptr) return E_POINTER;
  *pPin = m_Connected;
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected == nullptr) {
    std::memset(pmt, 0, sizeof(*pmt));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  if (pInfo == nullptr) return E_POINTER;
  pInfo->pFilter = m_pFilter;
  m_pFilter->AddRef();
  pInfo->dir = m_dir;
  WideCopy(pInfo->achName, 128, m_name);
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (pPinDir == nullptr) return E_POINTER;
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) {
  if (Id == nullptr) return E_POINTER;
  *Id = WideTaskMemCopy(m_name);
  return *Id != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (pmt == nullptr) return E_POINTER;
  CMediaType mt;
  if (FAILED(mt.Set(*pmt))) return E_OUTOFMEMORY;
  return CheckMediaType(&mt) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = new (std::nothrow) kelvo::platform::detail::MediaTypeEnumerator(this, 0);
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) {
  return E_NOTIMPL;
}
STDMETHODIMP CBasePin::EndOfStream() {
  return S_OK;
}
STDMETHODIMP CBasePin::BeginFlush() {
  return S_OK;
}
STDMETHODIMP CBasePin::EndFlush() {
  return S_OK;
}

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
  return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  PIN_DIRECTION other;
  const HRESULT hr = pPin->QueryDirection(&other);
  if (FAILED(hr)) return hr;
  return other == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() {
  return S_OK;
}
HRESULT CBasePin::CompleteConnect(IPin*) {
  return S_OK;
}
HRESULT CBasePin::GetMediaType(int, CMediaType*) {
  return VFW_S_NO_MORE_ITEMS;
}
HRESULT CBasePin::Active() {
  return S_OK;
}
HRESULT CBasePin::Inactive() {
  return S_OK;
}

// ---- CBaseOutputPin ------------------------------------------------------------

CBaseOutputPin::CBaseOutputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock,
                               HRESULT* phr, LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
  CBaseOutputPin::BreakConnect();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = CBasePin::CheckConnect(pPin);
  if (FAILED(hr)) return hr;
  IMemInputPin* input = nullptr;
  hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  if (FAILED(hr)) return E_NOINTERFACE;
  if (m_pInputPin != nullptr) m_pInputPin->Release();
  m_pInputPin = input;
  return S_OK;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin != nullptr) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (m_pInputPin == nullptr) return E_UNEXPECTED;
  return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  *ppAlloc = nullptr;
  ALLOCATOR_PROPERTIES props{};
  pPin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;

  // The downstream pin's allocator first, then one of our own.
  HRESULT hr = pPin->GetAllocator(ppAlloc);
  if (SUCCEEDED(hr) && *ppAlloc != nullptr) {
    hr = DecideBufferSize(*ppAlloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  hr = InitAllocator(ppAlloc);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*ppAlloc, &props);
    if (SUCCEEDED(hr)) {
      hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
  HRESULT hr = S_OK;
  auto* allocator = new (std::nothrow) CMemAllocator(KELVO_W("Output allocator"), nullptr, &hr);
  if (allocator == nullptr) return E_OUTOFMEMORY;
  return allocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
  if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
  if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

// ---- CBaseInputPin -------------------------------------------------------------

CBaseInputPin::CBaseInputPin(LPCTSTR objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator != nullptr) m_pAllocator->Release();
}

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IMemInputPin))
    return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (ppAllocator == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_pAllocator == nullptr) {
    HRESULT hr = S_OK;
    auto* allocator = new (std::nothrow) CMemAllocator(KELVO_W("Input allocator"), nullptr, &hr);
    if (allocator == nullptr) return E_OUTOFMEMORY;
    allocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                           reinterpret_cast<void**>(&m_pAllocator));
  }
  *ppAllocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (pAllocator == nullptr) return E_POINTER;
  CAutoLock lock(m_pLock);
  pAllocator->AddRef();
  if (m_pAllocator != nullptr) m_pAllocator->Release();
  m_pAllocator = pAllocator;
  m_bReadOnly = bReadOnly != FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
  if (pSample == nullptr) return E_POINTER;
  const HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  // A type attached to the sample must still be acceptable.
  AM_MEDIA_TYPE* attached = nullptr;
  if (pSample->GetMediaType(&attached) == S_OK && attached != nullptr) {
    CMediaType mt;
    const HRESULT copied = mt.Set(*attached);
    DeleteMediaType(attached);
    if (FAILED(copied)) return copied;
    if (CheckMediaType(&mt) != S_OK) return VFW_E_INVALIDMEDIATYPE;
  }
  return S_OK;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                            long* nSamplesProcessed) {
  if (pSamples == nullptr || nSamplesProcessed == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  *nSamplesProcessed = 0;
  while (nSamples-- > 0) {
    hr = Receive(pSamples[*nSamplesProcessed]);
    if (hr != S_OK) break;
    ++*nSamplesProcessed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndOfStream() {
  return CheckStreaming();
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  m_bFlushing = true;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  m_bFlushing = false;
  return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator != nullptr) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bFlushing = false;
  if (m_pAllocator != nullptr) return m_pAllocator->Decommit();
  return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  return S_OK;
}
