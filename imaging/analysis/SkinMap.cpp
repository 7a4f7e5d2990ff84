#include "imaging/analysis/SkinMap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

#include "imaging/analysis/Regions.h"
#include "imaging/analysis/detail/MaskMajority.h"
#include "imaging/analysis/detail/SkinAreas.h"
#include "imaging/analysis/detail/SkinPixels.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/detail/Checks.h"
#include "imaging/denoise/OpImg16to8bit.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr int kBins = 256;

template <class T>
kelvo::memory::BlockArray<T> AllocateZeroed(std::size_t count, const char* where) {
  kelvo::memory::BlockArray<T> p = kelvo::memory::AllocateArray<T>(count, true);
  if (!p) throw IPException(ErrorCode::kAllocationFailed, where);
  return p;
}

template <class T>
void AssignOrThrow(std::vector<T>& v, std::size_t count, const char* where) {
  try {
    v.assign(count, T{});
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kAllocationFailed, where);
  }
}

inline int Luminance(const uint8_t* p) { return (p[0] + 2 * p[1] + p[2]) >> 2; }

// Rounds to the nearest integer, halves away from zero.
inline int RoundHalfAway(double v) { return static_cast<int>(std::lround(v)); }

bool Contains(const SkinMap::Box& outer, int x0, int y0, int x1, int y1) {
  return outer.x0 - 1 <= x0 && outer.y0 - 1 <= y0 && outer.x1 + 1 >= x1 && outer.y1 + 1 >= y1;
}

}  // namespace

SkinMap::SkinMap() noexcept = default;

SkinMap::SkinMap(const BitmapData* image) : SkinMap(image, 1, true) {}

SkinMap::SkinMap(const BitmapData* image, int cameraType, bool useMeanLuminance) {
  if (cameraType != 0 && cameraType != 1) {
    throw IPException(ErrorCode::kGeneral, "SkinMap::Initialize: unsupported camera type");
  }
  Initialize(image, cameraType, useMeanLuminance, 0.76f, 30.0f, 60.0f);
}

SkinMap::SkinMap(const BitmapData* image, int cameraType, bool useMeanLuminance, float lumFactor,
                 float lumLow, float lumHigh) {
  if (cameraType != 0 && cameraType != 1) {
    throw IPException(ErrorCode::kGeneral, "SkinMap::Initialize: unsupported camera type");
  }
  if (image != nullptr && image->GetFormat() == kFormatBGR16) {
    lumLow = static_cast<float>(lumLow / 16.0);
    lumHigh = static_cast<float>(lumHigh / 16.0);
  }
  Initialize(image, cameraType, useMeanLuminance, lumFactor, lumLow, lumHigh);
}

SkinMap::SkinMap(const uint8_t* skinMask, const uint8_t* lumMap, int width, int height) {
  try {
    if (width < 1 || height < 1)
      throw IPException(ErrorCode::kInvalidDimensions, "SkinMap::SkinMap");
    if (skinMask == nullptr || lumMap == nullptr)
      throw IPException(ErrorCode::kNullData, "SkinMap::SkinMap");
    width_ = width;
    height_ = height;
    bitDepth_ = 8;
    const std::size_t area = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    skinMask_ = AllocateZeroed<uint8_t>(area, "SkinMap::SkinMap");
    lumMap_ = AllocateZeroed<uint8_t>(area, "SkinMap::SkinMap");
    lumHistogram_ = AllocateZeroed<uint32_t>(kBins, "SkinMap::SkinMap");
    std::memcpy(skinMask_.get(), skinMask, area);
    std::memcpy(lumMap_.get(), lumMap, area);
    for (std::size_t i = 0; i < area; ++i) ++lumHistogram_[lumMap_[i]];
    detail::GuardForeign(ErrorCode::kPrimitiveException,
                         "SkinMap::SkinMap: computation of statistics failed",
                         [&] { ComputeStats(); });
    skinLumHistogram_ = AllocateZeroed<uint32_t>(kBins, "SkinMap::SkinMap");
    uint64_t sum = 0;
    for (std::size_t i = 0; i < area; ++i) {
      if (skinMask_[i] != 0) {
        ++skinLumHistogram_[lumMap_[i]];
        ++skinPixelCount_;
        sum += lumMap_[i];
      }
    }
    skinMeanLuminance_ = skinPixelCount_ == 0 ? 0.0f
                                              : static_cast<float>(static_cast<double>(sum) /
                                                                   skinPixelCount_);
  } catch (...) {
    Release();
    throw;
  }
}

SkinMap::~SkinMap() = default;

void SkinMap::Release() noexcept {
  width_ = 0;
  height_ = 0;
  bitDepth_ = 8;
  lumMap_.reset();
  lumHistogram_.reset();
  skinMask_.reset();
  hasPixelCount_ = false;
  regions_.reset();
  areaCount_ = -1;
  areaBoxes_ = {};
  areaPixelCounts_ = {};
  areaMeans_ = {};
  areaStdDevs_ = {};
  momentsDone_ = false;
  brightestArea_ = -1;
  skinLumHistogram_.reset();
  skinPixelCount_ = 0;
  skinMeanLuminance_ = 0.0f;
  skinRedHistogram_.reset();
}

void SkinMap::Initialize(const BitmapData* image, int cameraType, bool useMeanLuminance,
                         float lumFactor, float lumLow, float lumHigh) {
  Release();
  try {
    InitializeChecked(image, cameraType, useMeanLuminance, lumFactor, lumLow, lumHigh);
  } catch (...) {
    Release();
    throw;
  }
}

void SkinMap::InitializeChecked(const BitmapData* image, int cameraType, bool useMeanLuminance,
                                float lumFactor, float lumLow, float lumHigh) {
  constexpr const char* kWhere = "SkinMap::Initialize";
  if (image == nullptr) throw IPException(ErrorCode::kNullImage, kWhere);
  if (image->GetWidth() < 1 || image->GetHeight() < 1)
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  const int format = image->GetFormat();
  if (format != kFormatBGR8 && format != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  if (image->GetData() == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  width_ = image->GetWidth();
  height_ = image->GetHeight();
  bitDepth_ = 8;

  // 12-bit data is analysed through an 8-bit copy.
  std::unique_ptr<BitmapData> reduced;
  const BitmapData* source = image;
  if (format == kFormatBGR16) {
    try {
      reduced = std::make_unique<BitmapData>(width_, height_);
    } catch (...) {
      throw IPException(ErrorCode::kInstantiationFailed, "SkinMap::Initialize(BitmapData)");
    }
    detail::GuardForeign(ErrorCode::kInstantiationFailed, "SkinMap::Initialize(OpImg16to8bit)",
                         [&] { OpImg16to8bit().Execute(image, reduced.get()); });
    bitDepth_ = 12;
    source = reduced.get();
  }
  const uint8_t* pixels = source->GetData();
  const int stride = source->GetStride();

  const std::size_t area = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  lumMap_ = kelvo::memory::AllocateArray<uint8_t>(area);  // every byte is written below
  if (!lumMap_) throw IPException(ErrorCode::kAllocationFailed, kWhere);

  double meanLuminance = 0.0;
  if (useMeanLuminance) {
    BuildLuminance(pixels, stride);
    const uint32_t* histogram = LuminanceHistogram();
    uint64_t weighted = 0;
    uint64_t count = 0;
    for (int i = 0; i < kBins; ++i) {
      weighted += static_cast<uint64_t>(i) * histogram[i];
      count += histogram[i];
    }
    meanLuminance = static_cast<double>(weighted) / static_cast<double>(count);
  }

  // The colour gate writes every byte of the mask.
  skinMask_ = kelvo::memory::AllocateArray<uint8_t>(area);
  if (!skinMask_) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  if (cameraType != 0 && cameraType != 1) {
    throw IPException(ErrorCode::kGeneral, "SkinMap::Initialize: unsupported camera type");
  }
  cameraType_ = cameraType;

  int found = 0;
  detail::GuardForeign(
      ErrorCode::kPrimitiveException, "SkinMap::Initialize: FindSkinMap failed", [&] {
        // The luminance map comes out of the colour gate's pass for free.
        found = FindSkin(pixels, stride, static_cast<float>(meanLuminance), lumFactor, lumLow,
                         lumHigh, lumMap_.get(), static_cast<std::size_t>(width_));
      });

  // Single stray pixels and thin fringes go; solid areas keep their shape.
  {
    kelvo::memory::BlockArray<uint8_t> filtered = kelvo::memory::AllocateArray<uint8_t>(area);
    if (!filtered) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    // The mask holds only 0 and 255, so its 5 x 5 median is a count of set
    // pixels.
    detail::MaskMajority5x5(skinMask_.get(), filtered.get(), width_, height_);
    skinMask_.swap(filtered);  // the filtered mask becomes the mask; no copy back
  }

  if (static_cast<float>(width_ * height_) * 0.001f <= static_cast<float>(found)) {
    detail::GuardForeign(ErrorCode::kPrimitiveException,
                         "SkinMap::Initialize: computation of statistics failed",
                         [&] { ComputeStats(); });
  } else {
    areaCount_ = 0;
  }

  BuildSkinHistograms(pixels, stride);
}

void SkinMap::BuildLuminance(const uint8_t* pixels, int stride) {
  kelvo::ParallelRows(height_, kelvo::BandRows(3L * width_), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const uint8_t* p = RowAt(pixels, stride, y);
      uint8_t* l = lumMap_.get() + static_cast<std::size_t>(y) * width_;
      for (int x = 0; x < width_; ++x, p += 3) l[x] = static_cast<uint8_t>(Luminance(p));
    }
  });
}

const uint32_t* SkinMap::LuminanceHistogram() const {
  if (lumHistogram_ || !lumMap_) return lumHistogram_.get();
  lumHistogram_ = AllocateZeroed<uint32_t>(kBins, "SkinMap::Initialize");
  const std::size_t area = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
  const uint8_t* lum = lumMap_.get();
  uint32_t* histogram = lumHistogram_.get();
  for (std::size_t i = 0; i < area; ++i) ++histogram[lum[i]];
  return histogram;
}

void SkinMap::BuildSkinHistograms(const uint8_t* pixels, int stride) {
  skinLumHistogram_ = AllocateZeroed<uint32_t>(kBins, "SkinMap::Initialize");
  skinRedHistogram_ = AllocateZeroed<uint32_t>(kBins, "SkinMap::Initialize");
  // Counts and an integer sum: the bands' parts add up the same in any
  // order.
  uint64_t sum = 0;
  uint32_t count = 0;
  std::mutex totalsLock;
  kelvo::ParallelRows(height_, kelvo::BandRows(3L * width_), [&](int begin, int end) {
    uint32_t lum[kBins], red[kBins];
    uint64_t bandSum = 0;
    const std::size_t offset = static_cast<std::size_t>(begin) * static_cast<std::size_t>(width_);
    const uint32_t bandCount = detail::SkinHistograms(
        skinMask_.get() + offset, lumMap_.get() + offset, RowAt(pixels, stride, begin), stride,
        width_, end - begin, lum, red, bandSum);
    const std::lock_guard<std::mutex> hold(totalsLock);
    for (int i = 0; i < kBins; ++i) {
      skinLumHistogram_[i] += lum[i];
      skinRedHistogram_[i] += red[i];
    }
    sum += bandSum;
    count += bandCount;
  });
  skinPixelCount_ = count;
  // Without skin pixels the mean is 0, not 0/0.
  skinMeanLuminance_ =
      count == 0 ? 0.0f : static_cast<float>(static_cast<double>(sum) / static_cast<double>(count));
}

int SkinMap::FindSkinMap(const uint8_t* pixels, int stride, float meanLuminance, float lumFactor,
                         float lumLow, float lumHigh) {
  // The luminance map stays as Initialize built it; the gate's luminance
  // goes to a row of scratch.
  std::vector<uint8_t> lumRow;
  AssignOrThrow(lumRow, static_cast<std::size_t>(std::max(width_, 1)), "SkinMap::FindSkinMap");
  return FindSkin(pixels, stride, meanLuminance, lumFactor, lumLow, lumHigh, lumRow.data(), 0);
}

int SkinMap::FindSkin(const uint8_t* pixels, int stride, float meanLuminance, float lumFactor,
                      float lumLow, float lumHigh, uint8_t* lum, std::size_t lumStep) {
  constexpr const char* kWhere = "SkinMap::FindSkinMap";
  if (width_ < 1 || height_ < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  if (pixels == nullptr || !skinMask_) throw IPException(ErrorCode::kNullData, kWhere);
  if (stride < 3 * width_) throw IPException(ErrorCode::kInvalidStride, kWhere);
  uint8_t* mask = skinMask_.get();

  // 1. Luminance candidates: L >= t for an integer L is L >= ceil(t).
  float threshold = meanLuminance * lumFactor;
  threshold = std::min(std::max(threshold, lumLow), lumHigh);
  int minLum = 0;
  if (meanLuminance > 0) {
    minLum = std::isnan(threshold) ? 256
                                   : static_cast<int>(std::min(std::ceil(threshold), 256.0f));
  }

  // 2. Colour gate, the colour of the image and the skin test, in one pass
  // over the pixels. The test needs the cast limit of step 3, which needs
  // the whole frame's gate, but it decides only the few pixels whose larger
  // ratio lies between the limit's bounds; those are marked and settled in
  // step 4. Integer sums are exact, as double sums of 8-bit values are below
  // 2^53.
  // Rows go in bands on the library's threads; the sums are integers, so
  // the bands' totals add up the same in any order.
  const int grain = kelvo::BandRows(3L * width_);
  // Rows holding a mark, so that step 4 passes over the others.
  kelvo::memory::BlockArray<uint8_t> marked =
      kelvo::memory::AllocateArray<uint8_t>(static_cast<std::size_t>(height_));
  if (!marked) throw IPException(ErrorCode::kAllocationFailed, kWhere);
  detail::SkinGateSums sums;
  std::mutex sumsLock;
  kelvo::ParallelRows(height_, grain, [&](int begin, int end) {
    detail::SkinGateSums band;
    for (int y = begin; y < end; ++y) {
      const uint64_t before = band.undecided;
      detail::SkinGateRow(RowAt(pixels, stride, y), width_, minLum,
                          lum + static_cast<std::size_t>(y) * lumStep,
                          mask + static_cast<std::size_t>(y) * width_, band);
      marked[static_cast<std::size_t>(y)] = band.undecided != before ? 1 : 0;
    }
    const std::lock_guard<std::mutex> hold(sumsLock);
    sums.b += band.b;
    sums.g += band.g;
    sums.r += band.r;
    sums.count += band.count;
    sums.skin += band.skin;
    sums.undecided += band.undecided;
  });

  // 3. How far the image's own colour may push green and blue towards red:
  // the tighter of the two channel ratios that are below 1.
  float castLimit = 0.975f;
  if (sums.count > 0) {
    const double n = static_cast<double>(sums.count);
    const float meanB = static_cast<float>(static_cast<double>(sums.b) / n);
    const float meanG = static_cast<float>(static_cast<double>(sums.g) / n);
    const float meanR = static_cast<float>(static_cast<double>(sums.r) / n);
    const float ratioG = meanG / meanR;
    const float ratioB = meanB / meanR;
    float c = -1.0f;
    if (ratioG < 1.0f) c = ratioG;
    if (ratioB < 1.0f) c = std::max(c, ratioB);
    if (c < 0.0f) c = 0.975f;
    castLimit = std::min(std::max(c, 0.9f), 0.975f);
  }

  // 4. The marked pixels against the cast limit.
  std::atomic<int> count{static_cast<int>(sums.skin)};
  if (sums.undecided > 0) {
    kelvo::ParallelRows(height_, grain, [&](int begin, int end) {
      int band = 0;
      for (int y = begin; y < end; ++y) {
        if (marked[static_cast<std::size_t>(y)] == 0) continue;
        band += detail::SkinResolveRow(RowAt(pixels, stride, y), width_, castLimit,
                                       mask + static_cast<std::size_t>(y) * width_);
      }
      count += band;
    });
  }
  return count.load();
}

void SkinMap::ComputeStats() {
  constexpr const char* kWhere = "SkinMap::ComputeStats";
  if (areaCount_ != -1) {
    throw IPException(ErrorCode::kGeneral,
                      "SkinMap::ComputeStats: this routine may only be called once");
  }
  if (!skinMask_ || !lumMap_) throw IPException(ErrorCode::kNullData, kWhere);
  const int width = width_;
  const int height = height_;
  const float minAreaPixels = static_cast<float>(width * height) * 0.001f;
  const int minSize = RoundHalfAway(static_cast<float>(width * height) * 0.00004f);

  regions_.reset(new (std::nothrow) Regions());
  if (!regions_)
    throw IPException(ErrorCode::kInstantiationFailed, "SkinMap::ComputeStats(Regions)");
  regions_->InitializeRuns(width, height, skinMask_.get(), width, minSize, false);
  int regionCount = 0;
  const RegionRecord* records = regions_->GetRegionsBB(regionCount);
  // A pixel is in the region of box rank k exactly when its label is
  // boxOrder[k]: ranks and labels number the same kept regions, and a pixel
  // in none has a negative label. So the rank map is never built, nor the
  // label map: the regions are painted from their runs.
  const Regions& labels = *regions_;
  const int32_t* boxOrder = regions_->GetBoxOrder();

  int first = 0;
  while (first < regionCount && records[first].value == 0) ++first;
  if (first == regionCount) {
    areaCount_ = 0;
    return;
  }

  // The areas keep only their own regions, and a stray region outside
  // every area goes: the regions chosen here are painted into the mask once
  // the choice is made, over the mask itself (its runs say all that is
  // still needed of it), in their boxes on a clear ground.
  std::vector<uint8_t> chosen;
  std::vector<detail::AreaBox> labelBoxes;
  AssignOrThrow(chosen, static_cast<std::size_t>(regionCount), kWhere);
  AssignOrThrow(labelBoxes, static_cast<std::size_t>(regionCount), kWhere);
  const auto paint = [&](int rank, const RegionRecord& r) {
    const auto label = static_cast<std::size_t>(boxOrder[rank]);
    chosen[label] = 1;
    labelBoxes[label] = {r.minX, r.minY, r.maxX, r.maxY};
  };

  struct Hole {
    detail::AreaBox box;
    int rank;
    int maxLum;
  };
  std::vector<Hole> holes;
  try {
    const RegionRecord& r0 = records[first];
    areaBoxes_.push_back({r0.minX, r0.minY, r0.maxX, r0.maxY});
    areaPixelCounts_.push_back(r0.pixelCount);
    paint(first, r0);

    for (int rank = first + 1; rank < regionCount; ++rank) {
      const RegionRecord& r = records[rank];
      std::size_t found = 0;
      while (found < areaBoxes_.size() &&
             !Contains(areaBoxes_[found], r.minX, r.minY, r.maxX, r.maxY)) {
        ++found;
      }
      if (found < areaBoxes_.size()) {
        if (r.value != 0) {
          Box& b = areaBoxes_[found];
          b.x0 = std::min(b.x0, r.minX);
          b.y0 = std::min(b.y0, r.minY);
          b.x1 = std::max(b.x1, r.maxX);
          b.y1 = std::max(b.y1, r.maxY);
          const int64_t boxArea =
              static_cast<int64_t>(b.x1 - b.x0 + 1) * static_cast<int64_t>(b.y1 - b.y0 + 1);
          int64_t pixels = static_cast<int64_t>(areaPixelCounts_[found]) + r.pixelCount;
          areaPixelCounts_[found] = static_cast<int>(std::min(pixels, boxArea));
          paint(rank, r);
        } else {
          // A hole in a skin area; the skin around it is measured below.
          holes.push_back({{r.minX, r.minY, r.maxX, r.maxY}, rank, 0});
        }
      } else if (r.value != 0 && static_cast<float>(r.pixelCount) >= minAreaPixels) {
        areaBoxes_.push_back({r.minX, r.minY, r.maxX, r.maxY});
        areaPixelCounts_.push_back(r.pixelCount);
        paint(rank, r);
      }
    }
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kAllocationFailed, kWhere);
  }

  areaCount_ = static_cast<int>(areaBoxes_.size());
  // The skin around each hole, in the mask as it was before the painting;
  // holes only read the mask here, so they go to the library's threads.
  const int holeCount = static_cast<int>(holes.size());
  kelvo::ParallelRows(holeCount, 1, [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      Hole& h = holes[static_cast<std::size_t>(i)];
      h.maxLum = detail::MaxMaskedLuminance(skinMask_.get(), lumMap_.get(), width, h.box);
    }
  });
  detail::PaintChosen(labels, chosen.data(), labelBoxes.data(), skinMask_.get());

  // Bright holes (eyes, highlights on a forehead) are skin that the colour
  // test missed. A float luminance l reaches the float m exactly when the
  // integer l reaches ceil(m). Each hole writes only the pixels of its own
  // region, so holes fill side by side.
  kelvo::ParallelRows(holeCount, 1, [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      const Hole& h = holes[static_cast<std::size_t>(i)];
      const int minLum = static_cast<int>(std::ceil(0.75f * static_cast<float>(h.maxLum)));
      detail::FillLabelFrom(labels, lumMap_.get(), width, h.box, boxOrder[h.rank], minLum,
                            skinMask_.get());
    }
  });

  // The skin pixel count is all that is asked of the cleaned mask as a
  // whole; the skin histograms count the same set pixels of it, so no
  // summed-area table of the frame is built. The areas' luminance moments
  // wait for the first caller that asks for them (ComputeMoments): the
  // snapshot pipeline never does.
  hasPixelCount_ = true;
}

void SkinMap::ComputeMoments() const {
  constexpr const char* kWhere = "SkinMap::ComputeStats";
  if (momentsDone_ || !hasPixelCount_ || areaBoxes_.empty()) return;
  const int width = width_;
  std::vector<float> means, deviations;
  AssignOrThrow(means, areaBoxes_.size(), kWhere);
  AssignOrThrow(deviations, areaBoxes_.size(), kWhere);
  // Each area's sums run in their own order whichever thread adds them, so
  // areas go to the library's threads one by one.
  kelvo::ParallelRows(static_cast<int>(areaBoxes_.size()), 1, [&](int begin, int end) {
    kelvo::memory::BlockArray<float> scratch =
        kelvo::memory::AllocateArray<float>(static_cast<std::size_t>(width));
    if (!scratch) throw IPException(ErrorCode::kAllocationFailed, kWhere);
    for (int a = begin; a < end; ++a) {
      const Box& b = areaBoxes_[static_cast<std::size_t>(a)];
      const detail::LumMoments m = detail::MaskedLuminanceMoments(
          skinMask_.get(), lumMap_.get(), width, {b.x0, b.y0, b.x1, b.y1}, scratch.get());
      if (m.count > 0) {
        const float nf = static_cast<float>(m.count);
        const float mean = m.sum / nf;
        // Float sums of squares can dip a variance of 0 just below zero.
        const float variance = m.sumSquares / nf - mean * mean;
        means[static_cast<std::size_t>(a)] = mean;
        deviations[static_cast<std::size_t>(a)] = variance > 0.0f ? std::sqrt(variance) : 0.0f;
      }
    }
  });
  areaMeans_.swap(means);
  areaStdDevs_.swap(deviations);
  momentsDone_ = true;
}

float SkinMap::SkinFraction() const {
  if (!hasPixelCount_) return 0.0f;
  return static_cast<float>(static_cast<double>(SkinPixelCount()) /
                            (static_cast<double>(width_) * static_cast<double>(height_)));
}

uint32_t SkinMap::SkinPixelCount() const {
  return hasPixelCount_ ? skinPixelCount_ : 0;
}

float SkinMap::SkinMeanLuminance() const {
  return bitDepth_ == 12 ? skinMeanLuminance_ * 16.0f : skinMeanLuminance_;
}

int SkinMap::ClipLevel(const uint32_t* histogram, int64_t count, const char* where) const {
  if (histogram == nullptr) throw IPException(ErrorCode::kDataNotAvailable, where);
  int bin = kBins - 1;
  int64_t sum = histogram[bin];
  while (sum <= count && bin > 0) {
    --bin;
    sum += histogram[bin];
  }
  // A bin that overshoots by several pixels belongs below the level.
  if (sum - count >= 3 && bin < kBins - 1) ++bin;
  if (bitDepth_ == 12) return std::min(4095, bin * 16);
  return bin;
}

int SkinMap::SkinLumClipLevel(int count) const {
  return ClipLevel(skinLumHistogram_.get(), count, "SkinMap::SkinLumClipLevel");
}

int SkinMap::SkinLumClipLevel(double share) const {
  return ClipLevel(skinLumHistogram_.get(), static_cast<int64_t>(skinPixelCount_ * share),
                   "SkinMap::SkinLumClipLevel");
}

int SkinMap::SkinRedClipLevel(int count) const {
  return ClipLevel(skinRedHistogram_.get(), count, "SkinMap::SkinRedClipLevel");
}

int SkinMap::SkinRedClipLevel(double share) const {
  return ClipLevel(skinRedHistogram_.get(), static_cast<int64_t>(skinPixelCount_ * share),
                   "SkinMap::SkinRedClipLevel");
}

int SkinMap::CountSkinRegions(int minPixels) const {
  int n = 0;
  for (int count : areaPixelCounts_) n += count >= minPixels ? 1 : 0;
  return n;
}

int SkinMap::CollectRegions(int minPixels, float brightLevel, std::vector<Box>& boxes,
                            std::vector<int>& pixelCounts, std::vector<float>* means,
                            const char* where) const {
  boxes.clear();
  pixelCounts.clear();
  if (means != nullptr) means->clear();
  if (means != nullptr || brightLevel >= 0.0f) ComputeMoments();
  try {
    for (std::size_t a = 0; a < areaBoxes_.size(); ++a) {
      if (areaPixelCounts_[a] < minPixels) continue;
      const float mean = a < areaMeans_.size() ? areaMeans_[a] : 0.0f;
      if (mean < brightLevel) continue;
      boxes.push_back(areaBoxes_[a]);
      pixelCounts.push_back(areaPixelCounts_[a]);
      if (means != nullptr) means->push_back(bitDepth_ == 12 ? mean * 16.0f : mean);
    }
  } catch (const std::bad_alloc&) {
    throw IPException(ErrorCode::kAllocationFailed, where);
  }
  return static_cast<int>(boxes.size());
}

int SkinMap::GetSkinRegions(int minPixels, std::vector<Box>& boxes,
                            std::vector<int>& pixelCounts) const {
  return CollectRegions(minPixels, -1.0f, boxes, pixelCounts, nullptr, "SkinMap::GetSkinRegions");
}

int SkinMap::GetSkinRegionsLum(int minPixels, std::vector<Box>& boxes,
                               std::vector<int>& pixelCounts,
                               std::vector<float>& meanLuminances) const {
  return CollectRegions(minPixels, -1.0f, boxes, pixelCounts, &meanLuminances,
                        "SkinMap::GetSkinRegionsLum");
}

int SkinMap::GetSkinRegionsBright(int minPixels, float rangeShare, float pixelShare,
                                  std::vector<Box>& boxes, std::vector<int>& pixelCounts,
                                  std::vector<float>& meanLuminances) const {
  constexpr const char* kRange = "SkinMap::GetSkinRegionsBright: calculation of dynamic range failed";
  const uint32_t* lumHistogram = LuminanceHistogram();
  if (lumHistogram == nullptr) throw IPException(ErrorCode::kGeneral, kRange);
  int lo = 0;
  while (lo < kBins && lumHistogram[lo] == 0) ++lo;
  if (lo == kBins) throw IPException(ErrorCode::kGeneral, kRange);
  int hi = kBins - 1;
  while (lumHistogram[hi] == 0) --hi;

  const int k = RoundHalfAway((hi + 1 - lo) * static_cast<double>(rangeShare));
  const int64_t wanted = std::lround(static_cast<double>(width_) * height_ * pixelShare);
  // The top k levels of the range, widened downwards until enough pixels
  // are in; the bright level sits just below the last bin taken.
  int last;
  int64_t sum = 0;
  const int start = kBins - 1 - k;
  if (hi < start) {
    last = hi;
    sum = lumHistogram[hi];
  } else {
    last = std::max(start, 0);
    for (int i = last; i <= hi; ++i) sum += lumHistogram[i];
  }
  while (sum < wanted && last - 1 >= lo) {
    --last;
    sum += lumHistogram[last];
  }
  const float brightLevel = static_cast<float>(last - 1);
  return CollectRegions(minPixels, brightLevel, boxes, pixelCounts, &meanLuminances,
                        "SkinMap::GetSkinRegionsBright");
}

bool SkinMap::GetBrightestSkinRegion(Box& box, int& pixelCount, float& meanLuminance,
                                     float& stdDevLuminance, bool& bright) {
  if (areaCount_ <= 0) return false;
  ComputeMoments();
  if (areaMeans_.empty()) return false;
  if (brightestArea_ < 0) {
    int best = 0;
    for (std::size_t a = 1; a < areaMeans_.size(); ++a) {
      if (areaMeans_[a] > areaMeans_[best]) best = static_cast<int>(a);
    }
    brightestArea_ = best;
  }
  const std::size_t a = static_cast<std::size_t>(brightestArea_);
  box = areaBoxes_[a];
  pixelCount = areaPixelCounts_[a];
  const float scale = bitDepth_ == 12 ? 16.0f : 1.0f;
  meanLuminance = areaMeans_[a] * scale;
  stdDevLuminance = areaStdDevs_[a] * scale;

  // The bright flag counts every pixel of the box at
  // luminance 249 or above (near-white highlights), not bin 249 alone, which
  // would miss fully saturated highlights.
  uint32_t nearWhite = 0;
  for (int y = box.y0; y <= box.y1; ++y) {
    const uint8_t* l = lumMap_.get() + static_cast<std::size_t>(y) * width_;
    for (int x = box.x0; x <= box.x1; ++x) nearWhite += l[x] >= 249 ? 1u : 0u;
  }
  const int64_t limit =
      std::lround(static_cast<float>(width_ * height_) * 0.0001f);
  bright = static_cast<int64_t>(nearWhite) > limit;
  return true;
}

}  // namespace KelvoLibImageProcessing
