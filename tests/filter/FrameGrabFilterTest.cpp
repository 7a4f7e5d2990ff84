// The frame grab filter in a real in-process graph: negotiation, grab
// timing, stills, control interfaces, property page, persistence,
// registration and activation.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "filter/CFrameGrabFilterProperties.h"
#include "filter/FrameGrabFilterSetup.h"
#include "filter/detail/ConvertFrame.h"
#include "platform/CMediaSample.h"
#include "platform/win32/ComRegistry.h"
#include "tests/filter/FilterTestSupport.h"
#include "tests/platform/MemoryStream.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 32;

std::vector<CMediaType> Yuy2Types(bool videoInfo2 = false, int w = kWidth, int h = kHeight) {
  std::vector<CMediaType> types;
  types.push_back(MakeVideoType(MEDIASUBTYPE_YUY2, 16, w, h, videoInfo2));
  return types;
}

REFERENCE_TIME Units(double seconds) {
  return static_cast<REFERENCE_TIME>(std::llround(seconds * 10000000.0));
}

SnapshotRequest Request(const fs::path& file, double time, bool enhance = false) {
  SnapshotRequest request{};
  const std::u16string name = Wide(file.string());
  std::copy(name.begin(), name.end(), request.fileName);
  request.time = time;
  request.enhance = enhance;
  return request;
}

// Restores the reported operating-system version after legacy tests.
class FrameGrabTest : public ::testing::Test {
 protected:
  void TearDown() override {
    KelvoSetReportedOsMajorVersion(0);
    KelvoSetReportedSse2(-1);
  }

  // The filter under test in a connected, running YUY2 graph.
  void StartGraph(std::vector<CMediaType> types = Yuy2Types()) {
    filter = NewFrameGrabFilter();
    ASSERT_NE(filter, nullptr);
    graph = std::make_unique<FilterGraph>(static_cast<IBaseFilter*>(filter), std::move(types));
    ASSERT_EQ(graph->Connect(), S_OK);
    ASSERT_EQ(graph->Run(), S_OK);
    frame = MakeQuadrantYuy2(kWidth, kHeight, &expected);
  }

  void SetMainGrab(double time, bool enabled, const fs::path& file) {
    ASSERT_EQ(filter->SetGrabParams(GrabParams{time, enabled, false}), S_OK);
    ASSERT_EQ(filter->SetFileName(Wide(file.string()).c_str(), nullptr), S_OK);
  }

  void ExpectStill(const fs::path& file) {
    BgrImage written;
    ASSERT_TRUE(ReadJpeg(file, &written)) << file;
    EXPECT_LE(MaxDifference(written, expected), 6) << file;
  }

  void TearDownGraph() {
    graph.reset();
    if (filter != nullptr) filter->Release();
    filter = nullptr;
  }

  ~FrameGrabTest() override { TearDownGraph(); }

  CFrameGrabFilter* filter = nullptr;
  std::unique_ptr<FilterGraph> graph;
  std::vector<BYTE> frame;
  BgrImage expected;
};

// ---- Media-type negotiation ------------------------------------------------------

TEST_F(FrameGrabTest, InputTypesAreCheckedAgainstTheOperatingSystemMode) {
  struct Case {
    bool legacy;
    const GUID* subtype;
    int bits;
    bool videoInfo2;
    HRESULT result;
  };
  const Case cases[] = {
      {false, &MEDIASUBTYPE_YUY2, 16, false, S_OK},
      {false, &MEDIASUBTYPE_YUY2, 16, true, S_OK},
      {false, &MEDIASUBTYPE_YUY2, 32, false, E_FAIL},
      {false, &MEDIASUBTYPE_RGB32, 32, false, E_FAIL},
      {true, &MEDIASUBTYPE_RGB32, 32, false, S_OK},
      {true, &MEDIASUBTYPE_RGB32, 32, true, S_OK},
      {true, &MEDIASUBTYPE_RGB32, 24, false, E_FAIL},
      {true, &MEDIASUBTYPE_YUY2, 16, false, E_FAIL},
  };
  for (const Case& c : cases) {
    KelvoSetReportedOsMajorVersion(c.legacy ? 5 : 0);
    CFrameGrabFilter* f = NewFrameGrabFilter();
    ASSERT_EQ(f->LegacyRgbInput(), c.legacy);
    CMediaType mt = MakeVideoType(*c.subtype, c.bits, 8, 8, c.videoInfo2);
    EXPECT_EQ(f->CheckInputType(&mt), c.result) << c.legacy << " " << c.bits;
    // Another major type fails the acceptance test; another format block
    // is refused before it.
    mt.SetType(&MEDIASUBTYPE_RGB24);
    EXPECT_EQ(f->CheckInputType(&mt), E_FAIL);
    mt.SetFormatType(&GUID_NULL);
    EXPECT_EQ(f->CheckInputType(&mt), E_INVALIDARG);
    f->Release();
  }
}

TEST_F(FrameGrabTest, OutputSubtypeMustMatchTheMode) {
  CFrameGrabFilter* f = NewFrameGrabFilter();
  CMediaType yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 8);
  CMediaType rgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 24, 8, 8);
  CMediaType rgb32 = MakeVideoType(MEDIASUBTYPE_RGB32, 32, 8, 8);
  EXPECT_EQ(f->CheckTransform(&yuy2, &rgb24), S_OK);
  EXPECT_EQ(f->CheckTransform(&yuy2, &rgb32), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f->CheckTransform(&rgb32, &rgb24), VFW_E_TYPE_NOT_ACCEPTED);
  f->Release();

  KelvoSetReportedOsMajorVersion(5);
  f = NewFrameGrabFilter();
  EXPECT_EQ(f->CheckTransform(&rgb32, &rgb32), S_OK);
  EXPECT_EQ(f->CheckTransform(&rgb32, &rgb24), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f->CheckTransform(&yuy2, &rgb24), VFW_E_TYPE_NOT_ACCEPTED);
  f->Release();
}

TEST_F(FrameGrabTest, ProposedOutputTypeIsBuiltFromTheInputFrame) {
  filter = NewFrameGrabFilter();
  CMediaType out;
  EXPECT_EQ(filter->GetMediaType(0, &out), E_UNEXPECTED);  // input not connected

  // Width 6 at 3 bytes per pixel: 18 bytes padded to 20; height sign kept.
  graph = std::make_unique<FilterGraph>(static_cast<IBaseFilter*>(filter),
                                        Yuy2Types(/*videoInfo2=*/true, 6, -4));
  ASSERT_EQ(graph->Connect(), S_OK);
  EXPECT_EQ(filter->GetMediaType(-1, &out), E_INVALIDARG);
  EXPECT_EQ(filter->GetMediaType(1, &out), VFW_S_NO_MORE_ITEMS);
  ASSERT_EQ(filter->GetMediaType(0, &out), S_OK);
  EXPECT_TRUE(IsEqualGUID(out.majortype, MEDIATYPE_Video));
  EXPECT_TRUE(IsEqualGUID(out.subtype, MEDIASUBTYPE_RGB24));
  EXPECT_TRUE(IsEqualGUID(out.formattype, FORMAT_VideoInfo));
  EXPECT_FALSE(out.IsTemporalCompressed());
  EXPECT_EQ(out.GetSampleSize(), 80u);
  ASSERT_EQ(out.cbFormat, sizeof(VIDEOINFOHEADER));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat);
  EXPECT_EQ(vih->AvgTimePerFrame, 333333);
  EXPECT_EQ(vih->dwBitRate, 17280u);  // 6*4*3*8 bits, 30.00003 times a second
  EXPECT_EQ(vih->dwBitErrorRate, 0u);
  EXPECT_EQ(vih->rcSource.right, 0);
  EXPECT_EQ(vih->bmiHeader.biSize, 40u);
  EXPECT_EQ(vih->bmiHeader.biWidth, 6);
  EXPECT_EQ(vih->bmiHeader.biHeight, -4);
  EXPECT_EQ(vih->bmiHeader.biPlanes, 1);
  EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
  EXPECT_EQ(vih->bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(vih->bmiHeader.biSizeImage, 80u);

  // The connection agreed on exactly that type.
  AM_MEDIA_TYPE connected{};
  ASSERT_EQ(graph->filterOut->ConnectionMediaType(&connected), S_OK);
  EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
  FreeMediaType(connected);
}

TEST_F(FrameGrabTest, LegacyModeProposesTheInputPixelSize) {
  KelvoSetReportedOsMajorVersion(5);
  filter = NewFrameGrabFilter();
  std::vector<CMediaType> types;
  types.push_back(MakeVideoType(MEDIASUBTYPE_RGB32, 32, 5, 2));
  graph = std::make_unique<FilterGraph>(static_cast<IBaseFilter*>(filter), std::move(types));
  ASSERT_EQ(graph->Connect(), S_OK);
  CMediaType out;
  ASSERT_EQ(filter->GetMediaType(0, &out), S_OK);
  EXPECT_TRUE(IsEqualGUID(out.subtype, MEDIASUBTYPE_RGB32));
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat);
  EXPECT_EQ(vih->bmiHeader.biBitCount, 32);
  EXPECT_EQ(out.GetSampleSize(), 40u);
}

// The input takes the acceptable one of the offered types; the output
// cannot connect before the input.
TEST_F(FrameGrabTest, ConnectionPicksTheAcceptableOfferedTypeInputFirst) {
  filter = NewFrameGrabFilter();
  std::vector<CMediaType> types;
  types.push_back(MakeVideoType(MEDIASUBTYPE_RGB32, 32, 8, 8));
  types.push_back(MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 8));
  graph = std::make_unique<FilterGraph>(static_cast<IBaseFilter*>(filter), std::move(types));
  EXPECT_TRUE(FAILED(graph->filterOut->Connect(graph->sinkIn, nullptr)));
  ASSERT_EQ(graph->Connect(), S_OK);
  AM_MEDIA_TYPE in{};
  ASSERT_EQ(graph->filterIn->ConnectionMediaType(&in), S_OK);
  EXPECT_TRUE(IsEqualGUID(in.subtype, MEDIASUBTYPE_YUY2));
  FreeMediaType(in);
}

// The output buffers are sized for the input frame, not the output type.
TEST_F(FrameGrabTest, OutputAllocatorHoldsOneInputSizedBuffer) {
  StartGraph(Yuy2Types(false, 6, 4));
  ComPtr<IMemInputPin> sinkInput;
  ASSERT_EQ(graph->sinkIn->QueryInterface(IID_IMemInputPin, sinkInput.PutVoid()), S_OK);
  ComPtr<IMemAllocator> allocator;
  ASSERT_EQ(sinkInput->GetAllocator(allocator.Put()), S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 1);
  EXPECT_EQ(props.cbBuffer, 48);  // 6 * 2 bytes * 4 rows
}

// An allocator that answers SetProperties as told.
class ScriptedAllocator final : public IMemAllocator {
 public:
  HRESULT result = S_OK;
  long grantBuffers = 1;
  long grantBytes = 0;
  ALLOCATOR_PROPERTIES asked{};
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    asked = *request;
    *actual = *request;
    actual->cBuffers = grantBuffers;
    actual->cbBuffer = grantBytes;
    return result;
  }
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit() override { return S_OK; }
  STDMETHODIMP Decommit() override { return S_OK; }
  STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }
};

TEST_F(FrameGrabTest, BufferSizeDecisionReportsAllocatorShortfalls) {
  filter = NewFrameGrabFilter();
  ScriptedAllocator allocator;
  ALLOCATOR_PROPERTIES props{};
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_UNEXPECTED);
  filter->Release();

  StartGraph(Yuy2Types(false, 6, 4));
  allocator.grantBytes = 48;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), S_OK);
  EXPECT_EQ(allocator.asked.cBuffers, 1);
  EXPECT_EQ(allocator.asked.cbBuffer, 48);
  allocator.grantBytes = 47;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_FAIL);
  allocator.grantBytes = 48;
  allocator.grantBuffers = 0;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_FAIL);
  allocator.result = E_ACCESSDENIED;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_ACCESSDENIED);
}

// ---- Grab timing and stills --------------------------------------------------------

TEST_F(FrameGrabTest, MainGrabFiresOnceOnTheFirstFrameWithinHalfAFrame) {
  StartGraph();
  const fs::path dir = FreshDirectory("main");
  SetMainGrab(1.0, true, dir / "main.jpg");
  ASSERT_EQ(filter->SetFrameRate(25), S_OK);  // half frame 0.02

  ASSERT_EQ(graph->Push(frame, 0.97), S_OK);
  EXPECT_FALSE(fs::exists(dir / "main.jpg"));
  EXPECT_FALSE(filter->GrabDone());
  ASSERT_EQ(graph->Push(frame, 0.98), S_OK);  // 0.98 + 0.02 >= 1.0
  ExpectStill(dir / "main.jpg");
  EXPECT_TRUE(filter->GrabDone());

  fs::remove(dir / "main.jpg");
  ASSERT_EQ(graph->Push(frame, 1.5), S_OK);
  EXPECT_FALSE(fs::exists(dir / "main.jpg"));
  // Every frame was passed on with its times, grabbed or not.
  std::lock_guard<std::mutex> lock(graph->sink->mutex);
  ASSERT_EQ(graph->sink->received.size(), 3u);
  EXPECT_EQ(graph->sink->received[1].start, Units(0.98));
  EXPECT_EQ(graph->sink->received[1].stop, Units(0.98) + 333333);
}

TEST_F(FrameGrabTest, MainGrabWaitsForEnableAndForAFileName) {
  StartGraph();
  const fs::path dir = FreshDirectory("pending");
  ASSERT_EQ(filter->SetGrabParams(GrabParams{0.0, false, false}), S_OK);
  ASSERT_EQ(filter->SetFileName(Wide((dir / "a.jpg").string()).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
  EXPECT_FALSE(fs::exists(dir / "a.jpg"));

  // Enabled but without a name: stays pending, grabDone unchanged.
  filter->Release();
  graph.reset();
  filter = nullptr;
  StartGraph();
  ASSERT_EQ(filter->SetGrabParams(GrabParams{0.0, true, false}), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
  EXPECT_FALSE(filter->GrabDone());
  EXPECT_TRUE(fs::is_empty(dir));
  ASSERT_EQ(filter->SetFileName(Wide((dir / "b.jpg").string()).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.04), S_OK);
  ExpectStill(dir / "b.jpg");
  EXPECT_TRUE(filter->GrabDone());
}

TEST_F(FrameGrabTest, RequestIsServedInsideItsOpenInterval) {
  StartGraph();
  const fs::path dir = FreshDirectory("interval");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);  // half frame 0.01667: (1.995, 2.02834)
  SnapshotRequest request = Request(dir / "r.jpg", 2.0);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);

  for (double t : {1.9, 1.995, 2.0284, 2.1}) {
    const REFERENCE_TIME start = Units(t);
    ASSERT_EQ(graph->source->Push(frame, &start), S_OK);
    EXPECT_FALSE(fs::exists(dir / "r.jpg")) << t;
  }
  EXPECT_EQ(filter->PendingSnapshots(), 1);
  const REFERENCE_TIME inside = Units(2.0283);
  ASSERT_EQ(graph->source->Push(frame, &inside), S_OK);
  ExpectStill(dir / "r.jpg");
  EXPECT_EQ(filter->PendingSnapshots(), 0);
  EXPECT_TRUE(filter->GrabDone());
}

TEST_F(FrameGrabTest, WithoutAFrameRateNoRequestIsEverDue) {
  StartGraph();
  const fs::path dir = FreshDirectory("norate");
  SnapshotRequest request = Request(dir / "r.jpg", 0.5);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);
  SetMainGrab(0.5, true, dir / "main.jpg");
  for (double t : {0.46, 0.495, 0.5}) ASSERT_EQ(graph->Push(frame, t), S_OK);
  EXPECT_FALSE(fs::exists(dir / "r.jpg"));
  EXPECT_EQ(filter->PendingSnapshots(), 1);
  ExpectStill(dir / "main.jpg");  // fired at t = 0.5 exactly
}

TEST_F(FrameGrabTest, AllTargetsDueOnOneFrameAreWrittenFromIt) {
  StartGraph();
  const fs::path dir = FreshDirectory("several");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SetMainGrab(1.0, true, dir / "main.jpg");
  SnapshotRequest first = Request(dir / "first.jpg", 1.0);
  SnapshotRequest second = Request(dir / "second.jpg", 1.01);
  SnapshotRequest later = Request(dir / "later.jpg", 3.0);
  ASSERT_EQ(filter->AddSnapshot(&first), S_OK);
  ASSERT_EQ(filter->AddSnapshot(&later), S_OK);
  ASSERT_EQ(filter->AddSnapshot(&second), S_OK);

  ASSERT_EQ(graph->Push(frame, 1.01), S_OK);
  ExpectStill(dir / "main.jpg");
  ExpectStill(dir / "first.jpg");
  ExpectStill(dir / "second.jpg");
  EXPECT_FALSE(fs::exists(dir / "later.jpg"));
  EXPECT_EQ(filter->PendingSnapshots(), 1);
}

TEST_F(FrameGrabTest, AServedRequestEndsTheMainGrab) {
  StartGraph();
  const fs::path dir = FreshDirectory("served");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SetMainGrab(1.0, true, dir / "main.jpg");
  SnapshotRequest early = Request(dir / "early.jpg", 0.5);
  ASSERT_EQ(filter->AddSnapshot(&early), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.5), S_OK);
  ExpectStill(dir / "early.jpg");
  ASSERT_EQ(graph->Push(frame, 1.0), S_OK);
  EXPECT_FALSE(fs::exists(dir / "main.jpg"));

  // Requests are still served, each once.
  SnapshotRequest again = Request(dir / "again.jpg", 2.0);
  ASSERT_EQ(filter->AddSnapshot(&again), S_OK);
  ASSERT_EQ(graph->Push(frame, 2.0), S_OK);
  ExpectStill(dir / "again.jpg");
  fs::remove(dir / "again.jpg");
  ASSERT_EQ(graph->Push(frame, 2.01), S_OK);
  EXPECT_FALSE(fs::exists(dir / "again.jpg"));
}

// Frames smaller than the enhancement's own minimum are enhanced all the
// same (padded and cropped back): the still keeps the frame's size.
TEST_F(FrameGrabTest, SmallFramesAreEnhancedToo) {
  StartGraph();
  const fs::path dir = FreshDirectory("small-enhanced");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SetMainGrab(0.0, true, dir / "main.jpg");
  ASSERT_EQ(filter->SetGrabParams(GrabParams{0.0, true, true}), S_OK);
  SnapshotRequest plain = Request(dir / "plain.jpg", 0.0);
  ASSERT_EQ(filter->AddSnapshot(&plain), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
  BgrImage enhanced, unenhanced;
  ASSERT_TRUE(ReadJpeg(dir / "main.jpg", &enhanced));
  ASSERT_TRUE(ReadJpeg(dir / "plain.jpg", &unenhanced));
  EXPECT_EQ(enhanced.width, kWidth);
  EXPECT_EQ(enhanced.height, kHeight);
  EXPECT_GT(MaxDifference(enhanced, unenhanced), 6);
}

// Without SSE2 the enhancement never runs: every target gets the frame as
// converted, whatever its enhance flag.
TEST_F(FrameGrabTest, WithoutSse2EnhancedTargetsGetTheConvertedFrame) {
  KelvoSetReportedSse2(0);
  StartGraph();
  const fs::path dir = FreshDirectory("nosse2");
  ASSERT_EQ(filter->SetGrabParams(GrabParams{0.0, true, true}), S_OK);
  ASSERT_EQ(filter->SetFileName(Wide((dir / "main.jpg").string()).c_str(), nullptr), S_OK);
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SnapshotRequest request = Request(dir / "r.jpg", 0.0, /*enhance=*/true);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);
  ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
  ExpectStill(dir / "main.jpg");
  ExpectStill(dir / "r.jpg");
}

TEST_F(FrameGrabTest, UntimedSamplesArePassedOnAndNeverGrabbed) {
  StartGraph();
  const fs::path dir = FreshDirectory("untimed");
  SetMainGrab(0.0, true, dir / "main.jpg");
  ASSERT_EQ(graph->PushUntimed(frame), S_OK);
  EXPECT_FALSE(fs::exists(dir / "main.jpg"));
  EXPECT_FALSE(filter->GrabDone());
  std::lock_guard<std::mutex> lock(graph->sink->mutex);
  ASSERT_EQ(graph->sink->received.size(), 1u);
  EXPECT_FALSE(graph->sink->received[0].hasTime);
}

TEST_F(FrameGrabTest, ShortFrameFailsUpstreamAndKeepsTheTargets) {
  StartGraph();
  const fs::path dir = FreshDirectory("short");
  SetMainGrab(0.0, true, dir / "main.jpg");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SnapshotRequest request = Request(dir / "r.jpg", 0.0);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);
  std::vector<BYTE> half(frame.begin(), frame.begin() + static_cast<long>(frame.size() / 2));
  EXPECT_EQ(graph->Push(half, 0.0), E_FAIL);
  EXPECT_FALSE(filter->GrabDone());
  EXPECT_EQ(filter->PendingSnapshots(), 1);
  EXPECT_TRUE(fs::is_empty(dir));
  {
    std::lock_guard<std::mutex> lock(graph->sink->mutex);
    EXPECT_TRUE(graph->sink->received.empty());  // nothing delivered on failure
  }
  ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
  ExpectStill(dir / "main.jpg");
  ExpectStill(dir / "r.jpg");
}

TEST_F(FrameGrabTest, FrameDescriptionAttachedToTheSampleWins) {
  StartGraph(Yuy2Types(false, 64, 64));
  const fs::path dir = FreshDirectory("attached");
  SetMainGrab(0.0, true, dir / "main.jpg");
  // A 32 x 32 frame announced on the sample itself, in a 64 x 64 stream.
  CMediaType smallType = MakeVideoType(MEDIASUBTYPE_YUY2, 16, kWidth, kHeight, true);
  const REFERENCE_TIME start = 0;
  ASSERT_EQ(graph->source->Push(frame, &start, &smallType), S_OK);
  BgrImage written;
  ASSERT_TRUE(ReadJpeg(dir / "main.jpg", &written));
  EXPECT_EQ(written.width, kWidth);
  EXPECT_LE(MaxDifference(written, expected), 6);
}

TEST_F(FrameGrabTest, LegacyRgb32FramesAreWrittenTopRowFirst) {
  KelvoSetReportedOsMajorVersion(5);
  std::vector<CMediaType> types;
  types.push_back(MakeVideoType(MEDIASUBTYPE_RGB32, 32, 16, 48));
  StartGraph(std::move(types));
  const fs::path dir = FreshDirectory("legacy");
  SetMainGrab(0.0, true, dir / "main.jpg");
  BgrImage bands;
  std::vector<BYTE> rgb = MakeBandedRgb32(16, 48, &bands);
  ASSERT_EQ(graph->Push(rgb, 0.0), S_OK);
  BgrImage written;
  ASSERT_TRUE(ReadJpeg(dir / "main.jpg", &written));
  EXPECT_LE(MaxDifference(written, bands), 6);
}

TEST_F(FrameGrabTest, NewSegmentEndOfStreamAndFlushReachDownstream) {
  StartGraph();
  EXPECT_EQ(graph->filterIn->NewSegment(100, 900, 2.0), S_OK);
  EXPECT_EQ(graph->filterIn->BeginFlush(), S_OK);
  EXPECT_EQ(graph->Push(frame, 0.0), S_FALSE);  // refused while flushing
  EXPECT_EQ(graph->filterIn->EndFlush(), S_OK);
  EXPECT_EQ(graph->filterIn->EndOfStream(), S_OK);
  std::lock_guard<std::mutex> lock(graph->sink->mutex);
  EXPECT_EQ(graph->sink->segmentStart, 100);
  EXPECT_EQ(graph->sink->segmentStop, 900);
  EXPECT_EQ(graph->sink->segmentRate, 2.0);
  EXPECT_EQ(graph->sink->beginFlushes, 1);
  EXPECT_EQ(graph->sink->endFlushes, 1);
  EXPECT_EQ(graph->sink->endOfStreams, 1);
  EXPECT_TRUE(graph->sink->received.empty());
}

TEST_F(FrameGrabTest, StoppedFilterRefusesSamples) {
  StartGraph();
  IMediaSample* sample = nullptr;
  ASSERT_EQ(graph->source->Pin()->GetDeliveryBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 0, stop = 1;
  sample->SetTime(&start, &stop);
  ASSERT_EQ(graph->filter->Stop(), S_OK);
  FILTER_STATE state;
  ASSERT_EQ(graph->filter->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Stopped);
  ComPtr<IMemInputPin> input;
  ASSERT_EQ(graph->filterIn->QueryInterface(IID_IMemInputPin, input.PutVoid()), S_OK);
  EXPECT_EQ(input->Receive(sample), VFW_E_WRONG_STATE);
  sample->Release();
  // Stopping decommitted the shared allocator: the source gets no buffer.
  EXPECT_EQ(graph->Push(frame, 0.0), VFW_E_NOT_COMMITTED);
  std::lock_guard<std::mutex> lock(graph->sink->mutex);
  EXPECT_TRUE(graph->sink->received.empty());
}

// A frame on which nothing is due is not read: its pixels sit on pages
// that fault on any access.
TEST_F(FrameGrabTest, NothingDueFrameIsNotRead) {
  StartGraph();
  const fs::path dir = FreshDirectory("untouched");
  SetMainGrab(50.0, true, dir / "main.jpg");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  SnapshotRequest request = Request(dir / "r.jpg", 60.0);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);

  const size_t bytes = frame.size();
  void* guarded = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(guarded, MAP_FAILED);
  // A sample without an allocator lends the guarded pages as its frame.
  CMediaSample sample(nullptr, nullptr, 0);
  ASSERT_EQ(sample.SetPointer(static_cast<BYTE*>(guarded), static_cast<long>(bytes)), S_OK);
  for (double t : {0.0, 49.9, 49.98}) {
    REFERENCE_TIME start = Units(t), stop = start + 1;
    sample.SetTime(&start, &stop);
    EXPECT_EQ(filter->Transform(&sample, nullptr), S_OK) << t;
  }
  munmap(guarded, bytes);
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_FALSE(filter->GrabDone());
}

// A request queued from another thread while frames stream is either served
// from one frame or still pending; none is lost or served twice.
TEST_F(FrameGrabTest, RequestsMayBeQueuedWhileFramesStream) {
  StartGraph();
  const fs::path dir = FreshDirectory("concurrent");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  constexpr int kRequests = 120;
  constexpr int kFrames = 240;
  std::atomic<bool> go{false};
  std::thread host([&] {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < kRequests; ++i) {
      // Times spread over the stream and beyond its end.
      char name[32];
      std::snprintf(name, sizeof name, "r%d.jpg", i);
      SnapshotRequest r = Request(dir / name, (i * 3) / 30.0);
      EXPECT_EQ(filter->AddSnapshot(&r), S_OK);
      filter->SetGrabParams(GrabParams{100.0, false, false});
    }
  });
  go = true;
  for (int f = 0; f < kFrames; ++f) ASSERT_EQ(graph->Push(frame, f / 30.0), S_OK);
  host.join();
  int written = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    (void)entry;
    ++written;
  }
  EXPECT_EQ(written + filter->PendingSnapshots(), kRequests);
}

// ---- Failed stills and the still sink ---------------------------------------------

// A graph that only takes events: what the filter tells its graph.
class EventRecorder : public IFilterGraph, public IMediaEventSink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IMediaEventSink)) {
      *ppv = static_cast<IMediaEventSink*>(this);
    } else if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IFilterGraph)) {
      *ppv = static_cast<IFilterGraph*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
  STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
  STDMETHODIMP Notify(long code, LONG_PTR p1, LONG_PTR p2) override {
    events.push_back({code, p1, p2});
    return S_OK;
  }
  struct Event {
    long code;
    LONG_PTR p1, p2;
  };
  std::vector<Event> events;
  ULONG refs = 1;
};

TEST_F(FrameGrabTest, UnwritableStillIsReportedAndTheStreamGoesOn) {
  StartGraph();
  EventRecorder events;
  ASSERT_EQ(filter->JoinFilterGraph(&events, u"grab"), S_OK);
  const fs::path dir = FreshDirectory("unwritable");
  ASSERT_EQ(filter->SetFrameRate(25), S_OK);
  SetMainGrab(0.0, true, "/nonexistent-kelvo-dir/still.jpg");
  SnapshotRequest request = Request(dir / "r.jpg", 0.0);
  ASSERT_EQ(filter->AddSnapshot(&request), S_OK);

  EXPECT_EQ(graph->Push(frame, 0.0), S_OK);
  ExpectStill(dir / "r.jpg");
  LONG failed = -1;
  EXPECT_EQ(filter->GetFailedStills(&failed), S_OK);
  EXPECT_EQ(failed, 1);
  ASSERT_EQ(events.events.size(), 1u);
  EXPECT_EQ(events.events[0].code, EC_FRAMEGRAB_STILL_FAILED);
  EXPECT_EQ(events.events[0].p1, static_cast<LONG_PTR>(E_FAIL));
  EXPECT_EQ(events.events[0].p2, 1);  // the main grab

  // The main grab was consumed: later frames do not retry it.
  EXPECT_TRUE(filter->GrabDone());
  EXPECT_EQ(graph->Push(frame, 0.04), S_OK);
  EXPECT_EQ(filter->GetFailedStills(&failed), S_OK);
  EXPECT_EQ(failed, 1);
  ASSERT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
}

// Records what the filter hands over; refuses the stills named "refuse".
class RecordingSink : public IFrameGrabStillSink {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IFrameGrabStillSink)) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IFrameGrabStillSink*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP TakeStill(const FrameGrabStill* still) override {
    const std::u16string name(reinterpret_cast<const char16_t*>(still->fileName));
    Taken t{std::string(name.begin(), name.end()), still->requestedTime, still->frameTime,
            still->enhance != FALSE, still->mainGrab != FALSE, {}};
    t.image.width = still->width;
    t.image.height = still->height;
    t.image.pixels.assign(still->pixels, still->pixels + 3 * still->width * still->height);
    taken.push_back(std::move(t));
    return taken.back().file == "refuse" ? E_FAIL : S_OK;
  }
  struct Taken {
    std::string file;
    double requested, frame;
    bool enhance, main;
    BgrImage image;
  };
  std::vector<Taken> taken;
  ULONG refs = 1;
};

TEST_F(FrameGrabTest, StillSinkTakesEveryStillInsteadOfTheWriter) {
  StartGraph();
  RecordingSink sink;
  {
    IFrameGrabStillOutput* output = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IFrameGrabStillOutput, reinterpret_cast<void**>(&output)),
              S_OK);
    ASSERT_EQ(output->SetStillSink(&sink), S_OK);
    output->Release();
  }
  EXPECT_EQ(sink.refs, 2u);
  const fs::path dir = FreshDirectory("sink");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  ASSERT_EQ(filter->SetGrabParams(GrabParams{1.0, true, true}), S_OK);
  ASSERT_EQ(filter->SetFileName(u"main", nullptr), S_OK);
  SnapshotRequest first = Request("first", 1.0, /*enhance=*/false);
  SnapshotRequest refused = Request("refuse", 1.01, /*enhance=*/true);
  ASSERT_EQ(filter->AddSnapshot(&first), S_OK);
  ASSERT_EQ(filter->AddSnapshot(&refused), S_OK);

  ASSERT_EQ(graph->Push(frame, 1.01), S_OK);
  // The main grab first, then the requests in queue order, all from the one
  // frame as converted: the sink does the enhancing.
  ASSERT_EQ(sink.taken.size(), 3u);
  const char* files[] = {"main", "first", "refuse"};
  const double requested[] = {1.0, 1.0, 1.01};
  const bool enhance[] = {true, false, true};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(files[i]);
    EXPECT_EQ(sink.taken[i].file, files[i]);
    EXPECT_EQ(sink.taken[i].requested, requested[i]);
    EXPECT_EQ(sink.taken[i].frame, 1.01);
    EXPECT_EQ(sink.taken[i].enhance, enhance[i]);
    EXPECT_EQ(sink.taken[i].main, i == 0);
    EXPECT_EQ(sink.taken[i].image.pixels, expected.pixels);
  }
  LONG failed = -1;
  EXPECT_EQ(filter->GetFailedStills(&failed), S_OK);
  EXPECT_EQ(failed, 1);
  EXPECT_TRUE(fs::is_empty(dir));

  // Without a sink the filter writes again, and lets the sink go.
  IFrameGrabStillOutput* output = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IFrameGrabStillOutput, reinterpret_cast<void**>(&output)),
            S_OK);
  ASSERT_EQ(output->SetStillSink(nullptr), S_OK);
  output->Release();
  EXPECT_EQ(sink.refs, 1u);
  SnapshotRequest written = Request(dir / "written.jpg", 2.0);
  ASSERT_EQ(filter->AddSnapshot(&written), S_OK);
  ASSERT_EQ(graph->Push(frame, 2.0), S_OK);
  ExpectStill(dir / "written.jpg");
  EXPECT_EQ(sink.taken.size(), 3u);
}

// ---- Frame conversion, checked byte for byte ------------------------------------

TEST(FrameConversionTest, Rgb32DropsAlphaAndReversesRows) {
  // Height 3: rows 0 and 2 swap, row 1 stays.
  const uint8_t input[3 * 2 * 4] = {1,  2,  3,  99, 4,  5,  6,  99, 7,  8,  9,  99,
                                    10, 11, 12, 99, 13, 14, 15, 99, 16, 17, 18, 99};
  uint8_t out[3 * 2 * 3];
  kelvo::filter::detail::ConvertRgb32ToBgr(input, 8, 4, 2, 3, out);
  const uint8_t bottomUp[] = {13, 14, 15, 16, 17, 18, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(bottomUp)));
  // A top-down frame is already top row first.
  kelvo::filter::detail::ConvertRgb32ToBgr(input, 8, 4, 2, -3, out);
  const uint8_t topDown[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(topDown)));
}

TEST(FrameConversionTest, Yuy2FollowsTheStudioRangeFormula) {
  const int width = 6, height = 3;
  std::vector<uint8_t> input(width * height * 2);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>((i * 73 + 11) % 256);
  input[0] = 16, input[1] = 128, input[2] = 235, input[3] = 128;  // black and near-white pair
  std::vector<uint8_t> out(width * height * 3, 0xCD);
  ASSERT_TRUE(
      kelvo::filter::detail::ConvertYuy2ToBgr(input.data(), width * 2, width, height, out.data()));
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 254);
  EXPECT_EQ(out[5], 254);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* pair = &input[(row * width + (x & ~1)) * 2];
      uint8_t bgr[3];
      Yuy2PixelToBgr(pair[(x & 1) * 2], pair[1], pair[3], bgr);
      for (int c = 0; c < 3; ++c)
        EXPECT_EQ(out[(row * width + x) * 3 + c], bgr[c]) << row << "," << x << "," << c;
    }
  }
  EXPECT_FALSE(kelvo::filter::detail::ConvertYuy2ToBgr(input.data(), 2, 1, 1, out.data()));
}

}  // namespace
