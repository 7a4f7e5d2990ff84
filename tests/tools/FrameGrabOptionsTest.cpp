// framegrab's command line.
#include <gtest/gtest.h>

#include "tools/framegrab/FrameGrabOptions.h"

namespace {

using namespace kelvo::framegrab;

Options Parse(const std::vector<std::string>& args) {
  Options o;
  std::string error;
  EXPECT_TRUE(ParseOptions(args, &o, &error)) << error;
  return o;
}

TEST(FrameGrabOptions, StillsComeInTimeOrderWhateverTheOrderGiven) {
  const Options o = Parse({"clip.mp4", "--snapshot", "4:late.jpg", "--at", "2.5", "-o", "main.jpg",
                           "--snapshot", "0.5:early.jpg:enhance", "--quiet", "--enhance"});
  EXPECT_EQ(o.inputs, std::vector<std::string>{"clip.mp4"});
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.maxPixels, kelvo::tools::kDefaultMaxPixels);
  ASSERT_EQ(o.stills.size(), 3u);
  EXPECT_EQ(o.stills[0].file, "early.jpg");
  EXPECT_DOUBLE_EQ(o.stills[0].time, 0.5);
  EXPECT_TRUE(o.stills[0].enhance);
  EXPECT_FALSE(o.stills[0].main);
  EXPECT_EQ(o.stills[1].file, "main.jpg");
  EXPECT_TRUE(o.stills[1].main);
  EXPECT_TRUE(o.stills[1].enhance);
  EXPECT_DOUBLE_EQ(o.stills[1].time, 2.5);
  EXPECT_EQ(o.stills[2].file, "late.jpg");
  EXPECT_FALSE(o.stills[2].enhance);
}

TEST(FrameGrabOptions, WithoutStillsTheFirstFrameGoesToTheDefaultFile) {
  Options o = Parse({});
  EXPECT_TRUE(o.inputs.empty()) << "the bundled sample";
  ASSERT_EQ(o.stills.size(), 1u);
  EXPECT_TRUE(o.stills[0].main);
  EXPECT_EQ(o.stills[0].file, kDefaultOutput);
  EXPECT_DOUBLE_EQ(o.stills[0].time, 0.0);

  // Snapshots alone take no main still.
  o = Parse({"--snapshot", "1:a.jpg", "--max-pixels", "2073600"});
  ASSERT_EQ(o.stills.size(), 1u);
  EXPECT_FALSE(o.stills[0].main);
  EXPECT_EQ(o.maxPixels, 2073600);
}

TEST(FrameGrabOptions, TimesUpToTheClocksLimitAreTaken) {
  const Options o = Parse({"--at", "9223372036", "--snapshot", "1e-400:a.jpg"});
  ASSERT_EQ(o.stills.size(), 2u);
  EXPECT_EQ(o.stills[0].time, 0.0) << "an underflow is 0";
  EXPECT_EQ(o.stills[1].time, kMaxSeconds);
  EXPECT_LT(kMaxSeconds * 1e9, 9223372036854775807.0);
}

TEST(FrameGrabOptions, SnapshotFileNamesMayContainColons) {
  Still s;
  std::string error;
  ASSERT_TRUE(ParseSnapshot("1.25:out/a:b.jpg", &s, &error));
  EXPECT_EQ(s.file, "out/a:b.jpg");
  EXPECT_DOUBLE_EQ(s.time, 1.25);
  EXPECT_FALSE(s.enhance);
  ASSERT_TRUE(ParseSnapshot("3:x.jpg:enhance", &s, &error));
  EXPECT_EQ(s.file, "x.jpg");
  EXPECT_TRUE(s.enhance);
}

TEST(FrameGrabOptions, BadArgumentsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--at"},                      // missing value
      {"--at", "soon"},              // not a number
      {"--at", "-1"},                // negative
      {"--at", "nan"},               // not finite
      {"--at", "inf"},
      {"--at", "1e10"},              // beyond the pipeline clock's nanoseconds
      {"--snapshot", "1e300:x.jpg"},
      {"--snapshot", "9223372037:x.jpg"},
      {"--snapshot", "-0.5:x.jpg"},
      {"--snapshot", "2.0"},         // no file
      {"--snapshot", "x:a.jpg"},     // bad time
      {"--snapshot", "2:"},          // empty file
      {"--snapshot", "2::enhance"},  // empty file before the flag
      {"-o", ""},                    // empty main file
      {"--frobnicate"},              // unknown option
      {"a.mp4", "b.mp4", "-o", "x.jpg"},  // two inputs, one file
      {"-o", "-"},                   // stills are files, not standard output
      {"--snapshot", "1:-:enhance"},
      {"-"},                         // nor is the input standard input
      {"--max-pixels"},              // missing value
      {"--max-pixels", "0"},         // not positive
      {"--max-pixels", "-5"},
      {"--max-pixels", "1e8"},       // digits only
      {"--max-pixels", "99999999999999999999"},  // overflows
  };
  for (const auto& args : bad) {
    Options o;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, &o, &error)) << testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
