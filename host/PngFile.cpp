#include "host/PngFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imaging/core/SafeFile.h"

namespace kelvo::host {

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

uint32_t BigEndian32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
         static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// libpng reports a fatal error through the error function, which longjmps
// back to the function that started the sequence (png_jmpbuf). Those
// functions are C-style: nothing with a destructor lives between their
// setjmp and the jump, and what they hand back is malloc'ed, freed on the
// error path. Warnings are kept, never printed.
struct PngContext {
  char message[256] = {};
  char warning[256] = {};
};

void CopyMessage(char* to, size_t size, const char* text) {
  std::snprintf(to, size, "%s", text != nullptr ? text : "");
}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  CopyMessage(context->message, sizeof context->message, message);
  png_longjmp(png, 1);
}

void WarningFn(png_structp png, png_const_charp message) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  if (context->warning[0] == 0) CopyMessage(context->warning, sizeof context->warning, message);
}

struct RawPng {
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  uint8_t* exif = nullptr;
  size_t exifSize = 0;
  uint8_t* icc = nullptr;
  size_t iccSize = 0;
  uint8_t* xmp = nullptr;
  size_t xmpSize = 0;
};

void FreeRaw(RawPng* raw) {
  std::free(raw->pixels);
  std::free(raw->exif);
  std::free(raw->icc);
  std::free(raw->xmp);
  *raw = RawPng{};
}

// Copies size bytes into a new malloc'ed block at *to; png_error on failure.
void CopyBlock(png_structp png, const void* data, size_t size, uint8_t** to, size_t* toSize) {
  if (size == 0) return;
  *to = static_cast<uint8_t*>(std::malloc(size));
  if (*to == nullptr) png_error(png, "out of memory");
  std::memcpy(*to, data, size);
  *toSize = size;
}

bool DecodePng(std::FILE* file, RawPng* out, PngContext* context) noexcept {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, context, ErrorFn, WarningFn);
  if (png == nullptr) {
    CopyMessage(context->message, sizeof context->message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  // Set after setjmp and needed on the error path, hence volatile.
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    std::free(rows);
    FreeRaw(out);
    return false;
  }
  if (info == nullptr) png_error(png, "out of memory");
  png_init_io(png, file);
  // Faults in ancillary chunks (a profile that does not match, a text
  // chunk cut short) drop that chunk instead of the picture.
  png_set_benign_errors(png, 1);
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (bitDepth == 16) png_set_scale_16(png);
  // A palette's transparency becomes an alpha channel when expanded; every
  // alpha channel is dropped.
  if ((colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0)
    png_set_strip_alpha(png);
  if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
      rowBytes != static_cast<size_t>(width) * 3) {
    png_error(png, "a pixel layout this reader does not convert");
  }
  out->pixels = static_cast<uint8_t*>(std::malloc(rowBytes * height));
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * height));
  if (out->pixels == nullptr || rows == nullptr) png_error(png, "out of memory");
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = out->pixels + y * rowBytes;
  png_read_image(png, rows);
  // Blocks may follow the pixels too.
  png_read_end(png, info);
  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);

  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileSize = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) != 0)
    CopyBlock(png, profile, profileSize, &out->icc, &out->iccSize);
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifSize, &exif) != 0)
    CopyBlock(png, exif, exifSize, &out->exif, &out->exifSize);
  png_textp texts = nullptr;
  int count = 0;
  png_get_text(png, info, &texts, &count);
  for (int i = 0; i < count && out->xmp == nullptr; ++i) {
    if (std::strcmp(texts[i].key, kXmpKeyword) != 0 || texts[i].text == nullptr) continue;
    const bool international = texts[i].compression == PNG_ITXT_COMPRESSION_NONE ||
                               texts[i].compression == PNG_ITXT_COMPRESSION_zTXt;
    CopyBlock(png, texts[i].text, international ? texts[i].itxt_length : texts[i].text_length,
              &out->xmp, &out->xmpSize);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::free(rows);
  return true;
}

struct PngBlocks {
  const uint8_t* exif = nullptr;
  size_t exifSize = 0;
  const uint8_t* icc = nullptr;
  size_t iccSize = 0;
  const char* xmp = nullptr;  // NUL-terminated: png_set_text measures it
};

bool EncodePng(std::FILE* file, const BgrView* image, const PngBlocks* blocks, PngContext* context,
               bool* iccLeftOut) noexcept {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, context, ErrorFn, WarningFn);
  if (png == nullptr) {
    CopyMessage(context->message, sizeof context->message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return false;
  }
  if (info == nullptr) png_error(png, "out of memory");
  png_init_io(png, file);
  // A profile libpng finds unfit is left out with a warning, not fatal.
  png_set_benign_errors(png, 1);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
               static_cast<png_uint_32>(image->height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (blocks->iccSize != 0) {
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, blocks->icc,
                 static_cast<png_uint_32>(blocks->iccSize));
    *iccLeftOut = png_get_valid(png, info, PNG_INFO_iCCP) == 0;
  }
  if (blocks->exifSize != 0) {
    // png_set_eXIf_1 copies the block; its pointer is not const.
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(blocks->exifSize),
                   const_cast<png_bytep>(blocks->exif));
  }
  if (blocks->xmp != nullptr) {
    png_text text{};
    text.compression = PNG_ITXT_COMPRESSION_NONE;
    text.key = const_cast<png_charp>(kXmpKeyword);
    text.text = const_cast<png_charp>(blocks->xmp);
    png_set_text(png, info, &text, 1);
  }
  // Photographs gain next to nothing from zlib's harder levels: on a noisy
  // 1080p photo, level 3 wrote a smaller file than the default 6 in half
  // the time.
  png_set_compression_level(png, 3);
  png_set_bgr(png);
  png_write_info(png, info);
  for (int y = 0; y < image->height; ++y)
    png_write_row(png, image->pixels + static_cast<size_t>(y) * image->stride);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string ReadPngSize(const fs::path& file, int* width, int* height) {
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return kelvo::io::QuotedPath(file) + ": " + std::strerror(errno);
  uint8_t head[24];
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got < sizeof kSignature || std::memcmp(head, kSignature, sizeof kSignature) != 0)
    return kelvo::io::QuotedPath(file) + ": not a PNG file";
  if (got < sizeof head || std::memcmp(head + 12, "IHDR", 4) != 0)
    return kelvo::io::QuotedPath(file) + ": the PNG header is cut short or damaged";
  const uint32_t w = BigEndian32(head + 16);
  const uint32_t h = BigEndian32(head + 20);
  if (w == 0 || h == 0 || w > PNG_UINT_31_MAX || h > PNG_UINT_31_MAX)
    return kelvo::io::QuotedPath(file) + ": the PNG header declares an invalid size";
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return {};
}

std::string ReadPng(const fs::path& file, BgrImage* image, ImageMetadata* metadata) {
  *metadata = ImageMetadata{};
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return kelvo::io::QuotedPath(file) + ": " + std::strerror(errno);
  RawPng raw;
  PngContext context;
  const bool decoded = DecodePng(f, &raw, &context);
  // libpng says only "Read Error" when the data runs out.
  const bool cutShort = std::feof(f) != 0;
  std::fclose(f);
  if (!decoded && cutShort)
    return kelvo::io::QuotedPath(file) + ": the file ends before the picture does";
  if (!decoded) return kelvo::io::QuotedPath(file) + ": " + context.message;
  image->width = raw.width;
  image->height = raw.height;
  image->pixels.assign(raw.pixels, raw.pixels + static_cast<size_t>(raw.width) * 3 * raw.height);
  metadata->exif.assign(raw.exif, raw.exif + raw.exifSize);
  metadata->icc.assign(raw.icc, raw.icc + raw.iccSize);
  metadata->xmp.assign(raw.xmp, raw.xmp + raw.xmpSize);
  FreeRaw(&raw);
  return {};
}

std::string WritePng(const fs::path& target, const BgrView& image, const ImageMetadata& metadata,
                     std::vector<std::string>* warnings) {
  if (image.pixels == nullptr || image.width < 1 || image.height < 1 ||
      image.stride < 3 * static_cast<size_t>(image.width)) {
    return kelvo::io::QuotedPath(target) + ": no image to write";
  }
  const std::string xmp(metadata.xmp.begin(), metadata.xmp.end());
  PngBlocks blocks;
  blocks.exif = metadata.exif.data();
  blocks.exifSize = metadata.exif.size();
  blocks.icc = metadata.icc.data();
  blocks.iccSize = metadata.icc.size();
  if (!xmp.empty()) blocks.xmp = xmp.c_str();

  kelvo::io::SafeFileWriter writer;
  if (!writer.Open(target)) return writer.Error();
  PngContext context;
  bool iccLeftOut = false;
  errno = 0;
  if (!EncodePng(writer.File(), &image, &blocks, &context, &iccLeftOut)) {
    if (std::ferror(writer.File()))
      writer.Fail("cannot write", errno);
    else
      writer.Fail(std::string("cannot write: ") + context.message, 0);
  }
  if (!writer.Commit()) return writer.Error();
  if (iccLeftOut) {
    warnings->push_back(
        std::string("its ICC profile cannot go into an RGB PNG file and is left out") +
        (context.warning[0] != 0 ? std::string(" (") + context.warning + ")" : ""));
  }
  return {};
}

}  // namespace kelvo::host
