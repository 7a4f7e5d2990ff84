#include "filter/CFrameGrabFilter.h"

#include <cstdlib>
#include <memory>
#include <new>

#include "filter/FrameGrabFilterSetup.h"
#include "filter/GrabRule.h"
#include "filter/WriteJpegFile.h"
#include "filter/detail/ComGuard.h"
#include "filter/detail/ConvertFrame.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/pipeline/RunSnapshotPipeline.h"
#include "imaging/primitives/Primitives.h"

using kelvo::filter::detail::ComGuard;

namespace {

constexpr double kTimeUnitsPerSecond = 10000000.0;
constexpr size_t kFileNameChars = 256;
constexpr size_t kRequestNameChars = 260;

// Rows of a DIB are padded to 4 bytes.
LONG DibStride(LONG width, int bytesPerPixel) {
  return (width * bytesPerPixel + 3) & ~3;
}

struct PipelineImage {
  void operator()(uint8_t* image) const { KelvoLibImageProcessing::FreeSnapshotImage(image); }
};

}  // namespace

CUnknown* WINAPI CFrameGrabFilter::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
  auto* filter = new (std::nothrow) CFrameGrabFilter(outer, phr);
  if (filter == nullptr && phr != nullptr) *phr = E_OUTOFMEMORY;
  return filter;
}

CFrameGrabFilter::CFrameGrabFilter(LPUNKNOWN outer, HRESULT* phr)
    : CTransformFilter(KELVO_W("KelvoFrameGrabFilter"), outer, CLSID_FrameGrabFilter),
      CPersistStream(outer, phr),
      m_grabParams{0.0, false, false},
      m_grabDone(FALSE),
      m_hasSse2(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)),
      m_legacyRgbInput(FALSE),
      m_halfFrame(0.0),
      m_fileName{},
      m_snapshots(KELVO_W("MultiSnapshotList")) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (GetVersionExA(&version)) m_legacyRgbInput = version.dwMajorVersion < 6 ? TRUE : FALSE;
  // The status only tells which code path was chosen; every path works.
  ippStaticInit();
  if (phr != nullptr) *phr = S_OK;
}

CFrameGrabFilter::~CFrameGrabFilter() {
  while (m_snapshots.GetCount() > 0) delete m_snapshots.RemoveHead();
  if (m_stillSink != nullptr) m_stillSink->Release();
}

STDMETHODIMP CFrameGrabFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  return ComGuard([&]() -> HRESULT {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IFrameGrabFilter))
      return GetInterface(static_cast<IFrameGrabFilter*>(this), ppv);
    if (IsEqualIID(riid, IID_ISpecifyPropertyPages))
      return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (IsEqualIID(riid, IID_IFileSinkFilter))
      return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
    if (IsEqualIID(riid, IID_IFrameGrabStillOutput))
      return GetInterface(static_cast<IFrameGrabStillOutput*>(this), ppv);
    // The settings persist through IPersistStream, so a host that saves its
    // graph keeps the grab time and switches.
    if (IsEqualIID(riid, IID_IPersistStream))
      return GetInterface(static_cast<IPersistStream*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  });
}

// ---- Media types ----------------------------------------------------------------

bool CFrameGrabFilter::AcceptsInput(const CMediaType* mt) const {
  if (!IsEqualGUID(*mt->Type(), MEDIATYPE_Video)) return false;
  const BITMAPINFOHEADER* header = GetVideoBitmapHeader(mt);
  if (header == nullptr) return false;
  if (m_legacyRgbInput)
    return IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_RGB32) && header->biBitCount == 32;
  return IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_YUY2) && header->biBitCount == 16;
}

HRESULT CFrameGrabFilter::CheckInputType(const CMediaType* mtIn) {
  return ComGuard([&]() -> HRESULT {
    if (mtIn == nullptr) return E_POINTER;
    if (!IsEqualGUID(*mtIn->FormatType(), FORMAT_VideoInfo) &&
        !IsEqualGUID(*mtIn->FormatType(), FORMAT_VideoInfo2))
      return E_INVALIDARG;
    return AcceptsInput(mtIn) ? S_OK : E_FAIL;
  });
}

HRESULT CFrameGrabFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  return ComGuard([&]() -> HRESULT {
    if (mtIn == nullptr || mtOut == nullptr) return E_POINTER;
    if (!AcceptsInput(mtIn)) return VFW_E_TYPE_NOT_ACCEPTED;
    const GUID& wanted = m_legacyRgbInput ? *mtIn->Subtype() : MEDIASUBTYPE_RGB24;
    return IsEqualGUID(*mtOut->Subtype(), wanted) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  });
}

HRESULT CFrameGrabFilter::GetMediaType(int position, CMediaType* pMediaType) {
  return ComGuard([&]() -> HRESULT {
    if (pMediaType == nullptr) return E_POINTER;
    if (m_pInput == nullptr || !m_pInput->IsConnected()) return E_UNEXPECTED;
    const CMediaType& input = m_pInput->CurrentMediaType();
    const BITMAPINFOHEADER* in = GetVideoBitmapHeader(&input);
    if (in == nullptr) return E_UNEXPECTED;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;

    const REFERENCE_TIME avgTimePerFrame =
        IsEqualGUID(*input.FormatType(), FORMAT_VideoInfo)
            ? reinterpret_cast<const VIDEOINFOHEADER*>(input.Format())->AvgTimePerFrame
            : reinterpret_cast<const VIDEOINFOHEADER2*>(input.Format())->AvgTimePerFrame;
    int bytesPerPixel = 3;
    const GUID* subtype = &MEDIASUBTYPE_RGB24;
    if (m_legacyRgbInput) {
      bytesPerPixel = in->biBitCount / 8;
      subtype = bytesPerPixel == 3 ? &MEDIASUBTYPE_RGB24 : &MEDIASUBTYPE_RGB32;
    }
    const LONG stride = DibStride(in->biWidth, bytesPerPixel);
    const long long absHeight = std::llabs(static_cast<long long>(in->biHeight));
    const DWORD imageSize = static_cast<DWORD>(stride * absHeight);

    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Video);
    pMediaType->SetSubtype(subtype);
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
    pMediaType->SetTemporalCompression(FALSE);
    pMediaType->SetSampleSize(imageSize);
    auto* vih =
        reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (vih == nullptr) return E_OUTOFMEMORY;
    vih->AvgTimePerFrame = avgTimePerFrame;
    vih->dwBitErrorRate = 0;
    // An input without a frame duration gives a bit rate of 0 (unknown)
    // rather than a division by zero.
    if (avgTimePerFrame > 0) {
      const long double bits = static_cast<long double>(in->biWidth) * absHeight * bytesPerPixel *
                               8.0L * 10000000.0L / static_cast<long double>(avgTimePerFrame);
      vih->dwBitRate = static_cast<DWORD>(bits);
    }
    BITMAPINFOHEADER& out = vih->bmiHeader;
    out.biSize = sizeof(BITMAPINFOHEADER);
    out.biWidth = in->biWidth;
    out.biHeight = in->biHeight;
    out.biPlanes = 1;
    out.biBitCount = static_cast<WORD>(8 * bytesPerPixel);
    out.biCompression = BI_RGB;
    out.biSizeImage = imageSize;
    return S_OK;
  });
}

HRESULT CFrameGrabFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  return ComGuard([&]() -> HRESULT {
    if (pAlloc == nullptr || pProp == nullptr) return E_POINTER;
    if (m_pInput == nullptr || !m_pInput->IsConnected()) return E_UNEXPECTED;
    const BITMAPINFOHEADER* in = GetVideoBitmapHeader(&m_pInput->CurrentMediaType());
    if (in == nullptr) return E_FAIL;
    // Buffers the size of an input frame: the output is never written, so
    // the input size is all that is needed.
    pProp->cBuffers = 1;
    pProp->cbBuffer = static_cast<long>(GetBitmapSize(in));
    if (pProp->cbAlign == 0) pProp->cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(pProp, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cBuffers < pProp->cBuffers || actual.cbBuffer < pProp->cbBuffer) return E_FAIL;
    return S_OK;
  });
}

// ---- Grabbing ---------------------------------------------------------------

bool CFrameGrabFilter::DescribeFrame(IMediaSample* pIn, FrameDescription* frame) {
  AM_MEDIA_TYPE* attached = nullptr;
  if (pIn->GetMediaType(&attached) == S_OK && attached != nullptr) {
    const BITMAPINFOHEADER* header = GetVideoBitmapHeader(attached);
    if (header != nullptr) *frame = {header->biWidth, header->biHeight, header->biBitCount};
    DeleteMediaType(attached);
    if (header != nullptr) return true;
  }
  if (m_pInput == nullptr || !m_pInput->IsConnected()) return false;
  const BITMAPINFOHEADER* header = GetVideoBitmapHeader(&m_pInput->CurrentMediaType());
  if (header == nullptr) return false;
  *frame = {header->biWidth, header->biHeight, header->biBitCount};
  return true;
}

bool CFrameGrabFilter::MainGrabDue(double t) const {
  // A main grab that comes due before the host has named the output file
  // stays pending; nothing is written and grabDone is left
  // as it is, so the grab fires once a name is set.
  return m_grabParams.grabEnabled && !m_grabDone && m_fileName[0] != 0 &&
         kelvo::filter::MainGrabReached(t, m_grabParams.grabTime, m_halfFrame);
}

POSITION CFrameGrabFilter::FindDueSnapshot(double t) {
  POSITION pos = m_snapshots.GetHeadPosition();
  while (pos != nullptr) {
    const POSITION current = pos;
    const SnapshotRequest* request = m_snapshots.GetNext(pos);
    if (kelvo::filter::RequestDue(t, request->time, m_halfFrame)) return current;
  }
  return nullptr;
}

HRESULT CFrameGrabFilter::Transform(IMediaSample* pIn, IMediaSample*) {
  return ComGuard([&]() -> HRESULT {
    if (pIn == nullptr) return E_POINTER;
    CAutoLock lock(&m_settingsLock);
    return TransformLocked(pIn);
  });
}

HRESULT CFrameGrabFilter::TransformLocked(IMediaSample* pIn) {
  FrameDescription frame{};
  if (!DescribeFrame(pIn, &frame)) return E_FAIL;

  BYTE* input = nullptr;
  pIn->GetPointer(&input);
  REFERENCE_TIME start = 0, stop = 0;
  // A sample without a start time cannot be placed on the stream's time
  // line, so it is passed on and never grabbed.
  if (FAILED(pIn->GetTime(&start, &stop))) return S_OK;
  const double t = static_cast<double>(start) / kTimeUnitsPerSecond;

  const bool mainDue = MainGrabDue(t);
  if (!mainDue && FindDueSnapshot(t) == nullptr) return S_OK;

  // Something is due: the frame must be one this filter can read.
  const int bytesPerPixel = frame.bitCount / 8;
  const LONG width = frame.width;
  const LONG height = frame.height < 0 ? -frame.height : frame.height;
  if (input == nullptr || width <= 0 || height <= 0) return E_FAIL;
  if (m_legacyRgbInput ? bytesPerPixel < 3 : bytesPerPixel != 2) return E_FAIL;
  // Input rows are read with the DIB row step (padded to 4 bytes), which is
  // the packed width for every RGB32 frame and every even-width YUY2 frame;
  // a sample shorter than the frame is refused rather than read past its end.
  const LONG inStride = DibStride(width, bytesPerPixel);
  if (static_cast<long long>(pIn->GetActualDataLength()) <
      static_cast<long long>(inStride) * height)
    return E_FAIL;

  const size_t rowBytes = static_cast<size_t>(width) * 3;
  // From the library's block cache: the next due frame reuses this block,
  // and a fresh one comes in huge pages rather than a fault per 4 KiB.
  kelvo::memory::BlockArray<uint8_t> working =
      kelvo::memory::AllocateArray<uint8_t>(rowBytes * static_cast<size_t>(height));
  if (!working) return E_FAIL;

  if (m_legacyRgbInput) {
    // Bottom-up RGB32 becomes top row first. A top-down frame (negative
    // height) is already top row first and is not reversed.
    kelvo::filter::detail::ConvertRgb32ToBgr(input, inStride, bytesPerPixel, width, frame.height,
                                             working.get());
  } else if (!kelvo::filter::detail::ConvertYuy2ToBgr(input, inStride, width, height,
                                                      working.get())) {
    return E_FAIL;
  }

  // Without a sink the enhancement runs here, at most once per frame, for
  // the first target that asks for it, and only where the processor has
  // SSE2. With a sink the frame goes out as converted and the sink enhances.
  std::unique_ptr<uint8_t, PipelineImage> enhanced;
  auto imageFor = [&](bool enhance, const uint8_t** image) -> bool {
    if (!enhance || !m_hasSse2 || m_stillSink != nullptr) {
      *image = working.get();
      return true;
    }
    if (!enhanced) {
      uint8_t* result = nullptr;
      if (!KelvoLibImageProcessing::RunSnapshotPipeline(width, height, static_cast<int>(rowBytes),
                                                        working.get(), &result) ||
          result == nullptr)
        return false;
      enhanced.reset(result);
    }
    *image = enhanced.get();
    return true;
  };

  FrameGrabStill still{};
  still.pixels = working.get();
  still.width = width;
  still.height = height;
  still.frameTime = t;
  if (mainDue) {
    const uint8_t* image = nullptr;
    if (!imageFor(m_grabParams.enhance, &image)) return E_FAIL;
    still.fileName = m_fileName;
    still.requestedTime = m_grabParams.grabTime;
    still.enhance = m_grabParams.enhance && m_hasSse2;
    still.mainGrab = TRUE;
    DeliverStill(still, image);
  }
  for (POSITION pos = FindDueSnapshot(t); pos != nullptr; pos = FindDueSnapshot(t)) {
    std::unique_ptr<SnapshotRequest> request(m_snapshots.Remove(pos));
    const uint8_t* image = nullptr;
    if (!imageFor(request->enhance, &image)) return E_FAIL;
    still.fileName = request->fileName;
    still.requestedTime = request->time;
    still.enhance = request->enhance && m_hasSse2;
    still.mainGrab = FALSE;
    DeliverStill(still, image);
  }
  // A still that failed is consumed like one that was written: retrying it
  // on every later frame would repeat the failure (a full disk stays full)
  // and write a different frame than the one asked for.
  m_grabDone = TRUE;
  return S_OK;
}

void CFrameGrabFilter::DeliverStill(const FrameGrabStill& still, const uint8_t* image) {
  HRESULT hr = S_OK;
  if (m_stillSink != nullptr) {
    hr = m_stillSink->TakeStill(&still);
  } else if (!WriteJpegFile(still.fileName, still.width, still.height, image).empty()) {
    hr = E_FAIL;
  }
  if (SUCCEEDED(hr)) return;
  ++m_failedStills;
  NotifyEvent(EC_FRAMEGRAB_STILL_FAILED, static_cast<LONG_PTR>(hr), still.mainGrab ? 1 : 0);
}

STDMETHODIMP CFrameGrabFilter::SetStillSink(IFrameGrabStillSink* sink) {
  return ComGuard([&]() -> HRESULT {
    if (sink != nullptr) sink->AddRef();
    IFrameGrabStillSink* previous = nullptr;
    {
      CAutoLock lock(&m_settingsLock);
      previous = m_stillSink;
      m_stillSink = sink;
    }
    // Released outside the lock: the last reference may take the host's
    // own locks.
    if (previous != nullptr) previous->Release();
    return S_OK;
  });
}

STDMETHODIMP CFrameGrabFilter::GetFailedStills(LONG* count) {
  return ComGuard([&]() -> HRESULT {
    if (count == nullptr) return E_POINTER;
    CAutoLock lock(&m_settingsLock);
    *count = m_failedStills;
    return S_OK;
  });
}

// ---- IFrameGrabFilter -----------------------------------------------------------

STDMETHODIMP CFrameGrabFilter::GetGrabParams(GrabParams* params) {
  return ComGuard([&]() -> HRESULT {
    if (params == nullptr) return E_POINTER;
    CAutoLock lock(&m_settingsLock);
    *params = m_grabParams;
    return S_OK;
  });
}

STDMETHODIMP CFrameGrabFilter::SetGrabParams(GrabParams params) {
  return ComGuard([&]() -> HRESULT {
    CAutoLock lock(&m_settingsLock);
    m_grabParams = params;
    SetDirty(TRUE);
    return S_OK;
  });
}

STDMETHODIMP CFrameGrabFilter::AddSnapshot(SnapshotRequest* request) {
  return ComGuard([&]() -> HRESULT {
    // A null request is E_POINTER; a name not terminated within its 260
    // characters is E_INVALIDARG, so the list never holds a
    // name that would be read past its end.
    if (request == nullptr) return E_POINTER;
    bool terminated = false;
    for (size_t i = 0; i < kRequestNameChars && !terminated; ++i)
      terminated = request->fileName[i] == 0;
    if (!terminated) return E_INVALIDARG;
    auto copy = std::make_unique<SnapshotRequest>(*request);
    CAutoLock lock(&m_settingsLock);
    if (m_snapshots.AddTail(copy.get()) == nullptr) return E_OUTOFMEMORY;
    copy.release();
    return S_OK;
  });
}

STDMETHODIMP CFrameGrabFilter::SetFrameRate(int framesPerSecond) {
  return ComGuard([&]() -> HRESULT {
    // A rate of 0 or below has no frame period; it is refused with
    // E_INVALIDARG and the current half frame is kept.
    if (framesPerSecond <= 0) return E_INVALIDARG;
    CAutoLock lock(&m_settingsLock);
    m_halfFrame = kelvo::filter::HalfFrameFor(framesPerSecond);
    return S_OK;
  });
}

double CFrameGrabFilter::HalfFrame() {
  CAutoLock lock(&m_settingsLock);
  return m_halfFrame;
}

bool CFrameGrabFilter::GrabDone() {
  CAutoLock lock(&m_settingsLock);
  return m_grabDone != FALSE;
}

int CFrameGrabFilter::PendingSnapshots() {
  CAutoLock lock(&m_settingsLock);
  return m_snapshots.GetCount();
}

// ---- IFileSinkFilter ----------------------------------------------------------

STDMETHODIMP CFrameGrabFilter::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE*) {
  return ComGuard([&]() -> HRESULT {
    if (pszFileName == nullptr) return E_POINTER;
    // A name of 256 characters or more does not fit the 255 + 1 of the
    // output name; it is refused with E_INVALIDARG and the
    // current name is kept.
    size_t length = 0;
    while (length < kFileNameChars && pszFileName[length] != 0) ++length;
    if (length >= kFileNameChars) return E_INVALIDARG;
    CAutoLock lock(&m_settingsLock);
    for (size_t i = 0; i <= length; ++i) m_fileName[i] = pszFileName[i];
    return S_OK;
  });
}

STDMETHODIMP CFrameGrabFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE*) {
  return ComGuard([&]() -> HRESULT {
    if (ppszFileName == nullptr) return E_POINTER;
    // Before the first SetFileName the name is empty.
    CAutoLock lock(&m_settingsLock);
    size_t length = 0;
    while (m_fileName[length] != 0) ++length;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
    if (copy != nullptr)
      for (size_t i = 0; i <= length; ++i) copy[i] = m_fileName[i];
    *ppszFileName = copy;
    return S_OK;
  });
}

// ---- ISpecifyPropertyPages ----------------------------------------------------

STDMETHODIMP CFrameGrabFilter::GetPages(CAUUID* pPages) {
  return ComGuard([&]() -> HRESULT {
    if (pPages == nullptr) return E_POINTER;
    pPages->cElems = 1;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (pPages->pElems == nullptr) {
      pPages->cElems = 0;
      return E_OUTOFMEMORY;
    }
    pPages->pElems[0] = CLSID_FrameGrabFilterProperties;
    return S_OK;
  });
}

// ---- Persistence --------------------------------------------------------------

STDMETHODIMP CFrameGrabFilter::GetClassID(CLSID* pClsID) {
  return ComGuard([&]() -> HRESULT { return CBaseFilter::GetClassID(pClsID); });
}

// The record after the version: grabTime (8-byte double), grabEnabled
// (1 byte), enhance (1 byte).
HRESULT CFrameGrabFilter::WriteToStream(IStream* pStream) {
  return ComGuard([&]() -> HRESULT {
    GrabParams params;
    {
      CAutoLock lock(&m_settingsLock);
      params = m_grabParams;
    }
    const BYTE enabled = params.grabEnabled ? 1 : 0;
    const BYTE enhance = params.enhance ? 1 : 0;
    HRESULT hr = pStream->Write(&params.grabTime, sizeof(double), nullptr);
    if (SUCCEEDED(hr)) hr = pStream->Write(&enabled, 1, nullptr);
    if (SUCCEEDED(hr)) hr = pStream->Write(&enhance, 1, nullptr);
    return FAILED(hr) ? hr : S_OK;
  });
}

HRESULT CFrameGrabFilter::ReadFromStream(IStream* pStream) {
  return ComGuard([&]() -> HRESULT {
    double grabTime = 0.0;
    BYTE enabled = 0;
    BYTE enhance = 0;
    ULONG read = 0;
    HRESULT hr = pStream->Read(&grabTime, sizeof(double), &read);
    if (SUCCEEDED(hr) && read != sizeof(double)) hr = STG_E_READFAULT;
    if (SUCCEEDED(hr)) hr = pStream->Read(&enabled, 1, &read);
    if (SUCCEEDED(hr) && read != 1) hr = STG_E_READFAULT;
    if (SUCCEEDED(hr)) hr = pStream->Read(&enhance, 1, &read);
    if (SUCCEEDED(hr) && read != 1) hr = STG_E_READFAULT;
    // A short or failed read leaves the settings as they were.
    if (FAILED(hr)) return hr;
    CAutoLock lock(&m_settingsLock);
    m_grabParams = GrabParams{grabTime, enabled != 0, enhance != 0};
    return S_OK;
  });
}

const AMOVIESETUP_FILTER* CFrameGrabFilter::GetSetupData() {
  return &g_FrameGrabFilterSetup;
}
