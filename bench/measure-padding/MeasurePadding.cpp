// Measures whether the snapshot pipeline's statistics should see the mirror
// padding that EnhanceAnySize adds to an image of an awkward size.
//
//   kelvo_measure_padding < crops
//
// Each input line names a photograph as raw pixels and a crop of it:
//   FILE X Y WIDTH HEIGHT
// where FILE starts with the text line "WIDTH HEIGHT\n" followed by rows of
// blue, green, red bytes, top row first. For every crop one line of
// tab-separated results is written (header first), for four runs:
//   pad: padded to the pipeline size, statistics over the whole padded image
//   roi: padded the same way, statistics over the crop only
//   up:  the crop enlarged k times by pixel replication (k a multiple of 4,
//        at least 64 / side): a valid size whose statistics weigh every crop
//        pixel equally, with no padding and no region; the reference for the
//        decisions
//   down: the crop rounded down to a valid size (when both sides reach 64):
//        a second reference, made of crop pixels only
// and the sample differences between pad and roi (over the crop) and of each
// against down (over down's pixels).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/pipeline/EnhanceAnySize.h"
#include "imaging/pipeline/PipelineSnapshot.h"
#include "imaging/pipeline/detail/MirrorPad.h"

using namespace KelvoLibImageProcessing;

namespace {

struct Photo {
  int width = 0, height = 0;
  std::vector<uint8_t> bgr;
};

bool LoadPhoto(const std::string& path, Photo& photo) {
  std::ifstream in(path, std::ios::binary);
  if (!(in >> photo.width >> photo.height)) return false;
  in.get();
  photo.bgr.resize(static_cast<std::size_t>(photo.width) * photo.height * 3);
  in.read(reinterpret_cast<char*>(photo.bgr.data()), static_cast<std::streamsize>(photo.bgr.size()));
  return static_cast<bool>(in);
}

struct Run {
  PipelineSnapshot::Report report;
  BitmapData output;
};

Run Execute(const BitmapData& image, int statsWidth, int statsHeight) {
  Run run;
  PipelineSnapshot pipeline(image.GetWidth(), image.GetHeight(), kFormatBGR8);
  if (statsWidth > 0) pipeline.SetStatisticsRegion(0, 0, statsWidth, statsHeight);
  run.output.Initialize(image.GetWidth(), image.GetHeight(), kFormatBGR8, nullptr,
                        image.GetStride());
  pipeline.Execute(&image, &run.output);
  run.report = pipeline.GetReport();
  return run;
}

// Mean and largest absolute sample difference over the top-left w x h.
void SampleDiff(const BitmapData& a, const BitmapData& b, int w, int h, double& mean, int& max) {
  double sum = 0.0;
  max = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* pa = a.GetData() + y * a.GetStride();
    const uint8_t* pb = b.GetData() + y * b.GetStride();
    for (int i = 0; i < 3 * w; ++i) {
      const int d = std::abs(pa[i] - pb[i]);
      sum += d;
      if (d > max) max = d;
    }
  }
  mean = sum / (3.0 * w * h);
}

void PrintReport(const char* name, const PipelineSnapshot::Report& r) {
  std::printf("\t%s:%.6f:%.6f:%.3f:%.6f:%.3f:%.3f:%d:%d:%d", name, r.finalLow, r.finalHigh,
              r.opacity, r.skinRatio, r.skinMean, r.origMean, r.lowKey, r.colourCast,
              r.lowRaised);
}

}  // namespace

int main() {
  std::map<std::string, Photo> photos;
  std::string line;
  std::printf("crop\truns(name:finalLow:finalHigh:opacity:skinRatio:skinMean:origMean:lowKey:"
              "colourCast:lowRaised)...\tsamples(padVsRoiMean:padVsRoiMax:padVsDownMean:"
              "roiVsDownMean)\n");
  while (std::getline(std::cin, line)) {
    std::istringstream fields(line);
    std::string path;
    int x = 0, y = 0, w = 0, h = 0;
    if (!(fields >> path >> x >> y >> w >> h)) continue;
    Photo& photo = photos[path];
    if (photo.bgr.empty() && !LoadPhoto(path, photo)) {
      std::fprintf(stderr, "measure-padding: cannot read %s\n", path.c_str());
      return 1;
    }
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > photo.width || y + h > photo.height) {
      std::fprintf(stderr, "measure-padding: crop outside %s: %s\n", path.c_str(), line.c_str());
      return 1;
    }
    try {
      const uint8_t* crop = photo.bgr.data() + (static_cast<std::size_t>(y) * photo.width + x) * 3;
      const int stride = 3 * photo.width;

      const int pw = PipelineSide(w), ph = PipelineSide(h);
      BitmapData padded(pw, ph);
      detail::MirrorPadBGR(crop, w, h, stride, padded.GetData(), pw, ph, padded.GetStride());
      const Run pad = Execute(padded, 0, 0);
      const Run roi = Execute(padded, w, h);

      int k = 4;
      while (k * w < kPipelineMinSide || k * h < kPipelineMinSide) k += 4;
      BitmapData up(k * w, k * h);
      for (int yy = 0; yy < k * h; ++yy) {
        uint8_t* row = up.GetData() + yy * up.GetStride();
        const uint8_t* src = crop + (yy / k) * stride;
        for (int xx = 0; xx < k * w; ++xx) {
          for (int c = 0; c < 3; ++c) row[3 * xx + c] = src[3 * (xx / k) + c];
        }
      }
      const Run upRun = Execute(up, 0, 0);

      std::printf("%s %d %d %dx%d", path.c_str(), x, y, w, h);
      PrintReport("pad", pad.report);
      PrintReport("roi", roi.report);
      PrintReport("up", upRun.report);
      double padRoiMean = 0.0;
      int padRoiMax = 0;
      SampleDiff(pad.output, roi.output, w, h, padRoiMean, padRoiMax);
      double padDown = -1.0, roiDown = -1.0;
      if (w >= kPipelineMinSide && h >= kPipelineMinSide) {
        const int dw = w / 4 * 4, dh = h / 4 * 4;
        BitmapData down(dw, dh);
        for (int yy = 0; yy < dh; ++yy) {
          std::copy(crop + yy * stride, crop + yy * stride + 3 * dw,
                    down.GetData() + yy * down.GetStride());
        }
        const Run downRun = Execute(down, 0, 0);
        PrintReport("down", downRun.report);
        int ignored = 0;
        SampleDiff(pad.output, downRun.output, dw, dh, padDown, ignored);
        SampleDiff(roi.output, downRun.output, dw, dh, roiDown, ignored);
      }
      std::printf("\tsamples:%.4f:%d:%.4f:%.4f\n", padRoiMean, padRoiMax, padDown, roiDown);
      std::fflush(stdout);
    } catch (const IPException& e) {
      std::fprintf(stderr, "measure-padding: %s: %s\n", line.c_str(), e.what());
      return 1;
    }
  }
  return 0;
}
