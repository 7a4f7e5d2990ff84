#pragma once

// kelvoframegrab: a GStreamer element that hosts the frame grab filter.
//
// Video flows through unchanged (in place, never copied); on the frames the
// filter's timing rule picks it writes JPEG stills, and after each still it
// posts an element message named "kelvoframegrab-still":
//   location        (string)  the file written
//   requested-time  (double)  the time asked for, seconds of stream time
//   stream-time     (guint64) stream time of the frame the still holds, ns
//   running-time    (guint64) running time of that frame, ns
//   main            (boolean) TRUE for the main grab, FALSE for a request
//   enhance         (boolean) whether enhancement was asked for

#include <gst/base/gstbasetransform.h>
#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_KELVO_FRAME_GRAB (gst_kelvo_frame_grab_get_type())
G_DECLARE_FINAL_TYPE(GstKelvoFrameGrab, gst_kelvo_frame_grab, GST, KELVO_FRAME_GRAB, GstBaseTransform)

// Name of the element message posted after each still.
#define GST_KELVO_FRAME_GRAB_STILL_MESSAGE "kelvoframegrab-still"

// Registers the element with `plugin` (nullptr: statically, for programs
// that link the element directly).
gboolean gst_kelvo_frame_grab_register(GstPlugin* plugin);

G_END_DECLS
