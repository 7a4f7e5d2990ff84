#pragma once

// kelvo-enhance's writer of the enhanced image and of its report.
//
// BitmapData::Save is safe but says only that a write failed; a user whose
// photo was not written wants to know why (disk full, file too large, no
// permission). So the tool writes through kelvo::io itself, which keeps the
// system's reason: the same bytes Save would write (JPEG quality 95; a BMP
// of the container's rows as they are), to a temporary file beside the
// target renamed over it when complete. A failure leaves the target as it
// was, so an in-place run (INPUT and OUTPUT one file) can never leave a
// truncated photo behind.

#include <string>

#include "imaging/core/BitmapData.h"

namespace kelvo::enhance {

// Writes image (pixel format 2) to file as fileType (kFileBmp or kFileJpg).
// Empty on success, else the reason, naming the file.
std::string WriteImage(const KelvoLibImageProcessing::BitmapData& image, const std::string& file,
                       int fileType);

// Writes text to file, or to standard output when file is "-". Empty on
// success, else the reason. Standard output is flushed and checked, so a
// closed or full standard output is a failure, not a silent loss.
std::string WriteText(const std::string& text, const std::string& file);

}  // namespace kelvo::enhance
