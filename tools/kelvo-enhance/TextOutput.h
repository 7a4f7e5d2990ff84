#pragma once

// kelvo-enhance's writer of its report. The enhanced images themselves go
// through the hosts' shared writer (host/ImageFormat.h), which keeps the
// system's reason for a failure, as the report must.

#include <string>

namespace kelvo::enhance {

// Writes text to file, or to standard output when file is "-". Empty on
// success, else the reason. Standard output is flushed and checked, so a
// closed or full standard output is a failure, not a silent loss.
std::string WriteText(const std::string& text, const std::string& file);

}  // namespace kelvo::enhance
