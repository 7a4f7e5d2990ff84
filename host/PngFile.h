#pragma once

// PNG files through libpng, with the blocks a photo carries (see
// ImageMetadata.h): eXIf, iCCP and the iTXt chunk "XML:com.adobe.xmp".
//
// Reading takes every PNG a camera, an editor or a browser writes and gives
// 8-bit blue, green, red: grey and palette images are expanded, 16-bit
// samples scaled to 8 bits (rounded), and an alpha channel or a
// transparent colour dropped, not blended (the enhancement works on opaque
// photographs). Writing gives an 8-bit RGB PNG through the safe writer (a
// temporary beside the target, renamed over it when complete). Errors are
// returned, never thrown, and libpng never prints.

#include <filesystem>
#include <string>
#include <vector>

#include "host/ImageMetadata.h"

namespace kelvo::host {

// The width and height the IHDR chunk declares, read from the first 24
// bytes alone, so an image can be refused before anything is decoded.
// Empty on success, else why not (not a PNG, cut short), naming the file.
std::string ReadPngSize(const std::filesystem::path& file, int* width, int* height);

// Decodes the whole file into *image and its blocks into *metadata. A block
// libpng rejects (an ICC profile for another colour space, a broken eXIf)
// is left out, as a viewer would ignore it. Empty on success, else the
// reason, naming the file: libpng's own (a bad CRC, data cut short) or
// "out of memory".
std::string ReadPng(const std::filesystem::path& file, BgrImage* image, ImageMetadata* metadata);

// Writes image as an 8-bit RGB PNG with the blocks present: eXIf and iCCP
// before the pixels, the XMP packet as an uncompressed iTXt chunk. An ICC
// profile libpng refuses for an RGB image is left out with a warning.
// Empty on success, else the reason, naming the file.
std::string WritePng(const std::filesystem::path& target, const BgrView& image,
                     const ImageMetadata& metadata, std::vector<std::string>* warnings);

}  // namespace kelvo::host
