// The hosts' still writer gives a host that names no source (the element)
// the same bytes as the filter's own path. Its formats, sizes, metadata and
// refusals are tested with the rest of host/ in tests/host.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/StillWriter.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/RunSnapshotPipeline.h"
#include "tests/gst/GstTestSupport.h"

namespace {

using kelvo::host::Still;
using kelvo::host::StillResult;
using kelvo::host::StillWriter;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

Still MakeStill(int width, int height, const std::string& file) {
  Still still;
  still.width = width;
  still.height = height;
  still.fileName = file;
  still.pixels.resize(static_cast<size_t>(width) * height * 3);
  // Gradients with a little texture, so every stage of the enhancement has
  // something to change.
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &still.pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(40 + x * 120 / width + ((x * 7 + y * 13) % 11));
      p[1] = static_cast<uint8_t>(60 + y * 100 / height + ((x * 5 + y * 3) % 9));
      p[2] = static_cast<uint8_t>(90 + (x + y) * 80 / (width + height));
    }
  return still;
}

TEST(StillWriter, WritesWhatTheFiltersOwnPathWritesEnhancedOrNot) {
  const std::string dir = kelvo::test::MakeTempFolder();
  const StillWriter writer;
  for (const bool enhance : {false, true}) {
    SCOPED_TRACE(enhance ? "enhanced" : "as taken");
    Still still = MakeStill(320, 240, dir + "/still.jpg");
    still.enhance = enhance;
    const StillResult result = writer.Write(still);
    ASSERT_TRUE(result.written) << result.reason;
    EXPECT_EQ(result.reason, "");

    std::vector<uint8_t> expected = still.pixels;
    if (enhance) {
      uint8_t* enhanced = nullptr;
      ASSERT_TRUE(KelvoLibImageProcessing::RunSnapshotPipeline(320, 240, 320 * 3, still.pixels.data(),
                                                               &enhanced));
      expected.assign(enhanced, enhanced + expected.size());
      KelvoLibImageProcessing::FreeSnapshotImage(enhanced);
      EXPECT_NE(expected, still.pixels) << "the enhancement changed nothing";
    }
    ASSERT_EQ(kelvo::io::WriteJpegBgr(dir + "/expected.jpg", expected.data(), 320, 240, 88), "");
    EXPECT_EQ(Contents(dir + "/still.jpg"), Contents(dir + "/expected.jpg"));
  }
  kelvo::test::RemoveTree(dir);
}

}  // namespace
