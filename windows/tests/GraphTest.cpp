// The Windows module inside a real filter graph: the system's File Source
// (Async), AVI Splitter and Null Renderer around FrameGrabFilter.ax, which is
// created from its registered class id. Run by windows/tests/run-under-wine
// after regsvr32 has registered the module (and again, with
// KELVO_EXPECT_UNREGISTERED=1, after regsvr32 /u).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <control.h>
#include <evcode.h>
#include <jpeglib.h>
// clang-format on

#include "filter/IFrameGrabFilter.h"
#include "filter/IFrameGrabStillSink.h"
#include "windows/tests/AviWriter.h"

// The system's Null Renderer; the MinGW-w64 headers do not declare its class
// id (the Windows SDK has it in qedit.h).
DEFINE_GUID(CLSID_NullRenderer, 0xc1f400a4, 0x3f08, 0x11d3, 0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03,
            0x9e, 0x37);

namespace {

// Large enough for the enhancement pipeline's wavelet levels (64 x 48 is not).
constexpr int kWidth = 128;
constexpr int kHeight = 96;
constexpr int kFramesPerSecond = 10;
constexpr int kFrames = 20;

// Frame i is grey with mean luma 30 + 10 i, so a still tells which frame it
// came from.
uint8_t FrameLuma(int frame) {
  return static_cast<uint8_t>(30 + 10 * frame);
}

// The grey level a studio-range luma becomes in the blue-green-red still.
double StillGrey(int frame) {
  const double v = 1.164 * (FrameLuma(frame) - 16);
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

bool ExpectUnregistered() {
  const char* v = std::getenv("KELVO_EXPECT_UNREGISTERED");
  return v != nullptr && v[0] == '1';
}

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ComPtr() = default;
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
  void** Out() { return reinterpret_cast<void**>(&p); }
};

struct Still {
  int width = 0;
  int height = 0;
  int components = 0;
  std::vector<uint8_t> pixels;  // red, green, blue
};

bool ReadJpeg(const std::wstring& path, Still* still) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  still->width = static_cast<int>(cinfo.output_width);
  still->height = static_cast<int>(cinfo.output_height);
  still->components = cinfo.output_components;
  const size_t row = static_cast<size_t>(still->width) * still->components;
  still->pixels.resize(row * still->height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW dest = still->pixels.data() + cinfo.output_scanline * row;
    jpeg_read_scanlines(&cinfo, &dest, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return true;
}

// The frame whose grey level is nearest to the still's mean, after checking
// that every pixel of the still is grey.
int IdentifyFrame(const Still& still) {
  double sum = 0;
  for (size_t i = 0; i < still.pixels.size(); i += 3) {
    const int r = still.pixels[i], g = still.pixels[i + 1], b = still.pixels[i + 2];
    EXPECT_LE(std::abs(r - g), 2);
    EXPECT_LE(std::abs(b - g), 2);
    sum += g;
  }
  const double mean = sum / (still.pixels.size() / 3);
  int best = 0;
  for (int f = 1; f < kFrames; ++f)
    if (std::abs(StillGrey(f) - mean) < std::abs(StillGrey(best) - mean)) best = f;
  EXPECT_NEAR(StillGrey(best), mean, 3.0);
  return best;
}

HRESULT FindPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
  ComPtr<IEnumPins> pins;
  HRESULT hr = filter->EnumPins(&pins.p);
  if (FAILED(hr)) return hr;
  IPin* candidate = nullptr;
  while (pins->Next(1, &candidate, nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(candidate->QueryDirection(&d)) && d == direction) {
      *pin = candidate;
      return S_OK;
    }
    candidate->Release();
  }
  return VFW_E_NOT_FOUND;
}

HRESULT ConnectFilters(IGraphBuilder* graph, IBaseFilter* from, IBaseFilter* to) {
  ComPtr<IPin> out;
  ComPtr<IPin> in;
  HRESULT hr = FindPin(from, PINDIR_OUTPUT, &out.p);
  if (SUCCEEDED(hr)) hr = FindPin(to, PINDIR_INPUT, &in.p);
  // Direct connections only: no converter may slip in between.
  if (SUCCEEDED(hr)) hr = graph->ConnectDirect(out.p, in.p, nullptr);
  return hr;
}

class WineGraph : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    WCHAR temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    dir_ = std::wstring(temp) + L"kelvo-graph-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::wstring& name : created_) DeleteFileW((dir_ + name).c_str());
    RemoveDirectoryW(dir_.c_str());
    CoUninitialize();
  }
  std::wstring Path(const std::wstring& name) {
    created_.push_back(name);
    return dir_ + name;
  }

  std::wstring dir_;
  std::vector<std::wstring> created_;
};

TEST_F(WineGraph, GrabsTheMainStillAndBothRequestsFromTheRightFrames) {
  if (ExpectUnregistered()) GTEST_SKIP() << "module unregistered";
  AviVideo video;
  video.width = kWidth;
  video.height = kHeight;
  video.framesPerSecond = kFramesPerSecond;
  for (int f = 0; f < kFrames; ++f)
    video.frames.push_back(GreyYuy2Frame(kWidth, kHeight, FrameLuma(f)));
  const std::wstring avi = Path(L"grey.avi");
  ASSERT_TRUE(WriteYuy2Avi(avi, video));
  const std::wstring mainStill = Path(L"main.jpg");
  const std::wstring firstStill = Path(L"first.jpg");
  const std::wstring secondStill = Path(L"second.jpg");
  const std::wstring enhancedStill = Path(L"enhanced.jpg");
  // A still whose folder does not exist: reported to the graph, and the
  // stream goes on to its end.
  const std::wstring unwritableStill = Path(L"no-such-folder\\lost.jpg");

  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, graph.Out()));
  ComPtr<IBaseFilter> source, splitter, grabber, renderer;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, source.Out()));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AviSplitter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, splitter.Out()));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, grabber.Out()));
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, renderer.Out()));
  ASSERT_EQ(S_OK, graph->AddFilter(source.p, L"Source"));
  ASSERT_EQ(S_OK, graph->AddFilter(splitter.p, L"Splitter"));
  ASSERT_EQ(S_OK, graph->AddFilter(grabber.p, L"KelvoFrameGrabFilter"));
  ASSERT_EQ(S_OK, graph->AddFilter(renderer.p, L"Renderer"));
  {
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IFileSourceFilter, file.Out()));
    ASSERT_EQ(S_OK, file->Load(avi.c_str(), nullptr));
  }
  ASSERT_EQ(S_OK, ConnectFilters(graph.p, source.p, splitter.p));
  ASSERT_EQ(S_OK, ConnectFilters(graph.p, splitter.p, grabber.p));
  ASSERT_EQ(S_OK, ConnectFilters(graph.p, grabber.p, renderer.p));

  // At 10 frames per second frame f starts at f / 10 s. The main grab at
  // 0.5 s takes frame 5; the requests at 1.0 s and 1.5 s take frames 10 and
  // 15 (each is due from T - 0.005 s for one frame period). A third request
  // at 1.5 s runs the enhancement pipeline on frame 15. The request at 1.2 s
  // cannot be written: the graph is told, and the stream goes on.
  ComPtr<IFrameGrabFilter> control;
  ASSERT_EQ(S_OK, grabber->QueryInterface(IID_IFrameGrabFilter, control.Out()));
  ASSERT_EQ(S_OK, control->SetFrameRate(kFramesPerSecond));
  ASSERT_EQ(S_OK, control->SetGrabParams(GrabParams{0.5, true, false}));
  SnapshotRequest request{};
  for (const auto& [name, time, enhance] :
       {std::tuple{firstStill, 1.0, false}, std::tuple{secondStill, 1.5, false},
        std::tuple{enhancedStill, 1.5, true}, std::tuple{unwritableStill, 1.2, false}}) {
    request = SnapshotRequest{};
    wcsncpy(request.fileName, name.c_str(), 259);
    request.time = time;
    request.enhance = enhance;
    ASSERT_EQ(S_OK, control->AddSnapshot(&request));
  }
  {
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, grabber->QueryInterface(IID_IFileSinkFilter, sink.Out()));
    ASSERT_EQ(S_OK, sink->SetFileName(mainStill.c_str(), nullptr));
    LPOLESTR current = nullptr;
    ASSERT_EQ(S_OK, sink->GetCurFile(&current, nullptr));
    ASSERT_NE(nullptr, current);
    EXPECT_EQ(mainStill, std::wstring(current));
    CoTaskMemFree(current);
  }

  // No clock: the samples flow as fast as the graph takes them.
  {
    ComPtr<IMediaFilter> timing;
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaFilter, timing.Out()));
    ASSERT_EQ(S_OK, timing->SetSyncSource(nullptr));
  }
  ComPtr<IMediaControl> media;
  ComPtr<IMediaEvent> events;
  ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, media.Out()));
  ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, events.Out()));
  ASSERT_TRUE(SUCCEEDED(media->Run()));
  // The events are read one by one rather than through WaitForCompletion,
  // which may take the filter's own events off the queue while it waits.
  bool complete = false;
  int failures = 0;
  for (int waited = 0; !complete && waited < 30000;) {
    long event = 0;
    LONG_PTR param1 = 0, param2 = 0;
    if (events->GetEvent(&event, &param1, &param2, 100) != S_OK) {
      waited += 100;
      continue;
    }
    if (event == EC_COMPLETE) complete = true;
    if (event == EC_FRAMEGRAB_STILL_FAILED) {
      ++failures;
      EXPECT_EQ(0, param2);  // a request, not the main grab
    }
    events->FreeEventParams(event, param1, param2);
  }
  ASSERT_TRUE(complete);
  ASSERT_TRUE(SUCCEEDED(media->Stop()));
  {
    ComPtr<IFrameGrabStillOutput> output;
    ASSERT_EQ(S_OK, grabber->QueryInterface(IID_IFrameGrabStillOutput, output.Out()));
    LONG failed = -1;
    ASSERT_EQ(S_OK, output->GetFailedStills(&failed));
    EXPECT_EQ(1, failed);
  }
  EXPECT_EQ(1, failures);

  struct Expected {
    std::wstring path;
    int frame;
  };
  for (const Expected& e :
       {Expected{mainStill, 5}, Expected{firstStill, 10}, Expected{secondStill, 15}}) {
    SCOPED_TRACE(testing::Message() << "frame " << e.frame);
    Still still;
    ASSERT_TRUE(ReadJpeg(e.path, &still));
    ASSERT_EQ(kWidth, still.width);
    ASSERT_EQ(kHeight, still.height);
    ASSERT_EQ(3, still.components);
    EXPECT_EQ(e.frame, IdentifyFrame(still));
  }
  Still enhanced;
  ASSERT_TRUE(ReadJpeg(enhancedStill, &enhanced));
  EXPECT_EQ(kWidth, enhanced.width);
  EXPECT_EQ(kHeight, enhanced.height);
  // The runner compares the enhanced still of a vector run with that of a
  // KELVO_NO_SIMD=1 run: both must be the same bytes.
  if (const wchar_t* copy = _wgetenv(L"KELVO_ENHANCED_COPY"); copy != nullptr && copy[0] != 0) {
    EXPECT_TRUE(CopyFileW(enhancedStill.c_str(), copy, FALSE));
  }
}

TEST_F(WineGraph, FilterOffersOnePropertyPageWithItsTitleResource) {
  if (ExpectUnregistered()) GTEST_SKIP() << "module unregistered";
  ComPtr<ISpecifyPropertyPages> filter;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISpecifyPropertyPages, filter.Out()));
  CAUUID pages{};
  ASSERT_EQ(S_OK, filter->GetPages(&pages));
  ASSERT_EQ(1u, pages.cElems);
  const CLSID page = pages.pElems[0];
  CoTaskMemFree(pages.pElems);
  EXPECT_TRUE(IsEqualCLSID(CLSID_FrameGrabFilterProperties, page));

  // The page class is registered too, and its title is string 1015 of the
  // module's resources.
  ComPtr<IPropertyPage> propertyPage;
  ASSERT_EQ(S_OK, CoCreateInstance(page, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   propertyPage.Out()));
  PROPPAGEINFO info{};
  ASSERT_EQ(S_OK, propertyPage->GetPageInfo(&info));
  ASSERT_NE(nullptr, info.pszTitle);
  EXPECT_EQ(std::wstring(L"FrameGrabFilter"), std::wstring(info.pszTitle));
  CoTaskMemFree(info.pszTitle);
}

// One control of a DLGTEMPLATEEX resource: where it is, what it is.
struct DialogControl {
  DWORD id;
  WORD classOrdinal;  // 0x81 edit, 0x82 static
  std::wstring text;
  short x, y, cx, cy;
};

struct DialogTemplate {
  short cx = 0, cy = 0;
  WORD pointSize = 0;
  std::wstring font;
  std::vector<DialogControl> controls;
};

// Reads a DLGTEMPLATEEX as the resource compiler lays it out: header, menu,
// class, title, font, then DWORD-aligned items.
class DialogReader {
 public:
  explicit DialogReader(const BYTE* data) : base_(data), p_(data) {}
  WORD Word() {
    WORD v;
    std::memcpy(&v, p_, 2);
    p_ += 2;
    return v;
  }
  DWORD Dword() { return Word() | static_cast<DWORD>(Word()) << 16; }
  short Short() { return static_cast<short>(Word()); }
  // A string, or an ordinal after 0xFFFF (returned in `ordinal`).
  std::wstring SzOrOrd(WORD* ordinal = nullptr) {
    const WORD first = Word();
    if (first == 0xFFFF) {
      const WORD v = Word();
      if (ordinal != nullptr) *ordinal = v;
      return {};
    }
    std::wstring text;
    for (WORD c = first; c != 0; c = Word()) text += static_cast<wchar_t>(c);
    return text;
  }
  void AlignDword() {
    while ((p_ - base_) % 4 != 0) ++p_;
  }
  void Skip(size_t bytes) { p_ += bytes; }

 private:
  const BYTE* base_;
  const BYTE* p_;
};

DialogTemplate ReadDialog(const BYTE* data) {
  DialogReader r(data);
  DialogTemplate t;
  EXPECT_EQ(1, r.Word());       // version
  EXPECT_EQ(0xFFFF, r.Word());  // extended template
  r.Dword();                    // help id
  r.Dword();                    // extended style
  const DWORD style = r.Dword();
  EXPECT_TRUE(style & WS_CHILD);
  const WORD count = r.Word();
  r.Short();
  r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  r.SzOrOrd();  // menu
  r.SzOrOrd();  // class
  r.SzOrOrd();  // title
  if (style & DS_SETFONT) {
    t.pointSize = r.Word();
    r.Word();  // weight
    r.Word();  // italic, character set
    t.font = r.SzOrOrd();
  }
  for (WORD i = 0; i < count; ++i) {
    r.AlignDword();
    DialogControl c{};
    r.Dword();  // help id
    r.Dword();  // extended style
    r.Dword();  // style
    c.x = r.Short();
    c.y = r.Short();
    c.cx = r.Short();
    c.cy = r.Short();
    c.id = r.Dword();
    r.SzOrOrd(&c.classOrdinal);
    c.text = r.SzOrOrd();
    r.Skip(r.Word());  // creation data
    t.controls.push_back(c);
  }
  return t;
}

std::wstring RegisteredModulePath() {
  WCHAR path[MAX_PATH] = {};
  DWORD bytes = sizeof(path);
  RegGetValueW(HKEY_CLASSES_ROOT, L"CLSID\\{ACDAE7FF-59DF-48EF-8F5B-6A85CA5F0E05}\\InprocServer32",
               nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes);
  return path;
}

TEST_F(WineGraph, PropertyPageDialogHasTheGrabFieldsAndLabels) {
  if (ExpectUnregistered()) GTEST_SKIP() << "module unregistered";
  const std::wstring modulePath = RegisteredModulePath();
  HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module) << "module " << testing::PrintToString(modulePath);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(5));  // RT_DIALOG
  ASSERT_NE(nullptr, found);
  const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(nullptr, data);
  const DialogTemplate dialog = ReadDialog(data);
  FreeLibrary(module);

  EXPECT_EQ(215, dialog.cx);
  EXPECT_EQ(128, dialog.cy);
  EXPECT_EQ(8, dialog.pointSize);
  EXPECT_EQ(std::wstring(L"MS Shell Dlg"), dialog.font);
  ASSERT_EQ(4u, dialog.controls.size());
  const DialogControl expected[] = {
      {1005, 0x81, L"", 99, 42, 40, 14},
      {1006, 0x81, L"", 99, 59, 40, 14},
      {0xFFFF, 0x82, L"Grab Time (sec)", 43, 46, 51, 8},
      {0xFFFF, 0x82, L"Grab Enabled (0 or 1)", 24, 61, 70, 8},
  };
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(testing::Message() << "control " << i);
    const DialogControl& c = dialog.controls[i];
    EXPECT_EQ(expected[i].id & 0xFFFF, c.id & 0xFFFF);
    EXPECT_EQ(expected[i].classOrdinal, c.classOrdinal);
    EXPECT_EQ(expected[i].text, c.text);
    EXPECT_EQ(expected[i].x, c.x);
    EXPECT_EQ(expected[i].y, c.y);
    EXPECT_EQ(expected[i].cx, c.cx);
    EXPECT_EQ(expected[i].cy, c.cy);
  }
}

TEST_F(WineGraph, FilterIsListedInTheDirectShowCategory) {
  if (ExpectUnregistered()) GTEST_SKIP() << "module unregistered";
  HKEY key = nullptr;
  const std::wstring instance =
      L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
      L"{ACDAE7FF-59DF-48EF-8F5B-6A85CA5F0E05}";
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CLASSES_ROOT, instance.c_str(), 0, KEY_READ, &key));
  WCHAR name[64] = {};
  DWORD bytes = sizeof(name);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"FriendlyName", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(name), &bytes));
  EXPECT_EQ(std::wstring(L"KelvoFrameGrabFilter"), std::wstring(name));
  RegCloseKey(key);

  WCHAR model[16] = {};
  bytes = sizeof(model);
  EXPECT_EQ(ERROR_SUCCESS,
            RegGetValueW(HKEY_CLASSES_ROOT,
                         L"CLSID\\{ACDAE7FF-59DF-48EF-8F5B-6A85CA5F0E05}\\InprocServer32",
                         L"ThreadingModel", RRF_RT_REG_SZ, nullptr, model, &bytes));
  EXPECT_EQ(std::wstring(L"Both"), std::wstring(model));
}

TEST_F(WineGraph, UnregisteringRemovesBothClasses) {
  if (!ExpectUnregistered()) GTEST_SKIP() << "module registered";
  IUnknown* object = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_FrameGrabFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)));
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_FrameGrabFilterProperties, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IUnknown, reinterpret_cast<void**>(&object)));
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND,
            RegOpenKeyExW(HKEY_CLASSES_ROOT,
                          L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\"
                          L"{ACDAE7FF-59DF-48EF-8F5B-6A85CA5F0E05}",
                          0, KEY_READ, &key));
}

}  // namespace
