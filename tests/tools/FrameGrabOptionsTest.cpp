// framegrab's command line.
#include <gtest/gtest.h>

#include "tools/framegrab/FrameGrabOptions.h"
#include "tools/framegrab/StillReport.h"

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

TEST(FrameGrabOptions, SnapshotsTakeBothFormsAndFileNamesMayHoldColonsAndEquals) {
  struct Case {
    const char* text;
    double time;
    int64_t frame;
    const char* file;
    bool enhance;
  };
  for (const Case& c : std::vector<Case>{
           {"1.25:out/a:b.jpg", 1.25, -1, "out/a:b.jpg", false},
           {"3:x.jpg:enhance", 3.0, -1, "x.jpg", true},
           {"1:02.5=b.jpg:enhance", 62.5, -1, "b.jpg", true},
           {"01:00:00=a=b.png", 3600.0, -1, "a=b.png", false},
           {"1500f:f.jpg", 0.0, 1500, "f.jpg", false},
           {"12f=g:h.bmp", 0.0, 12, "g:h.bmp", false},
           {"2:x=y.jpg", 2.0, -1, "x=y.jpg", false},  // before '=' is no time: the old form
       }) {
    Still s;
    std::string error;
    ASSERT_TRUE(ParseSnapshot(c.text, &s, &error)) << c.text << ": " << error;
    EXPECT_DOUBLE_EQ(s.time, c.time) << c.text;
    EXPECT_EQ(s.frame, c.frame) << c.text;
    EXPECT_EQ(s.file, c.file) << c.text;
    EXPECT_EQ(s.enhance, c.enhance) << c.text;
  }
  // A clock time in the old form would be cut at its first colon: refused,
  // naming both readings.
  Still s;
  std::string error;
  EXPECT_FALSE(ParseSnapshot("1:02.5:b.jpg", &s, &error));
  EXPECT_NE(error.find("1:02.5=b.jpg"), std::string::npos) << error;
  EXPECT_NE(error.find("1=02.5:b.jpg"), std::string::npos) << error;
}

TEST(FrameGrabOptions, IntervalsFormatsSizesAndSeveralInputs) {
  Options o = Parse({"a.mp4", "b.mkv", "--every", "0:10", "--from", "1:00", "--to", "90", "-o",
                     "out/{name}-%04d.png", "-q", "95", "--width", "320", "--sharpest", "3",
                     "-j", "2", "--json", "--enhance", "--decoder-threads", "2"});
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.mp4", "b.mkv"}));
  EXPECT_TRUE(o.stills.empty()) << "--every takes no main still";
  EXPECT_DOUBLE_EQ(o.every, 10.0);
  EXPECT_DOUBLE_EQ(o.from, 60.0);
  EXPECT_DOUBLE_EQ(o.to, 90.0);
  EXPECT_EQ(o.pattern, "out/{name}-%04d.png");
  EXPECT_TRUE(o.everyEnhance);
  EXPECT_EQ(o.scaleWidth, 320);
  EXPECT_EQ(o.scaleHeight, 0);
  EXPECT_EQ(o.decoderThreads, 2);

  // A folder as -o: named after each input.
  o = Parse({"a.mp4", "b.mkv", "-o", "dir/", "--scale", "64x48"});
  ASSERT_EQ(o.stills.size(), 1u);
  EXPECT_EQ(o.stills[0].file, "dir/{name}.jpg");
  EXPECT_EQ(o.folder, "dir/");
  EXPECT_EQ(o.scaleHeight, 48);
  o = Parse({"a.mp4", "--every", "5", "-o", "dir/"});
  EXPECT_EQ(o.pattern, "dir/{name}-%04d.jpg");
  EXPECT_DOUBLE_EQ(o.to, -1.0) << "to the end";
  o = Parse({"x/a.b.mp4", "y/c.mp4"});
  EXPECT_EQ(o.stills[0].file, "{name}.jpg");
  EXPECT_EQ(BaseName("x/a.b.mp4"), "a.b");
  EXPECT_EQ(NameFor("{name}/{name}.jpg", "x/a.b.mp4"), "a.b/a.b.jpg");
}

TEST(FrameGrabOptions, JsonStringsEscapeWhatJsonCannotHold) {
  EXPECT_EQ(JsonString("plain é ☃"), "\"plain é ☃\"");
  EXPECT_EQ(JsonString("q\"b\\n\nt\t\x01\x7f"), "\"q\\\"b\\\\n\\u000at\\u0009\\u0001\\u007f\"");
  // Bytes that are not UTF-8 (a Latin-1 name, a cut sequence, an overlong
  // slash, a surrogate) become U+FFFD, one per byte.
  EXPECT_EQ(JsonString("caf\xe9"), "\"caf\\ufffd\"");
  EXPECT_EQ(JsonString("\xe2\x98"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
}

TEST(FrameGrabOptions, BadArgumentsAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"--at"},                      // missing value
      {"--at", "soon"},              // not a time (the forms: the library's tests)
      {"--snapshot", "-0.5:x.jpg"},
      {"--snapshot", "2.0"},         // no file
      {"--snapshot", "x:a.jpg"},     // bad time
      {"--snapshot", "2:"},          // empty file
      {"--snapshot", "2::enhance"},  // empty file before the flag
      {"-o", ""},                    // empty main file
      {"--frobnicate"},              // unknown option
      {"a.mp4", "b.mp4", "-o", "x.jpg"},  // two inputs, one file
      {"a.mp4", "b.mp4", "--snapshot", "1=x.jpg"},
      {"a.mp4", "x/a.mkv"},          // one base name
      {"--at", "1:75"},              // not a clock time
      {"-q", "0"},                   // quality 1 to 100
      {"-q", "101"},
      {"--width", "0"},
      {"--scale", "320"},            // WxH
      {"--scale", "x20"},
      {"--sharpest", "0"},
      {"--sharpest", "51"},
      {"-j", "0"},
      {"--decoder-threads", "0"},
      {"--every", "1"},              // needs -o PATTERN
      {"--every", "1", "-o", "a.jpg"},  // every still one name
      {"--every", "0", "-o", "%d.jpg"},
      {"--every", "10f", "-o", "%d.jpg"},  // a time, not a frame
      {"--every", "1", "--at", "2", "-o", "%d.jpg"},
      {"--every", "1", "--from", "5", "--to", "4", "-o", "%d.jpg"},
      {"--from", "5"},               // only with --every
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
