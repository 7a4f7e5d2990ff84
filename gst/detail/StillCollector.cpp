#include "gst/detail/StillCollector.h"

#include <glib.h>

#include <new>

#include "platform/detail/WideString.h"

namespace kelvo::gst::detail {

namespace {

std::string Utf8Of(LPCWSTR wide) {
  const size_t length = kelvo::platform::detail::WideLength(wide);
  gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(wide),
                                static_cast<glong>(length), nullptr, nullptr, nullptr);
  // The names came from UTF-8 the element converted itself; a name that
  // does not convert back still gets reported rather than dropped.
  std::string text = utf8 ? utf8 : "(unreadable file name)";
  g_free(utf8);
  return text;
}

}  // namespace

STDMETHODIMP StillCollector::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IFrameGrabStillSink) return E_NOINTERFACE;
  *ppv = static_cast<IFrameGrabStillSink*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) StillCollector::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) StillCollector::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP StillCollector::TakeStill(const FrameGrabStill* still) {
  if (!still || !still->fileName) return E_POINTER;
  TakenStill taken;
  try {
    taken.still.fileName = Utf8Of(still->fileName);
    taken.still.width = still->width;
    taken.still.height = still->height;
    taken.still.enhance = still->enhance != FALSE;
    taken.still.mainGrab = still->mainGrab != FALSE;
    taken.still.requestedTime = still->requestedTime;
    taken.still.frameTime = still->frameTime;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = S_OK;
  try {
    if (still->pixels && still->width > 0 && still->height > 0) {
      const size_t bytes = static_cast<size_t>(still->width) * 3 * static_cast<size_t>(still->height);
      taken.still.pixels.assign(still->pixels, still->pixels + bytes);
    } else {
      hr = E_INVALIDARG;
    }
  } catch (...) {
    hr = E_OUTOFMEMORY;
  }
  try {
    if (hr == E_INVALIDARG) taken.failure = "\"" + taken.still.fileName + "\": the filter gave no frame";
    if (hr == E_OUTOFMEMORY) {
      taken.still.pixels = {};
      taken.failure = "\"" + taken.still.fileName + "\": out of memory copying the frame";
    }
    std::lock_guard<std::mutex> guard(lock_);
    taken_.push_back(std::move(taken));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return hr;
}

std::vector<TakenStill> StillCollector::Take() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<TakenStill> out;
  out.swap(taken_);
  return out;
}

}  // namespace kelvo::gst::detail
