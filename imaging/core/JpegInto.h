#pragma once

// Decoding a JPEG into pixels that are already there.
//
// BitmapData::LoadJpg allocates its buffer once the header is read, so its
// pages are fresh when the decoder first writes them. A caller that knows
// the size beforehand (ReadImageSize) can allocate the image itself, have
// another thread make its pages present while this one decodes, and decode
// into it: the rows the enhancement then reads are those pages, with no
// second buffer and no copy.

#include <cstdint>

namespace KelvoLibImageProcessing {

class BitmapData;

// The most pixels a JPEG load takes; larger files are refused with code 0
// before their pixels are allocated.
int64_t MaxJpegPixels() noexcept;

// Decodes the three-component JPEG fileName into image's own buffer, which
// must already be a pixel format 2 image of the file's width and height
// with rows 3 * width bytes apart (Initialize(width, height, kFormatBGR8,
// nullptr, 3 * width)). Throws IPException with the codes of
// BitmapData::LoadJpg, and
//   5 an image without pixels;
//   2 an image of another pixel format;
//   6 rows that are not 3 * width bytes apart;
//   1 a file whose width or height is not the image's (nothing is written);
//   0 an image of more than MaxJpegPixels() pixels.
// A failure after decoding has begun (a corrupt or truncated file) leaves
// the image's shape as it was and its pixels partly written.
void LoadJpgInto(const char* fileName, BitmapData& image);

}  // namespace KelvoLibImageProcessing
