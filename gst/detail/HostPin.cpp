#include "gst/detail/HostPin.h"

#include <cstring>

namespace kelvo::gst::detail {
namespace {

// Enumerates zero or one media type (the output pin's offer).
class TypeEnum final : public IEnumMediaTypes {
 public:
  explicit TypeEnum(const AM_MEDIA_TYPE* type) : type_(type) {}
  virtual ~TypeEnum() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumMediaTypes) {
      *ppv = static_cast<IEnumMediaTypes*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types) return E_POINTER;
    ULONG n = 0;
    while (n < count && type_ && pos_ == 0) {
      auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
      if (!mt || FAILED(HostPin::CopyType(mt, type_))) {
        CoTaskMemFree(mt);
        break;
      }
      types[n++] = mt;
      ++pos_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    pos_ += count;
    return pos_ <= (type_ ? 1u : 0u) ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    pos_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    auto* copy = new (std::nothrow) TypeEnum(type_);
    if (!copy) return E_OUTOFMEMORY;
    copy->pos_ = pos_;
    *out = copy;
    return S_OK;
  }

 private:
  ULONG refs_ = 1;
  const AM_MEDIA_TYPE* type_;
  ULONG pos_ = 0;
};

}  // namespace

HRESULT HostPin::CopyType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
  *dst = *src;
  dst->pUnk = nullptr;
  dst->pbFormat = nullptr;
  if (src->cbFormat > 0 && src->pbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
    if (!dst->pbFormat) {
      dst->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
  } else {
    dst->cbFormat = 0;
  }
  return S_OK;
}

void HostPin::FreeType(AM_MEDIA_TYPE* mt) {
  CoTaskMemFree(mt->pbFormat);
  mt->pbFormat = nullptr;
  mt->cbFormat = 0;
}

HostPin::HostPin(PIN_DIRECTION dir, const AM_MEDIA_TYPE* offered) : dir_(dir) {
  if (offered && SUCCEEDED(CopyType(&type_, offered))) hasType_ = true;
}

HostPin::~HostPin() {
  Forget();
  if (hasType_) FreeType(&type_);
}

void HostPin::Forget() {
  if (allocator_) allocator_->Release();
  allocator_ = nullptr;
  if (peer_) peer_->Release();
  peer_ = nullptr;
}

bool HostPin::Accepts(const AM_MEDIA_TYPE* pmt) const {
  if (!pmt) return false;
  if (dir_ == PINDIR_OUTPUT) return hasType_ && pmt->subtype == type_.subtype;
  return pmt->majortype == MEDIATYPE_Video;
}

HRESULT HostPin::ConnectTo(IPin* filterInput) {
  if (dir_ != PINDIR_OUTPUT || !hasType_) return E_UNEXPECTED;
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  HRESULT hr = filterInput->ReceiveConnection(this, &type_);
  if (FAILED(hr)) return hr;
  peer_ = filterInput;
  peer_->AddRef();

  // Allocator agreement, as an upstream output pin does it. The element
  // delivers its own samples (the GStreamer buffers themselves), but the
  // filter's input still expects to have been told about an allocator.
  IMemInputPin* mem = nullptr;
  hr = filterInput->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&mem));
  if (FAILED(hr)) {
    filterInput->Disconnect();
    Forget();
    return hr;
  }
  IMemAllocator* alloc = nullptr;
  if (SUCCEEDED(mem->GetAllocator(&alloc)) && alloc) {
    ALLOCATOR_PROPERTIES want{1, static_cast<long>(type_.lSampleSize), 1, 0};
    ALLOCATOR_PROPERTIES got{};
    alloc->SetProperties(&want, &got);
    hr = mem->NotifyAllocator(alloc, TRUE);
    allocator_ = alloc;
  }
  mem->Release();
  if (FAILED(hr)) {
    filterInput->Disconnect();
    Forget();
  }
  return hr;
}

STDMETHODIMP HostPin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IPin)
    *ppv = static_cast<IPin*>(this);
  else if (riid == IID_IMemInputPin && dir_ == PINDIR_INPUT)
    *ppv = static_cast<IMemInputPin*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

// The host owns its pins; references only count.
STDMETHODIMP_(ULONG) HostPin::AddRef() { return ++refs_; }
STDMETHODIMP_(ULONG) HostPin::Release() { return refs_ > 1 ? --refs_ : 1; }

STDMETHODIMP HostPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE*) {
  if (!pReceivePin) return E_POINTER;
  return dir_ == PINDIR_OUTPUT ? ConnectTo(pReceivePin) : VFW_E_INVALID_DIRECTION;
}

STDMETHODIMP HostPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (!pConnector || !pmt) return E_POINTER;
  if (dir_ != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
  if (peer_) return VFW_E_ALREADY_CONNECTED;
  if (!Accepts(pmt)) return VFW_E_TYPE_NOT_ACCEPTED;
  if (hasType_) FreeType(&type_);
  hasType_ = false;
  if (FAILED(CopyType(&type_, pmt))) return E_OUTOFMEMORY;
  hasType_ = true;
  peer_ = pConnector;
  peer_->AddRef();
  return S_OK;
}

STDMETHODIMP HostPin::Disconnect() {
  if (!peer_) return S_FALSE;
  Forget();
  return S_OK;
}

STDMETHODIMP HostPin::ConnectedTo(IPin** pPin) {
  if (!pPin) return E_POINTER;
  *pPin = peer_;
  if (!peer_) return VFW_E_NOT_CONNECTED;
  peer_->AddRef();
  return S_OK;
}

STDMETHODIMP HostPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  if (!peer_ || !hasType_) {
    std::memset(pmt, 0, sizeof(*pmt));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyType(pmt, &type_);
}

STDMETHODIMP HostPin::QueryPinInfo(PIN_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  std::memset(pInfo, 0, sizeof(*pInfo));
  pInfo->pFilter = nullptr;  // the element is not a filter of the graph
  pInfo->dir = dir_;
  const char* name = dir_ == PINDIR_OUTPUT ? "GStreamer source" : "GStreamer sink";
  for (int i = 0; name[i]; ++i) pInfo->achName[i] = static_cast<WCHAR>(name[i]);
  return S_OK;
}

STDMETHODIMP HostPin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (!pPinDir) return E_POINTER;
  *pPinDir = dir_;
  return S_OK;
}

STDMETHODIMP HostPin::QueryId(LPWSTR* Id) {
  if (!Id) return E_POINTER;
  const char16_t* name = dir_ == PINDIR_OUTPUT ? u"Out" : u"In";
  const size_t bytes = (std::char_traits<char16_t>::length(name) + 1) * sizeof(WCHAR);
  *Id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*Id) return E_OUTOFMEMORY;
  std::memcpy(*Id, name, bytes);
  return S_OK;
}

STDMETHODIMP HostPin::QueryAccept(const AM_MEDIA_TYPE* pmt) { return Accepts(pmt) ? S_OK : S_FALSE; }

STDMETHODIMP HostPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = new (std::nothrow) TypeEnum(dir_ == PINDIR_OUTPUT && hasType_ ? &type_ : nullptr);
  return *ppEnum ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP HostPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }
STDMETHODIMP HostPin::EndOfStream() { return S_OK; }
STDMETHODIMP HostPin::BeginFlush() { return S_OK; }
STDMETHODIMP HostPin::EndFlush() { return S_OK; }
STDMETHODIMP HostPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

// The filter's output pin brings its own allocator.
STDMETHODIMP HostPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (!ppAllocator) return E_POINTER;
  *ppAllocator = nullptr;
  return VFW_E_NO_ALLOCATOR;
}

STDMETHODIMP HostPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL) {
  if (!pAllocator) return E_POINTER;
  pAllocator->AddRef();
  if (allocator_) allocator_->Release();
  allocator_ = pAllocator;
  return S_OK;
}

STDMETHODIMP HostPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP HostPin::Receive(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  ++received_;
  return S_OK;
}

STDMETHODIMP HostPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                      long* nSamplesProcessed) {
  if (!pSamples || !nSamplesProcessed) return E_POINTER;
  received_ += nSamples;
  *nSamplesProcessed = nSamples;
  return S_OK;
}

STDMETHODIMP HostPin::ReceiveCanBlock() { return S_FALSE; }

}  // namespace kelvo::gst::detail
