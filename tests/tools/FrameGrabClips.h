#pragma once

// Clips made at test time for the framegrab and grab library tests: numbered
// frames (see GstTestSupport.h) at a regular rate or at given times.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/gst/GstTestSupport.h"

namespace kelvo::test {

constexpr int kW = 160;
constexpr int kH = 120;
constexpr int kFps = 25;
constexpr int kFrames = 175;  // 7 s

// What MakeClip encodes: `frames` numbered frames, at regular times from the
// rate or at `pts` (nanoseconds) when given.
struct ClipPlan {
  int width = kW;
  int height = kH;
  int fpsN = kFps;
  int fpsD = 1;
  int frames = kFrames;
  std::vector<GstClockTime> pts;
};

// Waits up to a minute for the pipeline's end of stream, then stops and
// releases it.
inline void FinishPipeline(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* m = gst_bus_timed_pop_filtered(
      bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  EXPECT_NE(m, nullptr);
  if (m) {
    EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS);
    gst_message_unref(m);
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

// Plays a launch line to its end.
inline void RunToEnd(const std::string& launch) {
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  ASSERT_NE(pipeline, nullptr) << (err ? err->message : "");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  FinishPipeline(pipeline);
}

// Encodes the numbered frames of `plan` through `encoder` (a gst-launch
// fragment).
inline void MakeClip(const std::string& path, const std::string& encoder, const ClipPlan& plan = {}) {
  const std::string launch = "appsrc name=src format=time caps=video/x-raw,format=YUY2,width=" +
                             std::to_string(plan.width) + ",height=" + std::to_string(plan.height) +
                             ",framerate=" + std::to_string(plan.fpsN) + "/" +
                             std::to_string(plan.fpsD) + " ! videoconvert ! " + encoder +
                             " ! filesink location=" + path;
  GError* err = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &err);
  ASSERT_NE(pipeline, nullptr) << (err ? err->message : "");
  GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  const int frames = plan.pts.empty() ? plan.frames : static_cast<int>(plan.pts.size());
  auto start = [&](int i) {
    return plan.pts.empty() ? gst_util_uint64_scale(i, GST_SECOND * plan.fpsD, plan.fpsN)
                            : plan.pts[static_cast<size_t>(i)];
  };
  // GStreamer's YUY2 rows hold an even number of pixels: an odd width is
  // laid out as the next even one.
  const int evenWidth = plan.width + (plan.width & 1);
  for (int i = 0; i < frames; ++i) {
    const std::vector<uint8_t> frame = MakeYuy2Frame(evenWidth, plan.height, i);
    GstBuffer* buf = gst_buffer_new_memdup(frame.data(), frame.size());
    GST_BUFFER_PTS(buf) = start(i);
    GST_BUFFER_DURATION(buf) =
        i + 1 < frames || plan.pts.empty() ? start(i + 1) - start(i) : 40 * GST_MSECOND;
    GstFlowReturn ret;
    g_signal_emit_by_name(src, "push-buffer", buf, &ret);
    gst_buffer_unref(buf);
    ASSERT_EQ(ret, GST_FLOW_OK);
  }
  GstFlowReturn ret;
  g_signal_emit_by_name(src, "end-of-stream", &ret);
  gst_object_unref(src);
  FinishPipeline(pipeline);
}

}  // namespace kelvo::test
