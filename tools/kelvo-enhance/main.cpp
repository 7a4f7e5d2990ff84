// kelvo-enhance: runs the snapshot enhancement on a still image and,
// on request, reports what the pipeline measured and decided.
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/ImageFileInfo.h"
#include "imaging/core/SafeFile.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "tools/common/HeapTuning.h"
#include "tools/common/PixelLimit.h"
#include "tools/kelvo-enhance/ImageOutput.h"

namespace {

namespace fs = std::filesystem;
using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;
using KelvoLibImageProcessing::PipelineSnapshot;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: kelvo-enhance INPUT OUTPUT [--report [FILE]] [--max-pixels N]\n"
    "                     [--no-skin] [--no-noise] [--no-stretch] [--no-sharp]\n"
    "\n"
    "Enhances a still the way the frame grabber enhances a grabbed frame: skin\n"
    "analysis, wavelet noise reduction, contrast stretch, luminance sharpening\n"
    "and a Screen self-blend. INPUT and OUTPUT are BMP (.bmp) or JPEG (.jpg,\n"
    ".jpeg) files, chosen by extension. OUTPUT may be INPUT itself: the result\n"
    "is written to a temporary file beside it and renamed over it only when\n"
    "complete, so a failed run leaves the original as it was.\n"
    "\n"
    "  --report [FILE]  write the quantities of the run and the time of each\n"
    "                   stage as one JSON object to FILE, or to standard output\n"
    "                   without FILE or with \"-\" (also --report=FILE)\n"
    "  --max-pixels N   refuse images of more than N pixels, read from the\n"
    "                   file's header before decoding (default 100000000)\n"
    "  --no-skin        skip the skin analysis\n"
    "  --no-noise       skip the noise reduction\n"
    "  --no-stretch     skip the contrast stretch (the blend opacity stays 0.5)\n"
    "  --no-sharp       skip the sharpening\n"
    "  --help           show this text\n"
    "\n"
    "Images of any size are enhanced.\n"
    "\n"
    "Exit status:\n"
    "  0  the image (and the report) written\n"
    "  1  INPUT missing, unreadable, not a regular file (a pipe, a device), not\n"
    "     a BMP or JPEG the enhancement takes, or above --max-pixels; or OUTPUT\n"
    "     or the report could not be written (a missing folder, a full disk, a\n"
    "     closed standard output): the reason is given, and an existing OUTPUT\n"
    "     is left as it was\n"
    "  2  bad arguments, or an OUTPUT or report FILE that exists and is not a\n"
    "     regular file (a folder, a named pipe, a device such as /dev/full), or\n"
    "     a report FILE that is INPUT or OUTPUT\n";

struct Arguments {
  std::string input;
  std::string output;
  std::string report;  // empty: no report; "-": standard output
  int64_t maxPixels = kelvo::tools::kDefaultMaxPixels;
  bool skin = true, noise = true, stretch = true, sharp = true;
  bool help = false;
};

// Parses the command line; false with *error set. "--report" takes the next
// argument as its FILE only when that argument is not needed as INPUT or
// OUTPUT, so "--report a.jpg b.jpg" still reports to standard output.
bool ParseArguments(int argc, char** argv, Arguments* a, std::string* error) {
  std::vector<std::pair<int, std::string>> positional;
  int reportCandidate = -1;  // index of the argument that may be the report FILE
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      a->help = true;
    } else if (arg == "--report") {
      if (a->report.empty()) a->report = "-";
      reportCandidate = i + 1;
    } else if (arg.rfind("--report=", 0) == 0) {
      a->report = arg.substr(9);
      if (a->report.empty()) {
        *error = "--report= needs a file name";
        return false;
      }
    } else if (arg == "--max-pixels") {
      if (i + 1 >= argc || !kelvo::tools::ParsePixelLimit(argv[i + 1], &a->maxPixels)) {
        *error = "--max-pixels needs a positive whole number of pixels";
        return false;
      }
      ++i;
    } else if (arg == "--no-skin") {
      a->skin = false;
    } else if (arg == "--no-noise") {
      a->noise = false;
    } else if (arg == "--no-stretch") {
      a->stretch = false;
    } else if (arg == "--no-sharp") {
      a->sharp = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option '" + arg + "'";
      return false;
    } else {
      positional.emplace_back(i, arg);
    }
  }
  if (positional.size() == 3) {
    for (auto it = positional.begin(); it != positional.end(); ++it) {
      if (it->first != reportCandidate) continue;
      a->report = it->second;
      positional.erase(it);
      break;
    }
  }
  if (positional.size() > 2) {
    *error = "unexpected argument '" + positional[2].second + "'";
    return false;
  }
  if (positional.size() == 2) {
    a->input = positional[0].second;
    a->output = positional[1].second;
  }
  return true;
}

// -1 when the extension is neither BMP nor JPEG.
int FileTypeOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return -1;
  const char* ext = name.c_str() + dot + 1;
  if (strcasecmp(ext, "bmp") == 0) return KelvoLibImageProcessing::kFileBmp;
  if (strcasecmp(ext, "jpg") == 0 || strcasecmp(ext, "jpeg") == 0) {
    return KelvoLibImageProcessing::kFileJpg;
  }
  return -1;
}

// kExitOk when file can be written; else the status and the reason. A target
// that exists as something else than a regular file is the caller's mistake
// (kExitUsage); a missing folder is a write failure found early.
int CheckTarget(const std::string& file, std::string* reason) {
  *reason = kelvo::io::CheckOutputTarget(file);
  if (reason->empty()) return kExitOk;
  std::error_code ec;
  const fs::path name(file);
  return !name.has_filename() || fs::exists(fs::status(name, ec)) ? kExitUsage : kExitFailed;
}

// True when two names reach one file, existing or not.
bool SameTarget(const std::string& a, const std::string& b) {
  if (kelvo::io::SameFile(a, b)) return true;
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ea), ea);
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, eb), eb);
  return !ea && !eb && ca == cb;
}

void Appendf(std::string* text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string* text, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) text->append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

void AppendNumber(std::string* text, const char* name, double v) {
  if (std::isfinite(v)) {
    Appendf(text, "  \"%s\": %.9g,\n", name, v);
  } else {
    Appendf(text, "  \"%s\": null,\n", name);
  }
}

void AppendBool(std::string* text, const char* name, bool v) {
  Appendf(text, "  \"%s\": %s,\n", name, v ? "true" : "false");
}

std::string ReportText(const PipelineSnapshot::Report& r) {
  std::string text = "{\n";
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
  const PipelineSnapshot::StageTimes& t = r.times;
  text += "  \"stageMs\": {\n";
  Appendf(&text, "    \"copyIn\": %.3f,\n    \"skin\": %.3f,\n    \"noise\": %.3f,\n", t.copyIn,
          t.skin, t.noise);
  Appendf(&text, "    \"stretch\": %.3f,\n    \"sharpen\": %.3f,\n    \"blend\": %.3f,\n",
          t.stretch, t.sharpen, t.blend);
  Appendf(&text, "    \"copyOut\": %.3f,\n    \"total\": %.3f\n  }\n}\n", t.copyOut, t.total);
  return text;
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "kelvo-enhance: %s\n", message.c_str());
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::tools::KeepWorkBuffersWarm();
  Arguments a;
  std::string error;
  if (!ParseArguments(argc, argv, &a, &error)) {
    std::fprintf(stderr, "kelvo-enhance: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (a.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (a.input.empty() || a.output.empty()) {
    std::fprintf(stderr, "kelvo-enhance: INPUT and OUTPUT are required\n%s", kUsage);
    return kExitUsage;
  }
  const int inType = FileTypeOf(a.input);
  const int outType = FileTypeOf(a.output);
  if (inType < 0 || outType < 0) {
    return Fail(kExitUsage, "'" + (inType < 0 ? a.input : a.output) +
                                "' is neither a .bmp nor a .jpg/.jpeg file");
  }

  // Everything that can be known before the work is checked first: the
  // enhancement of a large photo takes seconds.
  int status = CheckTarget(a.output, &error);
  if (status != kExitOk) return Fail(status, "cannot write the output: " + error);
  if (!a.report.empty() && a.report != "-") {
    status = CheckTarget(a.report, &error);
    if (status != kExitOk) return Fail(status, "cannot write the report: " + error);
    if (SameTarget(a.report, a.input) || SameTarget(a.report, a.output)) {
      return Fail(kExitUsage, "the report \"" + a.report +
                                  "\" would replace the image; give it a file of its own");
    }
  }
  // With standard output closed, the next file opened would take its place
  // and receive the report.
  if (a.report == "-" && ::fcntl(STDOUT_FILENO, F_GETFD) < 0)
    return Fail(kExitFailed, "cannot write the report: standard output is closed");
  error = kelvo::io::CheckInputFile(a.input);
  if (!error.empty()) return Fail(kExitFailed, "cannot read the input: " + error);

  try {
    int w = 0, h = 0;
    KelvoLibImageProcessing::ReadImageSize(a.input.c_str(), inType, &w, &h);
    if (!kelvo::tools::WithinPixelLimit(w, h, a.maxPixels)) {
      return Fail(kExitFailed,
                  a.input + " " + kelvo::tools::PixelLimitReason(w, h, a.maxPixels));
    }
    BitmapData image;
    image.Load(a.input.c_str(), inType);
    // Any size: sizes the pipeline does not take itself are padded and
    // cropped back.
    KelvoLibImageProcessing::EnhanceOptions options;
    options.doSkin = a.skin;
    options.doNoise = a.noise;
    options.doLStretch = a.stretch;
    options.doSharp = a.sharp;
    const PipelineSnapshot::Report report = EnhanceAnySize(image, image, options);
    error = kelvo::enhance::WriteImage(image, a.output, outType);
    if (!error.empty()) return Fail(kExitFailed, "cannot write the enhanced image: " + error);
    if (!a.report.empty()) {
      error = kelvo::enhance::WriteText(ReportText(report), a.report);
      if (!error.empty()) return Fail(kExitFailed, "cannot write the report: " + error);
    }
  } catch (const IPException& e) {
    return Fail(kExitFailed, e.what());
  } catch (const std::exception& e) {
    return Fail(kExitFailed, e.what());
  }
  return kExitOk;
}
