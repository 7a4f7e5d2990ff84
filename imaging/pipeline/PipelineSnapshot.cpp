#include "imaging/pipeline/PipelineSnapshot.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "imaging/analysis/Histogram.h"
#include "imaging/analysis/OpContrastStretch.h"
#include "imaging/analysis/SkinMap.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "imaging/filters/OpBlend.h"
#include "imaging/filters/OpSharpen.h"
#include "imaging/pipeline/detail/StretchDecision.h"
#include "imaging/primitives/Primitives.h"

namespace KelvoLibImageProcessing {
namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Noise thresholds per plane, finest level first, three detail bands per
// level. Only the luminance set is applied under the reduction type used
// here; the chroma planes get a 5 x 5 median instead.
constexpr float kThresholdsY[12] = {1.4f, 1.4f, 1.4f, 0.9f, 0.9f, 0.9f,
                                    0.2f, 0.2f, 0.2f, 0.0f, 0.0f, 0.0f};
constexpr float kThresholdsCb[12] = {6.67f, 6.67f, 6.67f, 6.27f, 6.27f, 6.27f,
                                     5.87f, 5.87f, 5.87f, 5.47f, 5.47f, 5.47f};
constexpr float kThresholdsCr[12] = {4.76f, 4.76f, 4.76f, 4.47f, 4.47f, 4.47f,
                                     4.19f, 4.19f, 4.19f, 3.9f, 3.9f, 3.9f};

// Luminance pre-sharpening kernel: 1.3 in the centre and the float with bit
// pattern 0xBC4CCCCB (just above -0.0125) around it, summing to about 1.
float OffCentreTap() {
  constexpr uint32_t kBits = 0xBC4CCCCBu;
  float f;
  static_assert(sizeof f == sizeof kBits);
  __builtin_memcpy(&f, &kBits, sizeof f);
  return f;
}

constexpr int kNoiseLumThresholdChromaMedian = 0;

}  // namespace

PipelineSnapshot::PipelineSnapshot() : PipelineSnapshot(640, 480, kFormatBGR8) {}

PipelineSnapshot::PipelineSnapshot(int width, int height, int pixelFormat) {
  ippStaticInit();
  width_ = width;
  height_ = height;
  pixelFormat_ = pixelFormat;
  noiseReducer_ = std::make_unique<OpReduceNoiseWavelets>();
  sharpener_ = std::make_unique<OpSharpen>();
}

PipelineSnapshot::~PipelineSnapshot() = default;

void PipelineSnapshot::SetPresetNone() {
  gammaLimit_ = 1.22f;
  doNoise_ = doSharp_ = doLStretch_ = doSkin_ = false;
}

void PipelineSnapshot::SetPresetAll() {
  gammaLimit_ = 1.22f;
  doNoise_ = doSharp_ = doLStretch_ = doSkin_ = true;
}

namespace {

// Whether `image` can stand in for a work image (BitmapData(width, height):
// pixel format 2, rows of 3 * width bytes), so every stage sees exactly the
// bytes a copy would hold.
bool HasWorkLayout(const BitmapData& image, int width) {
  return image.GetFormat() == kFormatBGR8 && image.GetStride() == int64_t{3} * width &&
         image.GetData() != nullptr;
}

// Whether the two images' rows share any byte.
bool Overlap(const BitmapData& a, const BitmapData& b) {
  const auto span = [](const BitmapData& i) {
    const uint8_t* p = i.GetData();
    return std::pair<const uint8_t*, const uint8_t*>(
        p, p + static_cast<std::ptrdiff_t>(i.GetStride()) * std::max(i.GetHeight(), 0));
  };
  const auto [a0, a1] = span(a);
  const auto [b0, b1] = span(b);
  return a0 != nullptr && b0 != nullptr && a0 < b1 && b0 < a1;
}

}  // namespace

void PipelineSnapshot::Execute(const BitmapData* input, BitmapData* output) {
  if (input == nullptr || output == nullptr)
    throw IPException(ErrorCode::kNullImage, "PipelineSnapshot::Execute");
  report_ = Report{};
  StageTimes& times = report_.times;
  const Clock::time_point start = Clock::now();

  width_ = input->GetWidth();
  height_ = input->GetHeight();
  // Each stage reads the current image and writes another (the noise
  // reduction may write over its own, below), which then becomes the
  // current one: the result is never copied back. The input is never
  // written unless it is the output, so a frame that already has the work
  // images' layout is read in place instead of being copied in first. The output
  // serves as one of the images the stages write when it has their layout,
  // at once when it is a different image and once the first stage has read
  // the input when it is the input itself; the second work image is made
  // only when neither is free. A large photograph so needs one frame-sized
  // image fewer. A work image is made only when a stage first writes it:
  // the skin analysis before then frees its own buffers, which the block
  // cache then hands to the work image instead of fresh memory.
  BitmapData work[2];
  if (width_ < 1 || height_ < 1 || int64_t{3} * width_ > INT_MAX) {
    // The sizes a work image cannot have fail before any stage, as always
    // (code 0, or 6 for rows too long).
    static_cast<void>(BitmapData(width_, height_));
  }
  const auto workImage = [&](int i) {
    if (work[i].GetData() == nullptr) work[i] = BitmapData(width_, height_);
    return &work[i];
  };
  const BitmapData* current = input;
  if (!HasWorkLayout(*input, width_)) {
    UtilitiesGeneral::CopyData(input, workImage(0));  // refuses other formats (code 3)
    current = &work[0];
  }
  const bool outputIsInput = Overlap(*output, *input);
  const bool outputUsable = HasWorkLayout(*output, width_) && output->GetWidth() == width_ &&
                            output->GetHeight() == height_;
  // The image the next stage writes.
  const auto target = [&]() -> BitmapData* {
    if (outputUsable && current != output && (!outputIsInput || current != input)) return output;
    return current != &work[0] ? workImage(0) : workImage(1);
  };
  Clock::time_point mark = Clock::now();
  times.copyIn = Milliseconds(start, mark);

  const auto lap = [&mark](double& slot) {
    const Clock::time_point now = Clock::now();
    slot = Milliseconds(mark, now);
    mark = now;
  };

  if (doSkin_) {
    RunSkin(*current);
    lap(times.skin);
  }
  if (doNoise_) {
    // The noise reduction reads its whole source before it writes, so it
    // writes over an image that is ours to change: a work image, or the
    // input when it is the output itself. Its frame-sized planes then come
    // and go without another frame beside them, and the next stage's image
    // takes their memory from the block cache rather than fresh pages.
    const bool inputIsOutput = current == input && outputUsable &&
                               output->GetData() == input->GetData() &&
                               output->GetStride() == input->GetStride();
    BitmapData* next = current == &work[0] || current == &work[1] ? &work[current - work]
                       : inputIsOutput                             ? output
                                                                   : target();
    RunNoise(*current, *next);
    current = next;
    lap(times.noise);
  }
  report_.opacity = 0.5f;
  report_.lowKey = false;
  if (doLStretch_) {
    BitmapData* next = target();
    RunStretch(*current, *next);
    current = next;
    lap(times.stretch);
  }
  if (doSharp_ && !report_.lowKey) {
    BitmapData* next = target();
    RunSharpen(*current, *next);
    current = next;
    lap(times.sharpen);
  }

  // The self-blend writes straight into the output when it can take the
  // result; otherwise the blend runs on a work image and the copy into the
  // output refuses the mismatch as it always has.
  OpBlend blend;
  const bool direct = output->GetFormat() == kFormatBGR8 && output->GetWidth() == width_ &&
                      output->GetHeight() == height_ && output->GetData() != nullptr;
  if (direct) {
    // In place when the last stage wrote the output.
    blend.Execute(current, output, Screen, report_.opacity);
    lap(times.blend);
  } else {
    if (current == input) {
      BitmapData* next = target();
      UtilitiesGeneral::CopyData(input, next);
      current = next;
    }
    BitmapData* last = const_cast<BitmapData*>(current);
    blend.Execute(last, last, Screen, report_.opacity);
    lap(times.blend);
    UtilitiesGeneral::CopyData(last, output);
  }
  lap(times.copyOut);
  times.total = Milliseconds(start, mark);
}

void PipelineSnapshot::RunSkin(const BitmapData& a) {
  SkinMap map;
  map.Initialize(&a, 0, false, 0.76f, 30.0f, 60.0f);
  report_.skinRatio = map.SkinFraction();
  report_.skinMean = map.SkinMeanLuminance();
  if (report_.skinRatio >= 0.01f) {
    report_.skinClip = detail::SkinClipFromLevels(report_.skinRatio, report_.skinMean,
                                                  map.SkinLumClipLevel(0),
                                                  map.SkinLumClipLevel(10));
  }
}

void PipelineSnapshot::RunNoise(const BitmapData& a, BitmapData& b) {
  OpReduceNoiseWavelets& noise = *noiseReducer_;
  noise.SetWaveletPreset();
  noise.SetReductionType(kNoiseLumThresholdChromaMedian);
  noise.SetChromaMedianSize(5);
  noise.SetThresholdParams(kThresholdsY, kThresholdsCb, kThresholdsCr);
  noise.Execute(&a, &b);
}

void PipelineSnapshot::RunStretch(const BitmapData& a, BitmapData& b) {
  Report& r = report_;
  detail::StretchMeasures m;
  {
    Histogram histogram;
    histogram.Initialize(&a, 256, true);
    r.hiClip1 = static_cast<float>(histogram.GetClipPointHigh(0.01f, true));
    r.hiClip05 = static_cast<float>(histogram.GetClipPointHigh(0.005f, true));
    r.hiClip01 = static_cast<float>(histogram.GetClipPointHigh(0.001f, true));
    r.hiClip00 = static_cast<float>(histogram.GetClipPointHigh(0.00005f, true));
    r.lowClip05 = static_cast<float>(histogram.GetClipPointLow(0.005f));
    r.lowClip01 = static_cast<float>(histogram.GetClipPointLow(0.001f));
    r.lowClip00 = static_cast<float>(histogram.GetClipPointLow(0.00005f));
    r.hiClip66 = static_cast<float>(histogram.GetClipPointHigh(0.66f, false));

    m.meanRed = histogram.MeanRed();
    m.meanGreen = histogram.MeanGreen();
    m.meanBlue = histogram.MeanBlue();
    r.origMean = static_cast<float>(histogram.MeanLuminance());

    const int hiIdx = std::min(histogram.GetClipIndexHighLum(0.1f), 245);
    const int loIdx = std::max(histogram.GetClipIndexLowLum(0.1f), 10);
    const detail::MidTones mid =
        detail::ComputeMidTones(histogram.DataLuminance(), hiIdx, loIdx, r.origMean);
    r.midRatio = mid.midRatio;
    r.midAve = mid.midAve;

    int red = 0, green = 0, blue = 0;
    histogram.GetClipIndexHighRGB(0.00005f, red, green, blue);
    m.maxHighIndexRGB = std::max({red, green, blue});
    const uint32_t* cumulative = histogram.DataCumulativeLum();
    m.brightShare = 1.0 - static_cast<double>(cumulative[249]) /
                              static_cast<double>(histogram.GetPixelCount());
    histogram.Release();
  }

  m.doSkin = doSkin_;
  m.gammaLimit = gammaLimit_;
  m.skinRatio = r.skinRatio;
  m.skinMean = r.skinMean;
  m.skinClip = r.skinClip;
  m.lowClip05 = r.lowClip05;
  m.lowClip00 = r.lowClip00;
  m.hiClip1 = r.hiClip1;
  m.hiClip05 = r.hiClip05;
  m.hiClip01 = r.hiClip01;
  m.hiClip00 = r.hiClip00;
  m.hiClip66 = r.hiClip66;
  m.origMean = r.origMean;
  m.midRatio = r.midRatio;
  m.midAve = r.midAve;
  const detail::StretchDecision d = detail::DecideStretch(m);
  r.colourCast = d.colourCast;
  r.lowKey = d.lowKey;
  r.lowRaised = d.lowRaised;
  r.skinLim = d.skinLim;
  r.finalClip = d.finalClip;
  r.finalLow = d.finalLow;
  r.finalHigh = d.finalHigh;
  r.lowLimit = d.lowLimit;

  OpContrastStretch::Execute(&a, &b, 255, r.finalLow, r.finalHigh, 100.0f, 90.0f);
  r.opacity = detail::DecideOpacity(m, d);
}

void PipelineSnapshot::RunSharpen(const BitmapData& a, BitmapData& b) {
  float kernel[25];
  std::fill(std::begin(kernel), std::end(kernel), OffCentreTap());
  kernel[12] = 1.3f;
  OpSharpen& sharpen = *sharpener_;
  sharpen.SetUnsharpMaskHybridParams(20.0f, 1.25f, 0.3f);
  sharpen.SetHighPassLumKernel(5, 5, kernel);
  sharpen.SetApplyHighPass(true);
  sharpen.Run(&a, &b, UnsharpMaskHybrid);
}

}  // namespace KelvoLibImageProcessing
