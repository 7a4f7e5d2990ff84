// The still writer's files: each format by its extension, at the size
// asked for, with the still's origin in EXIF, or only pixels; and refusals
// that leave the target as it was.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/ImageFormat.h"
#include "host/JpegFile.h"
#include "host/PngFile.h"
#include "host/Scale.h"
#include "host/StillWriter.h"
#include "tests/host/StillPictures.h"
#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/EnhanceAnySize.h"

namespace {

namespace fs = std::filesystem;
using kelvo::host::ImageFormat;
using kelvo::host::Still;
using kelvo::host::StillResult;
using kelvo::host::StillWriter;

class StillFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvo-still-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string dir_;
};

using kelvo::test::Contents;
using kelvo::test::MakeStill;

// Decodes a written file to tight blue-green-red rows.
kelvo::host::BgrImage Decode(const std::string& file, ImageFormat format) {
  kelvo::host::BgrImage image;
  if (format == ImageFormat::Png) {
    kelvo::host::ImageMetadata unused;
    EXPECT_EQ(kelvo::host::ReadPng(file, &image, &unused), "");
    return image;
  }
  KelvoLibImageProcessing::BitmapData bitmap;
  bitmap.Load(file.c_str(), format == ImageFormat::Bmp ? KelvoLibImageProcessing::kFileBmp
                                                       : KelvoLibImageProcessing::kFileJpg);
  image.width = bitmap.GetWidth();
  image.height = bitmap.GetHeight();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* row = bitmap.GetData() + static_cast<size_t>(y) * bitmap.GetStride();
    image.pixels.insert(image.pixels.end(), row, row + image.width * 3);
  }
  return image;
}

double MeanAbsDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int{a[i]} - int{b[i]});
  return sum / static_cast<double>(a.size());
}

// The EXIF block of a written JPEG or PNG, in its TIFF form; empty when it
// has none.
std::vector<uint8_t> ExifOf(const std::string& file) {
  kelvo::host::ImageMetadata metadata;
  std::vector<std::string> warnings;
  if (kelvo::host::FormatFromName(file) == ImageFormat::Png) {
    kelvo::host::BgrImage unused;
    EXPECT_EQ(kelvo::host::ReadPng(file, &unused, &metadata), "");
  } else {
    EXPECT_EQ(kelvo::host::ReadJpegMetadata(file, &metadata, &warnings), "");
  }
  return metadata.exif;
}

// A tag's value as libexif (and so the exif tool) shows it; "" when absent.
std::string Tag(const std::vector<uint8_t>& tiff, ExifIfd ifd, ExifTag tag) {
  std::vector<unsigned char> block = {'E', 'x', 'i', 'f', 0, 0};
  block.insert(block.end(), tiff.begin(), tiff.end());
  ExifData* data = exif_data_new_from_data(block.data(), static_cast<unsigned>(block.size()));
  std::string value;
  if (ExifEntry* entry = exif_content_get_entry(data->ifd[ifd], tag)) {
    char text[512];
    value = exif_entry_get_value(entry, text, sizeof text);
  }
  exif_data_unref(data);
  return value;
}

TEST_F(StillFiles, EachFormatByItsExtensionAtTheSizeAskedFor) {
  const StillWriter writer;
  // 320 x 240 to a width of 160: 160 x 120, the pixels ScaleBgr gives.
  const Still source = MakeStill(320, 240, "");
  const std::vector<uint8_t> expected =
      kelvo::host::ScaleBgr(source.pixels.data(), 320, 240, 960, 160, 120);
  for (const auto& [name, format] : {std::pair{"a.jpg", ImageFormat::Jpeg},
                                     {"b.JPEG", ImageFormat::Jpeg},
                                     {"c.png", ImageFormat::Png},
                                     {"d.Bmp", ImageFormat::Bmp}}) {
    SCOPED_TRACE(name);
    Still still = source;
    still.fileName = Path(name);
    still.scaleWidth = 160;
    still.keepPixels = true;
    const StillResult result = writer.Write(still);
    ASSERT_TRUE(result.written) << result.reason;
    EXPECT_EQ(result.warning, "");
    EXPECT_EQ(result.width, 160);
    EXPECT_EQ(result.height, 120);
    EXPECT_EQ(result.pixels, expected);
    const kelvo::host::BgrImage read = Decode(still.fileName, format);
    ASSERT_EQ(read.width, 160);
    ASSERT_EQ(read.height, 120);
    if (format == ImageFormat::Jpeg) {
      EXPECT_LT(MeanAbsDifference(read.pixels, expected), 3.0);
    } else {
      EXPECT_EQ(read.pixels, expected);
    }
  }

  // JPEG quality is the still's: a low one gives a smaller file.
  Still low = source, high = source;
  low.fileName = Path("low.jpg");
  low.quality = 20;
  high.fileName = Path("high.jpg");
  high.quality = 95;
  ASSERT_TRUE(writer.Write(low).written);
  ASSERT_TRUE(writer.Write(high).written);
  EXPECT_LT(Contents(low.fileName).size() * 2, Contents(high.fileName).size());

  // Scaling to both sides, enlarging one: exactly that size.
  Still both = source;
  both.fileName = Path("both.png");
  both.scaleWidth = 100;
  both.scaleHeight = 300;
  ASSERT_TRUE(writer.Write(both).written);
  const kelvo::host::BgrImage stretched = Decode(both.fileName, ImageFormat::Png);
  EXPECT_EQ(stretched.width, 100);
  EXPECT_EQ(stretched.height, 300);
  EXPECT_TRUE(writer.Write(both).pixels.empty()) << "pixels only when asked for";
}

TEST_F(StillFiles, PixelsOnlyAreTheEnhancedScaledFrameAndWriteNothing) {
  const StillWriter writer;
  Still still = MakeStill(64, 48, "");
  still.writeFile = false;
  still.keepPixels = true;
  still.enhance = true;
  still.scaleHeight = 3;  // 4 x 3 after the enhancement
  const StillResult result = writer.Write(still);
  EXPECT_EQ(result.reason, "");
  EXPECT_FALSE(result.written);
  EXPECT_TRUE(result.enhanced);

  std::vector<uint8_t> enhanced(still.pixels.size());
  KelvoLibImageProcessing::EnhanceAnySize(64, 48, still.pixels.data(), 64 * 3, enhanced.data(),
                                          64 * 3);
  ASSERT_FALSE(std::equal(enhanced.begin(), enhanced.end(), still.pixels.begin()));
  EXPECT_EQ(result.width, 4);
  EXPECT_EQ(result.height, 3);
  EXPECT_EQ(result.pixels, kelvo::host::ScaleBgr(enhanced.data(), 64, 48, 64 * 3, 4, 3));

  // Unscaled and unenhanced: the frame itself; a 1-pixel minimum side.
  still.enhance = false;
  still.scaleHeight = 0;
  EXPECT_EQ(writer.Write(still).pixels, std::vector<uint8_t>(still.pixels.begin(), still.pixels.end()));
  still.scaleWidth = 1;
  const StillResult thin = writer.Write(still);
  EXPECT_EQ(thin.width, 1);
  EXPECT_EQ(thin.height, 1);
  EXPECT_EQ(thin.pixels.size(), 3u);
  EXPECT_TRUE(Listing().empty());
}

TEST_F(StillFiles, JpegAndPngRecordTheSourceTheStreamTimeAndTheUtcDate) {
  const StillWriter writer;
  for (const char* name : {"origin.jpg", "origin.png"}) {
    SCOPED_TRACE(name);
    Still still = MakeStill(48, 32, Path(name));
    still.sourceName = "holiday clip.mp4";
    still.frameTime = 3723.5;         // 1:02:03.500
    still.creationTime = 1700000000;  // 2023-11-14 22:13:20 UTC
    still.scaleWidth = 24;
    const StillResult result = writer.Write(still);
    ASSERT_TRUE(result.written) << result.reason;
    EXPECT_EQ(result.warning, "");
    const std::vector<uint8_t> exif = ExifOf(still.fileName);
    ASSERT_FALSE(exif.empty());
    EXPECT_EQ(Tag(exif, EXIF_IFD_0, EXIF_TAG_IMAGE_DESCRIPTION), "holiday clip.mp4");
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_USER_COMMENT),
              "stream time 1:02:03.500 (3723.500 s)");
    // Creation time plus the frame's time: 23:15:23.5.
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2023:11:14 23:15:23");
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_SUB_SEC_TIME_ORIGINAL), "500");
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_OFFSET_TIME_ORIGINAL), "+00:00");
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION), "24");
    EXPECT_EQ(Tag(exif, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION), "16");

    // No creation time: no date, the rest as before.
    still.creationTime.reset();
    ASSERT_TRUE(writer.Write(still).written);
    const std::vector<uint8_t> undated = ExifOf(still.fileName);
    EXPECT_EQ(Tag(undated, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "");
    EXPECT_EQ(Tag(undated, EXIF_IFD_0, EXIF_TAG_IMAGE_DESCRIPTION), "holiday clip.mp4");

    // A host that names no source (the GStreamer element) writes no block.
    still.sourceName.clear();
    ASSERT_TRUE(writer.Write(still).written);
    EXPECT_TRUE(ExifOf(still.fileName).empty());
  }
  // A BMP has no place for it and says nothing about that.
  Still bmp = MakeStill(8, 8, Path("origin.bmp"));
  bmp.sourceName = "clip.mp4";
  const StillResult result = writer.Write(bmp);
  EXPECT_TRUE(result.written);
  EXPECT_EQ(result.warning, "");
}

TEST_F(StillFiles, RefusalsNameTheFileAndLeaveTheTargetAsItWas) {
  const StillWriter writer;
  const std::string target = Path("keep.jpg");
  std::ofstream(target) << "the user's file";
  Still unknown = MakeStill(16, 8, Path("still.gif"));
  Still noExtension = MakeStill(16, 8, Path("still"));
  Still shortFrame = MakeStill(16, 8, target);
  shortFrame.pixels.pop_back();
  Still badQuality = MakeStill(16, 8, target);
  badQuality.quality = 0;
  Still huge = MakeStill(16, 8, target);
  huge.scaleWidth = 40000;
  huge.scaleHeight = 40000;
  Still missingFolder = MakeStill(16, 8, Path("missing/x.png"));
  for (const Still& still : {unknown, noExtension, shortFrame, badQuality, huge, missingFolder}) {
    SCOPED_TRACE(still.fileName);
    const StillResult result = writer.Write(still);
    EXPECT_FALSE(result.written);
    EXPECT_NE(result.reason.find("\"" + still.fileName + "\""), std::string::npos) << result.reason;
  }
  EXPECT_NE(writer.Write(unknown).reason.find("\".gif\""), std::string::npos);
  EXPECT_NE(writer.Write(missingFolder).reason.find("does not exist"), std::string::npos);
  EXPECT_EQ(Contents(target), "the user's file");
  EXPECT_EQ(Listing(), std::vector<std::string>{"keep.jpg"});
}

}  // namespace
