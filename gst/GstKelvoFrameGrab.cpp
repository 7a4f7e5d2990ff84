#include "gst/GstKelvoFrameGrab.h"

#include <gst/video/video.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "filter/GrabRule.h"
#include "gst/FilterHost.h"
#include "host/StillWorker.h"
#include "host/StillWriter.h"
#include "imaging/core/SafeFile.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/Primitives.h"

GST_DEBUG_CATEGORY_STATIC(kelvo_frame_grab_debug);
#define GST_CAT_DEFAULT kelvo_frame_grab_debug

using kelvo::gst::FilterHost;
using kelvo::gst::detail::TakenStill;
using kelvo::host::Still;
using kelvo::host::StillResult;
using kelvo::host::StillWorker;

namespace {

// A frame kept by reference (no copy) for as long as a request may still
// need it as the frame on screen at its time.
struct HeldFrame {
  HeldFrame(GstBuffer* b, const GstVideoInfo& i, GstClockTime stream, GstClockTime running)
      : buffer(gst_buffer_ref(b)), info(i), streamTime(stream), runningTime(running) {}
  ~HeldFrame() { gst_buffer_unref(buffer); }
  HeldFrame(const HeldFrame&) = delete;
  HeldFrame& operator=(const HeldFrame&) = delete;

  GstBuffer* buffer;
  GstVideoInfo info;
  GstClockTime streamTime;
  GstClockTime runningTime;
};

// A mapped video frame, unmapped when it goes out of scope.
class MappedFrame {
 public:
  MappedFrame() = default;
  ~MappedFrame() {
    if (mapped_) gst_video_frame_unmap(&frame_);
  }
  MappedFrame(const MappedFrame&) = delete;
  MappedFrame& operator=(const MappedFrame&) = delete;

  bool Map(GstVideoInfo* info, GstBuffer* buffer) {
    mapped_ = gst_video_frame_map(&frame_, info, buffer, GST_MAP_READ) != FALSE;
    return mapped_;
  }
  int Width() const { return GST_VIDEO_FRAME_WIDTH(&frame_); }
  int Height() const { return GST_VIDEO_FRAME_HEIGHT(&frame_); }
  int Stride() const { return GST_VIDEO_FRAME_PLANE_STRIDE(&frame_, 0); }
  BYTE* Data() const { return static_cast<BYTE*>(GST_VIDEO_FRAME_PLANE_DATA(&frame_, 0)); }
  const GstVideoFrame* Frame() const { return &frame_; }

 private:
  GstVideoFrame frame_{};
  bool mapped_ = false;
};

// A snapshot request the element has handed to the filter and the filter has
// not taken yet. A restarted element gets a new filter, which is given these
// again.
//
// The filter takes a request's frame only from the open interval
// (T - 0.005 s, T - 0.005 s + one frame period), which at some times and
// rates holds no frame at all (0.125 s at 25 fps; rates such as 29.97 fps
// round to a longer period than the frames have; variable-rate files have
// gaps). The element guarantees a still for every request inside the video:
// once no later frame can fall in the interval, it writes the frame on
// screen at T instead, the last one starting at or before T, as a player
// shows it. `onScreen` holds that frame so far.
struct PendingRequest {
  std::string fileName;
  double time;
  bool enhance;
  std::shared_ptr<HeldFrame> onScreen;
};

// A request the element has already served with the frame on screen. The
// filter keeps it queued, and would take it again if the stream were played
// back over its time; that second still is not written.
struct ServedRequest {
  std::string fileName;
  double time;
};

}  // namespace

enum {
  PROP_0,
  PROP_LOCATION,
  PROP_GRAB_TIME,
  PROP_GRAB_ENABLED,
  PROP_ENHANCE,
  PROP_BACKGROUND,
  PROP_THREADS
};
enum { SIGNAL_SNAPSHOT, LAST_SIGNAL };
static guint frame_grab_signals[LAST_SIGNAL];

namespace {

// Everything the element keeps. Property setters and the snapshot signal run
// on application threads while frames arrive on the streaming thread; one
// mutex keeps the filter's settings and the element's copy of them in step.
// Nothing blocking (no file, no enhancement) runs while it is held.
struct FrameGrabState {
  std::mutex lock;

  // Settings.
  std::optional<std::string> location;
  double grab_time = 0.0;
  bool grab_enabled = true;
  bool enhance = false;
  bool background = true;  // convert, enhance and write stills on the worker thread
  // Threads a still's enhancement may use; 0: the library's choice. Read
  // without the lock when a still is handed to the writer.
  std::atomic<guint> threads{0};

  // The filter and what the element has told it.
  std::unique_ptr<FilterHost> host;
  std::vector<PendingRequest> requests;
  std::vector<ServedRequest> served_on_screen;
  // Requests queued since the filter last saw a frame: it is given them
  // right before the next frame it sees, so that the snapshot signal never
  // waits for the filter while it converts a frame on the worker.
  std::vector<PendingRequest> for_filter;
  double half_frame = 0.0;   // what the filter was given, in seconds
  double stream_end = -1.0;  // end of the last frame seen, seconds of stream time
  // The filter has taken a still since start, which ends its main grab.
  bool still_taken = false;
  // While the main grab waits, the last frame seen: when the stream ends
  // before a frame reaches grab-time but grab-time lies inside the last
  // frame, that frame is the one on screen at grab-time.
  std::shared_ptr<HeldFrame> last_frame;
  GstVideoInfo info{};
  bool rate_from_buffers = false;  // the caps carry no frame rate
  // Size the filter is connected for; a frame copied before a caps change
  // is not handed to it.
  int filter_width = 0;
  int filter_height = 0;
  // A caps refusal has been posted since start: base transform offers the
  // caps again for every buffer that follows, and a stream that cannot be
  // negotiated is one error, not one per retry.
  bool caps_error_posted = false;
  // Writes the stills off the streaming thread. Replaced when it had to
  // give up on stills at the end of a stream.
  std::shared_ptr<StillWorker> worker = std::make_shared<StillWorker>();
  // Serialises the calls that hand a frame to the filter (on the worker or
  // the streaming thread) with those that connect it. Taken after `lock`
  // when both are held, never the other way round.
  std::mutex filter_lock;
  // Buffers the due frames are copied into, reused once the worker is done
  // with them: a fresh frame-sized allocation costs the streaming thread its
  // page faults every time.
  GstBufferPool* copy_pool = nullptr;
  // Set by a program linking the element before it starts; read without the
  // lock since it does not change while frames flow.
  std::shared_ptr<const GstKelvoFrameGrabHooks> hooks;
};

using Lock = std::lock_guard<std::mutex>;

}  // namespace

struct _GstKelvoFrameGrab {
  GstBaseTransform parent;
  // Built in init and destroyed in finalize: GObject knows nothing of C++.
  FrameGrabState state;
};

// YUY2 is what the filter takes. Frames in the other formats are converted
// to YUY2 only when a still is due on them (as videoconvert would, see
// to_filter_frame), not every frame on its way.
#define FRAME_CAPS                                                                        \
  "video/x-raw, format=(string)" KELVO_FRAME_GRAB_FORMATS ", width=(int)[2, 32767], "     \
  "height=(int)[1, 32767], framerate=(fraction)[0/1, MAX]"

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(FRAME_CAPS));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(FRAME_CAPS));

G_DEFINE_TYPE(GstKelvoFrameGrab, gst_kelvo_frame_grab, GST_TYPE_BASE_TRANSFORM)

// Rounds a caps frame rate to the whole frames per second the filter takes.
static int whole_rate(int num, int den) {
  if (num <= 0 || den <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(num) / den));
}

// Why a still cannot be written to `path`; empty when it can be tried. It
// only looks (stat, access) and never opens anything, so a named pipe or a
// device cannot block it; call it without the lock all the same.
static std::string check_target(const std::string& path) {
  namespace fs = std::filesystem;
  std::string reason = kelvo::io::CheckOutputTarget(path);
  if (!reason.empty()) return reason;
  // A folder the stills cannot be created in is worth saying before the
  // stream runs, not at the first still.
  std::error_code ec;
  const fs::path final = fs::weakly_canonical(fs::path(path), ec);
  const fs::path folder = ec || !final.has_parent_path() ? fs::path(".") : final.parent_path();
  if (access(folder.c_str(), W_OK | X_OK) != 0) {
    const int error = errno;
    return "\"" + path + "\": folder \"" + folder.string() + "\" is not writable: " +
           std::error_code(error, std::generic_category()).message();
  }
  return {};
}

// Hands the main grab settings to the filter. Lock held.
// A main grab without a file name is not armed (the filter would keep it
// pending forever), so grab-enabled only takes effect with a location.
static void push_main_settings(GstKelvoFrameGrab* self) {
  const std::string file = self->state.location.value_or("");
  const bool armed = self->state.grab_enabled && !file.empty();
  FilterHost* host = self->state.host.get();
  if (host) {
    if (!file.empty() && FAILED(host->SetFileName(file))) {
      GST_ELEMENT_WARNING(self, RESOURCE, SETTINGS,
                          ("File name \"%s\" is too long or not UTF-8", file.c_str()), (nullptr));
      host->SetGrabParams(self->state.grab_time, false, self->state.enhance);
      return;
    }
    host->SetGrabParams(self->state.grab_time, armed, self->state.enhance);
  }
}


static void gst_kelvo_frame_grab_set_property(GObject* object, guint prop_id, const GValue* value,
                                              GParamSpec* pspec) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(object);
  std::string location;
  {
    Lock lock(self->state.lock);
    switch (prop_id) {
      case PROP_LOCATION:
        if (const gchar* text = g_value_get_string(value)) {
          self->state.location = text;
          location = text;
        } else {
          self->state.location.reset();
        }
        break;
      case PROP_GRAB_TIME:
        self->state.grab_time = g_value_get_double(value);
        break;
      case PROP_GRAB_ENABLED:
        self->state.grab_enabled = g_value_get_boolean(value) != FALSE;
        break;
      case PROP_ENHANCE:
        self->state.enhance = g_value_get_boolean(value) != FALSE;
        break;
      case PROP_BACKGROUND:
        self->state.background = g_value_get_boolean(value) != FALSE;
        break;
      case PROP_THREADS:
        self->state.threads.store(g_value_get_uint(value), std::memory_order_relaxed);
        break;
      default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        return;
    }
    push_main_settings(self);
  }
  // A property value cannot be refused; say now what start will refuse, or
  // what will make the still fail.
  if (!location.empty()) {
    const std::string reason = check_target(location);
    if (!reason.empty()) GST_WARNING_OBJECT(self, "location cannot be written: %s", reason.c_str());
  }
}

static void gst_kelvo_frame_grab_get_property(GObject* object, guint prop_id, GValue* value,
                                              GParamSpec* pspec) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(object);
  Lock lock(self->state.lock);
  switch (prop_id) {
    case PROP_LOCATION:
      g_value_set_string(value, self->state.location ? self->state.location->c_str() : nullptr);
      break;
    case PROP_GRAB_TIME:
      g_value_set_double(value, self->state.grab_time);
      break;
    case PROP_GRAB_ENABLED:
      g_value_set_boolean(value, self->state.grab_enabled);
      break;
    case PROP_ENHANCE:
      g_value_set_boolean(value, self->state.enhance);
      break;
    case PROP_BACKGROUND:
      g_value_set_boolean(value, self->state.background);
      break;
    case PROP_THREADS:
      g_value_set_uint(value, self->state.threads.load(std::memory_order_relaxed));
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
      break;
  }
}

// The snapshot action signal. A target that cannot be written is refused
// here, while the application can still be told; a still that fails later
// is reported by a warning and its still message.
static gboolean gst_kelvo_frame_grab_snapshot(GstKelvoFrameGrab* self, gdouble time,
                                              const gchar* filename, gboolean enhance) {
  if (!filename) {
    GST_WARNING_OBJECT(self, "snapshot at %g s refused: no file name given", time);
    return FALSE;
  }
  // The filter holds 259 UTF-16 units and a terminator.
  glong units = 0;
  gunichar2* wide = g_utf8_validate(filename, -1, nullptr)
                        ? g_utf8_to_utf16(filename, -1, nullptr, &units, nullptr)
                        : nullptr;
  g_free(wide);
  if (!wide || units >= 260) {
    GST_WARNING_OBJECT(self, "snapshot at %g s refused: file name too long or not UTF-8", time);
    return FALSE;
  }
  const std::string reason = check_target(filename);
  if (!reason.empty()) {
    GST_WARNING_OBJECT(self, "snapshot at %g s refused: %s", time, reason.c_str());
    return FALSE;
  }
  {
    // The name was checked above as the filter checks it, so the filter
    // takes the request when it is handed over.
    Lock lock(self->state.lock);
    if (self->state.host) self->state.for_filter.push_back({filename, time, enhance != FALSE, nullptr});
    self->state.requests.push_back({filename, time, enhance != FALSE, nullptr});
  }
  GST_DEBUG_OBJECT(self, "queued snapshot at %g s to %s", time, filename);
  return TRUE;
}

static void post_still_message(GstKelvoFrameGrab* self, const Still& still,
                               GstClockTime stream_time, GstClockTime running_time,
                               const StillResult& result) {
  GstStructure* s = gst_structure_new(
      GST_KELVO_FRAME_GRAB_STILL_MESSAGE, "location", G_TYPE_STRING, still.fileName.c_str(),
      "requested-time", G_TYPE_DOUBLE, still.requestedTime, "stream-time", G_TYPE_UINT64,
      static_cast<guint64>(stream_time), "running-time", G_TYPE_UINT64,
      static_cast<guint64>(running_time), "main", G_TYPE_BOOLEAN, still.mainGrab ? TRUE : FALSE,
      "enhance", G_TYPE_BOOLEAN, still.enhance ? TRUE : FALSE, "enhanced", G_TYPE_BOOLEAN,
      result.enhanced ? TRUE : FALSE, "rule", G_TYPE_STRING, still.onScreen ? "on-screen" : "interval",
      "failed", G_TYPE_BOOLEAN, result.written ? FALSE : TRUE, "reason", G_TYPE_STRING,
      result.reason.c_str(), nullptr);
  gst_element_post_message(GST_ELEMENT(self), gst_message_new_element(GST_OBJECT(self), s));
}

// Reports one still once its file is complete or has failed: a failure is a
// warning, never an error, and the stream goes on. Runs on the worker
// thread, or on the streaming thread for a still that never reached it.
static void report_still(GstKelvoFrameGrab* self, const Still& still, GstClockTime stream_time,
                         GstClockTime running_time, const StillResult& result) {
  const char* file = still.fileName.c_str();
  if (result.written) {
    GST_INFO_OBJECT(self, "wrote %s (asked %g s, frame at %" GST_TIME_FORMAT ")", file,
                    still.requestedTime, GST_TIME_ARGS(stream_time));
    if (!result.warning.empty())
      GST_ELEMENT_WARNING(self, STREAM, FAILED, ("The still \"%s\" was written unenhanced", file),
                          ("%s", result.warning.c_str()));
  } else {
    GST_ELEMENT_WARNING(self, RESOURCE, WRITE, ("Could not write the still \"%s\"", file),
                        ("%s", result.reason.c_str()));
  }
  post_still_message(self, still, stream_time, running_time, result);
}

static std::shared_ptr<StillWorker> current_worker(GstKelvoFrameGrab* self) {
  Lock lock(self->state.lock);
  return self->state.worker;
}

// A still described before its frame is converted: what its report needs if
// the work never runs, or fails before the filter has seen the frame.
struct Described {
  Still still;
  GstClockTime stream_time;
  GstClockTime running_time;
};

// A still to write (`failure` empty) or to report as not written.
static StillWorker::Item make_item(GstKelvoFrameGrab* self, Described d, const std::string& failure) {
  StillWorker::Item item;
  item.failure = failure;
  item.still = std::move(d.still);
  item.still.threads = static_cast<int>(
      std::min<guint>(self->state.threads.load(std::memory_order_relaxed), G_MAXINT));
  std::shared_ptr<const GstKelvoFrameGrabHooks> hooks = self->state.hooks;
  if (hooks && hooks->prepare) hooks->prepare(item.still);
  item.done = [self, hooks, st = d.stream_time, rt = d.running_time](const Still& still,
                                                                     const StillResult& r) {
    if (hooks && hooks->written) hooks->written(still, r);
    report_still(self, still, st, rt, r);
  };
  return item;
}

// Writes the stills a Produce yields, here and now.
static void write_items(std::vector<StillWorker::Item>* items) {
  for (StillWorker::Item& item : *items) {
    StillResult result;
    if (item.failure.empty())
      result = kelvo::host::StillWriter().Write(item.still);
    else
      result.reason = item.failure;
    if (item.done) item.done(item.still, result);
    item = {};
  }
}

// Runs the work that yields stills (converting a frame, handing it to the
// filter) and writes them: on the worker thread with write-in-background,
// else here on the streaming thread. `described` names the stills the work
// is expected to yield, for the reports should it be given up. Called with
// no lock held.
static void dispatch_stills(GstKelvoFrameGrab* self, StillWorker::Produce produce,
                            std::vector<Described> described) {
  bool background = false;
  std::shared_ptr<StillWorker> worker;
  {
    Lock lock(self->state.lock);
    background = self->state.background;
    worker = self->state.worker;
  }
  if (background) {
    auto expected = std::make_shared<std::vector<Described>>(std::move(described));
    auto dropped = [self, expected](const std::string& why) {
      for (const Described& d : *expected) {
        StillResult result;
        result.reason = "\"" + d.still.fileName + "\": " + why;
        report_still(self, d.still, d.stream_time, d.running_time, result);
      }
    };
    if (worker->Submit(produce, std::move(dropped))) return;
    // Not queued (no thread could be started): written here instead.
    described = std::move(*expected);
  }
  std::vector<StillWorker::Item> items;
  try {
    items = produce();
  } catch (...) {
    items.clear();
    for (Described& d : described) {
      const std::string why = "\"" + d.still.fileName + "\": out of memory";
      items.push_back(make_item(self, std::move(d), why));
    }
  }
  write_items(&items);
}

// Waits for the stills still being written, at most the worker's limit;
// those given up are reported failed. Called without the lock.
static void finish_stills(GstKelvoFrameGrab* self) {
  const std::shared_ptr<StillWorker> worker = current_worker(self);
  const size_t dropped = worker->Finish(StillWorker::kFinishLimit);
  if (dropped == 0) return;
  GST_WARNING_OBJECT(self, "%zu still(s) not written within %lld s, given up", dropped,
                     static_cast<long long>(StillWorker::kFinishLimit.count()));
  // The old worker reports nothing more; later stills need a new one.
  auto fresh = std::make_shared<StillWorker>();
  Lock lock(self->state.lock);
  self->state.worker.swap(fresh);
}

// The main grab is armed and the filter has taken no still yet. Lock held.
static bool main_grab_waiting(GstKelvoFrameGrab* self) {
  return self->state.grab_enabled && self->state.location && !self->state.location->empty() &&
         !self->state.still_taken;
}

// Matches the stills the filter took against the requests the element
// queued: a request taken leaves the pending list; one the element has
// already served with the frame on screen is not written twice. Lock held.
static void drop_served_requests(GstKelvoFrameGrab* self, std::vector<TakenStill>* taken) {
  for (auto t = taken->begin(); t != taken->end();) {
    if (t->still.mainGrab) {
      ++t;
      continue;
    }
    // The filter serves requests in queue order, so the first one queued
    // with this name and time is the one it took.
    auto same = [&](const auto& r) {
      return r.fileName == t->still.fileName && r.time == t->still.requestedTime;
    };
    auto& pending = self->state.requests;
    if (auto it = std::find_if(pending.begin(), pending.end(), same); it != pending.end()) {
      pending.erase(it);
      ++t;
      continue;
    }
    auto& served = self->state.served_on_screen;
    if (auto done = std::find_if(served.begin(), served.end(), same); done != served.end()) {
      served.erase(done);
      t = taken->erase(t);
    } else {
      ++t;
    }
  }
}

// Follows the frame on screen at each pending request's time and takes out
// the requests whose interval this frame closes: no later frame can serve
// them, so they get the frame on screen. Lock held.
static std::vector<PendingRequest> close_request_windows(GstKelvoFrameGrab* self, GstBuffer* buf,
                                                         GstClockTime stream_time,
                                                         GstClockTime running_time) {
  const double t = static_cast<double>(stream_time) / GST_SECOND;
  std::shared_ptr<HeldFrame> current;
  auto held = [&] {
    if (!current) current = std::make_shared<HeldFrame>(buf, self->state.info, stream_time, running_time);
    return current;
  };
  std::vector<PendingRequest> closed;
  auto& pending = self->state.requests;
  for (auto it = pending.begin(); it != pending.end();) {
    if (t <= it->time) it->onScreen = held();
    if (!kelvo::filter::RequestWindowClosed(t, it->time, self->state.half_frame)) {
      ++it;
      continue;
    }
    // A request before the first frame seen gets that first frame.
    if (!it->onScreen) it->onScreen = held();
    self->state.served_on_screen.push_back({it->fileName, it->time});
    closed.push_back(std::move(*it));
    it = pending.erase(it);
  }
  return closed;
}

// Lays out a frame as the filter reads it: packed YUY2 rows of the filter's
// step. A YUY2 frame so laid out is lent as it is (*data points into
// `mapped`); a padded one is repacked and one of another format converted
// into `scratch`. The conversion is videoconvert's with its default
// settings, so a still is the same whether the element or videoconvert made
// the YUY2.
// Empty on success, else why not.
static std::string to_filter_frame(const GstVideoInfo& info, GstBuffer* buffer, MappedFrame* mapped,
                                   kelvo::memory::BlockArray<guint8>* scratch, BYTE** data) {
  GstVideoInfo in = info;
  if (!mapped->Map(&in, buffer)) return "the frame could not be read";
  const int width = mapped->Width();
  const int height = mapped->Height();
  const int filterStride = FilterHost::FrameStride(width);
  const size_t bytes = static_cast<size_t>(FilterHost::FrameBytes(width, height));
  if (GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_YUY2 && mapped->Stride() == filterStride) {
    *data = mapped->Data();
    return {};
  }
  // From the library's block cache (reused by the next frame, fresh ones in
  // huge pages); only the row ends past the pixels, which nothing below
  // writes, are cleared, so that every byte the filter may read is defined.
  *scratch = kelvo::memory::AllocateArray<guint8>(bytes);
  if (!*scratch) return "out of memory converting the frame";
  const size_t pixelBytes = static_cast<size_t>(width) * 2;
  if (static_cast<size_t>(filterStride) > pixelBytes)
    for (int y = 0; y < height; ++y)
      std::memset(scratch->get() + static_cast<size_t>(y) * filterStride + pixelBytes, 0,
                  static_cast<size_t>(filterStride) - pixelBytes);
  if (GST_VIDEO_INFO_FORMAT(&in) == GST_VIDEO_FORMAT_YUY2) {
    for (int y = 0; y < height; ++y)
      std::memcpy(scratch->get() + static_cast<size_t>(y) * filterStride,
                  mapped->Data() + static_cast<size_t>(y) * mapped->Stride(),
                  static_cast<size_t>(width) * 2);
    *data = scratch->get();
    return {};
  }
  GstVideoInfo out;
  gst_video_info_set_format(&out, GST_VIDEO_FORMAT_YUY2, static_cast<guint>(width),
                            static_cast<guint>(height));
  // videoconvert keeps the input's colour description when only the format
  // changes.
  out.colorimetry = in.colorimetry;
  out.chroma_site = in.chroma_site;
  out.interlace_mode = in.interlace_mode;
  out.par_n = in.par_n;
  out.par_d = in.par_d;
  out.fps_n = in.fps_n;
  out.fps_d = in.fps_d;
  GST_VIDEO_INFO_PLANE_STRIDE(&out, 0) = filterStride;
  GST_VIDEO_INFO_SIZE(&out) = bytes;
  GstStructure* config = gst_structure_new(
      "GstVideoConvertConfig", GST_VIDEO_CONVERTER_OPT_DITHER_METHOD, GST_TYPE_VIDEO_DITHER_METHOD,
      GST_VIDEO_DITHER_BAYER, GST_VIDEO_CONVERTER_OPT_DITHER_QUANTIZATION, G_TYPE_UINT, 1u,
      GST_VIDEO_CONVERTER_OPT_CHROMA_RESAMPLER_METHOD, GST_TYPE_VIDEO_RESAMPLER_METHOD,
      GST_VIDEO_RESAMPLER_METHOD_LINEAR, GST_VIDEO_CONVERTER_OPT_ALPHA_MODE,
      GST_TYPE_VIDEO_ALPHA_MODE, GST_VIDEO_ALPHA_MODE_COPY, GST_VIDEO_CONVERTER_OPT_ALPHA_VALUE,
      G_TYPE_DOUBLE, 1.0, GST_VIDEO_CONVERTER_OPT_CHROMA_MODE, GST_TYPE_VIDEO_CHROMA_MODE,
      GST_VIDEO_CHROMA_MODE_FULL, GST_VIDEO_CONVERTER_OPT_MATRIX_MODE, GST_TYPE_VIDEO_MATRIX_MODE,
      GST_VIDEO_MATRIX_MODE_FULL, GST_VIDEO_CONVERTER_OPT_GAMMA_MODE, GST_TYPE_VIDEO_GAMMA_MODE,
      GST_VIDEO_GAMMA_MODE_NONE, GST_VIDEO_CONVERTER_OPT_PRIMARIES_MODE,
      GST_TYPE_VIDEO_PRIMARIES_MODE, GST_VIDEO_PRIMARIES_MODE_NONE, GST_VIDEO_CONVERTER_OPT_THREADS,
      G_TYPE_UINT, 1u, nullptr);
  GstVideoConverter* converter = gst_video_converter_new(&in, &out, config);
  if (!converter) return "the frame could not be converted to YUY2";
  GstBuffer* target =
      gst_buffer_new_wrapped_full(static_cast<GstMemoryFlags>(0), scratch->get(), bytes, 0, bytes,
                                  nullptr, nullptr);
  GstVideoFrame dest;
  const bool ok = gst_video_frame_map(&dest, &out, target, GST_MAP_WRITE) != FALSE;
  if (ok) {
    gst_video_converter_frame(converter, mapped->Frame(), &dest);
    gst_video_frame_unmap(&dest);
  }
  gst_buffer_unref(target);
  gst_video_converter_free(converter);
  if (!ok) return "the frame could not be converted to YUY2";
  *data = scratch->get();
  return {};
}

// Converts a held frame to blue-green-red as the filter does. Empty on
// success, else why not.
static std::string convert_held_frame(const HeldFrame& frame, Still* still) {
  MappedFrame mapped;
  kelvo::memory::BlockArray<guint8> scratch;
  BYTE* data = nullptr;
  const std::string why = to_filter_frame(frame.info, frame.buffer, &mapped, &scratch, &data);
  if (!why.empty()) return "\"" + still->fileName + "\": the frame on screen: " + why;
  const int width = mapped.Width();
  const int height = mapped.Height();
  try {
    still->pixels.resize(static_cast<size_t>(width) * 3 * static_cast<size_t>(height));
  } catch (const std::bad_alloc&) {
    return "\"" + still->fileName + "\": out of memory copying the frame on screen";
  }
  still->width = width;
  still->height = height;
  if (ippiYCbCr422ToBGR_8u_C2C3R(data, FilterHost::FrameStride(width), still->pixels.data(),
                                 width * 3, IppiSize{width, height}) != ippStsNoErr)
    return "\"" + still->fileName + "\": the frame on screen could not be converted";
  return {};
}

// Writes a still of a frame the element took itself (the frame on screen),
// through the same writer and reports as the filter's stills; the frame is
// converted where the still is written. Called without the lock.
static void write_held_still(GstKelvoFrameGrab* self, Still still,
                             std::shared_ptr<HeldFrame> frame) {
  Described d{still, frame->streamTime, frame->runningTime};
  auto produce = [self, d, frame]() mutable {
    std::vector<StillWorker::Item> items;
    Still s = d.still;
    const std::string failure = convert_held_frame(*frame, &s);
    frame.reset();
    if (!failure.empty()) {
      items.push_back(make_item(self, std::move(d), failure));
      return items;
    }
    d.still = std::move(s);
    items.push_back(make_item(self, std::move(d), {}));
    return items;
  };
  dispatch_stills(self, std::move(produce), {Described{std::move(still), d.stream_time, d.running_time}});
}

// Writes the requests served with the frame on screen. Called without the
// lock.
static void write_on_screen_stills(GstKelvoFrameGrab* self, std::vector<PendingRequest>* served) {
  for (PendingRequest& r : *served) {
    Still still;
    still.fileName = r.fileName;
    still.enhance = r.enhance;
    still.requestedTime = r.time;
    still.frameTime = static_cast<double>(r.onScreen->streamTime) / GST_SECOND;
    still.onScreen = true;
    write_held_still(self, std::move(still), std::move(r.onScreen));
  }
}

// A frame on which the filter takes stills, held for as long as it takes to
// hand it over: by reference on the streaming thread, as a copy on the
// worker (upstream may reuse its buffer as soon as it is passed on).
struct DueFrame {
  DueFrame(GstBuffer* b, const GstVideoInfo& i) : buffer(b), info(i) {}
  ~DueFrame() { gst_buffer_unref(buffer); }
  DueFrame(const DueFrame&) = delete;
  DueFrame& operator=(const DueFrame&) = delete;

  GstBuffer* buffer;
  GstVideoInfo info;
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  GstClockTime streamTime = GST_CLOCK_TIME_NONE;
  GstClockTime runningTime = GST_CLOCK_TIME_NONE;
};

// Replaces the pool the due frames are copied into (nullptr: none). Called
// without the lock.
static void set_copy_pool(GstKelvoFrameGrab* self, const GstVideoInfo* info) {
  GstBufferPool* pool = nullptr;
  if (info) {
    pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, nullptr, static_cast<guint>(GST_VIDEO_INFO_SIZE(info)),
                                      0, 0);
    if (!gst_buffer_pool_set_config(pool, config) || !gst_buffer_pool_set_active(pool, TRUE)) {
      gst_object_unref(pool);
      pool = nullptr;
    }
  }
  GstBufferPool* old = nullptr;
  {
    Lock lock(self->state.lock);
    old = self->state.copy_pool;
    self->state.copy_pool = pool;
  }
  if (old) {
    // Copies still held by the worker go back to the system when released.
    gst_buffer_pool_set_active(old, FALSE);
    gst_object_unref(old);
  }
}

// Copies a due frame, laid out as the caps describe, into a reused buffer.
static GstBuffer* copy_due_frame(GstKelvoFrameGrab* self, GstBuffer* buf, const GstVideoInfo& info) {
  GstBufferPool* pool = nullptr;
  {
    Lock lock(self->state.lock);
    if (self->state.copy_pool) pool = GST_BUFFER_POOL(gst_object_ref(self->state.copy_pool));
  }
  GstBuffer* copy = nullptr;
  if (pool && gst_buffer_pool_acquire_buffer(pool, &copy, nullptr) == GST_FLOW_OK) {
    GstVideoInfo layout = info;
    GstVideoFrame from, to;
    bool copied = false;
    if (gst_video_frame_map(&from, &layout, buf, GST_MAP_READ)) {
      if (gst_video_frame_map(&to, &layout, copy, GST_MAP_WRITE)) {
        copied = gst_video_frame_copy(&to, &from) != FALSE;
        gst_video_frame_unmap(&to);
      }
      gst_video_frame_unmap(&from);
    }
    if (!copied) {
      gst_buffer_unref(copy);
      copy = nullptr;
    }
  }
  if (pool) gst_object_unref(pool);
  return copy ? copy : gst_buffer_copy_deep(buf);
}

// Hands a frame on which stills are due to the filter, which converts it
// and takes its stills as it decides; returns them ready to write. The
// filter's answer goes to *hr. When the frame never reaches the filter, the
// stills expected of it are returned failed.
static std::vector<StillWorker::Item> deliver_frame(GstKelvoFrameGrab* self, const DueFrame& frame,
                                                    const std::vector<Described>& expected,
                                                    HRESULT* hr) {
  *hr = S_OK;
  MappedFrame mapped;
  kelvo::memory::BlockArray<guint8> scratch;
  BYTE* data = nullptr;
  std::string why = to_filter_frame(frame.info, frame.buffer, &mapped, &scratch, &data);
  std::vector<TakenStill> taken;
  FilterHost* host = nullptr;
  std::vector<PendingRequest> queued;
  {
    Lock lock(self->state.lock);
    host = self->state.host.get();
    queued.swap(self->state.for_filter);
  }
  {
    // The host lives until the worker is done (stop waits for it first).
    Lock hold(self->state.filter_lock);
    for (const PendingRequest& r : queued)
      if (host && FAILED(host->AddSnapshot(r.fileName, r.time, r.enhance)))
        GST_WARNING_OBJECT(self, "snapshot at %g s refused by the filter", r.time);
  }
  if (why.empty()) {
    Lock hold(self->state.filter_lock);
    if (!host || !host->Connected() || host->Width() != mapped.Width() ||
        host->Height() != mapped.Height()) {
      why = "the video changed before the frame reached the frame grab filter";
    } else {
      const long bytes = FilterHost::FrameBytes(mapped.Width(), mapped.Height());
      REFERENCE_TIME start = frame.start, stop = frame.stop;
      *hr = host->Deliver(data, bytes, &start, &stop);
      taken = host->TakeStills();
    }
  }
  std::vector<StillWorker::Item> items;
  if (!why.empty()) {
    for (const Described& d : expected)
      items.push_back(make_item(self, d, "\"" + d.still.fileName + "\": " + why));
    return items;
  }
  {
    Lock lock(self->state.lock);
    drop_served_requests(self, &taken);
  }
  for (TakenStill& t : taken) {
    Described d{std::move(t.still), frame.streamTime, frame.runningTime};
    items.push_back(make_item(self, std::move(d), t.failure));
  }
  return items;
}

// The stills the filter will take from a frame starting at t (seconds, as
// the filter computes it). The element hands the filter only the frames on
// which something is due, every other frame being one the filter would pass
// on untouched, so it asks the filter's own rule with the filter's own
// settings and lists: the main grab while it waits, the requests pending,
// and those already served with the frame on screen (which the filter still
// holds; it takes them again when played back over their time, and that
// ends its main grab). The requests due are claimed now, so that later
// frames do not serve them while the filter has yet to see this one. Lock
// held.
static bool claim_due_stills(GstKelvoFrameGrab* self, double t, GstClockTime stream_time,
                             GstClockTime running_time, std::vector<Described>* expected) {
  const double half = self->state.half_frame;
  bool due = false;
  if (main_grab_waiting(self) && kelvo::filter::MainGrabReached(t, self->state.grab_time, half)) {
    due = true;
    Still still;
    still.fileName = *self->state.location;
    still.enhance = self->state.enhance;
    still.mainGrab = true;
    still.requestedTime = self->state.grab_time;
    still.frameTime = t;
    expected->push_back({std::move(still), stream_time, running_time});
  }
  auto& pending = self->state.requests;
  for (auto it = pending.begin(); it != pending.end();) {
    if (!kelvo::filter::RequestDue(t, it->time, half)) {
      ++it;
      continue;
    }
    due = true;
    Still still;
    still.fileName = it->fileName;
    still.enhance = it->enhance;
    still.requestedTime = it->time;
    still.frameTime = t;
    expected->push_back({std::move(still), stream_time, running_time});
    it = pending.erase(it);
  }
  for (const ServedRequest& r : self->state.served_on_screen)
    due = due || kelvo::filter::RequestDue(t, r.time, half);
  if (due) {
    self->state.still_taken = true;
    self->state.last_frame.reset();
  }
  return due;
}

static gboolean gst_kelvo_frame_grab_start(GstBaseTransform* trans) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(trans);
  std::string main;
  {
    Lock lock(self->state.lock);
    if (self->state.grab_enabled) main = self->state.location.value_or("");
  }
  // Before the stream runs a bad main location is an error; once it runs,
  // failed stills are warnings and the stream goes on.
  if (!main.empty()) {
    const std::string reason = check_target(main);
    if (!reason.empty()) {
      GST_ELEMENT_ERROR(self, RESOURCE, OPEN_WRITE, ("Cannot write the still: %s", reason.c_str()),
                        (nullptr));
      return FALSE;
    }
  }
  std::string error;
  std::unique_ptr<FilterHost> host = FilterHost::Create(&error);
  if (!host) {
    GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("Cannot start kelvoframegrab: %s", error.c_str()),
                      (nullptr));
    return FALSE;
  }
  Lock lock(self->state.lock);
  self->state.host = std::move(host);
  self->state.caps_error_posted = false;
  self->state.still_taken = false;
  // The new filter holds only the requests queued again below.
  self->state.served_on_screen.clear();
  push_main_settings(self);
  // A new filter starts with nothing grabbed; requests still waiting from an
  // earlier run are queued again.
  self->state.for_filter.clear();
  for (const PendingRequest& r : self->state.requests)
    self->state.host->AddSnapshot(r.fileName, r.time, r.enhance);
  return TRUE;
}

static gboolean gst_kelvo_frame_grab_stop(GstBaseTransform* trans) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(trans);
  // The change to NULL waits for the stills being written, within a limit;
  // the frames the worker has yet to hand to the filter need the filter.
  finish_stills(self);
  std::unique_ptr<FilterHost> host;
  {
    Lock lock(self->state.lock);
    host = std::move(self->state.host);
    for (PendingRequest& r : self->state.requests) r.onScreen.reset();
    self->state.last_frame.reset();
    self->state.stream_end = -1.0;
  }
  // Destroyed without the lock: the filter may wait for its streaming call.
  {
    Lock hold(self->state.filter_lock);
    host.reset();
  }
  set_copy_pool(self, nullptr);
  // The image library keeps freed frame-sized buffers for the next still;
  // once the stream stops they go back to the system.
  kelvo::memory::TrimBlockCache();
  return TRUE;
}

// Refuses the caps; only the first refusal since start posts an error.
static gboolean refuse_caps(GstKelvoFrameGrab* self, GstCaps* caps, const std::string& why) {
  bool post = false;
  {
    Lock lock(self->state.lock);
    post = !self->state.caps_error_posted;
    self->state.caps_error_posted = true;
  }
  if (post)
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("%s", why.c_str()), ("%" GST_PTR_FORMAT, caps));
  else
    GST_DEBUG_OBJECT(self, "caps refused again (%s): %" GST_PTR_FORMAT, why.c_str(), caps);
  return FALSE;
}

static gboolean gst_kelvo_frame_grab_set_caps(GstBaseTransform* trans, GstCaps* incaps,
                                              GstCaps* /*outcaps*/) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(trans);
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, incaps))
    return refuse_caps(self, incaps, "kelvoframegrab cannot read the caps");
  const int width = GST_VIDEO_INFO_WIDTH(&info);
  const int height = GST_VIDEO_INFO_HEIGHT(&info);
  // Frames copied for the worker go to the filter as connected now: a new
  // size waits for them (the stream stops for that moment only when the
  // size changes mid-stream).
  current_worker(self)->Drain(StillWorker::kFinishLimit);
  // Odd widths go to the filter as they are: the 4:2:2 converter gives a
  // row's lone last pixel its own Y, the Cb after it and the Cr of the pair
  // before. The caps already refuse a width of 1, which has no pair at all.
  std::string error;
  bool connected = false;
  {
    Lock lock(self->state.lock);
    FilterHost* host = self->state.host.get();
    if (host) {
      Lock hold(self->state.filter_lock);
      connected = host->Connect(width, height, GST_VIDEO_INFO_FPS_N(&info),
                                GST_VIDEO_INFO_FPS_D(&info), &error);
    } else {
      error = "the element is not started";
    }
    if (connected) {
      const int rate = whole_rate(GST_VIDEO_INFO_FPS_N(&info), GST_VIDEO_INFO_FPS_D(&info));
      if (rate > 0) {
        host->SetFrameRate(rate);
        self->state.half_frame = kelvo::filter::HalfFrameFor(rate);
      }
      // Without a rate in the caps the frame period is taken from the first
      // buffer that has a duration; until then no request can come due.
      self->state.rate_from_buffers = rate <= 0;
      self->state.info = info;
    }
  }
  if (!connected) return refuse_caps(self, incaps, "Caps refused: " + error);
  set_copy_pool(self, &info);
  return TRUE;
}

static gboolean gst_kelvo_frame_grab_sink_event(GstBaseTransform* trans, GstEvent* event) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(trans);
  if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
    // Requests inside the video whose interval the stream ended in get the
    // frame on screen; those after the last frame's end stay unserved.
    std::vector<PendingRequest> inside;
    // The main grab too, when the stream ended inside the last frame
    // before any frame reached grab-time.
    Still main;
    std::shared_ptr<HeldFrame> mainFrame;
    {
      Lock lock(self->state.lock);
      std::shared_ptr<HeldFrame> last = std::move(self->state.last_frame);
      if (last && main_grab_waiting(self) && self->state.grab_time < self->state.stream_end) {
        Still& still = main;
        still.fileName = *self->state.location;
        still.enhance = self->state.enhance;
        still.mainGrab = true;
        still.requestedTime = self->state.grab_time;
        still.frameTime = static_cast<double>(last->streamTime) / GST_SECOND;
        still.onScreen = true;
        mainFrame = std::move(last);
        self->state.still_taken = true;
      }
      auto& pending = self->state.requests;
      for (auto it = pending.begin(); it != pending.end();) {
        if (it->onScreen && it->time < self->state.stream_end) {
          self->state.served_on_screen.push_back({it->fileName, it->time});
          inside.push_back(std::move(*it));
          it = pending.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (mainFrame) write_held_still(self, std::move(main), std::move(mainFrame));
    write_on_screen_stills(self, &inside);
    // Still messages come before the end of the stream, so an application
    // that stops at EOS has them all.
    finish_stills(self);
  } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
    // After a seek the frames held are no longer the ones before the
    // requests' times.
    Lock lock(self->state.lock);
    for (PendingRequest& r : self->state.requests) r.onScreen.reset();
    self->state.last_frame.reset();
    self->state.stream_end = -1.0;
  }
  return GST_BASE_TRANSFORM_CLASS(gst_kelvo_frame_grab_parent_class)->sink_event(trans, event);
}

static GstFlowReturn gst_kelvo_frame_grab_transform_ip(GstBaseTransform* trans, GstBuffer* buf) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(trans);
  const GstSegment* segment = &trans->segment;

  // The filter matches on stream time: the position in the media, which a
  // seek or a non-zero segment start does not shift.
  GstClockTime stream_time = GST_CLOCK_TIME_NONE;
  GstClockTime running_time = GST_CLOCK_TIME_NONE;
  const GstClockTime pts = GST_BUFFER_PTS(buf);
  if (GST_CLOCK_TIME_IS_VALID(pts) && segment->format == GST_FORMAT_TIME) {
    guint64 st = 0;
    if (gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, pts, &st) == 1) stream_time = st;
    running_time = gst_segment_to_running_time(segment, GST_FORMAT_TIME, pts);
  }
  const GstClockTime duration = GST_BUFFER_DURATION(buf);
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = GST_CLOCK_TIME_IS_VALID(stream_time);
  if (timed) {
    start = static_cast<REFERENCE_TIME>(stream_time / 100);
    stop = GST_CLOCK_TIME_IS_VALID(duration) ? static_cast<REFERENCE_TIME>((stream_time + duration) / 100)
                                             : start + 1;
  }

  std::vector<PendingRequest> onScreen;
  std::vector<Described> expected;
  bool due = false;
  bool background = false;
  GstVideoInfo info;
  {
    Lock lock(self->state.lock);
    FilterHost* host = self->state.host.get();
    if (!host || !host->Connected()) return GST_FLOW_NOT_NEGOTIATED;
    if (self->state.rate_from_buffers && GST_CLOCK_TIME_IS_VALID(duration) && duration > 0) {
      const int rate = static_cast<int>(std::lround(static_cast<double>(GST_SECOND) / duration));
      if (rate > 0) {
        host->SetFrameRate(rate);
        self->state.half_frame = kelvo::filter::HalfFrameFor(rate);
        self->state.rate_from_buffers = false;
      }
    }
    info = self->state.info;
    background = self->state.background;
    // A frame without a time is one the filter passes on and never grabs.
    if (timed) {
      // The filter's own arithmetic: start in 100 ns units, in seconds.
      due = claim_due_stills(self, static_cast<double>(start) / 10000000.0, stream_time,
                             running_time, &expected);
      const double end =
          GST_CLOCK_TIME_IS_VALID(duration)
              ? static_cast<double>(stream_time + duration) / GST_SECOND
              : static_cast<double>(stream_time) / GST_SECOND + 2 * self->state.half_frame;
      self->state.stream_end = std::max(self->state.stream_end, end);
      onScreen = close_request_windows(self, buf, stream_time, running_time);
      if (main_grab_waiting(self))
        self->state.last_frame =
            std::make_shared<HeldFrame>(buf, self->state.info, stream_time, running_time);
    }
  }

  HRESULT hr = S_OK;
  if (due) {
    // The frame must be readable as the caps describe it; one that is not
    // is an error, never read past its end.
    {
      MappedFrame check;
      if (!check.Map(&info, buf)) {
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("kelvoframegrab cannot read a frame"),
                          ("buffer of %" G_GSIZE_FORMAT " bytes", gst_buffer_get_size(buf)));
        return GST_FLOW_ERROR;
      }
    }
    // In the background the frame is copied once, here; the worker converts
    // it, hands it to the filter, enhances and writes. Otherwise all of that
    // happens now on the frame as it is.
    GstBuffer* held = background ? copy_due_frame(self, buf, info) : gst_buffer_ref(buf);
    auto frame = std::make_shared<DueFrame>(held, info);
    frame->start = start;
    frame->stop = stop;
    frame->streamTime = stream_time;
    frame->runningTime = running_time;
    if (background) {
      auto produce = [self, frame, expected]() {
        HRESULT result = S_OK;
        std::vector<StillWorker::Item> items = deliver_frame(self, *frame, expected, &result);
        if (FAILED(result))
          GST_ELEMENT_ERROR(self, STREAM, FAILED,
                            ("The frame grab filter failed on the frame at %" GST_TIME_FORMAT,
                             GST_TIME_ARGS(frame->streamTime)),
                            ("Receive returned 0x%08X", static_cast<unsigned>(result)));
        return items;
      };
      dispatch_stills(self, std::move(produce), std::move(expected));
    } else {
      std::vector<StillWorker::Item> items = deliver_frame(self, *frame, expected, &hr);
      frame.reset();
      write_items(&items);
    }
  }
  write_on_screen_stills(self, &onScreen);
  if (FAILED(hr)) {
    GST_ELEMENT_ERROR(self, STREAM, FAILED,
                      ("The frame grab filter failed on the frame at %" GST_TIME_FORMAT,
                       GST_TIME_ARGS(stream_time)),
                      ("Receive returned 0x%08X", static_cast<unsigned>(hr)));
    return GST_FLOW_ERROR;
  }
  return GST_FLOW_OK;
}

static void gst_kelvo_frame_grab_finalize(GObject* object) {
  GstKelvoFrameGrab* self = GST_KELVO_FRAME_GRAB(object);
  set_copy_pool(self, nullptr);
  self->state.~FrameGrabState();
  G_OBJECT_CLASS(gst_kelvo_frame_grab_parent_class)->finalize(object);
}

static void gst_kelvo_frame_grab_class_init(GstKelvoFrameGrabClass* klass) {
  GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
  GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
  GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);

  gobject_class->set_property = gst_kelvo_frame_grab_set_property;
  gobject_class->get_property = gst_kelvo_frame_grab_get_property;
  gobject_class->finalize = gst_kelvo_frame_grab_finalize;

  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_PLAYING);
  g_object_class_install_property(
      gobject_class, PROP_LOCATION,
      g_param_spec_string("location", "Location",
                          "File name of the main still (JPEG). Its folder must exist and be "
                          "writable and the name must not be a pipe or a device; with grab-enabled "
                          "the element refuses to start otherwise",
                          nullptr, flags));
  g_object_class_install_property(
      gobject_class, PROP_GRAB_TIME,
      g_param_spec_double("grab-time", "Grab time",
                          "Stream time in seconds of the main still: the first frame within half a "
                          "frame period of it (or later) is written",
                          0.0, G_MAXDOUBLE, 0.0, flags));
  g_object_class_install_property(
      gobject_class, PROP_GRAB_ENABLED,
      g_param_spec_boolean("grab-enabled", "Grab enabled",
                           "Take the main still (needs location). It is taken once, and not at all "
                           "once a snapshot request has been written",
                           TRUE, flags));
  g_object_class_install_property(
      gobject_class, PROP_BACKGROUND,
      g_param_spec_boolean(
          "write-in-background", "Write in background",
          "Convert, enhance and write the stills on a worker thread of lower priority; the "
          "streaming thread only copies a due frame once. Each still message then comes once its "
          "file is complete, in the order of this element's stills (not interleaved in stream "
          "order with other elements' stills); EOS and stopping wait up to 10 s for the stills "
          "being written. FALSE: all of it on the streaming thread, which holds the frame",
          TRUE, flags));
  g_object_class_install_property(
      gobject_class, PROP_THREADS,
      g_param_spec_uint("threads", "Threads",
                        "Threads the photo enhancement of a still may use; 0 lets the library "
                        "choose (its default)",
                        0, G_MAXUINT, 0, flags));
  g_object_class_install_property(
      gobject_class, PROP_ENHANCE,
      g_param_spec_boolean("enhance", "Enhance",
                           "Run the automatic photo enhancement on the main still", FALSE, flags));

  /**
   * kelvoframegrab::snapshot:
   * @time: stream time in seconds
   * @filename: the JPEG file to write
   * @enhance: run the photo enhancement on this still
   *
   * Queues a still of the frame starting in the open interval
   * (time - 0.005 s, time - 0.005 s + one frame period). When no frame
   * starts in that interval (some times at some rates, gaps in
   * variable-rate files), the still holds the frame on screen at @time: the
   * last frame starting at or before it. Returns FALSE when
   * the file cannot be written (missing or read-only folder, a folder, a
   * named pipe or a device). A still that fails once taken is reported by a
   * warning and its still message.
   */
  frame_grab_signals[SIGNAL_SNAPSHOT] = g_signal_new_class_handler(
      "snapshot", G_TYPE_FROM_CLASS(klass), static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
      G_CALLBACK(gst_kelvo_frame_grab_snapshot), nullptr, nullptr, nullptr, G_TYPE_BOOLEAN, 3,
      G_TYPE_DOUBLE, G_TYPE_STRING, G_TYPE_BOOLEAN);

  gst_element_class_set_static_metadata(
      element_class, "Kelvo frame grab", "Filter/Video",
      "Writes JPEG stills of chosen frames and passes the video through unchanged. Action signal "
      "\"snapshot\" (time, filename, enhance) queues a still. After each still it posts the element "
      "message \"" GST_KELVO_FRAME_GRAB_STILL_MESSAGE "\" with location (string), requested-time "
      "(double, s), stream-time and running-time (guint64, ns) of the frame, main, enhance, "
      "enhanced and failed (boolean), rule (string: \"interval\" when the frame started in the "
      "request's interval, \"on-screen\" when none did and the frame on screen at the requested "
      "time was taken) and reason (string, empty on success); a failed still is also a warning",
      "Kelvo developers");
  gst_element_class_add_static_pad_template(element_class, &sink_template);
  gst_element_class_add_static_pad_template(element_class, &src_template);

  trans_class->start = gst_kelvo_frame_grab_start;
  trans_class->stop = gst_kelvo_frame_grab_stop;
  trans_class->set_caps = gst_kelvo_frame_grab_set_caps;
  trans_class->transform_ip = gst_kelvo_frame_grab_transform_ip;
  trans_class->sink_event = gst_kelvo_frame_grab_sink_event;
  trans_class->transform_ip_on_passthrough = TRUE;

  GST_DEBUG_CATEGORY_INIT(kelvo_frame_grab_debug, "kelvoframegrab", 0, "Kelvo frame grab");
}

static void gst_kelvo_frame_grab_init(GstKelvoFrameGrab* self) {
  new (&self->state) FrameGrabState();
  gst_video_info_init(&self->state.info);

  GstBaseTransform* trans = GST_BASE_TRANSFORM(self);
  // The output is the input: the buffer passes through untouched and the
  // stills are a side effect.
  gst_base_transform_set_passthrough(trans, TRUE);
  gst_base_transform_set_in_place(trans, TRUE);
  // A frame dropped as late could be the one to grab.
  gst_base_transform_set_qos_enabled(trans, FALSE);
}

gboolean gst_kelvo_frame_grab_register(GstPlugin* plugin) {
  return gst_element_register(plugin, "kelvoframegrab", GST_RANK_NONE, GST_TYPE_KELVO_FRAME_GRAB);
}

void gst_kelvo_frame_grab_set_hooks(GstKelvoFrameGrab* self, GstKelvoFrameGrabHooks hooks) {
  self->state.hooks = std::make_shared<const GstKelvoFrameGrabHooks>(std::move(hooks));
}
