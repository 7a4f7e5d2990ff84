#pragma once

// The element's still sink: the filter hands it each still it takes, inside
// its Transform, with the filter's lock held and the element's own mutex
// held by the caller of Deliver. It only copies the still out; the element
// writes the copies once both locks are released, so no file is touched
// while a state change or a setting could be waiting.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "filter/IFrameGrabStillSink.h"
#include "host/StillWriter.h"

namespace kelvo::gst::detail {

struct TakenStill {
  kelvo::host::Still still;
  // Set when the still could not even be copied (out of memory): it is
  // reported as failed without being written.
  std::string failure;
};

class StillCollector final : public IFrameGrabStillSink {
 public:
  // Starts with one reference, the creator's.
  StillCollector() = default;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP TakeStill(const FrameGrabStill* still) override;

  // The stills taken since the last call, in the order the filter took them.
  std::vector<TakenStill> Take();

 private:
  ~StillCollector() = default;

  std::atomic<ULONG> refs_{1};
  std::mutex lock_;
  std::vector<TakenStill> taken_;
};

}  // namespace kelvo::gst::detail
