// framegrab end to end, on clips made at test time whose frames carry their
// own index (see GstTestSupport.h), so every still can be checked for the
// exact frame it holds.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/gst/GstTestSupport.h"
#include "tests/tools/ToolProcess.h"

namespace {

using namespace kelvo::test;

constexpr int kW = 160;
constexpr int kH = 120;
constexpr int kFps = 25;
constexpr int kFrames = 175;  // 7 s

// Encodes kFrames numbered frames through `encoder` (a gst-launch fragment).
void MakeClip(const std::string& path, const std::string& encoder) {
  const std::string launch = "appsrc name=src format=time caps=video/x-raw,format=YUY2,width=" +
                             std::to_string(kW) + ",height=" + std::to_string(kH) +
                             ",framerate=" + std::to_string(kFps) + "/1 ! videoconvert ! " +
                             encoder + " ! filesink location=" + path;
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  ASSERT_NE(pipeline, nullptr) << (err ? err->message : "");
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (int i = 0; i < kFrames; ++i) {
    const std::vector<uint8_t> frame = MakeYuy2Frame(kW, kH, i);
    GstBuffer* buf = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buf) = gst_util_uint64_scale(i, GST_SECOND, kFps);
    GST_BUFFER_DURATION(buf) = gst_util_uint64_scale(i + 1, GST_SECOND, kFps) - GST_BUFFER_PTS(buf);
    GstFlowReturn ret;
    g_signal_emit_by_name(src, "push-buffer", buf, &ret);
    gst_buffer_unref(buf);
    ASSERT_EQ(ret, GST_FLOW_OK);
  }
  GstFlowReturn ret;
  g_signal_emit_by_name(src, "end-of-stream", &ret);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
  gst_message_unref(m);
  gst_object_unref(bus);
  gst_object_unref(src);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

ToolResult RunFrameGrab(const std::vector<std::string>& args, const std::string& cwd,
                        long long fileSizeLimit = -1) {
  ToolRun run;
  run.args = args;
  run.cwd = cwd;
  run.fileSizeLimit = fileSizeLimit;
  return RunToolProcess(FRAMEGRAB_EXE, run);
}

int IndexOf(const std::string& path, int* width = nullptr, int* height = nullptr) {
  Jpeg jpeg;
  if (!ReadJpeg(path, &jpeg)) return -2;
  if (width) *width = jpeg.width;
  if (height) *height = jpeg.height;
  return DecodeFrameIndex(jpeg);
}

std::string ReadAll(const std::string& path) { return ReadWholeFile(path); }

// The still the element writes when the whole clip is played from the
// start, without any seek.
void GrabFromStart(const std::string& clip, double at, const std::string& out) {
  const std::string launch = "filesrc location=" + clip +
                             " ! decodebin ! videoconvert ! video/x-raw,format=YUY2 ! "
                             "kelvoframegrab location=" + out + " grab-time=" + std::to_string(at) +
                             " ! fakesink sync=false";
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  ASSERT_NE(pipeline, nullptr) << (err ? err->message : "");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
  gst_message_unref(m);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

class FrameGrabTool : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitGstForTests();
    clips_ = MakeTempFolder();
    // H.264 with two-second key-frame intervals, so an accurate seek has to
    // decode from an earlier key frame; and MJPEG in AVI.
    MakeClip(clips_ + "/clip.mp4", "x264enc key-int-max=50 ! mp4mux");
    MakeClip(clips_ + "/clip.avi", "jpegenc quality=95 ! avimux");
  }
  static void TearDownTestSuite() { RemoveTree(clips_); }
  void SetUp() override { dir_ = MakeTempFolder(); }
  void TearDown() override { RemoveTree(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Clip(const std::string& name) { return clips_ + "/" + name; }

  static std::string clips_;
  std::string dir_;
};
std::string FrameGrabTool::clips_;

TEST_F(FrameGrabTool, WritesEveryStillFromTheRightFrameInTimeOrder) {
  for (const char* clip : {"clip.mp4", "clip.avi"}) {
    SCOPED_TRACE(clip);
    const ToolResult r = RunFrameGrab({Clip(clip), "--at", "6.0", "-o", Path("main.jpg"), "--snapshot",
                                   "2.0:" + Path("a.jpg"), "--snapshot", "1.01:" + Path("b.jpg"),
                                   "--quiet"},
                                  dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(IndexOf(Path("main.jpg")), 150);
    EXPECT_EQ(IndexOf(Path("a.jpg")), 50);
    EXPECT_EQ(IndexOf(Path("b.jpg")), 26) << "the frame starting just after 1.005 s";
    // One line per still, in time order, with the frame's actual time.
    const size_t b = r.out.find(Path("b.jpg") + ": requested 1.010 s, frame at 1.040 s");
    const size_t a = r.out.find(Path("a.jpg") + ": requested 2.000 s, frame at 2.000 s");
    const size_t m = r.out.find(Path("main.jpg") + ": requested 6.000 s, frame at 6.000 s");
    ASSERT_NE(b, std::string::npos) << r.out;
    ASSERT_NE(a, std::string::npos) << r.out;
    ASSERT_NE(m, std::string::npos) << r.out;
    EXPECT_LT(b, a);
    EXPECT_LT(a, m);
    EXPECT_EQ(r.err.find("framegrab"), std::string::npos)
        << "no progress line when stderr is not a terminal: " << r.err;
  }
}

// framegrab seeks to shortly before each still; the element playing the
// whole clip from the start must write the very same file.
TEST_F(FrameGrabTool, SeekingGivesTheSameStillAsPlayingFromTheStart) {
  for (double at : {0.0, 3.3, 5.01, 6.9}) {
    SCOPED_TRACE(at);
    const std::string seeked = Path("seeked.jpg");
    const std::string played = Path("played.jpg");
    const ToolResult r =
        RunFrameGrab({Clip("clip.mp4"), "--at", std::to_string(at), "-o", seeked, "-q"}, dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    GrabFromStart(Clip("clip.mp4"), at, played);
    const std::string a = ReadAll(seeked);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a, ReadAll(played)) << "different frames for --at " << at;
    EXPECT_GE(IndexOf(seeked), 0);
  }
}

TEST_F(FrameGrabTool, StillsBeyondTheEndAreNamedAndTheExitStatusSaysSo) {
  const ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--at", "1", "-o", Path("main.jpg"), "--snapshot",
                                 "30:" + Path("late.jpg"), "-q"},
                                dir_);
  EXPECT_EQ(r.status, 4);
  EXPECT_NE(r.err.find("late.jpg"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("beyond the end"), std::string::npos) << r.err;
  EXPECT_EQ(IndexOf(Path("main.jpg")), 25) << "the reachable still is still written";
  EXPECT_FALSE(FileExists(Path("late.jpg")));
}

TEST_F(FrameGrabTool, BadInputsAndArgumentsGiveClearMessagesAndDistinctStatuses) {
  ToolResult r = RunFrameGrab({Path("missing.mp4"), "-o", Path("x.jpg")}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot read input"), std::string::npos) << r.err;

  {
    std::ofstream(Path("notes.mp4")) << "these are not video frames\n";
  }
  r = RunFrameGrab({Path("notes.mp4"), "-o", Path("x.jpg")}, dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot decode"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(Path("x.jpg")));

  // A pipe as input would block the decoder until a writer came; a device
  // would never end. Both are refused at once (the time limit fails a hang).
  ASSERT_EQ(mkfifo(Path("fifo.mp4").c_str(), 0600), 0);
  for (const std::string& input : {Path("fifo.mp4"), std::string("/dev/zero")}) {
    r = RunFrameGrab({input, "-o", Path("x.jpg")}, dir_);
    EXPECT_EQ(r.status, 1) << input << ": " << r.err;
    EXPECT_NE(r.err.find("\"" + input + "\" is "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
  }

  r = RunFrameGrab({"--at", "later"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;

  r = RunFrameGrab({"--help"}, dir_);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--snapshot"), std::string::npos);
  r = RunFrameGrab({"--version"}, dir_);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("framegrab ", 0), 0u) << r.out;
}

// Outputs that would block, vanish or destroy data are refused before
// anything is decoded, with the file named; nothing is written.
TEST_F(FrameGrabTool, OutputsThatCannotHoldAStillAreRefusedUpFront) {
  const std::string video = Path("v.mp4");
  {
    std::ofstream(video, std::ios::binary) << ReadAll(Clip("clip.mp4"));
  }
  const std::string original = ReadAll(video);
  ASSERT_EQ(mkfifo(Path("fifo.jpg").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(Path("folder.jpg").c_str(), 0700), 0);
  ASSERT_EQ(symlink("v.mp4", Path("link.mp4").c_str()), 0);
  ASSERT_EQ(symlink("/dev/full", Path("full.jpg").c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::string named;  // the file the message must name
  };
  const std::vector<Case> refused = {
      {{"-o", "/dev/full"}, "\"/dev/full\" is a device"},
      {{"-o", "full.jpg"}, "\"full.jpg\" is a device"},  // a link to one
      {{"--snapshot", "1:fifo.jpg"}, "\"fifo.jpg\" is a named pipe"},
      {{"-o", "folder.jpg"}, "\"folder.jpg\" is a folder"},
      {{"-o", "v.mp4"}, "\"v.mp4\" is the input video"},
      {{"--snapshot", "1:link.mp4"}, "\"link.mp4\" is the input video"},
  };
  for (const Case& c : refused) {
    std::vector<std::string> args = {"v.mp4", "-q", "--snapshot", "0.5:" + Path("ok.jpg")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ToolResult r = RunFrameGrab(args, dir_);
    EXPECT_EQ(r.status, 2) << c.named << ": " << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(Path("ok.jpg"))) << c.named << ": checked before anything runs";
  }
  EXPECT_EQ(ReadAll(video), original) << "the video is untouched";
  struct stat st {};
  ASSERT_EQ(lstat(Path("link.mp4").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  // A missing folder keeps its own status.
  const ToolResult r =
      RunFrameGrab({"v.mp4", "-o", Path("a.jpg"), "--snapshot", "1:" + Path("no/b.jpg")}, dir_);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("folder \"" + Path("no") + "\" does not exist"), std::string::npos)
      << r.err;
  EXPECT_FALSE(FileExists(Path("a.jpg"))) << "checked before anything runs";
}

// Two stills that reach one file, however the names are spelt, would
// overwrite each other; the run is refused, also when the file does not
// exist yet.
TEST_F(FrameGrabTool, StillsNamingOneFileTwiceAreRefusedHoweverSpelt) {
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink("a.jpg", Path("link.jpg").c_str()), 0);     // dangling until a.jpg exists
  ASSERT_EQ(symlink(".", Path("here").c_str()), 0);            // a linked folder
  for (const std::string& other :
       {std::string("a.jpg"), std::string("./a.jpg"), std::string("sub/../a.jpg"),
        std::string("link.jpg"), std::string("here/a.jpg"), Path("a.jpg")}) {
    const ToolResult r =
        RunFrameGrab({Clip("clip.mp4"), "-q", "-o", "a.jpg", "--snapshot", "2:" + other}, dir_);
    EXPECT_EQ(r.status, 2) << other << ": " << r.err;
    EXPECT_NE(r.err.find("\"" + other + "\""), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(Path("a.jpg"))) << other;
  }
  // Different files in the same spellings are fine.
  const ToolResult r = RunFrameGrab(
      {Clip("clip.mp4"), "-q", "-o", "a.jpg", "--snapshot", "2:sub/a.jpg"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(IndexOf(Path("a.jpg")), 0);
  EXPECT_EQ(IndexOf(Path("sub/a.jpg")), 50);
}

// A still that fails to be written is named with its reason; decoding goes
// on, the other stills are written, and the run ends with status 3.
TEST_F(FrameGrabTool, AStillThatCannotBeWrittenIsNamedAndTheOthersAreWritten) {
  // An enhanced still of these frames makes a larger file than a plain one,
  // so a file-size limit between the two fails only the enhanced one.
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "-q", "--at", "2", "-o", "big.jpg", "--enhance",
                               "--snapshot", "1:small.jpg", "--snapshot", "3:late.jpg"},
                              dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const long long big = static_cast<long long>(ReadAll(Path("big.jpg")).size());
  const long long small = static_cast<long long>(
      std::max(ReadAll(Path("small.jpg")).size(), ReadAll(Path("late.jpg")).size()));
  ASSERT_GT(big, small) << "needs an enhanced still larger than the plain ones";
  for (const char* name : {"big.jpg", "small.jpg", "late.jpg"}) std::remove(Path(name).c_str());

  r = RunFrameGrab({Clip("clip.mp4"), "-q", "--at", "2", "-o", "big.jpg", "--enhance",
                    "--snapshot", "1:small.jpg", "--snapshot", "3:late.jpg"},
                   dir_, (big + small) / 2);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_NE(r.err.find("\"big.jpg\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("File too large"), std::string::npos) << "the system's reason: " << r.err;
  EXPECT_EQ(r.out.find("big.jpg"), std::string::npos) << "not reported as written: " << r.out;
  EXPECT_FALSE(FileExists(Path("big.jpg")));
  EXPECT_EQ(IndexOf(Path("small.jpg")), 25);
  EXPECT_EQ(IndexOf(Path("late.jpg")), 75) << "decoding went on after the failure";
  // No temporary is left behind.
  GDir* dir = g_dir_open(dir_.c_str(), 0, nullptr);
  ASSERT_NE(dir, nullptr);
  int files = 0;
  while (g_dir_read_name(dir) != nullptr) ++files;
  g_dir_close(dir);
  EXPECT_EQ(files, 2);
}

// Frame sizes are checked on the decoded caps, before any still.
TEST_F(FrameGrabTool, FramesAboveThePixelLimitAreRefused) {
  ToolResult r = RunFrameGrab(
      {Clip("clip.mp4"), "-q", "-o", Path("a.jpg"), "--max-pixels", std::to_string(kW * kH - 1)},
      dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("160 x 120 pixels"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--max-pixels"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(Path("a.jpg")));
  r = RunFrameGrab(
      {Clip("clip.mp4"), "-q", "-o", Path("a.jpg"), "--max-pixels", std::to_string(kW * kH)},
      dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(IndexOf(Path("a.jpg")), 0);
}

// Phones store rotation in the track matrix; the still must come out the
// way players show the video.
TEST_F(FrameGrabTool, RotatedVideosComeOutUpright) {
  std::string mp4 = ReadAll(Clip("clip.mp4"));
  const size_t tkhd = mp4.find("tkhd");
  ASSERT_NE(tkhd, std::string::npos);
  ASSERT_EQ(mp4[tkhd + 4], 0) << "version 0 track header";
  // Matrix {0, 1, 0; -1, 0, 0; 0, 0, 1} in 16.16 / 2.30: a quarter turn.
  const int32_t matrix[9] = {0, 0x10000, 0, -0x10000, 0, 0, 0, 0, 0x40000000};
  for (int k = 0; k < 9; ++k)
    for (int byte = 0; byte < 4; ++byte)
      mp4[tkhd - 4 + 48 + 4 * k + byte] = static_cast<char>((static_cast<uint32_t>(matrix[k]) >> (24 - 8 * byte)) & 0xFF);
  {
    std::ofstream(Path("rotated.mp4"), std::ios::binary) << mp4;
  }
  const ToolResult r = RunFrameGrab({Path("rotated.mp4"), "--at", "1", "-o", Path("r.jpg"), "-q"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  int w = 0, h = 0;
  IndexOf(Path("r.jpg"), &w, &h);
  EXPECT_EQ(w, kH);
  EXPECT_EQ(h, kW);
}

TEST_F(FrameGrabTool, WithoutArgumentsItGrabsFromTheBundledSampleIntoTheCurrentFolder) {
  const ToolResult r = RunFrameGrab({}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  Jpeg jpeg;
  ASSERT_TRUE(ReadJpeg(Path("still.jpg"), &jpeg));
  EXPECT_EQ(jpeg.width, 640);
  EXPECT_EQ(jpeg.height, 480);
  // The sample is a face photograph, not a flat or black frame.
  const double mean = jpeg.Mean(0, 0, 640, 480, 0);
  EXPECT_GT(mean, 60.0);
  EXPECT_LT(mean, 220.0);
}

}  // namespace
