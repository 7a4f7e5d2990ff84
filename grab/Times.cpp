// Times as people type them, the interval helper and still names.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "grab/TimeText.h"
#include "kelvo/grab.h"

namespace kelvo::grab {

static_assert(kMaxSeconds == detail::kLatest);

bool ParseTime(const std::string& text, double* seconds, int64_t* frame, std::string* why) {
  return detail::ParseTimeText(text, seconds, frame, why);
}

std::vector<double> EveryTimes(double every, double from, double to) {
  std::vector<double> times;
  if (!(every > 0.0) || !(from >= 0.0) || !(to >= from) || !(to <= kMaxSeconds)) return times;
  // Each time from its index, not by adding up: a sum drifts, and the last
  // time must be `to` itself when the steps reach it. A millionth of a step
  // of slack keeps 0.1 * 30 from falling short of 3.
  const double steps = std::floor((to - from) / every + 1e-6);
  if (steps > 1e8) return times;  // more stills than any run could hold
  for (int64_t i = 0; i <= static_cast<int64_t>(steps); ++i)
    times.push_back(std::min(to, from + static_cast<double>(i) * every));
  return times;
}

std::string StillName(const std::string& pattern, int64_t index, double time,
                      const std::string& input) {
  std::string name;
  std::string base = input;
  const size_t slash = base.find_last_of('/');
  if (slash != std::string::npos) base = base.substr(slash + 1);
  const size_t dot = base.find_last_of('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '{' && pattern.compare(i, 6, "{name}") == 0) {
      name += base;
      i += 5;
      continue;
    }
    if (c != '%' || i + 1 >= pattern.size()) {
      name += c;
      continue;
    }
    size_t j = i + 1;
    if (pattern[j] == '%') {
      name += '%';
      i = j;
    } else if (pattern[j] == 't') {
      char text[48];
      std::snprintf(text, sizeof text, "%.3f", time);
      name += text;
      i = j;
    } else {
      int width = 0;
      const bool zero = pattern[j] == '0';
      while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100)
        width = width * 10 + (pattern[j++] - '0');
      if (j < pattern.size() && pattern[j] == 'd' && width <= 20) {
        std::string digits = std::to_string(index);
        if (digits.size() < static_cast<size_t>(width))
          digits.insert(0, static_cast<size_t>(width) - digits.size(), zero ? '0' : ' ');
        name += digits;
        i = j;
      } else {
        name += c;  // not a field: kept as written
      }
    }
  }
  return name;
}

}  // namespace kelvo::grab
