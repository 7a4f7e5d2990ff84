#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "imaging/denoise/Wavelets.h"
#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

class BitmapData;
class OpConvertRGBtoYCbCr;
class OpConvertYCbCrtoRGB;
class OpImg16to8bit;
class SumAreaTable;
class SumValueTable;

// Wavelet noise reduction of a three-channel image (8-bit or 16-bit
// blue-green-red). The image is split into three planes (Y, Cb, Cr or blue,
// green, red); a plane is decomposed with Wavelets, its detail coefficients
// are shrunk with per-level, per-band thresholds, and it is reconstructed.
//
// Reduction types: 0 LumThresholdChromaMedian (plane 0 thresholded, planes 1
// and 2 median filtered in the image domain), 1
// LumThresholdChromaWaveletMedian (planes 1 and 2 blended with a median of
// their detail bands), 2 Threshold (all planes thresholded), 3
// ThresholdAdaptive (thresholding switched off over edges and blended
// between a dark and a bright threshold set elsewhere). With DataBGR only
// types 2 and 3 are allowed.
//
// Thresholds are three arrays of levels x 3 floats (level-major, finest
// level first; X, Y, XY band within a level), in sample units of the
// processed depth. The built-in set is applied as it is to 16-bit images and
// divided by 16 for 8-bit images under type 2.
//
// Every failure throws IPException; validation happens before anything is
// written. An instance caches maps between calls and is used by one thread
// at a time.
class OpReduceNoiseWavelets {
 public:
  enum ReductionType : int {
    LumThresholdChromaMedian = 0,
    LumThresholdChromaWaveletMedian = 1,
    Threshold = 2,
    ThresholdAdaptive = 3,
  };
  enum DataType : int { DataYCbCr = 0, DataBGR = 1 };

  OpReduceNoiseWavelets();
  ~OpReduceNoiseWavelets();
  OpReduceNoiseWavelets(const OpReduceNoiseWavelets&) = delete;
  OpReduceNoiseWavelets& operator=(const OpReduceNoiseWavelets&) = delete;

  // Four levels of Symlet 4 with mirror padding. Should the number of levels
  // change, both threshold sets and the level weight maps are released and
  // must be set again before Execute.
  void SetWaveletPreset();

  // Code 26 for a type other than 2 or 3 while the data type is DataBGR.
  // A type outside 0..3 (or a data type outside 0..1) is
  // refused with code 11 rather than stored.
  void SetReductionType(int type);
  void SetDataReductionType(int type, int dataType);

  // Three arrays of levels x 3 floats, copied; soft thresholding. Design
  // decision: a null array gives code 5.
  void SetThresholdParams(const float* plane0, const float* plane1, const float* plane2);

  // Adaptive thresholds: soft flag (1 = soft), the dark set, the bright set
  // and the luminance limits of the blend. Code 26 unless minLum < maxLum;
  // a null array gives code 5.
  void SetThresholdAdaptiveParams(int soft, const float* dark0, const float* dark1,
                                  const float* dark2, const float* bright0, const float* bright1,
                                  const float* bright2, float minLum, float maxLum);

  // Mask of the image-domain chroma median of type 0. An
  // even or non-positive size is refused with code 11.
  void SetChromaMedianSize(int size);

  // source and destination: same format (2 or 3) and size, width and height
  // at least 64 and multiples of 4. They may be the same image. Returns true.
  // Thresholds released by SetWaveletPreset and not set
  // again give code 25.
  bool Execute(const BitmapData* source, BitmapData* destination);

  // Noise estimate from the three detail bands of one level (bandHeight x
  // bandWidth dense floats each): the median absolute coefficient over the
  // interior (margin samples left out on every side), scaled to a Gaussian
  // standard deviation. A null band gives code 5 and an
  // empty interior code 0.
  float EstimateNoise(int bandHeight, int bandWidth, const float* detailX, const float* detailY,
                      const float* detailXY, int margin);

  // The thresholding rule on count coefficients: -T <= x <= T becomes 0;
  // otherwise soft thresholding (softThreshold == 1) moves x towards 0 by T,
  // hard thresholding keeps it.
  static void ThresholdCoefficients(float* coefficients, int count, float threshold,
                                    int softThreshold) noexcept;

  int GetLevels() const noexcept { return levels_; }
  int GetWaveletType() const noexcept { return waveletType_; }
  int GetPaddingMethod() const noexcept { return paddingMethod_; }
  int GetReductionType() const noexcept { return reductionType_; }
  int GetDataType() const noexcept { return dataType_; }
  int GetChromaMedianSize() const noexcept { return chromaMedianSize_; }
  int GetSoftThreshold() const noexcept { return softThreshold_; }
  bool HasDefaultThresholds() const noexcept { return defaultThresholds_; }
  // levels x 3 floats of a plane, or null when released.
  const float* GetThresholds(int plane) const noexcept;
  const float* GetThresholdsBright(int plane) const noexcept;

  // The raw maps of the adaptive type (width x height bytes each), null until
  // the first adaptive Execute. The colour map holds max(B, G, R) -
  // min(B, G, R) of each pixel: a colourfulness measure that no step of
  // Execute reads.
  const uint8_t* GetLumMap() const noexcept { return lumMap_.get(); }
  const uint8_t* GetColourMap() const noexcept { return colourMap_.get(); }
  const uint8_t* GetEdgeMap() const noexcept { return edgeMap_.get(); }

 private:
  struct LevelWeightMap {
    int bw = 0, bh = 0, step = 0;  // step in floats, two per sample
    kelvo::memory::BlockArray<float> data;  // with a one-sample frame on every side
    const float* Origin() const { return data.get() + step + 2; }
  };

  template <class T>
  void ExecuteTyped(const BitmapData* source, BitmapData* destination);
  // plane in, out: the result (may be plane). done, when set, is told of
  // every block of finished rows of out (thresholded channels only);
  // floats, when set, gets the rows as floats instead, with scratchPerRow
  // bytes a row of scratch, and out is not written.
  template <class T>
  void ProcessChannel(const T* plane, T* out, int channel, const float* planeThresholds,
                      const std::function<void(int y0, int rows)>* done = nullptr,
                      const Wavelets::FloatRowsDone* floats = nullptr, int scratchPerRow = 0);
  template <class T>
  void ProcessChannelAdaptive(T* plane, int channel, const float* dark, const float* bright);
  void ProcessWaveletLevelMedian(float* const band[3], int bw, int bh,
                                 const float* levelThresholds);
  void GenerateRawWeightMaps(const BitmapData* source);
  const LevelWeightMap& GetLevelWeightMap(int level, int bw, int bh, bool recompute);
  void ReleaseMaps() noexcept;
  void ReleaseThresholds() noexcept;

  int width_ = 0;
  int height_ = 0;
  int area_ = 0;
  std::unique_ptr<OpConvertRGBtoYCbCr> toYCbCr_;
  std::unique_ptr<OpConvertYCbCrtoRGB> toRGB_;
  int levels_ = 4;
  int waveletType_ = 12;
  int paddingMethod_ = 2;
  int dataType_ = DataYCbCr;
  int reductionType_ = Threshold;
  int32_t defaultThresholds_ = 0;
  int chromaMedianSize_ = 9;
  int waveletMedianSize_ = 3;
  int softThreshold_ = 1;
  kelvo::memory::BlockArray<float> thresholds_[3];
  kelvo::memory::BlockArray<uint8_t> lumMap_;
  kelvo::memory::BlockArray<uint8_t> colourMap_;
  std::unique_ptr<SumValueTable> lumTable_;
  std::unique_ptr<OpImg16to8bit> reducer_;
  std::vector<LevelWeightMap> levelWeightMaps_;
  float minLum_ = 0.0f;
  float maxLum_ = 255.0f;
  kelvo::memory::BlockArray<float> thresholdsBright_[3];
  kelvo::memory::BlockArray<uint8_t> edgeMap_;
  std::unique_ptr<SumAreaTable> edgeTable_;
};

}  // namespace KelvoLibImageProcessing
