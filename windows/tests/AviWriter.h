#pragma once

// A minimal writer of uncompressed AVI files: one video stream of packed
// YUY2 frames with an index, enough for a media-graph AVI splitter.

#include <cstdint>
#include <string>
#include <vector>

struct AviVideo {
  int width = 0;
  int height = 0;
  int framesPerSecond = 0;
  // One buffer per frame, width * height * 2 bytes of Y0 U Y1 V.
  std::vector<std::vector<uint8_t>> frames;
};

// Writes the file; false when it cannot be written.
bool WriteYuy2Avi(const std::wstring& path, const AviVideo& video);

// A grey frame of mean luma `y` (width a multiple of 4): a fine diagonal
// pattern of -6, -2, +2, +6 around it, neutral chroma. The pattern gives the
// enhancement something to work on; the mean identifies the frame.
std::vector<uint8_t> GreyYuy2Frame(int width, int height, uint8_t y);
