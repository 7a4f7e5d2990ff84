// The filter's control surface: interface query, IFrameGrabFilter,
// IFileSinkFilter, ISpecifyPropertyPages, the property page, persistence,
// and registration with activation through the registry.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "filter/CFrameGrabFilterProperties.h"
#include "filter/FrameGrabFilterSetup.h"
#include "platform/win32/ComRegistry.h"
#include "tests/filter/FilterTestSupport.h"
#include "tests/platform/MemoryStream.h"

namespace fs = std::filesystem;

namespace {

class FilterControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    filter = NewFrameGrabFilter();
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->QueryInterface(IID_IFrameGrabFilter, grab.PutVoid()), S_OK);
    ASSERT_EQ(filter->QueryInterface(IID_IFileSinkFilter, sink.PutVoid()), S_OK);
  }
  void TearDown() override {
    grab.Reset();
    sink.Reset();
    filter->Release();
  }
  CFrameGrabFilter* filter = nullptr;
  ComPtr<IFrameGrabFilter> grab;
  ComPtr<IFileSinkFilter> sink;
};

TEST_F(FilterControlTest, InterfacesShareOneIdentityAndNameOnePropertyPage) {
  ComPtr<IUnknown> identity;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
  for (const IID* iid : {&IID_IFrameGrabFilter, &IID_IFileSinkFilter, &IID_ISpecifyPropertyPages,
                         &IID_IPersistStream, &IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist,
                         &IID_IAMovieSetup}) {
    ComPtr<IUnknown> part;
    ASSERT_EQ(filter->QueryInterface(*iid, part.PutVoid()), S_OK);
    ComPtr<IUnknown> back;
    ASSERT_EQ(part->QueryInterface(IID_IUnknown, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), identity.Get());
  }
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(filter->QueryInterface(IID_IMemInputPin, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(filter->QueryInterface(IID_IFrameGrabFilter, nullptr), E_POINTER);
  CLSID clsid{};
  ComPtr<IPersistStream> persist;
  ASSERT_EQ(filter->QueryInterface(IID_IPersistStream, persist.PutVoid()), S_OK);
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_FrameGrabFilter));

  // Exactly one property page.
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, pages.PutVoid()), S_OK);
  EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
  CAUUID ids{};
  ASSERT_EQ(pages->GetPages(&ids), S_OK);
  ASSERT_EQ(ids.cElems, 1u);
  EXPECT_TRUE(IsEqualGUID(ids.pElems[0], CLSID_FrameGrabFilterProperties));
  CoTaskMemFree(ids.pElems);
  KelvoFailNextTaskMemAllocs(1);
  EXPECT_EQ(pages->GetPages(&ids), E_OUTOFMEMORY);
}

TEST_F(FilterControlTest, FrameRateSetsHalfTheFramePeriod) {
  const std::pair<int, double> cases[] = {{1, 0.5}, {30, 0.01667}, {25, 0.02}, {24, 0.02083}};
  for (const auto& [rate, half] : cases) {
    ASSERT_EQ(grab->SetFrameRate(rate), S_OK);
    EXPECT_DOUBLE_EQ(filter->HalfFrame(), half) << rate;
  }
  EXPECT_EQ(grab->SetFrameRate(0), E_INVALIDARG);
  EXPECT_EQ(grab->SetFrameRate(-30), E_INVALIDARG);
  EXPECT_DOUBLE_EQ(filter->HalfFrame(), 0.02083);
}

TEST_F(FilterControlTest, NamesAreLimitedAndCopied) {
  LPOLESTR current = nullptr;
  EXPECT_EQ(sink->GetCurFile(nullptr, nullptr), E_POINTER);
  ASSERT_EQ(sink->GetCurFile(&current, nullptr), S_OK);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current[0], 0);  // empty before the first SetFileName
  CoTaskMemFree(current);

  EXPECT_EQ(sink->SetFileName(nullptr, nullptr), E_POINTER);
  const std::u16string longest(255, u'a');
  ASSERT_EQ(sink->SetFileName(longest.c_str(), nullptr), S_OK);
  const std::u16string tooLong(256, u'b');
  EXPECT_EQ(sink->SetFileName(tooLong.c_str(), nullptr), E_INVALIDARG);
  ASSERT_EQ(sink->GetCurFile(&current, nullptr), S_OK);
  EXPECT_EQ(std::u16string(current), longest);
  CoTaskMemFree(current);

  // A failed copy hands out null and still succeeds.
  KelvoFailNextTaskMemAllocs(1);
  current = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(sink->GetCurFile(&current, nullptr), S_OK);
  EXPECT_EQ(current, nullptr);

  // Requests are checked the same way and copied.
  EXPECT_EQ(grab->AddSnapshot(nullptr), E_POINTER);
  SnapshotRequest request{};
  std::fill(std::begin(request.fileName), std::end(request.fileName), u'x');
  EXPECT_EQ(grab->AddSnapshot(&request), E_INVALIDARG);
  EXPECT_EQ(filter->PendingSnapshots(), 0);
  request.fileName[259] = 0;
  EXPECT_EQ(grab->AddSnapshot(&request), S_OK);
  request.fileName[0] = 0;  // the queued copy is independent of the caller's record
  EXPECT_EQ(grab->AddSnapshot(&request), S_OK);
  EXPECT_EQ(filter->PendingSnapshots(), 2);
}

TEST_F(FilterControlTest, SettingsPersistThroughAStream) {
  ComPtr<IPersistStream> persist;
  ASSERT_EQ(filter->QueryInterface(IID_IPersistStream, persist.PutVoid()), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ASSERT_EQ(grab->SetGrabParams(GrabParams{12.75, true, false}), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  MemoryStream stream;
  ASSERT_EQ(persist->Save(&stream, TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  // Version record (12 16-bit characters), then 8 + 1 + 1 bytes.
  ASSERT_EQ(stream.bytes.size(), 24u + 10u);
  double time = 0;
  std::memcpy(&time, &stream.bytes[24], 8);
  EXPECT_EQ(time, 12.75);
  EXPECT_EQ(stream.bytes[32], 1);
  EXPECT_EQ(stream.bytes[33], 0);
  ULARGE_INTEGER size{};
  ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 24u);

  CFrameGrabFilter* other = NewFrameGrabFilter();
  stream.Rewind();
  ASSERT_EQ(other->Load(&stream), S_OK);
  GrabParams loaded{};
  ASSERT_EQ(other->GetGrabParams(&loaded), S_OK);
  EXPECT_EQ(loaded.grabTime, 12.75);
  EXPECT_TRUE(loaded.grabEnabled);
  EXPECT_FALSE(loaded.enhance);

  // A truncated record changes nothing.
  ASSERT_EQ(other->SetGrabParams(GrabParams{1.0, false, true}), S_OK);
  stream.bytes.resize(30);
  stream.Rewind();
  EXPECT_TRUE(FAILED(other->Load(&stream)));
  ASSERT_EQ(other->GetGrabParams(&loaded), S_OK);
  EXPECT_EQ(loaded.grabTime, 1.0);
  EXPECT_TRUE(loaded.enhance);
  other->Release();
}

// ---- Property page -------------------------------------------------------------

class RecordingSite final : public IPropertyPageSite {
 public:
  std::vector<DWORD> changes;
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP OnStatusChange(DWORD flags) override {
    changes.push_back(flags);
    return S_OK;
  }
  STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return E_NOTIMPL; }
};

class PropertyPageTest : public FilterControlTest {
 protected:
  void SetUp() override {
    FilterControlTest::SetUp();
    HRESULT hr = E_FAIL;
    page = static_cast<CFrameGrabFilterProperties*>(
        CFrameGrabFilterProperties::CreateInstance(nullptr, &hr));
    ASSERT_EQ(hr, S_OK);
    page->NonDelegatingAddRef();
    host = KelvoCreateHostWindow();
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
  }
  void TearDown() override {
    page->SetPageSite(nullptr);
    page->Release();
    DestroyWindow(host);
    FilterControlTest::TearDown();
  }
  void Connect() {
    IUnknown* object = static_cast<IBaseFilter*>(filter);
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
  }
  void Activate() {
    const RECT rect{0, 0, 340, 150};
    ASSERT_EQ(page->Activate(host, &rect, FALSE), S_OK);
    dialog = GetWindow(host, GW_CHILD);
    ASSERT_NE(dialog, nullptr);
  }
  std::string Text(int id) {
    char text[256];
    GetDlgItemTextA(dialog, id, text, 256);
    return text;
  }

  CFrameGrabFilterProperties* page = nullptr;
  RecordingSite site;
  HWND host = nullptr;
  HWND dialog = nullptr;
};

// The page shows the filter's settings without counting that as an edit;
// edits survive deactivation, and only Apply writes them.
TEST_F(PropertyPageTest, EditsSurviveDeactivationAndOnlyApplyWritesThem) {
  ASSERT_EQ(grab->SetGrabParams(GrabParams{2.5, true, true}), S_OK);
  Connect();
  Activate();
  EXPECT_EQ(Text(IDC_GRAB_TIME), "2.5");
  EXPECT_EQ(Text(IDC_GRAB_ENABLED), "1");
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_TRUE(site.changes.empty());
  SetDlgItemTextA(dialog, IDC_GRAB_TIME, "abc");
  SetDlgItemTextA(dialog, IDC_GRAB_ENABLED, "7");
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  ASSERT_FALSE(site.changes.empty());
  EXPECT_EQ(site.changes.back(), static_cast<DWORD>(PROPPAGESTATUS_DIRTY));
  ASSERT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(GetWindow(host, GW_CHILD), nullptr);
  GrabParams params{};
  ASSERT_EQ(grab->GetGrabParams(&params), S_OK);
  EXPECT_EQ(params.grabTime, 2.5) << "deactivation applies nothing";
  Activate();
  EXPECT_EQ(Text(IDC_GRAB_TIME), "0") << "the edit is kept as it was read, not the filter's 2.5";
  ASSERT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  ASSERT_EQ(grab->GetGrabParams(&params), S_OK);
  EXPECT_EQ(params.grabTime, 0.0);  // letters read as 0
  EXPECT_TRUE(params.grabEnabled);  // 7 is not 0
  EXPECT_TRUE(params.enhance);      // passed back as it was read
  ASSERT_EQ(page->Deactivate(), S_OK);

  // Connecting again reads the filter's settings again.
  ASSERT_EQ(grab->SetGrabParams(GrabParams{0.0, false, false}), S_OK);
  Connect();
  Activate();
  EXPECT_EQ(Text(IDC_GRAB_ENABLED), "0");
  ASSERT_EQ(page->Deactivate(), S_OK);
}

TEST_F(PropertyPageTest, CommandsAnswerOneAndOnlyDirtyAnActivePage) {
  Connect();
  EXPECT_EQ(page->OnReceiveMessage(nullptr, WM_COMMAND, 0, 0), 1);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->OnReceiveMessage(nullptr, WM_INITDIALOG + 100, 0, 0), 0);
  Activate();
  EXPECT_EQ(SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_GRAB_TIME, EN_CHANGE), 0), 1);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  ASSERT_EQ(page->Deactivate(), S_OK);
}

TEST_F(PropertyPageTest, ConnectsOnlyToTheFrameGrabFilter) {
  TestSinkFilter* other = NewHeldFilter<TestSinkFilter>();
  IUnknown* object = static_cast<IBaseFilter*>(other);
  EXPECT_EQ(page->SetObjects(1, &object), E_NOINTERFACE);
  EXPECT_EQ(page->SetObjects(0, nullptr), E_UNEXPECTED);  // nothing held
  other->Release();
  Connect();
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.pszTitle), u"FrameGrabFilter");
  CoTaskMemFree(info.pszTitle);
}

// ---- Registration and activation through the registry ----------------------------

TEST(FilterRegistrationTest, RegisteredModuleIsActivatedAndGrabs) {
  const fs::path dir = FreshDirectory("registry");
  setenv("KELVO_COM_REGISTRY", (dir / "registry").c_str(), 1);
  ComPtr<IBaseFilter> unregistered;
  EXPECT_EQ(CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             unregistered.PutVoid()),
            REGDB_E_CLASSNOTREG);

  void* module = dlopen(KELVO_FILTER_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  using Entry = HRESULT (*)();
  auto registerServer = reinterpret_cast<Entry>(dlsym(module, "DllRegisterServer"));
  auto unregisterServer = reinterpret_cast<Entry>(dlsym(module, "DllUnregisterServer"));
  auto canUnload = reinterpret_cast<Entry>(dlsym(module, "DllCanUnloadNow"));
  ASSERT_NE(registerServer, nullptr);
  ASSERT_NE(unregisterServer, nullptr);
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(dlsym(module, "AMovieDllRegisterServer2"), nullptr);  // only the entry points
  ASSERT_EQ(registerServer(), S_OK);

  kelvo::platform::RegisteredClass record;
  ASSERT_TRUE(kelvo::platform::FindRegisteredClass(CLSID_FrameGrabFilter, &record));
  EXPECT_EQ(record.name, "KelvoFrameGrabFilter");
  EXPECT_EQ(record.merit, 0x200000u);
  EXPECT_EQ(fs::path(record.module), fs::canonical(KELVO_FILTER_MODULE));
  ASSERT_EQ(record.pins.size(), 2u);
  EXPECT_EQ(record.pins[0].name, "Input");
  EXPECT_FALSE(record.pins[0].output);
  EXPECT_EQ(record.pins[1].name, "Output");
  EXPECT_TRUE(record.pins[1].output);
  for (const auto& pin : record.pins) {
    EXPECT_FALSE(pin.rendered || pin.zero || pin.many);
    ASSERT_EQ(pin.mediaTypes.size(), 1u);
    EXPECT_EQ(pin.mediaTypes[0].first, kelvo::platform::GuidToString(MEDIATYPE_Video));
    EXPECT_EQ(pin.mediaTypes[0].second, kelvo::platform::GuidToString(GUID_NULL));
  }
  kelvo::platform::RegisteredClass pageRecord;
  ASSERT_TRUE(kelvo::platform::FindRegisteredClass(CLSID_FrameGrabFilterProperties, &pageRecord));
  EXPECT_EQ(pageRecord.name, "KelvoFrameGrabFilter Properties");
  EXPECT_FALSE(pageRecord.isFilter);

  {
    ComPtr<IBaseFilter> activated;
    ASSERT_EQ(CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IBaseFilter, activated.PutVoid()),
              S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    ComPtr<IFrameGrabFilter> control;
    ASSERT_EQ(activated->QueryInterface(IID_IFrameGrabFilter, control.PutVoid()), S_OK);
    ComPtr<IFileSinkFilter> file;
    ASSERT_EQ(activated->QueryInterface(IID_IFileSinkFilter, file.PutVoid()), S_OK);
    {
      FilterGraph graph(activated.Get(), {MakeVideoType(MEDIASUBTYPE_YUY2, 16, 32, 32)});
      ASSERT_EQ(graph.Connect(), S_OK);
      ASSERT_EQ(graph.Run(), S_OK);
      ASSERT_EQ(control->SetGrabParams(GrabParams{0.5, true, false}), S_OK);
      ASSERT_EQ(file->SetFileName(Wide((dir / "grab.jpg").string()).c_str(), nullptr), S_OK);
      BgrImage expected;
      const std::vector<BYTE> frame = MakeQuadrantYuy2(32, 32, &expected);
      ASSERT_EQ(graph.Push(frame, 0.5), S_OK);
      BgrImage written;
      ASSERT_TRUE(ReadJpeg(dir / "grab.jpg", &written));
      EXPECT_LE(MaxDifference(written, expected), 6);
    }
  }
  EXPECT_EQ(canUnload(), S_OK);

  ASSERT_EQ(unregisterServer(), S_OK);
  EXPECT_FALSE(kelvo::platform::FindRegisteredClass(CLSID_FrameGrabFilter, &record));
  EXPECT_FALSE(kelvo::platform::FindRegisteredClass(CLSID_FrameGrabFilterProperties, &record));
  EXPECT_EQ(CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             unregistered.PutVoid()),
            REGDB_E_CLASSNOTREG);
  unsetenv("KELVO_COM_REGISTRY");
}

}  // namespace
