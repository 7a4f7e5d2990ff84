#pragma once

// Shared pieces of the filter tests: frame builders with their expected
// blue-green-red images, a JPEG reader, the graph around the filter, and
// temporary file names.

#include <filesystem>
#include <string>
#include <vector>

#include "filter/CFrameGrabFilter.h"
#include "tests/platform/TestGraph.h"

// Blue, green, red of each pixel, top row first, 3 * width bytes per row.
struct BgrImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// The frame converter's formula, written out for the tests.
void Yuy2PixelToBgr(int y, int cb, int cr, uint8_t* bgr);

// A YUY2 frame made of four quadrants of flat colour, each quadrant a whole
// number of 16 x 16 blocks so that the JPEG codec reproduces it closely.
std::vector<BYTE> MakeQuadrantYuy2(int width, int height, BgrImage* expected);

// A bottom-up RGB32 frame of horizontal bands (16 rows each) of flat
// colour; the alpha bytes are 0x77.
std::vector<BYTE> MakeBandedRgb32(int width, int height, BgrImage* expected);

bool ReadJpeg(const std::filesystem::path& file, BgrImage* image);

// Largest per-byte difference between two images of equal size.
int MaxDifference(const BgrImage& a, const BgrImage& b);

std::u16string Wide(const std::string& text);

// A fresh directory under the test temporary directory.
std::filesystem::path FreshDirectory(const std::string& name);

// Source -> filter under test -> sink, connected through the pins' COM
// interfaces.
class FilterGraph {
 public:
  FilterGraph(IBaseFilter* filter, std::vector<CMediaType> sourceTypes);
  ~FilterGraph();
  HRESULT Connect();
  HRESULT Run();
  HRESULT Stop();
  HRESULT Push(const std::vector<BYTE>& frame, double seconds);
  HRESULT PushUntimed(const std::vector<BYTE>& frame);

  TestSourceFilter* source;
  IBaseFilter* filter;
  TestSinkFilter* sink;
  IPin* sourceOut;
  IPin* filterIn;
  IPin* filterOut;
  IPin* sinkIn;
};

// A CFrameGrabFilter made through the module's class factory table; held by
// one reference.
CFrameGrabFilter* NewFrameGrabFilter();
