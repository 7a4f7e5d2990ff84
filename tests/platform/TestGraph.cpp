#include "tests/platform/TestGraph.h"

#include <cstring>

CMediaType MakeVideoType(const GUID& subtype, int bitCount, int width, int height, bool videoInfo2,
                         REFERENCE_TIME avgTimePerFrame) {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bitCount);
  header.biCompression = IsEqualGUID(subtype, MEDIASUBTYPE_YUY2) ? 0x32595559 : BI_RGB;
  header.biSizeImage = GetBitmapSize(&header);
  mt.SetSampleSize(header.biSizeImage);
  if (videoInfo2) {
    mt.SetFormatType(&FORMAT_VideoInfo2);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER2*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
    vih->AvgTimePerFrame = avgTimePerFrame;
    vih->bmiHeader = header;
  } else {
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = avgTimePerFrame;
    vih->bmiHeader = header;
  }
  return mt;
}

// ---- Source --------------------------------------------------------------------

TestSourcePin::TestSourcePin(TestSourceFilter* filter, CCritSec* lock)
    : CBaseOutputPin(u"Test source pin", filter, lock, nullptr, u"Out"), m_source(filter) {}

HRESULT TestSourcePin::CheckMediaType(const CMediaType* pmt) {
  for (const CMediaType& offered : m_source->types)
    if (offered == *pmt) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TestSourcePin::GetMediaType(int position, CMediaType* pmt) {
  if (position < 0) return E_INVALIDARG;
  if (position >= static_cast<int>(m_source->types.size())) return VFW_S_NO_MORE_ITEMS;
  return pmt->Set(m_source->types[static_cast<size_t>(position)]);
}

HRESULT TestSourcePin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) {
  props->cBuffers = 2;
  props->cbBuffer = static_cast<long>(m_mt.GetSampleSize());
  ALLOCATOR_PROPERTIES actual{};
  return alloc->SetProperties(props, &actual);
}

TestSourceFilter::TestSourceFilter(std::vector<CMediaType> offered)
    : CBaseFilter(u"Test source", nullptr, &m_lock, GUID_NULL),
      types(std::move(offered)),
      m_pin(this, &m_lock) {}

TestSourceFilter::~TestSourceFilter() = default;

CBasePin* TestSourceFilter::GetPin(int n) {
  return n == 0 ? &m_pin : nullptr;
}

HRESULT TestSourceFilter::Push(const std::vector<BYTE>& frame, const REFERENCE_TIME* start,
                               const AM_MEDIA_TYPE* attach) {
  IMediaSample* sample = nullptr;
  HRESULT hr = m_pin.GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const size_t n = std::min(frame.size(), static_cast<size_t>(sample->GetSize()));
  std::memcpy(data, frame.data(), n);
  sample->SetActualDataLength(static_cast<long>(n));
  if (start != nullptr) {
    REFERENCE_TIME s = *start, e = *start + 333333;
    sample->SetTime(&s, &e);
  }
  if (attach != nullptr) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(attach));
  hr = m_pin.Deliver(sample);
  sample->Release();
  return hr;
}

// ---- Sink ----------------------------------------------------------------------

TestSinkPin::TestSinkPin(TestSinkFilter* filter, CCritSec* lock)
    : CBaseInputPin(u"Test sink pin", filter, lock, nullptr, u"In"), m_sink(filter) {}

HRESULT TestSinkPin::CheckMediaType(const CMediaType* pmt) {
  return IsEqualGUID(*pmt->Type(), MEDIATYPE_Video) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

// The sink proposes nothing: the upstream pin's types decide.
HRESULT TestSinkPin::GetMediaType(int position, CMediaType*) {
  return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP TestSinkPin::Receive(IMediaSample* pSample) {
  const HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  ReceivedSample record{};
  record.hasTime = SUCCEEDED(pSample->GetTime(&record.start, &record.stop));
  record.length = pSample->GetActualDataLength();
  std::lock_guard<std::mutex> lock(m_sink->mutex);
  m_sink->received.push_back(record);
  return S_OK;
}

STDMETHODIMP TestSinkPin::EndOfStream() {
  std::lock_guard<std::mutex> lock(m_sink->mutex);
  ++m_sink->endOfStreams;
  return S_OK;
}

STDMETHODIMP TestSinkPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  std::lock_guard<std::mutex> lock(m_sink->mutex);
  ++m_sink->beginFlushes;
  return S_OK;
}

STDMETHODIMP TestSinkPin::EndFlush() {
  CBaseInputPin::EndFlush();
  std::lock_guard<std::mutex> lock(m_sink->mutex);
  ++m_sink->endFlushes;
  return S_OK;
}

STDMETHODIMP TestSinkPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  std::lock_guard<std::mutex> lock(m_sink->mutex);
  m_sink->segmentStart = tStart;
  m_sink->segmentStop = tStop;
  m_sink->segmentRate = dRate;
  return S_OK;
}

TestSinkFilter::TestSinkFilter()
    : CBaseFilter(u"Test sink", nullptr, &m_lock, GUID_NULL), m_pin(this, &m_lock) {}

TestSinkFilter::~TestSinkFilter() = default;

CBasePin* TestSinkFilter::GetPin(int n) {
  return n == 0 ? &m_pin : nullptr;
}

IPin* FindPinOf(IBaseFilter* filter, const char16_t* name) {
  IPin* pin = nullptr;
  filter->FindPin(name, &pin);
  return pin;
}
