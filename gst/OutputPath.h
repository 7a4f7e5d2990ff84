#pragma once

// Checks that a still can be written to a path before anyone tries: the
// filter's writer ends the process when it cannot open its file, so every
// name is checked before it reaches the filter (and again just before the
// frame that writes it).

#include <string>

namespace kelvo::gst {

// True when `path` names a file that can be created or overwritten: its
// folder exists and is writable, and the path is not a folder or a read-only
// file. Otherwise false with a readable reason.
bool CheckOutputPath(const std::string& path, std::string* reason);

}  // namespace kelvo::gst
