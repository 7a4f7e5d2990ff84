#include "tools/kelvo-enhance/ImageOutput.h"

#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "host/JpegFile.h"
#include "host/PngFile.h"
#include "imaging/core/SafeFile.h"

namespace kelvo::enhance {

using KelvoLibImageProcessing::BitmapData;

bool ImageTypeOf(const std::string& name, ImageType* type) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  const char* ext = name.c_str() + dot + 1;
  if (strcasecmp(ext, "bmp") == 0) {
    *type = ImageType::kBmp;
  } else if (strcasecmp(ext, "jpg") == 0 || strcasecmp(ext, "jpeg") == 0) {
    *type = ImageType::kJpeg;
  } else if (strcasecmp(ext, "png") == 0) {
    *type = ImageType::kPng;
  } else {
    return false;
  }
  return true;
}

const char* ExtensionOf(ImageType type) {
  switch (type) {
    case ImageType::kBmp:
      return "bmp";
    case ImageType::kJpeg:
      return "jpg";
    case ImageType::kPng:
      return "png";
  }
  return "";
}

std::string WriteImage(const BitmapData& image, const std::string& file, ImageType type,
                       int quality, const kelvo::host::ImageMetadata& metadata,
                       std::vector<std::string>* warnings) {
  if (image.GetData() == nullptr || image.GetFormat() != KelvoLibImageProcessing::kFormatBGR8)
    return "\"" + file + "\": no image to write";
  if (type == ImageType::kBmp) {
    if (!metadata.Empty())
      warnings->push_back("a BMP file has no place for its EXIF, ICC and XMP blocks: left out");
    // Rows of the container's stride, as BitmapData::SaveBmp writes them.
    return kelvo::io::WriteBmpBgr(file, image.GetData(), image.GetWidth(), image.GetHeight(),
                                  image.GetStride());
  }
  kelvo::host::BgrView view;
  view.pixels = image.GetData();
  view.width = image.GetWidth();
  view.height = image.GetHeight();
  view.stride = static_cast<size_t>(image.GetStride());
  if (type == ImageType::kPng) return kelvo::host::WritePng(file, view, metadata, warnings);
  return kelvo::host::WriteJpeg(file, view, quality, metadata, warnings);
}

std::string WriteText(const std::string& text, const std::string& file) {
  if (file == "-") {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                         std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (written) return {};
    const int reason = errno;
    return "standard output: " +
           (reason != 0 ? std::generic_category().message(reason) : std::string("write failed"));
  }
  kelvo::io::SafeFileWriter writer;
  if (!writer.Open(file)) return writer.Error();
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), writer.File()) != text.size())
    writer.Fail("cannot write", errno);
  if (!writer.Commit()) return writer.Error();
  return {};
}

}  // namespace kelvo::enhance
