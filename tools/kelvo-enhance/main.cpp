// kelvo-enhance: runs the snapshot enhancement on a still image and,
// on request, prints what the pipeline measured and decided.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "tools/common/HeapTuning.h"

namespace {

using KelvoLibImageProcessing::BitmapData;
using KelvoLibImageProcessing::IPException;
using KelvoLibImageProcessing::PipelineSnapshot;

constexpr const char* kUsage =
    "usage: kelvo-enhance INPUT OUTPUT [--report] [--no-skin] [--no-noise] [--no-stretch]\n"
    "                     [--no-sharp]\n"
    "\n"
    "Enhances a still the way the frame grabber enhances a grabbed frame: skin\n"
    "analysis, wavelet noise reduction, contrast stretch, luminance sharpening\n"
    "and a Screen self-blend. INPUT and OUTPUT are BMP (.bmp) or JPEG (.jpg,\n"
    ".jpeg) files, chosen by extension.\n"
    "\n"
    "  --report      print the quantities of the run and the time of each stage\n"
    "                as one JSON object on standard output\n"
    "  --no-skin     skip the skin analysis\n"
    "  --no-noise    skip the noise reduction\n"
    "  --no-stretch  skip the contrast stretch (the blend opacity stays 0.5)\n"
    "  --no-sharp    skip the sharpening\n"
    "  --help        show this text\n"
    "\n"
    "The width and height must be at least 64 pixels and multiples of 4.\n";

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

void PrintNumber(const char* name, double v, bool last = false) {
  if (std::isfinite(v)) {
    std::printf("  \"%s\": %.9g%s\n", name, v, last ? "" : ",");
  } else {
    std::printf("  \"%s\": null%s\n", name, last ? "" : ",");
  }
}

void PrintBool(const char* name, bool v) { std::printf("  \"%s\": %s,\n", name, v ? "true" : "false"); }

void PrintReport(const PipelineSnapshot::Report& r) {
  std::printf("{\n");
  PrintNumber("skinRatio", r.skinRatio);
  PrintNumber("skinMean", r.skinMean);
  PrintNumber("skinClip", r.skinClip);
  PrintNumber("lowClip05", r.lowClip05);
  PrintNumber("lowClip01", r.lowClip01);
  PrintNumber("lowClip00", r.lowClip00);
  PrintNumber("hiClip1", r.hiClip1);
  PrintNumber("hiClip05", r.hiClip05);
  PrintNumber("hiClip01", r.hiClip01);
  PrintNumber("hiClip00", r.hiClip00);
  PrintNumber("hiClip66", r.hiClip66);
  PrintNumber("origMean", r.origMean);
  PrintNumber("midRatio", r.midRatio);
  PrintNumber("midAve", r.midAve);
  PrintNumber("skinLim", r.skinLim);
  PrintNumber("finalClip", r.finalClip);
  PrintNumber("finalLow", r.finalLow);
  PrintNumber("finalHigh", r.finalHigh);
  PrintNumber("lowLimit", r.lowLimit);
  PrintNumber("opacity", r.opacity);
  PrintBool("colourCast", r.colourCast);
  PrintBool("lowKey", r.lowKey);
  PrintBool("lowRaised", r.lowRaised);
  const PipelineSnapshot::StageTimes& t = r.times;
  std::printf("  \"stageMs\": {\n");
  std::printf("    \"copyIn\": %.3f,\n    \"skin\": %.3f,\n    \"noise\": %.3f,\n", t.copyIn,
              t.skin, t.noise);
  std::printf("    \"stretch\": %.3f,\n    \"sharpen\": %.3f,\n    \"blend\": %.3f,\n", t.stretch,
              t.sharpen, t.blend);
  std::printf("    \"copyOut\": %.3f,\n    \"total\": %.3f\n  }\n}\n", t.copyOut, t.total);
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::tools::KeepWorkBuffersWarm();
  std::string input;
  std::string output;
  bool report = false;
  bool skin = true, noise = true, stretch = true, sharp = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--report") {
      report = true;
    } else if (arg == "--no-skin") {
      skin = false;
    } else if (arg == "--no-noise") {
      noise = false;
    } else if (arg == "--no-stretch") {
      stretch = false;
    } else if (arg == "--no-sharp") {
      sharp = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kelvo-enhance: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    } else if (input.empty()) {
      input = arg;
    } else if (output.empty()) {
      output = arg;
    } else {
      std::fprintf(stderr, "kelvo-enhance: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (input.empty() || output.empty()) {
    std::fprintf(stderr, "kelvo-enhance: INPUT and OUTPUT are required\n%s", kUsage);
    return 2;
  }
  const int inType = FileTypeOf(input);
  const int outType = FileTypeOf(output);
  if (inType < 0 || outType < 0) {
    std::fprintf(stderr, "kelvo-enhance: '%s' is neither a .bmp nor a .jpg/.jpeg file\n",
                 inType < 0 ? input.c_str() : output.c_str());
    return 2;
  }

  try {
    BitmapData image;
    image.Load(input.c_str(), inType);
    const int w = image.GetWidth();
    const int h = image.GetHeight();
    // Noise reduction, sharpening and the final blend all work on blocks of
    // 4 pixels; say so plainly instead of passing on the operation's error.
    if (w < 64 || h < 64 || w % 4 != 0 || h % 4 != 0) {
      std::fprintf(stderr,
                   "kelvo-enhance: %s is %d x %d pixels; the enhancement needs a width and "
                   "height of at least 64 pixels that are multiples of 4 (crop or scale the "
                   "image first)\n",
                   input.c_str(), w, h);
      return 1;
    }
    PipelineSnapshot pipeline(w, h, KelvoLibImageProcessing::kFormatBGR8);
    pipeline.SetDoSkin(skin);
    pipeline.SetDoNoise(noise);
    pipeline.SetDoLStretch(stretch);
    pipeline.SetDoSharp(sharp);
    pipeline.Execute(&image, &image);
    image.Save(output.c_str(), outType);
    if (report) PrintReport(pipeline.GetReport());
  } catch (const IPException& e) {
    std::fprintf(stderr, "kelvo-enhance: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kelvo-enhance: %s\n", e.what());
    return 1;
  }
  return 0;
}
