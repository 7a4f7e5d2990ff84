// kelvo-enhance: runs the snapshot enhancement on still images, one or a
// whole folder of them, and on request reports what the pipeline measured
// and decided.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "host/ImageFormat.h"
#include "imaging/core/SafeFile.h"
#include "tools/common/HeapTuning.h"
#include "tools/common/UsageError.h"
#include "tools/common/PixelLimit.h"
#include "tools/kelvo-enhance/EnhanceJob.h"
#include "tools/kelvo-enhance/ProgressBar.h"
#include "tools/kelvo-enhance/TextOutput.h"
#include "tools/kelvo-enhance/ReportLine.h"

namespace {

namespace fs = std::filesystem;
using kelvo::enhance::EnhanceJob;
using kelvo::enhance::EnhanceOutcome;
using kelvo::host::ImageFormat;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxJobs = 256;

constexpr const char* kUsage =
    "usage: kelvo-enhance INPUT OUTPUT [options]\n"
    "       kelvo-enhance INPUT... -o DIR [options]\n"
    "\n"
    "Enhances photos the way the frame grabber enhances a grabbed frame: skin\n"
    "analysis, wavelet noise reduction, contrast stretch, luminance sharpening\n"
    "and a Screen self-blend. Images of any size are enhanced.\n"
    "\n"
    "Files are BMP (.bmp), JPEG (.jpg, .jpeg) or PNG (.png), chosen by extension\n"
    "in any letter case. Any PNG is read: grey and palette images are expanded,\n"
    "16-bit samples reduced to 8 bits, and an alpha channel or transparency is\n"
    "dropped (not blended: transparent areas show their stored colour). PNG\n"
    "files are written as 8-bit RGB. A photo's EXIF orientation is applied\n"
    "before the enhancement, so the result is stored upright; its EXIF block\n"
    "(with the orientation set to 1), ICC profile and XMP packet are carried to\n"
    "a JPEG or PNG output. A BMP output has no place for them.\n"
    "\n"
    "With INPUT OUTPUT, OUTPUT may be INPUT itself: the result is written to a\n"
    "temporary file beside it and renamed over it only when complete, so a\n"
    "failed run leaves the original as it was.\n"
    "\n"
    "With -o DIR, each INPUT file, and each .bmp, .jpg, .jpeg and .png file in\n"
    "each INPUT folder (not its subfolders), is enhanced into DIR (created when\n"
    "missing) under its own name. A file that fails is reported and the others\n"
    "go on. On a terminal, standard error shows a progress bar.\n"
    "\n"
    "Options, each with an example:\n"
    "  -o, --output DIR      write into folder DIR, names kept\n"
    "                          kelvo-enhance a.jpg b.png photos/ -o enhanced/\n"
    "  --format jpg|png|bmp  with -o: the format and extension of every output\n"
    "                        (default: each input's own)\n"
    "                          kelvo-enhance photos/ -o enhanced/ --format png\n"
    "  -q, --quality N       JPEG quality of the output, 1 to 100 (default 95)\n"
    "                          kelvo-enhance photo.jpg smaller.jpg -q 80\n"
    "  -j, --jobs N          with -o: enhance N files at once (default 1); each\n"
    "                        needs the memory of one enhancement\n"
    "                          kelvo-enhance photos/ -o enhanced/ -j 4\n"
    "  --report              write a report to standard output: one JSON object\n"
    "                        per image on a line of its own (JSON Lines): input,\n"
    "                        output, what the pipeline measured and decided, the\n"
    "                        time of each stage, or the error\n"
    "                          kelvo-enhance photo.jpg enhanced.jpg --report\n"
    "  --report=FILE         the same, to FILE (\"-\": standard output); in the\n"
    "                        INPUT OUTPUT form \"--report FILE\" works too\n"
    "                          kelvo-enhance photos/ -o enhanced/ --report=run.jsonl\n"
    "  --max-pixels N        refuse images of more than N pixels, read from the\n"
    "                        file's header before decoding (default 100000000)\n"
    "                          kelvo-enhance pano.png out.png --max-pixels 400000000\n"
    "  --no-skin             skip the skin analysis\n"
    "                          kelvo-enhance photo.jpg out.jpg --no-skin\n"
    "  --no-noise            skip the noise reduction\n"
    "                          kelvo-enhance photo.jpg out.jpg --no-noise\n"
    "  --no-stretch          skip the contrast stretch (the blend opacity stays 0.5)\n"
    "                          kelvo-enhance photo.jpg out.jpg --no-stretch\n"
    "  --no-sharp            skip the sharpening\n"
    "                          kelvo-enhance photo.jpg out.jpg --no-sharp\n"
    "  -h, --help            show this text\n"
    "                          kelvo-enhance --help\n"
    "  --version             show the version\n"
    "\n"
    "Exit status:\n"
    "  0  every image (and the report) written\n"
    "  1  an INPUT missing, unreadable, not a regular file (a pipe, a device),\n"
    "     not an image the enhancement takes, or above --max-pixels; or an\n"
    "     output or the report could not be written (a missing folder, a full\n"
    "     disk, a closed standard output): the reason is given, and an existing\n"
    "     output is left as it was; with -o the other files are still done\n"
    "  2  bad arguments; an INPUT file that is not .bmp, .jpg, .jpeg or .png;\n"
    "     two inputs that would be written to one file; an OUTPUT, DIR or\n"
    "     report FILE that exists and is not what it should be (a folder, a\n"
    "     named pipe, a device such as /dev/full); or a report FILE that is an\n"
    "     input or an output\n";

struct Arguments {
  std::vector<std::string> inputs;
  std::string output;           // the INPUT OUTPUT form
  std::optional<std::string> outputFolder;  // -o DIR
  std::optional<ImageFormat> format;
  std::string report;  // empty: no report; "-": standard output
  int quality = 95;
  int jobs = 1;
  int64_t maxPixels = kelvo::tools::kDefaultMaxPixels;
  bool skin = true, noise = true, stretch = true, sharp = true;
  bool help = false;
  bool version = false;
};

// A whole number from 1 to max, digits only.
bool ParseCount(const std::string& text, int max, int* value) {
  if (text.empty() || text.size() > 9) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  const int n = std::stoi(text);
  if (n < 1 || n > max) return false;
  *value = n;
  return true;
}

// Whether argv[*i] is the option spelt longName (or shortName, when given),
// as "--name VALUE", "--name=VALUE" or "-n VALUE". When it is, *value is
// its value (or empty when there is none) and *i is moved past it.
bool TakeOption(int argc, char** argv, int* i, const char* longName, const char* shortName,
                std::string* value) {
  const std::string arg = argv[*i];
  const std::string withEquals = std::string(longName) + "=";
  if (arg.rfind(withEquals, 0) == 0) {
    *value = arg.substr(withEquals.size());
    return true;
  }
  if (arg != longName && (shortName == nullptr || arg != shortName)) return false;
  value->clear();
  if (*i + 1 < argc) *value = argv[++*i];
  return true;
}

// Parses the command line; false with *error set. In the INPUT OUTPUT form
// "--report" takes the next argument as its FILE only when that argument is
// not needed as INPUT or OUTPUT, so "--report a.jpg b.jpg" still reports to
// standard output. With -o every other argument is an input.
bool ParseArguments(int argc, char** argv, Arguments* a, std::string* error) {
  std::vector<std::pair<int, std::string>> positional;
  int reportCandidate = -1;  // index of the argument that may be the report FILE
  std::string value;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      a->help = true;
    } else if (arg == "--version") {
      a->version = true;
    } else if (arg == "--report") {
      if (a->report.empty()) a->report.assign(1, '-');  // not = "-": GCC 12 warns wrongly (-Wrestrict)
      reportCandidate = i + 1;
    } else if (arg.rfind("--report=", 0) == 0) {
      a->report = arg.substr(9);
      if (a->report.empty()) {
        *error = "--report= needs a file name";
        return false;
      }
    } else if (TakeOption(argc, argv, &i, "--output", "-o", &value)) {
      if (value.empty()) {
        *error = "-o needs a folder";
        return false;
      }
      a->outputFolder = value;
    } else if (TakeOption(argc, argv, &i, "--format", nullptr, &value)) {
      const std::optional<ImageFormat> format = kelvo::host::FormatFromName("x." + value);
      if (value.find('.') != std::string::npos || !format) {
        *error = "--format needs jpg, png or bmp";
        return false;
      }
      a->format = format;
    } else if (TakeOption(argc, argv, &i, "--quality", "-q", &value)) {
      if (!ParseCount(value, 100, &a->quality)) {
        *error = "-q needs a JPEG quality from 1 to 100";
        return false;
      }
    } else if (TakeOption(argc, argv, &i, "--jobs", "-j", &value)) {
      if (!ParseCount(value, kMaxJobs, &a->jobs)) {
        *error = "-j needs a number of files from 1 to " + std::to_string(kMaxJobs);
        return false;
      }
    } else if (TakeOption(argc, argv, &i, "--max-pixels", nullptr, &value)) {
      if (!kelvo::tools::ParsePixelLimit(value, &a->maxPixels)) {
        *error = "--max-pixels needs a positive whole number of pixels";
        return false;
      }
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
  if (a->outputFolder) {
    for (const auto& [index, name] : positional) {
      if (fs::is_directory(name) || kelvo::host::FormatFromName(name)) {
        a->inputs.push_back(name);
        continue;
      }
      *error = "'" + name + "' is neither a folder nor a .bmp, .jpg/.jpeg or .png file";
      if (index == reportCandidate) *error += " (a report file is given as --report=FILE)";
      return false;
    }
    return true;
  }
  if (a->format) {
    *error = "--format goes with -o DIR; OUTPUT's extension gives its format";
    return false;
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
    *error = "unexpected argument '" + positional[2].second + "' (many inputs need -o DIR)";
    return false;
  }
  if (positional.size() == 2) {
    a->inputs.push_back(positional[0].second);
    a->output = positional[1].second;
  } else if (positional.size() == 1) {
    *error = "an OUTPUT file or -o DIR is required";
    return false;
  }
  return true;
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "kelvo-enhance: %s\n", message.c_str());
  return status;
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

// One spelling per file, existing or not, for comparing names.
std::string CanonicalName(const std::string& name) {
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(fs::absolute(name, ec), ec);
  return ec ? name : canonical.string();
}

// True when two names reach one file, existing or not.
bool SameTarget(const std::string& a, const std::string& b) {
  return kelvo::io::SameFile(a, b) || CanonicalName(a) == CanonicalName(b);
}

// One image to do, or one that failed before it could be tried (a folder
// that cannot be listed).
struct Planned {
  EnhanceJob job;
  std::string error;
};

// The images of the -o DIR form, in the order given, each folder's in name
// order. kExitOk, or the status with *error set.
int PlanFolderRun(const Arguments& a, std::vector<Planned>* planned, std::string* error) {
  std::vector<std::string> files;
  for (const std::string& input : a.inputs) {
    std::error_code ec;
    if (!fs::is_directory(input, ec)) {
      files.push_back(input);
      continue;
    }
    std::vector<std::string> found;
    for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code statError;
      if (it->is_regular_file(statError) &&
          kelvo::host::FormatFromName(it->path().filename().string())) {
        found.push_back(it->path().string());
      }
    }
    if (ec) {
      Planned failed;
      failed.job.input = input;
      failed.error = "cannot read the folder: " + ec.message();
      planned->push_back(std::move(failed));
      continue;
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }

  std::map<std::string, std::string> outputs;  // canonical output -> input
  for (const std::string& file : files) {
    Planned p;
    p.job.input = file;
    p.job.inType = kelvo::host::FormatFromName(file).value_or(ImageFormat::Bmp);
    p.job.outType = a.format.value_or(p.job.inType);
    const fs::path name(file);
    const std::string extension =
        a.format ? std::string(".") + kelvo::host::ExtensionOf(*a.format)
                 : name.extension().string();
    p.job.output = (fs::path(*a.outputFolder) / name.stem()).string() + extension;
    const auto [at, added] = outputs.emplace(CanonicalName(p.job.output), file);
    if (!added) {
      *error = "'" + at->second + "' and '" + file + "' would both be written to '" +
               p.job.output + "'";
      return kExitUsage;
    }
    planned->push_back(std::move(p));
  }
  if (planned->empty()) {
    *error = "no .bmp, .jpg, .jpeg or .png file in the folders given";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::tools::KeepWorkBuffersWarm();
  Arguments a;
  std::string error;
  if (!ParseArguments(argc, argv, &a, &error)) {
    kelvo::tools::PrintUsageError("kelvo-enhance", error, kUsage);
    return kExitUsage;
  }
  if (a.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (a.version) {
    std::printf("kelvo-enhance %s\n", KELVO_VERSION);
    return kExitOk;
  }
  if (a.inputs.empty()) {
    kelvo::tools::PrintUsageError(
        "kelvo-enhance", a.outputFolder ? "no INPUT given" : "INPUT and OUTPUT are required", kUsage);
    return kExitUsage;
  }
  const bool folderRun = a.outputFolder.has_value();

  // Everything that can be known before the work is checked first: the
  // enhancement of a large photo takes seconds.
  std::vector<Planned> planned;
  int status = kExitOk;
  if (folderRun) {
    status = PlanFolderRun(a, &planned, &error);
    if (status != kExitOk) return Fail(status, error);
    std::error_code ec;
    const fs::path folder(*a.outputFolder);
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
      return Fail(kExitUsage, "-o: \"" + *a.outputFolder + "\" exists and is not a folder");
  } else {
    Planned p;
    p.job.input = a.inputs[0];
    p.job.output = a.output;
    const std::optional<ImageFormat> inType = kelvo::host::FormatFromName(p.job.input);
    const std::optional<ImageFormat> outType = kelvo::host::FormatFromName(p.job.output);
    if (!inType || !outType) {
      const std::string& bad = inType ? p.job.output : p.job.input;
      return Fail(kExitUsage, "'" + bad + "' is not a .bmp, .jpg/.jpeg or .png file");
    }
    p.job.inType = *inType;
    p.job.outType = *outType;
    status = CheckTarget(p.job.output, &error);
    if (status != kExitOk) return Fail(status, "cannot write the output: " + error);
    planned.push_back(std::move(p));
  }
  if (!a.report.empty() && a.report != "-") {
    status = CheckTarget(a.report, &error);
    if (status != kExitOk) return Fail(status, "cannot write the report: " + error);
    for (const Planned& p : planned) {
      if (SameTarget(a.report, p.job.input) || SameTarget(a.report, p.job.output)) {
        return Fail(kExitUsage, "the report \"" + a.report +
                                    "\" would replace an image; give it a file of its own");
      }
    }
  }
  // With standard output closed, the next file opened would take its place
  // and receive the report.
  if (a.report == "-" && ::fcntl(STDOUT_FILENO, F_GETFD) < 0)
    return Fail(kExitFailed, "cannot write the report: standard output is closed");
  if (folderRun) {
    // The single form reads its input before anything else; here a missing
    // input is one failure among the files.
    std::error_code ec;
    fs::create_directories(*a.outputFolder, ec);
    if (ec) {
      return Fail(kExitFailed,
                  "cannot create the folder \"" + *a.outputFolder + "\": " + ec.message());
    }
  } else {
    error = kelvo::io::CheckInputFile(planned[0].job.input);
    if (!error.empty()) return Fail(kExitFailed, "cannot read the input: " + error);
  }

  kelvo::enhance::EnhanceSettings settings;
  settings.options.doSkin = a.skin;
  settings.options.doNoise = a.noise;
  settings.options.doLStretch = a.stretch;
  settings.options.doSharp = a.sharp;
  settings.maxPixels = a.maxPixels;
  settings.quality = a.quality;

  // Each worker takes the next image; each enhancement runs on its worker's
  // thread alone, so N workers keep N images in memory.
  std::vector<EnhanceOutcome> outcomes(planned.size());
  kelvo::enhance::ProgressBar progress(folderRun ? planned.size() : 0);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < planned.size();) {
      const Planned& p = planned[i];
      EnhanceOutcome& outcome = outcomes[i];
      if (p.error.empty()) {
        outcome = kelvo::enhance::RunEnhanceJob(p.job, settings);
      } else {
        outcome.error = p.error;
      }
      // The single form speaks of "the input"; many files need the name.
      const std::string prefix = folderRun ? "kelvo-enhance: " + p.job.input + ": " : "kelvo-enhance: ";
      for (const std::string& warning : outcome.warnings)
        progress.Print(prefix + "warning: " + warning);
      if (!outcome.written) progress.Print(prefix + outcome.error);
      progress.Advance(p.job.input);
    }
  };
  std::vector<std::thread> workers;
  const size_t wanted = std::min(planned.size(), static_cast<size_t>(a.jobs));
  for (size_t k = 1; k < wanted; ++k) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads: the remaining ones take the rest
    }
  }
  work();
  for (std::thread& worker : workers) worker.join();
  progress.Finish();

  size_t failed = 0;
  std::string report;
  for (size_t i = 0; i < planned.size(); ++i) {
    const EnhanceOutcome& o = outcomes[i];
    if (!o.written) ++failed;
    if (!a.report.empty()) {
      report += kelvo::enhance::ReportLine(planned[i].job.input, planned[i].job.output,
                                           o.enhanced ? &o.report : nullptr,
                                           o.written ? std::string() : o.error);
    }
  }
  status = failed == 0 ? kExitOk : kExitFailed;
  if (folderRun && failed != 0) {
    std::fprintf(stderr, "kelvo-enhance: %zu of %zu images failed\n", failed, planned.size());
  }
  if (!a.report.empty()) {
    error = kelvo::enhance::WriteText(report, a.report);
    if (!error.empty()) return Fail(kExitFailed, "cannot write the report: " + error);
  }
  return status;
}
