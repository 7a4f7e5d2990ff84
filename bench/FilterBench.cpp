// The frame grab filter's cost on a frame on which nothing is due: one
// media-type lookup, the start time and the due comparisons; no pixel is
// read. Timed for Transform alone and for the whole input-pin Receive
// (output buffer, time copy, Transform, delivery).

#if defined(KELVO_HAVE_kelvo_filter_static) && defined(KELVO_HAVE_kelvo_host_pins)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "filter/CFrameGrabFilter.h"
#include "filter/FrameGrabFilterSetup.h"
#include "gst/detail/HostPin.h"
#include "gst/detail/HostSample.h"

namespace {

// The filter connected between the element's own host pins, as the
// GStreamer element runs it.
struct RunningFilter {
  RunningFilter(int width, int height) : frame(static_cast<size_t>(width) * height * 2) {
    HRESULT hr = E_FAIL;
    filter = static_cast<CFrameGrabFilter*>(CFrameGrabFilter::CreateInstance(nullptr, &hr));
    filter->NonDelegatingAddRef();
    host = kelvo::gst::detail::HostFilter::Create();
    CMediaType mt;
    kelvo::gst::detail::MakeYuy2Type(width, height, 333333, &mt);
    input = filter->GetPin(0);
    output = filter->GetPin(1);
    host->Source().SetOffer(mt);
    host->Source().Connect(input, &mt);
    output->Connect(&host->Drain(), nullptr);
    host->Run(0);
    filter->Run(0);
    // A request and a main grab that lie far ahead: checked, never due.
    filter->SetGrabParams(GrabParams{3600.0, true, false});
    filter->SetFileName(u"/dev/null", nullptr);
    filter->SetFrameRate(30);
    SnapshotRequest request{};
    request.fileName[0] = u'x';
    request.time = 7200.0;
    filter->AddSnapshot(&request);
    const REFERENCE_TIME start = 10000000, stop = start + 333333;
    sample.Set(frame.data(), static_cast<long>(frame.size()), &start, &stop);
  }
  ~RunningFilter() {
    filter->Stop();
    host->Stop();
    output->Disconnect();
    input->Disconnect();
    host->Source().Disconnect();
    host->Drain().Disconnect();
    host->Release();
    filter->Release();
  }
  std::vector<BYTE> frame;
  kelvo::gst::detail::HostSample sample;
  CFrameGrabFilter* filter = nullptr;
  kelvo::gst::detail::HostFilter* host = nullptr;
  CBasePin* input = nullptr;
  CBasePin* output = nullptr;
};

void TransformNothingDue(benchmark::State& state, int width, int height) {
  RunningFilter running(width, height);
  for (auto _ : state)
    benchmark::DoNotOptimize(running.filter->Transform(&running.sample, nullptr));
}

void ReceiveNothingDue(benchmark::State& state, int width, int height) {
  RunningFilter running(width, height);
  IMemInputPin* input = nullptr;
  running.input->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
  for (auto _ : state) benchmark::DoNotOptimize(input->Receive(&running.sample));
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

#endif
