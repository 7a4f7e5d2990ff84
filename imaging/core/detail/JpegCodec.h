#pragma once

#include <cstdint>
#include <cstdio>

namespace KelvoLibImageProcessing::detail {

// The libjpeg compress and decompress sequences of BitmapData's JPEG files.
//
// Both are C-style on purpose: libjpeg reports a fatal error by calling the
// error manager's error_exit, which here longjmps back into the function
// that started the sequence. Nothing with a destructor lives between that
// setjmp and the longjmp, so the jump skips no C++ cleanup; the codec object
// is destroyed on the error path and the function returns a status. The
// caller owns the FILE* (and closes it), and turns the status into an
// IPException. The codec never prints and never ends the process.
enum class JpegStatus {
  kOk,
  kCodecFailed,         // libjpeg's fatal error: corrupt, truncated, not a JPEG, write error
  kNotThreeComponents,  // greyscale, CMYK, ...: only three-component files are read
  kTooLarge,            // more pixels than kMaxJpegPixels
  kAllocFailed,         // the output buffer could not be allocated
  kOtherSize,           // JpegDecompressBgrInto: the file's size is not the buffer's
};

// Decoded images are capped at this many pixels (a 3-byte pixel buffer of
// 768 MiB), so a tiny corrupt header cannot make the decoder claim an
// absurd buffer. libjpeg itself caps each side at 65500.
inline constexpr int64_t kMaxJpegPixels = int64_t{1} << 28;

// Writes height rows of 3 * width bytes (blue, green, red; row r starts
// r * 3 * width bytes into pixels) to file as a baseline JFIF with the given
// quality.
JpegStatus JpegCompressBgr(std::FILE* file, const uint8_t* pixels, int width, int height,
                           int quality) noexcept;

// A decoded image: 3 * width * height bytes, blue, green, red, top row
// first, allocated with AllocatePixels (the caller frees it with FreePixels).
struct JpegImage {
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
};

// Reads a three-component JPEG from file. On any status but kOk nothing is
// allocated and image is left untouched.
JpegStatus JpegDecompressBgr(std::FILE* file, JpegImage* image) noexcept;

// Reads a three-component JPEG of exactly width x height pixels from file
// into pixels (height rows of 3 * width bytes), which the caller owns; a
// file of another size is kOtherSize before any row is written. On any
// other status but kOk the rows may be partly written.
JpegStatus JpegDecompressBgrInto(std::FILE* file, uint8_t* pixels, int width, int height) noexcept;

// Reads only the headers of a JPEG from file and gives the width and height
// they declare; nothing frame-sized is allocated, so a caller can refuse an
// image before decoding it. kOk or kCodecFailed (not a JPEG, a header cut
// short or corrupt); width and height are set on kOk only.
JpegStatus JpegReadSize(std::FILE* file, int* width, int* height) noexcept;

}  // namespace KelvoLibImageProcessing::detail
