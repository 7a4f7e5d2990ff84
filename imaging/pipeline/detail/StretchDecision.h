#pragma once

// The tuning of the snapshot pipeline's contrast stretch, written as pure
// functions of the quantities that the stages measure, so that every rule can
// be driven on its own without building an image that happens to hit it.
//
// Precision follows the pipeline's definition: the quantities are floats;
// 0.007, 0.05, 0.101 and 0.105 are float constants (comparing a float with a
// float constant gives the same answer in float as in double); every other
// constant is a double literal, so a float quantity is widened and compared
// with it in double.

#include <cstdint>

namespace KelvoLibImageProcessing::detail {

// skinClip from the skin share, the skin mean luminance and the two skin
// luminance levels (counts 0 and 10). 0 when the share is below float 0.01
// or the level for count 0 is 0.
float SkinClipFromLevels(float skinRatio, float skinMean, int level0, int level10);

// The central part of the luminance histogram (between the 10 % clip indices,
// limited to 10 .. 245).
struct MidTones {
  float midRatio = 0.0f;
  float midAve = 0.0f;
};

// midRatio and midAve from 256 luminance counts and the two clip indices.
// When the central range holds no pixel (hiIdx below loIdx,
// or every count between them zero) the quotient would be 0/0. Then midAve is
// the mean luminance of the whole frame, the best remaining estimate of where
// its mid-tones lie: a frame whose pixels all sit below level 10 is then
// low-key (no sharpening of its noise) instead of slipping past every rule.
MidTones ComputeMidTones(const uint32_t* lumCounts, int hiIdx, int loIdx, float origMean);

// Everything the decision reads.
struct StretchMeasures {
  bool doSkin = true;
  float gammaLimit = 1.22f;
  float skinRatio = 0.0f, skinMean = 0.0f, skinClip = 0.0f;
  float lowClip05 = 0.0f, lowClip00 = 0.0f;
  float hiClip1 = 0.0f, hiClip05 = 0.0f, hiClip01 = 0.0f, hiClip00 = 0.0f, hiClip66 = 0.0f;
  double meanRed = 0.0, meanGreen = 0.0, meanBlue = 0.0;
  float origMean = 0.0f, midRatio = 0.0f, midAve = 0.0f;
  // Largest of the red, green and blue high clip indices at 0.00005; read
  // only under a colour cast.
  int maxHighIndexRGB = 255;
  // Share of pixels whose luminance bin is above 249 (1 - C[249] / N).
  double brightShare = 0.0;
};

// What the decision sets.
struct StretchDecision {
  bool colourCast = false, lowKey = false, lowRaised = false;
  float skinLim = 0.0f, finalClip = 0.0f;
  float finalLow = 0.0f, finalHigh = 0.0f, lowLimit = 0.0f;
};

// colourCast, lowKey, finalHigh (with the skin rules), finalLow and its
// bounds, lowLimit.
StretchDecision DecideStretch(const StretchMeasures& m);

// The self-blend opacity after a stretch.
float DecideOpacity(const StretchMeasures& m, const StretchDecision& d);

}  // namespace KelvoLibImageProcessing::detail
