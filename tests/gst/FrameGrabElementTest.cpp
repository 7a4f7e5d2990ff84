// The kelvoframegrab element, loaded as a plugin from the build tree through
// a private registry, in GstHarness and in real pipelines.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <glib/gstdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include "tests/gst/GstTestSupport.h"

namespace {

using namespace kelvo::test;

constexpr int kW = 64;
constexpr int kH = 48;

struct Still {
  std::string location;
  double requested = 0.0;
  guint64 streamTime = 0;
  guint64 runningTime = 0;
  bool main = false;
  bool failed = false;
  std::string reason;
  std::string rule;
};

Still StillOf(const GstStructure* s) {
  Still st;
  st.location = gst_structure_get_string(s, "location");
  gst_structure_get_double(s, "requested-time", &st.requested);
  gst_structure_get_uint64(s, "stream-time", &st.streamTime);
  gst_structure_get_uint64(s, "running-time", &st.runningTime);
  gboolean main = FALSE, failed = TRUE;
  gst_structure_get_boolean(s, "main", &main);
  gst_structure_get_boolean(s, "failed", &failed);
  st.main = main;
  st.failed = failed;
  const gchar* reason = gst_structure_get_string(s, "reason");
  st.reason = reason ? reason : "(no reason field)";
  const gchar* rule = gst_structure_get_string(s, "rule");
  st.rule = rule ? rule : "";
  return st;
}

// A warning or error message: domain, code and text.
struct Report {
  GQuark domain = 0;
  int code = 0;
  std::string text;
  std::string debug;
};

Report ReportOf(GstMessage* m) {
  GError* e = nullptr;
  gchar* debug = nullptr;
  if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR)
    gst_message_parse_error(m, &e, &debug);
  else
    gst_message_parse_warning(m, &e, &debug);
  Report r{e->domain, e->code, e->message, debug ? debug : ""};
  g_error_free(e);
  g_free(debug);
  return r;
}

// Ends the test program when a step hangs, so a regression fails the run
// instead of blocking it.
class Deadline {
 public:
  explicit Deadline(unsigned seconds) { alarm(seconds); }
  ~Deadline() { alarm(0); }
};

// A harness around one kelvoframegrab with its own bus, fed with numbered
// frames at a fixed rate.
class Grab {
 public:
  Grab() {
    element_ = gst_element_factory_make("kelvoframegrab", nullptr);
    EXPECT_NE(element_, nullptr);
    bus_ = gst_bus_new();
    gst_element_set_bus(element_, bus_);
  }
  ~Grab() {
    if (h_) gst_harness_teardown(h_);
    gst_object_unref(element_);
    gst_object_unref(bus_);
  }
  GstElement* element() { return element_; }

  void Start(int fpsN, int fpsD = 1, int width = kW, int height = kH) {
    h_ = gst_harness_new_with_element(element_, "sink", "src");
    fpsN_ = fpsN;
    fpsD_ = fpsD;
    width_ = width;
    height_ = height;
    const std::string caps = "video/x-raw,format=YUY2,width=" + std::to_string(width) +
                             ",height=" + std::to_string(height) + ",framerate=" +
                             std::to_string(fpsN) + "/" + std::to_string(fpsD);
    gst_harness_set_src_caps_str(h_, caps.c_str());
  }
  GstHarness* harness() { return h_; }
  // Ends the stream: the element passes EOS on only once the stills being
  // written are done, so every still message is on the bus by then.
  void EndStream() { EXPECT_TRUE(gst_harness_push_event(h_, gst_event_new_eos())); }

  GstClockTime FrameTime(int index) const {
    return gst_util_uint64_scale(static_cast<guint64>(index), GST_SECOND * fpsD_, fpsN_ > 0 ? fpsN_ : 25);
  }
  GstBuffer* MakeFrame(int index, GstClockTime offset = 0) const {
    const std::vector<uint8_t> frame = MakeYuy2Frame(width_, height_, index);
    GstBuffer* buf = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buf) = offset + FrameTime(index);
    GST_BUFFER_DURATION(buf) = FrameTime(index + 1) - FrameTime(index);
    return buf;
  }
  // Pushes frames [first, last] and drops what comes out.
  GstFlowReturn Push(int first, int last, GstClockTime offset = 0) {
    for (int i = first; i <= last; ++i) {
      const GstFlowReturn ret = gst_harness_push(h_, MakeFrame(i, offset));
      if (ret != GST_FLOW_OK) return ret;
      gst_buffer_unref(gst_harness_pull(h_));
    }
    return GST_FLOW_OK;
  }

  // What the element has posted so far, by kind. Each call hands its kind
  // over once.
  std::vector<Still> Stills() {
    Drain();
    return std::exchange(stills_, {});
  }
  std::vector<Report> Warnings() {
    Drain();
    return std::exchange(warnings_, {});
  }
  // Text of the first error, empty when there is none.
  std::string ErrorText(GQuark* domain = nullptr, int* code = nullptr) {
    Drain();
    if (errors_.empty()) return "";
    if (domain) *domain = errors_[0].domain;
    if (code) *code = errors_[0].code;
    return std::exchange(errors_, {})[0].text;
  }

 private:
  void Drain() {
    while (GstMessage* m = gst_bus_pop(bus_)) {
      if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ELEMENT &&
          gst_structure_has_name(gst_message_get_structure(m), "kelvoframegrab-still"))
        stills_.push_back(StillOf(gst_message_get_structure(m)));
      if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING) warnings_.push_back(ReportOf(m));
      if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) errors_.push_back(ReportOf(m));
      gst_message_unref(m);
    }
  }

  GstElement* element_ = nullptr;
  GstBus* bus_ = nullptr;
  GstHarness* h_ = nullptr;
  int fpsN_ = 25, fpsD_ = 1, width_ = kW, height_ = kH;
  std::vector<Still> stills_;
  std::vector<Report> warnings_;
  std::vector<Report> errors_;
};

// The plugin carries its own copy of the filter and of the platform's test
// hooks; reach the hook that the plugin's filter reads.
void SetPluginOsMajorVersion(unsigned major) {
  GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), "kelvoframegrab");
  ASSERT_NE(plugin, nullptr);
  GstPlugin* loaded = gst_plugin_load(plugin);
  ASSERT_NE(loaded, nullptr);
  void* module = dlopen(gst_plugin_get_filename(loaded), RTLD_NOW | RTLD_NOLOAD);
  gst_object_unref(loaded);
  gst_object_unref(plugin);
  ASSERT_NE(module, nullptr);
  using Hook = void (*)(unsigned);
  auto hook = reinterpret_cast<Hook>(dlsym(module, "_Z30KelvoSetReportedOsMajorVersionj"));
  ASSERT_NE(hook, nullptr);
  hook(major);
  dlclose(module);
}

int IndexOf(const std::string& path) {
  Jpeg jpeg;
  if (!ReadJpeg(path, &jpeg)) return -2;
  return DecodeFrameIndex(jpeg);
}

class FrameGrabElement : public testing::Test {
 protected:
  static void SetUpTestSuite() { InitGstForTests(); }
  void SetUp() override { dir_ = MakeTempFolder(); }
  void TearDown() override { RemoveTree(dir_); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// The plugin as installed: found by name, never autoplugged, and by default
// it never holds the stream for a still nor drops the frame to grab.
TEST_F(FrameGrabElement, PluginLoadsWithRankNoneAndDefaultsThatKeepTheStreamMoving) {
  GstElementFactory* factory = gst_element_factory_find("kelvoframegrab");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);
  const gchar* plugin = gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory));
  EXPECT_STREQ(plugin, "kelvoframegrab");
  gst_object_unref(factory);

  Grab g;
  gboolean qos = TRUE, background = FALSE;
  g_object_get(g.element(), "qos", &qos, "write-in-background", &background, nullptr);
  EXPECT_TRUE(background) << "the stream is never held by a still";
  EXPECT_FALSE(qos) << "a frame dropped as late may be the one to grab";
}

// The main still is the first frame within half a frame period of
// grab-time, whatever the rate (the filter's half period is rounded to
// 10 us). When the stream ends first but grab-time lies inside the last
// frame, that frame is on screen at grab-time and is written; past the end,
// nothing is. (Requests at other rates are checked frame by frame by the
// framegrab tool's tests.)
TEST_F(FrameGrabElement, MainGrabTakesTheRightFrameAtSeveralRates) {
  struct Case {
    int fps;
    double time;
    int expected;  // frame index; -1: no still
    int last;      // last frame pushed; 0: three after the expected one
    const char* rule;
  } cases[] = {
      {25, 1.0, 25, 0, "interval"},    {30, 0.99, 30, 0, "interval"}, {30, 0.98, 29, 0, "interval"},
      {24, 2.0, 48, 0, "interval"},    {60, 1.5, 90, 0, "interval"},  {1, 3.0, 3, 0, "interval"},
      {25, 0.63, 15, 15, "on-screen"}, {25, 0.65, -1, 15, ""},  // the last frame ends at 0.64 s
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fps << " fps, grab-time " << c.time);
    const std::string file =
        Path("main-" + std::to_string(c.fps) + "-" + std::to_string(c.time) + ".jpg");
    Grab g;
    g_object_set(g.element(), "location", file.c_str(), "grab-time", c.time, nullptr);
    g.Start(c.fps);
    ASSERT_EQ(g.Push(0, c.last != 0 ? c.last : c.expected + 3), GST_FLOW_OK);
    g.EndStream();
    const std::vector<Still> stills = g.Stills();
    if (c.expected < 0) {
      EXPECT_TRUE(stills.empty());
      EXPECT_FALSE(FileExists(file));
      continue;
    }
    EXPECT_EQ(IndexOf(file), c.expected);
    ASSERT_EQ(stills.size(), 1u) << "the main grab fires once";
    EXPECT_TRUE(stills[0].main);
    EXPECT_FALSE(stills[0].failed);
    EXPECT_EQ(stills[0].reason, "");
    EXPECT_EQ(stills[0].rule, c.rule);
    EXPECT_EQ(stills[0].location, file);
    EXPECT_DOUBLE_EQ(stills[0].requested, c.time);
    EXPECT_EQ(stills[0].streamTime, g.FrameTime(c.expected));
    EXPECT_EQ(stills[0].runningTime, g.FrameTime(c.expected));
  }
}

// Every request inside the video gets a still. At 25 fps the interval of a
// request at 0.125 s, (0.120, 0.160), holds no frame start (frames start at
// 0.12 and 0.16): the frame on screen at 0.125 s, frame 3, is written.
TEST_F(FrameGrabElement, RequestsBetweenFramesGetTheFrameOnScreen) {
  struct Request {
    double time;
    int expected;  // frame index; -1: no still
    const char* rule;
  } requests[] = {
      {0.125, 3, "on-screen"},  // between the intervals of frames 3 and 4
      {0.12, 3, "interval"},    // (0.115, 0.155) holds frame 3
      {0.285, 7, "interval"},   // (0.28 - 2e-17, 0.32): frame 7, by a hair
      {0.55, 13, "on-screen"},  // frames 14 and 15 are missing: 13 stays on screen
      {0.63, 15, "on-screen"},  // in the last frame, whose interval the stream ends in
      {0.9, -1, ""},            // after the end of the last frame
  };
  Grab g;
  g_object_set(g.element(), "grab-enabled", FALSE, nullptr);
  for (const Request& r : requests) {
    gboolean queued = FALSE;
    const std::string file = Path("r" + std::to_string(r.time) + ".jpg");
    g_signal_emit_by_name(g.element(), "snapshot", r.time, file.c_str(), FALSE, &queued);
    ASSERT_TRUE(queued);
  }
  g.Start(25);
  for (int i = 0; i <= 15; ++i) {
    if (i == 14) continue;  // a gap in the stream
    if (i == 9) {
      // A frame inside the interval of the request at 0.125 s arrives after
      // that request was served with the frame on screen (as when a stream
      // goes back): the filter takes it, and the element does not write the
      // still a second time.
      GstBuffer* late = g.MakeFrame(12);
      GST_BUFFER_PTS(late) = 130 * GST_MSECOND;
      ASSERT_EQ(gst_harness_push(g.harness(), late), GST_FLOW_OK);
      gst_buffer_unref(gst_harness_pull(g.harness()));
    }
    ASSERT_EQ(g.Push(i, i), GST_FLOW_OK);
  }
  g.EndStream();
  const std::vector<Still> stills = g.Stills();
  for (const Request& r : requests) {
    SCOPED_TRACE(testing::Message() << "request at " << r.time);
    const std::string file = Path("r" + std::to_string(r.time) + ".jpg");
    const auto still = std::find_if(stills.begin(), stills.end(),
                                    [&](const Still& s) { return s.location == file; });
    const long count = std::count_if(stills.begin(), stills.end(),
                                     [&](const Still& s) { return s.location == file; });
    if (r.expected < 0) {
      EXPECT_EQ(count, 0);
      EXPECT_FALSE(FileExists(file));
      continue;
    }
    ASSERT_EQ(count, 1);
    EXPECT_EQ(IndexOf(file), r.expected);
    EXPECT_EQ(still->rule, r.rule);
    EXPECT_EQ(still->streamTime, g.FrameTime(r.expected));
    EXPECT_FALSE(still->failed);
  }
}

TEST_F(FrameGrabElement, RequestsOnOneFrameAreAllWrittenAndAnEarlyRequestEndsTheMainGrab) {
  Grab g;
  g_object_set(g.element(), "location", Path("main.jpg").c_str(), "grab-time", 3.0, nullptr);
  g.Start(25);
  // Queued while streaming, from the application thread.
  ASSERT_EQ(g.Push(0, 5), GST_FLOW_OK);
  gboolean a = FALSE, b = FALSE, c = FALSE;
  g_signal_emit_by_name(g.element(), "snapshot", 1.0, Path("a.jpg").c_str(), FALSE, &a);
  g_signal_emit_by_name(g.element(), "snapshot", 1.0, Path("b.jpg").c_str(), FALSE, &b);
  g_signal_emit_by_name(g.element(), "snapshot", 2.0, Path("c.jpg").c_str(), FALSE, &c);
  ASSERT_TRUE(a && b && c);
  ASSERT_EQ(g.Push(6, 90), GST_FLOW_OK);
  g.EndStream();

  EXPECT_EQ(IndexOf(Path("a.jpg")), 25);
  EXPECT_EQ(IndexOf(Path("b.jpg")), 25);
  EXPECT_EQ(IndexOf(Path("c.jpg")), 50);
  // The filter's rule: once any still is written the main grab never fires.
  EXPECT_FALSE(FileExists(Path("main.jpg")));
  const std::vector<Still> stills = g.Stills();
  ASSERT_EQ(stills.size(), 3u);
  EXPECT_EQ(stills[0].location, Path("a.jpg"));
  EXPECT_EQ(stills[1].location, Path("b.jpg"));
  EXPECT_EQ(stills[2].location, Path("c.jpg"));
  for (const Still& s : stills) EXPECT_FALSE(s.main);
}

// Buffers pass through in place and unchanged, the grabbed one too; those
// without a timestamp pass and are never grabbed.
TEST_F(FrameGrabElement, PassesBuffersThroughUntouchedAndGrabsOnlyTimedOnes) {
  Grab g;
  g_object_set(g.element(), "location", Path("main.jpg").c_str(), "grab-time", 0.0, nullptr);
  g.Start(25);
  for (int i = 0; i < 8; ++i) {
    GstBuffer* in = g.MakeFrame(i);
    if (i < 3) GST_BUFFER_PTS(in) = GST_CLOCK_TIME_NONE;
    const std::vector<uint8_t> expected = MakeYuy2Frame(kW, kH, i);
    ASSERT_EQ(gst_harness_push(g.harness(), gst_buffer_ref(in)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(g.harness());
    EXPECT_EQ(out, in) << "in place: the very same buffer";
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
    ASSERT_EQ(map.size, expected.size());
    EXPECT_EQ(std::memcmp(map.data, expected.data(), map.size), 0) << "frame " << i;
    gst_buffer_unmap(out, &map);
    EXPECT_EQ(GST_BUFFER_PTS(out), i < 3 ? GST_CLOCK_TIME_NONE : g.FrameTime(i));
    gst_buffer_unref(out);
    gst_buffer_unref(in);
  }
  g.EndStream();
  EXPECT_EQ(IndexOf(Path("main.jpg")), 3);
}

// Times are matched on stream time: with a segment that starts at 10 s of
// timestamps and maps them to stream time 0, the frame stamped 11 s is the
// one at 1 s; its running time includes the segment base.
TEST_F(FrameGrabElement, MatchesOnStreamTimeNotOnTimestamps) {
  Grab g;
  g_object_set(g.element(), "location", Path("main.jpg").c_str(), "grab-time", 1.0, nullptr);
  g.Start(25);
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  segment.start = 10 * GST_SECOND;
  segment.time = 0;
  segment.base = 5 * GST_SECOND;
  ASSERT_TRUE(gst_harness_push_event(g.harness(), gst_event_new_segment(&segment)));
  ASSERT_EQ(g.Push(0, 30, 10 * GST_SECOND), GST_FLOW_OK);
  g.EndStream();
  EXPECT_EQ(IndexOf(Path("main.jpg")), 25);
  const std::vector<Still> stills = g.Stills();
  ASSERT_EQ(stills.size(), 1u);
  EXPECT_EQ(stills[0].streamTime, 1 * GST_SECOND);
  EXPECT_EQ(stills[0].runningTime, 6 * GST_SECOND);
}

TEST_F(FrameGrabElement, PaddedRowsAndCapsWithoutARateStillGiveTheRightFrame) {
  Grab g;
  g_object_set(g.element(), "grab-enabled", FALSE, nullptr);
  gboolean queued = FALSE;
  g_signal_emit_by_name(g.element(), "snapshot", 1.0, Path("r.jpg").c_str(), FALSE, &queued);
  ASSERT_TRUE(queued);
  // No rate in the caps: the frame period comes from the buffer durations.
  g.Start(0, 1);
  const int stride = kW * 2 + 32;
  for (int i = 0; i <= 30; ++i) {
    const std::vector<uint8_t> packed = MakeYuy2Frame(kW, kH, i);
    std::vector<uint8_t> padded(static_cast<size_t>(stride) * kH, 0xEE);
    for (int y = 0; y < kH; ++y)
      std::memcpy(padded.data() + static_cast<size_t>(y) * stride, packed.data() + y * kW * 2, kW * 2);
    GstBuffer* buf = gst_buffer_new_memdup(padded.data(), padded.size());
    gsize offset[GST_VIDEO_MAX_PLANES] = {0};
    gint strides[GST_VIDEO_MAX_PLANES] = {stride};
    gst_buffer_add_video_meta_full(buf, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_YUY2, kW, kH, 1,
                                   offset, strides);
    GST_BUFFER_PTS(buf) = gst_util_uint64_scale(i, GST_SECOND, 25);
    GST_BUFFER_DURATION(buf) = GST_SECOND / 25;
    ASSERT_EQ(gst_harness_push(g.harness(), buf), GST_FLOW_OK);
    gst_buffer_unref(gst_harness_pull(g.harness()));
  }
  g.EndStream();
  EXPECT_EQ(IndexOf(Path("r.jpg")), 25);
}

// ---- Error paths: GStreamer errors with clear text, never a dead process ----

TEST_F(FrameGrabElement, SnapshotSignalRefusesNamesThatCannotBeWritten) {
  Grab g;
  const std::string fifo = Path("pipe.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::pair<std::string, const char*> refused[] = {
      {Path("missing/x.jpg"), "a missing folder"},
      {"/etc/hostname/x.jpg", "a file is not a folder"},
      {dir_, "a folder is not a file"},
      {dir_ + "/" + std::string(300, 'n'), "longer than a request can hold"},
      {fifo, "not a regular file"},
      {"/dev/full", "not a regular file"},
  };
  for (const auto& [target, why] : refused) {
    gboolean queued = TRUE;
    g_signal_emit_by_name(g.element(), "snapshot", 1.0, target.c_str(), FALSE, &queued);
    EXPECT_FALSE(queued) << target << ": " << why;
  }

  // Nothing refused was queued: the stream runs past 1 s without a still.
  g.Start(25);
  ASSERT_EQ(g.Push(0, 30), GST_FLOW_OK);
  g.EndStream();
  EXPECT_TRUE(g.Stills().empty());
}

// What a pipeline posted: stills, warnings, errors from the element
// (named kelvoframegrab...) and from the rest, and whether it reached EOS.
struct Outcome {
  std::vector<Still> stills;
  std::vector<Report> warnings;
  std::vector<Report> elementErrors;
  std::vector<Report> otherErrors;
  bool eos = false;
  GstStateChangeReturn started = GST_STATE_CHANGE_FAILURE;  // going to PLAYING
  GstStateChangeReturn stopped = GST_STATE_CHANGE_FAILURE;  // back to NULL
};

// Plays a pipeline (and drops it) under a deadline until EOS or an error;
// with pastElementErrors it runs on through the element's errors until the
// source gives up.
Outcome Play(GstElement* pipeline, bool pastElementErrors = false) {
  Outcome out;
  Deadline deadline(30);
  out.started = gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  while (GstMessage* m = gst_bus_timed_pop_filtered(
             bus, 20 * GST_SECOND,
             static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_WARNING |
                                         GST_MESSAGE_ELEMENT))) {
    const GstMessageType type = GST_MESSAGE_TYPE(m);
    const bool fromElement =
        g_str_has_prefix(GST_OBJECT_NAME(GST_MESSAGE_SRC(m)), "kelvoframegrab");
    if (type == GST_MESSAGE_ELEMENT &&
        gst_structure_has_name(gst_message_get_structure(m), "kelvoframegrab-still"))
      out.stills.push_back(StillOf(gst_message_get_structure(m)));
    if (type == GST_MESSAGE_WARNING) out.warnings.push_back(ReportOf(m));
    if (type == GST_MESSAGE_ERROR)
      (fromElement ? out.elementErrors : out.otherErrors).push_back(ReportOf(m));
    out.eos = type == GST_MESSAGE_EOS;
    gst_message_unref(m);
    if (out.eos || (type == GST_MESSAGE_ERROR && !(fromElement && pastElementErrors))) break;
  }
  gst_object_unref(bus);
  out.stopped = gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return out;
}

Outcome Play(const std::string& launch, bool pastElementErrors = false) {
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  EXPECT_EQ(err, nullptr) << (err ? err->message : "");
  if (!pipeline) return {};
  return Play(pipeline, pastElementErrors);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Decoders' own formats are converted only for the frames written, as
// videoconvert converts them, in the background or not: the stills are the
// very files written from YUY2 that videoconvert made. Planar, semi-planar
// and packed layouts, chroma at full, half and quarter resolution, and
// deeper samples of both byte orders.
TEST_F(FrameGrabElement, DecoderFormatsGiveTheStillsOfTheirYuy2Conversion) {
  const std::string grab = " ! kelvoframegrab grab-time=0.2 enhance=true location=";
  for (const std::string format :
       {"I420", "NV12", "UYVY", "Y444", "I420_10LE", "I422_12BE", "Y444_10LE"}) {
    // Scaled down from 16-bit samples, so that deep formats carry values an
    // 8-bit frame cannot: their conversion has to dither.
    const std::string source =
        "videotestsrc num-buffers=12 pattern=pinwheel ! "
        "video/x-raw,format=AYUV64,width=99,height=75,framerate=25/1 ! videoscale ! "
        "video/x-raw,width=66,height=50 ! videoconvert ! video/x-raw,format=" + format + " ! ";
    // PNG, so that the stills are compared sample for sample.
    const std::string converted = Path(format + "-yuy2.png");
    const std::string yuy2 = "videoconvert ! video/x-raw,format=YUY2";
    ASSERT_TRUE(Play(source + yuy2 + grab + converted + " ! fakesink").eos);
    const std::string reference = Contents(converted);
    ASSERT_FALSE(reference.empty());
    for (const char* background : {"true", "false"}) {
      SCOPED_TRACE(format + ", write-in-background=" + background);
      const std::string out = Path(format + background + ".png");
      const std::string still = out + " write-in-background=" + background;
      ASSERT_TRUE(Play(source + "identity" + grab + still + " ! fakesink").eos);
      EXPECT_TRUE(Contents(out) == reference) << "a different still";
    }
  }
}

TEST_F(FrameGrabElement, ALocationInAMissingFolderIsRefusedBeforeStreaming) {
  const std::string location = Path("nowhere/main.jpg");
  const Outcome outcome = Play(
      "videotestsrc num-buffers=3 ! video/x-raw,format=YUY2,width=64,height=48 ! kelvoframegrab "
      "location=" + location + " ! fakesink");
  ASSERT_EQ(outcome.elementErrors.size(), 1u);
  const Report& error = outcome.elementErrors[0];
  EXPECT_EQ(error.domain, GST_RESOURCE_ERROR);
  EXPECT_EQ(error.code, GST_RESOURCE_ERROR_OPEN_WRITE);
  EXPECT_NE(error.text.find("does not exist"), std::string::npos) << error.text;
  EXPECT_NE(error.text.find("nowhere"), std::string::npos) << error.text;
}

// After start a still that cannot be written is a warning and a still
// message marked failed; the stream runs on to its end and the other stills
// are written. A named pipe placed where a still should go is refused
// without being opened, so nothing blocks.
// Stills are written on the streaming thread, then on the worker, whose
// stills must all be reported before EOS.
TEST_F(FrameGrabElement, StillsThatCannotBeWrittenAreWarningsAndTheStreamReachesItsEnd) {
  for (const bool background : {false, true}) {
    SCOPED_TRACE(background ? "in the background" : "on the streaming thread");
    RemoveTree(dir_);
    dir_ = MakeTempFolder();
    const std::string sub = Path("sub");
    ASSERT_EQ(g_mkdir(sub.c_str(), 0755), 0);
    GstElement* pipeline = gst_parse_launch(
        "videotestsrc num-buffers=40 ! video/x-raw,format=YUY2,width=64,height=48,framerate=25/1 ! "
        "kelvoframegrab name=g grab-enabled=false ! fakesink",
        nullptr);
    ASSERT_NE(pipeline, nullptr);
    GstElement* grab = gst_bin_get_by_name(GST_BIN(pipeline), "g");
    g_object_set(grab, "write-in-background", background, nullptr);
    const std::string targets[] = {Path("a.jpg"), sub + "/gone.jpg", Path("pipe.jpg"),
                                   Path("c.jpg")};
    for (int i = 0; i < 4; ++i) {
      gboolean queued = FALSE;
      g_signal_emit_by_name(grab, "snapshot", 0.2 + 0.2 * i, targets[i].c_str(), FALSE, &queued);
      ASSERT_TRUE(queued) << targets[i];
    }
    // Both targets go bad after they were checked.
    ASSERT_EQ(g_rmdir(sub.c_str()), 0);
    ASSERT_EQ(mkfifo(targets[2].c_str(), 0644), 0);

    gst_object_unref(grab);
    const Outcome outcome = Play(pipeline);
    const std::vector<Still>& stills = outcome.stills;
    const std::vector<Report>& warnings = outcome.warnings;
    EXPECT_TRUE(outcome.eos) << "no error on the way";
    ASSERT_EQ(stills.size(), 4u);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(targets[i]);
      EXPECT_EQ(stills[i].location, targets[i]);
      EXPECT_EQ(stills[i].failed, i == 1 || i == 2);
      EXPECT_EQ(stills[i].reason.empty(), !stills[i].failed) << stills[i].reason;
    }
    EXPECT_NE(stills[1].reason.find("gone.jpg"), std::string::npos) << stills[1].reason;
    EXPECT_NE(stills[2].reason.find("named pipe"), std::string::npos) << stills[2].reason;
    ASSERT_EQ(warnings.size(), 2u);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(warnings[i].domain, GST_RESOURCE_ERROR);
      EXPECT_EQ(warnings[i].code, GST_RESOURCE_ERROR_WRITE);
      EXPECT_NE(warnings[i].text.find(targets[i + 1]), std::string::npos) << warnings[i].text;
      EXPECT_NE(warnings[i].debug.find(stills[i + 1].reason), std::string::npos)
          << warnings[i].debug;
    }
    Jpeg jpeg;
    for (const std::string& written : {targets[0], targets[3]}) {
      ASSERT_TRUE(ReadJpeg(written, &jpeg)) << written;
      EXPECT_EQ(jpeg.width, 64);
      EXPECT_EQ(jpeg.height, 48);
    }
  }
}

// A write that fails half way (here the file-size limit) leaves the file it
// was to replace exactly as it was, and no temporary behind.
TEST_F(FrameGrabElement, AStillThatFailsHalfWrittenLeavesTheOldFileUntouched) {
  const std::string target = Path("keep.jpg");
  const std::string old = "the photo that was here before";
  std::ofstream(target) << old;
  Grab g;
  g_object_set(g.element(), "location", target.c_str(), "grab-time", 0.2, nullptr);
  g.Start(25);

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 200;  // less than the JPEG headers alone
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const GstFlowReturn flow = g.Push(0, 10);
  g.EndStream();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, savedHandler);

  EXPECT_EQ(flow, GST_FLOW_OK) << "the stream goes on";
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), old);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    ++files;
    EXPECT_EQ(entry.path().string(), target) << "a temporary was left behind";
  }
  EXPECT_EQ(files, 1);
  const std::vector<Still> stills = g.Stills();
  ASSERT_EQ(stills.size(), 1u);
  EXPECT_TRUE(stills[0].failed);
  EXPECT_TRUE(stills[0].main);
  EXPECT_EQ(stills[0].streamTime, g.FrameTime(5));
  EXPECT_NE(stills[0].reason.find(std::strerror(EFBIG)), std::string::npos) << stills[0].reason;
  const std::vector<Report> warnings = g.Warnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].code, GST_RESOURCE_ERROR_WRITE);
}

// GStreamer's warnings about the element, as the log receives them.
std::vector<std::string>* g_logged = nullptr;

void CollectWarnings(GstDebugCategory* category, GstDebugLevel level, const gchar*, const gchar*,
                     gint, GObject*, GstDebugMessage* message, gpointer) {
  if (g_logged && level == GST_LEVEL_WARNING &&
      std::strcmp(gst_debug_category_get_name(category), "kelvoframegrab") == 0)
    g_logged->push_back(gst_debug_message_get(message));
}

// A named pipe as location: setting it is only logged (a property cannot be
// refused), starting fails with an error, and the pipeline goes to NULL at
// once instead of waiting for a reader.
TEST_F(FrameGrabElement, ANamedPipeAsLocationWarnsFailsToStartAndNeverHangs) {
  const std::string fifo = Path("main.jpg");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::vector<std::string> logged;
  g_logged = &logged;
  gst_debug_set_threshold_for_name("kelvoframegrab", GST_LEVEL_WARNING);
  gst_debug_add_log_function(CollectWarnings, nullptr, nullptr);
  GstElement* pipeline = gst_parse_launch(
      "videotestsrc num-buffers=10 ! video/x-raw,format=YUY2,width=64,height=48 ! "
      "kelvoframegrab name=kelvoframegrab-g ! fakesink",
      nullptr);
  ASSERT_NE(pipeline, nullptr);
  GstElement* grab = gst_bin_get_by_name(GST_BIN(pipeline), "kelvoframegrab-g");
  g_object_set(grab, "location", fifo.c_str(), nullptr);
  gst_object_unref(grab);
  gst_debug_remove_log_function(CollectWarnings);
  gst_debug_set_threshold_for_name("kelvoframegrab", GST_LEVEL_NONE);
  g_logged = nullptr;
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("named pipe"), std::string::npos) << logged[0];

  const Outcome outcome = Play(pipeline);
  EXPECT_EQ(outcome.started, GST_STATE_CHANGE_FAILURE);
  EXPECT_EQ(outcome.stopped, GST_STATE_CHANGE_SUCCESS);
  ASSERT_EQ(outcome.elementErrors.size(), 1u);
  const Report& error = outcome.elementErrors[0];
  EXPECT_EQ(error.domain, GST_RESOURCE_ERROR);
  EXPECT_EQ(error.code, GST_RESOURCE_ERROR_OPEN_WRITE);
  EXPECT_NE(error.text.find("named pipe"), std::string::npos) << error.text;
}

// Caps the filter cannot take stop the stream with one error that says why,
// however often upstream offers them again.
TEST_F(FrameGrabElement, CapsTheFilterCannotTakeStopTheStreamWithOneError) {
  // A filter created on an older system takes only 32-bit RGB: it refuses
  // YUY2 and the element says so.
  SetPluginOsMajorVersion(5);
  const std::vector<Report> errors =
      Play(
          "videotestsrc num-buffers=30 ! video/x-raw,format=YUY2,width=64,height=48 ! "
          "kelvoframegrab ! fakesink",
          /*pastElementErrors=*/true)
          .elementErrors;
  SetPluginOsMajorVersion(0);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].domain, GST_CORE_ERROR);
  EXPECT_EQ(errors[0].code, GST_CORE_ERROR_NEGOTIATION);
  EXPECT_NE(errors[0].text.find("refused 64x48 YUY2"), std::string::npos) << errors[0].text;
}

TEST_F(FrameGrabElement, ABufferShorterThanItsFrameIsAnErrorNotAnOverread) {
  Grab g;
  g_object_set(g.element(), "location", Path("main.jpg").c_str(), nullptr);
  g.Start(25);
  GstBuffer* buf = gst_buffer_new_allocate(nullptr, kW * kH, nullptr);
  GST_BUFFER_PTS(buf) = 0;
  EXPECT_EQ(gst_harness_push(g.harness(), buf), GST_FLOW_ERROR);
  EXPECT_NE(g.ErrorText().find("cannot read a frame"), std::string::npos);
  EXPECT_FALSE(FileExists(Path("main.jpg")));
}

}  // namespace
