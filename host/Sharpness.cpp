#include "host/Sharpness.h"

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

#include "imaging/primitives/Primitives.h"

namespace kelvo::host {

namespace {

// Rows of Laplacian centres per convolution: the strips overlap by the two
// rows the kernel reaches beyond them, and their buffers stay small however
// large the frame.
constexpr int kStripRows = 64;

constexpr float kLaplacian[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0};

}  // namespace

double Sharpness(const uint8_t* bgr, int width, int height, size_t stride) noexcept {
  if (bgr == nullptr || width < 3 || height < 3 || stride < static_cast<size_t>(width) * 3)
    return 0.0;
  // The convolution's rows are addressed with int byte steps.
  if (width > std::numeric_limits<int>::max() / 4 - 2) return 0.0;
  if (ippStaticInit() != ippStsNoErr) return 0.0;
  try {
    const int lumaStep = width * static_cast<int>(sizeof(float));
    const int outWidth = width + 2;
    const int outStep = outWidth * static_cast<int>(sizeof(float));
    std::vector<float> luma(static_cast<size_t>(width) * (kStripRows + 2));
    std::vector<float> conv(static_cast<size_t>(outWidth) * (kStripRows + 4));
    double sum = 0.0, sumSquares = 0.0;
    // Each strip holds luma rows [top, top + rows); the Laplacian is taken
    // at the rows strictly inside it.
    for (int top = 0; top + 2 < height; top += kStripRows) {
      const int rows = std::min(kStripRows + 2, height - top);
      for (int r = 0; r < rows; ++r) {
        const uint8_t* p = bgr + static_cast<size_t>(top + r) * stride;
        float* l = &luma[static_cast<size_t>(r) * width];
        for (int x = 0; x < width; ++x, p += 3)
          l[x] = static_cast<float>((114 * p[0] + 587 * p[1] + 299 * p[2] + 500) / 1000);
      }
      if (ippiConvFull_32f_C1R(luma.data(), lumaStep, {width, rows}, kLaplacian,
                               3 * static_cast<int>(sizeof(float)), {3, 3}, conv.data(),
                               outStep) != ippStsNoErr) {
        return 0.0;
      }
      // Full-convolution output (ox, oy) is centred on luma (ox - 1, oy - 1);
      // all four neighbours exist for ox in [2, width - 1], oy in [2, rows - 1].
      for (int oy = 2; oy <= rows - 1; ++oy) {
        const float* c = &conv[static_cast<size_t>(oy) * outWidth];
        for (int ox = 2; ox <= width - 1; ++ox) {
          const double v = c[ox];
          sum += v;
          sumSquares += v * v;
        }
      }
    }
    const double count = static_cast<double>(width - 2) * static_cast<double>(height - 2);
    const double mean = sum / count;
    return std::max(0.0, sumSquares / count - mean * mean);
  } catch (const std::bad_alloc&) {
    return 0.0;
  }
}

}  // namespace kelvo::host
