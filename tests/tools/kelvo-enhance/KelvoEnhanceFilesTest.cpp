// kelvo-enhance with the files people have: PNG of every kind, a phone
// photo stored sideways with its EXIF, ICC and XMP blocks, and a folder of
// photos done several at a time.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "host/ImageMetadata.h"
#include "host/PngFile.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "tests/tools/kelvo-enhance/KelvoEnhanceFixture.h"

namespace KelvoLibImageProcessing {
namespace {

namespace host = kelvo::host;
using Bytes = std::vector<uint8_t>;

// ---- pictures -------------------------------------------------------------

uint8_t* Pixel(BitmapData& image, int x, int y) {
  return image.GetData() + static_cast<size_t>(y) * image.GetStride() + 3 * static_cast<size_t>(x);
}
const uint8_t* Pixel(const BitmapData& image, int x, int y) {
  return image.GetData() + static_cast<size_t>(y) * image.GetStride() + 3 * static_cast<size_t>(x);
}

// The three plain moves every orientation is made of.
BitmapData Mirror(const BitmapData& in) {  // left to right
  BitmapData out(in.GetWidth(), in.GetHeight());
  for (int y = 0; y < in.GetHeight(); ++y)
    for (int x = 0; x < in.GetWidth(); ++x) std::memcpy(Pixel(out, x, y), Pixel(in, in.GetWidth() - 1 - x, y), 3);
  return out;
}
BitmapData Flip(const BitmapData& in) {  // top to bottom
  BitmapData out(in.GetWidth(), in.GetHeight());
  for (int y = 0; y < in.GetHeight(); ++y)
    for (int x = 0; x < in.GetWidth(); ++x) std::memcpy(Pixel(out, x, y), Pixel(in, x, in.GetHeight() - 1 - y), 3);
  return out;
}
BitmapData Transpose(const BitmapData& in) {  // along the main diagonal
  BitmapData out(in.GetHeight(), in.GetWidth());
  for (int y = 0; y < out.GetHeight(); ++y)
    for (int x = 0; x < out.GetWidth(); ++x) std::memcpy(Pixel(out, x, y), Pixel(in, y, x), 3);
  return out;
}
BitmapData TurnClockwise(const BitmapData& in) { return Mirror(Transpose(in)); }
BitmapData TurnAnticlockwise(const BitmapData& in) { return Transpose(Mirror(in)); }

// How a camera stores an upright picture under each EXIF orientation: the
// picture the viewer must turn back.
BitmapData Stored(const BitmapData& upright, int orientation) {
  switch (orientation) {
    case 2: return Mirror(upright);
    case 3: return Flip(Mirror(upright));
    case 4: return Flip(upright);
    case 5: return Transpose(upright);
    case 6: return TurnAnticlockwise(upright);  // shown turned a quarter clockwise
    case 7: return Flip(Mirror(Transpose(upright)));
    case 8: return TurnClockwise(upright);
    default: return Mirror(Mirror(upright));
  }
}

BitmapData Enhanced(const BitmapData& in) {
  BitmapData out;
  EnhanceAnySize(in, out);
  return out;
}

BitmapData FromBgr(int w, int h, const uint8_t* bgr) { return BitmapData(w, h, kFormatBGR8, bgr, 3 * w); }

// Asserts equal sizes and pixels.
void ExpectSamePixels(const BitmapData& actual, const BitmapData& expected, const std::string& what) {
  ASSERT_EQ(actual.GetWidth(), expected.GetWidth()) << what;
  ASSERT_EQ(actual.GetHeight(), expected.GetHeight()) << what;
  int differing = 0;
  for (int y = 0; y < actual.GetHeight(); ++y)
    differing += std::memcmp(Pixel(actual, 0, y), Pixel(expected, 0, y), 3 * static_cast<size_t>(actual.GetWidth())) != 0;
  EXPECT_EQ(differing, 0) << what << ": rows that differ";
}

double MeanDifference(const BitmapData& a, const BitmapData& b) {
  double sum = 0;
  for (int y = 0; y < a.GetHeight(); ++y)
    for (int x = 0; x < 3 * a.GetWidth(); ++x) sum += std::abs(Pixel(a, 0, y)[x] - Pixel(b, 0, y)[x]);
  return sum / (3.0 * a.GetWidth() * a.GetHeight());
}

// ---- blocks ---------------------------------------------------------------

// An EXIF block in its TIFF form, made with libexif: the orientation and
// the pixel dimensions of the stored picture.
Bytes MakeExif(int orientation, int width, int height) {
  ExifData* data = exif_data_new();
  exif_data_set_byte_order(data, EXIF_BYTE_ORDER_MOTOROLA);
  const auto add = [&](ExifIfd ifd, ExifTag tag) {
    ExifEntry* entry = exif_entry_new();
    exif_content_add_entry(data->ifd[ifd], entry);
    exif_entry_initialize(entry, tag);
    exif_entry_unref(entry);
    return entry;
  };
  exif_set_short(add(EXIF_IFD_0, EXIF_TAG_ORIENTATION)->data, EXIF_BYTE_ORDER_MOTOROLA, static_cast<ExifShort>(orientation));
  for (const auto& [tag, value] : {std::pair{EXIF_TAG_PIXEL_X_DIMENSION, width}, std::pair{EXIF_TAG_PIXEL_Y_DIMENSION, height}}) {
    ExifEntry* entry = add(EXIF_IFD_EXIF, tag);
    if (entry->format == EXIF_FORMAT_SHORT)
      exif_set_short(entry->data, EXIF_BYTE_ORDER_MOTOROLA, static_cast<ExifShort>(value));
    else
      exif_set_long(entry->data, EXIF_BYTE_ORDER_MOTOROLA, static_cast<ExifLong>(value));
  }
  unsigned char* saved = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data, &saved, &size);
  Bytes tiff(saved + 6, saved + size);  // without "Exif\0\0"
  std::free(saved);
  exif_data_unref(data);
  return tiff;
}

struct ExifFacts {
  bool read = false;
  int orientation = 0, width = 0, height = 0;
};

ExifFacts ReadExif(const Bytes& tiff) {
  ExifFacts facts;
  Bytes block = {'E', 'x', 'i', 'f', 0, 0};
  block.insert(block.end(), tiff.begin(), tiff.end());
  ExifData* data = exif_data_new_from_data(block.data(), static_cast<unsigned int>(block.size()));
  if (data == nullptr) return facts;
  const ExifByteOrder order = exif_data_get_byte_order(data);
  const auto value = [&](ExifIfd ifd, ExifTag tag) {
    const ExifEntry* e = exif_content_get_entry(data->ifd[ifd], tag);
    if (e == nullptr) return -1;
    return e->format == EXIF_FORMAT_SHORT ? static_cast<int>(exif_get_short(e->data, order))
                                          : static_cast<int>(exif_get_long(e->data, order));
  };
  facts.orientation = value(EXIF_IFD_0, EXIF_TAG_ORIENTATION);
  facts.width = value(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION);
  facts.height = value(EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION);
  facts.read = facts.orientation != -1;
  exif_data_unref(data);
  return facts;
}

void PutBig32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// A display profile with a header libpng accepts (RGB, XYZ connection
// space, D50) and one white-point tag, padded to `size` bytes with a
// pattern, so a profile large enough for two JPEG chunks is still one.
Bytes MakeIccProfile(size_t size) {
  Bytes p(size);
  for (size_t i = 144; i < size; ++i) p[i] = static_cast<uint8_t>(i * 7 + i / 251);
  PutBig32(p, 0, static_cast<uint32_t>(size));
  PutBig32(p, 8, 0x02100000);
  std::memcpy(&p[12], "mntrRGB XYZ ", 12);
  std::memcpy(&p[36], "acsp", 4);
  PutBig32(p, 68, 0x0000F6D6);  // D50
  PutBig32(p, 72, 0x00010000);
  PutBig32(p, 76, 0x0000D32D);
  PutBig32(p, 128, 1);
  std::memcpy(&p[132], "wtpt", 4);
  PutBig32(p, 136, 144);
  PutBig32(p, 140, 20);
  std::memcpy(&p[144], "XYZ \0\0\0\0", 8);
  PutBig32(p, 152, 0x0000F6D6);
  PutBig32(p, 156, 0x00010000);
  PutBig32(p, 160, 0x0000D32D);
  return p;
}

const std::string kXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
    "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"image/jpeg\"/></rdf:RDF></x:xmpmeta>";

// ---- JPEG markers, by hand ------------------------------------------------

std::string Segment(int marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} +
         payload;
}

// The marker segments before the scan: (marker, payload) pairs.
std::vector<std::pair<int, std::string>> Segments(const std::string& jpeg) {
  std::vector<std::pair<int, std::string>> found;
  for (size_t at = 2; at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF;) {
    const int marker = static_cast<uint8_t>(jpeg[at + 1]);
    if (marker == 0xDA) break;
    const size_t length = static_cast<uint8_t>(jpeg[at + 2]) << 8 | static_cast<uint8_t>(jpeg[at + 3]);
    found.emplace_back(marker, jpeg.substr(at + 4, length - 2));
    at += 2 + length;
  }
  return found;
}

const std::string kExifPrefix("Exif\0\0", 6);
const std::string kXmpPrefix("http://ns.adobe.com/xap/1.0/\0", 29);
const std::string kIccPrefix("ICC_PROFILE\0", 12);

// The blocks of a JPEG, read from its markers: the ICC chunks joined in
// their order, each checked against the 65519-byte limit.
host::ImageMetadata JpegBlocks(const std::string& jpeg) {
  host::ImageMetadata m;
  std::vector<std::string> chunks;
  for (const auto& [marker, payload] : Segments(jpeg)) {
    if (marker == 0xE1 && payload.starts_with(kExifPrefix)) m.exif.assign(payload.begin() + 6, payload.end());
    if (marker == 0xE1 && payload.starts_with(kXmpPrefix)) m.xmp.assign(payload.begin() + 29, payload.end());
    if (marker == 0xE2 && payload.starts_with(kIccPrefix)) {
      EXPECT_LE(payload.size() - 14, 65519u);
      const size_t seq = static_cast<uint8_t>(payload[12]);
      if (chunks.size() < seq) chunks.resize(seq);
      chunks[seq - 1] = payload.substr(14);
    }
  }
  for (const std::string& c : chunks) m.icc.insert(m.icc.end(), c.begin(), c.end());
  return m;
}

// ---- PNG through libpng ---------------------------------------------------

// Writes rows already in the PNG's own sample layout. C-style: libpng
// longjmps here on an error.
bool WritePngRows(const char* path, int w, int h, int colorType, int bitDepth, const uint8_t* rows,
                  size_t rowBytes, const png_color* palette, int paletteSize, const uint8_t* exif,
                  size_t exifSize) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, w, h, bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (palette != nullptr) png_set_PLTE(png, info, palette, paletteSize);
  if (exifSize != 0) png_set_eXIf_1(png, info, static_cast<png_uint_32>(exifSize), const_cast<uint8_t*>(exif));
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, rows + static_cast<size_t>(y) * rowBytes);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

// An 8-bit RGB PNG of a BGR picture.
void WriteRgbPng(const std::string& path, const BitmapData& image, const Bytes& exif = {}) {
  Bytes rgb;
  for (int y = 0; y < image.GetHeight(); ++y)
    for (int x = 0; x < image.GetWidth(); ++x)
      for (int c = 2; c >= 0; --c) rgb.push_back(Pixel(image, x, y)[c]);
  ASSERT_TRUE(WritePngRows(path.c_str(), image.GetWidth(), image.GetHeight(), PNG_COLOR_TYPE_RGB, 8, rgb.data(),
                           3 * static_cast<size_t>(image.GetWidth()), nullptr, 0, exif.data(), exif.size()));
}

BitmapData ReadPngOutput(const std::string& path, host::ImageMetadata* metadata) {
  host::BgrImage image;
  const std::string error = host::ReadPng(path, &image, metadata);
  EXPECT_EQ(error, "");
  if (!error.empty()) return BitmapData(1, 1);
  return FromBgr(image.width, image.height, image.pixels.data());
}

// ---- the tests ------------------------------------------------------------

// Every kind of PNG is read into the picture it shows (alpha dropped, 16
// bits reduced to 8 with rounding, grey and palette expanded) and the
// output is the enhancement of that picture; -q sets the JPEG quality.
TEST_F(KelvoEnhanceTest, PngOfEveryKindInAndOut) {
  const int w = 48, h = 40;
  const BitmapData colour = Still(w, h);
  std::vector<png_color> palette(16);
  for (int i = 0; i < 16; ++i)
    palette[i] = {static_cast<png_byte>(16 * i), static_cast<png_byte>(255 - 9 * i), static_cast<png_byte>(40 + 11 * i)};

  struct Case {
    const char* name;
    int colorType, bitDepth, bytesPerPixel;
  } cases[] = {{"rgb", PNG_COLOR_TYPE_RGB, 8, 3},          {"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8, 4},
               {"grey", PNG_COLOR_TYPE_GRAY, 8, 1},        {"rgb16", PNG_COLOR_TYPE_RGB, 16, 6},
               {"palette", PNG_COLOR_TYPE_PALETTE, 8, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes rows;
    BitmapData shown(w, h);  // the picture the file holds, blue-green-red
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t* bgr = Pixel(colour, x, y);
        uint8_t* out = Pixel(shown, x, y);
        if (c.colorType == PNG_COLOR_TYPE_GRAY) {
          rows.push_back(bgr[1]);
          out[0] = out[1] = out[2] = bgr[1];
        } else if (c.colorType == PNG_COLOR_TYPE_PALETTE) {
          const int index = (x / 3 + y) % 16;
          rows.push_back(static_cast<uint8_t>(index));
          out[0] = palette[index].blue, out[1] = palette[index].green, out[2] = palette[index].red;
        } else {
          for (int ch = 2; ch >= 0; --ch) {
            // 16 bits: the 8-bit value times 257 plus a low byte that a
            // reader taking the wrong byte would show.
            if (c.bitDepth == 16) {
              const int v = bgr[ch] * 257 + 100;
              rows.push_back(static_cast<uint8_t>(v >> 8));
              rows.push_back(static_cast<uint8_t>(v));
            } else {
              rows.push_back(bgr[ch]);
            }
          }
          if (c.colorType == PNG_COLOR_TYPE_RGB_ALPHA) rows.push_back(static_cast<uint8_t>(x * 5));
          std::memcpy(out, bgr, 3);
        }
      }
    }
    const std::string in = Path(std::string(c.name) + ".png");
    ASSERT_TRUE(WritePngRows(in.c_str(), w, h, c.colorType, c.bitDepth, rows.data(),
                             static_cast<size_t>(w) * c.bytesPerPixel, palette.data(), 16, nullptr, 0));
    const ToolResult r = Run({in, "out.png"});
    ASSERT_EQ(r.status, 0) << r.out;
    host::ImageMetadata metadata;
    ExpectSamePixels(ReadPngOutput(Path("out.png"), &metadata), Enhanced(shown), c.name);
    EXPECT_TRUE(metadata.Empty());
  }

  // PNG to JPEG at quality 70: the bytes the library's writer gives.
  const ToolResult r = Run({"rgb.png", "q70.jpg", "-q", "70"});
  ASSERT_EQ(r.status, 0) << r.out;
  const BitmapData enhanced = Enhanced(colour);
  ASSERT_EQ(kelvo::io::WriteJpegBgr(Path("expected.jpg"), enhanced.GetData(), w, h, 70), "");
  EXPECT_EQ(ReadWholeFile(Path("q70.jpg")), ReadWholeFile(Path("expected.jpg")));

  // A file that is not what its name says, or one cut short, fails with
  // the reason and writes nothing.
  std::ofstream(Path("text.png")) << "not a picture";
  const std::string whole = ReadWholeFile(Path("rgb.png"));
  std::ofstream(Path("cut.png"), std::ios::binary) << whole.substr(0, whole.size() / 2);
  for (const char* name : {"text.png", "cut.png"}) {
    const ToolResult bad = Run({name, "x.png"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find(std::string("cannot read the input: \"") + name + "\": "), std::string::npos) << bad.out;
    EXPECT_EQ(access(Path("x.png").c_str(), F_OK), -1);
  }
}

// A phone photo stored sideways (orientation 6) with EXIF, a two-chunk ICC
// profile and XMP comes out upright, enhanced as the upright picture, with
// orientation 1 and the pixel dimensions of the upright picture in its EXIF
// and the ICC profile and XMP packet byte for byte, as JPEG and as PNG. PNG
// inputs show all eight orientations give the same upright result.
TEST_F(KelvoEnhanceTest, OrientationIsAppliedAndBlocksAreCarried) {
  // Smooth, so the JPEG keeps it close, and different along each axis.
  BitmapData upright(64, 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      uint8_t* p = Pixel(upright, x, y);
      p[0] = static_cast<uint8_t>(60 + 2 * x), p[1] = static_cast<uint8_t>(50 + 3 * y), p[2] = static_cast<uint8_t>(120 + x - y);
    }
  const BitmapData sideways = Stored(upright, 6);
  ASSERT_EQ(sideways.GetWidth(), 48);
  sideways.Save(Path("plain.jpg").c_str(), kFileJpg);
  const Bytes icc = MakeIccProfile(70000);
  const Bytes exif = MakeExif(6, 48, 64);
  ASSERT_EQ(ReadExif(exif).orientation, 6);
  {
    const std::string plain = ReadWholeFile(Path("plain.jpg"));
    const size_t app0 = 2 + 2 + (static_cast<uint8_t>(plain[4]) << 8 | static_cast<uint8_t>(plain[5]));
    ASSERT_EQ(static_cast<uint8_t>(plain[3]), 0xE0);  // the JFIF header, replaced as a camera would
    std::string photo = plain.substr(0, 2) + Segment(0xE1, kExifPrefix + std::string(exif.begin(), exif.end())) +
                        Segment(0xE1, kXmpPrefix + kXmp);
    for (size_t at = 0, seq = 1; at < icc.size(); at += 65519, ++seq) {
      const size_t n = std::min<size_t>(65519, icc.size() - at);
      photo += Segment(0xE2, kIccPrefix + std::string{static_cast<char>(seq), 2} +
                                 std::string(icc.begin() + at, icc.begin() + at + n));
    }
    photo += plain.substr(app0);
    std::ofstream(Path("photo.jpg"), std::ios::binary) << photo;
  }

  // What the tool must give: the decoded photo turned clockwise, enhanced.
  BitmapData decoded;
  decoded.Load(Path("photo.jpg").c_str(), kFileJpg);
  const BitmapData turned = TurnClockwise(decoded);
  ASSERT_LT(MeanDifference(turned, upright), 2.0) << "the test's own turn puts the picture upright";
  const BitmapData expected = Enhanced(turned);

  ToolResult r = Run({"photo.jpg", "out.png"});
  ASSERT_EQ(r.status, 0) << r.out;
  host::ImageMetadata png;
  ExpectSamePixels(ReadPngOutput(Path("out.png"), &png), expected, "PNG output");
  EXPECT_TRUE(png.icc == icc);
  EXPECT_EQ(std::string(png.xmp.begin(), png.xmp.end()), kXmp);
  ExifFacts facts = ReadExif(png.exif);
  EXPECT_TRUE(facts.read);
  EXPECT_EQ(facts.orientation, 1);
  EXPECT_EQ(facts.width, 64);
  EXPECT_EQ(facts.height, 48);

  r = Run({"photo.jpg", "out.jpg"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::string jpeg = ReadWholeFile(Path("out.jpg"));
  const host::ImageMetadata blocks = JpegBlocks(jpeg);
  EXPECT_TRUE(blocks.icc == icc) << blocks.icc.size() << " bytes of ICC profile";
  EXPECT_EQ(std::string(blocks.xmp.begin(), blocks.xmp.end()), kXmp);
  facts = ReadExif(blocks.exif);
  EXPECT_EQ(facts.orientation, 1);
  EXPECT_EQ(facts.width, 64);
  EXPECT_EQ(Segments(jpeg).front().first, 0xE1) << "EXIF first, no JFIF header";
  BitmapData jpegPixels;
  jpegPixels.Load(Path("out.jpg").c_str(), kFileJpg);
  ASSERT_EQ(jpegPixels.GetWidth(), 64);
  EXPECT_LT(MeanDifference(jpegPixels, expected), 2.0);

  // All eight orientations, lossless: each stored form gives the
  // enhancement of the upright picture exactly.
  const BitmapData small = Still(40, 24);
  const BitmapData smallExpected = Enhanced(small);
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const BitmapData stored = Stored(small, orientation);
    WriteRgbPng(Path("o.png"), stored, MakeExif(orientation, stored.GetWidth(), stored.GetHeight()));
    r = Run({"o.png", "o-out.png"});
    ASSERT_EQ(r.status, 0) << r.out;
    host::ImageMetadata m;
    ExpectSamePixels(ReadPngOutput(Path("o-out.png"), &m), smallExpected, "upright");
    EXPECT_EQ(ReadExif(m.exif).orientation, 1);
  }
}

// A folder and files into a folder, two at a time: names kept, the format
// chosen, a corrupt file reported while the others are written, exit 1,
// and a report of one JSON line per image in the order given.
TEST_F(KelvoEnhanceTest, ManyFilesIntoAFolder) {
  ASSERT_EQ(mkdir(Path("in").c_str(), 0700), 0);
  const BitmapData a = Still(64, 64);
  WriteRgbPng(Path("in/a.png"), a);
  WriteStill("in/b.jpg", 72, 64);
  WriteStill("in/c.bmp", 66, 70);
  std::ofstream(Path("in/d.jpg")) << "not a picture";
  std::ofstream(Path("in/notes.txt")) << "not an image: skipped";
  WriteStill("e.bmp", 64, 64);

  ToolResult r = Run({"in", "e.bmp", "-o", "out/new", "-j", "2", "--format", "png", "--report=run.jsonl"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kelvo-enhance: in/d.jpg: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 of 5 images failed"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\r'), std::string::npos) << "no progress bar off a terminal";
  EXPECT_EQ(Files("out/new"), (std::vector<std::string>{"a.png", "b.png", "c.png", "e.png"}));
  host::ImageMetadata m;
  ExpectSamePixels(ReadPngOutput(Path("out/new/a.png"), &m), Enhanced(a), "a.png");

  const std::string report = ReadWholeFile(Path("run.jsonl"));
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = report.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(report.substr(at, end - at));
  ASSERT_EQ(lines.size(), 5u) << report;
  const char* inputs[] = {"in/a.png", "in/b.jpg", "in/c.bmp", "in/d.jpg", "e.bmp"};
  const char* outputs[] = {"out/new/a.png", "out/new/b.png", "out/new/c.png", "out/new/d.png", "out/new/e.png"};
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_EQ(lines[i].rfind(std::string("{\"input\": \"") + inputs[i] + "\", \"output\": \"" + outputs[i] + "\", ", 0), 0u);
    EXPECT_EQ(lines[i].back(), '}');
    EXPECT_EQ(lines[i].find("\"error\""), i == 3 ? lines[i].find("\"error\": \"") : std::string::npos);
    EXPECT_EQ(lines[i].find("\"opacity\"") == std::string::npos, i == 3);
  }

  // Without --format each keeps its own; the single form gives the same file.
  r = Run({"in/b.jpg", "e.bmp", "-o", "kept", "--report"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(Files("kept"), (std::vector<std::string>{"b.jpg", "e.bmp"}));
  EXPECT_EQ(std::count(r.out.begin(), r.out.begin() + r.out.find("--stderr--"), '\n'), 3) << "two lines and the marker's";
  ASSERT_EQ(Run({"in/b.jpg", "single.jpg"}).status, 0);
  EXPECT_EQ(ReadWholeFile(Path("kept/b.jpg")), ReadWholeFile(Path("single.jpg")));

  // Two inputs for one output are refused before any work.
  r = Run({"in", "in/a.png", "-o", "clash"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("'in/a.png' and 'in/a.png' would both be written to 'clash/a.png'"), std::string::npos) << r.out;
  EXPECT_EQ(access(Path("clash").c_str(), F_OK), -1);
}

}  // namespace
}  // namespace KelvoLibImageProcessing
