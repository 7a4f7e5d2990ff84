#include "tools/framegrab/GrabSession.h"

#include <gst/gst.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

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
};

struct Pipeline {
  GstElement* pipeline = nullptr;
  GstElement* decoder = nullptr;
  GstElement* convert = nullptr;
  GstElement* main = nullptr;
  GstElement* requests = nullptr;
  bool linked = false;
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

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  if (p->linked) return;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const bool video = caps && gst_caps_get_size(caps) > 0 &&
                     g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                                      "video/");
  if (caps) gst_caps_unref(caps);
  if (!video) return;
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
  GstElement* convert2 = Make("videoconvert", "toyuy2");
  GstElement* filter = Make("capsfilter", "yuy2");
  GstElement* sink = Make("fakesink", "sink");
  if (wantMain) p->main = Make("kelvoframegrab", "main");
  if (wantRequests) p->requests = Make("kelvoframegrab", "requests");
  if (!dec || !p->convert || !flip || !convert2 || !filter || !sink ||
      (wantMain && !p->main) || (wantRequests && !p->requests))
    return false;

  GstCaps* video = gst_caps_from_string("video/x-raw(ANY)");
  g_object_set(dec, "uri", uri.c_str(), "caps", video, "expose-all-streams", FALSE, nullptr);
  gst_caps_unref(video);
  // Players show videos with a rotation tag upright; so do the stills.
  gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  GstCaps* yuy2 = gst_caps_from_string("video/x-raw,format=YUY2");
  g_object_set(filter, "caps", yuy2, nullptr);
  gst_caps_unref(yuy2);
  // As fast as the decoder goes; no frame may be dropped.
  g_object_set(sink, "sync", FALSE, "qos", FALSE, nullptr);

  gst_bin_add_many(GST_BIN(p->pipeline), dec, p->convert, flip, convert2, filter, sink, nullptr);
  GstElement* last = filter;
  gst_element_link_many(p->convert, flip, convert2, filter, nullptr);
  for (GstElement* grab : {p->main, p->requests}) {
    if (!grab) continue;
    gst_bin_add(GST_BIN(p->pipeline), grab);
    gst_element_link(last, grab);
    last = grab;
  }
  gst_element_link(last, sink);
  g_signal_connect(dec, "pad-added", G_CALLBACK(OnPadAdded), p);
  g_signal_connect(dec, "no-more-pads", G_CALLBACK(OnNoMorePads), p);
  return true;
}

bool Seek(GstElement* pipeline, double seconds) {
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  return gst_element_seek_simple(pipeline, GST_FORMAT_TIME, flags,
                                 static_cast<gint64>(seconds * GST_SECOND));
}

void ClearProgress(bool shown) {
  if (shown) std::fprintf(stderr, "\r\033[K");
}

}  // namespace

std::string BundledSamplePath() {
  for (const char* path : {KELVO_INSTALLED_SAMPLE, KELVO_SOURCE_SAMPLE})
    if (g_file_test(path, G_FILE_TEST_IS_REGULAR)) return path;
  return KELVO_SOURCE_SAMPLE;
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
    pending.push_back({s, false, false, 0.0});
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
  int status = kExitOk;
  bool finished = false;
  bool prerolled = false;
  size_t done = 0;
  double lastFrame = 0.0;
  // Resource warnings of the grab elements (a still that could not be
  // written), shown at the end unless a still message already named them.
  std::vector<std::string> writeWarnings;

  // Seeks ahead to the first target not yet reported when it lies far
  // enough beyond the last frame seen.
  auto seekAhead = [&](double from) {
    for (const Pending& t : pending) {
      if (t.done) continue;
      const double to = t.still.time - kSeekLead;
      if (to > from + kSeekGap || (from == 0.0 && to > 0.0)) Seek(p.pipeline, to);
      return;
    }
  };
  auto fromGrab = [&](GstMessage* msg) {
    return GST_MESSAGE_SRC(msg) == GST_OBJECT(p.main) ||
           GST_MESSAGE_SRC(msg) == GST_OBJECT(p.requests);
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
        ClearProgress(progressShown);
        if (fromGrab(msg))
          std::fprintf(stderr, "framegrab: %s\n", e->message);
        else
          std::fprintf(stderr, "framegrab: cannot decode \"%s\": %s\n", input.c_str(), e->message);
        // A grab element stops on a still it cannot write (its folder gone,
        // say); anything else is the input's fault.
        status = fromGrab(msg) && e->domain == GST_RESOURCE_ERROR ? kExitOutput : kExitInput;
        g_error_free(e);
        g_free(debug);
        finished = true;
        break;
      }
      case GST_MESSAGE_WARNING: {
        // A grab element warns of a still it could not write and goes on;
        // the still's own message names it too.
        if (!fromGrab(msg)) break;
        GError* e = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_warning(msg, &e, &debug);
        if (e->domain == GST_RESOURCE_ERROR) writeWarnings.push_back(e->message);
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
        } else {
          std::fprintf(stderr, "framegrab: \"%s\" has no video stream\n", input.c_str());
        }
        status = kExitInput;
        finished = true;
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
        finished = true;
        break;
      case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(msg);
        if (!gst_structure_has_name(s, GST_KELVO_FRAME_GRAB_STILL_MESSAGE)) break;
        const gchar* file = gst_structure_get_string(s, "location");
        guint64 st = 0;
        gst_structure_get_uint64(s, "stream-time", &st);
        // Without the field the still was written.
        gboolean failed = FALSE;
        gst_structure_get_boolean(s, "failed", &failed);
        const gchar* reason = gst_structure_get_string(s, "reason");
        for (Pending& t : pending) {
          if (t.done || !file || t.still.file != file) continue;
          t.done = true;
          t.failed = failed != FALSE;
          t.frameTime = st / 1e9;
          ++done;
          ClearProgress(progressShown);
          if (t.failed) {
            std::fprintf(stderr,
                         "framegrab: the still \"%s\" (requested %.3f s, frame at %.3f s) was not "
                         "written: %s\n",
                         file, t.still.time, t.frameTime, reason ? reason : "reason unknown");
          } else {
            std::printf("%s: requested %.3f s, frame at %.3f s%s\n", file, t.still.time,
                        t.frameTime, t.still.enhance ? " (enhanced)" : "");
            std::fflush(stdout);
          }
          lastFrame = t.frameTime;
          break;
        }
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
  gst_object_unref(bus);
  ClearProgress(progressShown);
  gst_element_set_state(p.pipeline, GST_STATE_NULL);

  if (status != kExitOk) return status;
  // A warning that names a still already reported failed says nothing new.
  bool writeFailed = false;
  for (const std::string& warning : writeWarnings) {
    bool named = false;
    for (const Pending& t : pending)
      named = named || (t.failed && warning.find(t.still.file) != std::string::npos);
    if (!named) std::fprintf(stderr, "framegrab: %s\n", warning.c_str());
    writeFailed = true;
  }
  bool missing = false;
  for (const Pending& t : pending) {
    writeFailed = writeFailed || t.failed;
    if (t.done) continue;
    if (!missing)
      std::fprintf(stderr, "framegrab: these stills lie beyond the end of \"%s\" and were not "
                           "written:\n", input.c_str());
    missing = true;
    std::fprintf(stderr, "  %s (at %.3f s)\n", t.still.file.c_str(), t.still.time);
  }
  if (writeFailed) return kExitOutput;
  return missing ? kExitNotWritten : kExitOk;
}

}  // namespace kelvo::framegrab
