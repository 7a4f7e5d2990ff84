// kelvo-enhance as a user runs it: arguments, size and format errors, the
// report, and the output file matching the library's own result.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "imaging/core/BitmapData.h"
#include "imaging/pipeline/PipelineSnapshot.h"

namespace KelvoLibImageProcessing {
namespace {

struct Result {
  int status = -1;
  std::string out;
};

// Runs the tool with the given arguments; stdout is captured, stderr goes to
// a file whose text is appended after a marker line. The file is named after
// this process, since CTest runs the tests of this program side by side.
Result RunTool(const std::string& args) {
  const std::string err =
      testing::TempDir() + "kelvo-enhance-stderr-" + std::to_string(getpid()) + ".txt";
  const std::string command = std::string(KELVO_ENHANCE_PATH) + " " + args + " 2>" + err;
  Result result;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (std::FILE* f = std::fopen(err.c_str(), "r")) {
    result.out += "\n--stderr--\n";
    while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) result.out.append(buffer.data(), n);
    std::fclose(f);
  }
  return result;
}

std::string WriteStill(const std::string& name, int w, int h) {
  BitmapData image(w, h);
  std::mt19937 rng(11);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = image.GetData() + y * image.GetStride();
    for (int x = 0; x < 3 * w; ++x) row[x] = static_cast<uint8_t>(60 + (x * 7 + y * 3) % 90 + rng() % 20);
  }
  const std::string path = testing::TempDir() + name;
  image.SaveBmp(path.c_str());
  return path;
}

TEST(KelvoEnhanceTest, HelpAndArgumentErrors) {
  Result r = RunTool("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("usage: kelvo-enhance INPUT OUTPUT"), std::string::npos);

  r = RunTool("");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("INPUT and OUTPUT are required"), std::string::npos);
  r = RunTool("a.bmp b.bmp --sharpen-more");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("unknown option '--sharpen-more'"), std::string::npos);
  r = RunTool("a.png b.bmp");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("neither a .bmp nor a .jpg"), std::string::npos);
  // A missing input is the library's file error, reported on stderr.
  r = RunTool(testing::TempDir() + "does-not-exist.bmp " + testing::TempDir() + "x.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("kelvo-enhance: IPException: "), std::string::npos);
}

TEST(KelvoEnhanceTest, RefusedSizesGetAClearMessage) {
  const std::string in = WriteStill("small.bmp", 66, 64);
  const std::string out = testing::TempDir() + "small-out.bmp";
  std::remove(out.c_str());
  Result r = RunTool(in + " " + out);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is 66 x 64 pixels"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("multiples of 4"), std::string::npos);
  EXPECT_EQ(access(out.c_str(), F_OK), -1);  // nothing written
}

TEST(KelvoEnhanceTest, WritesTheLibraryResultAndReportsTheRun) {
  const std::string in = WriteStill("still.bmp", 128, 96);
  const std::string out = testing::TempDir() + "still-out.bmp";
  Result r = RunTool(in + " " + out + " --report");
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* key :
       {"skinRatio", "skinMean", "skinClip", "lowClip05", "lowClip01", "lowClip00", "hiClip1",
        "hiClip05", "hiClip01", "hiClip00", "hiClip66", "origMean", "midRatio", "midAve",
        "skinLim", "finalClip", "finalLow", "finalHigh", "lowLimit", "opacity", "colourCast",
        "lowKey", "lowRaised", "stageMs", "noise", "total"}) {
    std::string quoted = "\"";
    quoted += key;
    quoted += "\":";
    EXPECT_NE(r.out.find(quoted), std::string::npos) << key;
  }
  EXPECT_EQ(r.out.front(), '{');

  BitmapData input;
  input.LoadBmp(in.c_str());
  BitmapData expected(128, 96);
  PipelineSnapshot pipeline(128, 96, kFormatBGR8);
  pipeline.Execute(&input, &expected);
  BitmapData written;
  written.LoadBmp(out.c_str());
  ASSERT_EQ(written.GetWidth(), 128);
  for (int y = 0; y < 96; ++y) {
    ASSERT_EQ(std::memcmp(written.GetData() + y * written.GetStride(),
                          expected.GetData() + y * expected.GetStride(), 3 * 128),
              0)
        << "row " << y;
  }
  char opacity[64];
  std::snprintf(opacity, sizeof opacity, "\"opacity\": %.9g,", pipeline.GetReport().opacity);
  EXPECT_NE(r.out.find(opacity), std::string::npos);

  // Switches reach the pipeline: without the stretch, opacity stays 0.5 and
  // nothing is measured.
  r = RunTool(in + " " + out + " --report --no-stretch --no-skin");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"opacity\": 0.5,"), std::string::npos);
  EXPECT_NE(r.out.find("\"origMean\": 0,"), std::string::npos);
  // The size rule holds with every stage off too: the blend always runs.
  const std::string small = WriteStill("tiny.bmp", 64, 62);
  r = RunTool(small + " " + out + " --no-noise --no-sharp --no-skin --no-stretch");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is 64 x 62 pixels"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace KelvoLibImageProcessing
