#include "tools/kelvo-enhance/EnhanceJob.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "host/ExifBlock.h"
#include "host/ImageMetadata.h"
#include "host/JpegFile.h"
#include "host/PngFile.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/ImageFileInfo.h"
#include "imaging/core/JpegInto.h"
#include "imaging/core/SafeFile.h"
#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/Threads.h"
#include "tools/common/PixelLimit.h"
#include "tools/kelvo-enhance/Orientation.h"

#if KELVO_ENHANCE_TBB
#include <tbb/task_arena.h>
#endif

namespace kelvo::enhance {

namespace {

using KelvoLibImageProcessing::BitmapData;
using kelvo::host::ImageFormat;

// Makes the pages of [start, start + bytes) present, a huge page's worth at
// a time, until stop is set. What the pages hold is left alone, so another
// thread may write them meanwhile. Without the kernel's support (before
// Linux 5.14) the pages come on first touch as they would anyway.
void PopulatePages(void* start, std::size_t bytes, const std::atomic<bool>& stop) noexcept {
#ifdef MADV_POPULATE_WRITE
  if (start == nullptr || bytes == 0) return;
  constexpr std::uintptr_t kPage = 4096;  // the smallest page: madvise takes any multiple
  constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
  std::uintptr_t from = reinterpret_cast<std::uintptr_t>(start) & ~(kPage - 1);
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(start) + bytes;
  while (from < end && !stop.load(std::memory_order_relaxed)) {
    const std::uintptr_t to = std::min(end, (from + kStep) & ~(kStep - 1));
    if (::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE) != 0) return;
    from = to;
  }
#else
  (void)start;
  (void)bytes;
  (void)stop;
#endif
}

// Starts the thread pool: its first use loads libraries, reads the
// system's settings and sets up its scheduler, several milliseconds that
// the enhancement's first stage would otherwise wait for. Only that is
// done here; its threads start when the first stage hands them work, so
// none of them competes with the decoder meanwhile.
void StartThreadPool(int threads) noexcept {
#if KELVO_ENHANCE_TBB
  try {
    tbb::task_arena arena(threads);
    arena.initialize();
  } catch (...) {
    // The enhancement starts it, or reports why it cannot.
  }
#else
  (void)threads;
#endif
}

// Below this many pixels (2.5 megapixels: 1920 x 1200 and smaller) an
// image is enhanced on one thread unless a count was chosen (KELVO_THREADS,
// or a program's own SetThreads).
// Starting the pool and the helper below costs a one-shot run about as much
// as a second core saves on that little work, and they compete with the
// decoder for fresh pages: as processes, a 640 x 480 photo took 23 ms on
// two threads and 16 on one; at 1920 x 1080 and 1600 x 1200 the two were
// level on average, but two threads varied from 38 to 45 ms where one held
// 36 to 40, for a third more processor time. From 2560 x 1440 up two
// threads gain.
constexpr int64_t kOneThreadPixels = int64_t{5} << 19;

// Decodes job.input into *image with its blocks. Empty on success, else the
// reason; the library's loaders throw IPException. Sets *oneThread for the
// rest of the job when the image is small (see kOneThreadPixels).
std::string Load(const EnhanceJob& job, const EnhanceSettings& settings, BitmapData* image,
                 kelvo::host::ImageMetadata* metadata, std::vector<std::string>* warnings,
                 std::optional<kelvo::ScopedThreads>* oneThread) {
  const char* name = job.input.c_str();
  // The size first, from the header alone: a small file can declare an
  // enormous picture.
  int w = 0, h = 0;
  if (job.inType == ImageFormat::Png) {
    const std::string error = kelvo::host::ReadPngSize(job.input, &w, &h);
    if (!error.empty()) return "cannot read the input: " + error;
  } else {
    KelvoLibImageProcessing::ReadImageSize(
        name,
        job.inType == ImageFormat::Bmp ? KelvoLibImageProcessing::kFileBmp
                                      : KelvoLibImageProcessing::kFileJpg,
        &w, &h);
  }
  if (int64_t{w} * h < kOneThreadPixels && !kelvo::ThreadCountChosen()) oneThread->emplace(1);
  if (!kelvo::tools::WithinPixelLimit(w, h, settings.maxPixels))
    return job.input + " " + kelvo::tools::PixelLimitReason(w, h, settings.maxPixels);

  // A JPEG is decoded straight into the image the enhancement works on,
  // allocated here from the size in its header, so its pages can be made
  // present while it is decoded rather than as the decoder first writes
  // them. Files libjpeg would refuse for their size are left to the plain
  // load, which refuses them before allocating.
  const bool into = job.inType == ImageFormat::Jpeg &&
                    static_cast<int64_t>(w) * h <= KelvoLibImageProcessing::MaxJpegPixels();
  if (into) image->Initialize(w, h, KelvoLibImageProcessing::kFormatBGR8, nullptr, 3 * w);

  // The enhancement's work memory is mapped as one block before the image
  // is read. The stages' blocks are then parts of it, which join up again
  // when freed, so each stage reuses the pages the ones before it touched
  // rather than fresh ones beside blocks too small for its buffers. With
  // threads to spare, a helper makes the pages present while this thread
  // decodes, the image's first (the decoder writes them from the top):
  // fresh pages cost the kernel a fault and zeroing on first touch, a third
  // of a one-shot 1080p enhancement. Between the two it sets up the thread
  // pool (StartThreadPool). Beyond kMaxPrefault a
  // photograph's stages free and map blocks under the block cache's cap
  // anyway, and more would only raise the peak. Once the image is read the
  // helper stops where it is (on a busy machine it may have had little
  // time), rather than make this thread wait.
  constexpr std::size_t kMaxPrefault = std::size_t{64} << 20;
  const std::size_t bytes =
      std::min(KelvoLibImageProcessing::EnhanceWorkBytes(w, h), kMaxPrefault);
  std::atomic<bool> read{false};
  std::jthread prefault;
  if (kelvo::Threads() > 1) {
    uint8_t* const pixels = into ? image->GetData() : nullptr;
    const std::size_t pixelBytes = into ? std::size_t{3} * w * h : 0;
    // Below about 256 x 256 pixels the stages' loops are mostly too short to
    // be split, and setting the pool up would hold this thread up at the
    // join for longer than it saves.
    constexpr int64_t kPoolPixels = int64_t{1} << 16;
    const int threads = int64_t{w} * h >= kPoolPixels ? kelvo::Threads() : 1;
    try {
      prefault = std::jthread([bytes, pixels, pixelBytes, threads, &read] {
        PopulatePages(pixels, pixelBytes, read);
        if (threads > 1) StartThreadPool(threads);
        kelvo::memory::PrefaultBlocks(bytes, &read);
      });
    } catch (const std::system_error&) {
      // No thread: the block is only mapped, below.
    }
  }
  if (!prefault.joinable()) {
    const std::atomic<bool> mapOnly{true};
    kelvo::memory::PrefaultBlocks(bytes, &mapOnly);
  }
  // Declared after the thread, so destroyed first: stops it, then it joins.
  struct StopOnExit {
    std::atomic<bool>& flag;
    ~StopOnExit() { flag.store(true, std::memory_order_relaxed); }
  } stopPrefault{read};

  switch (job.inType) {
    case ImageFormat::Bmp:
      image->Load(name, KelvoLibImageProcessing::kFileBmp);
      break;
    case ImageFormat::Jpeg: {
      if (into) {
        KelvoLibImageProcessing::LoadJpgInto(name, *image);
      } else {
        image->Load(name, KelvoLibImageProcessing::kFileJpg);
      }
      // The pixels are read; blocks that cannot be are only a warning.
      std::vector<std::string> found;
      const std::string error = kelvo::host::ReadJpegMetadata(job.input, metadata, &found);
      if (!error.empty()) found.push_back("its EXIF, ICC and XMP blocks cannot be read: " + error);
      warnings->insert(warnings->end(), found.begin(), found.end());
      break;
    }
    case ImageFormat::Png: {
      kelvo::host::BgrImage png;
      const std::string error = kelvo::host::ReadPng(job.input, &png, metadata);
      if (!error.empty()) return "cannot read the input: " + error;
      image->Initialize(png.width, png.height, KelvoLibImageProcessing::kFormatBGR8,
                        png.pixels.data(), 3 * png.width);
      break;
    }
  }
  return {};
}

void Run(const EnhanceJob& job, const EnhanceSettings& settings, EnhanceOutcome* outcome) {
  std::string error = kelvo::io::CheckInputFile(job.input);
  if (!error.empty()) {
    outcome->error = "cannot read the input: " + error;
    return;
  }
  error = kelvo::io::CheckOutputTarget(job.output);
  if (!error.empty()) {
    outcome->error = "cannot write the output: " + error;
    return;
  }
  std::optional<kelvo::ScopedThreads> oneThread;
  BitmapData image;
  kelvo::host::ImageMetadata metadata;
  error = Load(job, settings, &image, &metadata, &outcome->warnings, &oneThread);
  if (!error.empty()) {
    outcome->error = std::move(error);
    return;
  }

  kelvo::host::ExifBlock exif;
  int orientation = 1;
  if (!metadata.exif.empty()) {
    if (exif.Parse(metadata.exif, &error)) {
      orientation = exif.Orientation();
    } else {
      outcome->warnings.push_back(error + "; it is left out");
      metadata.exif.clear();
    }
  }
  if (orientation != 1) image = Upright(image, orientation);

  outcome->report = EnhanceAnySize(image, image, settings.options);
  outcome->enhanced = true;

  if (!metadata.exif.empty()) {
    exif.MarkUpright(image.GetWidth(), image.GetHeight());
    if (!exif.Serialise(&metadata.exif, &error)) {
      outcome->warnings.push_back(error + "; it is left out");
      metadata.exif.clear();
    }
  }
  kelvo::host::BgrView view;
  view.pixels = image.GetData();
  view.width = image.GetWidth();
  view.height = image.GetHeight();
  view.stride = static_cast<size_t>(image.GetStride());
  error = kelvo::host::WriteImage(job.output, view, job.outType, settings.quality, metadata,
                                  &outcome->warnings);
  if (!error.empty()) {
    outcome->error = "cannot write the enhanced image: " + error;
    return;
  }
  outcome->written = true;
}

}  // namespace

EnhanceOutcome RunEnhanceJob(const EnhanceJob& job, const EnhanceSettings& settings) noexcept {
  EnhanceOutcome outcome;
  try {
    Run(job, settings, &outcome);
  } catch (const std::bad_alloc&) {
    outcome.error = "out of memory";
  } catch (const std::exception& e) {
    // IPException among them: its text names the failing step.
    outcome.error = e.what();
  } catch (...) {
    outcome.error = "unknown failure";
  }
  if (!outcome.written && outcome.error.empty()) outcome.error = "not written";
  return outcome;
}

}  // namespace kelvo::enhance
