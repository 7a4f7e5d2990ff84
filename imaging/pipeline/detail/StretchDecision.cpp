#include "imaging/pipeline/detail/StretchDecision.h"

#include <algorithm>

namespace KelvoLibImageProcessing::detail {

float SkinClipFromLevels(float skinRatio, float skinMean, int level0, int level10) {
  if (!(skinRatio >= 0.01f) || level0 <= 0) return 0.0f;
  // Dark skin is measured a little below its very brightest pixels so that a
  // few specular highlights do not decide the clip.
  int v = (skinMean < 35.0 && level10 > 0) ? level10 : level0;
  if (skinMean < 27.0) {
    if (v < 75) v = 75;
  } else if (v < 95) {
    v = 110;
  }
  return static_cast<float>((255 - v) / 255.0);
}

MidTones ComputeMidTones(const uint32_t* lumCounts, int hiIdx, int loIdx, float origMean) {
  MidTones t;
  t.midRatio = static_cast<float>((hiIdx - loIdx + 1) * 0.00390625);
  uint64_t weighted = 0;
  uint64_t count = 0;
  for (int i = loIdx; i <= hiIdx; ++i) {
    weighted += static_cast<uint64_t>(i) * lumCounts[i];
    count += lumCounts[i];
  }
  t.midAve = count == 0 ? origMean
                        : static_cast<float>(static_cast<double>(weighted) /
                                             static_cast<double>(count));
  return t;
}

namespace {

// finalHigh before halving: the high clip chosen by the mean luminance, then
// corrected for a colour cast or for the skin.
float HighClip(const StretchMeasures& m, bool colourCast, StretchDecision& d) {
  float finalHigh;
  if (m.origMean > 127) {
    finalHigh = m.hiClip00;
  } else if (m.origMean > 100) {
    finalHigh = m.hiClip01;
  } else if (m.origMean > 80) {
    finalHigh = m.hiClip05;
  } else {
    finalHigh = m.hiClip1;
  }

  if (colourCast) {
    // Never clip further than the brightest channel allows, or the cast
    // would be pushed into the highlights.
    finalHigh = static_cast<float>(
        std::min<double>(finalHigh, (255.0 - m.maxHighIndexRGB) * 0.00390625));
  } else if (m.doSkin && m.skinRatio > 0.04 && m.skinClip > 0) {
    const float sClip = std::min(m.skinClip, m.hiClip66);
    float skinLim;
    if (m.skinMean > 60) {
      skinLim = 0.2f;
    } else if (m.skinMean > 50) {
      skinLim = 0.3f;
    } else if (m.skinMean > 40) {
      skinLim = 0.35f;
    } else {
      skinLim = 0.4f;
    }
    if (m.origMean > 100 && skinLim > 0.15) skinLim = 0.175f;
    d.skinLim = skinLim;
    d.finalClip = std::min(sClip, skinLim);

    if (finalHigh > d.finalClip && m.skinMean > m.origMean) {
      finalHigh = d.finalClip;
    } else if (finalHigh < d.finalClip) {
      if (m.skinMean > 90) {
        // Bright skin: the frame's own clip already protects it.
      } else if (m.origMean > 90) {
        if (m.origMean < 127) finalHigh = static_cast<float>((finalHigh + d.finalClip) * 0.5);
      } else if (m.skinMean < 60) {
        finalHigh = std::max(d.finalClip, m.hiClip1);
      } else {
        finalHigh = static_cast<float>((finalHigh + d.finalClip) * 0.5);
      }
    }
  }
  return finalHigh;
}

}  // namespace

StretchDecision DecideStretch(const StretchMeasures& m) {
  StretchDecision d;
  const double maxMean = std::max({m.meanRed, m.meanGreen, m.meanBlue});
  const double minMean = std::min({m.meanRed, m.meanGreen, m.meanBlue});
  d.colourCast = maxMean - minMean >= 40.0;
  d.lowKey = m.midRatio < 0.5 && m.midAve < 80.0;

  float finalHigh = static_cast<float>(HighClip(m, d.colourCast, d) * 0.5);
  const float highLimit = static_cast<float>(1.0 - 1.0 / static_cast<double>(m.gammaLimit));
  finalHigh = std::min(finalHigh, highLimit);
  if (d.lowKey) {
    finalHigh = m.midAve < 60.0 ? 0.0f : static_cast<float>(finalHigh * 0.5);
  }
  d.finalHigh = finalHigh;

  float finalLow = m.origMean > 90 ? m.lowClip05 : m.lowClip00;
  float lowLimit = 0.07421875f;
  if (d.colourCast) {
    finalLow = 0.05859375f;
  } else if (finalHigh < 0.007f && m.origMean >= 95 && m.origMean < 130) {
    // A frame with almost nothing to stretch at the top but a few bright
    // pixels and a raised black level: lift the black point instead.
    if (m.brightShare > 0.0025 && m.lowClip00 > 0.07421875) {
      d.lowRaised = true;
      finalLow = std::max(finalLow, 0.05859375f);
      lowLimit = std::min(m.lowClip00, 0.13671875f);
    }
  } else if (m.midAve > 110.0) {
    lowLimit = 0.0390625f;
  }
  d.lowLimit = lowLimit;

  if (m.doSkin && m.skinRatio >= 0.05f && m.skinMean < 55.0 && finalLow > 0.01953125) {
    // Dark skin loses its shading first: keep the black point low.
    finalLow = 0.01953125f;
  } else if (finalLow < 0.01953125) {
    finalLow = 0.01953125f;
  } else {
    finalLow = std::min(finalLow, lowLimit);
  }
  d.finalLow = finalLow;
  return d;
}

float DecideOpacity(const StretchMeasures& m, const StretchDecision& d) {
  if (m.skinMean >= 100 && m.skinRatio >= 0.05f) return m.skinMean > 120 ? 0.0f : 0.1f;
  if (d.colourCast || d.lowRaised) return 0.1f;
  if (d.lowKey && m.midAve < 60.0) return 0.2f;
  if (m.skinRatio >= 0.05f && m.skinClip < 0.101f && m.origMean > 95) return 0.2f;
  if (d.finalHigh > 0.105f) return 0.3f;
  return 0.5f;
}

}  // namespace KelvoLibImageProcessing::detail
