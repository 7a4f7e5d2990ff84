// The grab library's entry points: requests checked and resolved, then one
// pass over the input.
#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "grab/Session.h"
#include "grab/Targets.h"
#include "host/ImageFormat.h"
#include "kelvo/grab.h"
#include "tools/common/PixelLimit.h"

namespace kelvo::grab {
namespace {

namespace fs = std::filesystem;

// A pipeline that only decodes, for what the file declares and, when asked,
// the stream times of its first frames.
struct Probe {
  GstElement* pipeline = nullptr;
  GstElement* sink = nullptr;
  std::mutex mutex;
  GstSegment segment;
  std::vector<double> frames;  // stream times of the frames counted so far
  size_t wanted = 0;           // frames to count; 0: none
  std::atomic<bool> counted{false};
  std::atomic<bool> linked{false};
  std::atomic<bool> decoding{false};  // a video stream of the demuxer is being decoded
  std::optional<int64_t> creationTime;
  ~Probe() {
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
  }
};

std::optional<int64_t> TagTime(const GstTagList* tags) {
  GstDateTime* when = nullptr;
  if (!tags || !gst_tag_list_get_date_time(tags, GST_TAG_DATE_TIME, &when) || !when)
    return std::nullopt;
  std::optional<int64_t> seconds;
  if (gst_date_time_has_day(when) && gst_date_time_has_time(when)) {
    if (GDateTime* g = gst_date_time_to_g_date_time(when)) {
      seconds = g_date_time_to_unix(g);
      g_date_time_unref(g);
    }
  }
  gst_date_time_unref(when);
  return seconds;
}

GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  std::lock_guard<std::mutex> hold(probe->mutex);
  if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      const GstSegment* segment = nullptr;
      gst_event_parse_segment(event, &segment);
      gst_segment_copy_into(segment, &probe->segment);
    } else if (GST_EVENT_TYPE(event) == GST_EVENT_TAG && !probe->creationTime) {
      GstTagList* tags = nullptr;
      gst_event_parse_tag(event, &tags);
      probe->creationTime = TagTime(tags);
    }
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buf = GST_PAD_PROBE_INFO_BUFFER(info);
  guint64 st = 0;
  if (probe->frames.size() < probe->wanted && GST_BUFFER_PTS_IS_VALID(buf) &&
      probe->segment.format == GST_FORMAT_TIME &&
      gst_segment_to_stream_time_full(&probe->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buf), &st) == 1) {
    probe->frames.push_back(static_cast<double>(st) / GST_SECOND);
    if (probe->frames.size() == probe->wanted) probe->counted = true;
  }
  return GST_PAD_PROBE_OK;
}

void LinkVideo(GstElement*, GstPad* pad, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  if (probe->linked) return;
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps) caps = gst_pad_query_caps(pad, nullptr);
  const bool video = caps && gst_caps_get_size(caps) > 0 &&
                     g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
  if (caps) gst_caps_unref(caps);
  if (!video) return;
  GstPad* sink = gst_element_get_static_pad(probe->sink, "sink");
  probe->linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
  gst_object_unref(sink);
}

// A stream of the demuxer: the first video one is decoded into the sink,
// the others are left unlinked.
void DecodeVideo(GstElement*, GstPad* pad, gpointer data) {
  auto* probe = static_cast<Probe*>(data);
  if (!detail::VideoTrack(pad) || probe->decoding.exchange(true)) return;
  // Reading what the file declares takes one frame, which one decoder
  // thread decodes as fast as several and without starting them.
  GstPad* decoded = detail::DecodeStream(GST_BIN(probe->pipeline), pad, probe->wanted == 0 ? 1 : 0,
                                         G_CALLBACK(LinkVideo), nullptr, probe);
  if (decoded) {
    LinkVideo(nullptr, decoded, probe);
    gst_object_unref(decoded);
  }
}

// Plays `path` until it is prerolled (count 0) or until `count` frames are
// counted or the stream ends, and reads what it declares.
StreamInfo Examine(const std::string& path, int64_t maxPixels, size_t count,
                   std::vector<double>* frames, double stallSeconds) {
  detail::InitGstreamer();
  GError* err = nullptr;
  gchar* uri = gst_filename_to_uri(path.c_str(), &err);
  if (!uri) {
    const std::string why = err ? err->message : "not a file name";
    if (err) g_error_free(err);
    throw Error(Error::Kind::Input, "bad input name \"" + path + "\": " + why);
  }
  Probe probe;
  probe.wanted = count;
  gst_segment_init(&probe.segment, GST_FORMAT_UNDEFINED);
  probe.pipeline = gst_pipeline_new("inspect");
  // An MP4 or QuickTime file is read by its demuxer directly, as in a pass.
  GstElement* demux = nullptr;
  GstElement* source = detail::DirectSource(path, &demux);
  GstElement* dec = source ? nullptr : gst_element_factory_make("uridecodebin", nullptr);
  probe.sink = gst_element_factory_make("fakesink", nullptr);
  if ((!source && !dec) || !probe.sink) {
    for (GstElement* e : {source, demux, dec, probe.sink})
      if (e) gst_object_unref(gst_object_ref_sink(e));
    g_free(uri);
    throw Error(Error::Kind::Input, "GStreamer elements uridecodebin and fakesink are needed");
  }
  g_object_set(probe.sink, "sync", FALSE, nullptr);
  gst_bin_add(GST_BIN(probe.pipeline), probe.sink);
  if (source) {
    gst_bin_add_many(GST_BIN(probe.pipeline), source, demux, nullptr);
    gst_element_link(source, demux);
    g_signal_connect(demux, "pad-added", G_CALLBACK(DecodeVideo), &probe);
  } else {
    GstCaps* video = gst_caps_from_string("video/x-raw(ANY)");
    g_object_set(dec, "uri", uri, "caps", video, "expose-all-streams", FALSE, nullptr);
    gst_caps_unref(video);
    gst_bin_add(GST_BIN(probe.pipeline), dec);
    g_signal_connect(dec, "pad-added", G_CALLBACK(LinkVideo), &probe);
  }
  g_free(uri);
  GstPad* in = gst_element_get_static_pad(probe.sink, "sink");
  gst_pad_add_probe(in,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                 GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                    CountFrame, &probe, nullptr);

  GstBus* bus = gst_element_get_bus(probe.pipeline);
  gst_element_set_state(probe.pipeline, GST_STATE_PAUSED);
  std::string error;
  bool prerolled = false, done = false, missingVideo = false;
  // Given up as a pass is (see RunPass) when it stops moving: a quiet second
  // with no streaming task running, or stallSeconds of nothing at all.
  using Clock = std::chrono::steady_clock;
  Clock::time_point lastMove = Clock::now();
  size_t framesSeen = 0;
  while (!done) {
    GstMessage* msg = gst_bus_timed_pop_filtered(
        bus, 100 * GST_MSECOND,
        static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_ASYNC_DONE |
                                    GST_MESSAGE_ELEMENT));
    if (!msg) {
      done = prerolled && probe.counted;
      size_t counted = 0;
      {
        std::lock_guard<std::mutex> hold(probe.mutex);
        counted = probe.frames.size();
      }
      const double quiet = std::chrono::duration<double>(Clock::now() - lastMove).count();
      if (counted != framesSeen) {
        framesSeen = counted;
        lastMove = Clock::now();
      } else if (!done && (quiet >= stallSeconds ||
                           (quiet >= detail::kQuietCheck && detail::NoTaskRunning(probe.pipeline)))) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", stallSeconds);
        error = quiet >= stallSeconds
                    ? "reading \"" + path + "\" stopped moving: nothing happened for " + seconds + " s"
                    : "reading \"" + path + "\" stopped with neither an error nor an end: the file is "
                      "damaged or cut short";
        done = true;
      }
      continue;
    }
    lastMove = Clock::now();
    switch (GST_MESSAGE_TYPE(msg)) {
      case GST_MESSAGE_ELEMENT: {
        // Posted before the error that decoding cannot go on: says whether
        // the stream left undecoded is video.
        const GstStructure* s = gst_message_get_structure(msg);
        GstCaps* caps = nullptr;
        if (s && gst_structure_has_name(s, "missing-plugin") &&
            gst_structure_get(s, "detail", GST_TYPE_CAPS, &caps, nullptr) && caps) {
          missingVideo = missingVideo || g_str_has_prefix(
                                             gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/");
          gst_caps_unref(caps);
        }
        break;
      }
      case GST_MESSAGE_ERROR: {
        GError* e = nullptr;
        gst_message_parse_error(msg, &e, nullptr);
        const bool missing = e && ((e->domain == GST_CORE_ERROR && e->code == GST_CORE_ERROR_MISSING_PLUGIN) ||
                                   (e->domain == GST_STREAM_ERROR && e->code == GST_STREAM_ERROR_CODEC_NOT_FOUND));
        // Read by the demuxer directly, a file without video stops at its
        // first stream that nothing takes.
        if (((missing && !missingVideo) || (source && !probe.decoding)) && !probe.linked)
          error = "no video stream in \"" + path + "\"";
        else
          error = "cannot decode \"" + path + "\": " + (e ? e->message : "unknown error");
        if (e) g_error_free(e);
        done = true;
        break;
      }
      case GST_MESSAGE_EOS:
        done = true;
        break;
      case GST_MESSAGE_ASYNC_DONE:
        if (!prerolled) {
          prerolled = true;
          if (count == 0 || probe.counted)
            done = true;
          else
            gst_element_set_state(probe.pipeline, GST_STATE_PLAYING);
        }
        break;
      default:
        break;
    }
    gst_message_unref(msg);
  }
  StreamInfo info;
  if (error.empty() && !probe.linked) error = "no video stream in \"" + path + "\"";
  if (error.empty()) {
    gint64 duration = -1;
    if (gst_element_query_duration(probe.pipeline, GST_FORMAT_TIME, &duration) && duration > 0)
      info.duration = static_cast<double>(duration) / GST_SECOND;
    if (GstCaps* caps = gst_pad_get_current_caps(in)) {
      const GstStructure* s = gst_caps_get_structure(caps, 0);
      int num = 0, den = 0;
      gst_structure_get_int(s, "width", &info.width);
      gst_structure_get_int(s, "height", &info.height);
      if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
        info.frameRate = static_cast<double>(num) / den;
      gst_caps_unref(caps);
    }
    if (info.width > 0 && !kelvo::tools::WithinPixelLimit(info.width, info.height, maxPixels))
      error = "the video in \"" + path + "\" " +
              kelvo::tools::PixelLimitReason(info.width, info.height, maxPixels);
  }
  gst_element_set_state(probe.pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(in);
  if (!error.empty()) throw Error(Error::Kind::Input, error);
  std::lock_guard<std::mutex> hold(probe.mutex);
  info.creationTime = probe.creationTime;
  if (frames) *frames = probe.frames;
  return info;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

void MakeFolders(const std::string& file) {
  const fs::path folder = fs::path(file).parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  const fs::file_status st = fs::status(folder, ec);
  if (fs::is_directory(st)) return;
  if (fs::exists(st))
    throw Error(Error::Kind::Arguments,
                "cannot write " + Quoted(file) + ": " + Quoted(folder.string()) +
                    " exists and is not a folder");
  // Each missing level is made on its own, so a file or a link put in the
  // way meanwhile stops it rather than being followed or replaced.
  fs::path made;
  for (const fs::path& part : folder) {
    made /= part;
    if (fs::is_directory(fs::status(made, ec))) continue;
    if (fs::exists(fs::symlink_status(made, ec)))
      throw Error(Error::Kind::Arguments, "cannot write " + Quoted(file) + ": " +
                                              Quoted(made.string()) + " exists and is not a folder");
    if (!fs::create_directory(made, ec) && !fs::is_directory(fs::status(made, ec)))
      throw Error(Error::Kind::Output, "cannot make the folder " + Quoted(made.string()) + ": " +
                                           (ec ? ec.message() : "it could not be made"));
  }
}

namespace {

void CheckTime(double t) {
  if (!(t >= 0.0 && t <= kMaxSeconds))
    throw Error(Error::Kind::Arguments, "a still's time must lie from 0 to the latest time a video "
                                        "can have");
}

}  // namespace

StreamInfo Inspect(const std::string& path, int64_t maxPixels) {
  return Examine(path, maxPixels, 0, nullptr, Options().stallSeconds);
}

std::vector<Still> Grab(const std::string& path, const std::vector<Request>& requests,
                        const Options& options) {
  detail::InitGstreamer();
  if (options.quality < 1 || options.quality > 100)
    throw Error(Error::Kind::Arguments, "JPEG quality must lie from 1 to 100");
  if (options.scaleWidth < 0 || options.scaleHeight < 0 || options.sharpest < 0)
    throw Error(Error::Kind::Arguments, "scale sizes and the frames compared for the sharpest must not be negative");
  if (options.threads < 0 || options.decoderThreads < 0)
    throw Error(Error::Kind::Arguments, "thread counts must not be negative");
  if (!(options.stallSeconds > 0.0))
    throw Error(Error::Kind::Arguments, "the time a pass may stand still must be above 0 seconds");
  const Interval& every = options.interval;
  if (every.every != 0.0) {
    CheckTime(every.from);
    if (!(every.every > 0.0) || (every.to >= 0.0 && every.to < every.from))
      throw Error(Error::Kind::Arguments, "an interval needs a step above 0 and an end not before "
                                          "its start");
    if (every.pattern.empty()) throw Error(Error::Kind::Arguments, "an interval needs a file pattern");
  }
  std::vector<Request> all = requests;
  for (const Request& r : requests)
    if (r.frame < 0) CheckTime(r.time);

  // What the file declares, only when the requests need it: the end for an
  // interval without one, the rate for frame numbers and the sharpest frame.
  size_t countFrames = 0;
  bool byFrame = false;
  for (const Request& r : requests) byFrame = byFrame || r.frame >= 0;
  const bool needInfo = byFrame || options.sharpest > 0 || (every.every > 0.0 && every.to < 0.0);
  detail::PassSettings settings;
  settings.input = path;
  settings.sourceName = fs::path(path).filename().string();
  StreamInfo info;
  if (needInfo) {
    detail::CheckFiles(path, {});
    info = Examine(path, options.maxPixels, 0, nullptr, options.stallSeconds);
    settings.period = info.frameRate > 0.0 ? 1.0 / info.frameRate : 0.0;
    settings.creationTime = info.creationTime;
  }
  // A file with no declared rate: frame numbers are found by counting.
  std::vector<double> frameTimes;
  if (byFrame && settings.period == 0.0) {
    int64_t highest = -1;
    for (const Request& r : requests) highest = std::max(highest, r.frame);
    countFrames = static_cast<size_t>(highest) + 1;
    Examine(path, options.maxPixels, countFrames, &frameTimes, options.stallSeconds);
  }

  if (every.every > 0.0) {
    double to = every.to;
    if (to < 0.0 && !(info.duration > 0.0) && options.onWarning)
      options.onWarning("\"" + path + "\" does not say how long it lasts; an interval without an end "
                        "stops at its start");
    if (to < 0.0) to = std::max(every.from, info.duration);
    const std::vector<double> times = EveryTimes(every.every, every.from, to);
    // Without an end the last time must lie inside the video: a time at its
    // very end names no frame. A start beyond the end still asks for its
    // one still, which is then reported beyond the end.
    for (size_t i = 0; i < times.size(); ++i) {
      if (i > 0 && every.to < 0.0 && info.duration > 0.0 && times[i] >= info.duration) break;
      Request r;
      r.time = times[i];
      r.enhance = every.enhance;
      r.file = StillName(every.pattern, static_cast<int64_t>(i) + 1, times[i], path);
      all.push_back(r);
    }
  }
  for (const Request& r : all)
    if (!r.file.empty() && r.file.find('/') != std::string::npos && every.every > 0.0) MakeFolders(r.file);
  detail::CheckFiles(path, all);
  // The format each name asks for, once the names are known to be files.
  for (const Request& r : all)
    if (!r.file.empty() && !host::FormatFromName(r.file))
      throw Error(Error::Kind::Arguments, host::UnknownFormatReason(r.file));

  std::vector<detail::Wanted> wanted;
  std::vector<Still> beyond;  // frame numbers past the last frame counted
  for (const Request& r : all) {
    detail::Wanted w;
    w.request = r;
    w.time = r.time;
    if (r.frame >= 0) {
      w.frameNumber = r.frame;
      if (settings.period > 0.0) {
        w.time = static_cast<double>(r.frame) * settings.period;
      } else if (static_cast<size_t>(r.frame) < frameTimes.size()) {
        w.time = frameTimes[static_cast<size_t>(r.frame)];
      } else {
        Still s;
        s.request = r;
        s.frameNumber = r.frame;
        s.failure = Failure::BeyondEnd;
        s.error = "the video has " + std::to_string(frameTimes.size()) + " frames, none numbered " +
                  std::to_string(r.frame);
        beyond.push_back(s);
        continue;
      }
      if (!(w.time <= kMaxSeconds)) CheckTime(w.time);
    }
    wanted.push_back(w);
  }
  std::stable_sort(wanted.begin(), wanted.end(), [](const detail::Wanted& a, const detail::Wanted& b) {
    if (a.time != b.time) return a.time < b.time;
    return a.request.main && !b.request.main;
  });
  std::vector<Still> stills = detail::RunPass(wanted, options, settings);
  for (Still& s : beyond) {
    if (options.onStill) options.onStill(s);
    stills.push_back(std::move(s));
  }
  return stills;
}

}  // namespace kelvo::grab
