#include "tests/gst/GstTestSupport.h"

#include <jpeglib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace kelvo::test {

void InitGstForTests() {
  static bool done = false;
  if (done) return;
  done = true;
  // One private registry for all test programs of this build tree, so the
  // system plugins are scanned once rather than by every test process.
  setenv("GST_REGISTRY", KELVO_GST_TEST_REGISTRY, 1);
  setenv("GST_PLUGIN_PATH", KELVO_GST_PLUGIN_DIR, 1);
  setenv("GST_REGISTRY_FORK", "no", 1);
  gst_init(nullptr, nullptr);
}

uint8_t LeftLuma(int index) { return static_cast<uint8_t>(32 + 16 * (index / 16)); }
uint8_t RightLuma(int index) { return static_cast<uint8_t>(32 + 12 * (index % 16)); }

std::vector<uint8_t> MakeYuy2Frame(int width, int height, int index) {
  // GStreamer's YUY2 rows: whole pixel pairs, padded to 4 bytes.
  const size_t stride = (static_cast<size_t>(width + 1) / 2 * 4 + 3) / 4 * 4;
  std::vector<uint8_t> frame(stride * height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = frame.data() + static_cast<size_t>(y) * stride;
    for (int x = 0; x < width; x += 2) {
      const uint8_t luma = x < width / 2 ? LeftLuma(index) : RightLuma(index);
      row[2 * x + 0] = luma;
      row[2 * x + 1] = 128;
      row[2 * x + 2] = luma;
      row[2 * x + 3] = 128;
    }
  }
  return frame;
}

double Jpeg::Mean(int x0, int y0, int w, int h, int channel) const {
  double sum = 0.0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) sum += rgb[(static_cast<size_t>(y) * width + x) * 3 + channel];
  return sum / (static_cast<double>(w) * h);
}

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  bool failed = false;
};

void OnJpegError(j_common_ptr cinfo) {
  // Decoding errors end the read; the caller sees an empty result.
  reinterpret_cast<ErrorManager*>(cinfo->err)->failed = true;
}

}  // namespace

bool ReadJpeg(const std::string& path, Jpeg* out) {
  // Read the whole file first so a truncated still is reported as such.
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;

  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = [](j_common_ptr c) {
    OnJpegError(c);
    // libjpeg must not continue after a fatal error; abort the test run
    // loudly rather than read garbage.
    std::fprintf(stderr, "fatal JPEG error\n");
    std::abort();
  };
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out->width = static_cast<int>(cinfo.output_width);
  out->height = static_cast<int>(cinfo.output_height);
  out->rgb.assign(static_cast<size_t>(out->width) * out->height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out->rgb.data() + static_cast<size_t>(cinfo.output_scanline) * out->width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return !err.failed;
}

namespace {

// Grey level of a flat YUY2 area of luma y after the filter's conversion
// (video-range BT.601, neutral chroma).
double GreyOf(int y) { return std::clamp((y - 16) * 255.0 / 219.0, 0.0, 255.0); }

// Nearest step for a measured grey level; -1 when none is close.
int NearestStep(double grey, int steps, int (*luma)(int)) {
  int best = -1;
  double bestErr = 1e9;
  for (int s = 0; s < steps; ++s) {
    const double e = std::fabs(GreyOf(luma(s)) - grey);
    if (e < bestErr) {
      bestErr = e;
      best = s;
    }
  }
  return bestErr <= 4.0 ? best : -1;
}

}  // namespace

int DecodeFrameIndex(const Jpeg& jpeg) {
  if (jpeg.width < 8 || jpeg.height < 4) return -1;
  // Sample well inside each half, away from the edge between them.
  const int w = jpeg.width / 4, h = jpeg.height / 2;
  const int y0 = jpeg.height / 4;
  double left[3], right[3];
  for (int c = 0; c < 3; ++c) {
    left[c] = jpeg.Mean(jpeg.width / 8, y0, w, h, c);
    right[c] = jpeg.Mean(jpeg.width / 2 + jpeg.width / 8, y0, w, h, c);
  }
  for (int c = 1; c < 3; ++c)
    if (std::fabs(left[c] - left[0]) > 4.0 || std::fabs(right[c] - right[0]) > 4.0) return -1;
  const int hi = NearestStep(left[1], 12, [](int s) { return 32 + 16 * s; });
  const int lo = NearestStep(right[1], 16, [](int s) { return 32 + 12 * s; });
  if (hi < 0 || lo < 0) return -1;
  return hi * 16 + lo;
}

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-gst-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  return pattern;
}

void RemoveTree(const std::string& folder) {
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace kelvo::test
