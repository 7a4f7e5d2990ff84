// framegrab: writes JPEG stills of chosen frames of a video file.
#include <gst/gst.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gst/GstKelvoFrameGrab.h"
#include "tools/framegrab/FrameGrabOptions.h"
#include "tools/framegrab/GrabSession.h"
#include "tools/common/HeapTuning.h"

int main(int argc, char** argv) {
  kelvo::tools::KeepWorkBuffersWarm();
  using namespace kelvo::framegrab;
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    std::fprintf(stderr, "framegrab: %s\n\n%s", error.c_str(), UsageText());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  gst_init(nullptr, nullptr);
  if (options.version) {
    gchar* gst = gst_version_string();
    std::printf("framegrab %s (%s)\n", KELVO_VERSION, gst);
    g_free(gst);
    return kExitOk;
  }
  // The element is linked into the tool, so no plugin path is needed.
  gst_kelvo_frame_grab_register(nullptr);
  GrabSession session(options);
  const int status = session.Run();
  gst_deinit();
  return status;
}
