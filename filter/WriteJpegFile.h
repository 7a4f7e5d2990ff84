#pragma once

// Writes a still as a baseline JPEG of quality 88. The pixels are width x
// height blue-green-red triples, rows of exactly 3 * width bytes, top row
// first.
//
// The file is written beside its target and renamed over it when complete,
// so a still that cannot be written (a folder gone, a full disk, a named pipe
// where the file should be) leaves the target as it was. The failure is
// returned, never fatal: the filter is a guest in its host's process, and a
// lost still must not end the host.

#include <cstdint>
#include <string>

#include "platform/Windows.h"

// Empty on success, else why the still was not written, naming the file.
std::string WriteJpegFile(LPCWSTR fileName, int width, int height, const uint8_t* pixels);
