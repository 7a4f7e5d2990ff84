#include "imaging/denoise/OpReduceNoiseWavelets.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "imaging/analysis/SumAreaTable.h"
#include "imaging/analysis/SumValueTable.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/denoise/IntelFilters.h"
#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/denoise/OpImg16to8bit.h"
#include "imaging/denoise/UtilitiesFloat.h"
#include "imaging/denoise/Wavelets.h"
#include "imaging/denoise/detail/RangeEdges.h"
#include "imaging/denoise/detail/WaveletShrink.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/filters/detail/ColourConvert.h"
#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr int kPresetLevels = 4;
constexpr int kPresetType = 12;
constexpr int kPresetPadding = OpExtendBorder::PaddingMirror;

// Built-in thresholds per plane and level (finest first); the three bands
// of a level share the value.
constexpr float kDefaultThresholds[3][kPresetLevels] = {
    {4.3f, 3.4f, 2.44f, 0.0f},
    {13.34f, 12.54f, 11.74f, 10.94f},
    {9.52f, 8.95f, 8.38f, 7.8f},
};

// n elements from the block cache, all zero; a failure is code 12 with
// `where`.
template <class T>
kelvo::memory::BlockArray<T> AllocateZeroed(size_t n, const char* where) {
  kelvo::memory::BlockArray<T> a = kelvo::memory::AllocateArray<T>(n, true);
  if (!a) throw IPException(ErrorCode::kAllocationFailed, where);
  return a;
}

kelvo::memory::BlockArray<float> AllocateFloats(size_t n, const char* where) {
  kelvo::memory::BlockArray<float> p = kelvo::memory::AllocateArray<float>(n);
  if (!p) throw IPException(ErrorCode::kAllocationFailed, where);
  return p;
}

void ThresholdBand(float* x, size_t n, float t, bool soft) {
  detail::ShrinkCoefficients(x, n, t, soft);
}

}  // namespace

OpReduceNoiseWavelets::OpReduceNoiseWavelets() {
  toYCbCr_.reset(new (std::nothrow) OpConvertRGBtoYCbCr());
  if (!toYCbCr_) {
    throw IPException(ErrorCode::kInstantiationFailed,
                      "OpReduceNoiseWavelets::OpReduceNoiseWavelets(OpConvertRGBtoYCbCr)");
  }
  toRGB_.reset(new (std::nothrow) OpConvertYCbCrtoRGB());
  if (!toRGB_) {
    throw IPException(ErrorCode::kInstantiationFailed,
                      "OpReduceNoiseWavelets::OpReduceNoiseWavelets(OpConvertYCbCrtoRGB)");
  }
  reducer_.reset(new (std::nothrow) OpImg16to8bit());
  levels_ = kPresetLevels;
  paddingMethod_ = kPresetPadding;
  reductionType_ = Threshold;
  waveletType_ = kPresetType;
  dataType_ = DataYCbCr;
  chromaMedianSize_ = 9;
  waveletMedianSize_ = 3;
  float planes[3][3 * kPresetLevels];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 3 * kPresetLevels; ++i) planes[c][i] = kDefaultThresholds[c][i / 3];
  }
  SetThresholdParams(planes[0], planes[1], planes[2]);
  defaultThresholds_ = 1;
}

OpReduceNoiseWavelets::~OpReduceNoiseWavelets() = default;

void OpReduceNoiseWavelets::ReleaseMaps() noexcept {
  lumMap_ = {};
  colourMap_ = {};
  edgeMap_ = {};
  lumTable_.reset();
  edgeTable_.reset();
  levelWeightMaps_.clear();
}

void OpReduceNoiseWavelets::ReleaseThresholds() noexcept {
  for (int c = 0; c < 3; ++c) {
    thresholds_[c].reset();
    thresholdsBright_[c].reset();
  }
}

void OpReduceNoiseWavelets::SetWaveletPreset() {
  if (levels_ != kPresetLevels) {
    ReleaseThresholds();
    levelWeightMaps_.clear();
  }
  levels_ = kPresetLevels;
  paddingMethod_ = kPresetPadding;
  waveletType_ = kPresetType;
}

void OpReduceNoiseWavelets::SetReductionType(int type) {
  if (dataType_ == DataBGR && type != Threshold && type != ThresholdAdaptive) {
    throw IPException(ErrorCode::kGeneral,
                      "OpReduceNoiseWavelets::SetReductionType: ONLY reduction type Threshold and "
                      "ThresholdAdaptive are supported for BGR data");
  }
  if (type < LumThresholdChromaMedian || type > ThresholdAdaptive) {
    throw IPException(ErrorCode::kInvalidInput, "OpReduceNoiseWavelets::SetReductionType");
  }
  reductionType_ = type;
}

void OpReduceNoiseWavelets::SetDataReductionType(int type, int newDataType) {
  if (newDataType == DataBGR && type != Threshold && type != ThresholdAdaptive) {
    throw IPException(ErrorCode::kGeneral,
                      "OpReduceNoiseWavelets::SetDataReductionType: ONLY reduction type Threshold "
                      "and ThresholdAdaptive are supported for BGR data");
  }
  if (type < LumThresholdChromaMedian || type > ThresholdAdaptive ||
      (newDataType != DataYCbCr && newDataType != DataBGR)) {
    throw IPException(ErrorCode::kInvalidInput, "OpReduceNoiseWavelets::SetDataReductionType");
  }
  reductionType_ = type;
  dataType_ = newDataType;
}

void OpReduceNoiseWavelets::SetThresholdParams(const float* plane0, const float* plane1,
                                               const float* plane2) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::SetThresholdParams";
  const float* in[3] = {plane0, plane1, plane2};
  for (const float* p : in) {
    if (p == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  }
  const size_t n = 3 * static_cast<size_t>(levels_);
  for (int c = 0; c < 3; ++c) {
    if (!thresholds_[c]) thresholds_[c] = AllocateFloats(n, kWhere);
  }
  for (int c = 0; c < 3; ++c) std::memcpy(thresholds_[c].get(), in[c], n * sizeof(float));
  softThreshold_ = 1;
  defaultThresholds_ = 0;
}

void OpReduceNoiseWavelets::SetThresholdAdaptiveParams(int soft, const float* dark0,
                                                       const float* dark1, const float* dark2,
                                                       const float* bright0, const float* bright1,
                                                       const float* bright2, float newMinLum,
                                                       float newMaxLum) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::SetThresholdAdaptiveParams";
  if (newMaxLum <= newMinLum) {
    throw IPException(
        ErrorCode::kGeneral,
        "OpReduceNoiseWavelets::SetThresholdAdaptiveParams: minLum must be less than maxLum");
  }
  const float* dark[3] = {dark0, dark1, dark2};
  const float* bright[3] = {bright0, bright1, bright2};
  for (int c = 0; c < 3; ++c) {
    if (dark[c] == nullptr || bright[c] == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  }
  softThreshold_ = soft;
  minLum_ = newMinLum;
  maxLum_ = newMaxLum;
  const size_t n = 3 * static_cast<size_t>(levels_);
  for (int c = 0; c < 3; ++c) {
    if (!thresholds_[c]) thresholds_[c] = AllocateFloats(n, kWhere);
    if (!thresholdsBright_[c]) thresholdsBright_[c] = AllocateFloats(n, kWhere);
    std::memcpy(thresholds_[c].get(), dark[c], n * sizeof(float));
    std::memcpy(thresholdsBright_[c].get(), bright[c], n * sizeof(float));
  }
  defaultThresholds_ = 0;
}

void OpReduceNoiseWavelets::SetChromaMedianSize(int size) {
  if (size < 1 || size % 2 == 0) {
    throw IPException(ErrorCode::kInvalidInput, "OpReduceNoiseWavelets::SetChromaMedianSize");
  }
  chromaMedianSize_ = size;
}

const float* OpReduceNoiseWavelets::GetThresholds(int plane) const noexcept {
  return (plane >= 0 && plane < 3) ? thresholds_[plane].get() : nullptr;
}

const float* OpReduceNoiseWavelets::GetThresholdsBright(int plane) const noexcept {
  return (plane >= 0 && plane < 3) ? thresholdsBright_[plane].get() : nullptr;
}

bool OpReduceNoiseWavelets::Execute(const BitmapData* source, BitmapData* destination) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::Execute";
  detail::CheckImages(kWhere, {source, destination});
  const int format = source->GetFormat();
  if (format != kFormatBGR8 && format != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  const int w = source->GetWidth();
  const int h = source->GetHeight();
  if (w < 64 || h < 64 || w % 4 != 0 || h % 4 != 0)
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  if (w != width_ || h != height_) {
    ReleaseMaps();
    width_ = w;
    height_ = h;
    area_ = w * h;
  }
  const long long minStride = (format == kFormatBGR8 ? 3LL : 6LL) * w;
  if (source->GetStride() < minStride || destination->GetStride() < minStride) {
    throw IPException(ErrorCode::kInvalidStride, kWhere);
  }
  const bool adaptive = reductionType_ == ThresholdAdaptive;
  for (int c = 0; c < 3; ++c) {
    if (!thresholds_[c] || (adaptive && !thresholdsBright_[c]))
      throw IPException(ErrorCode::kDataNotAvailable, kWhere);
  }
  if (format == kFormatBGR8) {
    ExecuteTyped<uint8_t>(source, destination);
  } else {
    ExecuteTyped<uint16_t>(source, destination);
  }
  return true;
}

template <class T>
void OpReduceNoiseWavelets::ExecuteTyped(const BitmapData* source, BitmapData* destination) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::Execute";
  const size_t planeSize = static_cast<size_t>(area_);
  const int planeStride = width_ * static_cast<int>(sizeof(T));
  // Type 0 on 16-bit samples keeps two more planes: the chroma medians go
  // straight to planes 3 and 4 and the luminance result to plane 2 once its
  // chroma is filtered, so planes 2 to 4 are the output, in order. 8-bit
  // samples need neither (see below).
  const bool chromaMedian = reductionType_ == LumThresholdChromaMedian && sizeof(T) == 2;
  kelvo::memory::BlockArray<T> planar =
      kelvo::memory::AllocateArray<T>((chromaMedian ? 5 : 3) * planeSize);
  if (!planar) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  T* planes[3] = {planar.get(), planar.get() + planeSize, planar.get() + 2 * planeSize};
  T* result = planar.get();

  // The whole image is read before the destination (possibly the same
  // image) is written.
  if (dataType_ == DataBGR) {
    for (int y = 0; y < height_; ++y) {
      const T* in = source->View<T>().Row(y);
      const size_t row = static_cast<size_t>(y) * width_;
      for (int x = 0; x < width_; ++x) {
        planes[0][row + x] = in[3 * x];
        planes[1][row + x] = in[3 * x + 1];
        planes[2][row + x] = in[3 * x + 2];
      }
    }
  } else if constexpr (sizeof(T) == 1) {
    toYCbCr_->ConvertUChar(height_, source->GetData(), source->GetStride(), planar.get(),
                           planeStride, width_, true);
  } else {
    toYCbCr_->ConvertUShort(height_, reinterpret_cast<const uint16_t*>(source->GetData()),
                            source->GetStride(), planar.get(), planeStride, width_, true);
  }

  switch (reductionType_) {
    case LumThresholdChromaMedian: {
      // The luminance rows go to the destination as the synthesis finishes
      // each block of them, while they are in the cache, instead of in a
      // pass of their own once the plane is complete. The source was read
      // whole by the conversion above, so the destination may be it.
      const int dstStride = destination->GetStride();
      uint8_t* const dst = destination->GetData();
      if constexpr (sizeof(T) == 1) {
        // 8-bit luminance goes to the conversion as the synthesis's floats,
        // rounded on the way, without a plane of its own; the chroma medians
        // of the same rows are taken there too, into the synthesis's scratch
        // rows, which stay in the cache, so they need no planes either and
        // run in the synthesis's bands rather than in passes of their own.
        const Wavelets::FloatRowsDone toBgr = [&](int y0, int rows, const float* y, int step,
                                                  uint8_t* chroma) {
          const size_t n = static_cast<size_t>(rows) * width_;
          for (int c = 1; c < 3; ++c) {
            IntelFilters::FilterMedianRows(planes[c], planeStride, width_, height_,
                                           chromaMedianSize_, y0, rows, chroma + (c - 1) * n,
                                           planeStride);
          }
          detail::FloatYCbCrRowsToRgb8(rows, y, step, chroma, chroma + n, planeStride,
                                       dst + static_cast<ptrdiff_t>(y0) * dstStride, dstStride,
                                       width_);
        };
        ProcessChannel(planes[0], planes[0], 0, thresholds_[0].get(), nullptr, &toBgr, 2 * width_);
        return;
      }
      for (int c = 1; c < 3; ++c) {
        IntelFilters::FilterMedianC1(planes[c], planeStride, planes[0] + (c + 2) * planeSize,
                                     planeStride, width_, height_, chromaMedianSize_);
      }
      result = planes[0] + 2 * planeSize;
      const std::function<void(int, int)> toBgr = [&](int y0, int rows) {
        const T* in = result + static_cast<size_t>(y0) * width_;
        uint8_t* out = dst + static_cast<ptrdiff_t>(y0) * dstStride;
        if constexpr (sizeof(T) == 1) {
          detail::YCbCrRowsToRgb8(rows, in, planeStride, out, dstStride, width_, height_);
        } else {
          detail::YCbCrRowsToRgb16(rows, in, planeStride, reinterpret_cast<uint16_t*>(out),
                                   dstStride, width_, height_);
        }
      };
      ProcessChannel(planes[0], result, 0, thresholds_[0].get(), &toBgr);
      return;
    }
    case ThresholdAdaptive:
      GenerateRawWeightMaps(source);
      for (int c = 0; c < 3; ++c) {
        ProcessChannelAdaptive(planes[c], c, thresholds_[c].get(), thresholdsBright_[c].get());
      }
      break;
    default:  // LumThresholdChromaWaveletMedian and Threshold
      for (int c = 0; c < 3; ++c) ProcessChannel(planes[c], planes[c], c, thresholds_[c].get());
      break;
  }

  if (dataType_ == DataBGR) {
    for (int y = 0; y < height_; ++y) {
      T* out = destination->View<T>().Row(y);
      const size_t row = static_cast<size_t>(y) * width_;
      for (int x = 0; x < width_; ++x) {
        out[3 * x] = planes[0][row + x];
        out[3 * x + 1] = planes[1][row + x];
        out[3 * x + 2] = planes[2][row + x];
      }
    }
  } else if constexpr (sizeof(T) == 1) {
    toRGB_->ConvertUChar(height_, result, planeStride, destination->GetData(),
                         destination->GetStride(), width_, true);
  } else {
    toRGB_->ConvertUShort(height_, result, planeStride,
                          reinterpret_cast<uint16_t*>(destination->GetData()),
                          destination->GetStride(), width_, true);
  }
}

template <class T>
void OpReduceNoiseWavelets::ProcessChannel(const T* plane, T* out, int channel,
                                           const float* planeThresholds,
                                           const std::function<void(int y0, int rows)>* done,
                                           const Wavelets::FloatRowsDone* floats,
                                           int scratchPerRow) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::ProcessChannel";
  // The built-in thresholds are in 12-bit units; 8-bit samples under type 2
  // use them divided by 16.
  kelvo::memory::BlockArray<float> scaled;
  if (reductionType_ == Threshold && defaultThresholds_ && sizeof(T) == 1) {
    scaled = AllocateFloats(3 * static_cast<size_t>(levels_), kWhere);
    for (int i = 0; i < 3 * levels_; ++i) scaled[i] = planeThresholds[i] / 16.0f;
    planeThresholds = scaled.get();
  }
  const int planeStride = width_ * static_cast<int>(sizeof(T));
  const bool median = !(channel == 0 || reductionType_ == Threshold);

  Wavelets wavelets;
  wavelets.Initialize(waveletType_, levels_, paddingMethod_);
  if (median) {
    wavelets.DecomposeSamples(plane, planeStride, width_, height_);
    int* widths = nullptr;
    int* heights = nullptr;
    float** bands = wavelets.GetMRAPyramid(&widths, &heights);
    for (int k = 0; k < levels_; ++k) {
      const int bw = (widths[k] + 1) / 2;
      const int bh = (heights[k] + 1) / 2;
      float* const detail[3] = {bands[4 * k + 1], bands[4 * k + 2], bands[4 * k + 3]};
      ProcessWaveletLevelMedian(detail, bw, bh, planeThresholds + 3 * k);
    }
    if (floats != nullptr) {
      wavelets.ReconstructRows(width_, height_, *floats, scratchPerRow);
      return;
    }
    wavelets.ReconstructSamples(out, planeStride, width_, height_);
    if (done != nullptr) (*done)(0, height_);
    return;
  }
  // Plain thresholding is applied by the analysis as it stores the detail
  // bands, so no pass reads them again before the synthesis; the bands keep
  // the frames the transform extends them into. Nothing but the synthesis
  // reads them, so the samples it does not read are not computed.
  wavelets.SetFramedBands(true);
  wavelets.SetOnlyReadBands(true);
  wavelets.SetDetailShrink(planeThresholds, softThreshold_ == 1);
  wavelets.DecomposeSamples(plane, planeStride, width_, height_);
  if (floats != nullptr) {
    wavelets.ReconstructRows(width_, height_, *floats, scratchPerRow);
  } else if (done != nullptr) {
    wavelets.ReconstructSamples(out, planeStride, width_, height_, Wavelets::RowEdit(), *done);
  } else {
    wavelets.ReconstructSamples(out, planeStride, width_, height_);
  }
}

void OpReduceNoiseWavelets::ProcessWaveletLevelMedian(float* const band[3], int bw, int bh,
                                                      const float* levelThresholds) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::ProcessWaveletLevel";
  const size_t n = static_cast<size_t>(bw) * bh;
  kelvo::memory::BlockArray<int16_t> coefficients = kelvo::memory::AllocateArray<int16_t>(n);
  kelvo::memory::BlockArray<int16_t> medians = kelvo::memory::AllocateArray<int16_t>(n);
  if (!coefficients || !medians) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  for (int b = 0; b < 3; ++b) {
    float* x = band[b];
    for (size_t i = 0; i < n; ++i) {
      const float v = x[i];
      coefficients[i] = (v > 32767.0f)    ? int16_t(32767)
                        : (v < -32768.0f) ? int16_t(-32768)
                                          : static_cast<int16_t>(v + 0.5f);
    }
    // The 16-bit median works on 12-bit data: it filters signed samples and
    // clamps its result to 0..4095.
    IntelFilters::FilterMedianC1(reinterpret_cast<const uint16_t*>(coefficients.get()), bw * 2,
                                 reinterpret_cast<uint16_t*>(medians.get()), bw * 2, bw, bh,
                                 waveletMedianSize_);
    const float t = levelThresholds[b];
    for (size_t i = 0; i < n; ++i) {
      const float m = static_cast<float>(medians[i]);
      const float a = std::fabs(x[i]);
      if (a <= t) {
        x[i] = m;
      } else if (a <= 2.0f * t) {
        x[i] = (x[i] + m) * 0.5f;
      }
    }
  }
}

void OpReduceNoiseWavelets::GenerateRawWeightMaps(const BitmapData* source) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::GenerateRawWeightMaps";
  BitmapData reduced;
  const BitmapData* image = source;
  if (source->GetFormat() == kFormatBGR16) {
    if (!reducer_) reducer_.reset(new (std::nothrow) OpImg16to8bit());
    if (!reducer_)
      throw IPException(ErrorCode::kInstantiationFailed,
                        "OpReduceNoiseWavelets::GenerateRawWeightMaps(OpImg16to8bit)");
    reduced.Initialize(width_, height_, kFormatBGR8, nullptr, 3 * width_);
    reducer_->Execute(source, &reduced);
    image = &reduced;
  }
  const size_t n = static_cast<size_t>(area_);
  lumMap_ = AllocateZeroed<uint8_t>(n, kWhere);
  colourMap_ = AllocateZeroed<uint8_t>(n, kWhere);
  edgeMap_ = AllocateZeroed<uint8_t>(n, kWhere);
  // Per-channel planes for the edge test.
  kelvo::memory::BlockArray<uint8_t> channels = AllocateZeroed<uint8_t>(3 * n, kWhere);
  for (int y = 0; y < height_; ++y) {
    const uint8_t* in = image->View<uint8_t>().Row(y);
    const size_t row = static_cast<size_t>(y) * width_;
    for (int x = 0; x < width_; ++x) {
      const int b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
      lumMap_[row + x] = static_cast<uint8_t>(std::min(255, (b + 2 * g + r + 2) >> 2));
      colourMap_[row + x] = static_cast<uint8_t>(std::max({b, g, r}) - std::min({b, g, r}));
      channels[row + x] = static_cast<uint8_t>(r);
      channels[n + row + x] = static_cast<uint8_t>(g);
      channels[2 * n + row + x] = static_cast<uint8_t>(b);
    }
  }
  try {
    // Only the luminance is averaged over regions; the colour map is kept for
    // GetColourMap alone, so it gets no table.
    lumTable_.reset(new SumValueTable(lumMap_.get(), width_, height_, width_));
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kInstantiationFailed,
                      "OpReduceNoiseWavelets::GenerateRawWeightMaps(SumValueTable)");
  }

  // Edge map: 255 where a 7 x 7 neighbourhood spans 30 or more levels in the
  // red, green or blue plane (the plain range: separable maximum and
  // minimum), for centres at least 3 pixels inside the image.
  kelvo::memory::BlockArray<uint8_t> rowMax = AllocateZeroed<uint8_t>(n, kWhere);
  kelvo::memory::BlockArray<uint8_t> rowMin = AllocateZeroed<uint8_t>(n, kWhere);
  for (int c = 0; c < 3; ++c) {
    detail::MarkRangeEdges7x7(channels.get() + c * n, width_, height_, 30, rowMax.get(),
                              rowMin.get(), edgeMap_.get());
  }
  try {
    edgeTable_.reset(new SumAreaTable(edgeMap_.get(), width_, height_, width_));
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kInstantiationFailed,
                      "OpReduceNoiseWavelets::GenerateRawWeightMaps(SumAreaTable)");
  }
}

const OpReduceNoiseWavelets::LevelWeightMap& OpReduceNoiseWavelets::GetLevelWeightMap(
    int level, int bw, int bh, bool recompute) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::GetLevelWeightMap";
  if (levelWeightMaps_.size() != static_cast<size_t>(levels_)) {
    try {
      levelWeightMaps_.clear();
      levelWeightMaps_.resize(static_cast<size_t>(levels_));
    } catch (const std::bad_alloc&) {
      throw IPException(ErrorCode::kAllocationFailed, kWhere);
    }
  }
  LevelWeightMap& map = levelWeightMaps_[static_cast<size_t>(level)];
  if (!recompute && map.data && map.bw == bw && map.bh == bh) return map;

  // The map carries a one-sample frame so that an uneven margin can be
  // padded symmetrically without leaving it; the row step holds the
  // largest padding.
  map.bw = bw;
  map.bh = bh;
  map.step = 2 * (bw + 2);
  map.data = AllocateZeroed<float>(static_cast<size_t>(map.step) * (bh + 3), kWhere);
  float* origin = map.data.get() + map.step + 2;

  const int nx = width_ >> (level + 1);
  const int ny = height_ >> (level + 1);
  const int x0 = (bw - nx) / 2;
  const int y0 = (bh - ny) / 2;
  const float sx = static_cast<float>(width_) / static_cast<float>(nx);
  const float sy = static_cast<float>(height_) / static_cast<float>(ny);
  const long half = std::lround(sx * sy * 0.5f);
  const auto bound = [](float v, int limit) {
    return static_cast<int>(std::clamp(std::lround(v), 0L, static_cast<long>(limit - 1)));
  };
  const float range = maxLum_ - minLum_;
  for (int j = 0; j < ny; ++j) {
    const int r0 = bound((static_cast<float>(j) - 0.5f) * sy, height_);
    const int r1 = bound((static_cast<float>(j) + 0.5f) * sy, height_);
    float* out = origin + static_cast<ptrdiff_t>(y0 + j) * map.step + 2 * x0;
    for (int i = 0; i < nx; ++i) {
      const int c0 = bound((static_cast<float>(i) - 0.5f) * sx, width_);
      const int c1 = bound((static_cast<float>(i) + 0.5f) * sx, width_);
      float dark = 0.0f, bright = 0.0f;
      if (static_cast<long>(edgeTable_->ROIPixels(c0, r0, c1, r1)) < half) {
        const double count = static_cast<double>(c1 - c0 + 1) * (r1 - r0 + 1);
        const float m =
            count > 0 ? static_cast<float>(lumTable_->ROIValue(c0, r0, c1, r1) / count) : 0.0f;
        if (m <= minLum_) {
          dark = 1.0f;
        } else if (m >= maxLum_) {
          bright = 1.0f;
        } else {
          bright = (m - minLum_) / range;
          dark = 1.0f - bright;
        }
      }
      out[2 * i] = dark;
      out[2 * i + 1] = bright;
    }
  }
  const int padX = std::max(x0, bw - nx - x0);
  const int padY = std::max(y0, bh - ny - y0);
  OpExtendBorder().Execute(2, nx, ny, origin + static_cast<ptrdiff_t>(y0) * map.step + 2 * x0,
                           map.step * 4, padX, padY, paddingMethod_);
  return map;
}

template <class T>
void OpReduceNoiseWavelets::ProcessChannelAdaptive(T* plane, int channel, const float* dark,
                                                   const float* bright) {
  const int planeStride = width_ * static_cast<int>(sizeof(T));
  Wavelets wavelets;
  wavelets.Initialize(waveletType_, levels_, paddingMethod_);
  wavelets.DecomposeSamples(plane, planeStride, width_, height_);
  int* widths = nullptr;
  int* heights = nullptr;
  float** bands = wavelets.GetMRAPyramid(&widths, &heights);
  const bool soft = softThreshold_ == 1;
  for (int k = 0; k < levels_; ++k) {
    const int bw = (widths[k] + 1) / 2;
    const int bh = (heights[k] + 1) / 2;
    const LevelWeightMap& map = GetLevelWeightMap(k, bw, bh, channel == 0);
    for (int b = 0; b < 3; ++b) {
      float* x = bands[4 * k + 1 + b];
      const float tDark = dark[3 * k + b];
      const float tBright = bright[3 * k + b];
      for (int y = 0; y < bh; ++y) {
        const float* wRow = map.Origin() + static_cast<ptrdiff_t>(y) * map.step;
        float* row = x + static_cast<size_t>(y) * bw;
        for (int i = 0; i < bw; ++i) {
          const float t = tBright * wRow[2 * i + 1] + tDark * wRow[2 * i];
          ThresholdBand(row + i, 1, t, soft);
        }
      }
    }
  }
  wavelets.ReconstructSamples(plane, planeStride, width_, height_);
}

void OpReduceNoiseWavelets::ThresholdCoefficients(float* coefficients, int count, float threshold,
                                                  int soft) noexcept {
  if (coefficients == nullptr || count < 1) return;
  ThresholdBand(coefficients, static_cast<size_t>(count), threshold, soft == 1);
}

float OpReduceNoiseWavelets::EstimateNoise(int bandHeight, int bandWidth, const float* detailX,
                                           const float* detailY, const float* detailXY,
                                           int margin) {
  constexpr const char* kWhere = "OpReduceNoiseWavelets::EstimateNoise";
  if (detailX == nullptr || detailY == nullptr || detailXY == nullptr) {
    throw IPException(ErrorCode::kNullData, kWhere);
  }
  const int iw = bandWidth - 2 * margin;
  const int ih = bandHeight - 2 * margin;
  if (margin < 0 || iw < 1 || ih < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  const size_t count = 3 * static_cast<size_t>(iw) * ih;
  kelvo::memory::BlockArray<float> values = AllocateZeroed<float>(count, kWhere);
  size_t at = 0;
  for (const float* band : {detailX, detailY, detailXY}) {
    for (int y = margin; y < bandHeight - margin; ++y) {
      const float* row = band + static_cast<size_t>(y) * bandWidth;
      for (int x = margin; x < bandWidth - margin; ++x) values[at++] = std::fabs(row[x]);
    }
  }
  int before = 0, after = 0;
  const float median = UtilitiesFloat::MedianDivideAndConquer(
      values.get(), 0, static_cast<int>(count) - 1, before, after);
  return static_cast<float>(median * 1.4825797080993652);
}

}  // namespace KelvoLibImageProcessing
