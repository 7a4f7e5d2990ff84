#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "imaging/primitives/BlockCache.h"

namespace KelvoLibImageProcessing {

class OpExtendBorder;

// A multi-level two-dimensional wavelet decomposition of one channel of float
// samples (a multi-resolution pyramid) and its reconstruction.
//
// Level k (0 = finest) transforms an input of w_k x h_k samples into four
// bands of bw_k = (w_k + 1) / 2 by bh_k = (h_k + 1) / 2 samples: the
// approximation, detail X (highpass along rows), detail Y (highpass along
// columns) and detail XY. Each band is a dense float array with row step
// bw_k * 4 bytes; level k + 1 transforms the approximation of level k.
//
// Before the first level the image is extended by `margin` samples on every
// side (with the padding method), and before each level its input is
// extended again by `borderBase` samples, so every level sees real data
// around it. Level 0 therefore has the size (W + 2 margin) x (H + 2 margin).
// An odd level input gets its last column or row duplicated.
//
// Lifecycle: Initialize (optionally SetWaveletsParams), Decompose once, edit
// the detail bands in place through GetMRAPyramid, Reconstruct. The
// reconstruction overwrites the approximation bands of levels 0 .. levels-2.
//
// Every failure throws IPException; the object keeps the state it reached.
class Wavelets {
 public:
  // Symlet 4 (type 12), 4 levels, mirror padding.
  Wavelets();
  // The arguments follow the names of the settings, padding
  // method first as the object stores it last.
  Wavelets(int paddingMethod, int levels, int waveletType);
  ~Wavelets();

  Wavelets(const Wavelets&) = delete;
  Wavelets& operator=(const Wavelets&) = delete;

  // Chooses a built-in filter bank (types 0-4, 10-13, 20, 21, 30-36, 40-46)
  // and prepares the pyramid bookkeeping; a previous pyramid is released.
  // Code 26 for levels <= 0 ("invalid number of levels";
  // also for more than 20 levels, whose margin would not fit the sizes) and
  // for an unknown type.
  void Initialize(int waveletType, int levels, int paddingMethod);

  // Replaces the filter bank by copies of caller-supplied taps (type 100).
  // Code 5 for a null tap array; code 11 unless length >= 2, both anchors in
  // 0 .. length-1 and borderBase >= 0 (also when the margin
  // borderBase * 2^(levels-1) would exceed 2^24 samples).
  void SetWaveletsParams(int borderBase, const float* fwdLow, const float* fwdHigh,
                         const float* invLow, const float* invHigh, int length, int anchorFwd,
                         int anchorInv);

  // Bands with a frame: every band keeps borderBase samples around it (and
  // one spare column and row), so that both the next analysis level and the
  // synthesis extend it where it lies instead of copying it out first. Band
  // rows are then GetBandStep(level) bytes apart instead of bw_k * 4, and the
  // frames are overwritten by Decompose and Reconstruct. Set before
  // Decompose; Initialize switches it off.
  void SetFramedBands(bool framed);
  bool HasFramedBands() const noexcept { return framedBands_; }
  // Row step in bytes of the bands of a level (0 before Decompose).
  int GetBandStep(int level) const noexcept;

  // For bands that only ReconstructSamples (or Reconstruct) will read, with
  // no edit through GetMRAPyramid: Decompose then computes only the band
  // samples that the reconstruction of the width x height interior reads
  // (directly or through a coarser level), when it can tell them for these
  // sizes and the bands are framed; the other samples of the bands are left
  // undefined. The reconstruction is the same as with every sample
  // computed. Set before Decompose; Initialize switches it off.
  void SetOnlyReadBands(bool only);
  // Whether the last Decompose left out band samples, as above.
  bool LeftOutUnreadBands() const noexcept { return leftOut_; }

  // Shrinks the detail bands while Decompose computes them, as the edit of
  // ReconstructSamples would with ThresholdCoefficients' rule: thresholds
  // holds levels x 3 floats (level-major, finest first; X, Y, XY), copied.
  // The bands then hold the shrunk coefficients, and no separate pass over
  // them is needed. Set before Decompose; null (or Initialize) switches it
  // off.
  void SetDetailShrink(const float* thresholds, bool soft);

  // source: width x height floats, stride in bytes. Once per object. The
  // sample forms take 8-bit or 16-bit samples, exactly as their float
  // values.
  void Decompose(const float* source, int stride, int width, int height);
  void DecomposeSamples(const uint8_t* source, int stride, int width, int height);
  void DecomposeSamples(const uint16_t* source, int stride, int width, int height);

  // The 4 * levels band pointers (approx, X, Y, XY per level) and, through
  // the non-null out arguments, the level input sizes w_k and h_k. The
  // object keeps ownership.
  float** GetMRAPyramid(int** widths, int** heights);

  // Writes the width x height reconstruction; destination may be the buffer
  // that was decomposed.
  void Reconstruct(float* destination, int stride, int width, int height);
  // The reconstruction rounded to samples: v >= the largest sample value
  // (255 or 4095) gives that value, v < 0 gives 0, others floor(v + 0.5).
  void ReconstructSamples(uint8_t* destination, int stride, int width, int height);
  void ReconstructSamples(uint16_t* destination, int stride, int width, int height);

  // An edit of one row of a detail band: level, band (1 X, 2 Y, 3 XY), and
  // the part of the row the synthesis reads (all bw_k samples, or fewer).
  using RowEdit = std::function<void(int level, int band, float* row, int count)>;
  // As ReconstructSamples, with the detail bands edited on the way: `edit`
  // is called once for every detail row the synthesis reads, before it is
  // read, and where the synthesis works a block of rows at a time, just
  // before that block, so the row is edited while it is in the cache (on
  // several threads the finest level's rows are all edited first, in
  // parallel: `edit` may then run on different rows at once). The result
  // is that of editing every detail row first, since rows nobody reads do
  // not count.
  void ReconstructSamples(uint8_t* destination, int stride, int width, int height,
                          const RowEdit& edit);
  void ReconstructSamples(uint16_t* destination, int stride, int width, int height,
                          const RowEdit& edit);

  // Told that destination rows y0 .. y0 + rows - 1 are final: once for
  // every row, in blocks that may come from several threads at once, so
  // the caller can use the rows while they are in the cache.
  using RowsDone = std::function<void(int y0, int rows)>;
  // As ReconstructSamples with an edit (which may be empty), and `done` for
  // every block of finished rows.
  void ReconstructSamples(uint8_t* destination, int stride, int width, int height,
                          const RowEdit& edit, const RowsDone& done);
  void ReconstructSamples(uint16_t* destination, int stride, int width, int height,
                          const RowEdit& edit, const RowsDone& done);

  // As ReconstructSamples with `done`, but the rows are handed over as the
  // floats that would be rounded to samples, and nothing is written: rows
  // y0 .. y0 + rows - 1 (width floats each, step bytes apart) lie at data
  // during the call. For a caller that converts them further while they are
  // in the cache. scratch holds rows x scratchPerRow bytes for the call's own
  // use, not shared with a call running at the same time; the same memory
  // serves the following calls of the same band while it is in the cache.
  using FloatRowsDone =
      std::function<void(int y0, int rows, const float* data, int step, uint8_t* scratch)>;
  void ReconstructRows(int width, int height, const FloatRowsDone& done, int scratchPerRow = 0);

  int GetLevels() const noexcept { return levels_; }
  int GetWaveletType() const noexcept { return waveletType_; }
  int GetTapLength() const noexcept { return tapLength_; }
  int GetBorderBase() const noexcept { return borderBase_; }
  int GetMargin() const noexcept { return margin_; }
  bool IsDecomposed() const noexcept { return decomposed_; }

 private:
  void ReleasePyramid() noexcept;
  template <class T>
  void DecomposeImpl(const T* source, int stride, int width, int height);
  template <class T>
  void ReconstructImpl(T* destination, int stride, int width, int height, const RowEdit* edit,
                       const RowsDone* done = nullptr, const FloatRowsDone* floats = nullptr,
                       int scratchPerRow = 0);
  void ReleaseOwnedTaps() noexcept;

  int levels_ = 0;
  int waveletType_ = 0;
  bool decomposed_ = false;
  kelvo::memory::BlockArray<float*> bands_;
  kelvo::memory::BlockArray<int> levelWidths_;
  kelvo::memory::BlockArray<int> levelHeights_;
  const float* tapsFwdLow_ = nullptr;
  const float* tapsFwdHigh_ = nullptr;
  const float* tapsInvLow_ = nullptr;
  const float* tapsInvHigh_ = nullptr;
  int tapLength_ = 0;
  int anchorFwd_ = 0;
  int anchorInv_ = 0;
  int borderBase_ = 0;
  int margin_ = 0;
  std::unique_ptr<OpExtendBorder> extender_;
  int paddingMethod_ = 0;
  kelvo::memory::BlockArray<float> pyramid_;  // one block holding every band
  kelvo::memory::BlockArray<int> bandSteps_;  // bytes, per level
  bool framedBands_ = false;
  kelvo::memory::BlockArray<float> ownedTaps_;  // the four arrays of type 100, one block
  kelvo::memory::BlockArray<float> shrink_;     // levels x 3 thresholds, or null
  bool shrinkSoft_ = false;
  bool onlyRead_ = false;
  bool leftOut_ = false;
};

}  // namespace KelvoLibImageProcessing
