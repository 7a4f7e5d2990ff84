// The grab library called directly: pixels without files, calls on several
// threads at once, its errors, and its helpers for times and names.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "kelvo/grab.h"
#include "tests/gst/GstTestSupport.h"
#include "tests/tools/FrameGrabClips.h"

namespace {

using namespace kelvo::test;
namespace grab = kelvo::grab;

// The frame index blue-green-red pixels show.
int IndexOfPixels(const grab::Still& s) {
  Jpeg picture;
  picture.width = s.width;
  picture.height = s.height;
  picture.rgb = s.pixels;
  for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3) std::swap(picture.rgb[i], picture.rgb[i + 2]);
  return DecodeFrameIndex(picture);
}

class GrabLibrary : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitGstForTests();
    dir_ = MakeTempFolder();
    MakeClip(dir_ + "/clip.avi", "jpegenc quality=95 ! avimux");
  }
  static void TearDownTestSuite() { RemoveTree(dir_); }
  static std::string dir_;
};
std::string GrabLibrary::dir_;

TEST_F(GrabLibrary, PixelsComeBackWithoutFilesFromCallsRunningAtOnce) {
  std::vector<grab::Request> requests(3);
  requests[0].time = 2.0;
  requests[1].frame = 30;
  requests[2].time = 0.5;
  requests[2].main = true;
  grab::Options options;
  options.scaleWidth = kW / 2;
  std::vector<std::vector<grab::Still>> results(4);
  std::vector<std::vector<int>> order(4);
  std::vector<std::string> errors(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t)
    threads.emplace_back([&, t] {
      grab::Options mine = options;
      // Half of them compare each target with its two neighbours.
      mine.sharpest = static_cast<int>(t % 2);
      mine.onStill = [&, t](const grab::Still& s) { order[t].push_back(static_cast<int>(s.frameNumber)); };
      try {
        results[t] = grab::Grab(dir_ + "/clip.avi", requests, mine);
      } catch (const std::exception& e) {
        errors[t] = e.what();
      }
    });
  for (std::thread& t : threads) t.join();
  for (size_t t = 0; t < results.size(); ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(errors[t], "");
    ASSERT_EQ(results[t].size(), 3u);
    const int expected[] = {12, 30, 50};  // time order
    for (size_t i = 0; i < 3; ++i) {
      const grab::Still& s = results[t][i];
      EXPECT_TRUE(s.taken) << s.error;
      EXPECT_EQ(s.width, kW / 2);
      EXPECT_EQ(s.height, kH / 2);
      ASSERT_EQ(s.pixels.size(), static_cast<size_t>(kW / 2) * 3 * (kH / 2));
      EXPECT_EQ(IndexOfPixels(s), s.frameNumber) << "the frame named is the frame returned";
      if (t % 2 == 0)
        EXPECT_EQ(s.frameNumber, expected[i]);
      else
        EXPECT_LE(std::abs(s.frameNumber - expected[i]), 1) << "a neighbour at most";
      EXPECT_EQ(s.sharpness >= 0.0, t % 2 == 1);
    }
    EXPECT_TRUE(results[t][0].request.main);
    std::vector<int> returned;
    for (const grab::Still& s : results[t]) returned.push_back(static_cast<int>(s.frameNumber));
    EXPECT_EQ(order[t], returned) << "handed on in time order";
  }
}

TEST_F(GrabLibrary, ErrorsSayWhetherTheInputTheRequestsOrTheOutputAreAtFault) {
  auto kindOf = [](const std::string& path, const std::vector<grab::Request>& requests) {
    try {
      grab::Grab(path, requests);
    } catch (const grab::Error& e) {
      return static_cast<int>(e.kind());
    }
    return -1;
  };
  grab::Request r;
  r.file = dir_ + "/x.jpg";
  EXPECT_EQ(kindOf(dir_ + "/missing.avi", {r}), static_cast<int>(grab::Error::Kind::Input));
  r.time = -1.0;
  EXPECT_EQ(kindOf(dir_ + "/clip.avi", {r}), static_cast<int>(grab::Error::Kind::Arguments));
  r.time = 1.0;
  r.file = dir_ + "/no/such/folder/x.jpg";
  EXPECT_EQ(kindOf(dir_ + "/clip.avi", {r}), static_cast<int>(grab::Error::Kind::Output));
  r.file = dir_ + "/x.tiff";
  EXPECT_EQ(kindOf(dir_ + "/clip.avi", {r}), static_cast<int>(grab::Error::Kind::Arguments));
  EXPECT_FALSE(FileExists(dir_ + "/x.tiff"));
}

TEST(GrabTimes, TimesParseInEveryFormAndBadFormsSayWhy) {
  struct Case {
    const char* text;
    double seconds;
    int64_t frame;
  };
  for (const Case& c : std::vector<Case>{{"12.5", 12.5, -1},
                                         {"0", 0.0, -1},
                                         {"1e-3", 0.001, -1},
                                         {"1e-400", 0.0, -1},  // an underflow is 0
                                         {"9223372036", grab::kMaxSeconds, -1},
                                         {"1:02.5", 62.5, -1},
                                         {"01:02", 62.0, -1},
                                         {"1:00:00", 3600.0, -1},
                                         {"10:59:59.999", 39599.999, -1},
                                         {"1500f", 0.0, 1500},
                                         {"0F", 0.0, 0}}) {
    double seconds = -1.0;
    int64_t frame = -2;
    std::string why;
    EXPECT_TRUE(grab::ParseTime(c.text, &seconds, &frame, &why)) << c.text << ": " << why;
    EXPECT_NEAR(seconds, c.seconds, 1e-9) << c.text;
    EXPECT_EQ(frame, c.frame) << c.text;
  }
  for (const char* bad : {"", "-1", "nan", "inf", "0x10", "1:", ":5", "1:60", "1:5", "1:2:3",
                          "1::2", "1:02:03:04", "1:60:00", "f", "12.5f", "-3f", "1 2", "1e10",
                          "9223372037", "2562047788:00:00", "12s"}) {
    double seconds = 0.0;
    int64_t frame = -1;
    std::string why;
    EXPECT_FALSE(grab::ParseTime(bad, &seconds, &frame, &why)) << bad;
    EXPECT_NE(why.find(std::string("\"") + bad + "\""), std::string::npos) << bad << ": " << why;
  }
}

TEST(GrabTimes, IntervalsIncludeBothBoundsAndNamesFillTheirFields) {
  EXPECT_EQ(grab::EveryTimes(0.5, 1.0, 3.0), (std::vector<double>{1.0, 1.5, 2.0, 2.5, 3.0}));
  EXPECT_EQ(grab::EveryTimes(2.0, 1.0, 4.0), (std::vector<double>{1.0, 3.0}));
  const std::vector<double> tenths = grab::EveryTimes(0.1, 0.0, 3.0);
  ASSERT_EQ(tenths.size(), 31u) << "0.1 thirty times reaches 3";
  EXPECT_EQ(tenths.back(), 3.0);
  EXPECT_NEAR(tenths[17], 1.7, 1e-12) << "from the index, not a running sum";
  EXPECT_EQ(grab::EveryTimes(1.0, 5.0, 5.0), std::vector<double>{5.0});
  EXPECT_TRUE(grab::EveryTimes(1.0, 5.0, 4.0).empty());
  EXPECT_TRUE(grab::EveryTimes(0.0, 0.0, 4.0).empty());

  EXPECT_EQ(grab::StillName("s-%04d.jpg", 7, 1.5, "a.mp4"), "s-0007.jpg");
  EXPECT_EQ(grab::StillName("%d-%t.png", 12345, 12.5, "a.mp4"), "12345-12.500.png");
  EXPECT_EQ(grab::StillName("out/{name}-%02d.jpg", 3, 0.0, "/v/my.clip.mkv"), "out/my.clip-03.jpg");
  EXPECT_EQ(grab::StillName("100%%-%x-%4d.jpg", 5, 0.0, "a"), "100%-%x-   5.jpg");
}

}  // namespace
