// The media-graph framework and the Win32/COM layer of the Linux build.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/CMediaSample.h"
#include "platform/CMemAllocator.h"
#include "platform/CPersistStream.h"
#include "tests/platform/MemoryStream.h"
#include "tests/platform/TestGraph.h"

namespace {

// A waiter that never wakes ends the test program instead of blocking the run.
class Deadline {
 public:
  explicit Deadline(unsigned seconds) { alarm(seconds); }
  ~Deadline() { alarm(0); }
};

// ---- Media types ---------------------------------------------------------------

TEST(MediaTypeTest, CopiesOwnTheirFormatBlocksAndPartialTypesMatchWhatTheyName) {
  CMediaType original = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 4, true);
  CMediaType copy(original);
  ASSERT_NE(copy.pbFormat, original.pbFormat);
  EXPECT_TRUE(copy == original);
  reinterpret_cast<VIDEOINFOHEADER2*>(copy.pbFormat)->bmiHeader.biWidth = 10;
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(GetVideoBitmapHeader(&original)->biWidth, 8);

  AM_MEDIA_TYPE* created = CreateMediaType(&original);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(GetVideoBitmapHeader(created)->biHeight, 4);
  DeleteMediaType(created);

  CMediaType anyVideo(&MEDIATYPE_Video);
  EXPECT_TRUE(anyVideo.IsPartiallySpecified());
  EXPECT_TRUE(original.MatchesPartial(&anyVideo));
  anyVideo.SetSubtype(&MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(original.MatchesPartial(&anyVideo));
  CMediaType nothing;
  EXPECT_TRUE(original.MatchesPartial(&nothing));
}

// Rows are padded to 4 bytes whatever the height's sign; the header is only
// read from a whole format block of a video format.
TEST(MediaTypeTest, BitmapSizesAndVideoHeadersNeedWholeFormatBlocks) {
  BITMAPINFOHEADER header{};
  const struct {
    int width, height, bits;
    DWORD size;
  } sizes[] = {{3, -5, 24, 12 * 5}, {5, -5, 16, 12 * 5}, {5, 2, 32, 40}};
  for (const auto& c : sizes) {
    header.biWidth = c.width;
    header.biHeight = c.height;
    header.biBitCount = static_cast<WORD>(c.bits);
    EXPECT_EQ(GetBitmapSize(&header), c.size) << c.width << "x" << c.height << "x" << c.bits;
  }
  CMediaType mt = MakeVideoType(MEDIASUBTYPE_YUY2, 16, 8, 4);
  EXPECT_NE(GetVideoBitmapHeader(&mt), nullptr);
  mt.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
  EXPECT_EQ(GetVideoBitmapHeader(&mt), nullptr);
  mt.cbFormat = sizeof(VIDEOINFOHEADER);
  mt.SetFormatType(&FORMAT_VideoInfo2);  // a VIDEOINFOHEADER2 is longer
  EXPECT_EQ(GetVideoBitmapHeader(&mt), nullptr);
  mt.SetFormatType(&GUID_NULL);
  EXPECT_EQ(GetVideoBitmapHeader(&mt), nullptr);
}

// ---- Allocator -------------------------------------------------------------------

class AllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HRESULT hr = E_FAIL;
    auto* made = new CMemAllocator(u"test", nullptr, &hr);
    ASSERT_EQ(made->NonDelegatingQueryInterface(IID_IMemAllocator, allocator.PutVoid()), S_OK);
  }
  ComPtr<IMemAllocator> allocator;
  Deadline deadline{30};
};

TEST_F(AllocatorTest, PropertiesAreFixedWhileCommitted) {
  ALLOCATOR_PROPERTIES request{2, 100, 16, 0}, actual{};
  IMediaSample* sample = nullptr;
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  EXPECT_EQ(actual.cBuffers, 2);
  EXPECT_EQ(actual.cbBuffer, 112);  // rounded up to the alignment
  EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 16, 0u);
  EXPECT_EQ(sample->GetSize(), 112);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  sample->Release();
  ALLOCATOR_PROPERTIES odd{1, 10, 3, 0};
  ASSERT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->SetProperties(&odd, &actual), VFW_E_BADALIGN);
}

TEST_F(AllocatorTest, GetBufferWaitsForAReturnedBuffer) {
  ALLOCATOR_PROPERTIES request{1, 64, 1, 0}, actual{};
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* first = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 5, stop = 9;
  first->SetTime(&start, &stop);
  std::atomic<bool> got{false};
  IMediaSample* second = nullptr;
  std::thread waiter([&] {
    EXPECT_EQ(allocator->GetBuffer(&second, nullptr, nullptr, 0), S_OK);
    got = true;
  });
  EXPECT_FALSE(got);
  first->Release();
  waiter.join();
  ASSERT_TRUE(got);
  // The recycled buffer comes back clean.
  EXPECT_EQ(second->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  second->Release();
}

TEST_F(AllocatorTest, DecommitReleasesWaitersAndFreesAfterTheLastReturn) {
  ALLOCATOR_PROPERTIES request{1, 64, 1, 0}, actual{};
  ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);
  std::thread waiter([&] {
    IMediaSample* none = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&none, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  });
  // Whether the waiter is already blocked or not, it must come back empty.
  ASSERT_EQ(allocator->Decommit(), S_OK);
  waiter.join();
  // The outstanding sample stays usable and keeps the allocator alive.
  allocator.Reset();
  BYTE* data = nullptr;
  ASSERT_EQ(held->GetPointer(&data), S_OK);
  data[63] = 7;
  held->Release();
}

// A sample without an allocator lends its creator's memory and outlives the
// references a receiver takes and drops.
TEST(MediaSampleTest, SampleWithoutAllocatorLendsMemoryAndStaysWithItsCreator) {
  BYTE frame[32] = {};
  CMediaSample sample(nullptr, nullptr, 0);
  EXPECT_EQ(sample.SetPointer(frame, -1), E_INVALIDARG);
  ASSERT_EQ(sample.SetPointer(frame, 32), S_OK);
  ASSERT_EQ(sample.SetActualDataLength(10), S_OK);
  EXPECT_EQ(sample.SetActualDataLength(33), VFW_E_BUFFER_OVERFLOW);
  for (int frameNo = 0; frameNo < 2; ++frameNo) {
    // Each frame lent resets the data length to the whole frame.
    ASSERT_EQ(sample.SetPointer(frame + frameNo, 31), S_OK);
    EXPECT_EQ(sample.GetActualDataLength(), 31);
    EXPECT_EQ(sample.AddRef(), 1u);
    EXPECT_EQ(sample.Release(), 0u);
    BYTE* data = nullptr;
    ASSERT_EQ(sample.GetPointer(&data), S_OK);
    EXPECT_EQ(data, frame + frameNo);
  }
}

// ---- Persistence ------------------------------------------------------------------

class VersionedData : public CPersistStream {
 public:
  VersionedData() : CPersistStream(nullptr, nullptr) {}
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetClassID(CLSID* id) override {
    *id = GUID_NULL;
    return S_OK;
  }
  DWORD GetSoftwareVersion() override { return version; }
  HRESULT WriteToStream(IStream* s) override { return s->Write(&value, 4, nullptr); }
  HRESULT ReadFromStream(IStream* s) override { return s->Read(&value, 4, nullptr); }
  DWORD version = 7;
  int value = 0;
};

TEST(PersistStreamTest, VersionRecordPrecedesTheData) {
  VersionedData saved;
  saved.value = 0x1234;
  saved.SetDirty(TRUE);
  MemoryStream stream;
  ASSERT_EQ(saved.Save(&stream, FALSE), S_OK);
  EXPECT_EQ(saved.IsDirty(), S_OK);
  ASSERT_EQ(stream.bytes.size(), 24u + 4u);
  std::u16string version(reinterpret_cast<const char16_t*>(stream.bytes.data()), 12);
  EXPECT_EQ(version, u"00000000007 ");

  VersionedData loaded;
  stream.Rewind();
  ASSERT_EQ(loaded.Load(&stream), S_OK);
  EXPECT_EQ(loaded.value, 0x1234);

  // Data written by a later version is refused.
  VersionedData older;
  older.version = 6;
  stream.Rewind();
  EXPECT_EQ(older.Load(&stream), E_FAIL);
  EXPECT_EQ(older.value, 0);
}

// ---- Win32 layer ------------------------------------------------------------------

// The reported version and SSE2 are exercised through the filter's modes.
TEST(Win32Test, VersionAndProcessorQueriesRefuseWhatTheyDoNotKnow) {
  OSVERSIONINFOA info{};
  EXPECT_FALSE(GetVersionExA(&info));  // size not set
  EXPECT_FALSE(IsProcessorFeaturePresent(3));
}

TEST(Win32Test, CriticalSectionsAreRecursiveAndExclusive) {
  Deadline deadline(30);
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    LeaveCriticalSection(&cs);
  });
  EXPECT_FALSE(entered);
  LeaveCriticalSection(&cs);
  EXPECT_FALSE(entered);
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered);
  DeleteCriticalSection(&cs);
}

struct DialogLog {
  std::vector<std::pair<UINT, WPARAM>> messages;
};

INT_PTR LoggingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  auto* log = reinterpret_cast<DialogLog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (log != nullptr) log->messages.emplace_back(msg, wParam);
  return msg == WM_COMMAND ? 1 : 0;
}

TEST(Win32Test, DialogsAreBuiltFromTheirTemplates) {
  const KelvoDialogControl controls[] = {{700, "EDIT", "start", 1, 2, 30, 10},
                                         {701, "STATIC", "label", 1, 20, 30, 10}};
  const KelvoDialogTemplate dialogs[] = {{900, "MS Shell Dlg", 8, 100, 50, controls, 2}};
  const KelvoStringResource strings[] = {{901, "Title"}};
  KelvoRegisterResources(dialogs, 1, strings, 1);
  const int before = KelvoLiveWindowCount();

  DialogLog log;
  HWND host = KelvoCreateHostWindow();
  EXPECT_EQ(CreateDialogParamW(nullptr, MAKEINTRESOURCEW(999), host, LoggingProc, 0), nullptr);
  HWND dialog = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(900), host, LoggingProc,
                                   reinterpret_cast<LPARAM>(&log));
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(GetWindow(host, GW_CHILD), dialog);
  ASSERT_EQ(log.messages.size(), 1u);
  EXPECT_EQ(log.messages[0].first, static_cast<UINT>(WM_INITDIALOG));

  char text[4];
  EXPECT_EQ(GetDlgItemTextA(dialog, 700, text, 4), 3u);  // truncated to fit
  EXPECT_STREQ(text, "sta");
  // An edit control reports its change; a static control does not.
  ASSERT_TRUE(SetDlgItemTextA(dialog, 700, "12.5"));
  ASSERT_TRUE(SetDlgItemTextA(dialog, 701, "other"));
  ASSERT_EQ(log.messages.size(), 2u);
  EXPECT_EQ(log.messages[1].first, static_cast<UINT>(WM_COMMAND));
  EXPECT_EQ(LOWORD(log.messages[1].second), 700);
  EXPECT_EQ(HIWORD(log.messages[1].second), EN_CHANGE);
  EXPECT_FALSE(SetDlgItemTextA(dialog, 702, "x"));
  EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, 0, 0), 1);

  WCHAR title[8];
  EXPECT_EQ(LoadStringW(nullptr, 902, title, 8), 0);  // found strings: the property page's title

  ASSERT_TRUE(DestroyWindow(host));
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(KelvoLiveWindowCount(), before);
}

// ---- Objects, aggregation and connections -------------------------------------------

// An outer object that aggregates a sink filter and answers IBaseFilter
// through it.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualGUID(riid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  IUnknown* inner = nullptr;
  ULONG refs = 1;
};

class AggregatedFilter : public CBaseFilter {
 public:
  explicit AggregatedFilter(LPUNKNOWN outer)
      : CBaseFilter(u"aggregated", outer, &m_lock, MEDIATYPE_Video) {}
  int GetPinCount() override { return 0; }
  CBasePin* GetPin(int) override { return nullptr; }

 private:
  CCritSec m_lock;
};

TEST(ComObjectTest, AggregatedObjectDelegatesToItsOuter) {
  const long before = CUnknown::ObjectCount();
  Outer outer;
  auto* inner = new AggregatedFilter(&outer);
  EXPECT_EQ(inner->GetOwner(), &outer);
  outer.inner = inner->GetInner();
  inner->NonDelegatingAddRef();
  EXPECT_EQ(CUnknown::ObjectCount(), before + 1);

  IBaseFilter* filter = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  EXPECT_EQ(outer.refs, 2u);  // references through the inner land on the outer
  IUnknown* identity = nullptr;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, &outer);
  identity->Release();
  filter->Release();
  EXPECT_EQ(outer.refs, 1u);
  CLSID clsid{};
  ASSERT_EQ(inner->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, MEDIATYPE_Video));
  outer.inner->Release();
  EXPECT_EQ(CUnknown::ObjectCount(), before);
}

class ConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<CMediaType> types;
    types.push_back(MakeVideoType(MEDIASUBTYPE_RGB24, 24, 4, 4));
    types.push_back(MakeVideoType(MEDIASUBTYPE_YUY2, 16, 4, 4));
    source = NewHeldFilter<TestSourceFilter>(std::move(types));
    sink = NewHeldFilter<TestSinkFilter>();
    out = FindPinOf(source, u"Out");
    in = FindPinOf(sink, u"In");
  }
  void TearDown() override {
    source->Stop();
    sink->Stop();
    out->Disconnect();
    in->Disconnect();
    out->Release();
    in->Release();
    source->Release();
    sink->Release();
  }
  TestSourceFilter* source;
  TestSinkFilter* sink;
  IPin* out;
  IPin* in;
};

TEST_F(ConnectionTest, PartialTypeSelectsAmongTheOffers) {
  CMediaType wanted(&MEDIATYPE_Video);
  wanted.SetSubtype(&MEDIASUBTYPE_YUY2);
  ASSERT_EQ(out->Connect(in, &wanted), S_OK);
  AM_MEDIA_TYPE agreed{};
  ASSERT_EQ(in->ConnectionMediaType(&agreed), S_OK);
  EXPECT_TRUE(IsEqualGUID(agreed.subtype, MEDIASUBTYPE_YUY2));
  FreeMediaType(agreed);
  IPin* peer = nullptr;
  ASSERT_EQ(in->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(peer, out);
  peer->Release();
  EXPECT_EQ(out->Connect(in, nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(ConnectionTest, RefusedConnectionsLeaveBothPinsFree) {
  EXPECT_EQ(out->Connect(out, nullptr), VFW_E_INVALID_DIRECTION);
  CMediaType audio(&MEDIASUBTYPE_RGB24);  // not a video major type
  EXPECT_EQ(out->Connect(in, &audio), VFW_E_NO_ACCEPTABLE_TYPES);
  // A complete type is tried as it is.
  CMediaType notOffered = MakeVideoType(MEDIASUBTYPE_RGB32, 32, 4, 4);
  EXPECT_EQ(out->Connect(in, &notOffered), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType noneOffered(&MEDIATYPE_Video);
  noneOffered.SetSubtype(&MEDIASUBTYPE_RGB32);
  EXPECT_EQ(out->Connect(in, &noneOffered), VFW_E_NO_ACCEPTABLE_TYPES);
  IPin* peer = nullptr;
  EXPECT_EQ(out->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
}

TEST_F(ConnectionTest, RunningGraphDeliversAndRefusesReconnection) {
  ASSERT_EQ(out->Connect(in, nullptr), S_OK);
  ASSERT_EQ(sink->Run(0), S_OK);
  ASSERT_EQ(source->Run(0), S_OK);
  EXPECT_EQ(out->Disconnect(), VFW_E_NOT_STOPPED);
  std::vector<BYTE> frame(48, 9);
  const REFERENCE_TIME start = 1234;
  ASSERT_EQ(source->Push(frame, &start), S_OK);
  ASSERT_EQ(sink->received.size(), 1u);
  EXPECT_EQ(sink->received[0].start, 1234);
  EXPECT_EQ(sink->received[0].length, 48);
  // What a stopped input pin refuses is checked through the filter's own.
}

TEST_F(ConnectionTest, PinsAndTypesAreEnumerated) {
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(source->EnumPins(pins.Put()), S_OK);
  IPin* fetched[2] = {};
  ULONG count = 0;
  EXPECT_EQ(pins->Next(2, fetched, &count), S_FALSE);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(fetched[0], out);
  fetched[0]->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(out->QueryId(&id), S_OK);
  EXPECT_EQ(std::u16string(id), u"Out");
  CoTaskMemFree(id);
  PIN_INFO info{};
  ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
  EXPECT_EQ(info.dir, PINDIR_INPUT);
  EXPECT_EQ(info.pFilter, static_cast<IBaseFilter*>(sink));
  info.pFilter->Release();

  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(out->EnumMediaTypes(types.Put()), S_OK);
  ASSERT_EQ(types->Skip(1), S_OK);
  AM_MEDIA_TYPE* next = nullptr;
  ASSERT_EQ(types->Next(1, &next, nullptr), S_OK);
  EXPECT_TRUE(IsEqualGUID(next->subtype, MEDIASUBTYPE_YUY2));
  DeleteMediaType(next);
  EXPECT_EQ(types->Next(1, &next, nullptr), S_FALSE);
  IPin* missing = nullptr;
  EXPECT_EQ(source->FindPin(u"Nope", &missing), VFW_E_NOT_FOUND);
}

}  // namespace
