#include "tools/framegrab/FrameGrabOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelvo::framegrab {
namespace {

// A time in any of the forms; frame numbers only where `frames` allows.
bool ParseWhen(const std::string& text, bool frames, double* seconds, int64_t* frame,
               std::string* why) {
  int64_t f = -1;
  if (!kelvo::grab::detail::ParseTimeText(text, seconds, &f, why)) return false;
  if (f >= 0 && !frames) {
    *why = "\"" + text + "\": give a time here, not a frame number";
    return false;
  }
  *frame = f;
  return true;
}

// A whole number from `low` to `high`, digits only.
bool ParseCount(const std::string& text, int low, int high, int* value) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

std::string BaseName(const std::string& input) {
  std::string base = input;
  const size_t slash = base.find_last_of('/');
  if (slash != std::string::npos) base = base.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  return base;
}

namespace {

bool HasName(const std::string& file) { return file.find("{name}") != std::string::npos; }

// Whether a pattern gives each interval still a name of its own.
bool NamesEachStill(const std::string& pattern) {
  for (size_t i = 0; i + 1 < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    if (pattern[i + 1] == '%') {
      ++i;
      continue;
    }
    if (pattern[i + 1] == 't') return true;
    size_t j = i + 1;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
    if (j < pattern.size() && pattern[j] == 'd') return true;
  }
  return false;
}

}  // namespace

const char* UsageText() {
  return "Usage: framegrab [INPUT...] [--at T] [-o FILE] [--enhance]\n"
         "                 [--snapshot T=FILE[:enhance]]... [options]\n"
         "       framegrab INPUT... --every D [--from T] [--to T] -o PATTERN [options]\n"
         "       framegrab --help | --version\n"
         "\n"
         "Writes stills of chosen frames of video files. Without INPUT it uses the bundled\n"
         "sample clip; without any still it writes the first frame to still.jpg.\n"
         "\n"
         "Times (T): seconds (12.5), MM:SS[.mmm] (1:02.5), HH:MM:SS[.mmm] (01:02:03.250),\n"
         "or a frame number counted from 0 in presentation order (1500f; found at N / rate\n"
         "in a file with a constant rate, by counting frames in one without).\n"
         "\n"
         "  --at T              time of the main still (default 0)\n"
         "                        e.g. --at 1:02.5\n"
         "  -o FILE             file of the main still (default still.jpg); a name ending\n"
         "                      in / is a folder, made when missing: FOLDER/{name}.jpg\n"
         "                      (with --every FOLDER/{name}-%04d.jpg)\n"
         "                        e.g. -o shot.png\n"
         "  --enhance           enhance the main still (or the --every stills)\n"
         "                        e.g. --at 5 -o best.jpg --enhance\n"
         "  --snapshot T=FILE[:enhance]\n"
         "                      also write the frame at T to FILE (repeatable);\n"
         "                      T:FILE[:enhance] works too for times without colons\n"
         "                      (1:02.5:b.jpg is refused as ambiguous)\n"
         "                        e.g. --snapshot 1:02.5=b.jpg:enhance\n"
         "                        e.g. --snapshot 90f:c.jpg\n"
         "  --every D           a still every D (a time, not a frame) from --from to --to,\n"
         "                      both included, named by -o PATTERN: %04d the still's index\n"
         "                      from 1 (%d: no padding), %t its time in seconds (12.500);\n"
         "                      missing folders of PATTERN are made\n"
         "                        e.g. --every 10 -o 'out/still-%04d.jpg'\n"
         "  --from T, --to T    the stretch for --every (default: from 0 to the end)\n"
         "                        e.g. --every 1 --from 1:00 --to 2:00 -o '%t.png'\n"
         "  -q Q                JPEG quality 1 to 100 (default 88)\n"
         "                        e.g. -q 95\n"
         "  --width W           scale to W pixels wide, keeping the aspect ratio\n"
         "                        e.g. --width 320\n"
         "  --scale WxH         scale to exactly W x H pixels\n"
         "                        e.g. --scale 320x180\n"
         "  --sharpest N        take the sharpest frame within N frames either side of\n"
         "                      each target (variance of the Laplacian of the luminance);\n"
         "                      the frame chosen and its score are shown\n"
         "                        e.g. --sharpest 3\n"
         "  --json              one JSON object per still on standard output instead of\n"
         "                      the lines below\n"
         "                        e.g. --every 10 -o 'f/%04d.jpg' --json > stills.jsonl\n"
         "  -j N                grab N inputs at once (default 1)\n"
         "                        e.g. a.mp4 b.mkv -o stills/ -j 2\n"
         "  --decoder-threads N let the video decoder use N threads (default: its own\n"
         "                      choice, about one per core)\n"
         "                        e.g. -j 4 --decoder-threads 1\n"
         "  --max-pixels N      refuse videos whose frames have more than N pixels\n"
         "                      (default 100000000)\n"
         "                        e.g. --max-pixels 8294400\n"
         "  --quiet             no progress bar\n"
         "                        e.g. --quiet\n"
         "  --help, --version   this text, the version\n"
         "\n"
         "The format follows each file's extension: .jpg or .jpeg (JPEG, -q), .png, .bmp.\n"
         "JPEG and PNG stills record the input's name, the frame's time and, when the\n"
         "container gives one, the date and time of the frame (UTC).\n"
         "\n"
         "Several inputs: framegrab a.mp4 b.mkv --every 10 -o 'out/{name}-%04d.jpg'.\n"
         "{name} in any output name is the input's base name without its extension\n"
         "(a.mp4 gives a); with several inputs every output name must hold {name}, or\n"
         "-o must be a folder (ending in /). Each input is grabbed on its own; one that\n"
         "fails is reported and the others go on. The progress bar (standard error, on a\n"
         "terminal only) covers all inputs.\n"
         "\n"
         "Which frame: a request at T takes the frame starting in (T - 5 ms,\n"
         "T - 5 ms + one frame period); when none does, the frame on screen at T (the\n"
         "last frame starting at or before T). The frame period is that of the rate\n"
         "rounded to whole frames per second. The main still is the first frame starting\n"
         "at most half a frame period before --at, or later; in the last half frame of\n"
         "the video, the last frame. Every time from 0 to the end of the last frame\n"
         "gives a still. All stills come from one forward pass, whatever the order given.\n"
         "Times are from 0 to 9223372036 seconds (the pipeline clock's limit).\n"
         "\n"
         "Each still written is one line on standard output: its file, the time\n"
         "requested, the time of its frame, and in brackets \"frame on screen\" when the\n"
         "second rule took it, \"enhanced\" (or that enhancement failed and the still\n"
         "was written unenhanced), \"damaged stream\" when the decoder delivered its\n"
         "frame right after losing data (a warning or error before it, or a frame marked\n"
         "discontinuous or corrupted outside a seek), and with --sharpest the frame\n"
         "chosen and its sharpness. With --json each still is instead an object with\n"
         "input, file, requested, frame_time, frame, kind (\"main\" or \"request\"), rule\n"
         "(\"interval\" or \"on-screen\"), enhanced, damaged, sharpness (with --sharpest)\n"
         "and, for a still not written, error. Warnings of the decoder and of the grab\n"
         "are shown once per kind on standard error.\n"
         "\n"
         "Every still is a file of its own: an output that exists and is not a regular\n"
         "file (a folder, a named pipe, a device such as /dev/full), the input video\n"
         "itself, one file named twice (however spelt: a.jpg, ./a.jpg, a link to it), or\n"
         "a name that is not UTF-8 or longer than 255 UTF-16 units (259 for a snapshot)\n"
         "is refused before anything is decoded. Each still is written to a temporary\n"
         "file beside it and renamed over it when complete.\n"
         "\n"
         "Exit status, for one input or the worst of several (when several apply, the\n"
         "first in the order 2, 1, 3, 4, 5):\n"
         "  0  all stills written from frames the decoder delivered intact\n"
         "  1  input missing, not a regular file (a pipe, a device), not decodable,\n"
         "     no video stream in it, frames above --max-pixels, or a failure while\n"
         "     decoding (with the decoder's message)\n"
         "  2  bad arguments (a time that is negative, not a time or beyond the\n"
         "     limit above), or an output refused as above\n"
         "  3  an output folder is missing or not writable, or a still could not be\n"
         "     written (it is named with the reason; the other stills are written)\n"
         "  4  some stills lie beyond the end of the last frame (they are named)\n"
         "  5  all stills written, but one or more marked \"damaged stream\"\n";
}

bool ParseSnapshot(const std::string& text, Still* still, std::string* error) {
  Still s;
  std::string why;
  // T=FILE when what comes before the first '=' is a time; else T:FILE.
  const size_t equals = text.find('=');
  double t = 0.0;
  int64_t f = -1;
  std::string ignored;
  if (equals != std::string::npos &&
      kelvo::grab::detail::ParseTimeText(text.substr(0, equals), &t, &f, &ignored)) {
    s.time = t;
    s.frame = f;
    s.file = text.substr(equals + 1);
  } else {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
      *error = "--snapshot needs T=FILE or T:FILE, got \"" + text + "\"";
      return false;
    }
    if (!ParseWhen(text.substr(0, colon), true, &s.time, &s.frame, &why)) {
      *error = "--snapshot: " + why +
               (equals != std::string::npos ? "" : " (for times with colons write T=FILE)");
      return false;
    }
    s.file = text.substr(colon + 1);
    // "1:02.5:b.jpg" reads as 1 s and the file "02.5:b.jpg", which is
    // hardly what was meant: a file name that starts like the rest of a
    // clock time is refused, naming both unambiguous forms.
    const size_t second = text.find(':', colon + 1);
    double clock = 0.0;
    int64_t none = -1;
    if (second != std::string::npos &&
        kelvo::grab::detail::ParseTimeText(text.substr(0, second), &clock, &none, &ignored)) {
      const std::string t = text.substr(0, second), rest = text.substr(second + 1);
      *error = "--snapshot: \"" + text + "\" is ambiguous; write " + t + "=" + rest +
               " for the time " + t + ", or " + text.substr(0, colon) + "=" + s.file +
               " for the file \"" + s.file + "\" (T=FILE)";
      return false;
    }
  }
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
  bool haveAt = false, haveOut = false, enhance = false, haveFrom = false, haveTo = false;
  double at = 0.0;
  int64_t atFrame = -1;
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
    std::string v, why;
    int64_t frame = -1;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--enhance") {
      enhance = true;
    } else if (a == "--at") {
      if (!value(&v)) return false;
      if (!ParseWhen(v, true, &at, &atFrame, &why)) {
        *error = "--at: " + why;
        return false;
      }
      haveAt = true;
    } else if (a == "--every" || a == "--from" || a == "--to") {
      if (!value(&v)) return false;
      double t = 0.0;
      if (!ParseWhen(v, false, &t, &frame, &why)) {
        *error = a + ": " + why;
        return false;
      }
      if (a == "--every") {
        if (!(t > 0.0)) {
          *error = "--every: \"" + v + "\" is no time at all; give a step above 0";
          return false;
        }
        o.every = t;
      } else if (a == "--from") {
        o.from = t;
        haveFrom = true;
      } else {
        o.to = t;
        haveTo = true;
      }
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
    } else if (a == "-q" || a == "--quality") {
      if (!value(&v)) return false;
      if (!ParseCount(v, 1, 100, &o.quality)) {
        *error = a + ": \"" + v + "\" is not a JPEG quality from 1 to 100";
        return false;
      }
    } else if (a == "--width") {
      if (!value(&v)) return false;
      if (!ParseCount(v, 1, 65535, &o.scaleWidth)) {
        *error = "--width: \"" + v + "\" is not a width from 1 to 65535 pixels";
        return false;
      }
      o.scaleHeight = 0;
    } else if (a == "--scale") {
      if (!value(&v)) return false;
      const size_t x = v.find('x');
      if (x == std::string::npos || !ParseCount(v.substr(0, x), 1, 65535, &o.scaleWidth) ||
          !ParseCount(v.substr(x + 1), 1, 65535, &o.scaleHeight)) {
        *error = "--scale: \"" + v + "\" is not WIDTHxHEIGHT in pixels (as 320x180)";
        return false;
      }
    } else if (a == "--sharpest") {
      if (!value(&v)) return false;
      if (!ParseCount(v, 1, kMostSharpest, &o.sharpest)) {
        *error = "--sharpest: \"" + v + "\" is not a number of frames from 1 to " +
                 std::to_string(kMostSharpest);
        return false;
      }
    } else if (a == "-j" || a == "--jobs") {
      if (!value(&v)) return false;
      if (!ParseCount(v, 1, kMostJobs, &o.jobs)) {
        *error = a + ": \"" + v + "\" is not a number of inputs at once from 1 to " +
                 std::to_string(kMostJobs);
        return false;
      }
    } else if (a == "--decoder-threads") {
      if (!value(&v)) return false;
      if (!ParseCount(v, 1, kMostDecoderThreads, &o.decoderThreads)) {
        *error = "--decoder-threads: \"" + v + "\" is not a number of threads from 1 to " +
                 std::to_string(kMostDecoderThreads);
        return false;
      }
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
    } else {
      o.inputs.push_back(a);
    }
  }
  const bool several = o.inputs.size() > 1;
  const bool folder = haveOut && out.back() == '/';
  if (folder) o.folder = out;
  if (o.every > 0.0) {
    if (haveAt) {
      *error = "--at names the main still, which --every has none of; use --snapshot T=FILE";
      return false;
    }
    if (!haveOut) {
      *error = "--every needs -o PATTERN, as -o 'still-%04d.jpg'";
      return false;
    }
    o.pattern = folder ? out + "{name}-%04d.jpg" : out;
    if (!NamesEachStill(o.pattern)) {
      *error = "-o: \"" + out + "\" gives every still of --every one name; put %04d or %t in it";
      return false;
    }
    if (haveTo && o.to < o.from) {
      *error = "--to lies before --from";
      return false;
    }
    o.everyEnhance = enhance;
  } else if (haveFrom || haveTo) {
    *error = "--from and --to go with --every";
    return false;
  }
  // The main still is taken when asked for, or when nothing at all is asked.
  if (o.every == 0.0 && (haveAt || haveOut || enhance || snapshots.empty())) {
    Still m;
    m.time = atFrame >= 0 ? 0.0 : at;
    m.frame = atFrame;
    m.file = folder ? out + "{name}.jpg" : haveOut ? out : several ? "{name}.jpg" : kDefaultOutput;
    m.enhance = enhance;
    m.main = true;
    o.stills.push_back(m);
  }
  o.stills.insert(o.stills.end(), snapshots.begin(), snapshots.end());
  if (several) {
    // Outputs are told apart by {name}: two inputs with one base name would
    // write each other's stills.
    for (size_t i = 0; i < o.inputs.size(); ++i)
      for (size_t k = 0; k < i; ++k)
        if (BaseName(o.inputs[i]) == BaseName(o.inputs[k])) {
          *error = "\"" + o.inputs[k] + "\" and \"" + o.inputs[i] + "\" have one base name (\"" +
                   BaseName(o.inputs[i]) + "\"), so their stills would have one name";
          return false;
        }
    for (const Still& s : o.stills)
      if (!HasName(s.file)) {
        *error = "with several inputs every output name needs {name} (the input's base name), "
                 "or -o a folder ending in /; \"" + s.file + "\" would be written by each";
        return false;
      }
    if (o.every > 0.0 && !HasName(o.pattern)) {
      *error = "with several inputs every output name needs {name} (the input's base name); \"" +
               o.pattern + "\" would be written by each";
      return false;
    }
  }
  std::stable_sort(o.stills.begin(), o.stills.end(),
                   [](const Still& a, const Still& b) { return a.time < b.time; });
  *options = o;
  return true;
}

}  // namespace kelvo::framegrab
