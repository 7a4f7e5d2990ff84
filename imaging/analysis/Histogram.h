#pragma once

#include <cstdint>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

class BitmapData;

// Counts the samples of a three-channel image (8-bit, or 16-bit holding
// 12-bit values), optionally within a rectangle or where a mask is non-zero,
// and optionally one luminance value per pixel, (blue + 2 green + red) / 4.
// Statistics derived from the counts are computed on first request and
// cached.
//
// Channels are numbered red 0, green 1, blue 2 (pixels are stored blue,
// green, red). Counts are channel-major: all red bins, then green, then blue.
//
// Binning: with at least 256 bins for 8-bit data (4096 for 16-bit) a sample
// value is its own bin; with fewer, value v goes to bin trunc(v * binScale +
// 0.5), limited to bins - 1, where binScale = bins / 256 (or / 4096).
//
// Failures throw IPException with the where-string of the method; a failed
// Initialize leaves what it had set before the failing check.
class Histogram {
 public:
  // Selects the constructor from an image that also counts luminance.
  struct WithLuminance {};
  static constexpr WithLuminance kWithLuminance{};

  Histogram() noexcept = default;
  // 256 bins for 8-bit three-channel images, 4096 for 16-bit; no luminance.
  explicit Histogram(const BitmapData* image);
  Histogram(const BitmapData* image, int bins);
  // 256 bins and luminance.
  Histogram(const BitmapData* image, WithLuminance);
  // Raw forms, as the matching Initialize.
  Histogram(const uint8_t* pixels, int width, int height, int stride, int bins,
            bool computeLuminance);
  Histogram(const uint8_t* pixels, int width, int height, int stride, const uint8_t* mask,
            int maskStride, int bins, bool computeLuminance);
  Histogram(const uint16_t* pixels, int width, int height, int stride, int bins,
            bool computeLuminance);
  Histogram(const uint16_t* pixels, int width, int height, int stride, const uint8_t* mask,
            int maskStride, int bins, bool computeLuminance);
  // Copies the bin count, pixel count, binning, counts and luminance counts;
  // caches start empty. A null source throws code 7, a source without counts
  // code 5.
  explicit Histogram(const Histogram* source);
  Histogram(const Histogram& other);
  Histogram& operator=(const Histogram& other);
  Histogram(Histogram&&) noexcept = default;
  Histogram& operator=(Histogram&&) noexcept = default;
  ~Histogram() = default;

  // Image forms: pixel format 2 or 3 only (code 2); a null image is code 4,
  // an image without pixels code 5.
  void Initialize(const BitmapData* image, int bins, bool computeLuminance);
  // Counts only the rectangle (x0, y0)-(x1, y1), inclusive corners (code 8
  // when it is not inside the image or empty).
  void Initialize(const BitmapData* image, int x0, int y0, int x1, int y1, int bins,
                  bool computeLuminance);
  // Raw forms; strides in bytes. Checks: null pointers (code 5), stride
  // below 3 x width (6 x width for 16-bit) or mask stride below width (6),
  // width or height below 1 (0), bins below 1 (14). With a mask only the
  // pixels whose mask byte is non-zero are counted.
  void Initialize(const uint8_t* pixels, int width, int height, int stride, int bins,
                  bool computeLuminance);
  void Initialize(const uint8_t* pixels, int width, int height, int stride, const uint8_t* mask,
                  int maskStride, int bins, bool computeLuminance);
  void Initialize(const uint16_t* pixels, int width, int height, int stride, int bins,
                  bool computeLuminance);
  void Initialize(const uint16_t* pixels, int width, int height, int stride, const uint8_t* mask,
                  int maskStride, int bins, bool computeLuminance);

  // Frees every array.
  void Release() noexcept;

  int GetChannelCount() const noexcept { return channels_; }
  int GetBinCount() const noexcept { return bins_; }
  int GetPixelCount() const noexcept { return pixelCount_; }
  double GetBinScale() const noexcept { return binScale_; }
  bool HasLuminance() const noexcept { return lum_ != nullptr; }

  // The counts of one channel, or null when not initialised.
  const uint32_t* DataRed() const noexcept;
  const uint32_t* DataGreen() const noexcept;
  const uint32_t* DataBlue() const noexcept;
  // The luminance counts, or null when luminance was not counted.
  const uint32_t* DataLuminance() const noexcept { return lum_.get(); }

  // Cumulative counts, cum[i] = c[0] + ... + c[i]: per channel (channel-major)
  // and for luminance. Built on the first call, then returned as they are.
  // Null (channels) or code 25 (luminance) when there is nothing to count.
  const uint32_t* DataCumulative();
  const uint32_t* DataCumulativeLum();

  // Means, standard deviations and medians in sample units. The luminance
  // forms need luminance counts (code 25 otherwise); every form needs counts
  // (code 25). Over no pixels at all (an all-zero mask) the mean and
  // standard deviation are 0.
  double MeanRed();
  double MeanGreen();
  double MeanBlue();
  void MeanRGB(double& red, double& green, double& blue);
  double StdDevRed();
  double StdDevGreen();
  double StdDevBlue();
  void StdDevRGB(double& red, double& green, double& blue);
  int32_t MedianRed();
  int32_t MedianGreen();
  int32_t MedianBlue();
  void MedianRGB(int32_t& red, int32_t& green, int32_t& blue);
  double MeanLuminance();
  double StdDevLuminance();
  int32_t MedianLuminance();

  // Clip points of the luminance counts, as fractions of the bin count.
  // fraction is the share of the counted pixels allowed beyond the point.
  // High: distance of the clip bin from the top bin; with excludeSaturated
  // the topmost bins / 256 bins are left out of the scan and of the pixel
  // count first. Low: the clip bin itself.
  double GetClipPointHigh(double fraction, bool excludeSaturated = false);
  double GetClipPointLow(double fraction);
  // The luminance clip bins themselves.
  int32_t GetClipIndexHighLum(float fraction);
  int32_t GetClipIndexLowLum(float fraction);
  // Per channel clip bins and points.
  void GetClipIndexHighRGB(float fraction, int32_t& red, int32_t& green, int32_t& blue);
  void GetClipIndexLowRGB(float fraction, int32_t& red, int32_t& green, int32_t& blue);
  void GetClipPointHighRGB(double fraction, double& red, double& green, double& blue);
  void GetClipPointLowRGB(double fraction, double& red, double& green, double& blue);

  // (high clip bin - low clip bin) / bins of the luminance counts; computed
  // once, later calls return the cached value whatever the fraction.
  float DynamicRangeLum(float fraction);

 private:
  template <class T>
  void Count(const T* pixels, int width, int height, int stride, const uint8_t* mask,
             int maskStride, int bins, bool computeLuminance);
  void ResetCaches() noexcept;
  const uint32_t* Channel(int channel, const char* where) const;
  const uint32_t* Luminance(const char* where) const;
  // Mean and standard deviation of counts c, cached in slot.
  void Moments(const uint32_t* c, int slot);
  int32_t Median(const uint32_t* c, int slot);
  int32_t LowIndex(const uint32_t* c, double fraction) const noexcept;
  int32_t HighIndex(const uint32_t* c, double fraction, int top, long long pixels) const noexcept;

  int channels_ = 0;
  int bins_ = 0;
  int pixelCount_ = 0;
  kelvo::memory::BlockArray<uint32_t> counts_;
  kelvo::memory::BlockArray<uint32_t> lum_;
  kelvo::memory::BlockArray<uint32_t> cumulative_;
  kelvo::memory::BlockArray<uint32_t> cumulativeLum_;
  double binScale_ = 1.0;
  // Red, green, blue, luminance; -1 while not computed.
  double mean_[4] = {-1.0, -1.0, -1.0, -1.0};
  double stdDev_[4] = {-1.0, -1.0, -1.0, -1.0};
  int32_t median_[4] = {-1, -1, -1, -1};
  float dynamicRange_ = -1.0f;
};

}  // namespace KelvoLibImageProcessing
