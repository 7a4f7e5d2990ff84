#pragma once

// The checks made on the files of a grab before anything is decoded, so
// that a run that cannot succeed fails at once, and no run loses data:
//  - the input must be an existing regular file: a named pipe or a device
//    would block the decoder or never end;
//  - a still's file must not exist as anything but a regular file once
//    links are followed (a folder, a named pipe, /dev/full): writing there
//    would block, or vanish, or fail only after the whole decode;
//  - no still may be the input itself (same device and inode, however
//    spelt), which would replace the video with a picture;
//  - no two stills may reach one file, however spelt (a.jpg, ./a.jpg,
//    sub/../a.jpg, a link to it), or the first would silently be replaced;
//  - the frame grabber must be able to hold each still's name (UTF-8, and
//    short enough in UTF-16 for its buffers);
//  - the folder of each still must exist and be writable.

#include <filesystem>
#include <string>
#include <vector>

#include "kelvo/grab.h"

namespace kelvo::grab::detail {

// Why the frame grabber cannot hold `still`'s file name (not UTF-8, or more
// UTF-16 units than its buffer for the main still or a request takes);
// empty when it can.
std::string CheckStillName(const Request& still);

// Throws Error for the first failed check: Kind::Input for the input,
// Kind::Arguments for a still that can never be written where asked,
// Kind::Output for a folder that is missing or not writable. Requests
// without a file (pixels only) are not checked.
void CheckFiles(const std::string& input, const std::vector<Request>& stills);

// The file a name reaches: absolute, links followed one by one (a dangling
// link names the file it would create), the folder made canonical. Two names
// with one identity write one file, whether or not it exists yet.
std::filesystem::path FileIdentity(const std::filesystem::path& name);

}  // namespace kelvo::grab::detail
