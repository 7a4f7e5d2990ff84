#pragma once

// kelvo-enhance's writer of the enhanced image and of its report.
//
// BitmapData::Save is safe but says only that a write failed; a user whose
// photo was not written wants to know why (disk full, file too large, no
// permission). So the tool writes through the safe writers itself, which
// keep the system's reason: a BMP of the container's rows as they are (the
// bytes Save writes), a JPEG of the requested quality (95, Save's, by
// default) or an 8-bit RGB PNG, to a temporary file beside the target
// renamed over it when complete. A failure leaves the target as it was, so
// an in-place run (INPUT and OUTPUT one file) can never leave a truncated
// photo behind.

#include <string>
#include <vector>

#include "host/ImageMetadata.h"
#include "imaging/core/BitmapData.h"

namespace kelvo::enhance {

enum class ImageType { kBmp, kJpeg, kPng };

// The type a file name's extension names: .bmp, .jpg or .jpeg, .png, in
// any letter case. False for any other name.
bool ImageTypeOf(const std::string& name, ImageType* type);

// The extension written for a type: "bmp", "jpg", "png".
const char* ExtensionOf(ImageType type);

// Writes image (pixel format 2) to file as type; a JPEG at quality (1 to
// 100). JPEG and PNG files carry the blocks in metadata; a BMP file has no
// place for them, and leaving them out is a warning. Empty on success,
// else the reason, naming the file.
std::string WriteImage(const KelvoLibImageProcessing::BitmapData& image, const std::string& file,
                       ImageType type, int quality, const kelvo::host::ImageMetadata& metadata,
                       std::vector<std::string>* warnings);

// Writes text to file, or to standard output when file is "-". Empty on
// success, else the reason. Standard output is flushed and checked, so a
// closed or full standard output is a failure, not a silent loss.
std::string WriteText(const std::string& text, const std::string& file);

}  // namespace kelvo::enhance
