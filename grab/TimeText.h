#pragma once

// Times as people type them: seconds ("12.5"), MM:SS[.mmm], HH:MM:SS[.mmm],
// or a frame number ("1500f"). Header-only, so that a command line can be
// parsed (and fuzzed) without the rest of the library.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kelvo::grab::detail {

// The latest time a still may be asked for, as kelvo::grab::kMaxSeconds.
inline constexpr double kLatest = static_cast<double>(INT64_MAX / 1'000'000'000);


inline bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

// Seconds as a decimal number: digits with at most one point, and an
// exponent if need be ("1e-3"); no sign, "inf", "nan" or hexadecimal, all of
// which strtod would take.
inline bool PlainSeconds(const std::string& text, double* v) {
  size_t i = 0;
  bool digit = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digit) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    bool exponent = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) exponent = true;
    if (!exponent) return false;
  }
  if (i != text.size()) return false;
  *v = std::strtod(text.c_str(), nullptr);  // an overflow is infinity, refused by the caller
  return true;
}

inline std::string Limit() {
  char limit[64];
  std::snprintf(limit, sizeof limit, "%.0f", kLatest);
  return std::string(limit) + " s, about 292 years";
}

inline bool ParseTimeText(const std::string& text, double* seconds, int64_t* frame, std::string* why) {
  const std::string quoted = "\"" + text + "\"";
  if (!text.empty() && text[0] == '-') {
    *why = quoted + " is negative; times count from the start of the video";
    return false;
  }
  if (text.size() > 1 && (text.back() == 'f' || text.back() == 'F')) {
    const std::string digits = text.substr(0, text.size() - 1);
    // Frame numbers up to the largest time at 1000 frames per second: far
    // beyond any file, and small enough for any arithmetic on them.
    if (!AllDigits(digits) || digits.size() > 15) {
      *why = quoted + " is not a frame number (digits then f, as in 1500f)";
      return false;
    }
    *frame = std::strtoll(digits.c_str(), nullptr, 10);
    *seconds = 0.0;
    return true;
  }
  // Up to two colons: [[HH:]MM:]SS[.mmm]. Minutes and seconds after a colon
  // are below 60, as a clock shows them.
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
    parts.push_back(text.substr(start, colon - start));
  parts.push_back(text.substr(start));
  const std::string form =
      quoted + " is not a time (seconds as 12.5, MM:SS[.mmm], HH:MM:SS[.mmm] or a frame as 1500f)";
  if (parts.size() > 3) {
    *why = form;
    return false;
  }
  double last = 0.0;
  if (!PlainSeconds(parts.back(), &last)) {
    *why = form;
    return false;
  }
  double total = 0.0;
  if (parts.size() > 1) {
    if (last >= 60.0 || parts.back().find('.') == 0 || parts.back().size() < 2 ||
        parts.back()[1] == '.') {
      // "1:5" or "1:.5" or "1:75" is more likely a slip than a time.
      *why = form;
      return false;
    }
    const std::string& minutes = parts[parts.size() - 2];
    if (!AllDigits(minutes) || minutes.size() > 12 ||
        (parts.size() == 3 && (minutes.size() != 2 || minutes[0] >= '6'))) {
      *why = form;
      return false;
    }
    total += 60.0 * std::strtod(minutes.c_str(), nullptr);
    if (parts.size() == 3) {
      if (!AllDigits(parts[0]) || parts[0].size() > 10) {
        *why = form;
        return false;
      }
      total += 3600.0 * std::strtod(parts[0].c_str(), nullptr);
    }
  }
  total += last;
  if (!(total <= kLatest)) {
    *why = quoted + " lies beyond the latest time a video can have (" + Limit() + ")";
    return false;
  }
  *seconds = total;
  *frame = -1;
  return true;
}

}  // namespace kelvo::grab::detail
