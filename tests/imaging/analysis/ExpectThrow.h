#pragma once

#include <gtest/gtest.h>

#include <string>

#include "imaging/core/IPException.h"

namespace KelvoLibImageProcessing::testing {

// Runs f and checks that it throws IPException with the given code and a text
// ending in the given where-string.
template <class F>
::testing::AssertionResult Throws(F&& f, int code, const std::string& where) {
  try {
    f();
  } catch (const IPException& e) {
    const std::string text = e.what();
    const std::string expected = std::string(IPException::Message(code)) + where;
    if (e.GetCode() != code || text != expected) {
      return ::testing::AssertionFailure()
             << "threw code " << e.GetCode() << " \"" << text << "\", expected code " << code
             << " \"" << expected << "\"";
    }
    return ::testing::AssertionSuccess();
  } catch (...) {
    return ::testing::AssertionFailure() << "threw something other than IPException";
  }
  return ::testing::AssertionFailure() << "did not throw";
}

}  // namespace KelvoLibImageProcessing::testing
