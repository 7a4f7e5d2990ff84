#pragma once

// The Kelvo image library, namespace KelvoLibImageProcessing.
//
// Common principles:
//  - Images are BitmapData containers (formats 0: 8-bit grey, 1: 16-bit grey,
//    2: 8-bit blue-green-red, 3: 16-bit blue-green-red, 12-bit samples).
//  - Every failure throws IPException; GetCode() gives the numbered error and
//    what() the message followed by the failing method.
//  - Whole-image operations check, in this order: images present, equal pixel
//    formats, equal dimensions, buffers present.
//  - Objects are not shared between threads; separate objects may be used on
//    separate threads at once.
//  - Heavy operations split an image into bands of rows on kelvo::Threads()
//    threads (kelvo::SetThreads sets the count); results are the same for
//    every count.

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/core/UtilitiesGeneral.h"

#include "imaging/analysis/Histogram.h"
#include "imaging/analysis/OpContrastStretch.h"
#include "imaging/analysis/Regions.h"
#include "imaging/analysis/SkinMap.h"
#include "imaging/analysis/SumAreaTable.h"
#include "imaging/analysis/SumValueTable.h"

#include "imaging/denoise/IntelFilters.h"
#include "imaging/denoise/OpExtendBorder.h"
#include "imaging/denoise/OpImg16to8bit.h"
#include "imaging/denoise/OpReduceNoiseWavelets.h"
#include "imaging/denoise/UtilitiesFloat.h"
#include "imaging/denoise/Wavelets.h"

#include "imaging/filters/OpBlend.h"
#include "imaging/filters/OpConvertRGBtoYCbCr.h"
#include "imaging/filters/OpConvertYCbCrtoRGB.h"
#include "imaging/filters/OpConvolve.h"
#include "imaging/filters/OpFilterGaussian.h"
#include "imaging/filters/OpSharpen.h"

#include "imaging/pipeline/PipelineSnapshot.h"

#include "imaging/primitives/BlockCache.h"
#include "imaging/primitives/Threads.h"
#include "imaging/pipeline/RunSnapshotPipeline.h"
#include "imaging/pipeline/EnhanceAnySize.h"
