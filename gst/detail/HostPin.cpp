#include "gst/detail/HostPin.h"

#include <new>

namespace kelvo::gst::detail {
namespace {

constexpr DWORD kFourccYUY2 = 0x32595559;  // 'Y','U','Y','2'
// The host is no registered class.
constexpr CLSID kNoClass{};

}  // namespace

// ---- HostSourcePin ---------------------------------------------------------------

HostSourcePin::HostSourcePin(HostFilter* filter, CCritSec* lock)
    : CBaseOutputPin(KELVO_W("Host source"), filter, lock, nullptr, KELVO_W("Out")) {}

HRESULT HostSourcePin::SetOffer(const AM_MEDIA_TYPE& type) {
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  return offer_.Set(type);
}

HRESULT HostSourcePin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  return offer_.IsValid() && IsEqualGUID(pmt->subtype, offer_.subtype) ? S_OK : S_FALSE;
}

HRESULT HostSourcePin::GetMediaType(int position, CMediaType* pMediaType) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0 || !offer_.IsValid()) return VFW_S_NO_MORE_ITEMS;
  return pMediaType->Set(offer_);
}

HRESULT HostSourcePin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  *ppAlloc = nullptr;
  HRESULT hr = pPin->GetAllocator(ppAlloc);
  if (FAILED(hr) || *ppAlloc == nullptr) hr = InitAllocator(ppAlloc);
  if (SUCCEEDED(hr)) {
    ALLOCATOR_PROPERTIES props{};
    hr = DecideBufferSize(*ppAlloc, &props);
  }
  // Read-only: the frames lent belong to GStreamer, and the filter must not
  // write into them.
  if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, TRUE);
  if (FAILED(hr) && *ppAlloc != nullptr) {
    (*ppAlloc)->Release();
    *ppAlloc = nullptr;
  }
  return hr;
}

HRESULT HostSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES*) {
  ALLOCATOR_PROPERTIES want{1, static_cast<long>(offer_.lSampleSize), 1, 0};
  ALLOCATOR_PROPERTIES got{};
  return pAlloc->SetProperties(&want, &got);
}

// ---- HostDrainPin ----------------------------------------------------------------

HostDrainPin::HostDrainPin(HostFilter* filter, CCritSec* lock)
    : CBaseInputPin(KELVO_W("Host drain"), filter, lock, nullptr, KELVO_W("In")) {}

HRESULT HostDrainPin::CheckMediaType(const CMediaType* pmt) {
  if (pmt == nullptr) return E_POINTER;
  return IsEqualGUID(pmt->majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
}

STDMETHODIMP HostDrainPin::Receive(IMediaSample* pSample) {
  const HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr == S_OK) ++received_;
  return hr;
}

// ---- HostFilter ------------------------------------------------------------------

HostFilter::HostFilter()
    : CBaseFilter(KELVO_W("Host filter"), nullptr, &lock_, kNoClass),
      source_(this, &lock_),
      drain_(this, &lock_) {}

HostFilter* HostFilter::Create() {
  auto* filter = new (std::nothrow) HostFilter();
  if (filter != nullptr) filter->NonDelegatingAddRef();
  return filter;
}

CBasePin* HostFilter::GetPin(int n) {
  if (n == 0) return &source_;
  if (n == 1) return &drain_;
  return nullptr;
}

// ---- Media type ------------------------------------------------------------------

HRESULT MakeYuy2Type(int width, int height, REFERENCE_TIME avgTimePerFrame, CMediaType* type) {
  type->SetType(&MEDIATYPE_Video);
  type->SetSubtype(&MEDIASUBTYPE_YUY2);
  type->SetFormatType(&FORMAT_VideoInfo);
  type->SetTemporalCompression(FALSE);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (vih == nullptr) return E_OUTOFMEMORY;
  const long stride = (static_cast<long>(width) * 2 + 3) & ~3L;
  vih->AvgTimePerFrame = avgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 16;
  vih->bmiHeader.biCompression = kFourccYUY2;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(stride * height);
  if (avgTimePerFrame > 0)
    vih->dwBitRate = static_cast<DWORD>(static_cast<double>(vih->bmiHeader.biSizeImage) * 8.0 *
                                        10000000.0 / static_cast<double>(avgTimePerFrame));
  type->SetSampleSize(vih->bmiHeader.biSizeImage);
  return S_OK;
}

}  // namespace kelvo::gst::detail
