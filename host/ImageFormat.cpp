#include "host/ImageFormat.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "imaging/core/SafeFile.h"

#if KELVO_HOST_IMAGE_FILES
#include "host/JpegFile.h"
#include "host/PngFile.h"
#endif

namespace kelvo::host {

namespace {

// The extension of the last path component, without the dot, in lower
// case; empty when it has none.
std::string LowerExtension(const std::string& file) {
  const size_t dot = file.rfind('.');
  if (dot == std::string::npos || file.find_first_of("/\\", dot) != std::string::npos) return {};
  std::string ext = file.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

}  // namespace

std::optional<ImageFormat> FormatFromName(const std::string& file) {
  const std::string ext = LowerExtension(file);
  if (ext == "jpg" || ext == "jpeg") return ImageFormat::Jpeg;
  if (ext == "png") return ImageFormat::Png;
  if (ext == "bmp") return ImageFormat::Bmp;
  return std::nullopt;
}

const char* ExtensionOf(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpeg:
      return "jpg";
    case ImageFormat::Png:
      return "png";
    case ImageFormat::Bmp:
      return "bmp";
  }
  return "";
}

std::string UnknownFormatReason(const std::string& file) {
  const size_t dot = file.rfind('.');
  const bool hasExtension =
      dot != std::string::npos && file.find_first_of("/\\", dot) == std::string::npos;
  const std::string what = hasExtension ? "unknown picture format \"" + file.substr(dot) + "\""
                                        : std::string("no extension to tell the picture format");
  return "\"" + file + "\": " + what + " (use .jpg, .jpeg, .png or .bmp)";
}

std::string WriteImage(const std::filesystem::path& target, const BgrView& image,
                       ImageFormat format, int quality, const ImageMetadata& metadata,
                       std::vector<std::string>* warnings) {
  if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 ||
      image.stride < static_cast<size_t>(image.width) * 3) {
    return kelvo::io::QuotedPath(target) + ": no image to write";
  }
  if (format == ImageFormat::Bmp) {
    if (!metadata.Empty())
      warnings->push_back("a BMP file has no place for its EXIF, ICC and XMP blocks: left out");
    if (image.stride > static_cast<size_t>(std::numeric_limits<int>::max()))
      return kelvo::io::QuotedPath(target) + ": rows too long for a BMP file";
    return kelvo::io::WriteBmpBgr(target, image.pixels, image.width, image.height,
                                  static_cast<int>(image.stride));
  }
#if KELVO_HOST_IMAGE_FILES
  if (format == ImageFormat::Png) return WritePng(target, image, metadata, warnings);
  return WriteJpeg(target, image, quality, metadata, warnings);
#else
  if (format == ImageFormat::Png)
    return kelvo::io::QuotedPath(target) + ": this build writes no PNG files";
  if (!metadata.Empty())
    warnings->push_back("this build writes no EXIF, ICC or XMP blocks: left out");
  if (image.stride == static_cast<size_t>(image.width) * 3)
    return kelvo::io::WriteJpegBgr(target, image.pixels, image.width, image.height, quality);
  std::vector<uint8_t> rows(static_cast<size_t>(image.width) * 3 * image.height);
  for (int y = 0; y < image.height; ++y)
    std::memcpy(&rows[static_cast<size_t>(y) * image.width * 3], image.pixels + y * image.stride,
                static_cast<size_t>(image.width) * 3);
  return kelvo::io::WriteJpegBgr(target, rows.data(), image.width, image.height, quality);
#endif
}

}  // namespace kelvo::host
