#include "imaging/core/detail/JpegCodec.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h first: jerror.h's message list depends on its configuration.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/core/detail/AlignedBuffer.h"

namespace KelvoLibImageProcessing::detail {

namespace {

// libjpeg's own memory is capped too (coefficient buffers of progressive
// files); beyond it libjpeg would need a backing store, which this build
// does not have, so it fails cleanly instead.
constexpr long kMaxCodecMemory = 1L << 30;

// A progressive file may carry any number of scans; a corrupt one can make
// the decoder rescan the whole image thousands of times. Real encoders use
// well under a hundred.
constexpr int kMaxScans = 256;

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's err pointer is also ours
  std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// The library never prints.
void OutputMessage(j_common_ptr) {}

// libjpeg's standard manager only counts warnings and goes on, filling the
// rest of a damaged image with grey. A file whose entropy-coded data is
// corrupt or cut short is not a picture we can hand back, so those warnings
// are fatal here. Harmless ones (an unknown JFIF revision, stray bytes
// before a marker, a bad ICC profile) are counted and ignored.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  switch (cinfo->err->msg_code) {
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
      ErrorExit(cinfo);
    default:
      ++cinfo->err->num_warnings;
  }
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    ErrorExit(cinfo);
  }
}

// libjpeg's stdio source reads 4 KiB at a time, and its Huffman decoder
// takes its fast path only while a few KiB of input are buffered (up to
// 5 KiB for the largest blocks a unit), so with that source most of every
// 4 KiB went through the slow path. This one is the same source with a
// larger buffer: the fast path for over nine tenths of the data, and few
// enough fresh pages that their first touch costs less than that saves.
constexpr std::size_t kSourceBuffer = std::size_t{64} << 10;

struct FileSource {
  jpeg_source_mgr pub;  // first, so libjpeg's src pointer is also ours
  std::FILE* file;
  JOCTET* buffer;
  bool startOfFile;
};

void InitSource(j_decompress_ptr cinfo) {
  reinterpret_cast<FileSource*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<FileSource*>(cinfo->src);
  std::size_t n = std::fread(src->buffer, 1, kSourceBuffer, src->file);
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // As libjpeg's own sources do: a warning (fatal here, see EmitMessage)
    // and an end-of-image marker in place of the missing data.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = n;
  src->startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// Reads cinfo's compressed data from file; the buffer lives in libjpeg's
// permanent pool, freed with the decompressor.
void UseFileSource(j_decompress_ptr cinfo, std::FILE* file) {
  auto* src = static_cast<FileSource*>((*cinfo->mem->alloc_small)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(FileSource)));
  src->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_large)(
      reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kSourceBuffer));
  src->file = file;
  src->startOfFile = true;
  src->pub.init_source = InitSource;
  src->pub.fill_input_buffer = FillInputBuffer;
  src->pub.skip_input_data = SkipInputData;
  src->pub.resync_to_restart = jpeg_resync_to_restart;
  src->pub.term_source = TermSource;
  src->pub.bytes_in_buffer = 0;
  src->pub.next_input_byte = nullptr;
  cinfo->src = &src->pub;
}

void InstallErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ErrorExit;
  err->pub.output_message = OutputMessage;
  err->pub.emit_message = EmitMessage;
}

}  // namespace

JpegStatus JpegCompressBgr(std::FILE* file, const uint8_t* pixels, int width, int height,
                           int quality) noexcept {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  InstallErrorManager(&err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return JpegStatus::kCodecFailed;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  // Rows are blue, green, red in memory; the extended colour space tells the
  // codec so, and no bytes are swapped.
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg's row type is not const, but the compressor only reads it.
    JSAMPROW row = const_cast<JSAMPLE*>(pixels) + cinfo.next_scanline * rowBytes;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);  // flushes and checks the stream for write errors
  jpeg_destroy_compress(&cinfo);
  return JpegStatus::kOk;
}

namespace {

// The decompress sequence of both entry points: into the caller's rows when
// `into` is given (the file must then be width x height), else into a new
// buffer that *image takes.
JpegStatus Decompress(std::FILE* file, uint8_t* into, int width, int height,
                      JpegImage* image) noexcept {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress{};
  // Set after setjmp and needed on the error path, hence volatile.
  uint8_t* volatile allocated = nullptr;
  InstallErrorManager(&err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    FreePixels(allocated);
    return JpegStatus::kCodecFailed;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxCodecMemory;
  progress.progress_monitor = ProgressMonitor;
  cinfo.progress = &progress;
  UseFileSource(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  if (static_cast<int64_t>(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
    jpeg_destroy_decompress(&cinfo);
    return JpegStatus::kTooLarge;
  }
  // Other component counts keep libjpeg's default output space so that
  // start-up succeeds and they are refused below with their own status.
  if (cinfo.num_components == 3) cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  if (cinfo.num_components != 3 || cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    return JpegStatus::kNotThreeComponents;
  }
  const std::size_t rowBytes = static_cast<std::size_t>(cinfo.output_width) * 3;
  uint8_t* pixels = into;
  if (into != nullptr) {
    if (static_cast<int64_t>(cinfo.output_width) != width ||
        static_cast<int64_t>(cinfo.output_height) != height) {
      jpeg_destroy_decompress(&cinfo);
      return JpegStatus::kOtherSize;
    }
  } else {
    pixels = AllocatePixels(rowBytes * cinfo.output_height);
    allocated = pixels;
    if (pixels == nullptr) {
      jpeg_destroy_decompress(&cinfo);
      return JpegStatus::kAllocFailed;
    }
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + cinfo.output_scanline * rowBytes;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
      ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
  }
  jpeg_finish_decompress(&cinfo);
  if (image != nullptr) {
    image->pixels = pixels;
    image->width = static_cast<int>(cinfo.output_width);
    image->height = static_cast<int>(cinfo.output_height);
  }
  jpeg_destroy_decompress(&cinfo);
  return JpegStatus::kOk;
}

}  // namespace

JpegStatus JpegDecompressBgr(std::FILE* file, JpegImage* image) noexcept {
  return Decompress(file, nullptr, 0, 0, image);
}

JpegStatus JpegDecompressBgrInto(std::FILE* file, uint8_t* pixels, int width, int height) noexcept {
  if (pixels == nullptr) return JpegStatus::kAllocFailed;
  return Decompress(file, pixels, width, height, nullptr);
}

JpegStatus JpegReadSize(std::FILE* file, int* width, int* height) noexcept {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  InstallErrorManager(&err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return JpegStatus::kCodecFailed;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxCodecMemory;
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  // The frame header holds each side in 16 bits, so both fit an int.
  *width = static_cast<int>(cinfo.image_width);
  *height = static_cast<int>(cinfo.image_height);
  jpeg_destroy_decompress(&cinfo);
  return JpegStatus::kOk;
}

}  // namespace KelvoLibImageProcessing::detail
