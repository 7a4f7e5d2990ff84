#pragma once

// What framegrab says about each still: the human line, the JSON object of
// --json, and the exit status it calls for.

#include <string>

#include "kelvo/grab.h"

namespace kelvo::framegrab {

// The process exit status, as the usage text documents it. When several
// apply, the most severe wins: usage, input, output, not written, damaged.
enum ExitCode {
  kExitOk = 0,
  kExitInput = 1,
  kExitUsage = 2,
  kExitOutput = 3,
  kExitNotWritten = 4,
  kExitDamaged = 5
};

// The more severe of two exit statuses.
int WorseExit(int a, int b);

// The status one still calls for.
int StillStatus(const kelvo::grab::Still& still);

// `file` with every {name} replaced by the input's base name without its
// extension.
std::string NameFor(const std::string& file, const std::string& input);

// "FILE: requested 1.000 s, frame at 1.040 s (notes)".
std::string HumanLine(const kelvo::grab::Still& still, bool sharpest);

// Why a still was not written, naming it.
std::string FailureLine(const kelvo::grab::Still& still);

// One JSON object, on one line.
std::string JsonLine(const std::string& input, const kelvo::grab::Still& still, bool sharpest);

// A JSON string literal: quotes, backslashes and control characters escaped,
// bytes that are not UTF-8 replaced by U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace kelvo::framegrab
