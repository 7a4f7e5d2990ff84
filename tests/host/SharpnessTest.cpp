// The sharpness score: the variance of the Laplacian of the luma.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/Sharpness.h"

namespace {

using kelvo::host::Sharpness;

// width x height blue-green-red pixels, all zero.
std::vector<uint8_t> Black(int width, int height) {
  return std::vector<uint8_t>(static_cast<size_t>(width) * height * 3, 0);
}

// The same score written straight from its definition, for any stride.
double Reference(const std::vector<uint8_t>& bgr, int w, int h, size_t stride) {
  std::vector<int> luma(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &bgr[y * stride + x * 3];
      luma[y * w + x] = (114 * p[0] + 587 * p[1] + 299 * p[2] + 500) / 1000;
    }
  double sum = 0, squares = 0, n = 0;
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      const double l = luma[(y - 1) * w + x] + luma[(y + 1) * w + x] + luma[y * w + x - 1] +
                       luma[y * w + x + 1] - 4.0 * luma[y * w + x];
      sum += l;
      squares += l * l;
      ++n;
    }
  return squares / n - (sum / n) * (sum / n);
}

TEST(Sharpness, ValuesFollowTheLumaAndTheFourNeighbourLaplacian) {
  // 4 x 3: Laplacians only at (1,1) and (2,1). A grey 100 at (1,1) gives
  // -400 there and 100 beside it: variance 250^2.
  std::vector<uint8_t> grey = Black(4, 3);
  for (int c = 0; c < 3; ++c) grey[(1 * 4 + 1) * 3 + c] = 100;
  EXPECT_DOUBLE_EQ(Sharpness(grey.data(), 4, 3, 12), 62500.0);

  // A frame taller than one working strip, with padded rows: the same as
  // the definition, exactly (the sums are of whole numbers).
  const int w = 53, h = 203;
  const size_t stride = w * 3 + 7;
  std::vector<uint8_t> noisy(stride * h, 0xFF);
  uint32_t state = 12345;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * 3; ++x) {
      state = state * 1664525u + 1013904223u;
      noisy[y * stride + x] = static_cast<uint8_t>(state >> 24);
    }
  const double score = Sharpness(noisy.data(), w, h, stride);
  EXPECT_GT(score, 1000.0);
  EXPECT_DOUBLE_EQ(score, Reference(noisy, w, h, stride));
}

TEST(Sharpness, FlatOrTinyPicturesAndBadArgumentsScoreZero) {
  const std::vector<uint8_t> flat(96 * 64 * 3, 117);
  EXPECT_EQ(Sharpness(flat.data(), 96, 64, 96 * 3), 0.0);
  std::vector<uint8_t> board(flat.size());  // far from flat
  for (size_t i = 0; i < board.size(); ++i) board[i] = static_cast<uint8_t>(i * 37 % 251);
  // Too small for a Laplacian, or not a picture at all: zero, no crash.
  EXPECT_EQ(Sharpness(board.data(), 1, 1, 3), 0.0);
  EXPECT_EQ(Sharpness(board.data(), 2, 2, 6), 0.0);
  EXPECT_EQ(Sharpness(board.data(), 2, 50, 6), 0.0);
  EXPECT_EQ(Sharpness(board.data(), 50, 2, 150), 0.0);
  EXPECT_EQ(Sharpness(nullptr, 10, 10, 30), 0.0);
  EXPECT_EQ(Sharpness(board.data(), 10, 10, 29), 0.0);
  EXPECT_EQ(Sharpness(board.data(), -4, 10, 30), 0.0);
}

}  // namespace
