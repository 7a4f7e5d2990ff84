// The frame grab filter in a real in-process graph: negotiation, grab
// timing, stills, failed stills and the still sink, frame conversion.

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <thread>

#include "filter/detail/ConvertFrame.h"
#include "platform/CMediaSample.h"
#include "tests/filter/FilterTestSupport.h"

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

  void Queue(const fs::path& file, double time, bool enhance = false) {
    SnapshotRequest request = Request(file, time, enhance);
    ASSERT_EQ(filter->AddSnapshot(&request), S_OK);
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

TEST_F(FrameGrabTest, InputAndOutputTypesMustMatchTheOperatingSystemMode) {
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

  const CMediaType yuy2 = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 8);
  const CMediaType rgb24 = MakeVideoType(MEDIASUBTYPE_RGB24, 24, 8, 8);
  const CMediaType rgb32 = MakeVideoType(MEDIASUBTYPE_RGB32, 32, 8, 8);
  for (const bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy" : "current");
    KelvoSetReportedOsMajorVersion(legacy ? 5 : 0);
    CFrameGrabFilter* f = NewFrameGrabFilter();
    const CMediaType& in = legacy ? rgb32 : yuy2;
    const CMediaType& out = legacy ? rgb32 : rgb24;
    EXPECT_EQ(f->CheckTransform(&in, &out), S_OK);
    EXPECT_EQ(f->CheckTransform(&in, legacy ? &rgb24 : &rgb32), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(f->CheckTransform(legacy ? &yuy2 : &rgb32, &out), VFW_E_TYPE_NOT_ACCEPTED);
    f->Release();
  }
}

// The input takes the acceptable one of the offered types. The output keeps
// the input's size and frame duration in the mode's pixel format; rows are
// padded to 4 bytes and the height's sign is kept.
TEST_F(FrameGrabTest, ConnectionTakesTheAcceptableTypeAndProposesTheOutputFromIt) {
  struct Case {
    bool legacy;
    const GUID* in;
    int bits, width, height;
    bool videoInfo2;
    const GUID* out;
    int outBits;
    ULONG size;
    DWORD bitRate;
  };
  const Case cases[] = {
      // 6 * 3 = 18 bytes a row padded to 20; 6*4*3*8 bits 30.00003 times a second.
      {false, &MEDIASUBTYPE_YUY2, 16, 6, -4, true, &MEDIASUBTYPE_RGB24, 24, 80, 17280},
      {true, &MEDIASUBTYPE_RGB32, 32, 5, 2, false, &MEDIASUBTYPE_RGB32, 32, 40, 9600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legacy ? "legacy" : "current");
    KelvoSetReportedOsMajorVersion(c.legacy ? 5 : 0);
    TearDownGraph();
    filter = NewFrameGrabFilter();
    CMediaType out;
    EXPECT_EQ(filter->GetMediaType(0, &out), E_UNEXPECTED);  // input not connected
    std::vector<CMediaType> types;
    // The other mode's type is offered first.
    types.push_back(c.legacy ? MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 8)
                             : MakeVideoType(MEDIASUBTYPE_RGB32, 32, 8, 8));
    types.push_back(MakeVideoType(*c.in, c.bits, c.width, c.height, c.videoInfo2));
    graph = std::make_unique<FilterGraph>(static_cast<IBaseFilter*>(filter), std::move(types));
    // The output cannot connect before the input.
    EXPECT_TRUE(FAILED(graph->filterOut->Connect(graph->sinkIn, nullptr)));
    ASSERT_EQ(graph->Connect(), S_OK);
    AM_MEDIA_TYPE in{};
    ASSERT_EQ(graph->filterIn->ConnectionMediaType(&in), S_OK);
    EXPECT_TRUE(IsEqualGUID(in.subtype, *c.in));
    FreeMediaType(in);
    EXPECT_EQ(filter->GetMediaType(-1, &out), E_INVALIDARG);
    EXPECT_EQ(filter->GetMediaType(1, &out), VFW_S_NO_MORE_ITEMS);
    ASSERT_EQ(filter->GetMediaType(0, &out), S_OK);
    EXPECT_TRUE(IsEqualGUID(out.majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(out.subtype, *c.out));
    EXPECT_TRUE(IsEqualGUID(out.formattype, FORMAT_VideoInfo));
    EXPECT_FALSE(out.IsTemporalCompressed());
    EXPECT_EQ(out.GetSampleSize(), c.size);
    ASSERT_EQ(out.cbFormat, sizeof(VIDEOINFOHEADER));
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.pbFormat);
    EXPECT_EQ(vih->AvgTimePerFrame, 333333);
    EXPECT_EQ(vih->dwBitRate, c.bitRate);
    EXPECT_EQ(vih->bmiHeader.biWidth, c.width);
    EXPECT_EQ(vih->bmiHeader.biHeight, c.height);
    EXPECT_EQ(vih->bmiHeader.biBitCount, c.outBits);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, c.size);
    // The connection agreed on exactly that type.
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(graph->filterOut->ConnectionMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, *c.out));
    FreeMediaType(connected);
  }
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

// The output buffers are sized for the input frame, not the output type.
TEST_F(FrameGrabTest, BufferSizeDecisionAsksForOneInputSizedBuffer) {
  filter = NewFrameGrabFilter();
  ScriptedAllocator allocator;
  ALLOCATOR_PROPERTIES props{};
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_UNEXPECTED);
  TearDownGraph();

  StartGraph(Yuy2Types(false, 6, 4));
  allocator.grantBytes = 48;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), S_OK);
  EXPECT_EQ(allocator.asked.cBuffers, 1);
  EXPECT_EQ(allocator.asked.cbBuffer, 48);  // 6 * 2 bytes * 4 rows
  allocator.grantBytes = 47;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_FAIL);
  allocator.grantBytes = 48;
  allocator.grantBuffers = 0;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_FAIL);
  allocator.result = E_ACCESSDENIED;
  EXPECT_EQ(filter->DecideBufferSize(&allocator, &props), E_ACCESSDENIED);
}

// ---- Grab timing and stills --------------------------------------------------------

// One stream through a fresh filter: the main grab and the requests set up
// first, then frames, each followed by the stills it wrote (which are then
// removed, so a still written twice shows).
struct Scenario {
  const char* what;
  int fps;  // 0: never set, so there is no half frame
  double mainTime;
  bool mainEnabled;
  size_t namedFrom;  // the main grab's file is named before this frame
  std::vector<std::pair<std::string, double>> requests;
  std::vector<std::pair<double, std::vector<std::string>>> frames;
  int pendingAfter;
};

TEST_F(FrameGrabTest, StillsComeFromTheFramesTheTimingRuleNames) {
  // clang-format off
  const Scenario scenarios[] = {
      // Half a frame at 25 fps is 0.02: 0.98 + 0.02 reaches 1.0.
      {"main grab once, within half a frame", 25, 1.0, true, 0, {},
       {{0.97, {}}, {0.98, {"main"}}, {1.5, {}}}, 0},
      {"main grab disabled", 25, 0.0, false, 0, {}, {{0.0, {}}, {0.04, {}}}, 0},
      {"main grab waits for a file name", 25, 0.0, true, 1, {}, {{0.0, {}}, {0.04, {"main"}}}, 0},
      // Half a frame at 30 fps is 0.01667: the open interval (1.995, 2.02834).
      {"request inside its open interval", 30, 0.0, false, 0, {{"r", 2.0}},
       {{1.9, {}}, {1.995, {}}, {2.0284, {}}, {2.1, {}}, {2.0283, {"r"}}}, 0},
      {"without a frame rate no request is due", 0, 0.5, true, 0, {{"r", 0.5}},
       {{0.46, {}}, {0.495, {}}, {0.5, {"main"}}}, 1},
      {"all due on one frame", 30, 1.0, true, 0, {{"first", 1.0}, {"later", 3.0}, {"second", 1.01}},
       {{1.01, {"first", "main", "second"}}}, 1},
      {"a served request ends the main grab", 30, 1.0, true, 0, {{"early", 0.5}, {"again", 2.0}},
       {{0.5, {"early"}}, {1.0, {}}, {2.0, {"again"}}, {2.01, {}}}, 0},
  };
  // clang-format on
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    TearDownGraph();
    StartGraph();
    const fs::path dir = FreshDirectory("timing");
    if (s.fps != 0) {
      ASSERT_EQ(filter->SetFrameRate(s.fps), S_OK);
    }
    ASSERT_EQ(filter->SetGrabParams(GrabParams{s.mainTime, s.mainEnabled, false}), S_OK);
    for (const auto& [name, time] : s.requests) Queue(dir / (name + ".jpg"), time);
    bool anyWritten = false;
    for (size_t i = 0; i < s.frames.size(); ++i) {
      const auto& [time, expectedStills] = s.frames[i];
      if (i == s.namedFrom) {
        ASSERT_EQ(filter->SetFileName(Wide((dir / "main.jpg").string()).c_str(), nullptr), S_OK);
      }
      ASSERT_EQ(graph->Push(frame, time), S_OK);
      std::vector<std::string> stills;
      for (const auto& entry : fs::directory_iterator(dir)) {
        ExpectStill(entry.path());
        stills.push_back(entry.path().stem());
      }
      std::sort(stills.begin(), stills.end());
      EXPECT_EQ(stills, expectedStills) << "frame at " << time;
      anyWritten = anyWritten || !stills.empty();
      EXPECT_EQ(filter->GrabDone(), anyWritten) << "frame at " << time;
      for (const std::string& still : stills) fs::remove(dir / (still + ".jpg"));
    }
    EXPECT_EQ(filter->PendingSnapshots(), s.pendingAfter);
    // Every frame was passed on with its times, grabbed or not.
    std::lock_guard<std::mutex> lock(graph->sink->mutex);
    ASSERT_EQ(graph->sink->received.size(), s.frames.size());
    for (size_t i = 0; i < s.frames.size(); ++i) {
      EXPECT_EQ(graph->sink->received[i].start, Units(s.frames[i].first));
      EXPECT_EQ(graph->sink->received[i].stop, Units(s.frames[i].first) + 333333);
    }
  }
}

// Frames smaller than the enhancement's own minimum are enhanced all the
// same (padded and cropped back) and keep their size; without SSE2 the
// enhancement never runs and every target gets the frame as converted.
TEST_F(FrameGrabTest, EnhancedStillsKeepTheFrameSizeAndNeedSse2) {
  for (const int sse2 : {-1, 0}) {
    SCOPED_TRACE(sse2 == 0 ? "without SSE2" : "with SSE2");
    KelvoSetReportedSse2(sse2);
    TearDownGraph();
    StartGraph();
    const fs::path dir = FreshDirectory("enhanced");
    ASSERT_EQ(filter->SetFrameRate(30), S_OK);
    ASSERT_EQ(filter->SetGrabParams(GrabParams{0.0, true, true}), S_OK);
    ASSERT_EQ(filter->SetFileName(Wide((dir / "main.jpg").string()).c_str(), nullptr), S_OK);
    Queue(dir / "plain.jpg", 0.0);
    Queue(dir / "asked.jpg", 0.0, /*enhance=*/true);
    ASSERT_EQ(graph->Push(frame, 0.0), S_OK);
    ExpectStill(dir / "plain.jpg");
    for (const char* name : {"main.jpg", "asked.jpg"}) {
      BgrImage written;
      ASSERT_TRUE(ReadJpeg(dir / name, &written)) << name;
      EXPECT_EQ(written.width, kWidth);
      EXPECT_EQ(written.height, kHeight);
      EXPECT_EQ(MaxDifference(written, expected) > 6, sse2 != 0) << name << " enhanced?";
    }
  }
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
  Queue(dir / "r.jpg", 0.0);
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
  ExpectStill(dir / "main.jpg");
}

TEST_F(FrameGrabTest, LegacyRgb32FramesAreWrittenTopRowFirst) {
  KelvoSetReportedOsMajorVersion(5);
  std::vector<CMediaType> types;
  types.push_back(MakeVideoType(MEDIASUBTYPE_RGB32, 32, 16, 48));
  StartGraph(std::move(types));
  const fs::path dir = FreshDirectory("legacy");
  SetMainGrab(0.0, true, dir / "main.jpg");
  std::vector<BYTE> rgb = MakeBandedRgb32(16, 48, &expected);
  ASSERT_EQ(graph->Push(rgb, 0.0), S_OK);
  ExpectStill(dir / "main.jpg");
}

// Segment, flush and end-of-stream calls reach downstream; a stopped
// filter refuses samples, and stopping decommitted the shared allocator.
TEST_F(FrameGrabTest, StreamControlReachesDownstreamAndStopRefusesSamples) {
  StartGraph();
  EXPECT_EQ(graph->filterIn->NewSegment(100, 900, 2.0), S_OK);
  EXPECT_EQ(graph->filterIn->BeginFlush(), S_OK);
  EXPECT_EQ(graph->Push(frame, 0.0), S_FALSE);  // refused while flushing
  EXPECT_EQ(graph->filterIn->EndFlush(), S_OK);
  EXPECT_EQ(graph->filterIn->EndOfStream(), S_OK);
  {
    std::lock_guard<std::mutex> lock(graph->sink->mutex);
    EXPECT_EQ(graph->sink->segmentStart, 100);
    EXPECT_EQ(graph->sink->segmentStop, 900);
    EXPECT_EQ(graph->sink->segmentRate, 2.0);
    EXPECT_EQ(graph->sink->beginFlushes, 1);
    EXPECT_EQ(graph->sink->endFlushes, 1);
    EXPECT_EQ(graph->sink->endOfStreams, 1);
  }

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
  Queue(dir / "r.jpg", 60.0);

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
  const auto written = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
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
  Queue(dir / "r.jpg", 0.0);

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
  ComPtr<IFrameGrabStillOutput> output;
  ASSERT_EQ(filter->QueryInterface(IID_IFrameGrabStillOutput, output.PutVoid()), S_OK);
  ASSERT_EQ(output->SetStillSink(&sink), S_OK);
  EXPECT_EQ(sink.refs, 2u);
  const fs::path dir = FreshDirectory("sink");
  ASSERT_EQ(filter->SetFrameRate(30), S_OK);
  ASSERT_EQ(filter->SetGrabParams(GrabParams{1.0, true, true}), S_OK);
  ASSERT_EQ(filter->SetFileName(u"main", nullptr), S_OK);
  Queue("first", 1.0);
  Queue("refuse", 1.01, /*enhance=*/true);

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
  ASSERT_EQ(output->SetStillSink(nullptr), S_OK);
  EXPECT_EQ(sink.refs, 1u);
  Queue(dir / "written.jpg", 2.0);
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
