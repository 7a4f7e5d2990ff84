#pragma once

// Stills for the writer's tests, shared by the host and element suites.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "host/StillWriter.h"

namespace kelvo::test {

inline std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Gradients with a little texture, so every stage of the enhancement has
// something to change.
inline host::Still MakeStill(int width, int height, const std::string& file) {
  host::Still still;
  still.width = width;
  still.height = height;
  still.fileName = file;
  still.pixels.resize(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &still.pixels[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<uint8_t>(40 + x * 120 / width + ((x * 7 + y * 13) % 11));
      p[1] = static_cast<uint8_t>(60 + y * 100 / height + ((x * 5 + y * 3) % 9));
      p[2] = static_cast<uint8_t>(90 + (x + y) * 80 / (width + height));
    }
  return still;
}

}  // namespace kelvo::test
