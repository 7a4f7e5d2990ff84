#include "imaging/analysis/Histogram.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <utility>

#include "imaging/analysis/detail/OwnedArray.h"
#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/primitives/ImageView.h"
#include "imaging/primitives/ParallelRows.h"

namespace KelvoLibImageProcessing {

namespace {

constexpr const char* kWhereInit = "Histogram::Initialize";
constexpr const char* kWhereCtor = "Histogram::Histogram";

enum Slot : int { kRed = 0, kGreen = 1, kBlue = 2, kLum = 3 };

// trunc(pixels x fraction) as a count threshold. A fraction that is not a
// number allows nothing beyond the clip point; huge products saturate.
long long Threshold(long long pixels, double fraction) noexcept {
  const double t = static_cast<double>(pixels) * fraction;
  if (!(t == t)) return 0;
  if (t >= 9.0e18) return 9000000000000000000LL;
  if (t <= -9.0e18) return -9000000000000000000LL;
  return static_cast<long long>(t);
}

// Bin of a binned sample value: trunc(v x binScale + 0.5), at most bins - 1.
inline int BinOf(double value, double binScale, int bins) noexcept {
  const int bin = static_cast<int>(value * binScale + 0.5);
  return std::min(bin, bins - 1);
}

// Bin of a binned luminance sum S = b + 2g + r: trunc(S x binScale x 0.25 +
// 0.5), at most bins - 1.
inline int LumBinOf(int sum, double binScale, int bins) noexcept {
  const int bin = static_cast<int>(static_cast<double>(sum) * binScale * 0.25 + 0.5);
  return std::min(bin, bins - 1);
}

inline uint16_t Sample16(const uint8_t* row, std::size_t index) noexcept {
  uint16_t v;
  std::memcpy(&v, row + index * 2, 2);
  return v;
}

// 8-bit counting into per-set scratch tables of 256 entries: every bin index
// of 8-bit data is below 256 whatever the bin count. Alternate pixels go to
// alternate sets so that runs of equal values do not serialise on one
// counter. Tables per set: red, green, blue, luminance.
constexpr int kSets = 2;
struct Scratch8 {
  uint32_t t[kSets][4][256];
};

template <bool kIdentity, bool kWithLum, bool kMasked>
void CountRows8(const uint8_t* pixels, int width, int height, int stride, const uint8_t* mask,
                int maskStride, const uint16_t* binLut, const uint16_t* lumLut, Scratch8& s,
                long long& counted) noexcept {
  long long n = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = RowAt(pixels, stride, y);
    const uint8_t* m = kMasked ? RowAt(mask, maskStride, y) : nullptr;
    int x = 0;
    const auto one = [&](int set, const uint8_t* px) {
      const unsigned b = px[0], g = px[1], r = px[2];
      if constexpr (kIdentity) {
        ++s.t[set][kRed][r];
        ++s.t[set][kGreen][g];
        ++s.t[set][kBlue][b];
        if constexpr (kWithLum) ++s.t[set][kLum][(b + 2 * g + r) >> 2];
      } else {
        ++s.t[set][kRed][binLut[r]];
        ++s.t[set][kGreen][binLut[g]];
        ++s.t[set][kBlue][binLut[b]];
        if constexpr (kWithLum) ++s.t[set][kLum][lumLut[b + 2 * g + r]];
      }
    };
    if constexpr (kMasked) {
      for (; x < width; ++x) {
        if (m[x] == 0) continue;
        one(static_cast<int>(n & 1), p + 3 * x);
        ++n;
      }
    } else {
      for (; x + 1 < width; x += 2) {
        one(0, p + 3 * x);
        one(1, p + 3 * x + 3);
      }
      if (x < width) one(0, p + 3 * x);
    }
  }
  counted = n;
}

}  // namespace

Histogram::Histogram(const BitmapData* image) {
  channels_ = 3;
  int bins = 256;
  if (image != nullptr) {
    if (image->GetFormat() == kFormatBGR8) {
      bins = 256;
    } else if (image->GetFormat() == kFormatBGR16) {
      bins = 4096;
    } else {
      throw IPException(ErrorCode::kUnsupportedFormat, kWhereCtor);
    }
  }
  Initialize(image, bins, false);
}

Histogram::Histogram(const BitmapData* image, int bins) {
  channels_ = 3;
  Initialize(image, bins, false);
}

Histogram::Histogram(const BitmapData* image, WithLuminance) {
  channels_ = 3;
  Initialize(image, 256, true);
}

Histogram::Histogram(const uint8_t* pixels, int width, int height, int stride, int bins,
                     bool computeLuminance) {
  channels_ = 3;
  Initialize(pixels, width, height, stride, bins, computeLuminance);
}

Histogram::Histogram(const uint8_t* pixels, int width, int height, int stride, const uint8_t* mask,
                     int maskStride, int bins, bool computeLuminance) {
  channels_ = 3;
  Initialize(pixels, width, height, stride, mask, maskStride, bins, computeLuminance);
}

Histogram::Histogram(const uint16_t* pixels, int width, int height, int stride, int bins,
                     bool computeLuminance) {
  channels_ = 3;
  Initialize(pixels, width, height, stride, bins, computeLuminance);
}

Histogram::Histogram(const uint16_t* pixels, int width, int height, int stride, const uint8_t* mask,
                     int maskStride, int bins, bool computeLuminance) {
  channels_ = 3;
  Initialize(pixels, width, height, stride, mask, maskStride, bins, computeLuminance);
}

Histogram::Histogram(const Histogram* source) {
  if (source == nullptr) throw IPException(ErrorCode::kNullObject, kWhereCtor);
  if (!source->counts_) throw IPException(ErrorCode::kNullData, kWhereCtor);
  const std::size_t bins = static_cast<std::size_t>(source->bins_);
  auto counts = detail::AllocateArray<uint32_t>(3 * bins);
  if (!counts) throw IPException(ErrorCode::kAllocationFailed, kWhereCtor);
  std::copy(source->counts_.get(), source->counts_.get() + 3 * bins, counts.get());
  if (source->lum_) {
    lum_ = detail::AllocateArray<uint32_t>(bins);
    if (!lum_) throw IPException(ErrorCode::kAllocationFailed, kWhereCtor);
    std::copy(source->lum_.get(), source->lum_.get() + bins, lum_.get());
  }
  channels_ = source->channels_;
  bins_ = source->bins_;
  pixelCount_ = source->pixelCount_;
  binScale_ = source->binScale_;
  counts_ = std::move(counts);
}

Histogram::Histogram(const Histogram& other) : Histogram(&other) {}

Histogram& Histogram::operator=(const Histogram& other) {
  if (this != &other) *this = Histogram(&other);
  return *this;
}

void Histogram::Initialize(const BitmapData* image, int bins, bool computeLuminance) {
  if (image == nullptr) throw IPException(ErrorCode::kNullImage, kWhereInit);
  const int format = image->GetFormat();
  if (format != kFormatBGR8 && format != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhereInit);
  if (image->GetData() == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  if (format == kFormatBGR8) {
    Initialize(image->GetData(), image->GetWidth(), image->GetHeight(), image->GetStride(), bins,
               computeLuminance);
  } else {
    Initialize(reinterpret_cast<const uint16_t*>(image->GetData()), image->GetWidth(),
               image->GetHeight(), image->GetStride(), bins, computeLuminance);
  }
}

void Histogram::Initialize(const BitmapData* image, int x0, int y0, int x1, int y1, int bins,
                           bool computeLuminance) {
  if (image == nullptr) throw IPException(ErrorCode::kNullImage, kWhereInit);
  const int format = image->GetFormat();
  if (format != kFormatBGR8 && format != kFormatBGR16)
    throw IPException(ErrorCode::kUnsupportedFormat, kWhereInit);
  if (x0 < 0 || x1 >= image->GetWidth() || x0 > x1 || y0 < 0 || y1 >= image->GetHeight() ||
      y0 > y1) {
    throw IPException(ErrorCode::kInvalidRegion, kWhereInit);
  }
  if (image->GetData() == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  const uint8_t* start = RowAt(image->GetData(), image->GetStride(), y0) +
                         static_cast<std::ptrdiff_t>(x0) * BytesPerPixel(format);
  if (format == kFormatBGR8) {
    Initialize(start, x1 - x0 + 1, y1 - y0 + 1, image->GetStride(), bins, computeLuminance);
  } else {
    Initialize(reinterpret_cast<const uint16_t*>(start), x1 - x0 + 1, y1 - y0 + 1,
               image->GetStride(), bins, computeLuminance);
  }
}

void Histogram::Initialize(const uint8_t* pixels, int width, int height, int stride, int bins,
                           bool computeLuminance) {
  Count(pixels, width, height, stride, nullptr, 0, bins, computeLuminance);
}

void Histogram::Initialize(const uint8_t* pixels, int width, int height, int stride,
                           const uint8_t* mask, int maskStride, int bins, bool computeLuminance) {
  if (mask == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  Count(pixels, width, height, stride, mask, maskStride, bins, computeLuminance);
}

void Histogram::Initialize(const uint16_t* pixels, int width, int height, int stride, int bins,
                           bool computeLuminance) {
  Count(pixels, width, height, stride, nullptr, 0, bins, computeLuminance);
}

void Histogram::Initialize(const uint16_t* pixels, int width, int height, int stride,
                           const uint8_t* mask, int maskStride, int bins, bool computeLuminance) {
  if (mask == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  Count(pixels, width, height, stride, mask, maskStride, bins, computeLuminance);
}

void Histogram::ResetCaches() noexcept {
  for (int i = 0; i < 4; ++i) {
    mean_[i] = -1.0;
    stdDev_[i] = -1.0;
    median_[i] = -1;
  }
  dynamicRange_ = -1.0f;
  cumulative_.reset();
  cumulativeLum_.reset();
}

template <class T>
void Histogram::Count(const T* pixels, int width, int height, int stride, const uint8_t* mask,
                      int maskStride, int bins, bool computeLuminance) {
  constexpr bool k8 = sizeof(T) == 1;
  if (pixels == nullptr) throw IPException(ErrorCode::kNullData, kWhereInit);
  const long long rowBytes = static_cast<long long>(width) * (k8 ? 3 : 6);
  if (static_cast<long long>(stride) < rowBytes || (mask != nullptr && maskStride < width)) {
    throw IPException(ErrorCode::kInvalidStride, kWhereInit);
  }
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhereInit);
  const long long area = static_cast<long long>(width) * height;
  pixelCount_ = mask == nullptr ? static_cast<int>(area) : 0;
  if (bins < 1) throw IPException(ErrorCode::kInvalidHistogramBins, kWhereInit);

  ResetCaches();
  channels_ = 3;
  bins_ = bins;
  counts_.reset();
  lum_.reset();
  const std::size_t nb = static_cast<std::size_t>(bins);
  counts_ = detail::AllocateZeroed<uint32_t>(3 * nb);
  if (!counts_) throw IPException(ErrorCode::kAllocationFailed, kWhereInit);
  if (computeLuminance) {
    lum_ = detail::AllocateZeroed<uint32_t>(nb);
    if (!lum_) throw IPException(ErrorCode::kAllocationFailed, kWhereInit);
  }

  const int fullRange = k8 ? 256 : 4096;
  const bool identity = bins >= fullRange;
  binScale_ = identity ? 1.0 : static_cast<double>(bins) / static_cast<double>(fullRange);

  uint32_t* red = counts_.get();
  uint32_t* green = red + nb;
  uint32_t* blue = green + nb;
  uint32_t* lum = lum_.get();
  const uint8_t* base = reinterpret_cast<const uint8_t*>(pixels);
  long long counted = area;

  if constexpr (k8) {
    // Bins of every sample value and of every luminance sum b + 2g + r.
    uint16_t binLut[256];
    uint16_t lumLut[1021];
    for (int v = 0; v < 256; ++v) {
      binLut[v] = static_cast<uint16_t>(identity ? v : BinOf(v, binScale_, bins));
    }
    for (int sum = 0; sum <= 1020; ++sum) {
      lumLut[sum] = static_cast<uint16_t>(identity ? (sum >> 2) : LumBinOf(sum, binScale_, bins));
    }
    // Bands of rows count into tables of their own, added together after:
    // counts are integers, so any split gives the same histogram.
    Scratch8 s{};
    long long n = 0;
    std::mutex merge;
    kelvo::ParallelRows(height, kelvo::BandRows(3L * width), [&](int y0, int y1) {
      const uint8_t* rows = RowAt(base, stride, y0);
      const uint8_t* m = mask != nullptr ? RowAt(mask, maskStride, y0) : nullptr;
      const int count = y1 - y0;
      Scratch8 part{};
      long long partN = 0;
      if (mask != nullptr) {
        if (computeLuminance) {
          CountRows8<false, true, true>(rows, width, count, stride, m, maskStride, binLut, lumLut,
                                        part, partN);
        } else {
          CountRows8<false, false, true>(rows, width, count, stride, m, maskStride, binLut,
                                         lumLut, part, partN);
        }
      } else if (identity) {
        if (computeLuminance) {
          CountRows8<true, true, false>(rows, width, count, stride, nullptr, 0, binLut, lumLut, part,
                                        partN);
        } else {
          CountRows8<true, false, false>(rows, width, count, stride, nullptr, 0, binLut, lumLut, part,
                                         partN);
        }
      } else {
        if (computeLuminance) {
          CountRows8<false, true, false>(rows, width, count, stride, nullptr, 0, binLut, lumLut, part,
                                         partN);
        } else {
          CountRows8<false, false, false>(rows, width, count, stride, nullptr, 0, binLut, lumLut, part,
                                          partN);
        }
      }
      std::lock_guard<std::mutex> lock(merge);
      for (int set = 0; set < kSets; ++set) {
        for (int t = 0; t < 4; ++t) {
          for (int i = 0; i < 256; ++i) s.t[set][t][i] += part.t[set][t][i];
        }
      }
      n += partN;
    });
    if (mask != nullptr) counted = n;
    const std::size_t used = std::min<std::size_t>(nb, 256);
    for (int set = 0; set < kSets; ++set) {
      for (std::size_t i = 0; i < used; ++i) {
        red[i] += s.t[set][kRed][i];
        green[i] += s.t[set][kGreen][i];
        blue[i] += s.t[set][kBlue][i];
        if (lum != nullptr) lum[i] += s.t[set][kLum][i];
      }
    }
  } else {
    // 16-bit samples hold 12-bit values. A sample beyond
    // the last bin (a value above 4095 with 4096 or more bins) is counted in
    // the last bin, as binned values are, rather than dropped or written
    // outside the array.
    const int last = bins - 1;
    long long n = 0;
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = RowAt(base, stride, y);
      const uint8_t* m = mask != nullptr ? RowAt(mask, maskStride, y) : nullptr;
      for (int x = 0; x < width; ++x) {
        if (m != nullptr) {
          if (m[x] == 0) continue;
          ++n;
        }
        const std::size_t i = static_cast<std::size_t>(x) * 3;
        const int b = Sample16(row, i), g = Sample16(row, i + 1), r = Sample16(row, i + 2);
        const int sum = b + 2 * g + r;
        if (identity) {
          ++red[std::min(r, last)];
          ++green[std::min(g, last)];
          ++blue[std::min(b, last)];
          if (lum != nullptr) ++lum[std::min(sum >> 2, last)];
        } else {
          ++red[BinOf(r, binScale_, bins)];
          ++green[BinOf(g, binScale_, bins)];
          ++blue[BinOf(b, binScale_, bins)];
          if (lum != nullptr) ++lum[LumBinOf(sum, binScale_, bins)];
        }
      }
    }
    if (mask != nullptr) counted = n;
  }

  if (mask != nullptr) {
    pixelCount_ = static_cast<int>(counted);
    if (counted > area) {
      throw IPException(ErrorCode::kGeneral, "Histogram::Initialize: unexpected number of pixels");
    }
  }
}

void Histogram::Release() noexcept {
  counts_.reset();
  lum_.reset();
  ResetCaches();
}

const uint32_t* Histogram::DataRed() const noexcept {
  return channels_ == 3 && counts_ ? counts_.get() : nullptr;
}
const uint32_t* Histogram::DataGreen() const noexcept {
  return channels_ == 3 && counts_ ? counts_.get() + bins_ : nullptr;
}
const uint32_t* Histogram::DataBlue() const noexcept {
  return channels_ == 3 && counts_ ? counts_.get() + 2 * static_cast<std::size_t>(bins_) : nullptr;
}

const uint32_t* Histogram::DataCumulative() {
  if (cumulative_) return cumulative_.get();
  if (!counts_) return nullptr;
  const std::size_t nb = static_cast<std::size_t>(bins_);
  auto cum = detail::AllocateArray<uint32_t>(3 * nb);
  if (!cum) throw IPException(ErrorCode::kAllocationFailed, "Histogram::DataCumulative");
  for (std::size_t c = 0; c < 3; ++c) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < nb; ++i) {
      sum += counts_[c * nb + i];
      cum[c * nb + i] = sum;
    }
  }
  cumulative_ = std::move(cum);
  return cumulative_.get();
}

const uint32_t* Histogram::DataCumulativeLum() {
  if (cumulativeLum_) return cumulativeLum_.get();
  // Without luminance counts there is nothing to
  // accumulate; say so instead of handing back a null array.
  if (!lum_) throw IPException(ErrorCode::kDataNotAvailable, "Histogram::DataCumulativeLum");
  const std::size_t nb = static_cast<std::size_t>(bins_);
  auto cum = detail::AllocateArray<uint32_t>(nb);
  if (!cum) throw IPException(ErrorCode::kAllocationFailed, "Histogram::DataCumulative");
  uint32_t sum = 0;
  for (std::size_t i = 0; i < nb; ++i) {
    sum += lum_[i];
    cum[i] = sum;
  }
  cumulativeLum_ = std::move(cum);
  return cumulativeLum_.get();
}

const uint32_t* Histogram::Channel(int channel, const char* where) const {
  if (!counts_) throw IPException(ErrorCode::kDataNotAvailable, where);
  return counts_.get() + static_cast<std::size_t>(channel) * static_cast<std::size_t>(bins_);
}

const uint32_t* Histogram::Luminance(const char* where) const {
  if (!lum_) throw IPException(ErrorCode::kDataNotAvailable, where);
  return lum_.get();
}

void Histogram::Moments(const uint32_t* c, int slot) {
  if (mean_[slot] >= 0.0 && stdDev_[slot] >= 0.0) return;
  // Over no pixels (an all-zero mask) the statistics would
  // be 0 / 0; they are 0 instead.
  if (pixelCount_ == 0) {
    mean_[slot] = 0.0;
    stdDev_[slot] = 0.0;
    return;
  }
  const double n = static_cast<double>(pixelCount_);
  double first = 0.0;
  double second = 0.0;
  for (int i = 0; i < bins_; ++i) {
    const double p = static_cast<double>(c[i]) / n;
    first += static_cast<double>(i) * p;
    second += static_cast<double>(static_cast<long long>(i) * i) * p;
  }
  const double mean = first / binScale_;
  const double moment2 = second / (binScale_ * binScale_);
  // Rounding can leave a hair below zero when every pixel sits in one bin.
  const double variance = moment2 - mean * mean;
  mean_[slot] = mean;
  stdDev_[slot] = variance > 0.0 ? std::sqrt(variance) : 0.0;
}

int32_t Histogram::Median(const uint32_t* c, int slot) {
  if (median_[slot] >= 0) return median_[slot];
  const long long half = pixelCount_ >> 1;
  int index = 0;
  long long sum = c[0];
  while (sum < half && index < bins_ - 1) {
    ++index;
    sum += c[index];
  }
  median_[slot] = static_cast<int32_t>(static_cast<double>(index) / binScale_ + 0.5);
  return median_[slot];
}

double Histogram::MeanRed() {
  Moments(Channel(kRed, "Histogram::MeanRed"), kRed);
  return mean_[kRed];
}
double Histogram::MeanGreen() {
  Moments(Channel(kGreen, "Histogram::MeanGreen"), kGreen);
  return mean_[kGreen];
}
double Histogram::MeanBlue() {
  Moments(Channel(kBlue, "Histogram::MeanBlue"), kBlue);
  return mean_[kBlue];
}
void Histogram::MeanRGB(double& red, double& green, double& blue) {
  const char* kWhere = "Histogram::MeanRGB";
  Moments(Channel(kRed, kWhere), kRed);
  Moments(Channel(kGreen, kWhere), kGreen);
  Moments(Channel(kBlue, kWhere), kBlue);
  red = mean_[kRed];
  green = mean_[kGreen];
  blue = mean_[kBlue];
}
double Histogram::StdDevRed() {
  Moments(Channel(kRed, "Histogram::StdDevRed"), kRed);
  return stdDev_[kRed];
}
double Histogram::StdDevGreen() {
  Moments(Channel(kGreen, "Histogram::StdDevGreen"), kGreen);
  return stdDev_[kGreen];
}
double Histogram::StdDevBlue() {
  Moments(Channel(kBlue, "Histogram::StdDevBlue"), kBlue);
  return stdDev_[kBlue];
}
void Histogram::StdDevRGB(double& red, double& green, double& blue) {
  const char* kWhere = "Histogram::StdDevRGB";
  Moments(Channel(kRed, kWhere), kRed);
  Moments(Channel(kGreen, kWhere), kGreen);
  Moments(Channel(kBlue, kWhere), kBlue);
  red = stdDev_[kRed];
  green = stdDev_[kGreen];
  blue = stdDev_[kBlue];
}
int32_t Histogram::MedianRed() {
  return Median(Channel(kRed, "Histogram::MedianRed"), kRed);
}
int32_t Histogram::MedianGreen() {
  return Median(Channel(kGreen, "Histogram::MedianGreen"), kGreen);
}
int32_t Histogram::MedianBlue() {
  return Median(Channel(kBlue, "Histogram::MedianBlue"), kBlue);
}
void Histogram::MedianRGB(int32_t& red, int32_t& green, int32_t& blue) {
  const char* kWhere = "Histogram::MedianRGB";
  red = Median(Channel(kRed, kWhere), kRed);
  green = Median(Channel(kGreen, kWhere), kGreen);
  blue = Median(Channel(kBlue, kWhere), kBlue);
}
double Histogram::MeanLuminance() {
  Moments(Luminance("Histogram::MeanLuminance"), kLum);
  return mean_[kLum];
}
double Histogram::StdDevLuminance() {
  Moments(Luminance("Histogram::StdDevLuminance"), kLum);
  return stdDev_[kLum];
}
int32_t Histogram::MedianLuminance() {
  return Median(Luminance("Histogram::MedianLuminance"), kLum);
}

int32_t Histogram::LowIndex(const uint32_t* c, double fraction) const noexcept {
  const long long threshold = Threshold(pixelCount_, fraction);
  int index = 0;
  long long sum = c[0];
  while (sum <= threshold && index < bins_ - 1) {
    ++index;
    sum += c[index];
  }
  return index;
}

int32_t Histogram::HighIndex(const uint32_t* c, double fraction, int top,
                             long long pixels) const noexcept {
  const long long threshold = Threshold(pixels, fraction);
  int index = top;
  long long sum = c[top];
  while (sum <= threshold && index > 0) {
    --index;
    sum += c[index];
  }
  return index;
}

double Histogram::GetClipPointHigh(double fraction, bool excludeSaturated) {
  const uint32_t* c = Luminance("Histogram::GetClipPointHigh");
  const int left = excludeSaturated ? bins_ / 256 : 0;
  const int top = bins_ - 1 - left;
  long long pixels = pixelCount_;
  for (int i = top + 1; i < bins_; ++i) pixels -= c[i];
  const int index = HighIndex(c, fraction, top, pixels);
  return static_cast<double>(bins_ - 1 - index) / static_cast<double>(bins_);
}

double Histogram::GetClipPointLow(double fraction) {
  const uint32_t* c = Luminance("Histogram::GetClipPointLow");
  return static_cast<double>(LowIndex(c, fraction)) / static_cast<double>(bins_);
}

int32_t Histogram::GetClipIndexHighLum(float fraction) {
  const uint32_t* c = Luminance("Histogram::GetClipIndexHighLum");
  return HighIndex(c, static_cast<double>(fraction), bins_ - 1, pixelCount_);
}

int32_t Histogram::GetClipIndexLowLum(float fraction) {
  const uint32_t* c = Luminance("Histogram::GetClipIndexLowLum");
  return LowIndex(c, static_cast<double>(fraction));
}

void Histogram::GetClipIndexHighRGB(float fraction, int32_t& red, int32_t& green, int32_t& blue) {
  const char* kWhere = "Histogram::GetClipIndexHighRGB";
  const double f = static_cast<double>(fraction);
  red = HighIndex(Channel(kRed, kWhere), f, bins_ - 1, pixelCount_);
  green = HighIndex(Channel(kGreen, kWhere), f, bins_ - 1, pixelCount_);
  blue = HighIndex(Channel(kBlue, kWhere), f, bins_ - 1, pixelCount_);
}

void Histogram::GetClipIndexLowRGB(float fraction, int32_t& red, int32_t& green, int32_t& blue) {
  const char* kWhere = "Histogram::GetClipIndexLowRGB";
  const double f = static_cast<double>(fraction);
  red = LowIndex(Channel(kRed, kWhere), f);
  green = LowIndex(Channel(kGreen, kWhere), f);
  blue = LowIndex(Channel(kBlue, kWhere), f);
}

void Histogram::GetClipPointHighRGB(double fraction, double& red, double& green, double& blue) {
  const char* kWhere = "Histogram::GetClipPointHighRGB";
  const double bins = static_cast<double>(bins_);
  red = (bins_ - 1 - HighIndex(Channel(kRed, kWhere), fraction, bins_ - 1, pixelCount_)) / bins;
  green = (bins_ - 1 - HighIndex(Channel(kGreen, kWhere), fraction, bins_ - 1, pixelCount_)) / bins;
  blue = (bins_ - 1 - HighIndex(Channel(kBlue, kWhere), fraction, bins_ - 1, pixelCount_)) / bins;
}

void Histogram::GetClipPointLowRGB(double fraction, double& red, double& green, double& blue) {
  const char* kWhere = "Histogram::GetClipPointLowRGB";
  const double bins = static_cast<double>(bins_);
  red = LowIndex(Channel(kRed, kWhere), fraction) / bins;
  green = LowIndex(Channel(kGreen, kWhere), fraction) / bins;
  blue = LowIndex(Channel(kBlue, kWhere), fraction) / bins;
}

float Histogram::DynamicRangeLum(float fraction) {
  if (dynamicRange_ >= 0.0f) return dynamicRange_;
  const int high = GetClipIndexHighLum(fraction);
  const int low = GetClipIndexLowLum(fraction);
  dynamicRange_ = static_cast<float>(high - low) / static_cast<float>(bins_);
  return dynamicRange_;
}

}  // namespace KelvoLibImageProcessing
