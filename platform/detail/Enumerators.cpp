#include "platform/detail/Enumerators.h"

namespace kelvo::platform::detail {

PinEnumerator::PinEnumerator(CBaseFilter* filter, int position)
    : m_filter(filter), m_position(position) {
  m_filter->AddRef();
}

PinEnumerator::~PinEnumerator() {
  m_filter->Release();
}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IEnumPins)) {
    *ppv = static_cast<IEnumPins*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef() {
  return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) PinEnumerator::Release() {
  const long left = --m_cRef;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP PinEnumerator::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  if (ppPins == nullptr) return E_POINTER;
  if (pcFetched == nullptr && cPins != 1) return E_INVALIDARG;
  ULONG fetched = 0;
  while (fetched < cPins && m_position < m_filter->GetPinCount()) {
    CBasePin* pin = m_filter->GetPin(m_position++);
    if (pin == nullptr) break;
    ppPins[fetched] = pin;
    pin->AddRef();
    ++fetched;
  }
  if (pcFetched != nullptr) *pcFetched = fetched;
  return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG cPins) {
  const int left = m_filter->GetPinCount() - m_position;
  if (static_cast<long long>(cPins) > left) return S_FALSE;
  m_position += static_cast<int>(cPins);
  return S_OK;
}

STDMETHODIMP PinEnumerator::Reset() {
  m_position = 0;
  return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = new (std::nothrow) PinEnumerator(m_filter, m_position);
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

MediaTypeEnumerator::MediaTypeEnumerator(CBasePin* pin, int position)
    : m_pin(pin), m_position(position) {
  m_pin->AddRef();
}

MediaTypeEnumerator::~MediaTypeEnumerator() {
  m_pin->Release();
}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IEnumMediaTypes)) {
    *ppv = static_cast<IEnumMediaTypes*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef() {
  return static_cast<ULONG>(++m_cRef);
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release() {
  const long left = --m_cRef;
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                       ULONG* pcFetched) {
  if (ppMediaTypes == nullptr) return E_POINTER;
  if (pcFetched == nullptr && cMediaTypes != 1) return E_INVALIDARG;
  ULONG fetched = 0;
  while (fetched < cMediaTypes) {
    CMediaType mt;
    if (m_pin->GetMediaType(m_position, &mt) != S_OK) break;
    ++m_position;
    AM_MEDIA_TYPE* copy = CreateMediaType(&mt);
    if (copy == nullptr) break;
    ppMediaTypes[fetched++] = copy;
  }
  if (pcFetched != nullptr) *pcFetched = fetched;
  return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG cMediaTypes) {
  for (ULONG i = 0; i < cMediaTypes; ++i) {
    CMediaType mt;
    if (m_pin->GetMediaType(m_position, &mt) != S_OK) return S_FALSE;
    ++m_position;
  }
  return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Reset() {
  m_position = 0;
  return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = new (std::nothrow) MediaTypeEnumerator(m_pin, m_position);
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kelvo::platform::detail
