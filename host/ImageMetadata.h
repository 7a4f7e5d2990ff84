#pragma once

// What a photo carries besides its pixels that a copy of it should keep:
// the camera's EXIF block, the colour profile and the XMP packet. Each is
// held as raw bytes, in the form the file formats share, so a block read
// from a JPEG can be written to a PNG and back unchanged:
//
//  - exif: the TIFF structure itself, from its "II*\0" or "MM\0*" header
//    on (a JPEG's APP1 payload without its "Exif\0\0" prefix; a PNG eXIf
//    chunk as it is);
//  - icc: the whole ICC profile (a JPEG's APP2 "ICC_PROFILE" chunks joined;
//    a PNG iCCP chunk decompressed);
//  - xmp: the XMP packet, UTF-8 XML (a JPEG's APP1 payload after
//    "http://ns.adobe.com/xap/1.0/\0"; a PNG iTXt "XML:com.adobe.xmp").
//
// An empty vector means the block is absent.

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::host {

struct ImageMetadata {
  std::vector<uint8_t> exif;
  std::vector<uint8_t> icc;
  std::vector<uint8_t> xmp;

  bool Empty() const { return exif.empty() && icc.empty() && xmp.empty(); }
};

// A decoded picture: height rows of exactly 3 * width bytes, blue, green,
// red, top row first.
struct BgrImage {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
};

// The pixels a writer takes: height rows of 3 * width bytes, blue, green,
// red, top row first, row r starting r * stride bytes into pixels.
struct BgrView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  size_t stride = 0;
};

}  // namespace kelvo::host
