#include "imaging/filters/reference/ColourReference.h"

#include <algorithm>
#include <cstddef>

#include "imaging/primitives/ImageView.h"

namespace KelvoLibImageProcessing::reference {
namespace {

// Forward matrix and offsets; every product and sum is rounded to float.
struct Forward {
  float y, cb, cr;
};

Forward ForwardPixel(float b, float g, float r, float o1, float o2) {
  Forward f;
  f.y = 0.256006f * r + 0.5020507f * g + 0.097620964f * b + o1;
  f.cb = 0.43760684f * b - (0.14753032f * r + 0.29007652f * g) + o2;
  f.cr = o2 + (0.43760684f * r - 0.36683217f * g - 0.07077468f * b);
  return f;
}

struct Inverse {
  float r, g, b;
};

Inverse InversePixel(float y, float cb, float cr) {
  Inverse v;
  v.r = 1.1686643f * y - 0.0017945928f * cb + 1.6008666f * cr;
  v.g = 1.1686643f * y - 0.39268896f * cb - 0.81607187f * cr;
  v.b = 1.1686643f * y + 2.0242496f * cb - 0.0012498057f * cr;
  return v;
}

float Clampf(float v, float lo, float hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}
int Clampi(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

int RoundToRange(float v, float maximum) {
  if (v > maximum) return static_cast<int>(maximum);
  if (v < 0.0f) return 0;
  return static_cast<int>(v + 0.5f);
}

// Low 16 bits of the truncated value, read as unsigned, then clamped.
int Wrap16(float v, int lo, int hi) {
  const int truncated = static_cast<int>(v);
  return Clampi(static_cast<int>(static_cast<uint16_t>(truncated)), lo, hi);
}

// Sample pointers of the Y/Cb/Cr side: three planes or one interleaved row.
template <class T>
struct YccSide {
  T* base;
  std::ptrdiff_t stride;  // samples
  int height;
  bool planar;

  T* At(int x, int y, int channel) const {
    if (planar) return base + (static_cast<std::ptrdiff_t>(channel) * height + y) * stride + x;
    return base + y * stride + 3 * x + channel;
  }
};

}  // namespace

void RgbToYCbCr8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  const YccSide<uint8_t> out{dst, dstStride, height, planar};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = RowAt(src, srcStride, y);
    for (int x = 0; x < width; ++x) {
      const Forward f = ForwardPixel(row[3 * x], row[3 * x + 1], row[3 * x + 2], 16.5f, 128.5f);
      *out.At(x, y, 0) = static_cast<uint8_t>(static_cast<int>(Clampf(f.y, 16.0f, 235.0f)));
      *out.At(x, y, 1) = static_cast<uint8_t>(static_cast<int>(Clampf(f.cb, 16.0f, 239.0f)));
      *out.At(x, y, 2) = static_cast<uint8_t>(static_cast<int>(Clampf(f.cr, 16.0f, 239.0f)));
    }
  }
}

void RgbToYCbCr16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  const YccSide<uint16_t> out{dst, dstStride / 2, height, planar};
  for (int y = 0; y < height; ++y) {
    const uint16_t* row = src + static_cast<std::ptrdiff_t>(y) * (srcStride / 2);
    for (int x = 0; x < width; ++x) {
      const Forward f = ForwardPixel(row[3 * x], row[3 * x + 1], row[3 * x + 2], 256.5f, 2048.5f);
      *out.At(x, y, 0) = static_cast<uint16_t>(Wrap16(f.y, 256, 3760));
      *out.At(x, y, 1) = static_cast<uint16_t>(Wrap16(f.cb, 256, 3840));
      *out.At(x, y, 2) = static_cast<uint16_t>(Wrap16(f.cr, 256, 3840));
    }
  }
}

void YCbCrToRgb8(int height, const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
                 int width, bool planar) noexcept {
  const YccSide<const uint8_t> in{src, srcStride, height, planar};
  for (int y = 0; y < height; ++y) {
    uint8_t* row = RowAt(dst, dstStride, y);
    for (int x = 0; x < width; ++x) {
      const int yy = Clampi(*in.At(x, y, 0), 16, 235) - 16;
      const int cb = Clampi(*in.At(x, y, 1), 16, 239) - 128;
      const int cr = Clampi(*in.At(x, y, 2), 16, 239) - 128;
      const Inverse v =
          InversePixel(static_cast<float>(yy), static_cast<float>(cb), static_cast<float>(cr));
      row[3 * x] = static_cast<uint8_t>(RoundToRange(v.b, 255.0f));
      row[3 * x + 1] = static_cast<uint8_t>(RoundToRange(v.g, 255.0f));
      row[3 * x + 2] = static_cast<uint8_t>(RoundToRange(v.r, 255.0f));
    }
  }
}

void YCbCrToRgb16(int height, const uint16_t* src, int srcStride, uint16_t* dst, int dstStride,
                  int width, bool planar) noexcept {
  const YccSide<const uint16_t> in{src, srcStride / 2, height, planar};
  for (int y = 0; y < height; ++y) {
    uint16_t* row = dst + static_cast<std::ptrdiff_t>(y) * (dstStride / 2);
    for (int x = 0; x < width; ++x) {
      const int yy = Clampi(*in.At(x, y, 0), 256, 3760) - 256;
      const int cb = Clampi(*in.At(x, y, 1), 256, 3840) - 2048;
      const int cr = Clampi(*in.At(x, y, 2), 256, 3840) - 2048;
      const Inverse v =
          InversePixel(static_cast<float>(yy), static_cast<float>(cb), static_cast<float>(cr));
      row[3 * x] = static_cast<uint16_t>(RoundToRange(v.b, 4095.0f));
      row[3 * x + 1] = static_cast<uint16_t>(RoundToRange(v.g, 4095.0f));
      row[3 * x + 2] = static_cast<uint16_t>(RoundToRange(v.r, 4095.0f));
    }
  }
}

}  // namespace KelvoLibImageProcessing::reference
