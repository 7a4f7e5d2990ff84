// framegrab end to end, on clips made at test time whose frames carry their
// own index (see GstTestSupport.h), so every still can be checked for the
// exact frame it holds.
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host/ImageMetadata.h"
#include "host/PngFile.h"
#include "tests/gst/GstTestSupport.h"
#include "tests/tools/FrameGrabClips.h"
#include "tests/tools/ToolProcess.h"

namespace {

using namespace kelvo::test;

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
  RunToEnd(launch);
}

class FrameGrabTool : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    suiteStart_ = time(nullptr);
    InitGstForTests();
    clips_ = MakeTempFolder();
    // H.264 with two-second key-frame intervals, so an accurate seek has to
    // decode from an earlier key frame (once with B frames no frame refers
    // to, which need not be decoded); MJPEG in AVI; and MJPEG in QuickTime, which
    // the demuxer reads directly as it does H.264 but which goes to a
    // decoder found for it.
    MakeClip(clips_ + "/clip.mp4", "x264enc key-int-max=50 ! mp4mux");
    MakeClip(clips_ + "/bframes.mp4", "x264enc key-int-max=50 bframes=2 b-pyramid=false ! mp4mux");
    MakeClip(clips_ + "/clip.avi", "jpegenc quality=95 ! avimux");
    MakeClip(clips_ + "/mjpeg.mov", "jpegenc quality=95 ! qtmux");
  }
  static void TearDownTestSuite() { RemoveTree(clips_); }
  void SetUp() override { dir_ = MakeTempFolder(); }
  void TearDown() override { RemoveTree(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::string Clip(const std::string& name) { return clips_ + "/" + name; }

  static std::string clips_;
  static time_t suiteStart_;
  std::string dir_;
};
std::string FrameGrabTool::clips_;
time_t FrameGrabTool::suiteStart_ = 0;

TEST_F(FrameGrabTool, WritesEveryStillFromTheRightFrameInTimeOrder) {
  for (const char* clip : {"clip.mp4", "clip.avi", "mjpeg.mov"}) {
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

// framegrab seeks to the key frame before each still and leaves out frames
// it cannot need; the element playing the whole clip from the start must
// write the very same picture.
TEST_F(FrameGrabTool, SeekingGivesTheSameStillAsPlayingFromTheStart) {
  for (const char* clip : {"clip.mp4", "bframes.mp4"}) {
    for (double at : {3.3, 5.04, 6.9}) {
      SCOPED_TRACE(std::string(clip) + " at " + std::to_string(at));
      const std::string seeked = Path("seeked.jpg");
      const std::string played = Path("played.jpg");
      const ToolResult r =
          RunFrameGrab({Clip(clip), "--at", std::to_string(at), "-o", seeked, "--quiet"}, dir_);
      ASSERT_EQ(r.status, 0) << r.err;
      GrabFromStart(Clip(clip), at, played);
      // The pixels, not the files: framegrab's stills carry their origin.
      Jpeg a, b;
      ASSERT_TRUE(ReadJpeg(seeked, &a));
      ASSERT_TRUE(ReadJpeg(played, &b));
      EXPECT_TRUE(a.rgb == b.rgb) << "different frames for --at " << at;
      EXPECT_GE(IndexOf(seeked), 0);
    }
  }
}

TEST_F(FrameGrabTool, BadInputsAndArgumentsGiveClearMessagesAndDistinctStatuses) {
  RunToEnd("audiotestsrc num-buffers=20 ! wavenc ! filesink location=" + Path("tone.wav"));
  RunToEnd("audiotestsrc num-buffers=20 ! avenc_aac ! mp4mux ! filesink location=" + Path("tone.mp4"));
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

  // A file with sound only says so, not that a plug-in is missing, also
  // when the interval's end has to be read from the file first.
  for (const std::string& tone : {Path("tone.wav"), Path("tone.mp4")}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{tone, "-o", Path("x.jpg")},
          std::vector<std::string>{tone, "--every", "1", "-o", Path("e%d.jpg")}}) {
      r = RunFrameGrab(args, dir_);
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find("no video stream in \"" + tone + "\""), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find("plug-in"), std::string::npos) << r.err;
    }
  }

  r = RunFrameGrab({"--at", "later"}, dir_);
  EXPECT_EQ(r.status, 2);
  // The error, the synopsis and a pointer to --help; not the whole help,
  // which would scroll the error away.
  EXPECT_NE(r.err.find("framegrab: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'framegrab --help'"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Exit status"), std::string::npos) << r.err;
  // Beyond what the pipeline clock holds in nanoseconds: refused, not sent.
  r = RunFrameGrab({Clip("clip.mp4"), "--at", "1e10", "-o", Path("x.jpg")}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\"1e10\" lies beyond the latest time"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("CRITICAL"), std::string::npos) << r.err;
  // Names the filter cannot hold are refused before anything is decoded.
  const std::string longName(256, 'n');
  const std::string notUtf8 = "caf\xe9.jpg";
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"-o", longName}, "256 UTF-16 units; at most 255 for the main still"},
           {{"--snapshot", "1:" + std::string(260, 'n')}, "at most 259 for a --snapshot"},
           {{"--snapshot", "1:" + notUtf8}, "is not valid UTF-8"}}) {
    std::vector<std::string> all = {Clip("clip.mp4"), "--snapshot", "0.5:" + Path("ok.jpg")};
    all.insert(all.end(), args.begin(), args.end());
    r = RunFrameGrab(all, dir_);
    EXPECT_EQ(r.status, 2) << says;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(Path("ok.jpg")));
  }

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
    std::vector<std::string> args = {"v.mp4", "--quiet", "--snapshot", "0.5:" + Path("ok.jpg")};
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
        RunFrameGrab({Clip("clip.mp4"), "--quiet", "-o", "a.jpg", "--snapshot", "2:" + other}, dir_);
    EXPECT_EQ(r.status, 2) << other << ": " << r.err;
    EXPECT_NE(r.err.find("\"" + other + "\""), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(Path("a.jpg"))) << other;
  }
  // Different files in the same spellings are fine.
  const ToolResult r = RunFrameGrab(
      {Clip("clip.mp4"), "--quiet", "-o", "a.jpg", "--snapshot", "2:sub/a.jpg"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(IndexOf(Path("a.jpg")), 0);
  EXPECT_EQ(IndexOf(Path("sub/a.jpg")), 50);
}

// A still that fails to be written is named with its reason; decoding goes
// on, the other stills are written, and the run ends with status 3.
TEST_F(FrameGrabTool, AStillThatCannotBeWrittenIsNamedAndTheOthersAreWritten) {
  // An enhanced still of these frames makes a larger file than a plain one,
  // so a file-size limit between the two fails only the enhanced one.
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--at", "2", "-o", "big.jpg", "--enhance",
                               "--snapshot", "1:small.jpg", "--snapshot", "3:late.jpg"},
                              dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const long long big = static_cast<long long>(ReadAll(Path("big.jpg")).size());
  const long long small = static_cast<long long>(
      std::max(ReadAll(Path("small.jpg")).size(), ReadAll(Path("late.jpg")).size()));
  ASSERT_GT(big, small) << "needs an enhanced still larger than the plain ones";
  for (const char* name : {"big.jpg", "small.jpg", "late.jpg"}) std::remove(Path(name).c_str());

  r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--at", "2", "-o", "big.jpg", "--enhance",
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
      {Clip("clip.mp4"), "--quiet", "-o", Path("a.jpg"), "--max-pixels", std::to_string(kW * kH - 1)},
      dir_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("160 x 120 pixels"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--max-pixels"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(Path("a.jpg")));
  r = RunFrameGrab(
      {Clip("clip.mp4"), "--quiet", "-o", Path("a.jpg"), "--max-pixels", std::to_string(kW * kH)},
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
  const ToolResult r = RunFrameGrab({Path("rotated.mp4"), "--at", "1", "-o", Path("r.jpg"), "--quiet"}, dir_);
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

// The documented rule for a request at T, written out here from its text:
// the first frame starting in the open interval (T - 0.005, T - 0.005 +
// 2 * halfFrame); when none does, the frame on screen at T, the last one
// starting at or before T (the first frame for a T before it). `slack`
// widens (> 0) or narrows (< 0) the interval, to find requests that sit on
// an edge to within rounding.
struct Expected {
  int frame = -1;
  bool onScreen = false;
  bool operator==(const Expected& o) const { return frame == o.frame && onScreen == o.onScreen; }
};

Expected RuleFor(double T, const std::vector<double>& starts, double halfFrame, double slack) {
  const double from = T - 0.005 - slack, to = T - 0.005 + 2 * halfFrame + slack;
  for (size_t i = 0; i < starts.size(); ++i)
    if (from < starts[i] && starts[i] < to) return {static_cast<int>(i), false};
  Expected e{0, true};
  for (size_t i = 0; i < starts.size(); ++i)
    if (starts[i] <= T) e.frame = static_cast<int>(i);
  return e;
}

// The filter's half frame period: from the rate rounded to whole frames per
// second, rounded to 10 us.
double HalfFrame(int fpsN, int fpsD) {
  const double whole = std::round(static_cast<double>(fpsN) / fpsD);
  return std::round(1e5 / (2.0 * whole)) / 1e5;
}

// Output lines by file name.
std::map<std::string, std::string> LinesByFile(const std::string& out) {
  std::map<std::string, std::string> lines;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const size_t colon = line.find(": requested ");
    if (colon != std::string::npos) lines[line.substr(0, colon)] = line;
    at = end + 1;
  }
  return lines;
}

struct GridReport {
  int requested = 0;
  int written = 0;
  int onScreen = 0;
};

// Requests every time of `times` in one run and checks every still against
// the rule. Frame times are checked to the millisecond when `exactMs`.
GridReport CheckGrid(const std::string& clip, const std::string& dir,
                     const std::vector<double>& starts, double halfFrame,
                     const std::vector<double>& times, bool exactMs) {
  GridReport report;
  std::vector<std::string> args = {clip, "--quiet"};
  for (size_t k = 0; k < times.size(); ++k) {
    char arg[64];
    std::snprintf(arg, sizeof arg, "%.6f:r%zu.jpg", times[k], k);
    args.push_back("--snapshot");
    args.push_back(arg);
  }
  const ToolResult r = RunFrameGrab(args, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::map<std::string, std::string> lines = LinesByFile(r.out);
  for (size_t k = 0; k < times.size(); ++k) {
    const double T = times[k];
    char name[32];
    std::snprintf(name, sizeof name, "r%zu.jpg", k);
    ++report.requested;
    const Expected wide = RuleFor(T, starts, halfFrame, 1e-9);
    const Expected narrow = RuleFor(T, starts, halfFrame, -1e-9);
    const int index = IndexOf(dir + "/" + name);
    if (index >= 0) ++report.written;
    const auto line = lines.find(name);
    if (line == lines.end()) {
      ADD_FAILURE() << "no still for a request at " << T << " s";
      continue;
    }
    const bool onScreen = line->second.find("(frame on screen)") != std::string::npos;
    report.onScreen += onScreen;
    const Expected got{index, onScreen};
    // On an edge to within rounding, either side of it is the rule.
    EXPECT_TRUE(got == wide || got == narrow)
        << "request at " << T << " s: frame " << index << (onScreen ? " on screen" : "")
        << ", the rule names frame " << narrow.frame << (narrow.onScreen ? " on screen" : "");
    if (exactMs && index >= 0 && index < static_cast<int>(starts.size())) {
      char frameAt[32];
      std::snprintf(frameAt, sizeof frameAt, "frame at %.3f s", starts[static_cast<size_t>(index)]);
      EXPECT_NE(line->second.find(frameAt), std::string::npos) << line->second;
    }
  }
  return report;
}

// Request times: a 10 ms grid over the first second, and for every frame
// just inside and just outside both edges of the interval that takes it.
std::vector<double> RequestTimes(const std::vector<double>& starts, double halfFrame, double end) {
  std::vector<double> times;
  for (int k = 0; k <= 100; ++k) times.push_back(k / 100.0);
  for (const double t : starts)
    for (const double edge : {t + 0.005, t + 0.005 - 2 * halfFrame})
      for (const double d : {-1e-5, 1e-5})
        if (edge + d >= 0.0 && edge + d < end) times.push_back(edge + d);
  return times;
}

// Every request inside the video gets a still, and each is the frame the
// rule names, at rates whose frame period the rounded rate does not match
// and in a variable-rate file with gaps. Clips are raw video, so every
// frame decodes to its exact number.
TEST_F(FrameGrabTool, EveryRequestGetsTheFrameTheRuleNamesAtEveryRate) {
  struct Rate {
    int num, den;
  };
  for (const Rate rate : {Rate{25, 1}, Rate{30000, 1001}, Rate{24000, 1001}, Rate{60000, 1001}}) {
    SCOPED_TRACE(std::to_string(rate.num) + "/" + std::to_string(rate.den));
    ClipPlan plan;
    plan.fpsN = rate.num;
    plan.fpsD = rate.den;
    plan.frames = static_cast<int>(std::lround(1.2 * rate.num / rate.den));
    const std::string clip = Path("rate.avi");
    MakeClip(clip, "avimux", plan);
    std::vector<double> starts;
    for (int i = 0; i < plan.frames; ++i)
      starts.push_back(static_cast<double>(gst_util_uint64_scale(i, GST_SECOND * rate.den, rate.num)) /
                       GST_SECOND);
    const double end = static_cast<double>(gst_util_uint64_scale(plan.frames, GST_SECOND * rate.den,
                                                                 rate.num)) / GST_SECOND;
    const double halfFrame = HalfFrame(rate.num, rate.den);
    const GridReport g = CheckGrid(clip, dir_, starts, halfFrame,
                                   RequestTimes(starts, halfFrame, end), false);
    std::printf("[ grid     ] %.3f fps: %d requested, %d written (%d by the frame on screen)\n",
                static_cast<double>(rate.num) / rate.den, g.requested, g.written, g.onScreen);
    EXPECT_EQ(g.written, g.requested);
    RemoveTree(dir_);
    dir_ = MakeTempFolder();
  }

  // Variable rate: whole milliseconds (Matroska's time unit) with gaps and
  // frames closer than the nominal 40 ms.
  ClipPlan vfr;
  for (const int ms : {0, 40, 80, 200, 240, 250, 260, 300, 420, 460, 500, 620, 625, 660, 700, 740,
                       900, 940, 980, 1020, 1060, 1100})
    vfr.pts.push_back(static_cast<GstClockTime>(ms) * GST_MSECOND);
  const std::string clip = Path("vfr.mkv");
  MakeClip(clip, "matroskamux", vfr);
  std::vector<double> starts;
  for (const GstClockTime t : vfr.pts) starts.push_back(static_cast<double>(t) / GST_SECOND);
  const double halfFrame = HalfFrame(kFps, 1);
  const GridReport g =
      CheckGrid(clip, dir_, starts, halfFrame, RequestTimes(starts, halfFrame, 1.14), true);
  std::printf("[ grid     ] variable rate: %d requested, %d written (%d by the frame on screen)\n",
              g.requested, g.written, g.onScreen);
  EXPECT_EQ(g.written, g.requested);
  EXPECT_GT(g.onScreen, 10) << "the gaps are served by the frame on screen";
}

// The main still in the last half frame, where its own rule finds no frame,
// gets the last frame; only times after the last frame's end are beyond it.
TEST_F(FrameGrabTool, OnlyTimesAfterTheLastFrameAreBeyondTheEnd) {
  ClipPlan plan;
  plan.frames = 10;  // frames at 0 .. 0.36 s, the last ending at 0.4 s
  MakeClip(Path("short.avi"), "avimux", plan);
  const ToolResult r = RunFrameGrab({"short.avi", "--quiet", "--at", "0.39", "-o", "main.jpg",
                                     "--snapshot", "0.399:last.jpg", "--snapshot", "0.4:late.jpg"},
                                    dir_);
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_EQ(IndexOf(Path("main.jpg")), 9);
  EXPECT_EQ(IndexOf(Path("last.jpg")), 9);
  EXPECT_NE(r.out.find("main.jpg: requested 0.390 s, frame at 0.360 s (frame on screen)"),
            std::string::npos) << r.out;
  EXPECT_NE(r.err.find("beyond the end of \"short.avi\" (its last frame ends at 0.400 s)"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"late.jpg\" (at 0.400 s)"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("last.jpg"), std::string::npos) << r.err;
}

// Any frame size: odd sides, 2 x 2, sizes the enhancement does not take
// itself. The still has exactly the video's size, plain or enhanced.
TEST_F(FrameGrabTool, StillsOfAnySizeComeOutAtTheVideosSizeEnhancedOrNot) {
  struct Size {
    int width, height;
  };
  for (const Size size : {Size{854, 480}, Size{641, 481}, Size{2, 2}, Size{64, 64}}) {
    const std::string name = std::to_string(size.width) + "x" + std::to_string(size.height);
    SCOPED_TRACE(name);
    ClipPlan plan;
    plan.width = size.width;
    plan.height = size.height;
    plan.frames = 6;
    MakeClip(Path(name + ".mkv"), "matroskamux", plan);
    const ToolResult r = RunFrameGrab(
        {name + ".mkv", "--quiet", "--snapshot", "0.1:plain.jpg", "--snapshot", "0.16:enhanced.jpg:enhance"},
        dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("enhanced.jpg: requested 0.160 s, frame at 0.160 s (enhanced)"),
              std::string::npos) << r.out;
    for (const char* still : {"plain.jpg", "enhanced.jpg"}) {
      int width = 0, height = 0;
      const int index = IndexOf(Path(still), &width, &height);
      EXPECT_EQ(width, size.width) << still;
      EXPECT_EQ(height, size.height) << still;
      // The frame's number survives in the plain still of a frame large
      // enough to show it.
      if (size.width >= 8 && std::string(still) == "plain.jpg") {
        EXPECT_EQ(index, 3);
      }
    }
  }
}

// A damaged H.264 stream: what the decoder reports decides the outcome.
// It either fails (status 1, its message given) or delivers frames after
// lost data; stills of those are marked and the status is 5. Every warning
// is shown once.
TEST_F(FrameGrabTool, StillsFromADamagedStreamAreMarkedAndWarningsShownOnce) {
  std::string mp4 = ReadAll(Clip("clip.mp4"));
  const size_t mdat = mp4.find("mdat");
  ASSERT_NE(mdat, std::string::npos);
  // Bytes in the middle of the second key-frame interval overwritten.
  const size_t from = mdat + (mp4.size() - mdat) * 2 / 7;
  for (size_t k = from; k < from + 3000 && k < mp4.size(); k += 7) mp4[k] = static_cast<char>(k * 37);
  {
    std::ofstream(Path("damaged.mp4"), std::ios::binary) << mp4;
  }
  std::vector<std::string> args = {"damaged.mp4", "--quiet"};
  for (int i = 25; i < 125; ++i) {
    args.push_back("--snapshot");
    args.push_back(std::to_string(i * 0.04) + ":d" + std::to_string(i) + ".jpg");
  }
  const ToolResult r = RunFrameGrab(args, dir_);
  ASSERT_NE(r.status, -1) << "ended by signal " << r.signal;
  // No line of standard error is repeated.
  std::vector<std::string> errLines;
  for (size_t at = 0; at < r.err.size();) {
    const size_t end = std::min(r.err.find('\n', at), r.err.size());
    errLines.push_back(r.err.substr(at, end - at));
    at = end + 1;
  }
  std::sort(errLines.begin(), errLines.end());
  EXPECT_EQ(std::adjacent_find(errLines.begin(), errLines.end()), errLines.end()) << r.err;
  size_t markedCount = 0;
  for (size_t at = r.out.find("(damaged stream)"); at != std::string::npos;
       at = r.out.find("(damaged stream)", at + 1))
    ++markedCount;
  std::printf("[ damaged  ] status %d, %zu of 100 stills marked damaged\n", r.status, markedCount);
  if (r.status == 1) {
    EXPECT_NE(r.err.find("cannot decode \"damaged.mp4\""), std::string::npos) << r.err;
    return;
  }
  const size_t marked = r.out.find("(damaged stream)");
  EXPECT_EQ(r.status, marked == std::string::npos ? 0 : 5) << r.out << r.err;
  EXPECT_NE(marked, std::string::npos) << "the decoder reported no damage: " << r.err;
  if (marked != std::string::npos) {
    EXPECT_NE(r.err.find("the decoder lost data in \"damaged.mp4\""), std::string::npos) << r.err;
  }
  EXPECT_EQ(LinesByFile(r.out).size(), 100u) << "every still written: " << r.err;
}

// --- The forms added for intervals, formats, sizes, frame numbers, the
// sharpest frame, JSON and several inputs.

// A raw value of `key` in a one-line JSON object from framegrab (strings with
// their quotes and escapes), empty when the key is missing.
std::string JsonField(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return {};
  size_t i = at + tag.size(), end = i;
  if (line[i] == '"') {
    for (end = i + 1; end < line.size() && line[end] != '"'; ++end)
      if (line[end] == '\\') ++end;
    return line.substr(i, end + 1 - i);
  }
  while (end < line.size() && line[end] != ',' && line[end] != '}') ++end;
  return line.substr(i, end - i);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

// A still in any of the formats, as the JPEG reader gives it (red, green,
// blue), so DecodeFrameIndex reads it. 24-bit BMP rows are bottom-up unless
// the height is negative, padded to 4 bytes.
bool ReadPicture(const std::string& path, Jpeg* out) {
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0) {
    kelvo::host::BgrImage image;
    kelvo::host::ImageMetadata metadata;
    if (!kelvo::host::ReadPng(path, &image, &metadata).empty()) return false;
    out->width = image.width;
    out->height = image.height;
    out->rgb = image.pixels;
  } else if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
    const std::string bmp = ReadWholeFile(path);
    auto u32 = [&](size_t at) {
      return static_cast<uint32_t>(static_cast<uint8_t>(bmp[at])) |
             static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 1])) << 8 |
             static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 2])) << 16 |
             static_cast<uint32_t>(static_cast<uint8_t>(bmp[at + 3])) << 24;
    };
    if (bmp.size() < 54 || bmp.compare(0, 2, "BM") != 0 || bmp[28] != 24) return false;
    const int width = static_cast<int>(u32(18));
    const int rawHeight = static_cast<int>(u32(22));
    const int height = std::abs(rawHeight);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    const size_t offset = u32(10);
    if (width <= 0 || bmp.size() < offset + stride * static_cast<size_t>(height)) return false;
    out->width = width;
    out->height = height;
    out->rgb.resize(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
      const size_t row = offset + stride * static_cast<size_t>(rawHeight < 0 ? y : height - 1 - y);
      std::memcpy(&out->rgb[static_cast<size_t>(y) * width * 3], &bmp[row], static_cast<size_t>(width) * 3);
    }
  } else {
    return ReadJpeg(path, out);
  }
  // BGR to RGB.
  for (size_t i = 0; i + 2 < out->rgb.size(); i += 3) std::swap(out->rgb[i], out->rgb[i + 2]);
  return true;
}

// The first EXIF date ("YYYY:MM:DD HH:MM:SS", UTC) in a file, 0 when none.
time_t DateIn(const std::string& file) {
  for (size_t i = 0; i + 19 <= file.size(); ++i) {
    int y, mo, d, h, mi, sec;
    char tail;
    const std::string text = file.substr(i, 19);
    if (text[4] != ':' || text[7] != ':' || text[10] != ' ' ||
        std::sscanf(text.c_str(), "%4d:%2d:%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &sec, &tail) != 6)
      continue;
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = sec;
    return timegm(&t);
  }
  return 0;
}

int IndexOfPicture(const std::string& path, int* width, int* height) {
  Jpeg picture;
  if (!ReadPicture(path, &picture)) return -2;
  *width = picture.width;
  *height = picture.height;
  return DecodeFrameIndex(picture);
}

// Frames of a fine checkerboard, or the same smeared to flat grey: what a
// sharp and a motion-blurred frame of one scene look like to the measure.
void MakeBlurClip(const std::string& path, const std::vector<bool>& blurred) {
  constexpr int w = 64, h = 48;
  const std::string launch = "appsrc name=src format=time caps=video/x-raw,format=GRAY8,width=64,"
                             "height=48,framerate=25/1 ! videoconvert ! jpegenc quality=95 ! "
                             "avimux ! filesink location=" + path;
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  ASSERT_NE(pipeline, nullptr) << (err ? err->message : "");
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  for (size_t i = 0; i < blurred.size(); ++i) {
    std::vector<uint8_t> frame(w * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        frame[static_cast<size_t>(y * w + x)] = blurred[i] ? 128 : ((x / 4 + y / 4) % 2 ? 220 : 36);
    GstBuffer* buf = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buf) = gst_util_uint64_scale(i, GST_SECOND, 25);
    GST_BUFFER_DURATION(buf) = GST_SECOND / 25;
    GstFlowReturn ret;
    g_signal_emit_by_name(src, "push-buffer", buf, &ret);
    gst_buffer_unref(buf);
    ASSERT_EQ(ret, GST_FLOW_OK);
  }
  GstFlowReturn ret;
  g_signal_emit_by_name(src, "end-of-stream", &ret);
  gst_object_unref(src);
  FinishPipeline(pipeline);
}

TEST_F(FrameGrabTool, IntervalsTakeEveryStepWithBothBoundsNamedByIndexAndTime) {
  // 1 to 3 s every 0.5 s: five stills, both bounds included, into folders
  // that do not exist yet.
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--every", "0.5", "--from", "1", "--to",
                               "0:03", "-o", "sub/deeper/s-%04d-%t.jpg"},
                              dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  const double times[] = {1.0, 1.5, 2.0, 2.5, 3.0};
  for (int i = 0; i < 5; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "sub/deeper/s-%04d-%.3f.jpg", i + 1, times[i]);
    // The first frame starting after T - 5 ms.
    EXPECT_EQ(IndexOf(Path(name)), static_cast<int>(std::ceil((times[i] - 0.005) * kFps))) << name;
  }
  EXPECT_FALSE(FileExists(Path("sub/deeper/s-0006-3.500.jpg")));
  EXPECT_EQ(Lines(r.out).size(), 5u) << r.out;

  // Without --to: to the end of the clip (7 s, which is no frame's start).
  r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--every", "2", "--from", "3", "-o", "e/%d.jpg"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(IndexOf(Path("e/1.jpg")), 75);
  EXPECT_EQ(IndexOf(Path("e/2.jpg")), 125);
  EXPECT_FALSE(FileExists(Path("e/3.jpg"))) << r.out;
  // A start past the end is said to be, not silently skipped.
  r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--every", "2", "--from", "8", "-o", "e/%d.jpg"}, dir_);
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_NE(r.err.find("\"e/1.jpg\" (at 8.000 s) was not written: beyond the end"), std::string::npos) << r.err;

  // A file where a folder of the pattern should be; a pattern that names
  // every still alike.
  { std::ofstream(Path("blocker")) << "x"; }
  r = RunFrameGrab({Clip("clip.mp4"), "--every", "1", "-o", "blocker/x-%d.jpg"}, dir_);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("\"blocker\" exists and is not a folder"), std::string::npos) << r.err;
  r = RunFrameGrab({Clip("clip.mp4"), "--every", "1", "-o", "same.jpg"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("put %04d or %t in it"), std::string::npos) << r.err;
  EXPECT_EQ(ReadAll(Path("blocker")), "x");
}

TEST_F(FrameGrabTool, FormatsFollowTheExtensionAtTheSizeAsked) {
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--at", "3", "-o", "c.jpg", "--snapshot",
                               "1=a.png", "--snapshot", "2=b.BMP", "--width", "80"},
                              dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  std::rename(Path("b.BMP").c_str(), Path("b.bmp").c_str());
  for (const auto& [name, index] : std::vector<std::pair<std::string, int>>{
           {"a.png", 25}, {"b.bmp", 50}, {"c.jpg", 75}}) {
    int w = 0, h = 0;
    EXPECT_EQ(IndexOfPicture(Path(name), &w, &h), index) << name;
    EXPECT_EQ(w, 80) << name;
    EXPECT_EQ(h, 60) << name << ": the aspect ratio kept";
  }
  // The stills say where they come from, and when: the MP4 muxer recorded
  // the clip's creation when the suite made it, and the still's date is
  // that plus the frame's time. An AVI file records no date.
  EXPECT_NE(ReadAll(Path("c.jpg")).find("clip.mp4"), std::string::npos);
  EXPECT_NE(ReadAll(Path("a.png")).find("clip.mp4"), std::string::npos);
  const time_t taken = DateIn(ReadAll(Path("c.jpg")));
  EXPECT_GE(taken, suiteStart_ + 3) << "created no earlier than the suite, frame at 3 s";
  EXPECT_LE(taken, time(nullptr) + 3);
  ASSERT_EQ(RunFrameGrab({Clip("clip.avi"), "--quiet", "--at", "3", "-o", "avi.jpg"}, dir_).status, 0);
  EXPECT_EQ(DateIn(ReadAll(Path("avi.jpg"))), 0);

  // Both sides: exactly that size. JPEG quality changes the file.
  r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--at", "1", "-o", "s.png", "--scale", "40x90"}, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  int w = 0, h = 0;
  EXPECT_EQ(IndexOfPicture(Path("s.png"), &w, &h), 25);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 90);
  MakeBlurClip(Path("board.avi"), std::vector<bool>(5, false));
  ASSERT_EQ(RunFrameGrab({"board.avi", "--quiet", "-o", "q5.jpg", "-q", "5"}, dir_).status, 0);
  ASSERT_EQ(RunFrameGrab({"board.avi", "--quiet", "-o", "q100.jpg", "-q", "100"}, dir_).status, 0);
  EXPECT_LT(ReadAll(Path("q5.jpg")).size() * 2, ReadAll(Path("q100.jpg")).size());

  r = RunFrameGrab({Clip("clip.mp4"), "-o", "x.gif"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(".gif"), std::string::npos) << r.err;
  EXPECT_FALSE(FileExists(Path("x.gif")));
}

TEST_F(FrameGrabTool, TimesInEveryFormNameTheirFrame) {
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--at", "0:02", "-o", "m.jpg", "--snapshot",
                               "00:00:01.000=a.jpg", "--snapshot", "75f=b.jpg", "--snapshot",
                               "100f:c.jpg:enhance"},
                              dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(IndexOf(Path("m.jpg")), 50);
  EXPECT_EQ(IndexOf(Path("a.jpg")), 25);
  EXPECT_EQ(IndexOf(Path("b.jpg")), 75);
  EXPECT_NE(r.out.find("c.jpg: requested 4.000 s, frame at 4.000 s (enhanced)"), std::string::npos) << r.out;

  // Without a declared rate frames are counted: frame 5 starts at 250 ms,
  // where 5 / 25 fps would say 200 ms (frame 3).
  ClipPlan vfr;
  vfr.fpsN = 0;
  for (const int ms : {0, 40, 80, 200, 240, 250, 260, 300, 420, 460})
    vfr.pts.push_back(static_cast<GstClockTime>(ms) * GST_MSECOND);
  MakeClip(Path("vfr.mkv"), "matroskamux", vfr);
  r = RunFrameGrab({"vfr.mkv", "--quiet", "--snapshot", "5f=five.jpg", "--snapshot", "10f=none.jpg"}, dir_);
  EXPECT_EQ(r.status, 4) << r.err;
  EXPECT_EQ(IndexOf(Path("five.jpg")), 5) << r.out << r.err;
  EXPECT_NE(r.err.find("\"none.jpg\" (at 0.000 s, frame 10) was not written: the video has 10 frames"),
            std::string::npos) << r.err;
}

TEST_F(FrameGrabTool, SharpestTakesTheUnblurredFrameNearEachTargetAndSaysWhich) {
  // Frames 17 to 21 and 23 blurred: around frame 20 only frame 22 is sharp.
  // Around frame 5 every frame is sharp and alike: the target itself.
  std::vector<bool> blurred(40, false);
  for (const int i : {17, 18, 19, 20, 21, 23}) blurred[static_cast<size_t>(i)] = true;
  MakeBlurClip(Path("blur.avi"), blurred);
  const std::vector<std::string> stills = {"blur.avi", "--quiet", "--json", "--snapshot", "0.8=a.jpg",
                                           "--snapshot", "5f=b.png"};
  ToolResult r = RunFrameGrab(stills, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(JsonField(lines[1], "frame"), "20") << "the plain grab hits the blurred frame";
  EXPECT_EQ(JsonField(lines[1], "sharpness"), "") << "no score unless asked";

  std::vector<std::string> sharpest = stills;
  sharpest.insert(sharpest.end(), {"--sharpest", "3"});
  r = RunFrameGrab(sharpest, dir_);
  ASSERT_EQ(r.status, 0) << r.err;
  lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(JsonField(lines[0], "file"), "\"b.png\"");
  EXPECT_EQ(JsonField(lines[0], "frame"), "5");
  EXPECT_EQ(JsonField(lines[1], "frame"), "22") << lines[1];
  EXPECT_EQ(JsonField(lines[1], "frame_time"), "0.880000");
  EXPECT_EQ(JsonField(lines[1], "requested"), "0.800000");
  EXPECT_GT(std::stod(JsonField(lines[1], "sharpness")), 1000.0) << lines[1];
  // The chosen frame is the one written.
  Jpeg a;
  ASSERT_TRUE(ReadJpeg(Path("a.jpg"), &a));
  EXPECT_GT(std::fabs(a.Mean(0, 0, 4, 4, 0) - a.Mean(4, 0, 4, 4, 0)), 100.0) << "a sharp checkerboard";

  // The human line names the frame and its score.
  sharpest.erase(sharpest.begin() + 2);  // --json
  r = RunFrameGrab(sharpest, dir_);
  EXPECT_NE(r.out.find("a.jpg: requested 0.800 s, frame at 0.880 s (sharpest: frame 22 at 0.880 s, sharpness "),
            std::string::npos) << r.out;
}

TEST_F(FrameGrabTool, JsonGivesOneObjectPerStillWithItsNameEscaped) {
  const std::string odd = "we\"ird\\name.jpg";
  const ToolResult r = RunFrameGrab({Clip("clip.mp4"), "--quiet", "--json", "--at", "1", "-o", odd,
                                     "--snapshot", "2=b.jpg:enhance", "--snapshot", "30=late.jpg"},
                                    dir_);
  EXPECT_EQ(r.status, 4) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
  }
  EXPECT_EQ(JsonField(lines[0], "file"), "\"we\\\"ird\\\\name.jpg\"");
  EXPECT_EQ(JsonField(lines[0], "kind"), "\"main\"");
  EXPECT_EQ(JsonField(lines[0], "written"), "true");
  EXPECT_EQ(JsonField(lines[0], "requested"), "1.000000");
  EXPECT_EQ(JsonField(lines[0], "frame_time"), "1.000000");
  EXPECT_EQ(JsonField(lines[0], "frame"), "25");
  EXPECT_EQ(JsonField(lines[0], "rule"), "\"interval\"");
  EXPECT_EQ(JsonField(lines[0], "enhanced"), "false");
  EXPECT_EQ(JsonField(lines[1], "kind"), "\"request\"");
  EXPECT_EQ(JsonField(lines[1], "enhanced"), "true");
  EXPECT_EQ(JsonField(lines[2], "written"), "false");
  EXPECT_NE(JsonField(lines[2], "error").find("beyond the end"), std::string::npos) << lines[2];
  EXPECT_EQ(IndexOf(Path(odd)), 25);
}

TEST_F(FrameGrabTool, SeveralInputsGoOnPastAFailureAndTheStatusIsTheWorst) {
  ASSERT_EQ(symlink(Clip("clip.avi").c_str(), Path("other.avi").c_str()), 0);
  ASSERT_EQ(mkdir(Path("out").c_str(), 0700), 0);
  ToolResult r = RunFrameGrab({Clip("clip.mp4"), "missing.mp4", "other.avi", "-j", "2", "--quiet",
                               "--at", "2", "-o", "out/{name}.png"},
                              dir_);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("missing.mp4"), std::string::npos) << r.err;
  int w = 0, h = 0;
  EXPECT_EQ(IndexOfPicture(Path("out/clip.png"), &w, &h), 50);
  EXPECT_EQ(IndexOfPicture(Path("out/other.png"), &w, &h), 50);

  // A folder as -o: one still per input, named after it; the folder made.
  r = RunFrameGrab({Clip("clip.mp4"), "other.avi", "--quiet", "--every", "3", "-o", "dir/"}, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"dir/clip-0001.jpg", "dir/clip-0003.jpg", "dir/other-0002.jpg"})
    EXPECT_TRUE(FileExists(Path(name))) << name;
  EXPECT_FALSE(FileExists(Path("dir/other-0004.jpg")));

  // Two inputs with one base name would write one file twice.
  r = RunFrameGrab({Clip("clip.mp4"), Clip("clip.avi"), "-o", "dir/"}, dir_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("one base name"), std::string::npos) << r.err;
}

}  // namespace
