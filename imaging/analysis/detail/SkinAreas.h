#pragma once

#include <cstddef>
#include <cstdint>

namespace KelvoLibImageProcessing {
class Regions;
}

namespace KelvoLibImageProcessing::detail {

// The pixel loops of the skin map's area statistics and histograms. Each
// gives exactly what the plain per-pixel loop of reference/SkinAreasReference
// gives (over the label map the runs stand for); these are written so that
// the compiler keeps them on byte vectors, pass over the long runs of
// non-skin bytes of a frame eight at a time, and visit labelled regions run
// by run.
//
// Planes are width bytes (or labels) a row, without padding; a box has
// inclusive corners inside the plane.

struct AreaBox {
  int x0, y0, x1, y1;
};

// Rewrites the whole mask (the regions' width x height) from the runs of
// `regions` (Regions::InitializeRuns): 255 for a pixel whose label L is
// chosen (chosen[L] != 0) and that lies inside boxes[L], 0 for every other
// pixel. chosen and boxes have an entry for every kept region. The mask
// must hold the labelled values themselves wherever they were 0 or 255
// (typically it is the mask the regions were found in, which may be the one
// rewritten): unless the labelling had specks, bytes that already hold what
// would be written are not written. Rows go in bands on the library's
// threads.
void PaintChosen(const Regions& regions, const uint8_t* chosen, const AreaBox* boxes,
                 uint8_t* mask);

// The highest luminance of the box's pixels whose mask byte is set; 0 when
// there is none.
uint8_t MaxMaskedLuminance(const uint8_t* mask, const uint8_t* lum, int width, AreaBox box);

// mask[i] = 255 for every pixel of the box whose label is `label` and whose
// luminance is at least minLum; other bytes keep their value.
void FillLabelFrom(const Regions& regions, const uint8_t* lum, int width, AreaBox box,
                   int32_t label, int minLum, uint8_t* mask);

// Count, float sum and float sum of squares of the luminances of the box's
// set pixels, added one by one in row order. scratch holds at least
// box.x1 - box.x0 + 1 floats.
struct LumMoments {
  int count = 0;
  float sum = 0.0f;
  float sumSquares = 0.0f;
};
LumMoments MaskedLuminanceMoments(const uint8_t* mask, const uint8_t* lum, int width, AreaBox box,
                                  float* scratch);

// Asks the cache for the B, G, R bytes of `pixels` (and, when lum is not
// null, the bytes of lum) under every group of 64 mask bytes of the row that
// holds a set byte. The loops that visit only marked pixels skip most of a
// frame, so the hardware never sees a stream to fetch ahead; one row of
// notice hides the memory latency. Reads nothing but the mask.
void PrefetchMarked(const uint8_t* mask, int width, const uint8_t* pixels, const uint8_t* lum);

// Histograms of the luminance and of the red sample (byte 2 of each B, G, R
// pixel of `pixels`, rows strideBytes apart) of the set pixels of the mask;
// lumHistogram and redHistogram receive 256 counts each. Returns the
// number of set pixels and adds their luminances to lumSum.
uint32_t SkinHistograms(const uint8_t* mask, const uint8_t* lum, const uint8_t* pixels,
                        std::ptrdiff_t strideBytes, int width, int height, uint32_t* lumHistogram,
                        uint32_t* redHistogram, uint64_t& lumSum);

}  // namespace KelvoLibImageProcessing::detail
