#pragma once

// The size an image file declares, read from its header alone.
//
// Decoding allocates a frame-sized buffer, and a file of a few kilobytes can
// declare gigapixels (a JPEG header, a sparse BMP). A caller that has its own
// limit reads the size first and refuses the image before any pixel is
// allocated; only the headers are read, in a few small allocations.

namespace KelvoLibImageProcessing {

// Width and height of the image in fileName, of fileType kFileBmp or
// kFileJpg as for BitmapData::Load. Throws IPException, with the codes a
// load gives for the same faults:
//   17 a file type other than BMP or JPEG, or a BMP without its "BM" mark;
//   18 the file cannot be opened, or is not a regular file (a named pipe or
//      a device is never read, so the call cannot block);
//   21 headers cut short, or a JPEG header libjpeg cannot read;
//    2 a BMP that is not 24 bits per pixel, uncompressed;
//    0 a BMP width or height of 0, a negative width, or a height that no
//      int can hold.
// Nothing else about the file is checked: a file this accepts may still
// fail to load.
void ReadImageSize(const char* fileName, int fileType, int* width, int* height);

}  // namespace KelvoLibImageProcessing
