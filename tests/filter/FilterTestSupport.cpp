#include "tests/filter/FilterTestSupport.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "filter/FrameGrabFilterSetup.h"

namespace {

struct Ycc {
  int y, cb, cr;
};

// Quadrant colours: reddish, greenish, bluish, grey; distinct in every
// channel so that swapped channels or rows show.
const Ycc kQuadrants[4] = {{81, 100, 200}, {145, 70, 60}, {60, 200, 110}, {180, 128, 128}};

struct Bgr {
  uint8_t b, g, r;
};
const Bgr kBands[4] = {{20, 40, 220}, {30, 200, 60}, {210, 50, 40}, {128, 128, 128}};

int Clamp(int v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

}  // namespace

void Yuy2PixelToBgr(int y, int cb, int cr, uint8_t* bgr) {
  bgr[2] = static_cast<uint8_t>(Clamp((76284 * y + 104595 * cr - 14608761) >> 16));
  bgr[1] = static_cast<uint8_t>(Clamp((76284 * y - 53281 * cr - 25690 * cb + 8887730) >> 16));
  bgr[0] = static_cast<uint8_t>(Clamp((76284 * y + 132186 * cb - 18140365) >> 16));
}

std::vector<BYTE> MakeQuadrantYuy2(int width, int height, BgrImage* expected) {
  std::vector<BYTE> frame(static_cast<size_t>(width) * height * 2);
  expected->width = width;
  expected->height = height;
  expected->pixels.assign(static_cast<size_t>(width) * height * 3, 0);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; x += 2) {
      const Ycc& c = kQuadrants[(row < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1)];
      BYTE* p = &frame[(static_cast<size_t>(row) * width + x) * 2];
      p[0] = static_cast<BYTE>(c.y);
      p[1] = static_cast<BYTE>(c.cb);
      p[2] = static_cast<BYTE>(c.y);
      p[3] = static_cast<BYTE>(c.cr);
      uint8_t* e = &expected->pixels[(static_cast<size_t>(row) * width + x) * 3];
      Yuy2PixelToBgr(c.y, c.cb, c.cr, e);
      Yuy2PixelToBgr(c.y, c.cb, c.cr, e + 3);
    }
  }
  return frame;
}

std::vector<BYTE> MakeBandedRgb32(int width, int height, BgrImage* expected) {
  std::vector<BYTE> frame(static_cast<size_t>(width) * height * 4);
  expected->width = width;
  expected->height = height;
  expected->pixels.assign(static_cast<size_t>(width) * height * 3, 0);
  for (int row = 0; row < height; ++row) {
    const Bgr& c = kBands[(row / 16) % 4];
    // Memory row 0 is the bottom row of the picture.
    const int memoryRow = height - 1 - row;
    for (int x = 0; x < width; ++x) {
      BYTE* p = &frame[(static_cast<size_t>(memoryRow) * width + x) * 4];
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
      p[3] = 0x77;
      uint8_t* e = &expected->pixels[(static_cast<size_t>(row) * width + x) * 3];
      e[0] = c.b;
      e[1] = c.g;
      e[2] = c.r;
    }
  }
  return frame;
}

bool ReadJpeg(const std::filesystem::path& file, BgrImage* image) {
  FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return false;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  // Chroma is taken block by block, not interpolated across the edges of
  // the flat test areas.
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  image->width = static_cast<int>(cinfo.output_width);
  image->height = static_cast<int>(cinfo.output_height);
  image->pixels.assign(static_cast<size_t>(image->width) * image->height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &image->pixels[static_cast<size_t>(cinfo.output_scanline) * image->width * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(in);
  return true;
}

int MaxDifference(const BgrImage& a, const BgrImage& b) {
  if (a.width != b.width || a.height != b.height) return 1000;
  int worst = 0;
  for (size_t i = 0; i < a.pixels.size(); ++i)
    worst = std::max(worst, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
  return worst;
}

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

namespace {

std::filesystem::path TestRoot() {
  const char* base = std::getenv("TEST_TMPDIR");
  return std::filesystem::path(base != nullptr ? base : "/tmp") /
         ("kelvo-filter-" + std::to_string(getpid()));
}

// Removes this run's files when the tests end.
class TemporaryFiles : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(TestRoot(), ignored);
  }
};

[[maybe_unused]] ::testing::Environment* const kTemporaryFiles =
    ::testing::AddGlobalTestEnvironment(new TemporaryFiles);

}  // namespace

std::filesystem::path FreshDirectory(const std::string& name) {
  std::filesystem::path dir = TestRoot() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

FilterGraph::FilterGraph(IBaseFilter* filterUnderTest, std::vector<CMediaType> sourceTypes)
    : source(NewHeldFilter<TestSourceFilter>(std::move(sourceTypes))),
      filter(filterUnderTest),
      sink(NewHeldFilter<TestSinkFilter>()) {
  filter->AddRef();
  sourceOut = FindPinOf(source, u"Out");
  filterIn = FindPinOf(filter, u"Input");
  filterOut = FindPinOf(filter, u"Output");
  sinkIn = FindPinOf(sink, u"In");
}

FilterGraph::~FilterGraph() {
  Stop();
  for (IPin* pin : {sourceOut, filterIn, filterOut, sinkIn}) {
    if (pin != nullptr) {
      pin->Disconnect();
      pin->Release();
    }
  }
  sink->Release();
  filter->Release();
  source->Release();
}

HRESULT FilterGraph::Connect() {
  HRESULT hr = sourceOut->Connect(filterIn, nullptr);
  if (FAILED(hr)) return hr;
  return filterOut->Connect(sinkIn, nullptr);
}

HRESULT FilterGraph::Run() {
  HRESULT hr = sink->Run(0);
  if (SUCCEEDED(hr)) hr = filter->Run(0);
  if (SUCCEEDED(hr)) hr = source->Run(0);
  return hr;
}

HRESULT FilterGraph::Stop() {
  source->Stop();
  filter->Stop();
  return sink->Stop();
}

HRESULT FilterGraph::Push(const std::vector<BYTE>& frame, double seconds) {
  const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(seconds * 10000000.0 + 0.5);
  return source->Push(frame, &start);
}

HRESULT FilterGraph::PushUntimed(const std::vector<BYTE>& frame) {
  return source->Push(frame, nullptr);
}

CFrameGrabFilter* NewFrameGrabFilter() {
  for (int i = 0; i < g_cTemplates; ++i) {
    if (!g_Templates[i].IsClassID(CLSID_FrameGrabFilter)) continue;
    HRESULT hr = E_FAIL;
    CUnknown* object = g_Templates[i].CreateInstance(nullptr, &hr);
    if (object == nullptr || FAILED(hr)) return nullptr;
    object->NonDelegatingAddRef();
    return static_cast<CFrameGrabFilter*>(object);
  }
  return nullptr;
}
