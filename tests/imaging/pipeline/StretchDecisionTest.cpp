// The stretch decision driven rule by rule through its measured quantities.
#include "imaging/pipeline/detail/StretchDecision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace KelvoLibImageProcessing::detail {
namespace {

// A neutral, mid-grey frame with no skin: no rule but the mean-luminance
// choice of the high clip applies.
StretchMeasures Neutral() {
  StretchMeasures m;
  m.doSkin = true;
  m.gammaLimit = 1.22f;
  m.meanRed = m.meanGreen = m.meanBlue = 120.0;
  m.origMean = 120.0f;
  m.midRatio = 0.7f;
  m.midAve = 100.0f;
  m.hiClip1 = 0.10f;
  m.hiClip05 = 0.08f;
  m.hiClip01 = 0.06f;
  m.hiClip00 = 0.04f;
  m.hiClip66 = 0.5f;
  m.lowClip05 = 0.05f;
  m.lowClip00 = 0.03f;
  m.maxHighIndexRGB = 250;
  return m;
}

TEST(SkinClipTest, LevelChoiceAndRaisedFloors) {
  // Below float 0.01 of skin, or no level: no skin clip.
  EXPECT_EQ(SkinClipFromLevels(0.0099f, 80.0f, 200, 190), 0.0f);
  EXPECT_EQ(SkinClipFromLevels(0.5f, 80.0f, 0, 190), 0.0f);
  // The share is compared inclusively with float 0.01.
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.01f, 80.0f, 200, 190), (255 - 200) / 255.0f);
  // Mid skin uses the count-0 level; below 95 it is raised to 110.
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 50.0f, 94, 80), (255 - 110) / 255.0f);
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 50.0f, 95, 80), (255 - 95) / 255.0f);
  // Dark skin (below 35) uses the count-10 level when there is one...
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 30.0f, 200, 150), (255 - 150) / 255.0f);
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 30.0f, 200, 0), (255 - 200) / 255.0f);
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 35.0f, 200, 150), (255 - 200) / 255.0f);
  // ... and very dark skin (below 27) is floored at 75, not 110.
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 26.0f, 60, 50), (255 - 75) / 255.0f);
  EXPECT_FLOAT_EQ(SkinClipFromLevels(0.2f, 27.0f, 60, 50), (255 - 110) / 255.0f);
  // Stored as a float from the double quotient.
  EXPECT_EQ(SkinClipFromLevels(0.2f, 80.0f, 200, 0), static_cast<float>(55 / 255.0));
}

TEST(MidTonesTest, RatioAndAverageOverTheCentralBins) {
  std::vector<uint32_t> counts(256, 0);
  counts[5] = 1000;  // outside the range: ignored
  counts[50] = 3;
  counts[100] = 1;
  MidTones t = ComputeMidTones(counts.data(), 200, 20, 77.0f);
  EXPECT_EQ(t.midRatio, static_cast<float>(181 * 0.00390625));
  EXPECT_EQ(t.midAve, static_cast<float>((3 * 50 + 100) / 4.0));

  // Indices crossed (all pixels dark) or an empty centre: the frame's mean
  // stands in, so the result is never NaN.
  t = ComputeMidTones(counts.data(), 4, 10, 12.5f);
  EXPECT_EQ(t.midRatio, static_cast<float>(-5 * 0.00390625));
  EXPECT_EQ(t.midAve, 12.5f);
  std::vector<uint32_t> ends(256, 0);
  ends[0] = ends[255] = 10;
  t = ComputeMidTones(ends.data(), 245, 10, 127.5f);
  EXPECT_FALSE(std::isnan(t.midAve));
  EXPECT_EQ(t.midAve, 127.5f);
}

TEST(StretchDecisionTest, HighClipFollowsMeanLuminanceWithInclusiveUpperBounds) {
  StretchMeasures m = Neutral();
  const auto high = [&](float origMean) {
    m.origMean = origMean;
    return DecideStretch(m).finalHigh;
  };
  // finalHigh is halved after the choice; none of these reach the limit.
  EXPECT_EQ(high(127.01f), m.hiClip00 * 0.5f);
  EXPECT_EQ(high(127.0f), m.hiClip01 * 0.5f);
  EXPECT_EQ(high(100.01f), m.hiClip01 * 0.5f);
  EXPECT_EQ(high(100.0f), m.hiClip05 * 0.5f);
  EXPECT_EQ(high(80.01f), m.hiClip05 * 0.5f);
  EXPECT_EQ(high(80.0f), m.hiClip1 * 0.5f);
}

TEST(StretchDecisionTest, GammaLimitCapsTheHighClip) {
  StretchMeasures m = Neutral();
  m.origMean = 60.0f;
  m.hiClip1 = 0.9f;
  StretchDecision d = DecideStretch(m);
  EXPECT_EQ(d.finalHigh, static_cast<float>(1.0 - 1.0 / static_cast<double>(1.22f)));
  m.gammaLimit = 2.0f;
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.45f);
  // With a limit above the halved clip, the clip passes unchanged.
  m.hiClip1 = 0.2f;
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.1f);
}

TEST(StretchDecisionTest, ColourCastLimitsHighAndLowAndLowersOpacity) {
  StretchMeasures m = Neutral();
  m.meanRed = 150.0;
  m.meanGreen = 120.0;
  m.meanBlue = 100.0;
  m.origMean = 125.0f;
  m.hiClip01 = 0.3f;
  m.maxHighIndexRGB = 240;  // (255 - 240) / 256 = 0.05859375
  StretchDecision d = DecideStretch(m);
  EXPECT_TRUE(d.colourCast);
  EXPECT_EQ(d.finalHigh, 0.05859375f * 0.5f);
  // finalLow 15/256 before the bounds, within lowLimit 19/256 after them.
  EXPECT_EQ(d.finalLow, 0.05859375f);
  EXPECT_EQ(d.lowLimit, 0.07421875f);
  EXPECT_EQ(DecideOpacity(m, d), 0.1f);
  // The cast wins over the skin rules: skinLim is never set.
  m.skinRatio = 0.3f;
  m.skinClip = 0.1f;
  m.skinMean = 80.0f;
  d = DecideStretch(m);
  EXPECT_EQ(d.skinLim, 0.0f);
  // ... but bright skin wins the opacity.
  m.skinMean = 121.0f;
  EXPECT_EQ(DecideOpacity(m, DecideStretch(m)), 0.0f);

  // A spread of exactly 40 is a cast; just under it is not.
  m = Neutral();
  m.meanRed = 140.0;
  m.meanBlue = 100.0;
  EXPECT_TRUE(DecideStretch(m).colourCast);
  m.meanRed = 139.999;
  EXPECT_FALSE(DecideStretch(m).colourCast);
}

TEST(StretchDecisionTest, LowKeyFramesAreNotClippedAndGetOpacityPointTwo) {
  StretchMeasures m = Neutral();
  m.origMean = 45.0f;
  m.midRatio = 0.3f;
  m.midAve = 59.9f;
  m.hiClip1 = 0.1f;
  StretchDecision d = DecideStretch(m);
  EXPECT_TRUE(d.lowKey);
  EXPECT_EQ(d.finalHigh, 0.0f);
  EXPECT_EQ(DecideOpacity(m, d), 0.2f);

  // Between 60 and 80: low-key, the clip halved once more.
  m.midAve = 60.0f;
  d = DecideStretch(m);
  EXPECT_TRUE(d.lowKey);
  EXPECT_EQ(d.finalHigh, 0.1f * 0.5f * 0.5f);
  EXPECT_EQ(DecideOpacity(m, d), 0.5f);

  // midAve exactly 80 and midRatio exactly 0.5 are not low-key.
  m.midAve = 80.0f;
  EXPECT_FALSE(DecideStretch(m).lowKey);
  m.midAve = 50.0f;
  m.midRatio = 0.5f;
  EXPECT_FALSE(DecideStretch(m).lowKey);
}

TEST(StretchDecisionTest, SkinRulesBoundTheHighClip) {
  StretchMeasures m = Neutral();
  m.skinRatio = 0.1f;
  m.skinClip = 0.25f;
  m.hiClip66 = 0.3f;

  // Skin brighter than the frame: the clip comes down to the skin limit.
  m.origMean = 95.0f;  // hiClip05
  m.hiClip05 = 0.5f;
  m.skinMean = 100.0f;
  StretchDecision d = DecideStretch(m);
  EXPECT_EQ(d.skinLim, 0.2f);
  EXPECT_EQ(d.finalClip, 0.2f);
  EXPECT_EQ(d.finalHigh, 0.1f);

  // Skin limit by skin mean, inclusive upper bounds.
  m.skinMean = 60.0f;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.3f);
  m.skinMean = 50.0f;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.35f);
  m.skinMean = 40.0f;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.4f);
  // A bright frame tightens every limit above 0.15 to 0.175.
  m.origMean = 100.5f;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.175f);

  // The skin clip itself is bounded by hiClip66.
  m = Neutral();
  m.skinRatio = 0.1f;
  m.skinClip = 0.25f;
  m.hiClip66 = 0.12f;
  m.skinMean = 70.0f;
  m.origMean = 60.0f;
  m.hiClip1 = 0.5f;
  d = DecideStretch(m);
  EXPECT_EQ(d.finalClip, 0.12f);
  EXPECT_EQ(d.finalHigh, 0.06f);  // skin brighter than frame: 0.12, halved

  // Too little skin (0.04 is not above 0.04) or no skin clip: no skin rules.
  m.skinRatio = 0.04f;
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.18032789f);
  m.skinRatio = 0.1f;
  m.skinClip = 0.0f;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.0f);
  m.skinClip = 0.25f;
  m.doSkin = false;
  EXPECT_EQ(DecideStretch(m).skinLim, 0.0f);
}

TEST(StretchDecisionTest, SkinRulesRaiseALowClipTowardsTheSkinLimit) {
  StretchMeasures m = Neutral();
  m.skinRatio = 0.1f;
  m.skinClip = 0.3f;
  m.hiClip66 = 0.5f;
  m.hiClip1 = 0.02f;
  m.hiClip05 = 0.02f;
  m.hiClip01 = 0.02f;

  // Bright skin: no change.
  m.skinMean = 91.0f;
  m.origMean = 95.0f;  // skinLim 0.2
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.01f);
  // Bright frame below 127: halfway to the skin limit.
  m.skinMean = 90.0f;
  EXPECT_EQ(DecideStretch(m).finalHigh, static_cast<float>((0.02f + 0.2f) * 0.5) * 0.5f);
  // Frame 127 or above: no change.
  m.origMean = 127.0f;
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.01f);
  // Darker frame, skin below 60: at least the skin limit and hiClip1.
  m.origMean = 70.0f;
  m.skinMean = 59.0f;  // skinLim 0.3
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.15f);
  m.hiClip1 = 0.35f;  // above finalClip now: rule 4 needs skin brighter than frame
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.175f);
  // Darker frame, skin 60 to 90: halfway.
  m.hiClip1 = 0.02f;
  m.skinMean = 65.0f;  // skinLim 0.2
  EXPECT_EQ(DecideStretch(m).finalHigh, static_cast<float>((0.02f + 0.2f) * 0.5) * 0.5f);
}

TEST(StretchDecisionTest, LowClipChoiceRaiseAndBounds) {
  StretchMeasures m = Neutral();
  // origMean above 90 takes lowClip05, else lowClip00; within 5/256 .. lowLimit.
  m.origMean = 90.5f;
  m.lowClip05 = 0.06f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.06f);
  m.lowClip05 = 0.09f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.07421875f);
  m.origMean = 90.0f;
  m.lowClip00 = 0.001f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.01953125f);

  // Bright mid-tones lower the limit to 10/256.
  m.midAve = 110.5f;
  m.lowClip00 = 0.06f;
  StretchDecision d = DecideStretch(m);
  EXPECT_EQ(d.lowLimit, 0.0390625f);
  EXPECT_EQ(d.finalLow, 0.0390625f);
  m.midAve = 110.0f;
  EXPECT_EQ(DecideStretch(m).lowLimit, 0.07421875f);

  // Dark skin keeps the black point at 5/256.
  m = Neutral();
  m.skinRatio = 0.05f;
  m.skinMean = 54.0f;
  m.lowClip05 = 0.06f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.01953125f);
  m.skinRatio = 0.049f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.06f);
  m.skinRatio = 0.05f;
  m.skinMean = 55.0f;
  EXPECT_EQ(DecideStretch(m).finalLow, 0.06f);
}

TEST(StretchDecisionTest, FlatTopFrameWithBrightPixelsRaisesTheBlackPoint) {
  StretchMeasures m = Neutral();
  m.origMean = 95.0f;
  m.hiClip05 = 0.01f;  // halved: 0.005 < 0.007
  m.lowClip05 = 0.03f;
  m.lowClip00 = 0.1f;
  m.brightShare = 0.003;
  StretchDecision d = DecideStretch(m);
  EXPECT_TRUE(d.lowRaised);
  EXPECT_EQ(d.lowLimit, 0.1f);
  EXPECT_EQ(d.finalLow, 0.05859375f);
  EXPECT_EQ(DecideOpacity(m, d), 0.1f);
  m.lowClip00 = 0.2f;
  EXPECT_EQ(DecideStretch(m).lowLimit, 0.13671875f);

  // Too few bright pixels: nothing at all, not even the mid-tone rule.
  m.brightShare = 0.0025;
  m.midAve = 120.0f;
  d = DecideStretch(m);
  EXPECT_FALSE(d.lowRaised);
  EXPECT_EQ(d.lowLimit, 0.07421875f);
  // Outside 95 <= origMean < 130 the mid-tone rule applies instead.
  m.brightShare = 0.5;
  m.origMean = 130.0f;
  m.hiClip00 = 0.01f;
  d = DecideStretch(m);
  EXPECT_FALSE(d.lowRaised);
  EXPECT_EQ(d.lowLimit, 0.0390625f);
  // finalHigh 0.007 exactly (float) is not below float 0.007.
  m.origMean = 100.0f;
  m.hiClip05 = 0.014f;
  m.gammaLimit = 100.0f;
  EXPECT_EQ(DecideStretch(m).finalHigh, 0.007f);
  EXPECT_FALSE(DecideStretch(m).lowRaised);
}

TEST(OpacityTest, FirstMatchingRuleWins) {
  StretchMeasures m = Neutral();
  StretchDecision d;
  EXPECT_EQ(DecideOpacity(m, d), 0.5f);
  d.finalHigh = 0.105f;
  EXPECT_EQ(DecideOpacity(m, d), 0.5f);
  d.finalHigh = 0.106f;
  EXPECT_EQ(DecideOpacity(m, d), 0.3f);
  // Much skin with a small clip in a bright frame.
  m.skinRatio = 0.05f;
  m.skinClip = 0.1f;
  m.origMean = 95.5f;
  EXPECT_EQ(DecideOpacity(m, d), 0.2f);
  m.skinClip = 0.101f;
  EXPECT_EQ(DecideOpacity(m, d), 0.3f);
  m.skinClip = 0.1f;
  m.origMean = 95.0f;
  EXPECT_EQ(DecideOpacity(m, d), 0.3f);
  // Bright skin first: 0.1 up to 120, 0 above.
  m.skinMean = 100.0f;
  EXPECT_EQ(DecideOpacity(m, d), 0.1f);
  m.skinMean = 120.0f;
  EXPECT_EQ(DecideOpacity(m, d), 0.1f);
  m.skinMean = 120.5f;
  EXPECT_EQ(DecideOpacity(m, d), 0.0f);
  m.skinRatio = 0.049f;
  EXPECT_EQ(DecideOpacity(m, d), 0.3f);
  // A low-key frame with mid-tones just at 60 is not the dark case.
  d.lowKey = true;
  m.midAve = 60.0f;
  EXPECT_EQ(DecideOpacity(m, d), 0.3f);
  m.midAve = 59.0f;
  EXPECT_EQ(DecideOpacity(m, d), 0.2f);
}

}  // namespace
}  // namespace KelvoLibImageProcessing::detail
