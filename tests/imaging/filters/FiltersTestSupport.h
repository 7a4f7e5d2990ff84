#pragma once

// Helpers shared by the filter suites: deterministic pixel data, exception
// matching and a loop over every compiled SIMD target.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/core/IPException.h"
#include "tests/imaging/primitives/TargetLoop.h"
#include "tests/support/ExpectIPException.h"

namespace KelvoLibImageProcessing::testing_support {

// Small linear congruential generator: the same bytes on every machine.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }

 private:
  uint32_t state_;
};

template <typename T>
std::vector<T> RandomSamples(std::size_t count, uint32_t maximum, uint32_t seed) {
  Lcg lcg(seed);
  std::vector<T> v(count);
  for (T& s : v) s = static_cast<T>(lcg.Next() % (maximum + 1));
  return v;
}

using kelvo::test::ExpectIPException;

using kelvo::testing::ForEachTarget;

}  // namespace KelvoLibImageProcessing::testing_support
