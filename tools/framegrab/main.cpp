// framegrab: writes stills of chosen frames of video files, a command line
// over the grab library.
#include <gst/gst.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelvo/grab.h"
#include "tools/common/HeapTuning.h"
#include "tools/common/UsageError.h"
#include "tools/framegrab/FrameGrabOptions.h"
#include "tools/framegrab/StillReport.h"

namespace {

using namespace kelvo::framegrab;
namespace grab = kelvo::grab;

// The bundled sample clip: installed copy first, then the source tree's.
std::string BundledSamplePath() {
  for (const char* path : {KELVO_INSTALLED_SAMPLE, KELVO_SOURCE_SAMPLE})
    if (access(path, R_OK) == 0) return path;
  return KELVO_SOURCE_SAMPLE;
}

// Everything the inputs running at once share: the terminal.
class Console {
 public:
  Console(size_t inputs, bool bar) : fractions_(inputs, 0.0), bar_(bar) {}

  void Out(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    Clear();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }
  void Err(const std::string& text) {
    std::lock_guard<std::mutex> hold(mutex_);
    Clear();
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }
  // One bar for all inputs: the mean of their shares done.
  void Progress(size_t input, double fraction) {
    if (!bar_) return;
    std::lock_guard<std::mutex> hold(mutex_);
    fractions_[input] = std::clamp(fraction, 0.0, 1.0);
    double sum = 0.0;
    for (const double f : fractions_) sum += f;
    const int percent = static_cast<int>(100.0 * sum / static_cast<double>(fractions_.size()));
    if (percent == shown_) return;
    shown_ = percent;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::fprintf(stderr, "\rframegrab: [%s%s] %3d%%, %zu input%s\033[K",
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent,
                 fractions_.size(), fractions_.size() == 1 ? "" : "s");
    std::fflush(stderr);
    visible_ = true;
  }
  void Done() {
    std::lock_guard<std::mutex> hold(mutex_);
    Clear();
  }

 private:
  void Clear() {
    if (visible_) std::fputs("\r\033[K", stderr);
    visible_ = false;
    shown_ = -1;
  }
  std::mutex mutex_;
  std::vector<double> fractions_;
  bool bar_;
  bool visible_ = false;
  int shown_ = -1;
};

// Grabs one input and returns its exit status.
int GrabInput(const Options& options, const std::string& input, size_t index, Console* console) {
  std::vector<grab::Request> requests;
  for (const Still& s : options.stills) {
    grab::Request r;
    r.time = s.time;
    r.frame = s.frame;
    r.file = NameFor(s.file, input);
    r.enhance = s.enhance;
    r.main = s.main;
    requests.push_back(r);
  }
  grab::Options go;
  go.maxPixels = options.maxPixels;
  go.sharpest = options.sharpest;
  go.quality = options.quality;
  go.decoderThreads = options.decoderThreads;
  go.scaleWidth = options.scaleWidth;
  go.scaleHeight = options.scaleHeight;
  go.interval.every = options.every;
  go.interval.from = options.from;
  go.interval.to = options.to;
  go.interval.pattern = options.pattern;
  go.interval.enhance = options.everyEnhance;
  int status = kExitOk;
  go.onWarning = [&](const std::string& text) { console->Err("framegrab: " + text + "\n"); };
  go.onProgress = [&](double fraction) { console->Progress(index, fraction); };
  go.onStill = [&](const grab::Still& s) {
    status = WorseExit(status, StillStatus(s));
    if (options.json) console->Out(JsonLine(input, s, options.sharpest > 0) + "\n");
    if (s.taken && !options.json) console->Out(HumanLine(s, options.sharpest > 0) + "\n");
    if (!s.taken) console->Err("framegrab: " + FailureLine(s) + "\n");
  };
  try {
    if (!options.folder.empty()) grab::MakeFolders(NameFor(options.folder, input) + "still");
    grab::Grab(input, requests, go);
  } catch (const grab::Error& e) {
    console->Err(std::string("framegrab: ") + e.what() + "\n");
    const int code = e.kind() == grab::Error::Kind::Arguments ? kExitUsage
                     : e.kind() == grab::Error::Kind::Output  ? kExitOutput
                                                              : kExitInput;
    status = WorseExit(status, code);
  } catch (const std::exception& e) {
    console->Err(std::string("framegrab: \"") + input + "\": " + e.what() + "\n");
    status = WorseExit(status, kExitInput);
  }
  console->Progress(index, 1.0);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::tools::KeepWorkBuffersWarm();
  std::vector<std::string> args(argv + 1, argv + argc);
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    kelvo::tools::PrintUsageError("framegrab", error, UsageText());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return kExitOk;
  }
  if (options.version) {
    gchar* gst = gst_version_string();
    std::printf("framegrab %s (%s)\n", KELVO_VERSION, gst);
    g_free(gst);
    return kExitOk;
  }
  std::vector<std::string> inputs = options.inputs;
  if (inputs.empty()) inputs.push_back(BundledSamplePath());
  Console console(inputs.size(), !options.quiet && isatty(STDERR_FILENO));
  std::vector<int> statuses(inputs.size(), kExitOk);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < inputs.size();)
      statuses[i] = GrabInput(options, inputs[i], i, &console);
  };
  const size_t threads = std::min(inputs.size(), static_cast<size_t>(options.jobs));
  std::vector<std::thread> pool;
  try {
    for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  } catch (const std::exception&) {
    // Fewer threads than asked: the ones running take every input.
  }
  work();
  for (std::thread& t : pool) t.join();
  console.Done();
  int status = kExitOk;
  for (const int s : statuses) status = WorseExit(status, s);
  return status;
}
