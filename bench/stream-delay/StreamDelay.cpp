// How long kelvoframegrab holds each buffer: a live 1920x1080 60 fps test
// source with an enhanced still asked for every second. Pad probes on the
// element's sink and src pads stamp each buffer on the monotonic clock as it
// enters and leaves; the report gives the 99th percentile and the largest
// delay, with stills written in the background and, for comparison, on the
// streaming thread. The same pipeline with identity in its place shows what
// the machine itself adds (a loaded machine preempts any thread).
//
//   kelvo_stream_delay [SECONDS] [FOLDER]
// FOLDER receives the stills (default: a temporary folder, removed after).
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "gst/GstKelvoFrameGrab.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
  std::mutex lock;
  Clock::time_point entered;
  bool inside = false;
  std::vector<double> delays;  // milliseconds
  int stills = 0;
};

GstPadProbeReturn OnEnter(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* p = static_cast<Probe*>(data);
  std::lock_guard<std::mutex> hold(p->lock);
  p->entered = Clock::now();
  p->inside = true;
  return GST_PAD_PROBE_OK;
}

GstPadProbeReturn OnLeave(GstPad*, GstPadProbeInfo*, gpointer data) {
  auto* p = static_cast<Probe*>(data);
  const Clock::time_point now = Clock::now();
  std::lock_guard<std::mutex> hold(p->lock);
  if (p->inside)
    p->delays.push_back(std::chrono::duration<double, std::milli>(now - p->entered).count());
  p->inside = false;
  return GST_PAD_PROBE_OK;
}

struct Result {
  size_t buffers = 0;
  double p50 = 0, p99 = 0, max = 0;
  size_t over2ms = 0;
  int stills = 0;
};

enum class Mode { kBackground, kStreamingThread, kIdentity };

Result Measure(Mode mode, int seconds, const std::string& folder) {
  const bool background = mode == Mode::kBackground;
  const std::string launch =
      std::string("videotestsrc is-live=true pattern=ball ! "
                  "video/x-raw,format=YUY2,width=1920,height=1080,framerate=60/1 ! ") +
      (mode == Mode::kIdentity ? "identity name=grab" : "kelvoframegrab name=grab grab-enabled=false") +
      " ! fakesink sync=true";
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  if (!pipeline) {
    std::fprintf(stderr, "stream-delay: %s\n", err ? err->message : "no pipeline");
    std::exit(1);
  }
  GstElement* grab = gst_bin_get_by_name(GST_BIN(pipeline), "grab");
  if (mode != Mode::kIdentity)
    g_object_set(grab, "write-in-background", background ? TRUE : FALSE, nullptr);
  Probe probe;
  GstPad* sink = gst_element_get_static_pad(grab, "sink");
  GstPad* src = gst_element_get_static_pad(grab, "src");
  gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, OnEnter, &probe, nullptr);
  gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, OnLeave, &probe, nullptr);
  gst_object_unref(sink);
  gst_object_unref(src);

  GstBus* bus = gst_element_get_bus(pipeline);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  // One enhanced still a second, asked half a second ahead of its time.
  const Clock::time_point start = Clock::now();
  for (int s = 1; s <= seconds; ++s) {
    const std::string file = folder + "/still-" + (background ? "bg-" : "fg-") + std::to_string(s) + ".jpg";
    gboolean queued = FALSE;
    if (mode != Mode::kIdentity)
      g_signal_emit_by_name(grab, "snapshot", static_cast<double>(s) + 0.5, file.c_str(), TRUE,
                            &queued);
    const Clock::time_point until = start + std::chrono::seconds(s);
    while (Clock::now() < until) {
      GstMessage* msg = gst_bus_timed_pop_filtered(
          bus, 20 * GST_MSECOND,
          static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ELEMENT));
      if (!msg) continue;
      if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        GError* e = nullptr;
        gst_message_parse_error(msg, &e, nullptr);
        std::fprintf(stderr, "stream-delay: %s\n", e ? e->message : "error");
        std::exit(1);
      }
      const GstStructure* st = gst_message_get_structure(msg);
      if (st && gst_structure_has_name(st, GST_KELVO_FRAME_GRAB_STILL_MESSAGE)) ++probe.stills;
      gst_message_unref(msg);
    }
  }
  gst_element_send_event(pipeline, gst_event_new_eos());
  GstMessage* end = gst_bus_timed_pop_filtered(
      bus, 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  if (end) gst_message_unref(end);
  while (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
    const GstStructure* st = gst_message_get_structure(msg);
    if (st && gst_structure_has_name(st, GST_KELVO_FRAME_GRAB_STILL_MESSAGE)) ++probe.stills;
    gst_message_unref(msg);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(grab);
  gst_object_unref(pipeline);

  Result r;
  std::vector<double> d = probe.delays;
  std::sort(d.begin(), d.end());
  r.buffers = d.size();
  r.stills = probe.stills;
  if (!d.empty()) {
    r.p50 = d[d.size() / 2];
    r.p99 = d[std::min(d.size() - 1, static_cast<size_t>(0.99 * static_cast<double>(d.size())))];
    r.max = d.back();
    r.over2ms = static_cast<size_t>(d.end() - std::upper_bound(d.begin(), d.end(), 2.0));
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(nullptr, nullptr);
  gst_kelvo_frame_grab_register(nullptr);
  const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
  std::string folder = argc > 2 ? argv[2] : "";
  const bool temporary = folder.empty();
  if (temporary) {
    char pattern[] = "/tmp/kelvo-stream-delay-XXXXXX";
    if (!g_mkdtemp(pattern)) {
      std::fprintf(stderr, "stream-delay: cannot make a temporary folder\n");
      return 1;
    }
    folder = pattern;
  }
  std::printf("stream-delay: 1920x1080 60 fps live, an enhanced still every second, %d s each\n",
              seconds);
  std::printf("%-28s %8s %8s %8s %8s %7s %7s\n", "element, stills written", "buffers", "p50 ms",
              "p99 ms", "max ms", ">2 ms", "stills");
  for (const Mode mode : {Mode::kBackground, Mode::kStreamingThread, Mode::kIdentity}) {
    const Result r = Measure(mode, seconds, folder);
    const char* name = mode == Mode::kBackground        ? "kelvoframegrab, background"
                       : mode == Mode::kStreamingThread ? "kelvoframegrab, streaming"
                                                        : "identity (the machine)";
    std::printf("%-28s %8zu %8.3f %8.3f %8.3f %7zu %7d%s\n", name, r.buffers, r.p50, r.p99, r.max,
                r.over2ms, r.stills, mode == Mode::kBackground ? "   (target: p99 <= 2 ms)" : "");
    std::fflush(stdout);
  }
  if (temporary) std::filesystem::remove_all(folder);
  gst_deinit();
  return 0;
}
