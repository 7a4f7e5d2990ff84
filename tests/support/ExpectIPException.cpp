#include "tests/support/ExpectIPException.h"

#include "imaging/core/IPException.h"

namespace kelvo::test {

using KelvoLibImageProcessing::IPException;

::testing::AssertionResult ThrowsIPException(const std::function<void()>& body, int code,
                                             const std::string& text) {
  const std::string expected =
      text.rfind("IPException: ", 0) == 0 ? text : IPException::Message(code) + text;
  try {
    body();
  } catch (const IPException& e) {
    if (e.GetCode() == code && expected == e.what()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threw code " << e.GetCode() << " \"" << e.what()
                                         << "\", expected code " << code << " \"" << expected
                                         << "\"";
  } catch (...) {
    return ::testing::AssertionFailure() << "threw something other than IPException, expected \""
                                         << expected << "\"";
  }
  return ::testing::AssertionFailure() << "did not throw, expected \"" << expected << "\"";
}

int CodeOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const IPException& e) {
    return e.GetCode();
  } catch (...) {
    return -2;
  }
  return -1;
}

}  // namespace kelvo::test
