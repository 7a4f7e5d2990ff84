#include "imaging/pipeline/EnhanceAnySize.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "imaging/core/BitmapData.h"
#include "imaging/core/IPException.h"
#include "imaging/pipeline/detail/MirrorPad.h"

namespace KelvoLibImageProcessing {
namespace {

constexpr const char* kWhere = "EnhanceAnySize";

// The widest side whose rows of 3-byte pixels still have a 32-bit stride,
// rounded down to the pipeline's step.
constexpr int kMaxSide = (INT_MAX / 3) / kPipelineSideStep * kPipelineSideStep;

void Configure(PipelineSnapshot& pipeline, const EnhanceOptions& options) {
  pipeline.SetDoSkin(options.doSkin);
  pipeline.SetDoNoise(options.doNoise);
  pipeline.SetDoLStretch(options.doLStretch);
  pipeline.SetDoSharp(options.doSharp);
  pipeline.SetGammaLimit(options.gammaLimit);
}

// Pads the image into a work image of the pipeline's size, enhances it there
// and leaves the result in the work image's top-left corner.
PipelineSnapshot::Report EnhancePadded(int width, int height, const uint8_t* pixels, int stride,
                                       const EnhanceOptions& options, BitmapData& work) {
  const int paddedWidth = PipelineSide(width);
  const int paddedHeight = PipelineSide(height);
  if (paddedWidth == 0 || paddedHeight == 0)
    throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  work.Initialize(paddedWidth, paddedHeight, kFormatBGR8, nullptr, 3 * paddedWidth);
  detail::MirrorPadBGR(pixels, width, height, stride, work.GetData(), paddedWidth, paddedHeight,
                       work.GetStride());
  PipelineSnapshot pipeline(paddedWidth, paddedHeight, kFormatBGR8);
  Configure(pipeline, options);
  pipeline.Execute(&work, &work);
  return pipeline.GetReport();
}

void CopyRows(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int width,
              int height) noexcept {
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y) {
    std::memcpy(to + static_cast<std::ptrdiff_t>(y) * toStride,
                from + static_cast<std::ptrdiff_t>(y) * fromStride, rowBytes);
  }
}

}  // namespace

bool IsPipelineSize(int width, int height) noexcept {
  return width >= kPipelineMinSide && height >= kPipelineMinSide &&
         width % kPipelineSideStep == 0 && height % kPipelineSideStep == 0;
}

int PipelineSide(int side) noexcept {
  if (side < 1 || side > kMaxSide) return 0;
  if (side <= kPipelineMinSide) return kPipelineMinSide;
  return (side + kPipelineSideStep - 1) / kPipelineSideStep * kPipelineSideStep;
}

std::size_t EnhanceWorkBytes(int width, int height) noexcept {
  // Measured at 1920 x 1080 with every stage on, the stages' blocks cut
  // from one block made ready beforehand (each stage reusing what the ones
  // before it freed; the noise reduction's planes are the peak): 31 MB,
  // 15 bytes a pixel.
  constexpr std::size_t kBytesPerPixel = 16;
  const int w = PipelineSide(width);
  const int h = PipelineSide(height);
  if (w == 0 || h == 0) return 0;
  return kBytesPerPixel * static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

PipelineSnapshot::Report EnhanceAnySize(const BitmapData& input, BitmapData& output,
                                        const EnhanceOptions& options) {
  if (input.GetData() == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (input.GetFormat() != kFormatBGR8) throw IPException(ErrorCode::kUnsupportedFormat, kWhere);
  const int width = input.GetWidth();
  const int height = input.GetHeight();
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);

  if (IsPipelineSize(width, height)) {
    if (&output != &input && (output.GetData() == nullptr || output.GetFormat() != kFormatBGR8 ||
                              output.GetWidth() != width || output.GetHeight() != height)) {
      output.Initialize(width, height, kFormatBGR8, nullptr, 3 * width);
    }
    PipelineSnapshot pipeline(width, height, kFormatBGR8);
    Configure(pipeline, options);
    pipeline.Execute(&input, &output);
    return pipeline.GetReport();
  }

  BitmapData work;
  const PipelineSnapshot::Report report =
      EnhancePadded(width, height, input.GetData(), input.GetStride(), options, work);
  if (&output != &input && (output.GetData() == nullptr || output.GetFormat() != kFormatBGR8 ||
                            output.GetWidth() != width || output.GetHeight() != height)) {
    output.Initialize(width, height, kFormatBGR8, nullptr, 3 * width);
  }
  CopyRows(work.GetData(), work.GetStride(), output.GetData(), output.GetStride(), width, height);
  return report;
}

PipelineSnapshot::Report EnhanceAnySize(int width, int height, const uint8_t* pixels, int stride,
                                        uint8_t* enhanced, int enhancedStride,
                                        const EnhanceOptions& options) {
  if (pixels == nullptr || enhanced == nullptr) throw IPException(ErrorCode::kNullData, kWhere);
  if (width < 1 || height < 1) throw IPException(ErrorCode::kInvalidDimensions, kWhere);
  if (width > kMaxSide || stride < 3 * width || enhancedStride < 3 * width) {
    throw IPException(width > kMaxSide ? ErrorCode::kInvalidDimensions : ErrorCode::kInvalidStride,
                      kWhere);
  }

  BitmapData work;
  PipelineSnapshot::Report report;
  if (IsPipelineSize(width, height)) {
    work.Initialize(width, height, kFormatBGR8, nullptr, 3 * width);
    CopyRows(pixels, stride, work.GetData(), work.GetStride(), width, height);
    PipelineSnapshot pipeline(width, height, kFormatBGR8);
    Configure(pipeline, options);
    pipeline.Execute(&work, &work);
    report = pipeline.GetReport();
  } else {
    report = EnhancePadded(width, height, pixels, stride, options, work);
  }
  CopyRows(work.GetData(), work.GetStride(), enhanced, enhancedStride, width, height);
  return report;
}

}  // namespace KelvoLibImageProcessing
