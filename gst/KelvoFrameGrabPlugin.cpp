// The plugin only registers the element. Its file name, libgstkelvoframegrab.so,
// matches the name given here, as GStreamer requires.
#include "gst/GstKelvoFrameGrab.h"

#ifndef PACKAGE
#define PACKAGE "kelvo"
#endif

static gboolean plugin_init(GstPlugin* plugin) { return gst_kelvo_frame_grab_register(plugin); }

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, kelvoframegrab,
                  "Still grabbing with automatic photo enhancement", plugin_init, "0.1.0", "LGPL",
                  "Kelvo", "https://example.invalid/kelvo")
