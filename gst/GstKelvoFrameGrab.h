#pragma once

// kelvoframegrab: a GStreamer element that hosts the frame grab filter.
//
// Video flows through unchanged (in place, never copied), in any of the
// formats of KELVO_FRAME_GRAB_FORMATS. The filter decides which frames are due (the main grab at
// grab-time, queued snapshot requests); the element hands it only the frames
// on which its rule makes something due, asking that same rule first, so
// every other frame costs no more than that question. By default
// (write-in-background) the streaming thread copies a due frame once and a
// worker thread of lower priority converts it (to YUY2, as videoconvert
// would, when it comes in another format), hands it to the filter, enhances and
// writes each still as a JPEG through a temporary file renamed over the
// target; without write-in-background all of that happens on the streaming
// thread with no lock held. The snapshot signal returns at once: the filter
// is given the request before the next frame it sees. Once the file is
// complete or has failed the element posts an element message named
// "kelvoframegrab-still":
//   location        (string)  the file
//   requested-time  (double)  the time asked for, seconds of stream time
//   stream-time     (guint64) stream time of the frame the still holds, ns
//   running-time    (guint64) running time of that frame, ns
//   main            (boolean) TRUE for the main grab, FALSE for a request
//   enhance         (boolean) whether enhancement was asked for
//   enhanced        (boolean) whether the still was written enhanced (a
//                             frame that cannot be enhanced is written as it
//                             is, with a STREAM / FAILED warning)
//   rule            (string)  "interval": the filter's rule took the frame
//                             (for a request, the frame starting in
//                             (T - 0.005 s, T - 0.005 s + one frame period));
//                             "on-screen": no frame started in that interval
//                             and the element took the frame on screen at T,
//                             the last one starting at or before it
//   failed          (boolean) TRUE when the still could not be written
//   reason          (string)  why not, naming the file; empty on success
//
// Failures: a main location that cannot be written fails start with a
// RESOURCE / OPEN_WRITE error (setting it only logs a warning, since a
// property value cannot be refused), and the "snapshot" signal refuses a
// target that cannot be written. Once streaming, a still that fails is a
// RESOURCE / WRITE warning ("Could not write the still \"FILE\"", the reason
// as debug text) plus its still message with failed set; the stream goes on.
// Targets that exist and are not regular files (named pipes, devices) are
// refused without being opened, so nothing blocks on them.
//
// With write-in-background, EOS is passed on, and the change from PAUSED to
// READY completes, only once the stills being written are done, or after
// 10 s: stills still waiting then are given up (nothing of them was
// written) and reported failed. A change of frame size mid-stream waits
// (up to the same limit) for the frames copied before it.

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_KELVO_FRAME_GRAB (gst_kelvo_frame_grab_get_type())
G_DECLARE_FINAL_TYPE(GstKelvoFrameGrab, gst_kelvo_frame_grab, GST, KELVO_FRAME_GRAB, GstBaseTransform)

// The formats the element takes: YUY2, which the filter reads, and the
// decoders' other 8-, 10- and 12-bit YUV layouts, which it converts to YUY2
// only for the frames it writes. They are the YUV formats a player's
// rotation step (videoflip) carries, so a decoder's frames reach the
// element unconverted whether or not they are turned upright first. RGB
// and grey are left to videoconvert, whose choice of colour description
// for the YUV it makes of them the element would otherwise have to repeat.
#define KELVO_FRAME_GRAB_FORMATS                                                               \
  "{ YUY2, I420, NV12, YV12, IYUV, NV21, UYVY, YVYU, Y444, AYUV, I420_10LE, I420_10BE, "      \
  "I420_12LE, I420_12BE, I422_10LE, I422_10BE, I422_12LE, I422_12BE, Y444_10LE, Y444_10BE, "  \
  "Y444_12LE, Y444_12BE }"

// Name of the element message posted after each still.
#define GST_KELVO_FRAME_GRAB_STILL_MESSAGE "kelvoframegrab-still"

// Registers the element with `plugin` (nullptr: statically, for programs
// that link the element directly).
gboolean gst_kelvo_frame_grab_register(GstPlugin* plugin);

G_END_DECLS

#ifdef __cplusplus
#include <functional>

#include "host/StillWriter.h"

// For programs that link the element: `prepare` adjusts each still before it
// is written (the format follows its file name; quality, size, metadata,
// whether to keep the pixels or write no file at all), `written` sees each
// result, the final pixels included when they were kept, before the still
// message is posted. Both run on the thread that writes the still. Set them
// before the element starts.
struct GstKelvoFrameGrabHooks {
  std::function<void(kelvo::host::Still&)> prepare;
  std::function<void(const kelvo::host::Still&, const kelvo::host::StillResult&)> written;
};
void gst_kelvo_frame_grab_set_hooks(GstKelvoFrameGrab* self, GstKelvoFrameGrabHooks hooks);
#endif
