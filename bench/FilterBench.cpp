// The frame grab filter's cost on a frame on which nothing is due: one
// media-type lookup, the start time and the due comparisons; no pixel is
// read. Timed for Transform alone and for the whole input-pin Receive
// (output buffer, time copy, Transform, delivery).

#ifdef KELVO_HAVE_kelvo_filter_static

#include <benchmark/benchmark.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "filter/CFrameGrabFilter.h"
#include "filter/FrameGrabFilterSetup.h"

namespace {

// A sample with a start time and no attached type, over a caller's buffer.
class BenchSample final : public IMediaSample {
 public:
  BenchSample(BYTE* data, long size, REFERENCE_TIME start)
      : m_data(data), m_size(size), m_start(start) {}
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetPointer(BYTE** p) override {
    *p = m_data;
    return S_OK;
  }
  STDMETHODIMP_(long) GetSize() override { return m_size; }
  STDMETHODIMP GetTime(REFERENCE_TIME* s, REFERENCE_TIME* e) override {
    *s = m_start;
    if (e != nullptr) *e = m_start + 333333;
    return S_OK;
  }
  STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return S_OK; }
  STDMETHODIMP IsSyncPoint() override { return S_OK; }
  STDMETHODIMP SetSyncPoint(BOOL) override { return S_OK; }
  STDMETHODIMP IsPreroll() override { return S_FALSE; }
  STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
  STDMETHODIMP_(long) GetActualDataLength() override { return m_size; }
  STDMETHODIMP SetActualDataLength(long) override { return S_OK; }
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** t) override {
    *t = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
  STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
  STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

 private:
  BYTE* m_data;
  long m_size;
  REFERENCE_TIME m_start;
};

// The peer of one of the filter's pins: accepts every connection and every
// sample, and offers no allocator of its own.
class PeerPin final : public IPin, public IMemInputPin {
 public:
  explicit PeerPin(PIN_DIRECTION dir) : m_dir(dir) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IMemInputPin)) {
      *ppv = static_cast<IMemInputPin*>(this);
      return S_OK;
    }
    *ppv = static_cast<IPin*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP Disconnect() override { return S_OK; }
  STDMETHODIMP ConnectedTo(IPin**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryDirection(PIN_DIRECTION* d) override {
    *d = m_dir;
    return S_OK;
  }
  STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
  STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  STDMETHODIMP EndOfStream() override { return S_OK; }
  STDMETHODIMP BeginFlush() override { return S_OK; }
  STDMETHODIMP EndFlush() override { return S_OK; }
  STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
  STDMETHODIMP GetAllocator(IMemAllocator**) override { return VFW_E_NO_ALLOCATOR; }
  STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Receive(IMediaSample*) override { return S_OK; }
  STDMETHODIMP ReceiveMultiple(IMediaSample**, long, long*) override { return E_NOTIMPL; }
  STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

 private:
  PIN_DIRECTION m_dir;
};

struct RunningFilter {
  RunningFilter(int width, int height)
      : upstream(PINDIR_OUTPUT),
        downstream(PINDIR_INPUT),
        frame(static_cast<size_t>(width) * height * 2) {
    HRESULT hr = E_FAIL;
    filter = static_cast<CFrameGrabFilter*>(CFrameGrabFilter::CreateInstance(nullptr, &hr));
    filter->NonDelegatingAddRef();
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YUY2);
    mt.SetFormatType(&FORMAT_VideoInfo);
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    vih->AvgTimePerFrame = 333333;
    vih->bmiHeader = BITMAPINFOHEADER{40, width, height, 1, 16, 0x32595559, 0, 0, 0, 0, 0};
    input = filter->GetPin(0);
    output = filter->GetPin(1);
    input->ReceiveConnection(&upstream, &mt);
    output->Connect(&downstream, nullptr);
    filter->Run(0);
    // A request and a main grab that lie far ahead: checked, never due.
    filter->SetGrabParams(GrabParams{3600.0, true, false});
    filter->SetFileName(u"/dev/null", nullptr);
    filter->SetFrameRate(30);
    SnapshotRequest request{};
    request.fileName[0] = u'x';
    request.time = 7200.0;
    filter->AddSnapshot(&request);
  }
  ~RunningFilter() {
    filter->Stop();
    output->Disconnect();
    input->Disconnect();
    filter->Release();
  }
  PeerPin upstream;
  PeerPin downstream;
  std::vector<BYTE> frame;
  CFrameGrabFilter* filter = nullptr;
  CBasePin* input = nullptr;
  CBasePin* output = nullptr;
};

void TransformNothingDue(benchmark::State& state, int width, int height) {
  RunningFilter running(width, height);
  BenchSample sample(running.frame.data(), static_cast<long>(running.frame.size()), 10000000);
  for (auto _ : state) benchmark::DoNotOptimize(running.filter->Transform(&sample, nullptr));
}

void ReceiveNothingDue(benchmark::State& state, int width, int height) {
  RunningFilter running(width, height);
  BenchSample sample(running.frame.data(), static_cast<long>(running.frame.size()), 10000000);
  IMemInputPin* input = nullptr;
  running.input->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  for (auto _ : state) benchmark::DoNotOptimize(input->Receive(&sample));
  input->Release();
}

const bool kRegistered = [] {
  for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{640, 480}}) {
    char name[96];
    std::snprintf(name, sizeof name, "BM_FrameGrab_TransformNothingDue/%dx%d", w, h);
    benchmark::RegisterBenchmark(name, TransformNothingDue, w, h);
    std::snprintf(name, sizeof name, "BM_FrameGrab_ReceiveNothingDue/%dx%d", w, h);
    benchmark::RegisterBenchmark(name, ReceiveNothingDue, w, h);
  }
  return true;
}();

}  // namespace

#endif  // KELVO_HAVE_kelvo_filter_static
