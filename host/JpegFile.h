#pragma once

// JPEG files with the blocks a photo carries (see ImageMetadata.h).
//
// The image library reads and writes the pixels of a JPEG; these add what a
// copy of a photo must keep, with libjpeg's own marker calls, and write
// through the safe writer (a temporary beside the target, renamed over it
// when complete). Errors are returned, never thrown; a block that cannot be
// carried is a warning, not a failure, because the picture is what the user
// asked for.

#include <filesystem>
#include <string>
#include <vector>

#include "host/ImageMetadata.h"

namespace kelvo::host {

// Reads the EXIF, ICC and XMP blocks of a JPEG from its headers; the
// entropy-coded data is not decoded. The first APP1 "Exif" and the first
// standard APP1 XMP marker are taken; the APP2 "ICC_PROFILE" chunks are
// joined in their sequence order. Chunks that do not fit together (one
// missing, numbered twice) are dropped with a warning. Empty on success,
// else why the headers cannot be read, naming the file.
std::string ReadJpegMetadata(const std::filesystem::path& file, ImageMetadata* metadata,
                             std::vector<std::string>* warnings);

// Writes image as a baseline JPEG of the given quality (1 to 100), the
// same bytes kelvo::io::WriteJpegBgr writes when metadata is empty. Blocks
// present are written after the start of image: the EXIF block as APP1
// "Exif\0\0" (the file then has no JFIF header, as a camera's has none), the
// XMP packet as APP1 "http://ns.adobe.com/xap/1.0/\0", the ICC profile as
// APP2 "ICC_PROFILE" chunks of at most 65519 bytes. A block too large for
// its marker (EXIF above 65527 bytes, XMP above 65504, ICC above 255 chunks)
// is left out with a warning. Empty on success, else the reason, naming the
// file.
std::string WriteJpeg(const std::filesystem::path& target, const BgrView& image, int quality,
                      const ImageMetadata& metadata, std::vector<std::string>* warnings);

}  // namespace kelvo::host
