#include "gst/FilterHost.h"

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "gst/detail/HostPin.h"
#include "gst/detail/StillCollector.h"

// The module's class-factory entry point (exported with C linkage).
extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);

namespace kelvo::gst {
namespace {

std::string HrText(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

template <typename T>
void ReleaseAndNull(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// UTF-16 copy of a UTF-8 name; false when the text is not valid UTF-8.
bool ToWide(const std::string& utf8, std::u16string* wide) {
  glong written = 0;
  gunichar2* w = g_utf8_to_utf16(utf8.c_str(), -1, nullptr, &written, nullptr);
  if (!w) return false;
  wide->assign(reinterpret_cast<const char16_t*>(w), static_cast<size_t>(written));
  g_free(w);
  return true;
}

}  // namespace

std::unique_ptr<FilterHost> FilterHost::Create(std::string* error) {
  std::unique_ptr<FilterHost> host(new FilterHost());
  IClassFactory* factory = nullptr;
  HRESULT hr = DllGetClassObject(CLSID_FrameGrabFilter, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr) && factory) {
    hr = factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&host->filter_));
    factory->Release();
  }
  if (FAILED(hr) || !host->filter_) {
    *error = "the frame grab filter could not be created (" + HrText(hr) + ")";
    return nullptr;
  }
  hr = host->filter_->QueryInterface(IID_IFrameGrabFilter, reinterpret_cast<void**>(&host->control_));
  if (SUCCEEDED(hr))
    hr = host->filter_->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&host->sink_));
  if (SUCCEEDED(hr))
    hr = host->filter_->QueryInterface(IID_IFrameGrabStillOutput,
                                       reinterpret_cast<void**>(&host->stillOutput_));
  if (FAILED(hr)) {
    *error = "the frame grab filter lacks its control interfaces (" + HrText(hr) + ")";
    return nullptr;
  }
  host->collector_ = new (std::nothrow) detail::StillCollector();
  if (!host->collector_) {
    *error = "out of memory";
    return nullptr;
  }
  hr = host->stillOutput_->SetStillSink(host->collector_);
  if (FAILED(hr)) {
    *error = "the frame grab filter refused the still sink (" + HrText(hr) + ")";
    return nullptr;
  }

  // The filter has one input and one output pin; find them by direction.
  IEnumPins* pins = nullptr;
  if (SUCCEEDED(host->filter_->EnumPins(&pins)) && pins) {
    IPin* pin = nullptr;
    ULONG got = 0;
    while (pins->Next(1, &pin, &got) == S_OK && got == 1) {
      PIN_DIRECTION dir;
      if (SUCCEEDED(pin->QueryDirection(&dir))) {
        IPin*& slot = dir == PINDIR_INPUT ? host->input_ : host->output_;
        if (!slot) {
          slot = pin;
          continue;
        }
      }
      pin->Release();
    }
    pins->Release();
  }
  if (!host->input_ || !host->output_ ||
      FAILED(host->input_->QueryInterface(IID_IMemInputPin,
                                          reinterpret_cast<void**>(&host->inputMem_)))) {
    *error = "the frame grab filter does not expose its input and output pins";
    return nullptr;
  }
  host->pins_ = detail::HostFilter::Create();
  if (!host->pins_) {
    *error = "out of memory";
    return nullptr;
  }
  return host;
}

FilterHost::~FilterHost() {
  Disconnect();
  if (stillOutput_) stillOutput_->SetStillSink(nullptr);
  ReleaseAndNull(stillOutput_);
  ReleaseAndNull(collector_);
  ReleaseAndNull(pins_);
  ReleaseAndNull(inputMem_);
  ReleaseAndNull(input_);
  ReleaseAndNull(output_);
  ReleaseAndNull(sink_);
  ReleaseAndNull(control_);
  ReleaseAndNull(filter_);
}

bool FilterHost::Connect(int width, int height, int fpsN, int fpsD, std::string* error) {
  Disconnect();

  const REFERENCE_TIME perFrame =
      fpsN > 0 && fpsD > 0 ? static_cast<REFERENCE_TIME>(10000000.0 * fpsD / fpsN + 0.5) : 0;
  CMediaType mt;
  HRESULT hr = detail::MakeYuy2Type(width, height, perFrame, &mt);
  if (SUCCEEDED(hr)) hr = pins_->Source().SetOffer(mt);
  if (SUCCEEDED(hr)) hr = pins_->Source().Connect(input_, &mt);
  if (FAILED(hr)) {
    *error = "the frame grab filter refused " + std::to_string(width) + "x" +
             std::to_string(height) + " YUY2 input (" + HrText(hr) + ")";
    Disconnect();
    return false;
  }
  hr = output_->Connect(static_cast<IPin*>(&pins_->Drain()), nullptr);
  if (FAILED(hr)) {
    *error = "the frame grab filter's output could not be connected (" + HrText(hr) + ")";
    Disconnect();
    return false;
  }
  // Downstream first, as a graph starts its filters.
  hr = pins_->Pause();
  if (SUCCEEDED(hr)) hr = pins_->Run(0);
  if (SUCCEEDED(hr)) hr = filter_->Pause();
  if (SUCCEEDED(hr)) hr = filter_->Run(0);
  if (FAILED(hr)) {
    *error = "the frame grab filter could not be started (" + HrText(hr) + ")";
    Disconnect();
    return false;
  }
  connected_ = true;
  width_ = width;
  height_ = height;
  return true;
}

void FilterHost::Disconnect() {
  if (filter_) filter_->Stop();
  if (pins_) pins_->Stop();
  if (output_) output_->Disconnect();
  if (input_) input_->Disconnect();
  if (pins_) {
    pins_->Source().Disconnect();
    pins_->Drain().Disconnect();
  }
  connected_ = false;
}

HRESULT FilterHost::SetGrabParams(double grabTime, bool grabEnabled, bool enhance) {
  GrabParams params{grabTime, grabEnabled, enhance};
  return control_->SetGrabParams(params);
}

HRESULT FilterHost::SetFileName(const std::string& utf8) {
  std::u16string wide;
  if (!ToWide(utf8, &wide)) return E_INVALIDARG;
  return sink_->SetFileName(wide.c_str(), nullptr);
}

HRESULT FilterHost::AddSnapshot(const std::string& utf8, double time, bool enhance) {
  std::u16string wide;
  if (!ToWide(utf8, &wide)) return E_INVALIDARG;
  SnapshotRequest request{};
  if (wide.size() >= std::size(request.fileName)) return E_INVALIDARG;
  std::memcpy(request.fileName, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  request.time = time;
  request.enhance = enhance;
  return control_->AddSnapshot(&request);
}

HRESULT FilterHost::SetFrameRate(int framesPerSecond) { return control_->SetFrameRate(framesPerSecond); }

HRESULT FilterHost::Deliver(BYTE* data, long size, const REFERENCE_TIME* start,
                            const REFERENCE_TIME* stop) {
  if (!connected_) return VFW_E_NOT_CONNECTED;
  sample_.Set(data, size, start, stop);
  return inputMem_->Receive(&sample_);
}

std::vector<detail::TakenStill> FilterHost::TakeStills() {
  return collector_ ? collector_->Take() : std::vector<detail::TakenStill>();
}

}  // namespace kelvo::gst
