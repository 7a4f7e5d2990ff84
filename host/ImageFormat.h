#pragma once

// The picture file formats the hosts write, told by the file name, and the
// one writer of each: the still writer and kelvo-enhance share it, so a
// still and an enhanced photo of the same format are the same kind of file.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/ImageMetadata.h"

namespace kelvo::host {

enum class ImageFormat { Jpeg, Png, Bmp };

// The format a file name's extension names: .jpg or .jpeg, .png, .bmp, in
// any letter case. Nothing for any other name (no extension, a dot only in
// a folder's name).
std::optional<ImageFormat> FormatFromName(const std::string& file);

// The extension written for a format, without the dot: "jpg", "png", "bmp".
const char* ExtensionOf(ImageFormat format);

// Why a file name names no format we write: "\"x.gif\": unknown picture
// format \".gif\" (use .jpg, .jpeg, .png or .bmp)".
std::string UnknownFormatReason(const std::string& file);

// Writes image to target in format through the safe writer: a baseline JPEG
// of quality (1 to 100), an 8-bit RGB PNG or a 24-bit BMP (rows as they are
// in the view, bottom-up in the file). JPEG and PNG files carry the blocks
// in metadata; a BMP file has no place for them, and leaving them out is a
// warning. Builds without libpng (the Windows module) refuse PNG and write
// a JPEG's blocks nowhere, with a warning. Empty on success, else the
// reason, naming the file.
std::string WriteImage(const std::filesystem::path& target, const BgrView& image,
                       ImageFormat format, int quality, const ImageMetadata& metadata,
                       std::vector<std::string>* warnings);

}  // namespace kelvo::host
