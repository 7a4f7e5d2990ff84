#pragma once

// The element's side of the two connections it makes with the filter: an
// output pin that feeds the filter's "Input" pin with one fixed YUY2 type,
// and an input pin that takes the filter's "Output" samples and drops them
// (the filter writes nothing into them; its stills are a side effect). The
// pins speak the ordinary connection protocol, so the filter sees the same
// calls as inside any other graph.

#include "platform/Windows.h"

namespace kelvo::gst::detail {

class HostPin final : public IPin, public IMemInputPin {
 public:
  // An output pin offers `offered` (copied); an input pin accepts any video type.
  HostPin(PIN_DIRECTION dir, const AM_MEDIA_TYPE* offered);
  virtual ~HostPin();
  HostPin(const HostPin&) = delete;
  HostPin& operator=(const HostPin&) = delete;

  // Connects this output pin to the filter's input pin and hands it the
  // allocator the filter proposes, as an upstream output pin does.
  HRESULT ConnectTo(IPin* filterInput);
  // Forgets the peer (the filter side is disconnected by the caller).
  void Forget();
  long ReceivedCount() const { return received_; }

  // IUnknown (shared by both interfaces)
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPin
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // IMemInputPin (input pin only)
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                               long* nSamplesProcessed) override;
  STDMETHODIMP ReceiveCanBlock() override;

  // Deep copy of a media type into caller-owned storage, and its release.
  static HRESULT CopyType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);
  static void FreeType(AM_MEDIA_TYPE* mt);

 private:
  bool Accepts(const AM_MEDIA_TYPE* pmt) const;

  ULONG refs_ = 1;
  PIN_DIRECTION dir_;
  AM_MEDIA_TYPE type_{};  // offered (output) or connected (input)
  bool hasType_ = false;
  IPin* peer_ = nullptr;  // held with a reference while connected
  IMemAllocator* allocator_ = nullptr;
  long received_ = 0;
};

}  // namespace kelvo::gst::detail
