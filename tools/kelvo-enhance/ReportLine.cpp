#include "tools/kelvo-enhance/ReportLine.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace kelvo::enhance {

namespace {

using KelvoLibImageProcessing::PipelineSnapshot;

void Appendf(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string* text, const char* format, ...) {
  char piece[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n > 0) text->append(piece, std::min(static_cast<size_t>(n), sizeof piece - 1));
}

void AppendNumber(std::string* text, const char* name, double v) {
  if (std::isfinite(v)) {
    Appendf(text, ", \"%s\": %.9g", name, v);
  } else {
    Appendf(text, ", \"%s\": null", name);
  }
}

void AppendBool(std::string* text, const char* name, bool v) {
  Appendf(text, ", \"%s\": %s", name, v ? "true" : "false");
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      Appendf(&quoted, "\\u%04x", byte);
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

std::string ReportLine(const std::string& input, const std::string& output,
                       const PipelineSnapshot::Report* report, const std::string& error) {
  std::string text = "{\"input\": " + JsonString(input) + ", \"output\": " + JsonString(output);
  if (report == nullptr) {
    text += ", \"error\": " + JsonString(error) + "}\n";
    return text;
  }
  const PipelineSnapshot::Report& r = *report;
  AppendNumber(&text, "skinRatio", r.skinRatio);
  AppendNumber(&text, "skinMean", r.skinMean);
  AppendNumber(&text, "skinClip", r.skinClip);
  AppendNumber(&text, "lowClip05", r.lowClip05);
  AppendNumber(&text, "lowClip01", r.lowClip01);
  AppendNumber(&text, "lowClip00", r.lowClip00);
  AppendNumber(&text, "hiClip1", r.hiClip1);
  AppendNumber(&text, "hiClip05", r.hiClip05);
  AppendNumber(&text, "hiClip01", r.hiClip01);
  AppendNumber(&text, "hiClip00", r.hiClip00);
  AppendNumber(&text, "hiClip66", r.hiClip66);
  AppendNumber(&text, "origMean", r.origMean);
  AppendNumber(&text, "midRatio", r.midRatio);
  AppendNumber(&text, "midAve", r.midAve);
  AppendNumber(&text, "skinLim", r.skinLim);
  AppendNumber(&text, "finalClip", r.finalClip);
  AppendNumber(&text, "finalLow", r.finalLow);
  AppendNumber(&text, "finalHigh", r.finalHigh);
  AppendNumber(&text, "lowLimit", r.lowLimit);
  AppendNumber(&text, "opacity", r.opacity);
  AppendBool(&text, "colourCast", r.colourCast);
  AppendBool(&text, "lowKey", r.lowKey);
  AppendBool(&text, "lowRaised", r.lowRaised);
  // Enhanced but not written: the measurements, and why.
  if (!error.empty()) text += ", \"error\": " + JsonString(error);
  const PipelineSnapshot::StageTimes& t = r.times;
  Appendf(&text, ", \"stageMs\": {\"copyIn\": %.3f, \"skin\": %.3f, \"noise\": %.3f", t.copyIn,
          t.skin, t.noise);
  Appendf(&text, ", \"stretch\": %.3f, \"sharpen\": %.3f, \"blend\": %.3f", t.stretch, t.sharpen,
          t.blend);
  Appendf(&text, ", \"copyOut\": %.3f, \"total\": %.3f}}\n", t.copyOut, t.total);
  return text;
}

}  // namespace kelvo::enhance
