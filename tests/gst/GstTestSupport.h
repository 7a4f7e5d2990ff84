#pragma once

// Helpers shared by the element and framegrab tests: a private GStreamer
// registry, frames whose index can be read back exactly from a JPEG still,
// and a JPEG reader.
//
// Frame i is flat grey in two halves: the left half has luma 32 + 16 * (i / 16),
// the right half 32 + 12 * (i % 16). Flat areas survive YUY2 -> BGR -> JPEG
// (and H.264) within a few levels, far less than the steps between values.

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelvo::test {

// gst_init with a registry of its own (GST_REGISTRY in a temporary folder)
// and GST_PLUGIN_PATH at the plugin built in this tree. Safe to call again.
void InitGstForTests();

constexpr int kMaxFrameIndex = 16 * 12 - 1;

// Luma of the two halves for frame `index`.
uint8_t LeftLuma(int index);
uint8_t RightLuma(int index);

// A YUY2 frame showing `index`, in GStreamer's layout: rows of whole pixel
// pairs padded to 4 bytes (2 * width bytes for even widths).
std::vector<uint8_t> MakeYuy2Frame(int width, int height, int index);

struct Jpeg {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // red, green, blue per pixel, top row first
  // Mean of one channel over the rectangle.
  double Mean(int x0, int y0, int w, int h, int channel) const;
};

// False when the file is missing or not a JPEG.
bool ReadJpeg(const std::string& path, Jpeg* out);

// The frame index a still shows, -1 when it shows none of them (or the halves
// are not flat grey).
int DecodeFrameIndex(const Jpeg& jpeg);

// A fresh empty folder under the system's temporary folder.
std::string MakeTempFolder();
void RemoveTree(const std::string& folder);

bool FileExists(const std::string& path);

}  // namespace kelvo::test
