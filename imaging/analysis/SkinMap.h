#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

class BitmapData;
class Regions;

// Finds the skin-coloured pixels of a three-channel image, cleans them into a
// few connected skin areas and measures them: how much of the image is skin,
// how bright it is, and at which luminance and red levels its brightest
// pixels sit. The snapshot pipeline reads these to keep faces out of the
// contrast stretch's clipping.
//
// Works on 8-bit data; a 16-bit (12-bit valued) image is reduced to 8 bits
// first and luminance results are scaled back by 16 (bitDepth 12).
// Luminance of a pixel is L = (B + 2G + R) >> 2.
//
// Every failure throws IPException. Initialize and the mask constructor
// release everything built so far before they throw. The area getters
// compute the areas' moments on first use, so even a const map is read by
// one thread at a time.
class SkinMap {
 public:
  // Inclusive corners of a skin area's bounding box.
  struct Box {
    int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  };

  SkinMap() noexcept;
  // cameraType 1, mean luminance used, lumFactor 0.76, lumLow 30, lumHigh 60.
  explicit SkinMap(const BitmapData* image);
  // A cameraType other than 0 or 1 is refused before anything is built.
  SkinMap(const BitmapData* image, int cameraType, bool useMeanLuminance = true);
  // lumLow and lumHigh are given in the image's units: for a 16-bit image
  // they are divided by 16 before use.
  SkinMap(const BitmapData* image, int cameraType, bool useMeanLuminance, float lumFactor,
          float lumLow, float lumHigh);
  // From a ready skin mask (non-zero = skin) and luminance map, both
  // width * height bytes without padding: statistics are computed at once;
  // there is no red histogram.
  SkinMap(const uint8_t* skinMask, const uint8_t* lumMap, int width, int height);
  ~SkinMap();

  SkinMap(const SkinMap&) = delete;
  SkinMap& operator=(const SkinMap&) = delete;

  // Builds the luminance map and histogram, finds and cleans the skin mask,
  // computes the area statistics when at least 0.1 % of the pixels are skin,
  // then the skin luminance and red histograms. lumLow and lumHigh are used
  // as given (8-bit units).
  void Initialize(const BitmapData* image, int cameraType, bool useMeanLuminance, float lumFactor,
                  float lumLow, float lumHigh);

  // Writes the skin mask (255 skin, 0 not) for the map's width and height
  // from 8-bit B, G, R pixels; returns the number of skin pixels. A mean
  // luminance of 0 or below makes every pixel a luminance candidate.
  int FindSkinMap(const uint8_t* pixels, int stride, float meanLuminance, float lumFactor,
                  float lumLow, float lumHigh);

  // Groups the skin mask into areas, keeps only them, fills bright holes and
  // measures each area (its luminance moments on first use, by the area
  // getters). Once per map.
  void ComputeStats();

  // Share of skin pixels in the cleaned mask; 0 when ComputeStats did not
  // get as far as cleaning it (too little skin).
  float SkinFraction() const;
  // Skin pixels in the cleaned mask; 0 when it was not cleaned.
  uint32_t SkinPixelCount() const;
  // Mean luminance of the skin pixels (x 16 for 12-bit data).
  float SkinMeanLuminance() const;

  // Highlight level of the skin pixels' luminance (or red) histogram: the
  // level from which on more than count pixels lie, scanned down from 255.
  // The share form uses count = trunc(skin pixel count * share).
  int SkinLumClipLevel(int count) const;
  int SkinLumClipLevel(double share) const;
  int SkinRedClipLevel(int count) const;
  int SkinRedClipLevel(double share) const;

  // Skin areas with at least minPixels pixels.
  int CountSkinRegions(int minPixels) const;
  // The qualifying areas, in area order; returns their number (0: the
  // vectors are left empty).
  int GetSkinRegions(int minPixels, std::vector<Box>& boxes, std::vector<int>& pixelCounts) const;
  int GetSkinRegionsLum(int minPixels, std::vector<Box>& boxes, std::vector<int>& pixelCounts,
                        std::vector<float>& meanLuminances) const;
  // Only the areas whose mean luminance reaches the bright level of the
  // whole image (rangeShare of its luminance range, pixelShare of its pixels).
  int GetSkinRegionsBright(int minPixels, float rangeShare, float pixelShare,
                           std::vector<Box>& boxes, std::vector<int>& pixelCounts,
                           std::vector<float>& meanLuminances) const;
  // The area with the highest mean luminance; false when there is none.
  // bright: more than width * height * 0.0001 of the box's pixels have a
  // luminance of 249 or more.
  bool GetBrightestSkinRegion(Box& box, int& pixelCount, float& meanLuminance,
                              float& stdDevLuminance, bool& bright);

  // Frees everything; the map is uninitialised again.
  void Release() noexcept;

  int GetCameraType() const { return cameraType_; }
  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  int GetBitDepth() const { return bitDepth_; }
  // width * height bytes, row-major, or null.
  const uint8_t* GetSkinMask() const { return skinMask_.get(); }
  const uint8_t* GetLuminanceMap() const { return lumMap_.get(); }
  // -1 before ComputeStats, 0 when there is too little skin.
  int GetSkinAreaCount() const { return areaCount_; }
  uint32_t GetSkinPixelCountFromHistogram() const { return skinPixelCount_; }

 private:
  void InitializeChecked(const BitmapData* image, int cameraType, bool useMeanLuminance,
                         float lumFactor, float lumLow, float lumHigh);
  void BuildLuminance(const uint8_t* pixels, int stride);
  // The luminance histogram, counted from the luminance map on first use
  // (most callers never ask for it); null without a map.
  const uint32_t* LuminanceHistogram() const;
  // FindSkinMap writing each row's luminance to lum + y * lumStep.
  int FindSkin(const uint8_t* pixels, int stride, float meanLuminance, float lumFactor,
               float lumLow, float lumHigh, uint8_t* lum, std::size_t lumStep);
  void BuildSkinHistograms(const uint8_t* pixels, int stride);
  // The areas' mean luminances and deviations, computed on first use from
  // the cleaned mask.
  void ComputeMoments() const;
  int ClipLevel(const uint32_t* histogram, int64_t count, const char* where) const;
  int CollectRegions(int minPixels, float brightLevel, std::vector<Box>& boxes,
                     std::vector<int>& pixelCounts, std::vector<float>* means,
                     const char* where) const;

  int cameraType_ = 0;
  int width_ = 0;
  int height_ = 0;
  int bitDepth_ = 8;
  kelvo::memory::BlockArray<uint8_t> lumMap_;
  mutable kelvo::memory::BlockArray<uint32_t> lumHistogram_;
  kelvo::memory::BlockArray<uint8_t> skinMask_;
  // Set once ComputeStats has cleaned the mask: only then is there a skin
  // pixel count (skinPixelCount_, the set pixels of the cleaned mask).
  bool hasPixelCount_ = false;
  std::unique_ptr<Regions> regions_;
  int areaCount_ = -1;
  std::vector<Box> areaBoxes_;
  std::vector<int> areaPixelCounts_;
  mutable std::vector<float> areaMeans_;
  mutable std::vector<float> areaStdDevs_;
  mutable bool momentsDone_ = false;
  int brightestArea_ = -1;
  kelvo::memory::BlockArray<uint32_t> skinLumHistogram_;
  uint32_t skinPixelCount_ = 0;
  float skinMeanLuminance_ = 0.0f;
  kelvo::memory::BlockArray<uint32_t> skinRedHistogram_;
};

}  // namespace KelvoLibImageProcessing
