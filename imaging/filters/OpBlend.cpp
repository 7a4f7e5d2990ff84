#include "imaging/filters/OpBlend.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "imaging/analysis/detail/StretchMap.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr const char* kExecute = "OpBlend::Execute";

bool ValidSide(int size) {
  return size >= 64 && size % 4 == 0;
}

// Above full scale gives full scale, below 0 gives 0, else v + 0.5 truncated.
inline int RoundClamp(float v, float fullScale) {
  if (v > fullScale) return static_cast<int>(fullScale);
  if (v < 0.0f) return 0;
  return static_cast<int>(v + 0.5f);
}

// Each output row depends on its input row only, so the rows go to the
// library's threads as bands, unless input and output share bytes without
// being the same rows: those keep the one-thread row order.
template <class Fn>
void ForRowBands(const BitmapData& input, const BitmapData& output, int samplesPerRow, Fn&& fn) {
  const int rows = input.GetHeight();
  const bool sameRows =
      input.GetData() == output.GetData() && input.GetStride() == output.GetStride();
  if (sameRows || kelvo::Disjoint(input.GetData(), input.GetStride(), output.GetData(),
                                  output.GetStride(), rows, 0)) {
    kelvo::ParallelRows(rows, kelvo::BandRows(samplesPerRow), fn);
  } else {
    fn(0, rows);
  }
}

// The mix of a table value t with the sample s: t * o + s * (1 - o).
inline int MixSelf(int t, int s, float o, float inverse, float fullScale) {
  const float v = static_cast<float>(t) * o + static_cast<float>(s) * inverse;
  return RoundClamp(v, fullScale);
}

// Blended value f(a, b) of modes 0 to 2, rounded to float.
inline float Blend(int a, int b, BlendMode mode, float fullScale, int halfScale) {
  const float m = static_cast<float>(a) * static_cast<float>(b) / fullScale;
  if (mode == Multiply) return m;
  const float screen = static_cast<float>(a + b) - m;
  if (mode == Screen) return screen;
  return a <= halfScale ? 2.0f * m : 2.0f * screen - fullScale;
}

void CheckBitmaps(const BitmapData* input, const BitmapData* output) {
  detail::CheckImages(kExecute, {input, output}, {.validSide = ValidSide, .buffers = false});
}

// Checks of the raw two-image forms: pointers, strides (bytes), dimensions.
template <typename T>
void CheckRaw(const T* base, int baseStride, const T* blend, int blendStride, const T* output,
              int outputStride, int width, int height, int channels, const char* where) {
  if (base == nullptr || blend == nullptr || output == nullptr)
    throw IPException(ErrorCode::kNullData, where);
  const long long minimum =
      static_cast<long long>(width) * channels * static_cast<long long>(sizeof(T));
  if (baseStride < minimum || blendStride < minimum || outputStride < minimum) {
    throw IPException(ErrorCode::kInvalidStride, where);
  }
  if (!ValidSide(width) || !ValidSide(height))
    throw IPException(ErrorCode::kInvalidDimensions, where);
}

template <typename T>
void CopyRows(const T* src, int srcStride, T* dst, int dstStride, int width, int height,
              int channels) {
  if (src == dst && srcStride == dstStride) return;
  const std::size_t bytes = static_cast<std::size_t>(width) * channels * sizeof(T);
  for (int y = 0; y < height; ++y)
    std::memmove(RowAt(dst, dstStride, y), RowAt(src, srcStride, y), bytes);
}

// Blend of two images, modes 0 to 2, channels samples per pixel.
template <typename T>
void BlendTwo(const T* base, int baseStride, const T* blend, int blendStride, T* output,
              int outputStride, int width, int height, int channels, BlendMode mode,
              float opacity) {
  const float fullScale = sizeof(T) == 1 ? 255.0f : 4095.0f;
  const int halfScale = sizeof(T) == 1 ? 127 : 2047;
  const float inverse = 1.0f - opacity;
  const int samples = width * channels;
  for (int y = 0; y < height; ++y) {
    const T* a = RowAt(base, baseStride, y);
    const T* b = RowAt(blend, blendStride, y);
    T* out = RowAt(output, outputStride, y);
    for (int i = 0; i < samples; ++i) {
      const float f = Blend(a[i], b[i], mode, fullScale, halfScale);
      const float v = static_cast<float>(a[i]) * inverse + f * opacity;
      out[i] = static_cast<T>(RoundClamp(v, fullScale));
    }
  }
}

}  // namespace

OpBlend::OpBlend() = default;
OpBlend::~OpBlend() = default;

void OpBlend::Release() noexcept {
  multiply_ = {};
  screen_ = {};
  overlay_ = {};
  bitDepth_ = 0;
}

void OpBlend::Allocate(int bitDepth) {
  if (bitDepth == bitDepth_) return;
  Release();
  // The bit depth is recorded only once the tables exist,
  // so a refused depth is refused again on the next call and never leaves
  // a depth without tables behind.
  if (bitDepth != 8 && bitDepth != 16)
    throw IPException(ErrorCode::kInvalidBitDepth, "OpBlend::Allocate");
  const int count = bitDepth == 8 ? 256 : 4096;
  try {
    multiply_.resize(count);
    screen_.resize(count);
    overlay_.resize(count);
  } catch (const std::bad_alloc&) {
    Release();
    throw IPException(ErrorCode::kAllocationFailed, "OpBlend::Allocate");
  }
  const float fullScale = bitDepth == 8 ? 255.0f : 4095.0f;
  const int half = bitDepth == 8 ? 128 : 2048;
  for (int i = 0; i < count; ++i) {
    const float q = static_cast<float>(i) * static_cast<float>(i) / fullScale;
    const float s = static_cast<float>(2 * i) - q;
    const float o = i < half ? 2.0f * q : 2.0f * s - fullScale;
    multiply_[i] = static_cast<uint16_t>(RoundClamp(q, fullScale));
    screen_[i] = static_cast<uint16_t>(RoundClamp(s, fullScale));
    overlay_[i] = static_cast<uint16_t>(RoundClamp(o, fullScale));
  }
  bitDepth_ = bitDepth;
}

void OpBlend::Execute(const BitmapData* input, BitmapData* output, BlendMode mode, float opacity) {
  CheckBitmaps(input, output);
  if (opacity < 0.0f || opacity > 1.0f)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(opacity value)");
  if (opacity == 0.0f) {
    UtilitiesGeneral::CopyData(input, output);
    return;
  }
  width_ = input->GetWidth();
  height_ = input->GetHeight();
  if (input->GetData() == nullptr || output->GetData() == nullptr)
    throw IPException(ErrorCode::kNullData, kExecute);
  if (mode != Screen && mode != Overlay)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(blend mode)");
  const int format = input->GetFormat();
  if (format != kFormatBGR8 && format != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kExecute);
  Allocate(format == kFormatBGR8 ? 8 : 16);
  const std::vector<uint16_t>& table = mode == Screen ? screen_ : overlay_;

  // The mix depends on the sample value only, so it is tabulated once per
  // call: the same float arithmetic per value, one lookup per sample.
  const float inverse = 1.0f - opacity;
  const int samples = width_ * 3;
  if (format == kFormatBGR8) {
    std::array<uint8_t, 256> lut;
    for (int s = 0; s < 256; ++s)
      lut[s] = static_cast<uint8_t>(MixSelf(table[s], s, opacity, inverse, 255.0f));
    const ImageView<const uint8_t> in = input->View<uint8_t>();
    const ImageView<uint8_t> out = output->View<uint8_t>();
    ForRowBands(*input, *output, samples, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        detail::MapBytes(in.Row(y), out.Row(y), static_cast<std::size_t>(samples), lut.data());
      }
    });
  } else {
    std::vector<uint16_t> lut(4096);
    for (int s = 0; s < 4096; ++s)
      lut[s] = static_cast<uint16_t>(MixSelf(table[s], s, opacity, inverse, 4095.0f));
    const ImageView<const uint16_t> inView = input->View<uint16_t>();
    const ImageView<uint16_t> outView = output->View<uint16_t>();
    ForRowBands(*input, *output, samples, [&](int begin, int end) {
      for (int y = begin; y < end; ++y) {
        const uint16_t* in = inView.Row(y);
        uint16_t* out = outView.Row(y);
        // Samples above 12 bits are read as full scale (4095) rather than
        // indexing past the tables.
        for (int i = 0; i < samples; ++i) out[i] = lut[std::min<int>(in[i], 4095)];
      }
    });
  }
}

void OpBlend::Execute(const BitmapData* input, BitmapData* output) {
  Execute(input, output, Overlay, 0.2f);
}

void OpBlend::Execute(BitmapData* image) {
  Execute(image, image, Overlay, 0.2f);
}

void OpBlend::Execute(BitmapData* image, float opacity) {
  Execute(image, image, Screen, opacity);
}

void OpBlend::Execute(const BitmapData* input, BitmapData* output, BlendMode mode,
                      const float* opacityMap, int opacityMapStride) {
  CheckBitmaps(input, output);
  if (opacityMap == nullptr || opacityMapStride < 1) {
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(opacity pointer)");
  }
  width_ = input->GetWidth();
  height_ = input->GetHeight();
  if (input->GetData() == nullptr || output->GetData() == nullptr)
    throw IPException(ErrorCode::kNullData, kExecute);
  if (input->GetFormat() == kFormatBGR8) {
    throw IPException(ErrorCode::kUnsupportedFormat,
                      "OpBlend::Execute: opacity map is not supported for 24-bit data");
  }
  if (input->GetFormat() != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kExecute);
  if (mode == Luminosity) {
    throw IPException(ErrorCode::kInvalidInput,
                      "OpBlend::Execute: opacity map is not supported for blend mode 'Luminosity'");
  }
  if (mode != Multiply && mode != Screen && mode != Overlay) {
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(blend mode)");
  }
  Allocate(16);
  const std::vector<uint16_t>& table =
      mode == Multiply ? multiply_ : (mode == Screen ? screen_ : overlay_);
  const ImageView<const uint16_t> inView = input->View<uint16_t>();
  const ImageView<uint16_t> outView = output->View<uint16_t>();
  for (int y = 0; y < height_; ++y) {
    const uint16_t* in = inView.Row(y);
    uint16_t* out = outView.Row(y);
    const float* map = RowAt(opacityMap, opacityMapStride, y);
    for (int x = 0; x < width_; ++x) {
      const float o = std::clamp(map[x], 0.0f, 1.0f);
      if (o == 0.0f) {
        for (int c = 0; c < 3; ++c) out[3 * x + c] = in[3 * x + c];
        continue;
      }
      const float inverse = 1.0f - o;
      for (int c = 0; c < 3; ++c) {
        const int s = std::min<int>(in[3 * x + c], 4095);
        out[3 * x + c] = static_cast<uint16_t>(MixSelf(table[s], s, o, inverse, 4095.0f));
      }
    }
  }
}

template <class T>
void OpBlend::ExecuteC3(const T* base, int baseStride, const T* blend, int blendStride, T* output,
                        int outputStride, int width, int height, BlendMode mode, float opacity) {
  CheckRaw(base, baseStride, blend, blendStride, output, outputStride, width, height, 3, kExecute);
  width_ = width;
  height_ = height;
  if (opacity == 0.0f) {
    CopyRows(base, baseStride, output, outputStride, width, height, 3);
    return;
  }
  if (opacity < 0.0f || opacity > 1.0f)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(opacity value)");
  if (mode == Multiply || mode == Screen || mode == Overlay) {
    BlendTwo(base, baseStride, blend, blendStride, output, outputStride, width, height, 3, mode,
             opacity);
  } else if (mode == Luminosity || mode == Color) {
    ApplyHLS(base, baseStride, blend, blendStride, output, outputStride, mode, opacity);
  } else {
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::Execute(blend mode)");
  }
}

void OpBlend::Execute(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
                      uint8_t* output, int outputStride, int width, int height, BlendMode mode,
                      float opacity) {
  ExecuteC3(base, baseStride, blend, blendStride, output, outputStride, width, height, mode,
            opacity);
}

void OpBlend::Execute(const uint16_t* base, int baseStride, const uint16_t* blend, int blendStride,
                      uint16_t* output, int outputStride, int width, int height, BlendMode mode,
                      float opacity) {
  ExecuteC3(base, baseStride, blend, blendStride, output, outputStride, width, height, mode,
            opacity);
}

void OpBlend::ExecuteC1(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
                        uint8_t* output, int outputStride, int width, int height, BlendMode mode,
                        float opacity) {
  CheckRaw(base, baseStride, blend, blendStride, output, outputStride, width, height, 1,
           "OpBlend::ExecuteC1");
  width_ = width;
  height_ = height;
  if (opacity == 0.0f) {
    CopyRows(base, baseStride, output, outputStride, width, height, 1);
    return;
  }
  if (opacity < 0.0f || opacity > 1.0f)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::ExecuteC1(opacity value)");
  if (mode != Multiply && mode != Screen && mode != Overlay) {
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::ExecuteC1(blend mode)");
  }
  BlendTwo(base, baseStride, blend, blendStride, output, outputStride, width, height, 1, mode,
           opacity);
}

void OpBlend::ExecuteC1(const uint16_t* base, int baseStride, const uint16_t* blend,
                        int blendStride, uint16_t* output, int outputStride, int width, int height,
                        BlendMode mode, float opacity) {
  CheckRaw(base, baseStride, blend, blendStride, output, outputStride, width, height, 1,
           "OpBlend::ExecuteC1");
  width_ = width;
  height_ = height;
  if (opacity == 0.0f) {
    CopyRows(base, baseStride, output, outputStride, width, height, 1);
    return;
  }
  if (opacity < 0.0f || opacity > 1.0f)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::ExecuteC1: (opacity value)");
  if (mode != Multiply && mode != Screen && mode != Overlay) {
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::ExecuteC1(blend mode)");
  }
  BlendTwo(base, baseStride, blend, blendStride, output, outputStride, width, height, 1, mode,
           opacity);
}

namespace {

// Luminosity / Color on planar Y/Cb/Cr copies of base and blend.
template <typename T, class ToYcc, class ToRgb>
void MixPlanes(const T* base, int baseStride, const T* blend, int blendStride, T* output,
               int outputStride, int width, int height, BlendMode mode, float opacity, ToYcc toYcc,
               ToRgb toRgb) {
  // A mode other than Luminosity or Color is refused before
  // any work, and a failed allocation of the planar copies is reported as
  // code 12 "OpBlend::ApplyHLS"; in both cases the output is untouched.
  if (mode != Luminosity && mode != Color)
    throw IPException(ErrorCode::kInvalidInput, "OpBlend::ApplyHLS(blend mode)");
  const std::size_t plane = static_cast<std::size_t>(width) * height;
  kelvo::memory::BlockArray<T> baseYcc = kelvo::memory::AllocateArray<T>(3 * plane);
  kelvo::memory::BlockArray<T> blendYcc = kelvo::memory::AllocateArray<T>(3 * plane);
  if (!baseYcc || !blendYcc) throw IPException(ErrorCode::kAllocationFailed, "OpBlend::ApplyHLS");
  const int planeStride = width * static_cast<int>(sizeof(T));
  toYcc(height, base, baseStride, baseYcc.get(), planeStride, width, true);
  toYcc(height, blend, blendStride, blendYcc.get(), planeStride, width, true);

  const float maximum = sizeof(T) == 1 ? 255.0f : 65535.0f;
  const float inverse = 1.0f - opacity;
  const std::size_t first = mode == Luminosity ? 0 : plane;
  const std::size_t last = mode == Luminosity ? plane : 3 * plane;
  for (std::size_t i = first; i < last; ++i) {
    const float v =
        static_cast<float>(blendYcc[i]) * opacity + static_cast<float>(baseYcc[i]) * inverse;
    baseYcc[i] = static_cast<T>(RoundClamp(v, maximum));
  }
  toRgb(height, baseYcc.get(), planeStride, output, outputStride, width, true);
}

}  // namespace

void OpBlend::ApplyHLS(const uint8_t* base, int baseStride, const uint8_t* blend, int blendStride,
                       uint8_t* output, int outputStride, BlendMode mode, float opacity) {
  MixPlanes(base, baseStride, blend, blendStride, output, outputStride, width_, height_, mode,
            opacity, &OpConvertRGBtoYCbCr::ConvertUChar, &OpConvertYCbCrtoRGB::ConvertUChar);
}

void OpBlend::ApplyHLS(const uint16_t* base, int baseStride, const uint16_t* blend, int blendStride,
                       uint16_t* output, int outputStride, BlendMode mode, float opacity) {
  MixPlanes(base, baseStride, blend, blendStride, output, outputStride, width_, height_, mode,
            opacity, &OpConvertRGBtoYCbCr::ConvertUShort, &OpConvertYCbCrtoRGB::ConvertUShort);
}

}  // namespace KelvoLibImageProcessing
