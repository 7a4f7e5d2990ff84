#pragma once

// kelvo-enhance's report: one JSON object per image, on one line (JSON
// Lines), so a run over a thousand photos can be read a line at a time
// and a single image's report is the same object as a batch's.

#include <string>

#include "imaging/pipeline/PipelineSnapshot.h"

namespace kelvo::enhance {

// {"input": ..., "output": ..., the quantities the pipeline measured and
// decided, "stageMs": {...}} with a newline; report null for an image that
// was not enhanced, which then carries "error" instead.
std::string ReportLine(const std::string& input, const std::string& output,
                       const KelvoLibImageProcessing::PipelineSnapshot::Report* report,
                       const std::string& error);

// text as a JSON string, quotes included.
std::string JsonString(const std::string& text);

}  // namespace kelvo::enhance
