#include "tools/framegrab/GrabSession.h"

#include <gst/gst.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "filter/GrabRule.h"
#include "gst/GstKelvoFrameGrab.h"
#include "tools/common/PixelLimit.h"
#include "tools/framegrab/StillTargets.h"

namespace kelvo::framegrab {
namespace {

// Application messages the decoding side posts to the main loop.
constexpr const char* kNoVideoMessage = "no-video";
constexpr const char* kTooLargeMessage = "frames-too-large";

struct Pending {
  Still still;
  bool done = false;    // the element has reported it, written or not
  bool failed = false;  // reported as not written
  double frameTime = 0.0;
  std::string line;     // what to print about it, on stdout, or on stderr when failed
  bool printed = false;
};

// What framegrab learns from the decoded frames on their way to the grab
// elements, on the streaming thread; read by the main loop under `mutex`.
//
// Damage: decoders say little on the bus (a GStreamer video decoder skips
// what it cannot decode and only logs it), but they mark the first frame
// they deliver after lost data as a discontinuity, or a frame as corrupted.
// A frame is taken as damaged when it carries either mark outside the
// restart after a seek, or when any element before the grab posted a
// warning or an error since the frame before it.
struct FrameLog {
  std::mutex mutex;
  GstSegment segment;
  bool restarting = true;  // the next frame starts a segment: a discontinuity is expected
  double halfFrame = 0.0;  // from the caps' rate, as the grab element takes it
  double period = 0.0;     // frame period the caps declare, seconds; 0: none declared
  bool irregular = false;  // a frame lasted a quarter period more or less than declared
  double end = -1.0;        // end of the latest-ending frame, seconds
  std::set<guint64> damaged;  // stream times (ns) of damaged frames
  double firstDamage = -1.0;
  std::atomic<bool> reported{false};  // set by the bus's synchronous handler
};

struct Pipeline {
  GstElement* pipeline = nullptr;
  GstElement* decoder = nullptr;
  GstElement* convert = nullptr;
  GstElement* main = nullptr;
  GstElement* requests = nullptr;
  bool linked = false;
  // Streams the decoder found, video or not: a file without video must say
  // so, not that a plug-in is missing for its audio.
  std::atomic<bool> sawStream{false};
  std::atomic<bool> sawVideo{false};
  std::string videoSize;  // of a video stream that could not be linked
  FrameLog frames;
  int64_t maxPixels = 0;
  // Set on the streaming thread when the decoded frames are too large; from
  // then on no frame goes further.
  std::atomic<bool> tooLarge{false};
  ~Pipeline() {
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
  }
};

// Watches the decoded video before any frame reaches a still: frames larger
// than the limit are refused as soon as their caps are known. The caps event
// and every buffer after it are dropped, so nothing downstream allocates a
// frame, and the main loop stops on the message.
GstPadProbeReturn CheckFrameSize(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) == 0) {
    return p->tooLarge ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
  }
  GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
  if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS) return GST_PAD_PROBE_OK;
  GstCaps* caps = nullptr;
  gst_event_parse_caps(event, &caps);
  int width = 0, height = 0;
  const GstStructure* s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0)
                                                               : nullptr;
  if (s && gst_structure_get_int(s, "width", &width) &&
      gst_structure_get_int(s, "height", &height) &&
      !kelvo::tools::WithinPixelLimit(width, height, p->maxPixels) && !p->tooLarge.exchange(true)) {
    gst_element_post_message(
        p->decoder, gst_message_new_application(
                        GST_OBJECT(p->decoder),
                        gst_structure_new(kTooLargeMessage, "width", G_TYPE_INT, width, "height",
                                          G_TYPE_INT, height, nullptr)));
  }
  return p->tooLarge ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

bool IsVideo(const GstCaps* caps) {
  return caps && gst_caps_get_size(caps) > 0 &&
         g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
}

// Asked by the decoder for every stream it finds before it decides what to
// do with it. Streams that are not video are dropped silently, so this is
// where a file without video shows itself. The whole file's type (from the
// type finder: "video/quicktime" also for audio-only MP4) says nothing.
gboolean OnAutoplugContinue(GstElement*, GstPad* pad, GstCaps* caps, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  GstElement* owner = gst_pad_get_parent_element(pad);
  GstElementFactory* factory = owner ? gst_element_get_factory(owner) : nullptr;
  const bool wholeFile =
      factory && std::string(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory))) == "typefind";
  if (owner) gst_object_unref(owner);
  if (!wholeFile) {
    p->sawStream = true;
    if (IsVideo(caps)) p->sawVideo = true;
  }
  return TRUE;
}

// Records every frame before it reaches the grab elements: its damage, and
// the end of the video so far.
GstPadProbeReturn LogFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
  FrameLog* log = &static_cast<Pipeline*>(data)->frames;
  if (info->type & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH)) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    std::lock_guard<std::mutex> hold(log->mutex);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &log->segment);
      log->restarting = true;
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
      log->restarting = true;
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      const GstStructure* s = gst_caps_get_structure(caps, 0);
      int num = 0, den = 0;
      if (s && gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
        log->halfFrame =
            kelvo::filter::HalfFrameFor(static_cast<int>(std::lround(static_cast<double>(num) / den)));
        log->period = static_cast<double>(den) / num;
      }
    }
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
  const bool reported = log->reported.exchange(false);
  std::lock_guard<std::mutex> hold(log->mutex);
  const bool marked = GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_CORRUPTED) ||
                      (GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT) && !log->restarting);
  log->restarting = false;
  guint64 st = 0;
  if (!GST_BUFFER_PTS_IS_VALID(buf) || log->segment.format != GST_FORMAT_TIME ||
      gst_segment_to_stream_time_full(&log->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buf), &st) != 1)
    return GST_PAD_PROBE_OK;
  const double start = static_cast<double>(st) / GST_SECOND;
  // The grab element's own idea of a frame's end.
  const double end = GST_BUFFER_DURATION_IS_VALID(buf)
                         ? static_cast<double>(st + GST_BUFFER_DURATION(buf)) / GST_SECOND
                         : start + 2 * log->halfFrame;
  log->end = std::max(log->end, end);
  if (GST_BUFFER_DURATION_IS_VALID(buf) && log->period > 0.0 &&
      std::fabs(static_cast<double>(GST_BUFFER_DURATION(buf)) / GST_SECOND - log->period) >
          (1.0 - kPeriodShare) * log->period)
    log->irregular = true;
  if (marked || reported) {
    log->damaged.insert(st);
    if (log->firstDamage < 0.0) log->firstDamage = start;
  }
  return GST_PAD_PROBE_OK;
}

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  p->sawStream = true;
  if (p->linked) return;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const bool video = IsVideo(caps);
  if (video) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int width = 0, height = 0;
    if (gst_structure_get_int(s, "width", &width) && gst_structure_get_int(s, "height", &height))
      p->videoSize = std::to_string(width) + " x " + std::to_string(height);
  }
  if (caps) gst_caps_unref(caps);
  if (!video) return;
  p->sawVideo = true;
  gst_pad_add_probe(pad,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                 GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                 GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                    CheckFrameSize, p, nullptr);
  GstPad* sink = gst_element_get_static_pad(p->convert, "sink");
  p->linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
  gst_object_unref(sink);
}

// Posted on the bus when the decoder has exposed all its streams and none of
// them was video.
void OnNoMorePads(GstElement* dec, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  if (!p->linked)
    gst_element_post_message(dec, gst_message_new_application(
                                      GST_OBJECT(dec), gst_structure_new_empty(kNoVideoMessage)));
}

GstElement* Make(const char* factory, const char* name) {
  GstElement* e = gst_element_factory_make(factory, name);
  if (!e) std::fprintf(stderr, "framegrab: GStreamer element %s is missing\n", factory);
  return e;
}

bool Build(Pipeline* p, const std::string& uri, bool wantMain, bool wantRequests) {
  p->pipeline = gst_pipeline_new("framegrab");
  GstElement* dec = Make("uridecodebin", "decode");
  p->decoder = dec;
  p->convert = Make("videoconvert", "convert");
  GstElement* flip = Make("videoflip", "upright");
  GstElement* filter = Make("capsfilter", "formats");
  GstElement* sink = Make("fakesink", "sink");
  if (wantMain) p->main = Make("kelvoframegrab", "main");
  if (wantRequests) p->requests = Make("kelvoframegrab", "requests");
  if (!dec || !p->convert || !flip || !filter || !sink ||
      (wantMain && !p->main) || (wantRequests && !p->requests))
    return false;

  GstCaps* video = gst_caps_from_string("video/x-raw(ANY)");
  g_object_set(dec, "uri", uri.c_str(), "caps", video, "expose-all-streams", FALSE, nullptr);
  gst_caps_unref(video);
  // Players show videos with a rotation tag upright; so do the stills.
  gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  // The grab elements take the decoders' own formats and convert only the
  // frames they write; anything else is converted on the way.
  GstCaps* formats = gst_caps_from_string("video/x-raw,format={I420,NV12,YUY2}");
  g_object_set(filter, "caps", formats, nullptr);
  gst_caps_unref(formats);
  // As fast as the decoder goes; no frame may be dropped.
  g_object_set(sink, "sync", FALSE, "qos", FALSE, nullptr);

  gst_bin_add_many(GST_BIN(p->pipeline), dec, p->convert, flip, filter, sink, nullptr);
  GstElement* last = filter;
  gst_element_link_many(p->convert, flip, filter, nullptr);
  for (GstElement* grab : {p->main, p->requests}) {
    if (!grab) continue;
    gst_bin_add(GST_BIN(p->pipeline), grab);
    gst_element_link(last, grab);
    last = grab;
  }
  gst_element_link(last, sink);
  GstPad* toGrab = gst_element_get_static_pad(filter, "src");
  gst_pad_add_probe(toGrab,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                 GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                 GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                    LogFrame, p, nullptr);
  gst_object_unref(toGrab);
  g_signal_connect(dec, "pad-added", G_CALLBACK(OnPadAdded), p);
  g_signal_connect(dec, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), p);
  g_signal_connect(dec, "no-more-pads", G_CALLBACK(OnNoMorePads), p);
  return true;
}

// Seeks to the key frame at or before `seconds`, from which the decoder
// delivers every frame, each with its true stream time. Times were checked
// against kMaxSeconds when parsed; the conversion is guarded all the same,
// since a double out of range makes the cast undefined.
bool Seek(GstElement* pipeline, double seconds) {
  if (!(seconds >= 0.0 && seconds <= kMaxSeconds)) return false;
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                               GST_SEEK_FLAG_SNAP_BEFORE);
  return gst_element_seek_simple(pipeline, GST_FORMAT_TIME, flags,
                                 static_cast<gint64>(seconds * GST_SECOND));
}

// The last line of a GStreamer debug text: the part that says what went
// wrong, after the source position and the element's path.
std::string LastLine(const gchar* debug) {
  if (!debug) return {};
  std::string text(debug);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const size_t nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

// Warnings and errors of the elements before the grab mark the next frame
// as damaged. Runs on the thread that posts them.
GstBusSyncReply NoteTrouble(GstBus*, GstMessage* msg, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  const GstMessageType type = GST_MESSAGE_TYPE(msg);
  if ((type != GST_MESSAGE_WARNING && type != GST_MESSAGE_ERROR) ||
      GST_MESSAGE_SRC(msg) == GST_OBJECT(p->main) || GST_MESSAGE_SRC(msg) == GST_OBJECT(p->requests))
    return GST_BUS_PASS;
  GError* e = nullptr;
  if (type == GST_MESSAGE_WARNING)
    gst_message_parse_warning(msg, &e, nullptr);
  else
    gst_message_parse_error(msg, &e, nullptr);
  // A stream left out for want of a decoder (the sound of a video, say)
  // damages no frame.
  const bool skipped = !e || (e->domain == GST_CORE_ERROR && e->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
                       (e->domain == GST_STREAM_ERROR && e->code == GST_STREAM_ERROR_CODEC_NOT_FOUND);
  if (e) g_error_free(e);
  if (!skipped) p->frames.reported = true;
  return GST_BUS_PASS;
}

void ClearProgress(bool shown) {
  if (shown) std::fprintf(stderr, "\r\033[K");
}

}  // namespace

double SeekPoint(double target, bool main, double halfFrame, double period) {
  // The earliest start of a frame the rule could take: the main still's may
  // start half a frame period early (at most half a second, at 1 fps, until
  // the caps say), a request's 5 ms early.
  const double earliest =
      target - (main ? (halfFrame > 0.0 ? halfFrame : kLargestHalfFrame) : kRequestLead);
  if (period <= 0.0) return std::max(0.0, earliest - kSeekMargin);
  // Frames a period apart: the key frame found at or before earliest +
  // 3/4 period cannot lie after the first frame starting at or after
  // `earliest`, since the frame after that one starts a whole period later.
  // So a key frame right at the target is found, not the one before it,
  // and frames may come up to a quarter period early and still be found.
  return std::max(0.0, earliest + kPeriodShare * period - kSeekMargin);
}

std::string BundledSamplePath() {
  for (const char* path : {KELVO_INSTALLED_SAMPLE, KELVO_SOURCE_SAMPLE})
    if (g_file_test(path, G_FILE_TEST_IS_REGULAR)) return path;
  return KELVO_SOURCE_SAMPLE;
}

int WorseExit(int a, int b) {
  // From most to least severe.
  static constexpr int kOrder[] = {kExitUsage, kExitInput, kExitOutput, kExitNotWritten,
                                   kExitDamaged, kExitOk};
  for (const int code : kOrder)
    if (a == code || b == code) return code;
  return a;
}

int GrabSession::Run() {
  const std::string input = options_.input.empty() ? BundledSamplePath() : options_.input;
  // Every file is checked before anything runs.
  std::string problem;
  const int checked = CheckFiles(input, options_.stills, &problem);
  if (checked != kExitOk) {
    std::fprintf(stderr, "framegrab: %s\n", problem.c_str());
    return checked;
  }

  std::vector<Pending> pending;
  bool wantMain = false, wantRequests = false;
  for (const Still& s : options_.stills) {
    pending.push_back({s, false, false, 0.0, {}, false});
    (s.main ? wantMain : wantRequests) = true;
  }

  GError* err = nullptr;
  gchar* uri = gst_filename_to_uri(input.c_str(), &err);
  if (!uri) {
    std::fprintf(stderr, "framegrab: bad input name \"%s\": %s\n", input.c_str(), err->message);
    g_error_free(err);
    return kExitInput;
  }
  Pipeline p;
  p.maxPixels = options_.maxPixels;
  gst_segment_init(&p.frames.segment, GST_FORMAT_UNDEFINED);
  const bool built = Build(&p, uri, wantMain, wantRequests);
  g_free(uri);
  if (!built) return kExitInput;

  for (const Pending& t : pending) {
    if (t.still.main) {
      g_object_set(p.main, "location", t.still.file.c_str(), "grab-time", t.still.time, "enhance",
                   t.still.enhance ? TRUE : FALSE, "grab-enabled", TRUE, nullptr);
    } else {
      gboolean queued = FALSE;
      g_object_set(p.requests, "grab-enabled", FALSE, nullptr);
      g_signal_emit_by_name(p.requests, "snapshot", t.still.time, t.still.file.c_str(),
                            t.still.enhance ? TRUE : FALSE, &queued);
      if (!queued) {
        std::fprintf(stderr, "framegrab: cannot queue the still \"%s\"\n", t.still.file.c_str());
        return kExitOutput;
      }
    }
  }

  const bool progress = !options_.quiet && isatty(STDERR_FILENO);
  bool progressShown = false;
  GstBus* bus = gst_element_get_bus(p.pipeline);
  gst_bus_set_sync_handler(bus, NoteTrouble, &p, nullptr);
  int status = kExitOk;
  bool finished = false;
  bool stopped = false;  // by an error: stills not reported were never reached
  bool prerolled = false;
  size_t done = 0;
  double lastFrame = 0.0;
  // Resource warnings of the grab elements (a still that could not be
  // written), shown at the end unless a still message already named them.
  std::vector<std::string> writeWarnings;
  // Each kind of warning once: element, domain, code and text.
  std::map<std::tuple<std::string, GQuark, int, std::string>, int> warningsSeen;

  // Seeks ahead to the first target not yet reported when it lies far
  // enough beyond the frames decoded so far. `from` 0: the first seek, from
  // the start of the file.
  auto seekAhead = [&](double from) {
    double halfFrame = 0.0, period = 0.0, decoded = 0.0;
    {
      std::lock_guard<std::mutex> hold(p.frames.mutex);
      // Stills are reported once written, while decoding goes on.
      decoded = std::max(from, p.frames.end);
      halfFrame = p.frames.halfFrame;
      period = p.frames.irregular ? 0.0 : p.frames.period;
    }
    for (const Pending& t : pending) {
      if (t.done) continue;
      const double to = SeekPoint(t.still.time, t.still.main, halfFrame, period);
      if (to > decoded + kSeekGap || (from == 0.0 && to > 0.0)) Seek(p.pipeline, to);
      return;
    }
  };
  // The lines about the stills come in the order the stills were asked for
  // (time order, the main still first on a tie), each once every earlier
  // one is reported: the two grab elements write in the background and
  // report as they finish, in no fixed order between them. `all`: the run
  // is over; what is reported is printed, in order, whatever is missing.
  size_t nextLine = 0;
  auto printReported = [&](bool all) {
    for (; nextLine < pending.size(); ++nextLine) {
      Pending& t = pending[nextLine];
      if (!t.done && !all) break;
      if (!t.done || t.printed) continue;
      ClearProgress(progressShown);
      std::fputs(t.line.c_str(), t.failed ? stderr : stdout);
      std::fflush(t.failed ? stderr : stdout);
      t.printed = true;
    }
  };
  auto fromGrab = [&](GstMessage* msg) {
    return GST_MESSAGE_SRC(msg) == GST_OBJECT(p.main) ||
           GST_MESSAGE_SRC(msg) == GST_OBJECT(p.requests);
  };
  auto damagedFrame = [&](guint64 streamTime) {
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    return p.frames.damaged.count(streamTime) > 0;
  };
  auto noVideo = [&] {
    // A video stream the grab refuses (frames 1 pixel wide) cannot be
    // linked; it is there all the same.
    if (p.sawVideo)
      std::fprintf(stderr,
                   "framegrab: the video in \"%s\" (%s pixels) cannot be taken: frames must be "
                   "at least 2 pixels wide\n",
                   input.c_str(), p.videoSize.empty() ? "?" : p.videoSize.c_str());
    else
      std::fprintf(stderr, "framegrab: no video stream in \"%s\"\n", input.c_str());
    status = WorseExit(status, kExitInput);
    stopped = finished = true;
  };

  // Takes in one still message: what it says is printed in order later.
  auto noteStill = [&](const GstStructure* s) {
    const gchar* file = gst_structure_get_string(s, "location");
    guint64 st = 0;
    gst_structure_get_uint64(s, "stream-time", &st);
    // Without the field the still was written.
    gboolean failed = FALSE, enhanced = FALSE;
    gst_structure_get_boolean(s, "failed", &failed);
    gst_structure_get_boolean(s, "enhanced", &enhanced);
    const gchar* reason = gst_structure_get_string(s, "reason");
    const gchar* rule = gst_structure_get_string(s, "rule");
    for (Pending& t : pending) {
      if (t.done || !file || t.still.file != file) continue;
      t.done = true;
      t.failed = failed != FALSE;
      t.frameTime = static_cast<double>(st) / GST_SECOND;
      ++done;
      char head[160];
      if (t.failed) {
        std::snprintf(head, sizeof head, " (requested %.3f s, frame at %.3f s) was not written: ",
                      t.still.time, t.frameTime);
        t.line = "framegrab: the still \"" + std::string(file) + "\"" + head +
                 (reason ? reason : "reason unknown") + "\n";
      } else {
        std::string notes;
        auto note = [&](const char* text) { notes += (notes.empty() ? " (" : ", ") + std::string(text); };
        if (rule && std::string(rule) == "on-screen") note("frame on screen");
        if (t.still.enhance) note(enhanced ? "enhanced" : "enhancement failed, written unenhanced");
        if (damagedFrame(st)) {
          note("damaged stream");
          status = WorseExit(status, kExitDamaged);
        }
        if (!notes.empty()) notes += ")";
        std::snprintf(head, sizeof head, ": requested %.3f s, frame at %.3f s", t.still.time,
                      t.frameTime);
        t.line = std::string(file) + head + notes + "\n";
      }
      lastFrame = t.frameTime;
      break;
    }
  };

  gst_element_set_state(p.pipeline, GST_STATE_PAUSED);
  gint64 duration = -1;
  while (!finished) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 200 * GST_MSECOND,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS |
                                    GST_MESSAGE_ELEMENT | GST_MESSAGE_ASYNC_DONE |
                                    GST_MESSAGE_APPLICATION));
    if (progress && prerolled) {
      gint64 pos = -1;
      if (duration < 0) gst_element_query_duration(p.pipeline, GST_FORMAT_TIME, &duration);
      gst_element_query_position(p.pipeline, GST_FORMAT_TIME, &pos);
      std::fprintf(stderr, "\rframegrab: %.1f s / %.1f s, stills %zu/%zu\033[K",
                   pos >= 0 ? pos / 1e9 : 0.0, duration >= 0 ? duration / 1e9 : 0.0, done,
                   pending.size());
      progressShown = true;
    }
    if (!msg) continue;
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ERROR: {
        GError* e = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(msg, &e, &debug);
        if (!e) e = g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "unknown error");
        ClearProgress(progressShown);
        if (!fromGrab(msg) && !p.linked && p.sawStream && !p.sawVideo) {
          // Decoding stopped at a stream that is not video (no decoder
          // turns audio into video): the file has no video at all.
          noVideo();
        } else if (fromGrab(msg)) {
          std::fprintf(stderr, "framegrab: %s\n", e->message);
          // A grab element stops on a still it cannot write (its folder
          // gone, say); anything else is the input's fault.
          status = WorseExit(status, e->domain == GST_RESOURCE_ERROR ? kExitOutput : kExitInput);
        } else {
          gchar* name = gst_object_get_name(GST_MESSAGE_SRC(msg));
          const std::string detail = LastLine(debug);
          std::fprintf(stderr, "framegrab: cannot decode \"%s\": %s%s%s%s%s\n", input.c_str(),
                       e->message, detail.empty() ? "" : " (", name ? name : "",
                       detail.empty() ? "" : ": ", detail.empty() ? "" : (detail + ")").c_str());
          g_free(name);
          status = WorseExit(status, kExitInput);
        }
        g_error_free(e);
        g_free(debug);
        stopped = finished = true;
        break;
      }
      case GST_MESSAGE_WARNING: {
        GError* e = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_warning(msg, &e, &debug);
        if (!e) {  // uridecodebin warns of a stream it skips with no text at all
          g_free(debug);
          break;
        }
        gchar* name = gst_object_get_name(GST_MESSAGE_SRC(msg));
        if (fromGrab(msg) && e->domain == GST_RESOURCE_ERROR) {
          // A still the element could not write; its still message names
          // it too, so only a warning no still message covers is shown.
          writeWarnings.push_back(e->message);
        } else if (warningsSeen[{name ? name : "", e->domain, e->code, e->message}]++ == 0) {
          ClearProgress(progressShown);
          const std::string detail = LastLine(debug);
          std::fprintf(stderr, "framegrab: warning from %s: %s%s%s%s\n", name ? name : "?",
                       e->message, detail.empty() ? "" : " (", detail.c_str(),
                       detail.empty() ? "" : ")");
        }
        g_free(name);
        g_error_free(e);
        g_free(debug);
        break;
      }
      case GST_MESSAGE_APPLICATION: {
        ClearProgress(progressShown);
        const GstStructure* s = gst_message_get_structure(msg);
        int width = 0, height = 0;
        if (gst_structure_has_name(s, kTooLargeMessage) &&
            gst_structure_get_int(s, "width", &width) &&
            gst_structure_get_int(s, "height", &height)) {
          std::fprintf(stderr, "framegrab: the video in \"%s\" %s\n", input.c_str(),
                       kelvo::tools::PixelLimitReason(width, height, options_.maxPixels).c_str());
          status = WorseExit(status, kExitInput);
          stopped = finished = true;
        } else {
          noVideo();
        }
        break;
      }
      case GST_MESSAGE_ASYNC_DONE:
        if (!prerolled) {
          prerolled = true;
          seekAhead(0.0);
          gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
        }
        break;
      case GST_MESSAGE_EOS:
        // The element has written by now every still inside the video,
        // including a main still whose time falls in the last frame.
        finished = true;
        break;
      case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(msg);
        if (gst_structure_has_name(s, "missing-plugin")) {
          // Posted before the error that decoding cannot go on: says
          // whether the stream left undecoded is video.
          GstCaps* caps = nullptr;
          if (gst_structure_get(s, "detail", GST_TYPE_CAPS, &caps, nullptr) && caps) {
            p.sawStream = true;
            if (IsVideo(caps)) p.sawVideo = true;
            gst_caps_unref(caps);
          }
          break;
        }
        if (!gst_structure_has_name(s, GST_KELVO_FRAME_GRAB_STILL_MESSAGE)) break;
        noteStill(s);
        printReported(false);
        if (done == pending.size())
          finished = true;
        else
          seekAhead(lastFrame);
        break;
      }
      default:
        break;
    }
    gst_message_unref(msg);
  }
  ClearProgress(progressShown);
  // A seek that lands past the last frame (a still far beyond the end)
  // shows no frame at all: the end is then the length the file declares.
  gint64 declared = -1;
  gst_element_query_duration(p.pipeline, GST_FORMAT_TIME, &declared);
  // Stopping waits for the stills still being written (a run stopped by an
  // error); their messages come on the bus, and are taken in too.
  gst_element_set_state(p.pipeline, GST_STATE_NULL);
  while (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
    const GstStructure* s = gst_message_get_structure(msg);
    if (s && gst_structure_has_name(s, GST_KELVO_FRAME_GRAB_STILL_MESSAGE)) noteStill(s);
    gst_message_unref(msg);
  }
  gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
  gst_object_unref(bus);
  printReported(true);

  for (const auto& [kind, count] : warningsSeen)
    if (count > 1)
      std::fprintf(stderr, "framegrab: the warning from %s \"%s\" came %d times\n",
                   std::get<0>(kind).c_str(), std::get<3>(kind).c_str(), count);
  double firstDamage = -1.0, end = -1.0;
  bool endSeen = true;
  {
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    firstDamage = p.frames.firstDamage;
    end = p.frames.end;
    endSeen = !p.frames.restarting;
  }
  if (!endSeen && declared > 0) end = std::max(end, static_cast<double>(declared) / GST_SECOND);
  if (firstDamage >= 0.0)
    std::fprintf(stderr,
                 "framegrab: the decoder lost data in \"%s\" (first before the frame at %.3f s); "
                 "stills of frames delivered right after a loss are marked \"damaged stream\"\n",
                 input.c_str(), firstDamage);

  // A warning that names a still already reported failed says nothing new.
  bool writeFailed = false;
  for (const std::string& warning : writeWarnings) {
    bool named = false;
    for (const Pending& t : pending)
      named = named || (t.failed && warning.find(t.still.file) != std::string::npos);
    if (!named) std::fprintf(stderr, "framegrab: %s\n", warning.c_str());
    writeFailed = true;
  }
  bool beyond = false, untaken = false;
  for (const Pending& t : pending) {
    writeFailed = writeFailed || t.failed;
    if (t.done) continue;
    if (stopped && end < 0.0) {
      continue;  // nothing was decoded: the reason given says it all
    } else if (stopped) {
      std::fprintf(stderr, "framegrab: \"%s\" (at %.3f s) was not written: decoding stopped "
                           "before its frame\n", t.still.file.c_str(), t.still.time);
    } else if (t.still.time >= end) {
      if (!beyond) {
        if (end < 0.0)
          std::fprintf(stderr, "framegrab: \"%s\" has no frames; these stills were not "
                               "written:\n", input.c_str());
        else
          std::fprintf(stderr, "framegrab: these stills lie beyond the end of \"%s\" (%s %.3f s) "
                               "and were not written:\n",
                       input.c_str(), endSeen ? "its last frame ends at" : "it lasts", end);
      }
      beyond = true;
      std::fprintf(stderr, "  %s (at %.3f s)\n", t.still.file.c_str(), t.still.time);
    } else {
      // Inside the video yet not taken: nothing the rules leave out, so
      // say plainly that it is missing rather than blame the end.
      std::fprintf(stderr, "framegrab: \"%s\" (at %.3f s, inside the video, which ends at "
                           "%.3f s) was not written: no frame was taken for it\n",
                   t.still.file.c_str(), t.still.time, end);
      untaken = true;
    }
  }
  if (writeFailed) status = WorseExit(status, kExitOutput);
  if (beyond || untaken) status = WorseExit(status, kExitNotWritten);
  return status;
}

}  // namespace kelvo::framegrab
