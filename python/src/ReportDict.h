#pragma once

// The enhancement's report as Python sees it: one table of the quantities'
// names and meanings serves kelvo.Report's attributes and to_dict(), and the
// report dict of a still grabbed from a video, so the two never differ.
#include <pybind11/pybind11.h>

#include "imaging/pipeline/PipelineSnapshot.h"

namespace kelvo::python {

namespace py = pybind11;

using Report = KelvoLibImageProcessing::PipelineSnapshot::Report;
using StageTimes = KelvoLibImageProcessing::PipelineSnapshot::StageTimes;

inline py::dict TimesDict(const StageTimes& t) {
  py::dict d;
  d["copy_in"] = t.copyIn;
  d["skin"] = t.skin;
  d["noise"] = t.noise;
  d["stretch"] = t.stretch;
  d["sharpen"] = t.sharpen;
  d["blend"] = t.blend;
  d["copy_out"] = t.copyOut;
  d["total"] = t.total;
  return d;
}

// The report's quantities, in the order the pipeline decides them; one
// table serves the attributes and to_dict.
struct FloatField {
  const char* name;
  float Report::*member;
  const char* doc;
};
inline constexpr FloatField kFloatFields[] = {
    {"skin_ratio", &Report::skinRatio, "Share of the image the skin map marks as skin."},
    {"skin_mean", &Report::skinMean, "Mean luminance of the skin."},
    {"skin_clip", &Report::skinClip, "High clip the skin allows."},
    {"low_clip05", &Report::lowClip05, "Low clip point of the luminance histogram at 0.5 %."},
    {"low_clip01", &Report::lowClip01, "Low clip point at 0.1 %."},
    {"low_clip00", &Report::lowClip00, "Low clip point at 0 % (the lowest level present)."},
    {"hi_clip1", &Report::hiClip1, "High clip point at 1 %."},
    {"hi_clip05", &Report::hiClip05, "High clip point at 0.5 %."},
    {"hi_clip01", &Report::hiClip01, "High clip point at 0.1 %."},
    {"hi_clip00", &Report::hiClip00, "High clip point at 0 % (the highest level present)."},
    {"hi_clip66", &Report::hiClip66, "High clip point of the histogram at 66 %."},
    {"orig_mean", &Report::origMean, "Mean luminance before the stretch."},
    {"mid_ratio", &Report::midRatio, "Share of the pixels in the middle tones."},
    {"mid_ave", &Report::midAve, "Mean of the middle tones."},
    {"skin_lim", &Report::skinLim, "Limit the skin puts on the stretch."},
    {"final_clip", &Report::finalClip, "High clip the stretch used."},
    {"final_low", &Report::finalLow, "Low end of the stretch."},
    {"final_high", &Report::finalHigh, "High end of the stretch."},
    {"low_limit", &Report::lowLimit, "Limit on the low end."},
    {"opacity", &Report::opacity,
     "Opacity of the Screen self-blend (0.5 unless the stretch set it)."},
};
struct BoolField {
  const char* name;
  bool Report::*member;
  const char* doc;
};
inline constexpr BoolField kBoolFields[] = {
    {"colour_cast", &Report::colourCast, "Whether the stretch found a colour cast."},
    {"low_key", &Report::lowKey, "Whether the image was judged low-key."},
    {"low_raised", &Report::lowRaised, "Whether the low end was raised."},
};

inline py::dict ReportDict(const Report& r) {
  py::dict d;
  for (const FloatField& f : kFloatFields) d[f.name] = static_cast<double>(r.*f.member);
  for (const BoolField& f : kBoolFields) d[f.name] = r.*f.member;
  d["times"] = TimesDict(r.times);
  return d;
}

}  // namespace kelvo::python
