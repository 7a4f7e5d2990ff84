#pragma once

// A test host's media graph: a source filter whose output pin offers the
// video types a test gives it and pushes frames through IMemInputPin, and a
// sink filter that accepts any video and records what reaches it. Both are
// built on the framework and talk to the filter under test only through
// COM interfaces.

#include <mutex>
#include <vector>

#include "platform/CBasePin.h"

// A video type with a VIDEOINFOHEADER (or VIDEOINFOHEADER2) format block.
CMediaType MakeVideoType(const GUID& subtype, int bitCount, int width, int height,
                         bool videoInfo2 = false, REFERENCE_TIME avgTimePerFrame = 333333);

class TestSourceFilter;

class TestSourcePin : public CBaseOutputPin {
 public:
  TestSourcePin(TestSourceFilter* filter, CCritSec* lock);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* props) override;

 private:
  TestSourceFilter* m_source;
};

class TestSourceFilter : public CBaseFilter {
 public:
  // Offers `types` in order during connection.
  explicit TestSourceFilter(std::vector<CMediaType> types);
  ~TestSourceFilter() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  TestSourcePin* Pin() { return &m_pin; }

  // Sends one frame downstream; a null start leaves the sample untimed, a
  // type is attached to the sample when given. Returns the result of the
  // downstream Receive.
  HRESULT Push(const std::vector<BYTE>& frame, const REFERENCE_TIME* start,
               const AM_MEDIA_TYPE* attach = nullptr);

  std::vector<CMediaType> types;

 private:
  CCritSec m_lock;
  TestSourcePin m_pin;
};

struct ReceivedSample {
  bool hasTime;
  REFERENCE_TIME start;
  REFERENCE_TIME stop;
  long length;
};

class TestSinkFilter;

class TestSinkPin : public CBaseInputPin {
 public:
  TestSinkPin(TestSinkFilter* filter, CCritSec* lock);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

 private:
  TestSinkFilter* m_sink;
};

class TestSinkFilter : public CBaseFilter {
 public:
  TestSinkFilter();
  ~TestSinkFilter() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  TestSinkPin* Pin() { return &m_pin; }

  std::mutex mutex;
  std::vector<ReceivedSample> received;
  int endOfStreams = 0;
  int beginFlushes = 0;
  int endFlushes = 0;
  REFERENCE_TIME segmentStart = -1;
  REFERENCE_TIME segmentStop = -1;
  double segmentRate = 0.0;

 private:
  CCritSec m_lock;
  TestSinkPin m_pin;
};

// Holds a COM reference and releases it at scope end.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(T* p) : m_p(p) {}
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  void Reset() {
    if (m_p != nullptr) m_p->Release();
    m_p = nullptr;
  }
  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T** Put() {
    Reset();
    return &m_p;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

// A framework filter created for a test, held by one reference.
template <class F, class... Args>
F* NewHeldFilter(Args&&... args) {
  F* filter = new F(std::forward<Args>(args)...);
  filter->NonDelegatingAddRef();
  return filter;
}

IPin* FindPinOf(IBaseFilter* filter, const char16_t* name);
