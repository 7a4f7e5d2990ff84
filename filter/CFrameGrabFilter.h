#pragma once

// The frame grab filter: a video transform filter that watches the start
// times of the samples flowing through it and writes JPEG stills of the
// frames that reach the main grab time or a queued snapshot request's time.
// The output samples carry the input's times; their contents are not
// written.
//
// Threads: Transform runs on the upstream streaming thread. The control
// calls (GrabParams, snapshot requests, frame rate, file name, persistence)
// may arrive from any thread at any time; the settings lock guards
// everything Transform reads or changes, so a request queued while a frame
// is being examined is either considered for that frame or for the next.
//
// A still that cannot be written is reported, never fatal: the filter counts
// it, tells the graph (EC_FRAMEGRAB_STILL_FAILED) and passes the frame on.
// Hosts that write stills their own way register a still sink
// (IFrameGrabStillOutput); the filter then hands each still it takes to the
// sink instead of enhancing and writing it.

#include <string>

#include "filter/IFrameGrabFilter.h"
#include "filter/IFrameGrabStillSink.h"
#include "platform/CGenericList.h"
#include "platform/CPersistStream.h"
#include "platform/CTransformFilter.h"

class CFrameGrabFilter : public CTransformFilter,
                         public IFrameGrabFilter,
                         public IFileSinkFilter,
                         public ISpecifyPropertyPages,
                         public IFrameGrabStillOutput,
                         public CPersistStream {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* phr);

  CFrameGrabFilter(LPUNKNOWN outer, HRESULT* phr);
  ~CFrameGrabFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Transform filter
  HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override;
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  HRESULT GetMediaType(int position, CMediaType* pMediaType) override;

  // IFrameGrabFilter
  STDMETHODIMP GetGrabParams(GrabParams* params) override;
  STDMETHODIMP SetGrabParams(GrabParams params) override;
  STDMETHODIMP AddSnapshot(SnapshotRequest* request) override;
  STDMETHODIMP SetFrameRate(int framesPerSecond) override;

  // IFileSinkFilter
  STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

  // IFrameGrabStillOutput
  STDMETHODIMP SetStillSink(IFrameGrabStillSink* sink) override;
  STDMETHODIMP GetFailedStills(LONG* count) override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // IPersist (shared by the filter and persistence) and persistence data
  STDMETHODIMP GetClassID(CLSID* pClsID) override;
  HRESULT WriteToStream(IStream* pStream) override;
  HRESULT ReadFromStream(IStream* pStream) override;
  int SizeMax() override { return 0; }

  const AMOVIESETUP_FILTER* GetSetupData() override;

  // State as the streaming thread sees it.
  double HalfFrame();
  bool GrabDone();
  int PendingSnapshots();
  bool LegacyRgbInput() const { return m_legacyRgbInput != FALSE; }

 private:
  struct FrameDescription {
    LONG width;
    LONG height;
    WORD bitCount;
  };

  HRESULT TransformLocked(IMediaSample* pIn);
  bool DescribeFrame(IMediaSample* pIn, FrameDescription* frame);
  bool AcceptsInput(const CMediaType* mt) const;
  // The first request due at time t, in list order; null when none is.
  POSITION FindDueSnapshot(double t);
  bool MainGrabDue(double t) const;
  // Hands one still to the sink, or writes it; counts and reports a failure.
  void DeliverStill(const FrameGrabStill& still, const uint8_t* image);

  CCritSec m_settingsLock;
  GrabParams m_grabParams;
  BOOL m_grabDone;
  BOOL m_hasSse2;
  BOOL m_legacyRgbInput;
  double m_halfFrame;
  WCHAR m_fileName[256];
  CGenericList<SnapshotRequest> m_snapshots;
  IFrameGrabStillSink* m_stillSink = nullptr;  // counted reference
  LONG m_failedStills = 0;
};
