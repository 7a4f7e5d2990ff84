#pragma once

#include <memory>

namespace KelvoLibImageProcessing {

class BitmapData;
class OpReduceNoiseWavelets;
class OpSharpen;

// Turns one grabbed frame (pixel format 2) into the enhanced still: skin
// analysis, wavelet noise reduction, a contrast stretch decided from the
// luminance statistics and the skin, hybrid unsharp masking of luminance and
// a Screen self-blend. Each stage reads the current image and writes the
// other of two work images, which then becomes the current one: the two swap
// roles and nothing is copied back. Each is allocated, once per Execute,
// when a stage first writes it; a frame already in their layout is read in
// place by the first stage. The noise reduction reads its whole source
// before writing, so it writes over a work image it reads, or over the
// input when that is the output.
//
// Failures are IPExceptions from the operations called; Execute does not
// catch them, and the output is then not written.
class PipelineSnapshot {
 public:
  // Per-stage wall-clock times of the last Execute, in milliseconds. A stage
  // that is switched off takes 0.
  struct StageTimes {
    double copyIn = 0.0;   // the copy of an input not in the work layout
    double skin = 0.0;     // skin map and its statistics
    double noise = 0.0;    // wavelet noise reduction
    double stretch = 0.0;  // histogram, decision and contrast stretch
    double sharpen = 0.0;  // hybrid unsharp mask
    double blend = 0.0;    // Screen self-blend
    double copyOut = 0.0;  // copy into the output
    double total = 0.0;
  };

  // The quantities of the last Execute: what the stretch decision measured
  // and decided. Quantities of a stage that did not run stay 0; opacity is
  // 0.5 unless the stretch decision set it. Reading it costs the pipeline
  // nothing: the values are kept as the stages run anyway.
  struct Report {
    float skinRatio = 0.0f, skinMean = 0.0f, skinClip = 0.0f;
    float lowClip05 = 0.0f, lowClip01 = 0.0f, lowClip00 = 0.0f;
    float hiClip1 = 0.0f, hiClip05 = 0.0f, hiClip01 = 0.0f, hiClip00 = 0.0f, hiClip66 = 0.0f;
    float origMean = 0.0f, midRatio = 0.0f, midAve = 0.0f;
    float skinLim = 0.0f, finalClip = 0.0f;
    float finalLow = 0.0f, finalHigh = 0.0f, lowLimit = 0.0f;
    float opacity = 0.5f;
    bool colourCast = false, lowKey = false, lowRaised = false;
    StageTimes times;
  };

  // 640 x 480, pixel format 2.
  PipelineSnapshot();
  // Runs ippStaticInit first, then creates the noise reducer and sharpener.
  PipelineSnapshot(int width, int height, int pixelFormat);
  ~PipelineSnapshot();

  PipelineSnapshot(const PipelineSnapshot&) = delete;
  PipelineSnapshot& operator=(const PipelineSnapshot&) = delete;

  // input and output: pixel format 2, equal size; output may be input.
  // A null image throws code 4 with "PipelineSnapshot::Execute".
  void Execute(const BitmapData* input, BitmapData* output);

  // Presets: gammaLimit 1.22 with every stage off, or with every stage on.
  void SetPresetNone();
  void SetPresetAll();

  void SetDoSkin(bool on) { doSkin_ = on; }
  void SetDoNoise(bool on) { doNoise_ = on; }
  void SetDoLStretch(bool on) { doLStretch_ = on; }
  void SetDoSharp(bool on) { doSharp_ = on; }
  // The stretch's high clip never exceeds 1 - 1 / gammaLimit.
  void SetGammaLimit(float gammaLimit) { gammaLimit_ = gammaLimit; }

  bool GetDoSkin() const { return doSkin_; }
  bool GetDoNoise() const { return doNoise_; }
  bool GetDoLStretch() const { return doLStretch_; }
  bool GetDoSharp() const { return doSharp_; }
  float GetGammaLimit() const { return gammaLimit_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetPixelFormat() const { return pixelFormat_; }

  // The quantities and stage times of the last Execute (defaults before
  // the first).
  const Report& GetReport() const { return report_; }

 private:
  void RunSkin(const BitmapData& a);
  void RunNoise(const BitmapData& a, BitmapData& b);
  void RunStretch(const BitmapData& a, BitmapData& b);
  void RunSharpen(const BitmapData& a, BitmapData& b);

  int width_;
  int height_;
  int pixelFormat_;
  std::unique_ptr<OpReduceNoiseWavelets> noiseReducer_;
  std::unique_ptr<OpSharpen> sharpener_;
  bool doNoise_ = true;
  bool doSharp_ = true;
  bool doLStretch_ = true;
  float gammaLimit_ = 1.22f;
  bool doSkin_ = true;
  Report report_;
};

}  // namespace KelvoLibImageProcessing
