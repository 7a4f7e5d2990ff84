#include "filter/WriteJpegFile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#ifndef _WIN32
#include "platform/detail/WideString.h"
#endif

namespace {

FILE* OpenForWriting(LPCWSTR fileName, std::string* printable) {
#ifdef _WIN32
  char narrow[1024];
  std::snprintf(narrow, sizeof narrow, "%ls", fileName);
  *printable = narrow;
  return _wfopen(fileName, L"wb");
#else
  *printable = kelvo::platform::detail::WideToUtf8(fileName);
  return std::fopen(printable->c_str(), "wb");
#endif
}

}  // namespace

void WriteJpegFile(LPCWSTR fileName, int width, int height, const uint8_t* pixels) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);

  std::string printable;
  FILE* file = OpenForWriting(fileName, &printable);
  if (file == nullptr) {
    std::fprintf(stderr, "can't open %s\n", printable.c_str());
    std::exit(1);
  }
  jpeg_stdio_dest(&cinfo, file);

  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  // The rows hold blue, green, red: libjpeg-turbo's extended BGR input takes
  // them as they are, so the file's colours come out right.
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 88, TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  const size_t rowBytes = static_cast<size_t>(width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + cinfo.next_scanline * rowBytes);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::fclose(file);
  jpeg_destroy_compress(&cinfo);
}
