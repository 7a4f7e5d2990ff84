#pragma once

// Enumerators over a filter's pins and a pin's proposed media types. Each
// holds a reference on the object it walks.

#include <atomic>

#include "platform/CBasePin.h"

namespace kelvo::platform::detail {

class PinEnumerator final : public IEnumPins {
 public:
  PinEnumerator(CBaseFilter* filter, int position);
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cPins) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** ppEnum) override;

 private:
  ~PinEnumerator();
  std::atomic<long> m_cRef{1};
  CBaseFilter* m_filter;
  int m_position;
};

class MediaTypeEnumerator final : public IEnumMediaTypes {
 public:
  MediaTypeEnumerator(CBasePin* pin, int position);
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cMediaTypes) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

 private:
  ~MediaTypeEnumerator();
  std::atomic<long> m_cRef{1};
  CBasePin* m_pin;
  int m_position;
};

}  // namespace kelvo::platform::detail
