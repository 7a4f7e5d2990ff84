#pragma once

// Writes a still as a baseline JPEG of quality 88. The pixels are width x
// height blue-green-red triples, rows of exactly 3 * width bytes, top row
// first. A file that cannot be opened is fatal: the line "can't open <name>"
// goes to standard error and the process exits with status 1.

#include <cstdint>

#include "platform/Windows.h"

void WriteJpegFile(LPCWSTR fileName, int width, int height, const uint8_t* pixels);
