// The hosts' still writer gives a host that names no source (the element)
// the same bytes as the filter's own path. Its formats, sizes, metadata and
// refusals are tested with the rest of host/ in tests/host.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "host/StillWriter.h"
#include "tests/host/StillPictures.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/RunSnapshotPipeline.h"
#include "tests/gst/GstTestSupport.h"

namespace {

using kelvo::host::Still;
using kelvo::host::StillResult;
using kelvo::host::StillWriter;

using kelvo::test::Contents;
using kelvo::test::MakeStill;

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

    kelvo::host::StillPixels expected = still.pixels;
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
