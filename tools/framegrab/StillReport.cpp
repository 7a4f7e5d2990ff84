#include "tools/framegrab/StillReport.h"

#include <cmath>
#include <cstdio>

#include "tools/framegrab/FrameGrabOptions.h"

namespace kelvo::framegrab {
namespace {

using kelvo::grab::Failure;

std::string Seconds(double t) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", t);
  return text;
}

// A JSON number, or null for what JSON cannot hold.
std::string Number(double v, const char* format) {
  if (!std::isfinite(v)) return "null";
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// Length of the UTF-8 sequence at text[i], 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if (n == 2 && c < 0xC2) return 0;
  if (n == 3 && ((c == 0xE0 && byte(i + 1) < 0xA0) || (c == 0xED && byte(i + 1) >= 0xA0))) return 0;
  if (n == 4 && ((c == 0xF0 && byte(i + 1) < 0x90) || c > 0xF4 || (c == 0xF4 && byte(i + 1) >= 0x90)))
    return 0;
  return n;
}

}  // namespace

int WorseExit(int a, int b) {
  static constexpr int kOrder[] = {kExitUsage, kExitInput, kExitOutput, kExitNotWritten,
                                   kExitDamaged, kExitOk};
  for (const int code : kOrder)
    if (a == code || b == code) return code;
  return a;
}

int StillStatus(const kelvo::grab::Still& still) {
  switch (still.failure) {
    case Failure::None:
      return still.damaged ? kExitDamaged : kExitOk;
    case Failure::Write:
      return kExitOutput;
    case Failure::BeyondEnd:
    case Failure::NotTaken:
      return kExitNotWritten;
    case Failure::Decoding:
      return kExitInput;
  }
  return kExitInput;
}

std::string NameFor(const std::string& file, const std::string& input) {
  const std::string base = BaseName(input);
  std::string name = file;
  for (size_t at = 0; (at = name.find("{name}", at)) != std::string::npos; at += base.size())
    name.replace(at, 6, base);
  return name;
}

std::string HumanLine(const kelvo::grab::Still& still, bool sharpest) {
  std::string notes;
  auto note = [&](const std::string& text) { notes += (notes.empty() ? " (" : ", ") + text; };
  if (still.rule == "on-screen") note("frame on screen");
  if (still.request.enhance) note(still.enhanced ? "enhanced" : "enhancement failed, written unenhanced");
  if (still.damaged) note("damaged stream");
  if (sharpest && still.sharpness >= 0.0)
    note("sharpest: frame " + (still.frameNumber >= 0 ? std::to_string(still.frameNumber) : "?") +
         " at " + Seconds(still.frameTime) + " s, sharpness " + Number(still.sharpness, "%.1f"));
  if (!notes.empty()) notes += ")";
  return still.request.file + ": requested " + Seconds(still.requestedTime) + " s, frame at " +
         Seconds(still.frameTime) + " s" + notes;
}

std::string FailureLine(const kelvo::grab::Still& still) {
  const std::string what = "\"" + still.request.file + "\" (at " + Seconds(still.requestedTime) +
                           " s" +
                           (still.request.frame >= 0 ? ", frame " + std::to_string(still.request.frame)
                                                     : "");
  if (still.failure == Failure::Write && still.frameTime > 0.0)
    return "the still " + what + ", frame at " + Seconds(still.frameTime) +
           " s) was not written: " + still.error;
  return what + ") was not written: " + still.error;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      ++i;
    } else if (const size_t n = Utf8Length(text, i)) {
      out.append(text, i, n);
      i += n;
    } else {
      out += "\\ufffd";
      ++i;
    }
  }
  return out + "\"";
}

std::string JsonLine(const std::string& input, const kelvo::grab::Still& still, bool sharpest) {
  std::string j = "{\"input\":" + JsonString(input) + ",\"file\":" + JsonString(still.request.file) +
                  ",\"written\":" + (still.taken ? "true" : "false") +
                  ",\"requested\":" + Number(still.requestedTime, "%.6f");
  if (still.taken) {
    j += ",\"frame_time\":" + Number(still.frameTime, "%.6f");
    j += ",\"frame\":" + (still.frameNumber >= 0 ? std::to_string(still.frameNumber) : "null");
  }
  j += std::string(",\"kind\":") + (still.request.main ? "\"main\"" : "\"request\"");
  if (still.taken) {
    j += ",\"rule\":" + JsonString(still.rule);
    j += std::string(",\"enhance\":") + (still.request.enhance ? "true" : "false");
    j += std::string(",\"enhanced\":") + (still.enhanced ? "true" : "false");
    j += std::string(",\"damaged\":") + (still.damaged ? "true" : "false");
    if (sharpest) j += ",\"sharpness\":" + Number(still.sharpness, "%.6g");
  } else {
    j += ",\"error\":" + JsonString(still.error);
  }
  return j + "}";
}

}  // namespace kelvo::framegrab
