#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// jpeglib.h needs FILE declared first.
#include <jpeglib.h>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/JpegInto.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Code and where-string of the exception expr throws.
#define EXPECT_IP_FAILURE(expr, expectedCode, expectedWhere) \
  EXPECT_TRUE(kelvo::test::ThrowsIPException([&] { expr; }, expectedCode, expectedWhere))

void PutLE(Bytes& b, std::size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A 24-bit BMP with the given header fields followed by pixelBytes.
struct BmpSpec {
  int32_t width = 2;
  int32_t height = -2;
  uint32_t imageSize = 12;
  uint32_t offset = 54;
  uint16_t bitsPerPixel = 24;
  uint32_t compression = 0;
  Bytes pixels = Bytes(12, 7);
};

Bytes MakeBmp(const BmpSpec& s) {
  Bytes b(54 + s.pixels.size(), 0);
  if (!s.pixels.empty()) std::memcpy(b.data() + 54, s.pixels.data(), s.pixels.size());
  b[0] = 'B';
  b[1] = 'M';
  PutLE(b, 2, static_cast<uint32_t>(54 + s.pixels.size()), 4);
  PutLE(b, 10, s.offset, 4);
  PutLE(b, 14, 40, 4);
  PutLE(b, 18, static_cast<uint32_t>(s.width), 4);
  PutLE(b, 22, static_cast<uint32_t>(s.height), 4);
  PutLE(b, 26, 1, 2);
  PutLE(b, 28, s.bitsPerPixel, 2);
  PutLE(b, 30, s.compression, 4);
  PutLE(b, 34, s.imageSize, 4);
  return b;
}

// A 3-byte-per-pixel pattern in which every byte of every pixel differs.
Bytes Pattern(int width, int height, int stride) {
  Bytes p(static_cast<std::size_t>(stride) * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width * 3; ++x)
      p[y * stride + x] = static_cast<uint8_t>(y * 31 + x * 7 + 1);
  }
  return p;
}

class ImageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("kelvo-files-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Write(const std::string& name, const Bytes& bytes) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir_;
};

// ---- BMP ----------------------------------------------------------------

TEST_F(ImageFilesTest, BmpRoundTripKeepsStrideAndHeaderFields) {
  // 5 x 2 with the natural stride 15, and with a padded stride of 20 whose
  // padding bytes travel with the rows.
  for (const int stride : {15, 20}) {
    const Bytes src = Pattern(5, 2, stride);
    const BitmapData image(5, 2, kFormatBGR8, src.data(), stride);
    const std::string path = Path("round.bmp");
    image.SaveBmp(path.c_str());

    // Every header field, the zeroed reserved and resolution fields, and the
    // rows with their padding.
    BmpSpec spec;
    spec.width = 5;
    spec.imageSize = 2u * stride;
    spec.pixels = src;
    EXPECT_EQ(Read(path), MakeBmp(spec));

    BitmapData loaded;
    loaded.LoadBmp(path.c_str());
    EXPECT_EQ(loaded.GetWidth(), 5);
    EXPECT_EQ(loaded.GetHeight(), 2);
    EXPECT_EQ(loaded.GetStride(), stride);
    EXPECT_EQ(loaded.GetFormat(), kFormatBGR8);
    EXPECT_EQ(std::memcmp(loaded.GetData(), src.data(), src.size()), 0);
  }
}

TEST_F(ImageFilesTest, BmpBottomUpRowsAndZeroImageSize) {
  // Bottom-up (positive height) with image size 0: size = 5 * 2 * 3, stride 15,
  // and the file's first row is the bottom row of the picture.
  BmpSpec spec;
  spec.width = 5;
  spec.height = 2;
  spec.imageSize = 0;
  spec.pixels = Pattern(5, 2, 15);
  const std::string path = Write("up.bmp", MakeBmp(spec));
  BitmapData image;
  image.LoadBmp(path.c_str());
  ASSERT_EQ(image.GetStride(), 15);
  ASSERT_EQ(image.GetHeight(), 2);
  EXPECT_EQ(std::memcmp(image.GetData() + 15, spec.pixels.data(), 15), 0);
  EXPECT_EQ(std::memcmp(image.GetData(), spec.pixels.data() + 15, 15), 0);

  // The pixel offset is honoured: gap bytes between headers and pixels.
  spec.height = -2;
  spec.offset = 60;
  Bytes gapped(6, 0xAB);
  gapped.insert(gapped.end(), spec.pixels.begin(), spec.pixels.end());
  spec.pixels = gapped;
  const std::string gap = Write("gap.bmp", MakeBmp(spec));
  image.LoadBmp(gap.c_str());
  EXPECT_EQ(std::memcmp(image.GetData(), spec.pixels.data() + 6, 30), 0);
}

TEST_F(ImageFilesTest, MalformedBmpIsRejectedAndContainerKept) {
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
  };
  std::vector<Case> cases;
  const auto with = [](auto change) {
    BmpSpec s;
    change(s);
    return MakeBmp(s);
  };
  Bytes notBm = MakeBmp({});
  notBm[1] = 'X';
  cases.push_back({"not BM", notBm, 17});
  cases.push_back({"empty file", {}, 17});
  cases.push_back({"text", Bytes{'h', 'e', 'l', 'l', 'o'}, 17});
  Bytes shortHeader = MakeBmp({});
  shortHeader.resize(30);
  cases.push_back({"header cut short", shortHeader, 21});
  cases.push_back({"32 bits", with([](BmpSpec& s) { s.bitsPerPixel = 32; }), 2});
  cases.push_back({"compressed", with([](BmpSpec& s) { s.compression = 1; }), 2});
  cases.push_back({"height 0", with([](BmpSpec& s) { s.height = 0; }), 0});
  cases.push_back({"width 0", with([](BmpSpec& s) { s.width = 0; }), 0});
  cases.push_back({"negative width", with([](BmpSpec& s) { s.width = -2; }), 0});
  cases.push_back({"huge width", with([](BmpSpec& s) { s.width = 40000; }), 0});
  cases.push_back({"huge height", with([](BmpSpec& s) { s.height = 40000; }), 0});
  cases.push_back({"lowest height", with([](BmpSpec& s) { s.height = INT32_MIN; }), 0});
  cases.push_back({"overflowing product", with([](BmpSpec& s) {
                     s.width = 32768;
                     s.height = -32768;
                     s.imageSize = 0;
                   }),
                   21});
  cases.push_back({"size not whole rows", with([](BmpSpec& s) { s.imageSize = 13; }), 20});
  cases.push_back({"rows shorter than pixels", with([](BmpSpec& s) { s.imageSize = 10; }), 20});
  cases.push_back({"huge size field", with([](BmpSpec& s) {
                     s.height = -1;
                     s.imageSize = 0xFFFFFFFF;
                   }),
                   20});
  cases.push_back({"offset beyond file", with([](BmpSpec& s) { s.offset = 1000; }), 20});
  cases.push_back({"offset near 4 GiB", with([](BmpSpec& s) { s.offset = 0xFFFFFFF0; }), 20});
  cases.push_back({"pixels cut short", with([](BmpSpec& s) { s.pixels.resize(11); }), 21});
  cases.push_back({"pixels cut short bottom-up", with([](BmpSpec& s) {
                     s.height = 2;
                     s.pixels.resize(7);
                   }),
                   21});
  cases.push_back({"size larger than file", with([](BmpSpec& s) { s.imageSize = 24; }), 21});

  // Each failure leaves a loaded container as it was.
  const Bytes original = Pattern(3, 1, 9);
  BitmapData image(3, 1, kFormatBGR8, original.data(), 9);
  const uint8_t* buffer = image.GetData();
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write("bad" + std::to_string(i++) + ".bmp", c.bytes);
    EXPECT_IP_FAILURE(image.LoadBmp(path.c_str()), c.code, "BitmapData::LoadBmp");
    EXPECT_IP_FAILURE(image.Load(path.c_str()), c.code, "BitmapData::LoadBmp");
    EXPECT_EQ(image.GetData(), buffer);
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 1);
    EXPECT_EQ(image.GetStride(), 9);
    EXPECT_EQ(std::memcmp(image.GetData(), original.data(), 9), 0);
  }
  EXPECT_IP_FAILURE(image.LoadBmp(Path("missing.bmp").c_str()), 18, "BitmapData::LoadBmp");
  EXPECT_IP_FAILURE(image.LoadBmp(nullptr), 18, "BitmapData::LoadBmp");
  // Only regular files are read: a folder, like a pipe, is not opened.
  EXPECT_IP_FAILURE(image.LoadBmp(dir_.c_str()), 18, "BitmapData::LoadBmp");
}

// ---- Saving: checks and failures ---------------------------------------

TEST_F(ImageFilesTest, SaveChecksFormatTypeAndPixels) {
  const std::string bmp = Path("x.bmp");
  BitmapData gray(4, 4, kFormatGray8, nullptr, 4);
  EXPECT_IP_FAILURE(gray.Save(bmp.c_str(), kFileBmp), 2, "BitmapData::Save");
  EXPECT_IP_FAILURE(gray.SaveBmp(bmp.c_str()), 2, "BitmapData::Save");
  EXPECT_IP_FAILURE(gray.SaveJpg(bmp.c_str()), 2, "BitmapData::Save");
  BitmapData empty;
  EXPECT_IP_FAILURE(empty.SaveBmp(bmp.c_str()), 2, "BitmapData::Save");

  BitmapData color(4, 4);
  color.FillBlack();
  EXPECT_IP_FAILURE(color.Save(bmp.c_str(), 2), 17, "BitmapData::Save");
  EXPECT_IP_FAILURE(color.Save(bmp.c_str(), -1), 17, "BitmapData::Save");
  EXPECT_FALSE(fs::exists(bmp));

  // A failed Initialize leaves format 2 without pixels: nothing to write.
  BitmapData noPixels;
  EXPECT_THROW(noPixels.Initialize(4, 4, kFormatBGR8, nullptr, 2), IPException);
  EXPECT_IP_FAILURE(noPixels.SaveBmp(bmp.c_str()), 5, "BitmapData::SaveBmp");
  EXPECT_IP_FAILURE(noPixels.SaveJpg(bmp.c_str()), 5, "BitmapData::SaveJpg");
  EXPECT_FALSE(fs::exists(bmp));

  // Save dispatches on the type, not on the name's extension.
  color.Save(bmp.c_str(), kFileJpg);
  const Bytes written = Read(bmp);
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(written[0], 0xFF);
  EXPECT_EQ(written[1], 0xD8);
}

TEST_F(ImageFilesTest, UnwritableTargets) {
  BitmapData image(4, 4);
  image.FillWhite();
  const std::string noDir = Path("no/such/dir/x");
  EXPECT_IP_FAILURE(image.SaveBmp(noDir.c_str()), 18, "BitmapData::SaveBmp");
  EXPECT_IP_FAILURE(image.SaveJpg(noDir.c_str()), 18, "BitmapData::jpeg_save_image");
  EXPECT_IP_FAILURE(image.Save(nullptr, kFileBmp), 18, "BitmapData::SaveBmp");
  EXPECT_IP_FAILURE(image.SaveBmp(dir_.c_str()), 18, "BitmapData::SaveBmp");
  // Devices are not regular files: refused before anything is opened.
  if (fs::exists("/dev/full")) {
    EXPECT_IP_FAILURE(image.SaveBmp("/dev/full"), 18, "BitmapData::SaveBmp");
    EXPECT_IP_FAILURE(image.SaveJpg("/dev/full"), 18, "BitmapData::jpeg_save_image");
  }
}

// ---- Load dispatch -----------------------------------------------------

TEST_F(ImageFilesTest, LoadPicksRoutineByExtension) {
  const Bytes src = Pattern(3, 2, 9);
  const BitmapData image(3, 2, kFormatBGR8, src.data(), 9);
  const std::string twoDots = Path("a.b.bmp");
  image.SaveBmp(twoDots.c_str());

  BitmapData loaded;
  loaded.Load(twoDots.c_str());
  EXPECT_EQ(std::memcmp(loaded.GetData(), src.data(), src.size()), 0);

  // Names that name no known type fail before any file is opened.
  for (const char* name : {"a.JPG", "a.Bmp", "a.", "noext", "a.jpeg", "a.bmp.txt", ""}) {
    SCOPED_TRACE(name);
    EXPECT_IP_FAILURE(loaded.Load(Path(name).c_str()), 17, "BitmapData::Load");
  }
  EXPECT_IP_FAILURE(loaded.Load("plain"), 17, "BitmapData::Load");
  EXPECT_IP_FAILURE(loaded.Load(nullptr), 17, "BitmapData::Load");
  EXPECT_IP_FAILURE(loaded.Load(twoDots.c_str(), 2), 17, "BitmapData::Load");

  // The type form ignores the name: a BMP stored as .jpg loads as type 0, and
  // as JPEG it is not a JPEG (the decoder's failure is a read failure).
  const std::string misnamed = Path("really-a-bmp.jpg");
  fs::copy_file(twoDots, misnamed);
  loaded.Load(misnamed.c_str(), kFileBmp);
  EXPECT_EQ(loaded.GetStride(), 9);
  EXPECT_IP_FAILURE(loaded.Load(misnamed.c_str()), 21, "BitmapData::LoadJpg");
  EXPECT_IP_FAILURE(loaded.Load(misnamed.c_str(), kFileJpg), 21, "BitmapData::LoadJpg");

  // The file-name constructors load too.
  const BitmapData byName(twoDots.c_str());
  EXPECT_EQ(byName.GetWidth(), 3);
  EXPECT_EQ(std::memcmp(byName.GetData(), src.data(), src.size()), 0);
  const BitmapData byType(misnamed.c_str(), kFileBmp);
  EXPECT_EQ(byType.GetHeight(), 2);
  EXPECT_THROW(BitmapData(misnamed.c_str()), IPException);
}

// ---- JPEG --------------------------------------------------------------

// A smooth picture in which the three channels differ everywhere, so a
// swapped channel order cannot pass for a lossy round trip.
Bytes Smooth(int width, int height, int stride) {
  Bytes p(static_cast<std::size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* px = &p[y * stride + x * 3];
      px[0] = static_cast<uint8_t>(40 + x * 2);
      px[1] = static_cast<uint8_t>(60 + y * 2);
      px[2] = static_cast<uint8_t>(200 - x - y);
    }
  }
  return p;
}

TEST_F(ImageFilesTest, JpegRoundTripWithinTolerance) {
  constexpr int kW = 48, kH = 40;
  // Packed rows go to the codec directly; padded ones through a packed copy.
  for (const int stride : {kW * 3, kW * 3 + 5}) {
    SCOPED_TRACE(stride);
    const Bytes src = Smooth(kW, kH, stride);
    const BitmapData image(kW, kH, kFormatBGR8, src.data(), stride);
    const std::string path = Path("round.jpg");
    image.SaveJpg(path.c_str());

    BitmapData loaded;
    loaded.Load(path.c_str());
    ASSERT_EQ(loaded.GetWidth(), kW);
    ASSERT_EQ(loaded.GetHeight(), kH);
    ASSERT_EQ(loaded.GetStride(), kW * 3);
    ASSERT_EQ(loaded.GetFormat(), kFormatBGR8);
    int maxError = 0;
    double sumError = 0;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW * 3; ++x) {
        const int e = std::abs(int{loaded.GetData()[y * kW * 3 + x]} - int{src[y * stride + x]});
        maxError = std::max(maxError, e);
        sumError += e;
      }
    }
    EXPECT_LE(maxError, 12);
    EXPECT_LT(sumError / (kW * kH * 3), 2.0);
  }
}

// A greyscale JPEG written straight through libjpeg.
Bytes GreyJpeg() {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = 8;
  cinfo.image_height = 8;
  cinfo.input_components = 1;
  cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  unsigned char row[8] = {0, 30, 60, 90, 120, 150, 180, 210};
  while (cinfo.next_scanline < 8) {
    JSAMPROW r = row;
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + size);
  std::free(out);
  return bytes;
}

TEST_F(ImageFilesTest, MalformedJpegIsRejectedAndContainerKept) {
  BitmapData source(32, 24);
  {
    const Bytes smooth = Smooth(32, 24, 96);
    std::memcpy(source.GetData(), smooth.data(), smooth.size());
  }
  const std::string good = Path("good.jpg");
  source.SaveJpg(good.c_str());
  const Bytes valid = Read(good);
  ASSERT_GT(valid.size(), 300u);

  // Start of frame: FF C0, length, precision, height, width.
  std::size_t sof = 0;
  for (std::size_t i = 2; i + 9 < valid.size(); ++i) {
    if (valid[i] == 0xFF && valid[i + 1] == 0xC0) {
      sof = i;
      break;
    }
  }
  ASSERT_NE(sof, 0u);

  Bytes truncated(valid.begin(), valid.begin() + static_cast<long>(valid.size() * 2 / 3));
  Bytes headersOnly(valid.begin(), valid.begin() + static_cast<long>(sof + 19));
  Bytes noisy = valid;  // entropy-coded data overwritten with a marker
  noisy[noisy.size() - 40] = 0xFF;
  noisy[noisy.size() - 39] = 0xD9;
  Bytes huge = valid;  // 60000 x 60000 announced
  PutLE(huge, sof + 5, 0x60EA, 2);
  PutLE(huge, sof + 7, 0x60EA, 2);
  Bytes zeroHeight = valid;
  zeroHeight[sof + 5] = 0;
  zeroHeight[sof + 6] = 0;

  const Bytes original = Pattern(3, 1, 9);
  BitmapData image(3, 1, kFormatBGR8, original.data(), 9);
  const uint8_t* buffer = image.GetData();
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    const char* where;
  };
  const Case cases[] = {
      {"empty", {}, 21, "BitmapData::LoadJpg"},
      {"text", Bytes{'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'}, 21, "BitmapData::LoadJpg"},
      {"truncated", truncated, 21, "BitmapData::LoadJpg"},
      {"headers only", headersOnly, 21, "BitmapData::LoadJpg"},
      {"marker inside data", noisy, 21, "BitmapData::LoadJpg"},
      {"zero height", zeroHeight, 21, "BitmapData::LoadJpg"},
      {"too many pixels", huge, 0, "BitmapData::jpeg_load_image"},
      {"greyscale", GreyJpeg(), 2, "BitmapData::jpeg_load_image"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Write("bad" + std::to_string(i++) + ".jpg", c.bytes);
    EXPECT_IP_FAILURE(image.LoadJpg(path.c_str()), c.code, c.where);
    EXPECT_EQ(image.GetData(), buffer);
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetStride(), 9);
    EXPECT_EQ(std::memcmp(image.GetData(), original.data(), 9), 0);
  }
  EXPECT_IP_FAILURE(image.LoadJpg(Path("missing.jpg").c_str()), 18, "BitmapData::jpeg_load_image");

  // After all that, a good file still loads into the same container.
  image.LoadJpg(good.c_str());
  EXPECT_EQ(image.GetWidth(), 32);
  EXPECT_EQ(image.GetHeight(), 24);
  EXPECT_EQ(image.GetStride(), 96);
}

TEST_F(ImageFilesTest, JpegDecodesIntoAnImageOfItsSize) {
  constexpr int kW = 40, kH = 24;
  BitmapData source(kW, kH);
  {
    const Bytes smooth = Smooth(kW, kH, kW * 3);
    std::memcpy(source.GetData(), smooth.data(), smooth.size());
  }
  const std::string good = Path("good.jpg");
  source.SaveJpg(good.c_str());
  BitmapData loaded;
  loaded.LoadJpg(good.c_str());

  // Decoded in place: the same buffer, the pixels LoadJpg gives.
  BitmapData into;
  into.Initialize(kW, kH, kFormatBGR8, nullptr, kW * 3);
  std::memset(into.GetData(), 0x5A, kW * 3 * kH);
  const uint8_t* buffer = into.GetData();
  LoadJpgInto(good.c_str(), into);
  EXPECT_EQ(into.GetData(), buffer);
  EXPECT_EQ(std::memcmp(into.GetData(), loaded.GetData(), kW * 3 * kH), 0);

  // Images it cannot fill are refused before a pixel is written.
  const Bytes sentinel((kW * 3 + 4) * (kH + 8), 0x5A);
  struct Refused {
    const char* name;
    int width, height, format, stride, code;
  };
  for (const Refused& c : {Refused{"other width", kW - 8, kH, kFormatBGR8, (kW - 8) * 3, 1},
                           Refused{"other height", kW, kH + 8, kFormatBGR8, kW * 3, 1},
                           Refused{"padded rows", kW, kH, kFormatBGR8, kW * 3 + 4, 6},
                           Refused{"grey image", kW * 3, kH, kFormatGray8, kW * 3, 2}}) {
    SCOPED_TRACE(c.name);
    BitmapData image;
    image.Initialize(c.width, c.height, c.format, sentinel.data(), c.stride);
    EXPECT_IP_FAILURE(LoadJpgInto(good.c_str(), image), c.code, "LoadJpgInto");
    EXPECT_EQ(std::memcmp(image.GetData(), sentinel.data(), static_cast<std::size_t>(c.stride) * c.height), 0);
  }
  BitmapData empty;
  EXPECT_IP_FAILURE(LoadJpgInto(good.c_str(), empty), 5, "LoadJpgInto");

  // Files that fail as LoadJpg's do; the image keeps its shape and buffer.
  const Bytes valid = Read(good);
  const std::string cut =
      Write("cut.jpg", Bytes(valid.begin(), valid.begin() + static_cast<long>(valid.size() / 2)));
  EXPECT_IP_FAILURE(LoadJpgInto(cut.c_str(), into), 21, "BitmapData::LoadJpg");
  EXPECT_IP_FAILURE(LoadJpgInto(Path("missing.jpg").c_str(), into), 18,
                    "BitmapData::jpeg_load_image");
  EXPECT_EQ(into.GetData(), buffer);
  EXPECT_EQ(into.GetWidth(), kW);
  EXPECT_EQ(into.GetHeight(), kH);
  BitmapData grey;
  grey.Initialize(8, 8, kFormatBGR8, nullptr, 24);
  EXPECT_IP_FAILURE(LoadJpgInto(Write("grey.jpg", GreyJpeg()).c_str(), grey), 2,
                    "BitmapData::jpeg_load_image");
}

}  // namespace
}  // namespace KelvoLibImageProcessing
