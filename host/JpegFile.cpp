#include "host/JpegFile.h"

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h first: jerror.h's message list depends on its configuration.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/core/SafeFile.h"

namespace kelvo::host {

namespace {

namespace fs = std::filesystem;

// A marker's length field counts itself: 65535 - 2 bytes of payload.
constexpr size_t kMaxMarkerPayload = 65533;
constexpr uint8_t kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};
// The standard XMP namespace, NUL-terminated in the marker: 29 bytes.
constexpr char kXmpPrefix[] = "http://ns.adobe.com/xap/1.0/";
constexpr size_t kXmpPrefixSize = sizeof kXmpPrefix;
constexpr uint8_t kIccPrefix[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
// Each APP2 chunk also carries its sequence number and the chunk count.
constexpr size_t kIccChunkData = kMaxMarkerPayload - sizeof kIccPrefix - 2;
constexpr size_t kMaxIccChunks = 255;

// libjpeg reports a fatal error through error_exit, which longjmps back to
// the function that started the sequence. Those functions are C-style:
// nothing with a destructor lives between their setjmp and the jump, and
// what they hand back is malloc'ed, freed on the error path.
struct ErrorManager {
  jpeg_error_mgr pub;  // first, so libjpeg's err pointer is also ours
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Nothing is printed: the tools say what went wrong in their own words.
void OutputMessage(j_common_ptr) {}

void InstallErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ErrorExit;
  err->pub.output_message = OutputMessage;
  err->message[0] = 0;
}

struct RawBlocks {
  uint8_t* exif = nullptr;
  size_t exifSize = 0;
  uint8_t* xmp = nullptr;
  size_t xmpSize = 0;
  JOCTET* icc = nullptr;
  unsigned int iccSize = 0;
  bool iccMarkers = false;  // APP2 ICC_PROFILE markers were present
};

void FreeBlocks(RawBlocks* blocks) {
  std::free(blocks->exif);
  std::free(blocks->xmp);
  std::free(blocks->icc);
  *blocks = RawBlocks{};
}

uint8_t* CopyOf(const uint8_t* data, size_t size) {
  auto* copy = static_cast<uint8_t*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, data, size);
  return copy;
}

bool StartsWith(const jpeg_saved_marker_ptr m, const void* prefix, size_t size) {
  return m->data_length > size && std::memcmp(m->data, prefix, size) == 0;
}

bool ReadMarkers(std::FILE* file, RawBlocks* out, char* message) noexcept {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  InstallErrorManager(&err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    std::memcpy(message, err.message, sizeof err.message);
    jpeg_destroy_decompress(&cinfo);
    FreeBlocks(out);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 + 2 && StartsWith(m, kIccPrefix, sizeof kIccPrefix)) {
      out->iccMarkers = true;
    } else if (m->marker != JPEG_APP0 + 1) {
      continue;
    } else if (out->exif == nullptr && StartsWith(m, kExifPrefix, sizeof kExifPrefix)) {
      out->exifSize = m->data_length - sizeof kExifPrefix;
      out->exif = CopyOf(m->data + sizeof kExifPrefix, out->exifSize);
      if (out->exif == nullptr) ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
    } else if (out->xmp == nullptr && StartsWith(m, kXmpPrefix, kXmpPrefixSize)) {
      out->xmpSize = m->data_length - kXmpPrefixSize;
      out->xmp = CopyOf(m->data + kXmpPrefixSize, out->xmpSize);
      if (out->xmp == nullptr) ERREXIT1(&cinfo, JERR_OUT_OF_MEMORY, 0);
    }
  }
  // False both without a profile and with chunks that do not fit together.
  if (out->iccMarkers && !jpeg_read_icc_profile(&cinfo, &out->icc, &out->iccSize)) {
    out->icc = nullptr;
    out->iccSize = 0;
  }
  jpeg_destroy_decompress(&cinfo);
  return true;
}

struct MarkerBlocks {
  const uint8_t* exif = nullptr;
  size_t exifSize = 0;
  const uint8_t* xmp = nullptr;
  size_t xmpSize = 0;
  const uint8_t* icc = nullptr;
  size_t iccSize = 0;
};

void WriteMarker(j_compress_ptr cinfo, int marker, const uint8_t* prefix, size_t prefixSize,
                 const uint8_t* data, size_t size) {
  jpeg_write_m_header(cinfo, marker, static_cast<unsigned int>(prefixSize + size));
  for (size_t i = 0; i < prefixSize; ++i) jpeg_write_m_byte(cinfo, prefix[i]);
  for (size_t i = 0; i < size; ++i) jpeg_write_m_byte(cinfo, data[i]);
}

// The settings of kelvo::io::WriteJpegBgr, so a photo without blocks comes
// out as the library would write it.
bool CompressWithMarkers(std::FILE* file, const BgrView* image, int quality,
                         const MarkerBlocks* blocks, char* message) noexcept {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  InstallErrorManager(&err);
  cinfo.err = &err.pub;
  if (setjmp(err.jump)) {
    std::memcpy(message, err.message, sizeof err.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(image->width);
  cinfo.image_height = static_cast<JDIMENSION>(image->height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (blocks->exifSize != 0) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (blocks->exifSize != 0) {
    WriteMarker(&cinfo, JPEG_APP0 + 1, kExifPrefix, sizeof kExifPrefix, blocks->exif,
                blocks->exifSize);
  }
  if (blocks->xmpSize != 0) {
    WriteMarker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const uint8_t*>(kXmpPrefix), kXmpPrefixSize,
                blocks->xmp, blocks->xmpSize);
  }
  if (blocks->iccSize != 0)
    jpeg_write_icc_profile(&cinfo, blocks->icc, static_cast<unsigned int>(blocks->iccSize));
  while (cinfo.next_scanline < cinfo.image_height) {
    // libjpeg's row type is not const, but the compressor only reads it.
    JSAMPROW row = const_cast<JSAMPLE*>(image->pixels) + cinfo.next_scanline * image->stride;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);  // flushes and checks the stream for write errors
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

std::string ReadJpegMetadata(const fs::path& file, ImageMetadata* metadata,
                             std::vector<std::string>* warnings) {
  *metadata = ImageMetadata{};
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return kelvo::io::QuotedPath(file) + ": " + std::strerror(errno);
  RawBlocks raw;
  char message[JMSG_LENGTH_MAX] = {};
  const bool read = ReadMarkers(f, &raw, message);
  std::fclose(f);
  if (!read) return kelvo::io::QuotedPath(file) + ": " + message;
  metadata->exif.assign(raw.exif, raw.exif + raw.exifSize);
  metadata->xmp.assign(raw.xmp, raw.xmp + raw.xmpSize);
  metadata->icc.assign(raw.icc, raw.icc + raw.iccSize);
  if (raw.iccMarkers && raw.icc == nullptr)
    warnings->push_back("its ICC profile chunks do not fit together; the profile is left out");
  FreeBlocks(&raw);
  return {};
}

std::string WriteJpeg(const fs::path& target, const BgrView& image, int quality,
                      const ImageMetadata& metadata, std::vector<std::string>* warnings) {
  if (image.pixels == nullptr || image.width < 1 || image.height < 1 ||
      image.stride < 3 * static_cast<size_t>(image.width) || image.width > JPEG_MAX_DIMENSION ||
      image.height > JPEG_MAX_DIMENSION) {
    return kelvo::io::QuotedPath(target) + ": no image a JPEG file can hold (" +
           std::to_string(image.width) + " x " + std::to_string(image.height) + ")";
  }
  if (quality < 1 || quality > 100)
    return kelvo::io::QuotedPath(target) + ": JPEG quality outside 1 to 100";
  MarkerBlocks blocks;
  if (metadata.exif.size() > kMaxMarkerPayload - sizeof kExifPrefix) {
    warnings->push_back("the EXIF block (" + std::to_string(metadata.exif.size()) +
                        " bytes) is too large for a JPEG marker and is left out");
  } else {
    blocks.exif = metadata.exif.data();
    blocks.exifSize = metadata.exif.size();
  }
  if (metadata.xmp.size() > kMaxMarkerPayload - kXmpPrefixSize) {
    warnings->push_back("the XMP packet (" + std::to_string(metadata.xmp.size()) +
                        " bytes) is too large for a JPEG marker and is left out");
  } else {
    blocks.xmp = metadata.xmp.data();
    blocks.xmpSize = metadata.xmp.size();
  }
  if (metadata.icc.size() > kMaxIccChunks * kIccChunkData) {
    warnings->push_back("the ICC profile (" + std::to_string(metadata.icc.size()) +
                        " bytes) is too large for a JPEG file and is left out");
  } else {
    blocks.icc = metadata.icc.data();
    blocks.iccSize = metadata.icc.size();
  }

  kelvo::io::SafeFileWriter writer;
  if (!writer.Open(target)) return writer.Error();
  char message[JMSG_LENGTH_MAX] = {};
  errno = 0;
  if (!CompressWithMarkers(writer.File(), &image, quality, &blocks, message)) {
    if (std::ferror(writer.File()))
      writer.Fail("cannot write", errno);
    else
      writer.Fail(std::string("cannot write: ") + message, 0);
  }
  if (!writer.Commit()) return writer.Error();
  return {};
}

}  // namespace kelvo::host
