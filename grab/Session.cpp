#include "grab/Session.h"

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "filter/GrabRule.h"
#include "gst/GstKelvoFrameGrab.h"
#include "host/Sharpness.h"
#include "host/StillWriter.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "tools/common/PixelLimit.h"

namespace kelvo::grab::detail {
namespace {

// Application messages the decoding side posts to the main loop.
constexpr const char* kNoVideoMessage = "no-video";
constexpr const char* kTooLargeMessage = "frames-too-large";
constexpr const char* kFirstVideoMessage = "first-video";

struct Pending {
  Still still;
  bool done = false;    // the element has reported it, written or not
  bool failed = false;  // reported as not written
  double frameTime = 0.0;
  std::string line;     // what to print about it, on stdout, or on stderr when failed
  bool printed = false;
};

// What the pass learns from the decoded frames on their way to the grab
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
  // Starts of the latest frame and of the one before it, seconds, as the
  // grab elements take them (whole 100 ns units); < 0: none yet.
  double lastStart = -1.0;
  double previousStart = -1.0;
  std::set<guint64> damaged;  // stream times (ns) of damaged frames
  double firstDamage = -1.0;
  // When the stream began, UTC seconds since 1970, from the container's tags.
  std::optional<int64_t> creationTime;
  std::atomic<bool> reported{false};  // set by the bus's synchronous handler
  std::atomic<uint64_t> seen{0};       // frames logged so far: the pass is moving
};

// A frame the grab elements have seen, in their own arithmetic, and whether
// it settles every still asked: once it does, no later frame can be taken,
// and decoding stops there instead of running on while the stills are
// written.
struct Settling {
  struct Target {
    double time = 0.0;
    bool main = false;
  };
  std::vector<Target> targets;  // fixed before the run
  bool settled = false;
};

// Frames left out before the decoder: an H.264 frame no other frame refers
// to, well before every still, is never shown to the grab elements, so it
// need not be decoded. Touched on the demuxer's thread and, for a flush, on
// the seeking one.
struct Skipping {
  std::mutex mutex;
  std::vector<double> targets;  // the stills' times, seconds; fixed before the run
  int lengthSize = 0;           // bytes before each unit of a sample; 0: nothing is left out
  GstSegment segment;
  std::set<double> kept;        // stream times of the frames let through since the last flush
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
  Skipping skipping;
  Settling settling;  // touched on the streaming thread only, once running
  int64_t maxPixels = 0;
  int decoderThreads = 0;  // Options::decoderThreads
  // Set on the streaming thread when the decoded frames are too large; from
  // then on no frame goes further.
  std::atomic<bool> tooLarge{false};
  // The first video stream found is held before its decoder until the main
  // loop has sought to the first still (see HoldFirstFrame).
  bool holdFirstVideo = false;  // fixed before the run
  std::atomic<bool> firstVideoHeld{false};
  std::atomic<bool> firstVideoPosted{false};
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

// A file opened plays from its start, and its first frame would be decoded
// before the pipeline could seek at all (the decoded stream is exposed only
// once its first frame has been). So the first video stream is held as it
// leaves the demuxer, before any of it is decoded. When its first frame
// comes (the decoder is then in place) the main loop is told; it seeks right
// there, upstream of the decoder, and lets the stream go. The stream's caps
// say its frame rate, which the seek point needs.
GstPadProbeReturn HoldFirstFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  if (p->firstVideoPosted.exchange(true)) return GST_PAD_PROBE_OK;
  int num = 0, den = 0;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  const GstStructure* s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
  if (!s || !gst_structure_get_fraction(s, "framerate", &num, &den)) num = den = 0;
  if (caps) gst_caps_unref(caps);
  gst_element_post_message(
      p->decoder,
      gst_message_new_application(
          GST_OBJECT(p->decoder),
          gst_structure_new(kFirstVideoMessage, "pad", GST_TYPE_PAD, pad, "probe", G_TYPE_ULONG,
                            info->id, "rate-num", G_TYPE_INT, num, "rate-den", G_TYPE_INT, den,
                            nullptr)));
  return GST_PAD_PROBE_OK;
}

void HoldFirstVideo(Pipeline* p, GstPad* pad) {
  gst_pad_add_probe(pad,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER |
                                                 GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    HoldFirstFrame, p, nullptr);
}

// Whether an H.264 sample (units each led by its length, `lengthSize`
// bytes) holds only pictures no other picture refers to: every slice with a
// zero reference mark, and besides them only supplemental information or
// delimiters. Anything unreadable counts as referred to.
bool Unreferenced(const guint8* data, size_t size, int lengthSize) {
  size_t pos = 0;
  bool slice = false;
  while (pos < size) {
    if (size - pos < static_cast<size_t>(lengthSize)) return false;
    size_t length = 0;
    for (int i = 0; i < lengthSize; ++i) length = (length << 8) | data[pos + i];
    pos += lengthSize;
    if (length == 0 || length > size - pos) return false;
    const guint8 header = data[pos];
    const int type = header & 0x1f;
    if (type == 1) {
      if ((header & 0x60) != 0) return false;
      slice = true;
    } else if (type != 6 && type != 9) {
      return false;
    }
    pos += length;
  }
  return slice;
}

// Leaves out, before the decoder, a frame that cannot matter to any still:
// one no other frame refers to, shown neither by the grab rule nor as the
// frame on screen. For every still at T it either lies before a frame let
// through that starts at least a second before T (no rule takes a frame
// earlier than half a second before its time, and the later frame is on
// screen at T rather than it), or after one starting a second or more past
// T (which settles T first).
GstPadProbeReturn SkipUnseen(GstPad*, GstPadProbeInfo* info, gpointer data) {
  Skipping& k = static_cast<Pipeline*>(data)->skipping;
  std::lock_guard<std::mutex> hold(k.mutex);
  if (info->type & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH)) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &k.segment);
      k.kept.clear();
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
      k.kept.clear();
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      // Only samples in the length-led layout are read; the description of
      // the stream says how long the lengths are.
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      const GstStructure* st = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0)
                                                                  : nullptr;
      const gchar* format = st ? gst_structure_get_string(st, "stream-format") : nullptr;
      const GValue* header = st ? gst_structure_get_value(st, "codec_data") : nullptr;
      k.lengthSize = 0;
      if (st && gst_structure_has_name(st, "video/x-h264") && format &&
          std::string(format) == "avc" && header && G_VALUE_HOLDS(header, GST_TYPE_BUFFER)) {
        GstMapInfo map;
        GstBuffer* headerBuffer = gst_value_get_buffer(header);
        if (headerBuffer && gst_buffer_map(headerBuffer, &map, GST_MAP_READ)) {
          if (map.size >= 5 && map.data[0] == 1) k.lengthSize = (map.data[4] & 3) + 1;
          gst_buffer_unmap(headerBuffer, &map);
        }
      }
    }
    return GST_PAD_PROBE_OK;
  }
  if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) return GST_PAD_PROBE_OK;
  GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
  guint64 st = 0;
  if (!GST_BUFFER_PTS_IS_VALID(buf) || k.segment.format != GST_FORMAT_TIME ||
      gst_segment_to_stream_time_full(&k.segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buf), &st) != 1)
    return GST_PAD_PROBE_OK;
  const double x = static_cast<double>(st) / GST_SECOND;
  bool skip = false;
  if (k.lengthSize > 0 && !k.targets.empty() &&
      GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DELTA_UNIT) &&
      !GST_BUFFER_FLAG_IS_SET(buf, GST_BUFFER_FLAG_DISCONT)) {
    const auto after = k.kept.upper_bound(x);
    const auto before = k.kept.lower_bound(x);
    skip = true;
    for (double t : k.targets) {
      const bool earlier = after != k.kept.end() && *after <= t - kSkipMargin;
      const bool later = before != k.kept.begin() && *std::prev(before) >= t + kSkipMargin;
      if (!earlier && !later) {
        skip = false;
        break;
      }
    }
    if (skip) {
      GstMapInfo map;
      skip = gst_buffer_map(buf, &map, GST_MAP_READ);
      if (skip) {
        skip = Unreferenced(map.data, map.size, k.lengthSize);
        gst_buffer_unmap(buf, &map);
      }
    }
  }
  if (skip) return GST_PAD_PROBE_DROP;
  k.kept.insert(x);
  return GST_PAD_PROBE_OK;
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
  if (p->holdFirstVideo && IsVideo(caps) && !p->firstVideoHeld) {
    // The pad asked about stands for a pad inside the decoder; the stream
    // is held there, unless that is the type finder's whole file.
    GstPad* inner = GST_IS_GHOST_PAD(pad) ? gst_ghost_pad_get_target(GST_GHOST_PAD(pad))
                                          : GST_PAD(gst_object_ref(pad));
    GstElement* element = inner ? gst_pad_get_parent_element(inner) : nullptr;
    GstElementFactory* made = element ? gst_element_get_factory(element) : nullptr;
    if (made && std::string(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(made))) != "typefind" &&
        !p->firstVideoHeld.exchange(true))
    {
      HoldFirstVideo(p, inner);
      gst_pad_add_probe(inner,
                        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                     GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                     GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                        SkipUnseen, p, nullptr);
    }
    if (element) gst_object_unref(element);
    if (inner) gst_object_unref(inner);
  }
  return TRUE;
}

// The date and time a tag list gives for the recording, as UTC seconds
// since 1970; only a full date with a time of day counts.
std::optional<int64_t> CreationTime(const GstTagList* tags) {
  GstDateTime* when = nullptr;
  if (!tags || !gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &when) || !when)
    return std::nullopt;
  std::optional<int64_t> seconds;
  if (gst_date_time_has_day(when) && gst_date_time_has_time(when)) {
    GDateTime* g = gst_date_time_to_g_date_time(when);
    if (g) {
      seconds = g_date_time_to_unix(g);
      g_date_time_unref(g);
    }
  }
  gst_date_time_unref(when);
  return seconds;
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
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_TAG && !log->creationTime) {
      GstTagList* tags = nullptr;
      gst_event_parse_tag(event, &tags);
      log->creationTime = CreationTime(tags);
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
  log->seen.fetch_add(1, std::memory_order_relaxed);
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
  log->previousStart = log->lastStart;
  log->lastStart = static_cast<double>(static_cast<int64_t>(st / 100)) / 10000000.0;
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

// Whether a frame starting at `t` has settled a still at `target`: taken, or
// passed by. A request is served by a frame inside its interval and written
// with the frame on screen once the interval has passed, so any frame after
// its opening settles it whatever the half frame; the main still fires on
// the first frame the grab rule reaches. The half frame is the caps' (0
// when they declare no rate: then the rule is only stricter than the
// element's own).
bool Settles(double t, const Settling::Target& target, double halfFrame) {
  if (target.main) return kelvo::filter::MainGrabReached(t, target.time, halfFrame);
  return kelvo::filter::RequestDue(t, target.time, halfFrame) ||
         kelvo::filter::RequestWindowClosed(t, target.time, halfFrame);
}

// Ends the stream before the grab elements once the frame that went
// through them last settled every still. The grab elements run on this
// thread, so when a frame arrives here the one before it has been through
// them. Decoding further would only take the processor from the stills'
// writing; the end of stream stops the decoder and the demuxer (their next
// frame is refused), and the grab elements finish what they hold as at any
// end.
GstPadProbeReturn EndWhenSettled(GstPad* pad, GstPadProbeInfo*, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  Settling& s = p->settling;
  if (s.settled) return GST_PAD_PROBE_DROP;
  double halfFrame = 0.0, before = -1.0;
  {
    std::lock_guard<std::mutex> hold(p->frames.mutex);
    halfFrame = p->frames.halfFrame;
    before = p->frames.previousStart;
  }
  if (before < 0.0 || s.targets.empty()) return GST_PAD_PROBE_OK;
  for (const Settling::Target& target : s.targets)
    if (!Settles(before, target, halfFrame)) return GST_PAD_PROBE_OK;
  s.settled = true;
  gst_pad_push_event(pad, gst_event_new_eos());
  return GST_PAD_PROBE_DROP;
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

// Decoders added by uridecodebin are set up as they come (see
// ConfigureDecoder).
void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  ConfigureDecoder(element, static_cast<Pipeline*>(data)->decoderThreads);
}

// A video stream the demuxer found, on the demuxer's thread. The first one
// is held and its frames looked at as they leave the demuxer (see
// HoldFirstFrame and SkipUnseen), then decoded into the conversion; any
// other stream is left unlinked, which the demuxer takes as not wanted.
void OnDemuxPad(GstElement*, GstPad* pad, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  p->sawStream = true;
  if (!VideoTrack(pad)) return;
  p->sawVideo = true;
  if (p->firstVideoHeld.exchange(true)) return;
  if (p->holdFirstVideo) HoldFirstVideo(p, pad);
  gst_pad_add_probe(pad,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                 GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                 GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                    SkipUnseen, p, nullptr);
  GstPad* decoded = DecodeStream(GST_BIN(p->pipeline), pad, p->decoderThreads, G_CALLBACK(OnPadAdded),
                                 G_CALLBACK(OnNoMorePads), p);
  if (decoded) {
    OnPadAdded(nullptr, decoded, p);
    gst_object_unref(decoded);
  }
}

// The demuxer has shown all its streams: without a video one among them the
// file has no video. (A video stream handed to a decodebin is linked only
// once that has decoded it; its own "no-more-pads" speaks for it.)
void OnDemuxNoMorePads(GstElement* demux, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  if (!p->firstVideoHeld)
    gst_element_post_message(demux, gst_message_new_application(
                                        GST_OBJECT(demux), gst_structure_new_empty(kNoVideoMessage)));
}

// Answers the decoder's question how its frames may be laid out: every
// element after it reads frames by their video description, whatever their
// row strides and plane offsets. A libav decoder then decodes into
// GStreamer buffers (padded as the codec needs) rather than into a pool of
// its own that it zeroes as it grows; it still copies each frame out once,
// as it did from its own pool.
GstPadProbeReturn AnswerAllocation(GstPad*, GstPadProbeInfo* info, gpointer) {
  GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
  if (GST_QUERY_TYPE(query) != GST_QUERY_ALLOCATION) return GST_PAD_PROBE_OK;
  gst_query_add_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr);
  return GST_PAD_PROBE_HANDLED;
}

GstElement* Make(const char* factory, const char* name, std::string* missing) {
  GstElement* e = gst_element_factory_make(factory, name);
  if (!e && missing->empty()) missing->assign(factory);
  return e;
}

// Builds the pipeline; the name of a missing element in *missing. An MP4
// or QuickTime file is read by its demuxer directly (see DirectSource),
// anything else through uridecodebin.
bool Build(Pipeline* p, const std::string& file, const std::string& uri, bool wantMain,
           bool wantRequests, std::string* missing) {
  p->pipeline = gst_pipeline_new("framegrab");
  GstElement* demux = nullptr;
  GstElement* dec = DirectSource(file, &demux);
  if (dec) {
    gst_bin_add(GST_BIN(p->pipeline), dec);
    gst_bin_add(GST_BIN(p->pipeline), demux);
    gst_element_link(dec, demux);
    g_signal_connect(demux, "pad-added", G_CALLBACK(OnDemuxPad), p);
    g_signal_connect(demux, "no-more-pads", G_CALLBACK(OnDemuxNoMorePads), p);
    dec = nullptr;
    p->decoder = demux;
  } else {
    dec = Make("uridecodebin", "decode", missing);
    p->decoder = dec;
  }
  p->convert = Make("videoconvert", "convert", missing);
  GstElement* flip = Make("videoflip", "upright", missing);
  GstElement* filter = Make("capsfilter", "formats", missing);
  GstElement* sink = Make("fakesink", "sink", missing);
  // This library's own element type (see InitGstreamer), whatever plug-in
  // the registry knows by that name.
  auto grab = [](const char* name) {
    return GST_ELEMENT(g_object_new(GST_TYPE_KELVO_FRAME_GRAB, "name", name, nullptr));
  };
  if (wantMain) p->main = grab("main");
  if (wantRequests) p->requests = grab("requests");
  auto release = [](GstElement* e) {
    if (e) gst_object_unref(gst_object_ref_sink(e));
  };
  if (!p->decoder || !p->convert || !flip || !filter || !sink ||
      (wantMain && !p->main) || (wantRequests && !p->requests)) {
    for (GstElement* e : {dec, p->convert, flip, filter, sink, p->main, p->requests}) release(e);
    p->main = p->requests = p->convert = p->decoder = nullptr;
    return false;
  }

  if (dec) {
    GstCaps* video = gst_caps_from_string("video/x-raw(ANY)");
    g_object_set(dec, "uri", uri.c_str(), "caps", video, "expose-all-streams", FALSE, nullptr);
    gst_caps_unref(video);
    gst_bin_add(GST_BIN(p->pipeline), dec);
    g_signal_connect(dec, "pad-added", G_CALLBACK(OnPadAdded), p);
    g_signal_connect(dec, "autoplug-continue", G_CALLBACK(OnAutoplugContinue), p);
    g_signal_connect(dec, "no-more-pads", G_CALLBACK(OnNoMorePads), p);
  }
  // Players show videos with a rotation tag upright; so do the stills.
  gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  // Until a rotation tag comes it leaves frames as they are, yet it starts
  // out copying each one (it only switches to passing them through when
  // its direction changes); it switches back itself when a tag turns it.
  gst_base_transform_set_passthrough(GST_BASE_TRANSFORM(flip), TRUE);
  // The grab elements take the decoders' own formats and convert only the
  // frames they write; anything else is converted on the way.
  GstCaps* formats = gst_caps_from_string("video/x-raw,format=" KELVO_FRAME_GRAB_FORMATS);
  g_object_set(filter, "caps", formats, nullptr);
  gst_caps_unref(formats);
  // As fast as the decoder goes; no frame may be dropped.
  g_object_set(sink, "sync", FALSE, "qos", FALSE, nullptr);

  gst_bin_add_many(GST_BIN(p->pipeline), p->convert, flip, filter, sink, nullptr);
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
  gst_pad_add_probe(toGrab, GST_PAD_PROBE_TYPE_BUFFER, EndWhenSettled, p, nullptr);
  gst_object_unref(toGrab);
  GstPad* end = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(end, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, AnswerAllocation, nullptr, nullptr);
  gst_object_unref(end);
  g_signal_connect(p->pipeline, "deep-element-added", G_CALLBACK(OnElementAdded), p);
  return true;
}

// Seeks to the key frame at or before `seconds`, from which the decoder
// delivers every frame, each with its true stream time. Times were checked
// against kMaxSeconds when parsed; the conversion is guarded all the same,
// since a double out of range makes the cast undefined.
GstEvent* SeekEvent(double seconds) {
  if (!(seconds >= 0.0 && seconds <= kMaxSeconds)) return nullptr;
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                               GST_SEEK_FLAG_SNAP_BEFORE);
  return gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                            static_cast<gint64>(seconds * GST_SECOND), GST_SEEK_TYPE_NONE, -1);
}

bool Seek(GstElement* pipeline, double seconds) {
  GstEvent* seek = SeekEvent(seconds);
  return seek && gst_element_send_event(pipeline, seek);
}

}  // namespace

bool NoTaskRunning(GstElement* pipeline) {
  bool tasks = false, running = false;
  GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(pipeline));
  GValue item = G_VALUE_INIT;
  bool more = true;
  while (more && !running) {
    switch (gst_iterator_next(elements, &item)) {
      case GST_ITERATOR_OK: {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        GST_OBJECT_LOCK(element);
        for (GList* l = element->pads; l && !running; l = l->next) {
          GstPad* pad = GST_PAD(l->data);
          GST_OBJECT_LOCK(pad);
          if (GstTask* task = GST_PAD_TASK(pad)) {
            tasks = true;
            running = gst_task_get_state(task) == GST_TASK_STARTED;
          }
          GST_OBJECT_UNLOCK(pad);
        }
        GST_OBJECT_UNLOCK(element);
        g_value_reset(&item);
        break;
      }
      case GST_ITERATOR_RESYNC:
        gst_iterator_resync(elements);
        tasks = running = false;
        break;
      default:
        more = false;
        break;
    }
  }
  g_value_unset(&item);
  gst_iterator_free(elements);
  return tasks && !running;
}

namespace {

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


// One request handed to an element. A still that looks for the sharpest
// frame is several.
struct Shot {
  size_t owner = 0;      // index of its still
  int offset = 0;        // frames from the still's target
  std::string file;      // the name the element knows it by
  double time = 0.0;
  bool main = false;
  bool done = false;
};

// A still being taken, with what its shots have reported.
struct Taking {
  Still still;
  std::vector<size_t> shots;
  size_t shotsDone = 0;
  bool done = false;
  bool reported = false;  // handed to onStill
  bool elementWrites = true;  // its one shot is written by the element as asked
  // From the written hook, under the pass's mutex: the sharpest shot so far.
  int bestShot = -1;
  double bestScore = -1.0;
  std::vector<uint8_t> bestPixels;
  int bestWidth = 0, bestHeight = 0;
  // The enhancement's report of the shot the element wrote, when enhanced.
  std::optional<KelvoLibImageProcessing::PipelineSnapshot::Report> report;
};

// What the elements' hooks share with the loop.
struct Shared {
  std::mutex mutex;
  std::map<std::string, size_t> shotOf;  // element file name -> shot; fixed before the run
  std::vector<Shot>* shots = nullptr;
  std::vector<Taking>* stills = nullptr;
  // Shots that wrote no file by design and gave their pixels: the element
  // reports them as not written, since no file was.
  std::vector<char> pixelsTaken;
};

// A name for a shot that writes no file. The element checks its folder as
// for any still, so it lies in the temporary folder; nothing is created
// there. Unique to this pass (its address) and this process.
std::string PixelsOnlyName(const void* pass, size_t index) {
  char name[96];
  std::snprintf(name, sizeof name, "kelvo-grab-%ld-%p-%zu.bmp", static_cast<long>(getpid()), pass,
                index);
  return (std::filesystem::path(g_get_tmp_dir()) / name).string();
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


bool VideoTrack(GstPad* pad) {
  // The demuxer names its pads after the kind of track, whatever the codec
  // (Motion JPEG comes as image/jpeg).
  gchar* name = gst_pad_get_name(pad);
  const bool video = name && g_str_has_prefix(name, "video_");
  g_free(name);
  return video;
}

GstElement* DirectSource(const std::string& file, GstElement** demux) {
  *demux = nullptr;
  // An ISO media file starts with its file type box: a size, then "ftyp".
  char head[8] = {};
  if (FILE* f = std::fopen(file.c_str(), "rb")) {
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got != sizeof head) return nullptr;
  } else {
    return nullptr;
  }
  if (std::memcmp(head + 4, "ftyp", 4) != 0) return nullptr;
  GstElement* source = gst_element_factory_make("filesrc", "source");
  GstElement* demuxer = gst_element_factory_make("qtdemux", "demux");
  if (!source || !demuxer) {
    for (GstElement* e : {source, demuxer})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    return nullptr;
  }
  g_object_set(source, "location", file.c_str(), nullptr);
  *demux = demuxer;
  return source;
}

// The thread count of a libav decoder is set as it is added and before it
// opens the codec (which reads it then): a worker that shares the machine
// with others asks for fewer threads than the decoder's one per core.
void ConfigureDecoder(GstElement* element, int threads) {
  GstElementFactory* factory = gst_element_get_factory(element);
  const gchar* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
  if (!name || !g_str_has_prefix(name, "avdec_")) return;
  GObjectClass* type = G_OBJECT_GET_CLASS(element);
  if (threads > 0 && g_object_class_find_property(type, "max-threads"))
    g_object_set(element, "max-threads", threads, nullptr);
}

GstPad* DecodeStream(GstBin* bin, GstPad* pad, int threads, GCallback onPad, GCallback onNoMorePads,
                     gpointer data) {
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* s = caps && gst_caps_get_size(caps) > 0 ? gst_caps_get_structure(caps, 0) : nullptr;
  const gchar* format = s ? gst_structure_get_string(s, "stream-format") : nullptr;
  const gchar* alignment = s ? gst_structure_get_string(s, "alignment") : nullptr;
  int width = 0;
  // What avdec_h264 takes as it is; a frame narrower than 2 pixels goes the
  // general way too, which says why it cannot be taken.
  const bool h264 = s && gst_structure_has_name(s, "video/x-h264") && format &&
                    (std::strcmp(format, "avc") == 0 || std::strcmp(format, "byte-stream") == 0) &&
                    alignment && std::strcmp(alignment, "au") == 0 &&
                    gst_structure_get_int(s, "width", &width) && width >= 2;
  if (caps) gst_caps_unref(caps);
  GstElement* decoder = h264 ? gst_element_factory_make("avdec_h264", nullptr) : nullptr;
  const bool direct = decoder != nullptr;
  if (direct) {
    ConfigureDecoder(decoder, threads);
  } else {
    decoder = gst_element_factory_make("decodebin", nullptr);
    if (!decoder) return nullptr;
    g_signal_connect(decoder, "pad-added", onPad, data);
    if (onNoMorePads) g_signal_connect(decoder, "no-more-pads", onNoMorePads, data);
  }
  gst_bin_add(bin, decoder);
  GstPad* sink = gst_element_get_static_pad(decoder, "sink");
  const bool linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
  gst_object_unref(sink);
  gst_element_sync_state_with_parent(decoder);
  return linked && direct ? gst_element_get_static_pad(decoder, "src") : nullptr;
}

void InitGstreamer() {
  static std::once_flag once;
  static bool ours = false;
  std::call_once(once, [] {
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    // The element type is registered from this library's own copy unless
    // the plug-in file was loaded into the process first: one name, one
    // type per process. Only our copy takes the hooks the stills need.
    if (g_type_from_name("GstKelvoFrameGrab") == 0) ours = gst_kelvo_frame_grab_register(nullptr);
  });
  if (!ours)
    throw Error(Error::Kind::Input,
                "the kelvoframegrab plug-in was loaded from its file into this process before the "
                "grab library, which carries the element itself; load one or the other");
}

std::vector<Still> RunPass(const std::vector<Wanted>& wanted, const Options& options,
                           const PassSettings& settings) {
  if (wanted.empty()) return {};  // nothing to decode for
  const std::string& input = settings.input;
  auto warn = [&](const std::string& text) {
    if (options.onWarning) options.onWarning(text);
  };
  char line[512];

  std::vector<Taking> stills(wanted.size());
  std::vector<Shot> shots;
  Shared shared;
  shared.shots = &shots;
  shared.stills = &stills;
  bool wantMain = false, wantRequests = false;
  const int around = options.sharpest > 0 && settings.period > 0.0 ? options.sharpest : 0;
  if (options.sharpest > 0 && around == 0 && !wanted.empty())
    warn("\"" + input + "\" declares no constant frame rate, so the sharpest frame cannot be "
         "looked for among the neighbours: the stills are taken as asked");
  for (size_t i = 0; i < wanted.size(); ++i) {
    const Wanted& w = wanted[i];
    Taking& t = stills[i];
    t.still.request = w.request;
    t.still.requestedTime = w.time;
    t.still.frameNumber = w.frameNumber;
    if (around == 0) {
      Shot s;
      s.owner = i;
      s.file = w.request.file.empty() ? PixelsOnlyName(&shared, shots.size()) : w.request.file;
      s.time = w.time;
      s.main = w.request.main;
      t.shots.push_back(shots.size());
      shots.push_back(s);
      (s.main ? wantMain : wantRequests) = true;
      continue;
    }
    // The frames around the target, as requests: the main still's own
    // frame is the first starting at most half a frame before its time,
    // which a request for that start (plus the request's lead) takes too.
    t.elementWrites = false;
    const double centre =
        w.request.main ? std::max(0.0, w.time - 0.5 * settings.period + kRequestLead * 0.98) : w.time;
    for (int k = -around; k <= around; ++k) {
      const double at = centre + k * settings.period;
      if (at < 0.0 && k != 0) continue;
      Shot s;
      s.owner = i;
      s.offset = k;
      s.file = PixelsOnlyName(&shared, shots.size());
      s.time = std::max(0.0, at);
      t.shots.push_back(shots.size());
      shots.push_back(s);
      wantRequests = true;
    }
  }
  for (size_t i = 0; i < shots.size(); ++i) shared.shotOf[shots[i].file] = i;
  shared.pixelsTaken.assign(shots.size(), 0);

  GError* err = nullptr;
  gchar* uri = gst_filename_to_uri(input.c_str(), &err);
  if (!uri) {
    const std::string why = err ? err->message : "not a file name";
    if (err) g_error_free(err);
    throw Error(Error::Kind::Input, "bad input name \"" + input + "\": " + why);
  }
  Pipeline p;
  p.maxPixels = options.maxPixels;
  p.decoderThreads = options.decoderThreads;
  for (const Shot& s : shots) p.settling.targets.push_back({s.time, s.main});
  for (const Shot& s : shots) p.skipping.targets.push_back(s.time);
  gst_segment_init(&p.skipping.segment, GST_FORMAT_UNDEFINED);
  gst_segment_init(&p.frames.segment, GST_FORMAT_UNDEFINED);
  p.holdFirstVideo = true;
  std::string missing;
  const bool built = Build(&p, input, uri, wantMain, wantRequests, &missing);
  g_free(uri);
  if (!built) throw Error(Error::Kind::Input, "GStreamer element " + missing + " is missing");

  // Every still the elements write goes through these: the format from its
  // name, the size and quality asked, the metadata, and for the shots of a
  // sharpest pick the pixels only.
  GstKelvoFrameGrabHooks hooks;
  auto creationTime = [&p]() {
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    return p.frames.creationTime;
  };
  hooks.prepare = [&shared, &options, &settings, creationTime](kelvo::host::Still& still) {
    const auto found = shared.shotOf.find(still.fileName);
    if (found == shared.shotOf.end()) return;
    const Shot& shot = (*shared.shots)[found->second];
    const Taking& t = (*shared.stills)[shot.owner];
    still.sourceName = settings.sourceName;
    still.creationTime = settings.creationTime ? settings.creationTime : creationTime();
    if (options.threads > 0) still.threads = options.threads;
    if (!t.elementWrites) {
      still.enhance = false;
      still.keepPixels = true;
      still.writeFile = false;
      return;
    }
    still.quality = options.quality;
    still.scaleWidth = options.scaleWidth;
    still.scaleHeight = options.scaleHeight;
    still.keepPixels = options.keepPixels || t.still.request.file.empty();
    still.writeFile = !t.still.request.file.empty();
  };
  hooks.written = [&shared](const kelvo::host::Still& still, const kelvo::host::StillResult& r) {
    const auto found = shared.shotOf.find(still.fileName);
    if (found == shared.shotOf.end() || !r.reason.empty()) return;
    if (r.report) {
      // Only a shot the element writes as asked is enhanced: one per still.
      std::lock_guard<std::mutex> hold(shared.mutex);
      (*shared.stills)[(*shared.shots)[found->second].owner].report = r.report;
    }
    if (r.pixels.empty()) return;
    if (!still.writeFile) {
      std::lock_guard<std::mutex> hold(shared.mutex);
      shared.pixelsTaken[found->second] = 1;
    }
    const Shot& shot = (*shared.shots)[found->second];
    Taking& t = (*shared.stills)[shot.owner];
    double score = -1.0;
    if (!t.elementWrites)
      score = kelvo::host::Sharpness(r.pixels.data(), r.width, r.height,
                                     static_cast<size_t>(r.width) * 3);
    std::lock_guard<std::mutex> hold(shared.mutex);
    if (t.elementWrites) {
      t.bestShot = static_cast<int>(found->second);
      t.bestPixels = r.pixels;
    } else {
      // Ties go to the frame nearest the target, then to the earlier one,
      // whatever order the shots finish in.
      const Shot* best = t.bestShot >= 0 ? &(*shared.shots)[static_cast<size_t>(t.bestShot)] : nullptr;
      const bool better = !best || score > t.bestScore ||
                          (score == t.bestScore && (std::abs(shot.offset) < std::abs(best->offset) ||
                                                    (std::abs(shot.offset) == std::abs(best->offset) &&
                                                     shot.offset < best->offset)));
      if (!better) return;
      t.bestShot = static_cast<int>(found->second);
      t.bestScore = score;
      t.bestPixels = r.pixels;
    }
    t.bestWidth = r.width;
    t.bestHeight = r.height;
  };
  for (GstElement* e : {p.main, p.requests}) {
    if (!e) continue;
    gst_kelvo_frame_grab_set_hooks(GST_KELVO_FRAME_GRAB(e), hooks);
    // With one shot there is nothing to decode while it is written (the
    // stream is held once it is taken), so it is written at once on the
    // streaming thread rather than on a worker of lower priority. A grab
    // held to one thread writes there too: the worker would take a second
    // core beside the decoding.
    if (shots.size() == 1 || options.threads == 1)
      g_object_set(e, "write-in-background", FALSE, nullptr);
  }

  for (const Shot& s : shots) {
    const Taking& t = stills[s.owner];
    const bool enhance = t.elementWrites && t.still.request.enhance;
    if (s.main) {
      g_object_set(p.main, "location", s.file.c_str(), "grab-time", s.time, "enhance",
                   enhance ? TRUE : FALSE, "grab-enabled", TRUE, nullptr);
    } else {
      gboolean queued = FALSE;
      g_object_set(p.requests, "grab-enabled", FALSE, nullptr);
      g_signal_emit_by_name(p.requests, "snapshot", s.time, s.file.c_str(), enhance ? TRUE : FALSE,
                            &queued);
      if (!queued)
        throw Error(Error::Kind::Output,
                    t.still.request.file == s.file
                        ? "cannot queue the still \"" + s.file + "\""
                        : "cannot take stills as pixels only: the element checks their names as files "
                          "in the temporary folder \"" + std::string(g_get_tmp_dir()) +
                              "\", which is not writable");
    }
  }

  GstBus* bus = gst_element_get_bus(p.pipeline);
  gst_bus_set_sync_handler(bus, NoteTrouble, &p, nullptr);
  bool finished = false;
  bool stopped = false;  // by an error: stills not reported were never reached
  std::string stopReason;
  bool inputError = false;  // the error that stopped decoding is the input's
  bool prerolled = false;
  size_t shotsDone = 0;
  double lastFrame = 0.0;
  std::vector<std::string> writeWarnings;
  std::map<std::tuple<std::string, GQuark, int, std::string>, int> warningsSeen;

  auto seekAhead = [&](double from) {
    double halfFrame = 0.0, period = 0.0, decoded = 0.0;
    {
      std::lock_guard<std::mutex> hold(p.frames.mutex);
      decoded = std::max(from, p.frames.end);
      halfFrame = p.frames.halfFrame;
      period = p.frames.irregular ? 0.0 : p.frames.period;
    }
    for (const Shot& s : shots) {
      if (s.done) continue;
      const double to = SeekPoint(s.time, s.main, halfFrame, period);
      if (to > decoded + kSeekGap || (from == 0.0 && to > 0.0)) Seek(p.pipeline, to);
      return;
    }
  };
  // The first video stream, held before its decoder: seek there to the
  // first still, then let it go.
  bool soughtFirst = false;
  auto seekFirst = [&](const GstStructure* s) {
    GstPad* pad = nullptr;
    gulong probe = 0;
    int num = 0, den = 0;
    if (!gst_structure_get(s, "pad", GST_TYPE_PAD, &pad, "probe", G_TYPE_ULONG, &probe, "rate-num",
                           G_TYPE_INT, &num, "rate-den", G_TYPE_INT, &den, nullptr) ||
        !pad)
      return;
    const double period = num > 0 && den > 0 ? static_cast<double>(den) / num : 0.0;
    const double halfFrame =
        period > 0.0
            ? kelvo::filter::HalfFrameFor(static_cast<int>(std::lround(static_cast<double>(num) / den)))
            : 0.0;
    for (const Shot& shot : shots) {
      if (shot.done) continue;
      const double to = SeekPoint(shot.time, shot.main, halfFrame, period);
      GstEvent* seek = to > 0.0 ? SeekEvent(to) : nullptr;
      soughtFirst = !seek || gst_pad_send_event(pad, seek);
      break;
    }
    gst_pad_remove_probe(pad, probe);
    gst_object_unref(pad);
  };
  auto fromGrab = [&](GstMessage* msg) {
    return GST_MESSAGE_SRC(msg) == GST_OBJECT(p.main) ||
           GST_MESSAGE_SRC(msg) == GST_OBJECT(p.requests);
  };
  auto damagedFrame = [&](guint64 streamTime) {
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    return p.frames.damaged.count(streamTime) > 0;
  };
  std::vector<double> shotFrameTime(shots.size(), 0.0);
  std::vector<std::string> shotRule(shots.size());
  std::vector<std::string> shotReason(shots.size());
  std::vector<char> shotFailed(shots.size(), 0), shotEnhanced(shots.size(), 0);
  std::vector<guint64> shotStreamTime(shots.size(), 0);

  // A still whose shots are all reported: its result, and for a sharpest
  // pick the writing of the frame chosen.
  // By the same rule a frame number is turned into a time: N * period.
  auto declaredPeriod = [&]() {
    if (settings.period > 0.0) return settings.period;
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    return p.frames.irregular ? 0.0 : p.frames.period;
  };
  auto numberFrame = [&](Still& out) {
    const double period = declaredPeriod();
    if (out.frameNumber < 0 && out.taken && period > 0.0)
      out.frameNumber = std::llround(out.frameTime / period);
  };
  auto complete = [&](Taking& t) {
    Still& out = t.still;
    int best = -1;
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    double score = -1.0;
    std::optional<KelvoLibImageProcessing::PipelineSnapshot::Report> report;
    {
      std::lock_guard<std::mutex> hold(shared.mutex);
      report = t.report;
      best = t.bestShot;
      pixels.swap(t.bestPixels);
      width = t.bestWidth;
      height = t.bestHeight;
      score = t.bestScore;
    }
    if (t.elementWrites) {
      const size_t s = t.shots.front();
      out.frameTime = shotFrameTime[s];
      out.rule = shotRule[s];
      out.taken = !shotFailed[s];
      out.enhanced = shotEnhanced[s] != 0;
      if (out.taken && out.enhanced && report) out.report = *report;
      out.damaged = out.taken && damagedFrame(shotStreamTime[s]);
      if (!out.taken) {
        out.failure = Failure::Write;
        out.error = shotReason[s];
      } else if (options.keepPixels || out.request.file.empty()) {
        out.pixels = std::move(pixels);
        out.width = width;
        out.height = height;
      }
      numberFrame(out);
      return;
    }
    if (best < 0) {
      // No shot gave a frame: the first one's reason stands for all.
      const size_t s = t.shots.front();
      out.failure = Failure::Write;
      out.error = shotReason[s].empty() ? "no frame was taken" : shotReason[s];
      return;
    }
    const size_t s = static_cast<size_t>(best);
    out.frameTime = shotFrameTime[s];
    out.rule = shotRule[s];
    out.sharpness = score;
    out.damaged = damagedFrame(shotStreamTime[s]);
    if (out.frameNumber >= 0) out.frameNumber += shots[s].offset;
    if (out.frameNumber < 0 && settings.period > 0.0)
      out.frameNumber = std::llround(out.frameTime / settings.period);  // sharpest needs the period
    kelvo::host::Still still;
    still.pixels.assign(pixels.begin(), pixels.end());
    std::vector<uint8_t>().swap(pixels);
    still.width = width;
    still.height = height;
    still.fileName = out.request.file;
    still.enhance = out.request.enhance;
    still.mainGrab = out.request.main;
    still.requestedTime = out.requestedTime;
    still.frameTime = out.frameTime;
    still.onScreen = out.rule == "on-screen";
    still.quality = options.quality;
    still.scaleWidth = options.scaleWidth;
    still.scaleHeight = options.scaleHeight;
    still.sourceName = settings.sourceName;
    still.creationTime = settings.creationTime ? settings.creationTime : creationTime();
    still.keepPixels = options.keepPixels || out.request.file.empty();
    still.writeFile = !out.request.file.empty();
    still.threads = options.threads;
    kelvo::host::StillResult r = kelvo::host::StillWriter().Write(still);
    // Pixels only: nothing was to be written, and nothing went wrong.
    out.taken = r.written || (!still.writeFile && r.reason.empty() && !r.pixels.empty());
    out.enhanced = r.enhanced;
    if (out.taken && r.enhanced && r.report) out.report = *r.report;
    if (!out.taken) {
      out.failure = Failure::Write;
      out.error = r.reason;
    } else if (still.keepPixels) {
      out.pixels = std::move(r.pixels);
      out.width = r.width;
      out.height = r.height;
    }
    if (!r.warning.empty()) warn("the still \"" + out.request.file + "\" was written unenhanced: " + r.warning);
  };
  // Stills are handed on in the order asked (time order), each once every
  // earlier one is: the elements write in the background and report as
  // they finish. `all`: the run is over; the rest are handed on as they are.
  size_t next = 0;
  auto handOn = [&](bool all) {
    for (; next < stills.size(); ++next) {
      Taking& t = stills[next];
      if (!t.done && !all) break;
      if (!t.done || t.reported) continue;
      t.reported = true;
      if (options.onStill) options.onStill(t.still);
    }
  };
  auto noteStill = [&](const GstStructure* s) {
    const gchar* file = gst_structure_get_string(s, "location");
    if (!file) return;
    const auto found = shared.shotOf.find(file);
    if (found == shared.shotOf.end() || shots[found->second].done) return;
    const size_t i = found->second;
    guint64 st = 0;
    gst_structure_get_uint64(s, "stream-time", &st);
    gboolean failed = FALSE, enhanced = FALSE;
    gst_structure_get_boolean(s, "failed", &failed);
    gst_structure_get_boolean(s, "enhanced", &enhanced);
    const gchar* reason = gst_structure_get_string(s, "reason");
    const gchar* rule = gst_structure_get_string(s, "rule");
    shots[i].done = true;
    ++shotsDone;
    {
      std::lock_guard<std::mutex> hold(shared.mutex);
      if (shared.pixelsTaken[i]) failed = FALSE;
    }
    shotFailed[i] = failed != FALSE;
    shotEnhanced[i] = enhanced != FALSE;
    shotStreamTime[i] = st;
    shotFrameTime[i] = static_cast<double>(st) / GST_SECOND;
    shotRule[i] = rule ? rule : "interval";
    shotReason[i] = failed ? (reason && *reason ? reason : "reason unknown") : "";
    lastFrame = shotFrameTime[i];
    Taking& t = stills[shots[i].owner];
    if (++t.shotsDone == t.shots.size()) {
      complete(t);
      t.done = true;
    }
  };
  auto noVideo = [&] {
    // A video stream the grab refuses (frames 1 pixel wide) cannot be
    // linked; it is there all the same.
    stopReason = p.sawVideo ? "the video in \"" + input + "\" (" +
                                  (p.videoSize.empty() ? "?" : p.videoSize) +
                                  " pixels) cannot be taken: frames must be at least 2 pixels wide"
                            : "no video stream in \"" + input + "\"";
    inputError = true;
    stopped = finished = true;
  };

  gst_element_set_state(p.pipeline, GST_STATE_PAUSED);
  gint64 duration = -1;
  double lastProgress = -1.0;
  // A pass that stops moving (no frame, no message) for stallSeconds is
  // given up: a decoder fed a broken file may wait for data that never
  // comes, and nothing else would ever end the wait. After a quiet second
  // with no streaming task left running it is given up at once.
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastMove = Clock::now();
  uint64_t framesSeen = 0;
  while (!finished) {
    const auto wait = static_cast<GstClockTime>(std::min(0.2, options.stallSeconds) * GST_SECOND);
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, wait,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING | GST_MESSAGE_EOS |
                                    GST_MESSAGE_ELEMENT | GST_MESSAGE_ASYNC_DONE |
                                    GST_MESSAGE_APPLICATION));
    const uint64_t seenNow = p.frames.seen.load(std::memory_order_relaxed);
    if (msg || seenNow != framesSeen) {
      framesSeen = seenNow;
      lastMove = Clock::now();
    } else if (const double quiet = std::chrono::duration<double>(Clock::now() - lastMove).count();
               quiet >= options.stallSeconds ||
               (quiet >= kQuietCheck && NoTaskRunning(p.pipeline))) {
      if (quiet >= options.stallSeconds)
        std::snprintf(line, sizeof line, "decoding \"%s\" stopped moving: nothing happened for %g s",
                      input.c_str(), options.stallSeconds);
      else
        std::snprintf(line, sizeof line,
                      "decoding \"%s\" stopped with neither an error nor an end: the file is "
                      "damaged or cut short",
                      input.c_str());
      stopReason = line;
      inputError = true;
      stopped = finished = true;
      break;
    }
    if (options.onProgress && prerolled) {
      // Position over the span the stills need, or over the shots taken
      // when the position says nothing.
      gint64 pos = -1;
      if (duration < 0) gst_element_query_duration(p.pipeline, GST_FORMAT_TIME, &duration);
      gst_element_query_position(p.pipeline, GST_FORMAT_TIME, &pos);
      double last = shots.empty() ? 0.0 : shots.back().time;
      for (const Shot& s : shots) last = std::max(last, s.time);
      if (duration > 0) last = std::min(last, static_cast<double>(duration) / GST_SECOND);
      double fraction = shots.empty() ? 1.0 : static_cast<double>(shotsDone) / shots.size();
      if (pos >= 0 && last > 0.0)
        fraction = std::max(fraction, std::min(1.0, static_cast<double>(pos) / GST_SECOND / last));
      if (fraction != lastProgress) options.onProgress(fraction);
      lastProgress = fraction;
    }
    if (!msg) continue;
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ERROR: {
        GError* e = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(msg, &e, &debug);
        if (!e) e = g_error_new_literal(GST_CORE_ERROR, GST_CORE_ERROR_FAILED, "unknown error");
        if (!fromGrab(msg) && !p.linked && p.sawStream && !p.sawVideo) {
          // Decoding stopped at a stream that is not video (no decoder
          // turns audio into video): the file has no video at all.
          noVideo();
        } else if (fromGrab(msg)) {
          stopReason = e->message;
          // A grab element stops on a still it cannot write (its folder
          // gone, say); anything else is the input's fault.
          inputError = e->domain != GST_RESOURCE_ERROR;
          if (!inputError) writeWarnings.push_back(e->message);
        } else {
          gchar* name = gst_object_get_name(GST_MESSAGE_SRC(msg));
          const std::string detail = LastLine(debug);
          stopReason = "cannot decode \"" + input + "\": " + e->message +
                       (detail.empty() ? "" : " (" + std::string(name ? name : "") + ": " + detail + ")");
          g_free(name);
          inputError = true;
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
        } else if (fromGrab(msg) && e->domain == GST_STREAM_ERROR) {
          // Written unenhanced: the still says so itself.
        } else if (warningsSeen[{name ? name : "", e->domain, e->code, e->message}]++ == 0) {
          const std::string detail = LastLine(debug);
          warn(std::string("warning from ") + (name ? name : "?") + ": " + e->message +
               (detail.empty() ? "" : " (" + detail + ")"));
        }
        g_free(name);
        g_error_free(e);
        g_free(debug);
        break;
      }
      case GST_MESSAGE_APPLICATION: {
        const GstStructure* s = gst_message_get_structure(msg);
        int width = 0, height = 0;
        if (gst_structure_has_name(s, kFirstVideoMessage)) {
          seekFirst(s);
        } else if (gst_structure_has_name(s, kTooLargeMessage) &&
            gst_structure_get_int(s, "width", &width) &&
            gst_structure_get_int(s, "height", &height)) {
          stopReason = "the video in \"" + input + "\" " +
                       kelvo::tools::PixelLimitReason(width, height, options.maxPixels);
          inputError = true;
          stopped = finished = true;
        } else {
          noVideo();
        }
        break;
      }
      case GST_MESSAGE_ASYNC_DONE:
        if (!prerolled) {
          prerolled = true;
          if (!soughtFirst) seekAhead(0.0);
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
        handOn(false);
        if (shotsDone == shots.size())
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

  double firstDamage = -1.0, end = -1.0;
  bool endSeen = true;
  {
    std::lock_guard<std::mutex> hold(p.frames.mutex);
    firstDamage = p.frames.firstDamage;
    end = p.frames.end;
    endSeen = !p.frames.restarting;
  }
  // Nothing decoded at all and decoding stopped: the input cannot be used.
  bool anyDone = false;
  for (const Shot& s : shots) anyDone = anyDone || s.done;
  if (stopped && end < 0.0 && !anyDone)
    throw Error(inputError ? Error::Kind::Input : Error::Kind::Output, stopReason);
  if (stopped) warn(stopReason);

  for (const auto& [kind, count] : warningsSeen)
    if (count > 1) {
      std::snprintf(line, sizeof line, "the warning from %s \"%s\" came %d times",
                    std::get<0>(kind).c_str(), std::get<3>(kind).c_str(), count);
      warn(line);
    }
  if (!endSeen && declared > 0) end = std::max(end, static_cast<double>(declared) / GST_SECOND);
  if (firstDamage >= 0.0) {
    std::snprintf(line, sizeof line, "(first before the frame at %.3f s)", firstDamage);
    warn("the decoder lost data in \"" + input + "\" " + line +
         "; stills of frames delivered right after a loss are marked \"damaged stream\"");
  }
  // A warning that names a still already reported failed says nothing new,
  // nor one about a shot that was never to be written.
  for (const std::string& w : writeWarnings) {
    bool named = false;
    for (size_t i = 0; i < shots.size(); ++i)
      named = named || ((shotFailed[i] || shared.pixelsTaken[i]) &&
                        w.find(shots[i].file) != std::string::npos);
    if (!named) warn(w);
  }
  // Stills some shot of which never came.
  for (Taking& t : stills) {
    if (t.done) continue;
    Still& out = t.still;
    const bool sharpPartly = !t.elementWrites && t.shotsDone > 0;
    if (sharpPartly) {
      // The frames near the end were there; those past it were not.
      complete(t);
      t.done = true;
      continue;
    }
    t.done = true;
    if (stopped) {
      out.failure = inputError ? Failure::Decoding : Failure::Write;
      out.error = "decoding stopped before its frame";
    } else if (out.requestedTime >= end) {
      out.failure = Failure::BeyondEnd;
      char why[160] = "";
      if (end >= 0.0)
        std::snprintf(why, sizeof why, " (%s %.3f s)", endSeen ? "its last frame ends at" : "it lasts",
                      end);
      out.error = end < 0.0 ? "\"" + input + "\" has no frames"
                            : "beyond the end of \"" + input + "\"" + why;
    } else {
      char why[160];
      std::snprintf(why, sizeof why, "inside the video, which ends at %.3f s, yet no frame was taken",
                    end);
      out.failure = Failure::NotTaken;
      out.error = why;
    }
  }
  handOn(true);
  std::vector<Still> result;
  result.reserve(stills.size());
  for (Taking& t : stills) result.push_back(std::move(t.still));
  return result;
}

}  // namespace kelvo::grab::detail
