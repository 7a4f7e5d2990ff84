#pragma once

// Checks that a still can be written to a path before anyone tries.
//
// The element itself checks with kelvo::io::CheckOutputTarget, which also
// refuses pipes and devices; this older check stays only for framegrab until
// it moves to that one, and will then go.

#include <string>

namespace kelvo::gst {

// True when `path` names a file that can be created or overwritten: its
// folder exists and is writable, and the path is not a folder or a read-only
// file. Otherwise false with a readable reason.
bool CheckOutputPath(const std::string& path, std::string* reason);

}  // namespace kelvo::gst
