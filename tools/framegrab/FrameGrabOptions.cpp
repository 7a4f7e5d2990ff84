#include "tools/framegrab/FrameGrabOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelvo::framegrab {
namespace {

// A time in seconds from 0 to kMaxSeconds; false with the reason otherwise.
bool ParseSeconds(const std::string& text, double* seconds, std::string* why) {
  char* end = nullptr;
  const double v = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || std::isnan(v)) {
    *why = "\"" + text + "\" is not a time in seconds";
    return false;
  }
  if (v < 0.0) {
    *why = "\"" + text + "\" is negative; times count from the start of the video";
    return false;
  }
  // Overflow and "inf" come back as infinity; an underflow is as good as 0.
  if (!(v <= kMaxSeconds)) {
    char limit[64];
    std::snprintf(limit, sizeof limit, "%.0f", kMaxSeconds);
    *why = "\"" + text + "\" lies beyond the latest time a video can have (" + limit +
           " s, about 292 years)";
    return false;
  }
  *seconds = v;
  return true;
}

}  // namespace

const char* UsageText() {
  return "Usage: framegrab [INPUT] [--at SECONDS] [-o FILE] [--enhance]\n"
         "                 [--snapshot SECONDS:FILE[:enhance]]... [--max-pixels N] [--quiet]\n"
         "       framegrab --help | --version\n"
         "\n"
         "Writes JPEG stills of chosen frames of a video file. Without INPUT it uses the\n"
         "bundled sample clip; without any still it writes the first frame to still.jpg.\n"
         "\n"
         "  --at SECONDS        time of the main still (default 0)\n"
         "  -o FILE             file of the main still (default still.jpg)\n"
         "  --enhance           enhance the main still\n"
         "  --snapshot T:FILE[:enhance]\n"
         "                      also write the frame at T seconds to FILE (repeatable)\n"
         "  --max-pixels N      refuse videos whose frames have more than N pixels\n"
         "                      (default 100000000)\n"
         "  --quiet             no progress line\n"
         "  --help, --version   this text, the version\n"
         "\n"
         "Which frame: a request at T takes the frame starting in (T - 5 ms,\n"
         "T - 5 ms + one frame period); when none does, the frame on screen at T (the\n"
         "last frame starting at or before T). The frame period is that of the rate\n"
         "rounded to whole frames per second. The main still is the first frame starting\n"
         "at most half a frame period before --at, or later; in the last half frame of\n"
         "the video, the last frame. Every time from 0 to the end of the last frame\n"
         "gives a still. All stills come from one forward pass, whatever the order given.\n"
         "Times are seconds from 0 to 9223372036 (the pipeline clock's limit).\n"
         "\n"
         "Each still written is one line on standard output: its file, the time\n"
         "requested, the time of its frame, and in brackets \"frame on screen\" when the\n"
         "second rule took it, \"enhanced\" (or that enhancement failed and the still\n"
         "was written unenhanced), \"damaged stream\" when the decoder delivered its\n"
         "frame right after losing data (a warning or error before it, or a frame marked\n"
         "discontinuous or corrupted outside a seek). Warnings of the decoder and of the\n"
         "grab are shown once per kind on standard error.\n"
         "\n"
         "Every still is a file of its own: an output that exists and is not a regular\n"
         "file (a folder, a named pipe, a device such as /dev/full), the input video\n"
         "itself, one file named twice (however spelt: a.jpg, ./a.jpg, a link to it), or\n"
         "a name that is not UTF-8 or longer than 255 UTF-16 units (259 for a snapshot)\n"
         "is refused before anything is decoded. Each still is written to a temporary\n"
         "file beside it and renamed over it when complete.\n"
         "\n"
         "Exit status (when several apply, the first in the order 2, 1, 3, 4, 5):\n"
         "  0  all stills written from frames the decoder delivered intact\n"
         "  1  input missing, not a regular file (a pipe, a device), not decodable,\n"
         "     no video stream in it, frames above --max-pixels, or a failure while\n"
         "     decoding (with the decoder's message)\n"
         "  2  bad arguments (a time that is negative, not a number or beyond the\n"
         "     limit above), or an output refused as above\n"
         "  3  an output folder is missing or not writable, or a still could not be\n"
         "     written (it is named with the reason; the other stills are written)\n"
         "  4  some stills lie beyond the end of the last frame (they are named)\n"
         "  5  all stills written, but one or more marked \"damaged stream\"\n";
}

bool ParseSnapshot(const std::string& text, Still* still, std::string* error) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    *error = "--snapshot needs SECONDS:FILE, got \"" + text + "\"";
    return false;
  }
  Still s;
  std::string why;
  if (!ParseSeconds(text.substr(0, colon), &s.time, &why)) {
    *error = "--snapshot: " + why;
    return false;
  }
  s.file = text.substr(colon + 1);
  static const std::string kEnhance = ":enhance";
  if (s.file.size() >= kEnhance.size() &&
      s.file.compare(s.file.size() - kEnhance.size(), kEnhance.size(), kEnhance) == 0) {
    s.file.resize(s.file.size() - kEnhance.size());
    s.enhance = true;
  }
  if (s.file.empty()) {
    *error = "--snapshot: no file name in \"" + text + "\"";
    return false;
  }
  if (s.file == "-") {
    *error = "--snapshot: stills are written to files, not to standard output (\"-\")";
    return false;
  }
  *still = s;
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  Options o;
  bool haveAt = false, haveOut = false, enhance = false;
  double at = 0.0;
  std::string out;
  std::vector<Still> snapshots;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* v) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      *v = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--enhance") {
      enhance = true;
    } else if (a == "--at") {
      if (!value(&v)) return false;
      std::string why;
      if (!ParseSeconds(v, &at, &why)) {
        *error = "--at: " + why;
        return false;
      }
      haveAt = true;
    } else if (a == "-o" || a == "--output") {
      if (!value(&v)) return false;
      if (v.empty()) {
        *error = "-o needs a file name";
        return false;
      }
      if (v == "-") {
        *error = "-o: stills are written to files, not to standard output (\"-\")";
        return false;
      }
      out = v;
      haveOut = true;
    } else if (a == "--snapshot") {
      if (!value(&v)) return false;
      Still s;
      if (!ParseSnapshot(v, &s, error)) return false;
      snapshots.push_back(s);
    } else if (a == "--max-pixels") {
      if (!value(&v)) return false;
      if (!kelvo::tools::ParsePixelLimit(v, &o.maxPixels)) {
        *error = "--max-pixels: \"" + v + "\" is not a positive whole number";
        return false;
      }
    } else if (a == "-") {
      *error = "the video is read from a file, not from standard input (\"-\")";
      return false;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      *error = "only one input file, got \"" + o.input + "\" and \"" + a + "\"";
      return false;
    }
  }
  // The main still is taken when asked for, or when nothing at all is asked.
  if (haveAt || haveOut || enhance || snapshots.empty()) {
    Still m;
    m.time = at;
    m.file = haveOut ? out : kDefaultOutput;
    m.enhance = enhance;
    m.main = true;
    o.stills.push_back(m);
  }
  o.stills.insert(o.stills.end(), snapshots.begin(), snapshots.end());
  std::stable_sort(o.stills.begin(), o.stills.end(),
                   [](const Still& a, const Still& b) { return a.time < b.time; });
  *options = o;
  return true;
}

}  // namespace kelvo::framegrab
